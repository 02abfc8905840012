// The rest of the Windows platform layer: random bytes, local days, private
// files, Winsock, the crash reporter and the shell's program start.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "port/BrowserLauncher.h"
#include "port/CrashReporter.h"
#include "port/FolderLock.h"
#include "port/LocalTime.h"
#include "port/PrivateFile.h"
#include "port/ProcessLauncher.h"
#include "port/Random.h"
#include "port/Socket.h"
#include "tests/win32/Win32Support.h"

namespace Quorvel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(Win32Random, BytesAreDrawnAnewEachTime) {
  unsigned char first[32] = {};
  unsigned char second[32] = {};
  port::randomBytes(first, sizeof first);
  port::randomBytes(second, sizeof second);
  EXPECT_NE(std::memcmp(first, second, sizeof first), 0);
  EXPECT_NE(std::memcmp(first, std::string(32, '\0').data(), sizeof first), 0);
}

TEST(Win32LocalTime, ADayStartsAtItsFirstSecondAndDaysCarryOver) {
  const std::int64_t moment = 1'700'000'000;
  const port::LocalDate date = port::localDateOf(moment);
  const std::int64_t start = port::localDayStart(date);
  EXPECT_LE(start, moment);
  EXPECT_GT(start + 86400, moment);
  EXPECT_EQ(port::dateText(port::localDateOf(port::localDayStart({2026, 3, 0}))), "2026-02-28");
  EXPECT_EQ(port::dateText(port::localDateOf(port::localDayStart({2026, 13, 1}))), "2027-01-01");
}

// Who the file's access list lets in: "me" for the current user, else the
// entry's SID ("S-1-1-0" is everyone).
std::vector<std::string> allowedOn(const fs::path& path) {
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return {"unreadable"};
  }
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  char user[256];
  DWORD size = sizeof user;
  GetTokenInformation(token, TokenUser, user, size, &size);
  CloseHandle(token);
  PSID self = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  std::vector<std::string> allowed;
  for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    GetAce(acl, i, &ace);
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (entry->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = reinterpret_cast<PSID>(&entry->SidStart);
    char* text = nullptr;
    ConvertSidToStringSidA(sid, &text);
    allowed.push_back(EqualSid(sid, self) ? "me" : text);
    LocalFree(text);
  }
  LocalFree(descriptor);
  return allowed;
}

// Whether everyone, the users group or every signed-in user may open the file.
bool othersAllowed(const fs::path& path) {
  for (const std::string& sid : allowedOn(path)) {
    if (sid == "unreadable" || sid == "S-1-1-0" || sid == "S-1-5-32-545" || sid == "S-1-5-11") return true;
  }
  return false;
}

TEST(Win32PrivateFile, ACopyIsWholeOwnerOnlyAndNeverReplacesAFile) {
  TempFolder folder;
  const fs::path from = folder.path() / "tpl.db";
  const fs::path to = folder.path() / "live.db";
  { std::ofstream(from.string(), std::ios::binary) << std::string(200000, 'x'); }
  port::copyToPrivateFile(from, to);
  EXPECT_EQ(fs::file_size(to), 200000u);
  EXPECT_FALSE(othersAllowed(to));
  const std::vector<std::string> allowed = allowedOn(to);
  EXPECT_EQ(std::count(allowed.begin(), allowed.end(), "me"), 1);
  EXPECT_THROW(port::copyToPrivateFile(from, to), fs::filesystem_error);
  EXPECT_THROW(port::copyToPrivateFile(folder.path() / "missing", folder.path() / "other"), fs::filesystem_error);
  EXPECT_FALSE(fs::exists(folder.path() / "other"));
}

TEST(Win32PrivateFile, KeepPrivateCreatesOrNarrowsAndAMissingFileStaysMissing) {
  TempFolder folder;
  const fs::path cookies = folder.path() / "cookie.txt";
  EXPECT_TRUE(port::keepPrivate(cookies));
  EXPECT_TRUE(fs::exists(cookies));
  EXPECT_FALSE(othersAllowed(cookies));

  const fs::path open = folder.path() / "open.db";
  { std::ofstream(open.string()) << "data"; }
  // Narrowing an existing file replaces its access list; Wine keeps a
  // file's list as its Unix mode, set only at creation, so here the call is
  // checked, not the list.
  EXPECT_TRUE(port::narrowIfExists(open));
  EXPECT_TRUE(port::keepPrivate(open));
  EXPECT_TRUE(port::narrowIfExists(folder.path() / "missing.db"));
  EXPECT_FALSE(fs::exists(folder.path() / "missing.db"));
}

// A loopback TCP listener on a free port that answers one connection with
// `reply` and then closes it.
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 1);
    thread_ = std::thread([this, reply] {
      SOCKET peer = accept(listener_, nullptr, nullptr);
      if (peer == INVALID_SOCKET) return;
      char buffer[64];
      const int got = recv(peer, buffer, sizeof buffer, 0);
      received_.assign(buffer, got > 0 ? got : 0);
      send(peer, reply.data(), static_cast<int>(reply.size()), 0);
      shutdown(peer, SD_SEND);
      closesocket(peer);
    });
  }
  ~OneShotServer() {
    closesocket(listener_);  // ends a wait in accept
    thread_.join();
  }
  std::uint16_t port() const { return port_; }
  std::string received() {
    thread_.join();
    thread_ = std::thread([] {});
    return received_;
  }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::string received_;
};

