#include "install/download_channel.h"

#include "build_config.h"
#include "install/install_platform.h"

namespace {

const wchar_t kClientKey1[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\"
    L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const wchar_t kClientKey2[] =
    L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

// The bytes read from a "pv" value as UTF-16 (little-endian) text up to its
// first zero code unit, bounded by `size` bytes (an odd trailing byte is
// ignored): usable unless empty or exactly "0.0.0.0".
bool IsUsableVersionText(const unsigned char* buffer, std::size_t size) {
  static const char kAbsent[] = "0.0.0.0";
  const std::size_t units = size / 2;
  std::size_t length = 0;
  bool matchesAbsent = true;
  for (; length < units; ++length) {
    const unsigned unit = buffer[2 * length] | (unsigned(buffer[2 * length + 1]) << 8);
    if (unit == 0) break;
    if (length >= sizeof kAbsent - 1 || unit != static_cast<unsigned char>(kAbsent[length]))
      matchesAbsent = false;
  }
  if (length == 0) return false;
  return !(matchesAbsent && length == sizeof kAbsent - 1);
}

bool KeyHoldsUsableVersion(RegistryRoot root, const wchar_t* path) {
  RegistryKey key = nullptr;
  if (!OpenRegistryKey(root, path, key)) return false;
  unsigned char buffer[kVersionBufferBytes] = {};
  std::uint32_t size = kVersionBufferBytes;
  const bool read = QueryRegistryValue(key, L"pv", buffer, size);
  CloseRegistryKey(key);
  return read && IsUsableVersionText(buffer, sizeof buffer);
}

const char* DownloadChannelPath(DownloadChannel channel) {
  return channel == DownloadChannel::Release ? "/velnor-video/release" : "/velnor-video/win7";
}

}  // namespace

std::string DownloadChannelUrl(DownloadChannel channel) {
  return std::string(kDownloadOrigin) + DownloadChannelPath(channel);
}

bool IsWebView2Registered() {
  return KeyHoldsUsableVersion(RegistryRoot::LocalMachine, kClientKey1) ||
         KeyHoldsUsableVersion(RegistryRoot::CurrentUser, kClientKey2);
}

DownloadChannel ChooseDownloadChannel() {
  if (IsOsVersionAtLeast(6, 1, 0) && !IsOsVersionAtLeast(6, 2, 0)) return DownloadChannel::Win7;
  return IsWebView2Registered() ? DownloadChannel::Release : DownloadChannel::Win7;
}
