#pragma once

// Single owners of Win32 handles: each releases its handle when it ends.

#include <windows.h>

#include <memory>
#include <type_traits>

// A kernel handle (file, process, thread), closed with CloseHandle.
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Memory the system allocated with LocalAlloc for the caller (a security
// descriptor built from its text, say), freed with LocalFree.
struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

// A GDI object (bitmap, font, pen, brush), deleted with DeleteObject.
struct GdiObjectDeleter {
  void operator()(void* object) const { DeleteObject(static_cast<HGDIOBJ>(object)); }
};
using GdiObject = std::unique_ptr<void, GdiObjectDeleter>;

// A memory device context, deleted with DeleteDC.
struct MemoryDcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

// A global memory block, freed with GlobalFree unless released to a new owner.
struct GlobalBlockFreer {
  void operator()(void* block) const { GlobalFree(static_cast<HGLOBAL>(block)); }
};
using GlobalBlock = std::unique_ptr<void, GlobalBlockFreer>;

// An object selected into a context for the holder's lifetime; the previous
// selection comes back when it ends. Declared after the object's owner, so the
// object is deselected before it is deleted.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object)
      : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  ~Selection() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};
