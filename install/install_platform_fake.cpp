#include "install/install_platform_fake.h"

#include <cstring>

#include "install/download_channel.h"
#include "install/install_worker.h"
#include "net/download.h"

namespace {

FakePlatformState& State() {
  static FakePlatformState state;
  return state;
}

const char* RootName(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? "HKLM" : "HKCU";
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

int gProcessToken, gThreadToken;

}  // namespace

FakePlatformState& FakePlatform() { return State(); }
void ResetFakePlatform() { State() = FakePlatformState{}; }

std::vector<unsigned char> PvBytes(const std::u16string& text, bool terminate) {
  std::vector<unsigned char> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<unsigned char>(c & 0xff));
    bytes.push_back(static_cast<unsigned char>(c >> 8));
  }
  if (terminate) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

bool IsOsVersionAtLeast(std::uint16_t major, std::uint16_t minor, std::uint16_t servicePackMajor) {
  auto& s = State();
  s.calls.push_back("IsOsVersionAtLeast " + std::to_string(major) + "." + std::to_string(minor) +
                    "." + std::to_string(servicePackMajor));
  if (s.major != major) return s.major > major;
  if (s.minor != minor) return s.minor > minor;
  return s.servicePack >= servicePackMajor;
}

bool OpenRegistryKey(RegistryRoot root, const std::wstring& path, PlatformHandle& key) {
  auto& s = State();
  s.calls.push_back(std::string("OpenRegistryKey ") + RootName(root) + "\\" + Narrow(path));
  auto it = s.keys.find({root, path});
  if (it == s.keys.end() || !it->second.opens) return false;
  key = &it->second;
  ++s.openKeys;
  return true;
}

bool QueryRegistryValue(PlatformHandle key, const std::wstring& name, unsigned char* buffer,
                        std::uint32_t& size) {
  auto& s = State();
  s.calls.push_back("QueryRegistryValue " + Narrow(name) + " " + std::to_string(size));
  for (std::uint32_t i = 0; i < size; ++i)
    if (buffer[i] != 0) s.calls.push_back("QueryRegistryValue buffer not cleared");
  const auto* k = static_cast<FakeRegistryKey*>(key);
  if (name != L"pv" || !k->pv) return false;
  if (k->pv->size() > size) return false;  // ERROR_MORE_DATA
  if (!k->pv->empty()) std::memcpy(buffer, k->pv->data(), k->pv->size());
  size = static_cast<std::uint32_t>(k->pv->size());
  return true;
}

void CloseRegistryKey(PlatformHandle) {
  State().calls.push_back("CloseRegistryKey");
  --State().openKeys;
}

void HideWindow(WindowHandle window) {
  State().calls.push_back("HideWindow");
  State().hiddenWindow = window;
}

bool StartProcess(const std::wstring& applicationName, PlatformHandle& process,
                  PlatformHandle& thread) {
  auto& s = State();
  s.calls.push_back("StartProcess " + Narrow(applicationName));
  s.startedName = applicationName;
  if (!s.startSucceeds) return false;
  process = &gProcessToken;
  thread = &gThreadToken;
  s.openHandles += 2;
  return true;
}

void WaitForProcess(PlatformHandle process) {
  State().calls.push_back(process == &gProcessToken ? "WaitForProcess process"
                                                    : "WaitForProcess other");
}

void CloseProcessHandle(PlatformHandle handle) {
  State().calls.push_back(handle == &gProcessToken  ? "CloseHandle process"
                          : handle == &gThreadToken ? "CloseHandle thread"
                                                    : "CloseHandle other");
  --State().openHandles;
}

void DeleteFileNamed(const std::wstring& name) {
  State().calls.push_back("DeleteFile " + Narrow(name));
  State().deletedName = name;
}

void PostCloseMessage(WindowHandle window) {
  State().calls.push_back("PostClose");
  State().closedWindow = window;
}

void OpenInBrowser(const std::wstring& url) {
  State().calls.push_back("OpenInBrowser " + Narrow(url));
  State().browserUrls.push_back(url);
}

bool AskOkCancel(WindowHandle owner, const std::wstring& text, const std::wstring& caption) {
  auto& s = State();
  s.calls.push_back("MessageBox");
  s.boxOwner = owner;
  s.boxTexts.push_back(text);
  s.boxCaptions.push_back(caption);
  return s.answerOk;
}

bool DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                  ProgressCallback progress) {
  auto& s = State();
  s.calls.push_back("DownloadFile " + url + " " + savePath);
  s.downloadUrl = url;
  s.downloadSaveName = savePath;
  s.downloadErrorOnEntry = error;
  s.downloadHadProgress = static_cast<bool>(progress);
  if (progress) progress(10, 100);
  if (!s.downloadSucceeds) {
    error = "connection refused";
    return false;
  }
  return true;
}

void OnDownloadProgress(WindowHandle, std::uint64_t received, std::uint64_t total) {
  State().calls.push_back("OnDownloadProgress " + std::to_string(received) + "/" +
                          std::to_string(total));
}
