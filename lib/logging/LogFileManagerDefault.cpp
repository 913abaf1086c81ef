#include "lib/logging/LogFileManagerDefault.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "lib/logging/LogHub.h"
#include "platform/core/Error.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/core/Str.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/SearchPaths.h"

namespace {

constexpr char kLogFileDateFormat[] = "yyyy'-'MM'-'dd' 'HH'-'mm'";

std::string join(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

std::vector<std::string> splitAtSpaces(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t space = text.find(' ', start);
    pieces.push_back(text.substr(start, space == std::string::npos ? std::string::npos : space - start));
    if (space == std::string::npos) return pieces;
    start = space + 1;
  }
}

bool isDecimalNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

LogFileManagerDefault::LogFileManagerDefault(std::optional<std::string> logsDirectory)
    : logsDirectory_(logsDirectory ? *logsDirectory : defaultLogsDirectory()) {}

std::string LogFileManagerDefault::defaultLogsDirectory() {
  std::string library = ns::userDirectory(ns::LibraryDirectory);
  if (library.empty()) library = ns::TemporaryDirectory();
  return join(join(library, "Logs"), ns::ProcessInfo::processInfo()->processName());
}

std::string LogFileManagerDefault::logsDirectory() {
  auto fm = ns::FileManager::defaultManager();
  if (!fm->fileExistsAtPath(logsDirectory_)) {
    ns::Error error;
    if (fm->createDirectoryAtPath_withIntermediateDirectories_attributes_error(logsDirectory_, true, {},
                                                                               &error)) {
      folderFailureReported_.store(false);
    } else if (!folderFailureReported_.exchange(true)) {
      // Once until the folder can be made: a file logger asks for every record, and with the
      // console log captured into the hub each report would come back as another record.
      ns::Log("FileLogManagerDefault: Error creating logsDirectory: %@", error.description());
    }
  }
  return logsDirectory_;
}

ns::DateFormatter& LogFileManagerDefault::logFileDateFormatter() {
  thread_local ns::Ref<ns::DateFormatter> formatter = [] {
    auto f = ns::make<ns::DateFormatter>();
    f->setLocale(ns::Locale("en_US_POSIX"));
    f->setDateFormat(kLogFileDateFormat);
    f->setTimeZone(ns::TimeZone::GMT());
    return f;
  }();
  return *formatter;
}

std::string LogFileManagerDefault::applicationName() {
  static const std::string name = [] {
    if (auto identifier = ns::Bundle::mainBundle()->bundleIdentifier(); identifier && !identifier->empty())
      return *identifier;
    return ns::ProcessInfo::processInfo()->processName();
  }();
  return name;
}

bool LogFileManagerDefault::isLogFile(const std::string& fileName) {
  const std::string app = applicationName();
  const std::string suffix = ".log";
  if (fileName.size() < app.size() + suffix.size()) return false;
  if (fileName.compare(0, app.size(), app) != 0) return false;
  if (fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  std::string middle = fileName.substr(app.size(), fileName.size() - app.size() - suffix.size());
  if (ns::str::utf16Length(middle) < 17) return false;
  std::vector<std::string> pieces = splitAtSpaces(middle);
  if (pieces.size() != 3 && pieces.size() != 4) return false;
  // The name must continue the application name with a space: "Pelorin 2014-..." is not a file
  // of "Pel". A fourth piece is the collision number.
  if (!pieces[0].empty()) return false;
  if (pieces.size() == 4 && !isDecimalNumber(pieces[3])) return false;
  return logFileDateFormatter().dateFromString(pieces[1] + " " + pieces[2]).has_value();
}

std::vector<std::string> LogFileManagerDefault::unsortedLogFilePaths() {
  // Listed without being made: a folder that was removed has no files, and a late prune must not
  // bring it back.
  const std::string& folder = logsDirectory_;
  std::vector<std::string> paths;
  auto names = ns::FileManager::defaultManager()->contentsOfDirectoryAtPath_error(folder, nullptr);
  if (!names) return paths;
  for (const auto& name : *names) {
    if (!isLogFile(name)) continue;
    // Only plain files are ours: a link is not followed (its target may be anywhere), and a
    // folder or pipe with a log file's name can be neither written nor pruned.
    std::string path = join(folder, name);
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) paths.push_back(std::move(path));
  }
  return paths;
}

std::vector<std::string> LogFileManagerDefault::unsortedLogFileNames() {
  std::vector<std::string> names;
  for (const auto& path : unsortedLogFilePaths())
    names.push_back(std::filesystem::path(path).filename().string());
  return names;
}

std::vector<ns::Ref<LogFileInfo>> LogFileManagerDefault::unsortedLogFileInfos() {
  std::vector<ns::Ref<LogFileInfo>> infos;
  for (const auto& path : unsortedLogFilePaths()) infos.push_back(LogFileInfo::logFileWithPath(path));
  return infos;
}

std::vector<ns::Ref<LogFileInfo>> LogFileManagerDefault::sortedLogFileInfos() {
  auto infos = unsortedLogFileInfos();
  const std::size_t dateStart = applicationName().size() + 1;
  // File times are only as fine as the kernel's tick, so files made one after the other often
  // share a creation date; their names, minute and then collision number, tell them apart.
  auto nameOrder = [dateStart](const std::string& name) {
    std::string date = name.substr(dateStart, 16);
    unsigned long long number = 1;
    if (name.size() > dateStart + 16 + 4 && name[dateStart + 16] == ' ')
      number =
          std::strtoull(name.substr(dateStart + 17, name.size() - 4 - dateStart - 17).c_str(), nullptr, 10);
    return std::make_pair(date, number);
  };
  std::stable_sort(infos.begin(), infos.end(), [&](const auto& a, const auto& b) {
    ns::ComparisonResult byDate = a->reverseCompareByCreationDate(*b);
    if (byDate != ns::OrderedSame) return byDate == ns::OrderedAscending;
    return nameOrder(a->fileName()) > nameOrder(b->fileName());
  });
  return infos;
}

std::vector<std::string> LogFileManagerDefault::sortedLogFilePaths() {
  std::vector<std::string> paths;
  for (const auto& info : sortedLogFileInfos()) paths.push_back(info->filePath());
  return paths;
}

std::vector<std::string> LogFileManagerDefault::sortedLogFileNames() {
  std::vector<std::string> names;
  for (const auto& info : sortedLogFileInfos()) names.push_back(info->fileName());
  return names;
}

std::string LogFileManagerDefault::newLogFileName() {
  return ns::format("%@ %@.log", applicationName(), logFileDateFormatter().stringFromDate(ns::Date::now()));
}

std::optional<std::string> LogFileManagerDefault::createNewLogFile() {
  const std::string fileName = newLogFileName();
  const std::string folder = logsDirectory();
  const std::filesystem::path plain(fileName);
  const std::string stem = plain.has_extension() ? plain.stem().string() : fileName;
  const std::string extension = plain.extension().string();
  for (unsigned long number = 1;; ++number) {
    std::string name = number == 1 ? fileName : ns::format("%@ %lu%@", stem, number, extension);
    std::string path = join(folder, name);
    // Made exclusively, so that two loggers never share a name.
    int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      deleteOldLogFiles();
      return path;
    }
    if (errno == EEXIST) continue;
    return std::nullopt;  // the file logger counts and reports the record it loses
  }
}