TEST(Win32Socket, LinesArriveOverTcpAndAClosedPeerEndsThem) {
  auto network = port::systemNetwork();
  ASSERT_EQ(network->resolve("127.0.0.1"), 0x7F000001u);
  EXPECT_EQ(port::formatIpv4(0x7F000001u), "127.0.0.1");
  OneShotServer server("220 ready\r\n250 ok\r\ntail");
  auto socket = network->tcpSocket();
  ASSERT_TRUE(socket);
  ASSERT_TRUE(socket->connect({0x7F000001u, server.port()}, 5000ms));
  EXPECT_TRUE(socket->send("EHLO me\r\n", 5000ms));
  std::string line;
  EXPECT_TRUE(socket->receiveLine(line, 512, 5000ms));
  EXPECT_EQ(line, "220 ready\r\n");
  EXPECT_TRUE(socket->receiveLine(line, 512, 5000ms));
  EXPECT_EQ(line, "250 ok\r\n");
  EXPECT_TRUE(socket->receiveLine(line, 512, 5000ms));
  EXPECT_EQ(line, "tail");  // the peer closed after it
  EXPECT_FALSE(socket->receiveLine(line, 512, 5000ms));
  EXPECT_EQ(server.received(), "EHLO me\r\n");
  EXPECT_FALSE(network->hostName().empty());
}

TEST(Win32Socket, ARefusedConnectAndASilentDatagramPeerFail) {
  auto network = port::systemNetwork();
  std::uint16_t closedPort = 0;
  {
    OneShotServer gone("");
    closedPort = gone.port();
  }
  auto socket = network->tcpSocket();
  EXPECT_FALSE(socket->connect({0x7F000001u, closedPort}, 5000ms));

  // A UDP socket that takes the request and never answers.
  SOCKET silent = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  std::string reply;
  EXPECT_FALSE(network->exchangeDatagram({0x7F000001u, ntohs(address.sin_port)}, "query", reply, 512, 200ms));
  char buffer[16];
  EXPECT_EQ(recv(silent, buffer, sizeof buffer, 0), 5);  // the request did arrive
  closesocket(silent);
}

TEST(Win32CrashReporter, AFaultLeavesAMinidumpAndANote) {
  TempFolder folder;
  std::string command = "\"" + (programFolder() / "vendara_standin.exe").string() + "\" --crash \"" +
                        folder.path().string() + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(code, 0xE0000001u);  // ended by the fault, not by returning

  std::string dump, note;
  for (const auto& entry : fs::directory_iterator(folder.path())) {
    std::ifstream in(entry.path().string(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (entry.path().extension() == ".dmp") dump = text.str();
    if (entry.path().extension() == ".txt") note = text.str();
  }
  EXPECT_EQ(dump.substr(0, 4), "MDMP");
  EXPECT_NE(note.find("Vendara 2012 crashed."), std::string::npos);
  EXPECT_NE(note.find("0xE0000001"), std::string::npos);
}

TEST(Win32ProcessLauncher, TheShellStartsAProgramInItsFolderOrSaysItCannot) {
  TempFolder folder;
  fs::copy_file(programFolder() / "vendara_standin.exe", folder.path() / "Vendara 2012.exe");
  auto launcher = port::systemProcessLauncher();
  EXPECT_TRUE(launcher->start({.program = (folder.path() / "Vendara 2012.exe").string(),
                               .workingDir = folder.path().string()}));
  EXPECT_TRUE(waitUntil([&] { return fs::exists(folder.path() / "started.txt"); }));
  EXPECT_FALSE(launcher->start({.program = (folder.path() / "missing.exe").string()}));
  EXPECT_FALSE(launcher->start({.program = ""}));
}

class RecordingLauncher : public port::ProcessLauncher {
 public:
  bool start(const port::ProcessStart& what) override {
    started.push_back(what.program + " " + (what.args.empty() ? "" : what.args[0]));
    return what.program == startable;
  }
  std::vector<std::string> started;
  std::string startable;
};

TEST(Win32FolderLock, ASecondHolderIsRefusedAndReadsWhoHoldsIt) {
  TempFolder folder;
  const fs::path file = folder.path() / "vendara.lock";
  std::string holder;
  auto first = port::FolderLock::take(file, &holder);
  ASSERT_TRUE(first);
  first->describe("pid 7 127.0.0.1:12345");
  EXPECT_FALSE(port::FolderLock::take(file, &holder));
  EXPECT_EQ(holder, "pid 7 127.0.0.1:12345");
  first.reset();
  EXPECT_TRUE(port::FolderLock::take(file, &holder));
}

TEST(Win32BrowserLauncher, BrowsersAreTriedInOrderOnAPrivatePageThatLeadsToTheAddress) {
  TempFolder folder;
  auto processes = std::make_shared<RecordingLauncher>();
  processes->startable = "IEXPLORE.exe";
  auto browser = port::systemBrowserLauncher(processes, folder.path() / "launch");
  const std::string url = "http://127.0.0.1:18080/?ver=1105&port=12345#token=ab12";
  EXPECT_TRUE(browser->open(url));
  ASSERT_EQ(processes->started.size(), 3u);
  EXPECT_EQ(processes->started[0].rfind("chrome.exe file:///", 0), 0u) << processes->started[0];
  EXPECT_EQ(processes->started[2].rfind("IEXPLORE.exe file:///", 0), 0u) << processes->started[2];
  for (const std::string& start : processes->started) EXPECT_EQ(start.find("ab12"), std::string::npos) << start;

  // The page is the seller's alone and leads to the keyed address.
  const fs::path page = folder.path() / "launch" / port::kLaunchPageName;
  EXPECT_FALSE(othersAllowed(page));
  std::ifstream in(page.string(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("#token=ab12"), std::string::npos) << text;

  processes->started.clear();
  EXPECT_FALSE(browser->open("http://127.0.0.1/\" --user-data-dir=x"));
  EXPECT_FALSE(browser->open("file:///C:/windows/win.ini"));
  EXPECT_TRUE(processes->started.empty());
}

}  // namespace
}  // namespace Quorvel::testing
