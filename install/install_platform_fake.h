#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "install/install_platform.h"

// A scripted platform for the native tests: it answers from FakePlatform()
// and appends one line per call to its `calls`, in order.
struct FakeRegistryKey {
  bool opens = true;
  std::optional<std::vector<unsigned char>> pv;  // nullopt: no "pv" value
};

struct FakePlatformState {
  std::uint16_t major = 10, minor = 0, servicePack = 0;
  std::map<std::pair<RegistryRoot, std::wstring>, FakeRegistryKey> keys;
  bool downloadSucceeds = true;
  bool startSucceeds = true;
  bool answerOk = false;
  std::vector<std::string> calls;         // e.g. "OpenRegistryKey HKLM", "HideWindow"
  std::vector<std::wstring> browserUrls;  // every URL handed to OpenInBrowser
  std::vector<std::wstring> boxTexts;
  std::vector<std::wstring> boxCaptions;
  std::string downloadUrl, downloadSaveName, downloadErrorOnEntry;
  bool downloadHadProgress = false;
  std::wstring startedName, deletedName;
  WindowHandle hiddenWindow = nullptr, closedWindow = nullptr, boxOwner = nullptr;
  int openKeys = 0;  // opened minus closed
  int openHandles = 0;
};

FakePlatformState& FakePlatform();
void ResetFakePlatform();
// The "pv" bytes of a UTF-16 text with its terminating zero, as REG_SZ holds it.
std::vector<unsigned char> PvBytes(const std::u16string& text, bool terminate = true);
