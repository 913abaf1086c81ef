// The real `pelorin --headless` as a child process in a sandbox, every endpoint at a fake on
// 127.0.0.1: its folders and database, the local media server from 22435 up (a second instance
// beside it on another port), the crash service's settings request, the restore of a stored
// sign-in (and one the identity provider refuses), SIGTERM and an unknown option.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>

#include "app/cache/CacheServer.h"
#include "app/shell/PLMAppDelegate.h"
#include "platform/testing/Pump.h"
#include "platform/testing/RawClient.h"
#include "platform/testing/Sandbox.h"
#include "tests/app/shell/ExecutableTestSupport.h"
#include "tests/support/FakeCrashService.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/KeptSignIn.h"
#include "tests/support/LaunchEnvironment.h"

extern char** environ;

namespace {

using executable_test::cacheBase;
using executable_test::kWait;
using executable_test::launched;
using executable_test::PassableFoldersAbove;
using executable_test::Pelorin;
using executable_test::quietEndpoints;

// The body of a GET on the loopback port, nullopt when nothing answers with 200.
std::optional<std::string> get(std::uint16_t port, const std::string& path) {
  pltest::RawClient client;
  if (!client.connectTo(port)) return std::nullopt;
  client.sendAll("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  auto response = client.readResponse();
  if (!response || response->status != 200) return std::nullopt;
  return response->body;
}

// The TCP ports the process listens on: its descriptors' socket inodes, looked up in the
// kernel's socket tables. Other programs on the machine (another Pelorin, another test run) may
// hold any port from the media server's first one up, so where the child settled is read, not
// predicted.
std::vector<int> listeningPorts(pid_t pid) {
  namespace fs = std::filesystem;
  const std::string proc = "/proc/" + std::to_string(pid);
  std::set<std::string> inodes;
  std::error_code error;
  for (fs::directory_iterator it(proc + "/fd", error), end; !error && it != end; it.increment(error)) {
    std::error_code unreadable;
    const std::string target = fs::read_symlink(it->path(), unreadable).string();
    if (!unreadable && target.rfind("socket:[", 0) == 0 && target.back() == ']')
      inodes.insert(target.substr(8, target.size() - 9));
  }
  std::vector<int> ports;
  for (const char* table : {"/net/tcp", "/net/tcp6"}) {
    std::ifstream in(proc + table);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
      // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      const auto colon = local.rfind(':');
      if (state != "0A" || !inodes.count(inode) || colon == std::string::npos) continue;  // 0A: LISTEN
      ports.push_back(static_cast<int>(std::stoul(local.substr(colon + 1), nullptr, 16)));
    }
  }
  return ports;
}

// The port of the process that serves `body` as `path`, once one does.
std::optional<int> portServing(pid_t pid, const std::string& path, const std::string& body) {
  for (int port : listeningPorts(pid))
    if (get(static_cast<std::uint16_t>(port), path) == body) return port;
  return std::nullopt;
}

std::string randomBytes(std::size_t size) {
  std::mt19937 generator(7);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(generator());
  return bytes;
}

TEST(PelorinExecutable, HeadlessItServesItsCacheOnTheFirstFreePortAndEndsOnSigterm) {
  pltest::FakeServer sink;
  testsupport::FakeCrashService crash(kCrashReporterAPIKey, "com.ordel42.zeravozezi");
  pltest::Sandbox first;
  quietEndpoints(first, sink);
  first.set("CrashReporterAPIEndpoint", crash.baseURL());
  first.set("CrashSubmission", std::nullopt);  // its start-up asks the crash service's settings
  Pelorin one({"--headless"}, first.path("pelorin.log"));
  ASSERT_GT(one.pid(), 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return launched(first); }, kWait));
  const std::string clip = randomBytes(300000);
  { std::ofstream(cacheBase(first) + "/Cache/a.mp4", std::ios::binary) << clip; }
  // The sandbox's Cache/a.mp4, byte for byte, on a port the child listens on.
  std::optional<int> firstPort;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return (firstPort = portServing(one.pid(), "/a.mp4", clip)).has_value(); }, kWait))
      << "ports the child listens on: " << ::testing::PrintToString(listeningPorts(one.pid())) << "\n"
      << std::ifstream(first.path("pelorin.log")).rdbuf();
  EXPECT_GE(*firstPort, CacheServer::kDefaultPort);
  EXPECT_TRUE(pltest::pumpUntil(
      [&] {
        for (const auto& request : crash.requests())
          if (request.kind == testsupport::FakeCrashService::Kind::Settings) return true;
        return false;
      },
      kWait));

  {
    pltest::Sandbox second;
    quietEndpoints(second, sink);
    Pelorin two({"--headless"}, second.path("pelorin.log"));
    ASSERT_TRUE(pltest::pumpUntil([&] { return launched(second); }, kWait));
    { std::ofstream(cacheBase(second) + "/Cache/a.mp4", std::ios::binary) << "second"; }
    // The first instance holds its port: the second serves its own cache on a later free one.
    std::optional<int> secondPort;
    ASSERT_TRUE(pltest::pumpUntil(
        [&] { return (secondPort = portServing(two.pid(), "/a.mp4", "second")).has_value(); }, kWait))
        << "ports the child listens on: " << ::testing::PrintToString(listeningPorts(two.pid())) << "\n"
        << std::ifstream(second.path("pelorin.log")).rdbuf();
    EXPECT_GE(*secondPort, CacheServer::kDefaultPort);
    EXPECT_NE(*secondPort, *firstPort);
    EXPECT_EQ(get(static_cast<std::uint16_t>(*firstPort), "/a.mp4"), clip)
        << "the first still serves its own";
    two.signal(SIGTERM);
    auto status = two.waitForExit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  }

  one.signal(SIGINT);
  auto status = one.waitForExit();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  // Quit's road ran: nothing serves the clip any more and the database is intact.
  EXPECT_NE(get(static_cast<std::uint16_t>(*firstPort), "/a.mp4"), clip);
  EXPECT_TRUE(std::filesystem::exists(first.dataHome() / "Pelorin/pelorin_web.db"));
}

