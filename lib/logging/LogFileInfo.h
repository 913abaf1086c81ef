#pragma once
// One log file on disk: its path, name, dates, size and age, read from the file system on first
// use and kept until reset() (a cached size of 0 counts as unread), and its archived mark, which
// always reflects the file itself.
//
// The mark is the extended attribute "user.logging.hub.archived" (Linux keeps user attributes in
// the "user." namespace). On a file system without user attributes it is a companion file beside
// the log file, "." + file name + "." + attribute name, so that a restarted process still sees it.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/core/Types.h"
#include "platform/core/Value.h"

inline constexpr char kLogFileArchivedAttributeName[] = "user.logging.hub.archived";

class LogFileInfo : public ns::Object {
 public:
  explicit LogFileInfo(std::string filePath);
  static ns::Ref<LogFileInfo> logFileWithPath(const std::string& filePath);

  const std::string& filePath() const { return filePath_; }
  std::string fileName() const;
  // Empty when the file cannot be read.
  const ns::Dictionary& fileAttributes() const;
  std::optional<ns::Date> creationDate() const;
  std::optional<ns::Date> modificationDate() const;
  std::uint64_t fileSize() const;
  // Seconds since the creation date (0 without one).
  double age() const;

  bool isArchived() const;
  void setIsArchived(bool archived);

  // Moves the file to `newName` in its folder, replacing a file there; the info then names the
  // new path whatever happened, and is reset.
  void renameFile(const std::string& newName);
  // Forgets the cached name, attributes and dates (not the size).
  void reset();

  bool hasExtendedAttributeWithName(const std::string& name) const;
  void addExtendedAttributeWithName(const std::string& name);
  void removeExtendedAttributeWithName(const std::string& name);

  // A newer file sorts first; equal dates compare equal.
  ns::ComparisonResult reverseCompareByCreationDate(const LogFileInfo& other) const;
  ns::ComparisonResult reverseCompareByModificationDate(const LogFileInfo& other) const;

  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override;
  std::string description() const override;

  // The companion file that stands in for the attribute `name` where user attributes are missing.
  std::string companionPathForAttribute(const std::string& name) const;
  // Removes the file's companion marks (after the file itself was deleted).
  static void removeCompanionMarks(const std::string& filePath);
  // Tests: behave as on a file system without user attributes.
  static void setUserAttributesUnavailableForTesting(bool unavailable);

 private:
  std::string filePath_;
  mutable std::optional<std::string> fileName_;
  mutable std::optional<ns::Dictionary> fileAttributes_;
  mutable std::optional<std::optional<ns::Date>> creationDate_;
  mutable std::optional<std::optional<ns::Date>> modificationDate_;
  mutable std::uint64_t fileSize_ = 0;
};
