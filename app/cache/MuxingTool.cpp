#include "app/cache/MuxingTool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>

#include "common/CacheUtilities.h"
#include "lib/net/HTTPRequestOperation.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Task.h"
#include "platform/net/URL.h"
#include "platform/security/Digest.h"

namespace {

std::atomic<bool> fetching{false};
std::atomic<float> fetchProgress{0};

std::string basePath() {
  return getCacheBasePath();
}

bool itemExists(const std::string& path) {
  return ns::FileManager::defaultManager()->attributesOfItemAtPath_error(path, nullptr).has_value();
}

std::uint64_t fileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// An executable regular file named "ffmpeg" in a folder of PATH.
std::string ffmpegOnPath() {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::string list(path);
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string folder = list.substr(start, end - start);
    if (!folder.empty() && folder.front() == '/') {
      std::string candidate = folder + "/ffmpeg";
      struct stat info {};
      if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
          ::access(candidate.c_str(), X_OK) == 0)
        return candidate;
    }
    start = end + 1;
  }
  return {};
}

// Fetches `resourcePath` gzipped and unpacks it to `finalPath`, working under temporary names
// beside it; calls `done` (off the main thread) with whether the file is in place.
void fetchGzipped(const std::string& resourcePath, const std::string& finalPath, bool executable,
                  const std::string& expectedSHA256, std::function<void(bool)> done) {
  auto url = ns::URL::URLWithString(makerFilesBaseURL() + resourcePath);
  std::string partial = finalPath + ".download";
  std::string packed = partial + ".gz";
  auto manager = ns::FileManager::defaultManager();
  manager->removeItemAtPath_error(packed, nullptr);
  manager->removeItemAtPath_error(partial, nullptr);
  if (!url) {
    done(false);
    return;
  }
  auto op = HTTPRequestOperation::initWithRequest(ns::URLRequest::requestWithURL(url));
  op->setOutputStream(ns::OutputStream::outputStreamToFileAtPath_append(packed, false));
  op->setDownloadProgressBlock([](long, long long read, long long expected) {
    if (expected > 0) fetchProgress = static_cast<float>(read) / static_cast<float>(expected);
  });
  auto background = dispatch::globalQueue();
  op->setSuccessCallbackQueue(background);
  op->setFailureCallbackQueue(background);
  auto finish = [packed, partial, finalPath, executable, expectedSHA256, done](bool ok) {
    auto manager = ns::FileManager::defaultManager();
    if (ok) ok = runTask("/usr/bin/gzip", {"-d", packed}, true) == 0 && itemExists(partial);
    if (ok && executable) ok = runTask("/bin/chmod", {"755", partial}, true) == 0;
    if (ok && !expectedSHA256.empty()) {
      auto contents = ns::dataWithContentsOfFile(partial);
      ok = contents && sec::digestHex(sec::DigestAlgorithm::SHA256,
                                      std::string_view(reinterpret_cast<const char*>(contents->bytes()),
                                                       contents->length())) == expectedSHA256;
      if (!ok) ns::LogWarning("ffmpeg checksum mismatch");
    }
    if (ok) ok = ::rename(partial.c_str(), finalPath.c_str()) == 0;
    manager->removeItemAtPath_error(packed, nullptr);
    manager->removeItemAtPath_error(partial, nullptr);
    done(ok);
  };
  op->setCompletionBlockWithSuccess_failure(
      [packed, finish](const ns::Ref<HTTPRequestOperation>& op, const std::optional<ns::Data>&) {
        auto response = op->response();
        long long expected = response ? response->expectedContentLength() : -1;
        bool complete = expected < 0 || fileSize(packed) == static_cast<std::uint64_t>(expected);
        finish(complete);
      },
      [finish](const ns::Ref<HTTPRequestOperation>&, const ns::Error& error) {
        ns::LogWarning("ffmpeg download error: %@", error.localizedDescription());
        finish(false);
      });
  op->start();
}

}  // namespace

std::string makerFilesBaseURL() {
  const char* env = std::getenv(kMakerFilesURLEnvironmentKey);
  std::string url = env && *env ? env : kBuiltInMakerFilesURL;
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

std::string getFFmpegPath() {
  return basePath() + "/ffmpeg";
}

bool isFFmpegDownloading() {
  return fetching;
}

int runTask(const std::string& launchPath, const std::vector<std::string>& arguments, bool readOutput) {
  auto task = ns::make<ns::Task>();
  task->setLaunchPath(launchPath);
  task->setArguments(arguments);
  ns::Ref<ns::Pipe> pipe;
  if (readOutput) {
    pipe = ns::Pipe::pipe();
    task->setStandardOutput(pipe);
  }
  if (!task->launchAndReturnError(nullptr)) return -1;
  if (pipe) pipe->fileHandleForReading()->readDataToEndOfFile();
  task->waitUntilExit();
  if (task->terminationReason() != ns::TaskTerminationReasonExit) return -1;
  return task->terminationStatus();
}

void downloadFFmpegIfNeeded() {
  std::string tool = getFFmpegPath();
  if (itemExists(tool)) {
    ns::Log("ffmpeg exists!");
    return;
  }
  if (std::string found = ffmpegOnPath(); !found.empty()) {
    ns::FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
        basePath(), true, {}, nullptr);
    if (::symlink(found.c_str(), tool.c_str()) == 0 || itemExists(tool)) {
      ns::Log("ffmpeg linked from %@", found);
      return;
    }
  }
  if (fetching.exchange(true)) {
    ns::Log("ffmpeg already downloading! %g", static_cast<double>(fetchProgress.load()));
    return;
  }
  fetchProgress = 0;
  ns::FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
      basePath(), true, {}, nullptr);
  const char* sha = std::getenv(kMakerFFmpegSHA256EnvironmentKey);
  // The flag stays up until both transfers are done, so that a new fetch never works on the
  // files of one still running.
  auto pending = std::make_shared<std::atomic<int>>(2);
  auto transferDone = [pending] {
    if (--*pending == 0) fetching = false;
  };
  fetchGzipped(kFFmpegLicenseResourcePath, basePath() + "/FFMPEG_License.txt", false, "",
               [transferDone](bool) { transferDone(); });
  fetchGzipped(kFFmpegResourcePath, tool, true, sha ? sha : "", [transferDone](bool ok) {
    ns::Log(ok ? "ffmpeg downloaded" : "ffmpeg download failed");
    transferDone();
  });
}

bool mergeDashStreams(const std::string& videoPath, const std::string& audioPath,
                      const std::string& outputPath, bool* toolMissing) {
  if (toolMissing) *toolMissing = false;
  std::string tool = getFFmpegPath();
  if (!itemExists(tool)) {
    if (toolMissing) *toolMissing = true;
    downloadFFmpegIfNeeded();
    return false;
  }
  // A linked system tool is left as it is.
  struct stat link {};
  if (::lstat(tool.c_str(), &link) == 0 && !S_ISLNK(link.st_mode)) runTask("/bin/chmod", {"755", tool}, true);
  ns::FileManager::defaultManager()->removeItemAtPath_error(outputPath, nullptr);
  int status = runTask(
      tool, {"-loglevel", "panic", "-y", "-i", videoPath, "-i", audioPath, "-c", "copy", outputPath}, true);
  return status == 0 && fileSize(outputPath) > 0;
}
