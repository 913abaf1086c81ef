#include "CrashReporter/CRSEventLog/CRSEventLogSessionRepository.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/core/Format.h"

namespace fs = std::filesystem;

namespace {

std::string lastComponent(const std::string& url) {
  return fs::path(CRSEventLogSessionRepository::standardizedPath(url)).filename().string();
}

std::string parentOf(const std::string& url) {
  return fs::path(CRSEventLogSessionRepository::standardizedPath(url)).parent_path().string();
}

std::string join(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

// A plain file named like a log. Links are not log files: packaging and upload would read what
// they point to, wherever that is.
bool isLogFileURL(const std::string& url) {
  std::error_code code;
  if (fs::symlink_status(url, code).type() != fs::file_type::regular) return false;
  return CRSEventLogSessionRepository::itemURL_hasPathExtensionMatching(url, "log") ||
         CRSEventLogSessionRepository::itemURL_hasPathExtensionMatching(url, "zip");
}

bool itemExists(const std::string& path) {
  std::error_code code;
  return fs::symlink_status(path, code).type() != fs::file_type::not_found && !code;
}

}  // namespace

CRSEventLogSessionRepository::CRSEventLogSessionRepository(std::string rootDirectory)
    : root_(standardizedPath(rootDirectory)), fileManager_(ns::make<ns::FileManager>()) {}

ns::Ref<CRSEventLogSessionRepository> CRSEventLogSessionRepository::initWithRootDirectoryURL(
    const std::string& root) {
  if (root.empty()) return nullptr;
  return ns::make<CRSEventLogSessionRepository>(root);
}

// ---- naming ----

std::optional<std::string> CRSEventLogSessionRepository::activeEventLogFileNameForPriority(
    std::int64_t priority) {
  if (priority < 0 || priority > 2) return std::nullopt;
  return ns::format("%lld.log", static_cast<long long>(priority));
}

int CRSEventLogSessionRepository::priorityForEventLogFileWithName(const std::string& name) {
  fs::path path(name);
  for (const std::string& candidate : {path.string(), path.stem().string()}) {
    for (int priority = 0; priority <= 2; ++priority) {
      if (candidate == *activeEventLogFileNameForPriority(priority)) return priority;
    }
  }
  return -1;
}

std::string CRSEventLogSessionRepository::sessionDirectoryNameWithIdentifier_timestamp(
    const std::string& identifier, std::uint64_t timestamp) {
  return ns::format("%llu_%@", static_cast<unsigned long long>(timestamp), identifier);
}

std::string CRSEventLogSessionRepository::sessionFragmentDirectoryNameWithIdentifier_timestamp(
    const std::string& identifier, std::uint64_t timestamp) {
  return sessionDirectoryNameWithIdentifier_timestamp(identifier, timestamp);
}

std::string CRSEventLogSessionRepository::prepDirectoryForDirectoryURL(const std::string& url) {
  return standardizedPath(url) + ".prep";
}

bool CRSEventLogSessionRepository::isPrepDirectoryURL(const std::string& url) {
  return itemURL_hasPathExtensionMatching(url, "prep");
}

std::string CRSEventLogSessionRepository::stateDirectoryURLForSessionDirectoryURL(const std::string& url) {
  return parentOf(url);
}
std::string CRSEventLogSessionRepository::sessionDirectoryURLForSessionFragmentDirectoryURL(
    const std::string& url) {
  return parentOf(url);
}
std::string CRSEventLogSessionRepository::sessionFragmentDirectoryURLForLogFileURL(const std::string& url) {
  return parentOf(url);
}

std::string CRSEventLogSessionRepository::standardizedPath(const std::string& path) {
  if (path.empty()) return path;
  std::string out = fs::path(path).lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// ---- places ----

std::optional<std::string> CRSEventLogSessionRepository::statesDirectoryURL(ns::Error* error) {
  std::string url = join(root_, versionDirectoryName());
  if (!createDirectoryWithURL_error(url, error)) return std::nullopt;
  return url;
}

std::optional<std::string> CRSEventLogSessionRepository::stateDirectoryURLForStateName_error(
    const std::string& state, ns::Error* error) {
  auto states = statesDirectoryURL(error);
  if (!states) return std::nullopt;
  std::string url = join(*states, state);
  if (!createDirectoryWithURL_error(url, error)) return std::nullopt;
  return url;
}

std::optional<std::string>
CRSEventLogSessionRepository::sessionDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_error(
    const std::string& state, const std::string& session, std::uint64_t sessionTimestamp, ns::Error* error) {
  auto stateURL = stateDirectoryURLForStateName_error(state, error);
  if (!stateURL) return std::nullopt;
  std::string url = join(*stateURL, sessionDirectoryNameWithIdentifier_timestamp(session, sessionTimestamp));
  if (!createDirectoryWithURL_error(url, error)) return std::nullopt;
  return url;
}

std::optional<std::string> CRSEventLogSessionRepository::
    sessionFragmentDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_error(
        const std::string& state, const std::string& session, std::uint64_t sessionTimestamp,
        const std::string& fragment, std::uint64_t fragmentTimestamp, ns::Error* error) {
  auto sessionURL = sessionDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_error(
      state, session, sessionTimestamp, error);
  if (!sessionURL) return std::nullopt;
  std::string url =
      join(*sessionURL, sessionFragmentDirectoryNameWithIdentifier_timestamp(fragment, fragmentTimestamp));
  if (!createDirectoryWithURL_error(url, error)) return std::nullopt;
  return url;
}

std::optional<std::string> CRSEventLogSessionRepository::
    eventLogFileURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_eventPriority_error(
        const std::string& state, const std::string& session, std::uint64_t sessionTimestamp,
        const std::string& fragment, std::uint64_t fragmentTimestamp, std::int64_t priority,
        ns::Error* error) {
  auto name = activeEventLogFileNameForPriority(priority);
  if (!name) {
    ns::setError(error, ns::Error::posix(EINVAL));
    return std::nullopt;
  }
  auto fragmentURL =
      sessionFragmentDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_error(
          state, session, sessionTimestamp, fragment, fragmentTimestamp, error);
  if (!fragmentURL) return std::nullopt;
  return join(*fragmentURL, *name);
}

std::optional<std::string>
CRSEventLogSessionRepository::prepSessionFragmentDirectoryURLForStateName_sessionFragmentDirectoryURL_error(
    const std::string& state, const std::string& fragmentURL, ns::Error* error) {
  fs::path fragment(standardizedPath(fragmentURL));
  std::size_t components = 0;
  for (const auto& part : fragment) {
    if (!part.empty()) ++components;
  }
  if (components < 3) {
    ns::setError(error, ns::Error::posix(EINVAL, fragmentURL));
    return std::nullopt;
  }
  auto stateURL = stateDirectoryURLForStateName_error(state, error);
  if (!stateURL) return std::nullopt;
  std::string url = prepDirectoryForDirectoryURL(
      join(join(*stateURL, fragment.parent_path().filename().string()), fragment.filename().string()));
  if (!createDirectoryWithURL_error(url, error)) return std::nullopt;
  return url;
}

bool CRSEventLogSessionRepository::deleteItemAtPath_ifNotOfType_error(const std::string& path, ItemType type,
                                                                      ns::Error* error) {
  std::error_code code;
  auto status = fs::symlink_status(path, code);
  if (status.type() == fs::file_type::not_found) return true;
  bool isDirectory = status.type() == fs::file_type::directory;
  if ((type == Directory) == isDirectory) return true;
  return fileManager_->removeItemAtPath_error(path, error);
}

bool CRSEventLogSessionRepository::createDirectoryWithURL_error(const std::string& url, ns::Error* error) {
  if (isDirectoryURL(url)) return true;
  if (!deleteItemAtPath_ifNotOfType_error(url, Directory, error)) return false;
  return fileManager_->createDirectoryAtPath_withIntermediateDirectories_attributes_error(url, true, {},
                                                                                          error);
}

bool CRSEventLogSessionRepository::createFileWithURL_error(const std::string& url, ns::Error* error) {
  std::error_code code;
  if (fs::symlink_status(url, code).type() == fs::file_type::regular) return true;
  if (!deleteItemAtPath_ifNotOfType_error(url, File, error)) return false;
  int fd = ::open(url.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    ns::setError(error, ns::Error::fromErrno(url));
    return false;
  }
  ::close(fd);
  return true;
}

// ---- listings ----

std::optional<std::vector<std::string>> CRSEventLogSessionRepository::contentsOfDirectoryURL_error(
    const std::string& url, ns::Error* error) const {
  auto names = fileManager_->contentsOfDirectoryAtPath_error(url, error);
  if (!names) return std::nullopt;
  std::vector<std::string> urls;
  for (const auto& name : *names) {
    if (!name.empty() && name[0] != '.') urls.push_back(join(url, name));
  }
  return urls;
}

bool CRSEventLogSessionRepository::isDirectoryURL(const std::string& url) const {
  std::error_code code;
  return fs::symlink_status(url, code).type() == fs::file_type::directory;
}

std::vector<std::string> CRSEventLogSessionRepository::arrayByFilteringNonDirectoriesFromURLs(
    const std::vector<std::string>& urls) const {
  std::vector<std::string> out;
  for (const auto& url : urls) {
    if (isDirectoryURL(url)) out.push_back(url);
  }
  return out;
}

bool CRSEventLogSessionRepository::itemURL_hasNameMatching(const std::string& url, const std::string& name) {
  return lastComponent(url) == name;
}

bool CRSEventLogSessionRepository::itemURL_hasPathExtensionMatching(const std::string& url,
                                                                    const std::string& extension) {
  std::string ext = fs::path(lastComponent(url)).extension().string();
  return !ext.empty() && ext.substr(1) == extension;
}

std::optional<std::vector<std::string>> CRSEventLogSessionRepository::sessionDirectoryURLsForStateName_error(
    const std::string& state, ns::Error* error) {
  auto stateURL = stateDirectoryURLForStateName_error(state, error);
  if (!stateURL) return std::nullopt;
  auto contents = contentsOfDirectoryURL_error(*stateURL, error);
  if (!contents) return std::nullopt;
  return arrayByFilteringNonDirectoriesFromURLs(*contents);
}

std::optional<std::vector<std::string>>
CRSEventLogSessionRepository::sessionFragmentDirectoryURLsForSessionDirectory_error(
    const std::string& session, ns::Error* error) {
  auto contents = contentsOfDirectoryURL_error(session, error);
  if (!contents) return std::nullopt;
  return arrayByFilteringNonDirectoriesFromURLs(*contents);
}

std::optional<std::vector<std::string>>
CRSEventLogSessionRepository::logFileURLsForSessionFragmentDirectory_error(const std::string& fragment,
                                                                           ns::Error* error) {
  auto contents = contentsOfDirectoryURL_error(fragment, error);
  if (!contents) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& url : *contents) {
    if (isLogFileURL(url)) out.push_back(url);
  }
  return out;
}

std::optional<std::vector<std::string>> CRSEventLogSessionRepository::logFileURLsForAllStates(
    ns::Error* error) {
  std::vector<std::string> out;
  for (const char* state : {CRSEventLogActiveStateName, CRSEventLogPackagedStateName}) {
    auto sessions = sessionDirectoryURLsForStateName_error(state, error);
    if (!sessions) return std::nullopt;
    for (const auto& session : *sessions) {
      auto fragments = sessionFragmentDirectoryURLsForSessionDirectory_error(session, error);
      if (!fragments) return std::nullopt;
      for (const auto& fragment : *fragments) {
        auto files = logFileURLsForSessionFragmentDirectory_error(fragment, error);
        if (!files) return std::nullopt;
        out.insert(out.end(), files->begin(), files->end());
      }
    }
  }
  return out;
}

// ---- moving and removing ----

std::optional<std::string>
CRSEventLogSessionRepository::removePrepStatusFromSessionFragmentDirectoryURL_error(const std::string& url,
                                                                                    ns::Error* error) {
  if (!isPrepDirectoryURL(url)) {
    ns::setError(error, ns::Error::posix(EINVAL, url));
    return std::nullopt;
  }
  std::string source = standardizedPath(url);
  std::string target = source.substr(0, source.size() - 5);
  if (itemExists(target) && !fileManager_->removeItemAtPath_error(target, error)) return std::nullopt;
  if (!fileManager_->moveItemAtPath_toPath_error(source, target, error)) return std::nullopt;
  return target;
}

bool CRSEventLogSessionRepository::purgePrepSessionFragmentDirectoriesForStateName_error(
    const std::string& state, ns::Error* error) {
  auto sessions = sessionDirectoryURLsForStateName_error(state, error);
  if (!sessions) return false;
  for (const auto& session : *sessions) {
    auto fragments = sessionFragmentDirectoryURLsForSessionDirectory_error(session, error);
    if (!fragments) return false;
    for (const auto& fragment : *fragments) {
      if (isPrepDirectoryURL(fragment) && !deleteItemAtURL_error(fragment, error)) return false;
    }
  }
  return true;
}

bool CRSEventLogSessionRepository::removeEmptyDirectoriesFrom_error(std::string url, int levels,
                                                                    ns::Error* error) {
  for (int i = 0; i < levels; ++i) {
    if (!isDirectoryURL(url)) return true;
    auto contents = contentsOfDirectoryURL_error(url, error);
    if (!contents) return false;
    if (!contents->empty()) return true;
    if (!deleteItemAtURL_error(url, error)) return false;
    url = parentOf(url);
  }
  return true;
}

bool CRSEventLogSessionRepository::removeSessionFragmentDirectory_error(const std::string& url,
                                                                        ns::Error* error) {
  if (!deleteItemAtURL_error(url, error)) return false;
  return removeEmptyDirectoriesFrom_error(sessionDirectoryURLForSessionFragmentDirectoryURL(url), 2, error);
}

bool CRSEventLogSessionRepository::removeLogFile_error(const std::string& url, ns::Error* error) {
  if (!deleteItemAtURL_error(url, error)) return false;
  std::string fragment = sessionFragmentDirectoryURLForLogFileURL(url);
  auto contents = contentsOfDirectoryURL_error(fragment, error);
  if (!contents) return false;
  if (!contents->empty()) return true;
  return removeSessionFragmentDirectory_error(fragment, error);
}

bool CRSEventLogSessionRepository::deleteItemAtURL_error(const std::string& url, ns::Error* error) {
  if (!fileManager_->isDeletableFileAtPath(url)) return true;
  return fileManager_->removeItemAtPath_error(url, error);
}

// ---- clean-up ----

bool CRSEventLogSessionRepository::cleanUpDirectoryURL_shouldDelete_error_withCleanUpBlock(
    const std::string& url, bool* shouldDelete, ns::Error* error, const CleanUpBlock& block) {
  if (!isDirectoryURL(url)) {
    *shouldDelete = true;
    return true;
  }
  auto contents = contentsOfDirectoryURL_error(url, error);
  if (!contents) return false;
  bool kept = false;
  for (const auto& child : *contents) {
    bool remove = false;
    if (!block(child, &remove, error)) return false;
    if (!remove) {
      kept = true;
    } else if (!deleteItemAtURL_error(child, error)) {
      return false;
    }
  }
  *shouldDelete = !kept;
  return true;
}

bool CRSEventLogSessionRepository::cleanUpLogFileURL_shouldDelete_error(const std::string& url,
                                                                        bool* shouldDelete, ns::Error*) {
  *shouldDelete = !isLogFileURL(url);
  return true;
}

bool CRSEventLogSessionRepository::cleanUpSessionFragmentDirectoryURL_shouldDelete_error(
    const std::string& url, bool* shouldDelete, ns::Error* error) {
  return cleanUpDirectoryURL_shouldDelete_error_withCleanUpBlock(
      url, shouldDelete, error, [this](const std::string& child, bool* remove, ns::Error* e) {
        return cleanUpLogFileURL_shouldDelete_error(child, remove, e);
      });
}

bool CRSEventLogSessionRepository::
    cleanUpSessionDirectoryURL_ignoringSessionFragmentDirectoryURL_shouldDelete_error(
        const std::string& url, const std::optional<std::string>& openFragment, bool* shouldDelete,
        ns::Error* error) {
  std::optional<std::string> open;
  if (openFragment) open = standardizedPath(*openFragment);
  return cleanUpDirectoryURL_shouldDelete_error_withCleanUpBlock(
      url, shouldDelete, error, [this, open](const std::string& child, bool* remove, ns::Error* e) {
        if (open && standardizedPath(child) == *open) {
          *remove = false;
          return true;
        }
        return cleanUpSessionFragmentDirectoryURL_shouldDelete_error(child, remove, e);
      });
}

bool CRSEventLogSessionRepository::
    cleanUpStateDirectoryURL_ignoringSessionFragmentDirectoryURL_shouldDelete_error(
        const std::string& url, const std::optional<std::string>& openFragment, bool* shouldDelete,
        ns::Error* error) {
  return cleanUpDirectoryURL_shouldDelete_error_withCleanUpBlock(
      url, shouldDelete, error, [this, openFragment](const std::string& child, bool* remove, ns::Error* e) {
        return cleanUpSessionDirectoryURL_ignoringSessionFragmentDirectoryURL_shouldDelete_error(
            child, openFragment, remove, e);
      });
}

bool CRSEventLogSessionRepository::cleanUpEventLogRepositoryIgnorningSessionFragmentDirectoryURL_error(
    const std::optional<std::string>& openFragment, ns::Error* error) {
  auto states = statesDirectoryURL(error);
  if (!states) return false;
  bool unused = false;
  return cleanUpDirectoryURL_shouldDelete_error_withCleanUpBlock(
      *states, &unused, error, [this, openFragment](const std::string& child, bool* remove, ns::Error* e) {
        if (!itemURL_hasNameMatching(child, CRSEventLogActiveStateName) &&
            !itemURL_hasNameMatching(child, CRSEventLogPackagedStateName)) {
          *remove = true;
          return true;
        }
        return cleanUpStateDirectoryURL_ignoringSessionFragmentDirectoryURL_shouldDelete_error(
            child, openFragment, remove, e);
      });
}
