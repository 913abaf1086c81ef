#pragma once
// The layout of the analytics tree, which is its whole state:
//
//   root/v1/<state>/<session timestamp>_<session id>/<fragment timestamp>_<fragment id>/<n>.log
//
// "ACTIVE" holds fragments being written or waiting to be packaged, "PACKAGED" the gzip files
// ("<n>.log.zip") waiting for upload; a fragment being packaged carries the extension "prep".
// The repository names these places, makes them on demand, lists and moves them, and cleans up
// what does not belong. It has no lock: only the maintenance queue moves or removes folders, and
// the logging queues only make folders and append inside the open fragment.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/foundation/FileManager.h"

inline constexpr char CRSEventLogActiveStateName[] = "ACTIVE";
inline constexpr char CRSEventLogPackagedStateName[] = "PACKAGED";

class CRSEventLogSessionRepository : public ns::Object {
 public:
  // The kinds deleteItemAtPath_ifNotOfType_error keeps.
  enum ItemType { File = 0, Directory = 1 };
  // A clean-up rule: answers whether the item is to be removed (false with an error stops).
  using CleanUpBlock = std::function<bool(const std::string& url, bool* shouldDelete, ns::Error* error)>;

  explicit CRSEventLogSessionRepository(std::string rootDirectory);
  // nullptr for an empty root.
  static ns::Ref<CRSEventLogSessionRepository> initWithRootDirectoryURL(const std::string& root);
  static ns::Ref<CRSEventLogSessionRepository> initWithRootDirectoryPath(const std::string& root) {
    return initWithRootDirectoryURL(root);
  }

  const std::string& rootDirectoryURL() const { return root_; }
  static std::string versionDirectoryName() { return "v1"; }

  // Naming.
  static std::optional<std::string> activeEventLogFileNameForPriority(std::int64_t priority);
  static int priorityForEventLogFileWithName(const std::string& name);
  static std::string sessionDirectoryNameWithIdentifier_timestamp(const std::string& identifier,
                                                                  std::uint64_t timestamp);
  static std::string sessionFragmentDirectoryNameWithIdentifier_timestamp(const std::string& identifier,
                                                                          std::uint64_t timestamp);
  static std::string prepDirectoryForDirectoryURL(const std::string& url);
  static bool isPrepDirectoryURL(const std::string& url);
  static std::string stateDirectoryURLForSessionDirectoryURL(const std::string& url);
  static std::string sessionDirectoryURLForSessionFragmentDirectoryURL(const std::string& url);
  static std::string sessionFragmentDirectoryURLForLogFileURL(const std::string& url);
  // The path without "." and ".." steps, repeated or trailing slashes.
  static std::string standardizedPath(const std::string& path);

  // Places, made when missing.
  std::optional<std::string> statesDirectoryURL(ns::Error* error);
  std::optional<std::string> stateDirectoryURLForStateName_error(const std::string& state, ns::Error* error);
  std::optional<std::string> sessionDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_error(
      const std::string& state, const std::string& session, std::uint64_t sessionTimestamp, ns::Error* error);
  std::optional<std::string>
  sessionFragmentDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_error(
      const std::string& state, const std::string& session, std::uint64_t sessionTimestamp,
      const std::string& fragment, std::uint64_t fragmentTimestamp, ns::Error* error);
  // The fragment folder is made; the file is not.
  std::optional<std::string>
  eventLogFileURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_eventPriority_error(
      const std::string& state, const std::string& session, std::uint64_t sessionTimestamp,
      const std::string& fragment, std::uint64_t fragmentTimestamp, std::int64_t priority, ns::Error* error);
  std::optional<std::string> prepSessionFragmentDirectoryURLForStateName_sessionFragmentDirectoryURL_error(
      const std::string& state, const std::string& fragmentURL, ns::Error* error);
  // Each replaces an item of the other kind standing at the path.
  bool createDirectoryWithURL_error(const std::string& url, ns::Error* error);
  bool createFileWithURL_error(const std::string& url, ns::Error* error);
  bool deleteItemAtPath_ifNotOfType_error(const std::string& path, ItemType type, ns::Error* error);

  // Listings; hidden entries are skipped.
  std::optional<std::vector<std::string>> sessionDirectoryURLsForStateName_error(const std::string& state,
                                                                                 ns::Error* error);
  std::optional<std::vector<std::string>> sessionFragmentDirectoryURLsForSessionDirectory_error(
      const std::string& session, ns::Error* error);
  std::optional<std::vector<std::string>> logFileURLsForSessionFragmentDirectory_error(
      const std::string& fragment, ns::Error* error);
  // ACTIVE first, then PACKAGED; nothing on any listing error.
  std::optional<std::vector<std::string>> logFileURLsForAllStates(ns::Error* error);
  std::vector<std::string> arrayByFilteringNonDirectoriesFromURLs(const std::vector<std::string>& urls) const;
  std::optional<std::vector<std::string>> contentsOfDirectoryURL_error(const std::string& url,
                                                                       ns::Error* error) const;
  // A symbolic link is no folder here: walks never follow one out of the tree.
  bool isDirectoryURL(const std::string& url) const;
  static bool itemURL_hasNameMatching(const std::string& url, const std::string& name);
  static bool itemURL_hasPathExtensionMatching(const std::string& url, const std::string& extension);

  // Moving and removing.
  std::optional<std::string> removePrepStatusFromSessionFragmentDirectoryURL_error(const std::string& url,
                                                                                   ns::Error* error);
  bool purgePrepSessionFragmentDirectoriesForStateName_error(const std::string& state, ns::Error* error);
  // Also removes the session and state folders it leaves empty.
  bool removeSessionFragmentDirectory_error(const std::string& url, ns::Error* error);
  bool removeLogFile_error(const std::string& url, ns::Error* error);
  // An item the file system will not let us delete stays, without an error.
  bool deleteItemAtURL_error(const std::string& url, ns::Error* error);

  // Clean-up: keeps log files and the open fragment, removes everything else and empty folders.
  bool cleanUpEventLogRepositoryIgnorningSessionFragmentDirectoryURL_error(
      const std::optional<std::string>& openFragment, ns::Error* error);
  bool cleanUpStateDirectoryURL_ignoringSessionFragmentDirectoryURL_shouldDelete_error(
      const std::string& url, const std::optional<std::string>& openFragment, bool* shouldDelete,
      ns::Error* error);
  bool cleanUpSessionDirectoryURL_ignoringSessionFragmentDirectoryURL_shouldDelete_error(
      const std::string& url, const std::optional<std::string>& openFragment, bool* shouldDelete,
      ns::Error* error);
  bool cleanUpSessionFragmentDirectoryURL_shouldDelete_error(const std::string& url, bool* shouldDelete,
                                                             ns::Error* error);
  bool cleanUpLogFileURL_shouldDelete_error(const std::string& url, bool* shouldDelete, ns::Error* error);
  bool cleanUpDirectoryURL_shouldDelete_error_withCleanUpBlock(const std::string& url, bool* shouldDelete,
                                                               ns::Error* error, const CleanUpBlock& block);

  std::string className() const override { return "CRSEventLogSessionRepository"; }

 private:
  // Removes the folder when it is empty, then its parents up to (not including) "v1".
  bool removeEmptyDirectoriesFrom_error(std::string url, int levels, ns::Error* error);

  std::string root_;
  ns::Ref<ns::FileManager> fileManager_;
};