TEST(PelorinExecutable, AnUnknownOptionPrintsTheUsageLineAndExitsTwo) {
  pltest::Sandbox sandbox;
  Pelorin run({"--headless", "--frobnicate"}, sandbox.path("out.txt"));
  auto status = run.waitForExit();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << *status;
  std::ifstream in(sandbox.path("out.txt"));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "usage: pelorin [--headless]");
  EXPECT_FALSE(std::filesystem::exists(sandbox.dataHome() / "Pelorin")) << "nothing was started";
}

// The lines of a file that contain `text`.
int linesWith(const std::string& path, const std::string& text) {
  std::ifstream in(path);
  int count = 0;
  for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos ? 1 : 0;
  return count;
}

// Started with no display named, `pelorin` runs without windows and says why on standard error,
// once; asked for --headless it says nothing of it. Both end on SIGTERM with status 0.
TEST(PelorinExecutable, WithoutADisplayOneWarningLineSaysItRunsWithoutWindowsUnlessHeadlessWasAsked) {
  const std::string warning =
      "pelorin: no display is set (neither DISPLAY nor WAYLAND_DISPLAY); running without windows";
  pltest::FakeServer sink;
  for (const bool headless : {false, true}) {
    SCOPED_TRACE(headless ? "--headless" : "no argument");
    pltest::Sandbox sandbox;
    quietEndpoints(sandbox, sink);
    sandbox.set("DISPLAY", std::nullopt);
    // Set but empty names no display either.
    sandbox.set("WAYLAND_DISPLAY", std::string());
    sandbox.set("PELORIN_VERBOSE", std::nullopt);
    const std::string output = sandbox.path("out.txt"), errors = sandbox.path("errors.txt");
    Pelorin run(headless ? std::vector<std::string>{"--headless"} : std::vector<std::string>{}, output, {},
                errors);
    ASSERT_GT(run.pid(), 0);
    ASSERT_TRUE(pltest::pumpUntil([&] { return launched(sandbox) || run.ended(); }, kWait));
    ASSERT_FALSE(run.ended()) << std::ifstream(errors).rdbuf();
    run.signal(SIGTERM);
    auto status = run.waitForExit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_EQ(linesWith(errors, warning), headless ? 0 : 1) << std::ifstream(errors).rdbuf();
    EXPECT_EQ(linesWith(errors, "no display"), headless ? 0 : 1) << std::ifstream(errors).rdbuf();
    EXPECT_EQ(linesWith(output, "display"), 0) << "standard output stays free of it";
  }
}

// The children started meanwhile ask the account's services at the fakes, with a sign-in of
// "a@example.com" kept for them.
void keepSignInAtFakes(pltest::Sandbox& sandbox, const pltest::FakeServer& sink,
                       testsupport::FakeOAuthServer& oauth, testsupport::FakeDataAPI& api) {
  quietEndpoints(sandbox, sink);
  sandbox.set("PELORIN_OAUTH_URL", oauth.server().baseURL());
  sandbox.set("PELORIN_GOOGLE_API_URL", api.baseURL());
  // Both fakes' certificate authorities, for the child's TLS.
  testsupport::trustCertificates(sandbox,
                                 {oauth.server().caCertificatePEM(), api.server().caCertificatePEM()});
  ASSERT_TRUE(testsupport::keepSignIn(oauth, "a@example.com"));
}

