#include "install/download_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_config.h"
#include "install/install_platform_fake.h"

namespace {

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

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFakePlatform(); }
  void Version(std::uint16_t major, std::uint16_t minor, std::uint16_t sp = 0) {
    FakePlatform().major = major;
    FakePlatform().minor = minor;
    FakePlatform().servicePack = sp;
  }
  void Key1(const std::u16string& pv) {
    FakePlatform().keys[{RegistryRoot::LocalMachine, kKey1}].pv = PvBytes(pv);
  }
  void Key2(const std::u16string& pv) {
    FakePlatform().keys[{RegistryRoot::CurrentUser, kKey2}].pv = PvBytes(pv);
  }
  std::vector<std::string> Opens() const {
    std::vector<std::string> opens;
    for (const auto& call : FakePlatform().calls)
      if (call.rfind("OpenRegistryKey", 0) == 0) opens.push_back(call);
    return opens;
  }
  bool AnyRegistryCall() const {
    for (const auto& call : FakePlatform().calls)
      if (call.find("Registry") != std::string::npos) return true;
    return false;
  }
};

TEST_F(ChannelTest, PathsAndUrls) {
  EXPECT_STREQ(DownloadChannelPath(DownloadChannel::Win7), "/velnor-video/win7");
  EXPECT_STREQ(DownloadChannelPath(DownloadChannel::Release), "/velnor-video/release");
  EXPECT_EQ(DownloadChannelUrl(DownloadChannel::Win7),
            std::string(kDownloadOrigin) + "/velnor-video/win7");
  EXPECT_EQ(DownloadChannelUrl(DownloadChannel::Release),
            std::string(kDownloadOrigin) + "/velnor-video/release");
}

// Row "6.1, any service pack": Win7 with no registry access, even with WebView2.
TEST_F(ChannelTest, Windows7AnyServicePackIsWin7WithoutRegistry) {
  for (std::uint16_t sp : {0, 1, 2}) {
    ResetFakePlatform();
    Version(6, 1, sp);
    Key1(u"1.2.3.4");
    Key2(u"1.2.3.4");
    EXPECT_EQ(ChooseDownloadChannel(), DownloadChannel::Win7) << sp;
    EXPECT_FALSE(AnyRegistryCall());
    EXPECT_EQ(FakePlatform().calls,
              (std::vector<std::string>{"IsOsVersionAtLeast 6.1.0", "IsOsVersionAtLeast 6.2.0"}));
  }
}

// Rows "below 6.1": the 6.2 test is skipped, the probe decides.
TEST_F(ChannelTest, BelowWindows7FollowsProbe) {
  Version(6, 0, 2);
  Key2(u"100.0.1");
  EXPECT_EQ(ChooseDownloadChannel(), DownloadChannel::Release);
  EXPECT_EQ(FakePlatform().calls.front(), "IsOsVersionAtLeast 6.1.0");
  EXPECT_NE(FakePlatform().calls.at(1), "IsOsVersionAtLeast 6.2.0");

  ResetFakePlatform();
  Version(6, 0);
  EXPECT_EQ(ChooseDownloadChannel(), DownloadChannel::Win7);
  EXPECT_EQ(Opens(), (std::vector<std::string>{kOpen1, kOpen2}));
}

// Rows "6.2 or later": the probe decides.
TEST_F(ChannelTest, Windows8AndLaterFollowProbe) {
  for (auto [major, minor] : {std::pair<int, int>{6, 2}, {6, 3}, {10, 0}}) {
    ResetFakePlatform();
    Version(major, minor);
    EXPECT_EQ(ChooseDownloadChannel(), DownloadChannel::Win7);
    ResetFakePlatform();
    Version(major, minor);
    Key1(u"1.2.3.4");
    EXPECT_EQ(ChooseDownloadChannel(), DownloadChannel::Release);
  }
}

TEST_F(ChannelTest, Key1DecidesAndKey2IsNotOpened) {
  Key1(u"1.2.3.4");
  Key2(u"0.0.0.0");
  EXPECT_TRUE(IsWebView2Registered());
  EXPECT_EQ(FakePlatform().calls,
            (std::vector<std::string>{kOpen1, "QueryRegistryValue pv 512", "CloseRegistryKey"}));
}

