#include "install/download_channel.h"

#include <vector>

#include "build_config.h"
#include "install/install_platform.h"

namespace {

const wchar_t kClientKey1[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\"
    L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const wchar_t kClientKey2[] =
    L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

// The bytes of a "pv" value as UTF-16 (little-endian) text up to its first
// zero code unit, as read into a cleared buffer (an odd last byte is the low
// half of a unit): usable unless empty or exactly "0.0.0.0".
bool IsUsableVersionText(const std::vector<unsigned char>& bytes) {
  static const char16_t kAbsent[] = u"0.0.0.0";
  std::u16string text;
  for (std::size_t at = 0; at < bytes.size(); at += 2) {
    const char16_t unit = bytes[at] | (at + 1 < bytes.size() ? bytes[at + 1] << 8 : 0);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return !text.empty() && text != kAbsent;
}

bool KeyHoldsUsableVersion(RegistryRoot root, const wchar_t* path) {
  std::vector<unsigned char> pv;
  return ReadRegistryValue(root, path, L"pv", pv) && IsUsableVersionText(pv);
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