TEST(PelorinExecutable, AStoredSignInIsRefreshedAndTheAccountsListsAreAskedWithItsToken) {
  pltest::FakeServer sink;
  testsupport::FakeOAuthServer oauth;
  testsupport::FakeDataAPI api;
  pltest::Sandbox sandbox;
  ASSERT_NO_FATAL_FAILURE(keepSignInAtFakes(sandbox, sink, oauth, api));

  Pelorin run({"--headless"}, sandbox.path("pelorin.log"));
  auto called = [&](const std::string& method) {
    for (const auto& call : api.callsOf(method))
      if (call.headers.get("Authorization").value_or("").rfind("Bearer ", 0) == 0) return true;
    return false;
  };
  EXPECT_TRUE(pltest::pumpUntil(
      [&] { return called("youtube.channels.list") && called("youtube.playlists.list"); }, kWait))
      << std::ifstream(sandbox.path("pelorin.log")).rdbuf();
  bool refreshed = false;
  for (const auto& request : oauth.server().requests())
    if (request.path == "/o/oauth2/token" && request.params.count("grant_type") &&
        request.params.at("grant_type") == "refresh_token")
      refreshed = true;
  EXPECT_TRUE(refreshed);
  bool mine = false;
  for (const auto& call : api.callsOf("youtube.channels.list"))
    if (call.callJSON.find("\"mine\"") != std::string::npos) mine = true;
  EXPECT_TRUE(mine);
  run.signal(SIGTERM);
  auto status = run.waitForExit();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

// `pelorin` with the arguments as another user (where the tests run as root), in the environment
// of the moment; nullopt when it could not be started.
std::optional<pid_t> spawnAsUser(uid_t user, gid_t group, const std::vector<std::string>& arguments,
                                 const std::string& output) {
  std::vector<std::string> all{PELORIN_EXECUTABLE};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return std::nullopt;
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    if (::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) ::_exit(126);
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(user) != 0))
      ::_exit(126);
    ::execve(argv[0], argv.data(), environ);
    ::_exit(127);
  }
  ::close(out);
  if (pid < 0) return std::nullopt;
  return pid;
}

TEST(PelorinExecutable, ASettingsFileItMayNotReadIsLeftAsItIsAfterALaunchAndAQuit) {
  namespace fs = std::filesystem;
  pltest::FakeServer sink;
  pltest::Sandbox sandbox;
  quietEndpoints(sandbox, sink);
  const std::string store = (sandbox.configHome() / "com.ordel42.zeravozezi.plist").string();
  const std::string settings =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>cacheSize</key><integer>20</integer><key>RepeatType</key><string>1</string>"
      "<key>preferredVideoQuality</key><string>1080</string></dict></plist>\n";
  fs::create_directories(sandbox.configHome());
  { std::ofstream(store, std::ios::binary) << settings; }
  // An ordinary user who owns the home: only the store's mode keeps the settings from it.
  const bool root = ::geteuid() == 0;
  const uid_t user = root ? 65534 : ::geteuid();
  const gid_t group = root ? 65534 : ::getegid();
  PassableFoldersAbove reachable(sandbox.root());
  if (root) {
    for (const auto& entry : fs::recursive_directory_iterator(sandbox.root()))
      ASSERT_EQ(::lchown(entry.path().c_str(), user, group), 0) << entry.path();
    ASSERT_EQ(::chown(sandbox.root().c_str(), user, group), 0);
    ASSERT_EQ(::chmod(sandbox.root().c_str(), 0755), 0);
  }
  ASSERT_EQ(::chmod(store.c_str(), 0), 0);

  const std::string output = sandbox.path("pelorin.log");
  auto pid = spawnAsUser(user, group, {"--headless"}, output);
  ASSERT_TRUE(pid);
  std::optional<int> status;
  auto ended = [&] {
    int s = 0;
    if (!status && ::waitpid(*pid, &s, WNOHANG) == *pid) status = s;
    return status.has_value();
  };
  const bool up = pltest::pumpUntil([&] { return launched(sandbox) || ended(); }, kWait);
  EXPECT_TRUE(up && !status) << std::ifstream(output).rdbuf();
  ::kill(*pid, SIGTERM);
  EXPECT_TRUE(pltest::pumpUntil(ended, kWait));
  if (!status) {
    ::kill(*pid, SIGKILL);
    ::waitpid(*pid, nullptr, 0);
  }
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;

  struct stat info {};
  ASSERT_EQ(::stat(store.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0u);
  ASSERT_EQ(::chmod(store.c_str(), 0600), 0);
  std::stringstream bytes;
  bytes << std::ifstream(store, std::ios::binary).rdbuf();
  EXPECT_EQ(bytes.str(), settings) << "the user's settings were written over";
  EXPECT_FALSE(fs::exists(store + ".corrupt"));
  std::stringstream log;
  log << std::ifstream(output).rdbuf();
  EXPECT_NE(log.str().find(store + " cannot be read (Permission denied)"), std::string::npos) << log.str();
}

TEST(PelorinExecutable, AMediaEngineThatCannotBeMadeIsNamedAndTheRunEndsWithStatusOne) {
  pltest::FakeServer sink;
  pltest::Sandbox sandbox;
  quietEndpoints(sandbox, sink);
  // libmpv refuses every instance; the sanitizer runtime then no longer comes first, which is
  // this run's doing.
  sandbox.set("LD_PRELOAD", std::string(PELORIN_REFUSE_MEDIA_ENGINE));
  const char* sanitizer = std::getenv("ASAN_OPTIONS");
  sandbox.set("ASAN_OPTIONS", std::string(sanitizer ? sanitizer : "") + ":verify_asan_link_order=0");
  Pelorin run({"--headless"}, sandbox.path("pelorin.log"));
  auto status = run.waitForExit();
  ASSERT_TRUE(status);
  std::ifstream in(sandbox.path("pelorin.log"));
  const std::string log(std::istreambuf_iterator<char>(in), {});
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status << "\n" << log;
  EXPECT_NE(log.find("pelorin: the player's media engine cannot be created (The media engine could not be "
                     "created.): no video can play"),
            std::string::npos)
      << log;
  // Headless, neither the presenter nor a web engine is wanted.
  EXPECT_EQ(log.find("presenter"), std::string::npos) << log;
  EXPECT_EQ(log.find("web engine"), std::string::npos) << log;
}

// The log lines in a file of standard error (not the sanitizers' report at exit).
std::vector<std::string> logLinesOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (line.find(" pelorin[") != std::string::npos) lines.push_back(line);
  return lines;
}

