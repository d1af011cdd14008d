#pragma once

// The main window's handle as portable code sees it: opaque, a type of its
// own, turned back into an HWND only by the Windows layer.
struct WindowHandleTag;
using WindowHandle = WindowHandleTag*;
