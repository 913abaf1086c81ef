#include "tests/app/cache/MediaServerKit.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <random>

#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Pipe.h"
#include "platform/foundation/Task.h"
#include "tests/app/cache/CacheTestKit.h"

namespace mediatest {

namespace {

struct Transfer {
  HttpResult* result;
  const std::function<void()>* onFirstBytes;
  bool sawBytes = false;
};

size_t onBody(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  if (!transfer->sawBytes && size * count > 0) {
    transfer->sawBytes = true;
    if (*transfer->onFirstBytes) (*transfer->onFirstBytes)();
  }
  transfer->result->body.append(data, size * count);
  return size * count;
}

size_t onHeader(char* data, size_t size, size_t count, void* context) {
  auto* result = static_cast<HttpResult*>(context);
  std::string line(data, size * count);
  auto colon = line.find(':');
  if (colon != std::string::npos) {
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string value = line.substr(colon + 1);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front()))) value.erase(0, 1);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
    result->headers[name] = value;
  }
  return size * count;
}

int openListener(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string run(const std::string& program, const std::vector<std::string>& arguments) {
  auto task = ns::make<ns::Task>();
  task->setLaunchPath(program);
  task->setArguments(arguments);
  auto pipe = ns::Pipe::pipe();
  task->setStandardOutput(pipe);
  if (!task->launchAndReturnError(nullptr)) return {};
  ns::Data data = pipe->fileHandleForReading()->readDataToEndOfFile();
  task->waitUntilExit();
  if (task->terminationStatus() != 0) return {};
  return std::string(reinterpret_cast<const char*>(data.bytes()), data.length());
}

std::string decodeFrames(const std::string& url, int count) {
  // The progress report goes to standard output.
  return run("/usr/bin/ffmpeg", {"-loglevel", "error", "-nostats", "-progress", "pipe:1", "-i", url,
                                 "-frames:v", std::to_string(count), "-f", "null", "-"});
}

HttpResult curlGet(const std::string& url, const std::optional<std::string>& range,
                   const std::function<void()>& onFirstBytes, double timeoutSeconds, bool head) {
  HttpResult result;
  Transfer transfer{&result, &onFirstBytes};
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutSeconds * 1000));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result);
  if (head) curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  struct curl_slist* headers = nullptr;
  if (range) headers = curl_slist_append(headers, ("Range: " + *range).c_str());
  if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
  result.ok = code == CURLE_OK;
  if (!result.ok) result.error = curl_easy_strerror(code);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return result;
}

HeldPort::HeldPort(int port) : fd_(openListener(port)) {}

HeldPort::~HeldPort() {
  if (fd_ >= 0) ::close(fd_);
}

bool portIsFree(int port) {
  int fd = openListener(port);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

PortRange holdTwoPorts() {
  std::mt19937 random(std::random_device{}());
  // Below the ephemeral ports (32768 and up), where connections of other tests do not land.
  std::uniform_int_distribution<int> pick(20000, 32000);
  for (int attempt = 0; attempt < 200; ++attempt) {
    PortRange range;
    range.first = pick(random);
    range.p0 = std::make_unique<HeldPort>(range.first);
    range.p1 = std::make_unique<HeldPort>(range.first + 1);
    if (range.p0->held() && range.p1->held() && portIsFree(range.first + 2)) return range;
  }
  return {};
}

std::string makeSmallMp4(const std::string& folder) {
  std::string path = folder + "/small.mp4";
  run("/usr/bin/ffmpeg",
      {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=duration=2:size=160x120:rate=10", "-an",
       "-c:v", "mpeg4", "-movflags", "+faststart", path});
  return cachetest::readFile(path);
}

std::string ffprobeStreams(const std::string& url) {
  return run("/usr/bin/ffprobe", {"-loglevel", "error", "-show_streams", url});
}

}  // namespace mediatest