void LogFileManagerDefault::deleteOldLogFiles() {
  std::vector<ns::Ref<LogFileInfo>> infos = sortedLogFileInfos();
  const std::uint64_t quota = logFilesDiskQuota();
  const std::uint64_t countLimit = maximumNumberOfLogFiles();

  std::optional<std::size_t> quotaCut;
  if (quota != 0) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < infos.size(); ++i) {
      total += infos[i]->fileSize();
      if (total > quota) {
        quotaCut = i;
        break;
      }
    }
  }
  std::size_t cut;
  if (!quotaCut) {
    if (countLimit == 0) return;
    cut = static_cast<std::size_t>(std::min<std::uint64_t>(countLimit, infos.size()));
  } else if (countLimit == 0) {
    cut = *quotaCut;
  } else {
    cut = static_cast<std::size_t>(std::min<std::uint64_t>(countLimit, *quotaCut));
  }
  // The file being written is never deleted.
  if (cut == 0 && !infos.empty() && !infos[0]->isArchived()) cut = 1;

  // unlink: a folder that happens to carry a log file's name is left alone.
  for (std::size_t i = cut; i < infos.size(); ++i) {
    if (::unlink(infos[i]->filePath().c_str()) == 0) LogFileInfo::removeCompanionMarks(infos[i]->filePath());
  }
}

void LogFileManagerDefault::pruneOnLoggingQueue() {
  ns::Ref<LogFileManagerDefault> self = ns::Object::self<LogFileManagerDefault>();
  LogHub::runBetweenRecords([self] { self->deleteOldLogFiles(); }, false);
}

void LogFileManagerDefault::setMaximumNumberOfLogFiles(std::uint64_t count) {
  if (maximumNumberOfLogFiles_.exchange(count) != count) pruneOnLoggingQueue();
}

void LogFileManagerDefault::setLogFilesDiskQuota(std::uint64_t bytes) {
  if (logFilesDiskQuota_.exchange(bytes) != bytes) pruneOnLoggingQueue();
}
