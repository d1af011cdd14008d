#include "install/download_channel.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "install/install_platform_fake.h"

namespace {

using Calls = std::vector<std::string>;
using Key = std::optional<FakeRegistryKey>;  // nullopt: no such key

const std::wstring kKey1 =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-"
    L"00C3A9A7E4C5}";
const std::wstring kKey2 =
    L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const std::string kOpen1 =
    "OpenRegistryKey HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\"
    "{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const std::string kOpen2 =
    "OpenRegistryKey HKCU\\Software\\Microsoft\\EdgeUpdate\\Clients\\"
    "{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const Calls kTried1 = {kOpen1}, kTried2 = {kOpen2};  // the key did not open
const Calls kRead1 = {kOpen1, "QueryRegistryValue pv 512", "CloseRegistryKey"};
const Calls kRead2 = {kOpen2, "QueryRegistryValue pv 512", "CloseRegistryKey"};
const Calls kTo61 = {"IsOsVersionAtLeast 6.1.0"};
const Calls kTo62 = {"IsOsVersionAtLeast 6.1.0", "IsOsVersionAtLeast 6.2.0"};
const DownloadChannel kWin7 = kWin7, kRelease = DownloadChannel::Release;

Key Pv(const std::u16string& text) { return FakeRegistryKey{true, PvBytes(text)}; }

Calls Concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

void PlantKeys(const Key& key1, const Key& key2) {
  ResetFakePlatform();
  if (key1) FakePlatform().keys[{RegistryRoot::LocalMachine, kKey1}] = *key1;
  if (key2) FakePlatform().keys[{RegistryRoot::CurrentUser, kKey2}] = *key2;
}

// 6.1 with any service pack is Win7 without a look at the registry; every
// other version follows the probe.
TEST(ChooseDownloadChannel, Table) {
  const struct {
    std::uint16_t major, minor, servicePack;
    Key key1, key2;
    DownloadChannel channel;
    Calls calls;
  } rows[] = {
      {6, 1, 0, Pv(u"1.2.3.4"), Pv(u"1.2.3.4"), kWin7, kTo62},
      {6, 1, 1, Pv(u"1.2.3.4"), Pv(u"1.2.3.4"), kWin7, kTo62},
      {6, 1, 2, Pv(u"1.2.3.4"), Pv(u"1.2.3.4"), kWin7, kTo62},
      // Below 6.1 the 6.2 test is skipped.
      {6, 0, 2, {}, Pv(u"100.0.1"), kRelease, Concat({kTo61, kTried1, kRead2})},
      {6, 0, 0, {}, {}, kWin7, Concat({kTo61, kTried1, kTried2})},
      {6, 2, 0, {}, {}, kWin7, Concat({kTo62, kTried1, kTried2})},
      {6, 2, 0, Pv(u"1.2.3.4"), {}, kRelease, Concat({kTo62, kRead1})},
      {6, 3, 0, {}, {}, kWin7, Concat({kTo62, kTried1, kTried2})},
      {6, 3, 0, Pv(u"1.2.3.4"), {}, kRelease, Concat({kTo62, kRead1})},
      {10, 0, 0, {}, {}, kWin7, Concat({kTo62, kTried1, kTried2})},
      {10, 0, 0, Pv(u"1.2.3.4"), {}, kRelease, Concat({kTo62, kRead1})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.major << "." << row.minor << " sp" << row.servicePack
                                    << (row.key1 ? " key1" : "") << (row.key2 ? " key2" : ""));
    PlantKeys(row.key1, row.key2);
    FakePlatform().major = row.major;
    FakePlatform().minor = row.minor;
    FakePlatform().servicePack = row.servicePack;
    EXPECT_EQ(ChooseDownloadChannel(), row.channel);
    EXPECT_EQ(FakePlatform().calls, row.calls);
  }
}

// The machine key first; the user key only when the first does not decide.
TEST(IsWebView2Registered, Table) {
  const Key noPv = FakeRegistryKey{true, std::nullopt};
  const Key shut = FakeRegistryKey{false, PvBytes(u"1.0")};
  const struct {
    const char* label;
    Key key1, key2;
    bool registered;
    Calls calls;
  } rows[] = {
      {"user key only", {}, Pv(u"1.0"), true, Concat({kTried1, kRead2})},
      {"user key absent text", {}, Pv(u"0.0.0.0"), false, Concat({kTried1, kRead2})},
      {"machine key absent text", Pv(u"0.0.0.0"), {}, false, Concat({kRead1, kTried2})},
      {"empty, then absent text", Pv(u""), Pv(u"0.0.0.0"), false, Concat({kRead1, kRead2})},
      {"no keys", {}, {}, false, Concat({kTried1, kTried2})},
      {"absent text, then any text", Pv(u"0.0.0.0"), Pv(u"x"), true, Concat({kRead1, kRead2})},
      {"trailing blank", Pv(u"0.0.0.0 "), {}, true, kRead1},
      {"five parts", Pv(u"0.0.0.0.1"), {}, true, kRead1},
      {"trailing dot", Pv(u"0.0.0."), {}, true, kRead1},
      {"any text", Pv(u"not a version"), {}, true, kRead1},
      {"machine key decides", Pv(u"1.2.3.4"), Pv(u"0.0.0.0"), true, kRead1},
      {"no pv value", noPv, Pv(u"1.2"), true, Concat({kRead1, kRead2})},
      // 514 bytes with the terminator: larger than the buffer counts as absent.
      {"too large", Pv(std::u16string(256, u'1')), {}, false, Concat({kRead1, kTried2})},
      // Passed over without a close.
      {"does not open", shut, Pv(u"1.0"), true, Concat({kTried1, kRead2})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    PlantKeys(row.key1, row.key2);
    EXPECT_EQ(IsWebView2Registered(), row.registered);
    EXPECT_EQ(FakePlatform().calls, row.calls);
    EXPECT_EQ(FakePlatform().openKeys, 0);
  }
}

TEST(IsUsableVersionText, Table) {
  const struct {
    std::vector<unsigned char> bytes;
    std::size_t size;  // 0: the whole buffer of kVersionBufferBytes
    bool usable;
  } rows[] = {
      {PvBytes(u""), 0, false},
      {PvBytes(u"0.0.0.0"), 0, false},
      {PvBytes(u"0.0.0.0 "), 0, true},
      {PvBytes(u"0.0.0"), 0, true},
      {PvBytes(u"1.2.3.4"), 0, true},
      {PvBytes(u"\u4e2d"), 0, true},  // a unit above 0xff is read whole
      // Only the text up to the first zero unit counts.
      {PvBytes(std::u16string(u"0.0.0.0\0" u"9", 9)), 0, false},
      {PvBytes(std::u16string(u"\0" u"1.0", 4)), 0, false},
      // All 256 units non-zero: bounded by the buffer, judged as text.
      {PvBytes(std::u16string(256, u'7'), false), 0, true},
      // A zero high byte alone is not a zero unit.
      {{0x31, 0x00, 0x00, 0x01, 0, 0}, 6, true},
      // An odd trailing byte is ignored, and nothing past `size` is read.
      {{0x00, 0x00, 0x41}, 3, false},
      {{0x00, 0x00, 0x41}, 1, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << &row - rows);
    std::vector<unsigned char> buffer = row.bytes;
    if (row.size == 0) buffer.resize(kVersionBufferBytes, 0);
    EXPECT_EQ(IsUsableVersionText(buffer.data(), row.size ? row.size : buffer.size()), row.usable);
  }
}

}  // namespace
