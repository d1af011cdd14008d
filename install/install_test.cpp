// The install workflow's rules over a recording fake of its platform: the
// channel table, the "pv" text, the worker's sequence and the prompt.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "build_config.h"
#include "install/download_channel.h"
#include "install/failure_prompt.h"
#include "install/install_platform.h"
#include "install/install_worker.h"

// The platform as plain data: the version, the two client keys, the worker's run.
namespace {

using Bytes = std::vector<unsigned char>;
const auto kMachine = RegistryRoot::LocalMachine, kUser = RegistryRoot::CurrentUser;

struct StubSystem {
  std::uint16_t major = 10, minor = 0, servicePack = 0;
  std::map<RegistryRoot, Bytes> pv;  // the roots whose client key has one
  std::vector<RegistryRoot> read;    // in order
};
StubSystem gSystem;

// The rest of the platform, the download and the held file: each call is one
// event, and the answers come from the row.
struct WorkerRun {
  DownloadResult download = DownloadResult::Saved;
  bool starts = true, ok = false, holds = true, sameBytes = true;
  SignatureCheck signature = {}, fetched = {};
  std::vector<std::string> events = {};
  std::wstring boxText = L"";
};
WorkerRun gRun;

}  // namespace

bool IsOsVersionAtLeast(std::uint16_t major, std::uint16_t minor, std::uint16_t servicePackMajor) {
  const StubSystem& s = gSystem;
  if (s.major != major) return s.major > major;
  if (s.minor != minor) return s.minor > minor;
  return s.servicePack >= servicePackMajor;
}

bool ReadRegistryValue(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                       std::vector<unsigned char>& bytes) {
  gSystem.read.push_back(root);
  const std::wstring client = L"\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
  const std::wstring key = (root == kMachine ? L"SOFTWARE\\WOW6432Node" : L"Software") + client;
  const auto found = gSystem.pv.find(root);
  if (path != key || name != L"pv" || found == gSystem.pv.end()) return false;
  bytes = found->second;
  return true;
}

struct SetupFileTag {};
const Sha256 kReceived = {1, 2, 3};
DownloadResult DownloadFile(const std::string& url, const std::string& savePath, std::string&,
                            ProgressCallback, SavedBody& saved) {
  gRun.events.push_back("download " + url + " " + savePath);
  if (gRun.download == DownloadResult::Saved) saved = {OwnedSetupFile(new SetupFileTag), kReceived, 6};
  return gRun.download;
}
bool HoldSetupFile(SetupFile) { return gRun.events.push_back("hold"), gRun.holds; }
SetupFileFacts ExamineSetupFile(SetupFile, bool checkSignature) {
  gRun.events.push_back(checkSignature ? "examine, signature" : "examine");
  SetupFileFacts facts{true, kReceived, 6, gRun.signature};
  if (!gRun.sameBytes) facts.digest[0] ^= 1;
  return facts;
}
SignatureCheck CheckSignatureFetchingChain(SetupFile) {
  gRun.events.push_back("fetch chain");
  return gRun.fetched;
}
bool RunSetupProgram(SetupFile) { return gRun.events.push_back("run"), gRun.starts; }
void DeleteSetupFile(SetupFile file) {
  gRun.events.push_back("delete");
  delete file;
}
void CloseSetupFile(SetupFile file) {
  gRun.events.push_back("let go");
  delete file;
}
void HideInstallerWindow(WindowHandle) { gRun.events.push_back("hide"); }
void CloseInstallerWindow(WindowHandle) { gRun.events.push_back("WM_CLOSE"); }
// "browser": opened by the desktop shell, as the user.
bool OpenThroughDesktopShell(const std::wstring& url) {
  gRun.events.push_back("browser " + std::string(url.begin(), url.end()));
  return true;
}
bool AskInErrorBox(WindowHandle, const std::wstring& text, const std::wstring& caption) {
  gRun.events.push_back(caption == L"系统提示" ? "box" : "other box");
  gRun.boxText = text;
  return gRun.ok;
}