TEST_F(ChannelTest, ProbeCombinations) {
  struct Case {
    std::optional<std::u16string> key1, key2;
    bool registered;
  };
  const std::vector<Case> cases = {
      {std::nullopt, u"1.0", true},        {std::nullopt, u"0.0.0.0", false},
      {u"0.0.0.0", std::nullopt, false},   {u"", u"0.0.0.0", false},
      {std::nullopt, std::nullopt, false}, {u"0.0.0.0", u"x", true},
      {u"0.0.0.0 ", std::nullopt, true},   {u"0.0.0.0.1", std::nullopt, true},
      {u"0.0.0.", std::nullopt, true},     {u"not a version", std::nullopt, true},
  };
  for (const auto& c : cases) {
    ResetFakePlatform();
    if (c.key1) Key1(*c.key1);
    if (c.key2) Key2(*c.key2);
    EXPECT_EQ(IsWebView2Registered(), c.registered)
        << (c.key1 ? std::string(c.key1->begin(), c.key1->end()) : "-") << " / "
        << (c.key2 ? std::string(c.key2->begin(), c.key2->end()) : "-");
    EXPECT_EQ(FakePlatform().openKeys, 0);
  }
}

TEST_F(ChannelTest, UnusableKey1StillTriesKey2) {
  // Opens but has no "pv".
  FakePlatform().keys[{RegistryRoot::LocalMachine, kKey1}] = FakeRegistryKey{true, std::nullopt};
  Key2(u"1.2");
  EXPECT_TRUE(IsWebView2Registered());
  EXPECT_EQ(FakePlatform().calls,
            (std::vector<std::string>{kOpen1, "QueryRegistryValue pv 512", "CloseRegistryKey",
                                      kOpen2, "QueryRegistryValue pv 512", "CloseRegistryKey"}));

  // A value larger than the 512-byte buffer counts as absent.
  ResetFakePlatform();
  Key1(std::u16string(256, u'1'));  // 514 bytes with the terminator
  EXPECT_FALSE(IsWebView2Registered());
  EXPECT_EQ(Opens(), (std::vector<std::string>{kOpen1, kOpen2}));

  // A key that cannot be opened is passed over without a close.
  ResetFakePlatform();
  FakePlatform().keys[{RegistryRoot::LocalMachine, kKey1}] =
      FakeRegistryKey{false, PvBytes(u"1.0")};
  Key2(u"1.0");
  EXPECT_TRUE(IsWebView2Registered());
  EXPECT_EQ(
      FakePlatform().calls,
      (std::vector<std::string>{kOpen1, kOpen2, "QueryRegistryValue pv 512", "CloseRegistryKey"}));
}

TEST(VersionText, RulesAndBounds) {
  auto usable = [](const std::u16string& text, bool terminate = true) {
    std::vector<unsigned char> buffer(kVersionBufferBytes, 0);
    const auto bytes = PvBytes(text, terminate);
    std::copy(bytes.begin(), bytes.begin() + std::min(bytes.size(), buffer.size()), buffer.begin());
    return IsUsableVersionText(buffer.data(), buffer.size());
  };
  EXPECT_FALSE(usable(u""));
  EXPECT_FALSE(usable(u"0.0.0.0"));
  EXPECT_TRUE(usable(u"0.0.0.0 "));
  EXPECT_TRUE(usable(u"0.0.0"));
  EXPECT_TRUE(usable(u"1.2.3.4"));
  EXPECT_TRUE(usable(u"\u4e2d"));  // a unit above 0xff is read whole
  // Only the text up to the first zero unit counts.
  EXPECT_FALSE(
      usable(std::u16string(u"0.0.0.0\0"
                            u"9",
                            9)));
  EXPECT_FALSE(
      usable(std::u16string(u"\0"
                            u"1.0",
                            4)));
  // All 256 units non-zero: bounded by the buffer, judged as text.
  EXPECT_TRUE(usable(std::u16string(256, u'7'), false));
  // A zero high byte alone is not a zero unit.
  const unsigned char lowOnly[] = {0x31, 0x00, 0x00, 0x01, 0, 0};
  EXPECT_TRUE(IsUsableVersionText(lowOnly, sizeof lowOnly));
  // An odd trailing byte is ignored, and nothing past `size` is read.
  const unsigned char odd[] = {0x00, 0x00, 0x41};
  EXPECT_FALSE(IsUsableVersionText(odd, 3));
  EXPECT_FALSE(IsUsableVersionText(odd, 1));
}

}  // namespace