std::size_t refreshGrants(testsupport::FakeOAuthServer& oauth) {
  std::size_t count = 0;
  for (const auto& request : oauth.tokenRequests())
    if (request.params.count("grant_type") && request.params.at("grant_type") == "refresh_token") ++count;
  return count;
}

TEST(PelorinExecutable, ARefusedStoredSignInSignsOutWithOneLineAndLeavesNothingToRestore) {
  pltest::FakeServer sink;
  testsupport::FakeOAuthServer oauth;
  testsupport::FakeDataAPI api;
  pltest::Sandbox sandbox;
  ASSERT_NO_FATAL_FAILURE(keepSignInAtFakes(sandbox, sink, oauth, api));
  oauth.scriptTokenReply(pltest::FakeReply::json(400, R"({"error": "invalid_grant"})"), 10);
  const auto settingsFile = sandbox.configHome() / "com.ordel42.zeravozezi.plist";
  auto settingsText = [&] {
    std::ostringstream text;
    text << std::ifstream(settingsFile).rdbuf();
    return text.str();
  };
  ASSERT_NE(settingsText().find("OAuth2: Pelorin"), std::string::npos);

  const std::string errors = sandbox.path("errors.log");
  {
    Pelorin run({"--headless"}, sandbox.path("output.log"), {}, errors);
    ASSERT_GT(run.pid(), 0);
    ASSERT_TRUE(pltest::pumpUntil([&] { return !testsupport::keychainHoldsSignIn() || run.ended(); }, kWait))
        << std::ifstream(errors).rdbuf();
    ASSERT_FALSE(run.ended()) << std::ifstream(errors).rdbuf();
    ASSERT_TRUE(pltest::pumpUntil([&] { return launched(sandbox) && !logLinesOf(errors).empty(); }, kWait));
    run.signal(SIGTERM);
    auto status = run.waitForExit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  }
  EXPECT_EQ(refreshGrants(oauth), 1u);
  // No Data API call went out with a token: there was none to send.
  for (const auto& call : api.calls()) EXPECT_FALSE(call.headers.get("Authorization")) << call.method;
  auto lines = logLinesOf(errors);
  ASSERT_EQ(lines.size(), 1u) << std::ifstream(errors).rdbuf();
  EXPECT_NE(lines[0].find("a@example.com"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("expired"), std::string::npos) << lines[0];

  // What the next run would restore from is gone: the keychain item and the settings key that
  // tells it to look there.
  EXPECT_FALSE(testsupport::keychainHoldsSignIn());
  EXPECT_EQ(settingsText().find("OAuth2: Pelorin"), std::string::npos);
}

}  // namespace