namespace {

const DownloadChannel kWin7 = DownloadChannel::Win7, kRelease = DownloadChannel::Release;
using Pv = std::optional<std::u16string>;  // nullopt: no key or no value

// A REG_SZ value's bytes, UTF-16LE as on this host, with the terminating zero unless told otherwise.
Bytes Utf16(std::u16string text, bool terminate = true) {
  if (terminate) text.push_back(0);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  return Bytes(bytes, bytes + 2 * text.size());
}

// 6.1 with any service pack is Win7 without a look at the registry; every
// other version is Release only when a client key holds a usable "pv". The
// machine key decides first; the user key is read only when it does not.
TEST(ChooseDownloadChannel, Table) {
  const struct {
    std::uint16_t major, minor, servicePack;
    Pv machine, user;
    DownloadChannel channel;
    std::vector<RegistryRoot> read;
  } rows[] = {
      {6, 1, 2, u"1.2.3.4", u"1.2.3.4", kWin7, {}},
      {6, 0, 2, {}, u"100.0.1", kRelease, {kMachine, kUser}},
      {6, 2, 0, {}, {}, kWin7, {kMachine, kUser}},
      {10, 0, 0, u"1.2.3.4", u"0.0.0.0", kRelease, {kMachine}},
      {10, 0, 0, u"0.0.0.0", u"x", kRelease, {kMachine, kUser}},
      {10, 0, 0, u"", u"0.0.0.0", kWin7, {kMachine, kUser}},
      // Only exactly "0.0.0.0" is absent, judged up to the first zero unit, by
      // whole units (U+0130 is not '0'; a zero high byte alone ends nothing).
      {10, 0, 0, u"0.0.0.0 ", {}, kRelease, {kMachine}},
      {10, 0, 0, u"0.0.0.\u0130", {}, kRelease, {kMachine}},
      {10, 0, 0, u"0.0.0.0" + std::u16string(1, 0) + u"9", {}, kWin7, {kMachine, kUser}},
      {10, 0, 0, u"\u0100", {}, kRelease, {kMachine}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << &row - rows);
    gSystem = StubSystem{row.major, row.minor, row.servicePack, {}, {}};
    if (row.machine) gSystem.pv[kMachine] = Utf16(*row.machine);
    if (row.user) gSystem.pv[kUser] = Utf16(*row.user);
    EXPECT_EQ(ChooseDownloadChannel(), row.channel);
    EXPECT_EQ(gSystem.read, row.read);
  }
  // A value that fills the limit without a terminator: the text ends with it.
  gSystem = StubSystem{};
  gSystem.pv[kMachine] = Utf16(std::u16string(kRegistryValueLimit / 2, u'7'), false);
  EXPECT_EQ(ChooseDownloadChannel(), kRelease);
}

// True when `milestones` happen in this order (other events may come between).
bool InOrder(const std::vector<std::string>& events, const std::vector<std::string>& milestones) {
  auto at = events.begin();
  for (const std::string& m : milestones) {
    at = std::find(at, events.end(), m);
    if (at == events.end()) return false;
    ++at;
  }
  return true;
}

TEST(InstallWorker, SequenceAndPrompt) {
  const std::string win7 = std::string(kDownloadOrigin) + "/velnor-video/win7";
  const std::string download = "download " + win7 + " velnor-setup.exe";
  const std::string page = "browser " + win7;
  const std::string support = "browser " + std::string(kSupportOrigin);
  const auto kSaved = DownloadResult::Saved;
  const std::string examine = "examine, signature", fetch = "fetch chain";
  const std::wstring tail =
      L"\n\n已为您打开下载页面，请手动安装。\n\n点击\"确定\"联系客服\n点击\"取消\"稍后处理";
  const std::wstring failed = kDownloadFailedMessage + tail, notStarted = kStartFailedMessage + tail;
  const std::int32_t kBadDigest = std::int32_t(0x80096010);
  const struct {
    const char* label;
    DownloadResult download;
    bool starts, ok;
    std::vector<std::string> order;  // must happen in this order
    std::vector<std::string> never;
    std::wstring box;
    bool holds = true, sameBytes = true;
    std::int32_t status = 0;  // of the first signature check, then of the one fetching the chain
    bool publishers = true;
    std::int32_t fetched = 0;
  } rows[] = {
      // clang-format off
      {"installed", kSaved, true, false, {download, "hold", examine, "hide", "run", "delete", "WM_CLOSE"},
       {"box", "let go", fetch}, L""},
      // The prompts' texts, the pages and the desktop shell are shown under Wine.
      {"download failed", DownloadResult::Failed, false, true, {download, page, "box", support},
       {"hide", "hold", "WM_CLOSE"}, failed},
      {"no digest of what was received", DownloadResult::CheckFailed, true, false, {download, page, "box"},
       {"hide", "hold", "WM_CLOSE"}, failed},
      {"start failed: the file stays", kSaved, false, false,
       {download, "hold", examine, "hide", "run", "let go", page, "box", "WM_CLOSE"}, {"delete"}, notStarted},
      {"the name given to another file", kSaved, true, false, {"hold", "hide", "delete", "box", "WM_CLOSE"},
       {examine, "run"}, notStarted, false},
      {"changed since it was written", kSaved, true, false, {examine, "hide", "delete", "box", "WM_CLOSE"},
       {"run", "let go"}, notStarted, true, false},
      // A chain the system cannot complete is fetched for the publisher's signer only.
      {"the publisher's chain fetched", kSaved, true, false, {examine, fetch, "hide", "run", "delete"},
       {"box"}, L"", true, true, kPartialChain},
      {"the fetch ran out of time", kSaved, true, true,
       {examine, fetch, "hide", "delete", page, "box", support, "WM_CLOSE"}, {"run", "let go"}, notStarted,
       true, true, kUntrustedRoot, true, kSignatureTimedOut},
      // Anyone can make a certificate with the publisher's name: its root stays untrusted.
      {"the publisher's name on an untrusted root", kSaved, true, false,
       {examine, fetch, "hide", "delete", "box", "WM_CLOSE"}, {"run", "let go"}, notStarted, true, true,
       kUntrustedRoot, true, kUntrustedRoot},
      {"another signer", kSaved, true, false, {examine, "hide", "delete", "box", "WM_CLOSE"},
       {fetch, "run", "let go"}, notStarted, true, true, kUntrustedRoot, false},
      {"another signer, valid", kSaved, true, false, {examine, "delete", "box"}, {"run"}, notStarted,
       true, true, 0, false},
      {"a bad digest", kSaved, true, false, {examine, "hide", "delete", "box"}, {fetch, "run"}, notStarted,
       true, true, kBadDigest},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    gSystem = StubSystem{};
    gRun = WorkerRun{row.download, row.starts, row.ok, row.holds, row.sameBytes};
    // Another signer: the publisher's subject and more.
    gRun.signature = {row.status, true, kSetupPublisher + std::wstring(row.publishers ? L"" : L", OU=x")};
    gRun.fetched = {row.fetched, true, gRun.signature.signer};
    InstallWorker(nullptr, ProgressCallback());
    EXPECT_TRUE(InOrder(gRun.events, row.order)) << testing::PrintToString(gRun.events);
    for (const std::string& event : row.never) EXPECT_FALSE(InOrder(gRun.events, {event})) << event;
    EXPECT_EQ(std::count(gRun.events.begin(), gRun.events.end(), "box"), row.box.empty() ? 0 : 1);
    EXPECT_EQ(gRun.boxText, row.box);
    EXPECT_TRUE(!InOrder(gRun.events, {"WM_CLOSE"}) || gRun.events.back() == "WM_CLOSE");
  }
}

}  // namespace
