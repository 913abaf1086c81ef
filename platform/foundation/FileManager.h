#pragma once
// The file manager: existence and access tests, folders, removal, moves, copies, links,
// attributes and listings, answering the platform's errors (see FileIO.h). Paths are plain
// strings; the URL forms of the original interface are left to the URL layer.
// A move onto another file system copies and then removes the source. Moves, copies and links
// refuse an existing destination with NSFileWriteFileExistsError, as the platform does.
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/SearchPaths.h"

namespace ns {

// Attribute keys and file types.
inline constexpr char NSFileType[] = "NSFileType";
inline constexpr char NSFileTypeDirectory[] = "NSFileTypeDirectory";
inline constexpr char NSFileTypeRegular[] = "NSFileTypeRegular";
inline constexpr char NSFileTypeSymbolicLink[] = "NSFileTypeSymbolicLink";
inline constexpr char NSFileTypeSocket[] = "NSFileTypeSocket";
inline constexpr char NSFileTypeCharacterSpecial[] = "NSFileTypeCharacterSpecial";
inline constexpr char NSFileTypeBlockSpecial[] = "NSFileTypeBlockSpecial";
inline constexpr char NSFileTypeUnknown[] = "NSFileTypeUnknown";
inline constexpr char NSFileSize[] = "NSFileSize";
inline constexpr char NSFileModificationDate[] = "NSFileModificationDate";
inline constexpr char NSFileCreationDate[] = "NSFileCreationDate";
inline constexpr char NSFilePosixPermissions[] = "NSFilePosixPermissions";
inline constexpr char NSFileReferenceCount[] = "NSFileReferenceCount";
inline constexpr char NSFileOwnerAccountID[] = "NSFileOwnerAccountID";
inline constexpr char NSFileGroupOwnerAccountID[] = "NSFileGroupOwnerAccountID";
inline constexpr char NSFileOwnerAccountName[] = "NSFileOwnerAccountName";
inline constexpr char NSFileGroupOwnerAccountName[] = "NSFileGroupOwnerAccountName";
inline constexpr char NSFileSystemNumber[] = "NSFileSystemNumber";
inline constexpr char NSFileSystemFileNumber[] = "NSFileSystemFileNumber";
inline constexpr char NSFileSystemSize[] = "NSFileSystemSize";
inline constexpr char NSFileSystemFreeSize[] = "NSFileSystemFreeSize";
inline constexpr char NSFileSystemNodes[] = "NSFileSystemNodes";
inline constexpr char NSFileSystemFreeNodes[] = "NSFileSystemFreeNodes";

// Walks a folder depth first, each folder before its contents, entries of one folder in name
// order. Symbolic links are reported but not followed.
class DirectoryEnumerator : public Object {
 public:
  explicit DirectoryEnumerator(std::string root);
  // The next path relative to the root, or nullopt at the end.
  std::optional<std::string> nextObject();
  // Do not descend into the folder that nextObject() returned last.
  void skipDescendants();
  // Attributes of the item nextObject() returned last (not following a link).
  Dictionary fileAttributes() const;
  Dictionary directoryAttributes() const;
  // Depth of the item returned last: 1 for the root's own entries.
  std::size_t level() const { return lastLevel_; }

 private:
  struct Level {
    std::string relative;  // "" for the root
    std::vector<std::string> names;
    std::size_t next = 0;
  };
  std::string root_;
  std::vector<Level> stack_;
  std::optional<std::string> pendingFolder_;  // returned last and not yet entered
  std::string last_;
  std::size_t lastLevel_ = 0;
  bool started_ = false;
};

class FileManager : public Object {
 public:
  static Ref<FileManager> defaultManager();

  // Existence follows symbolic links: a broken link does not exist.
  bool fileExistsAtPath(const std::string& path) const;
  bool fileExistsAtPath_isDirectory(const std::string& path, bool* isDirectory) const;
  bool isReadableFileAtPath(const std::string& path) const;
  bool isWritableFileAtPath(const std::string& path) const;
  bool isExecutableFileAtPath(const std::string& path) const;
  // True when the item exists and its folder lets this process remove it.
  bool isDeletableFileAtPath(const std::string& path) const;

  bool createDirectoryAtPath_withIntermediateDirectories_attributes_error(const std::string& path,
                                                                          bool intermediates,
                                                                          const Dictionary& attributes,
                                                                          Error* error);
  // Writes `contents` (or an empty file) atomically; replaces an existing file.
  bool createFileAtPath_contents_attributes(const std::string& path, const std::optional<Data>& contents,
                                            const Dictionary& attributes = {});
  std::optional<Data> contentsAtPath(const std::string& path) const;
  bool contentsEqualAtPath_andPath(const std::string& a, const std::string& b) const;

  // Removes a file, a link (not its target) or a folder with everything in it.
  bool removeItemAtPath_error(const std::string& path, Error* error);
  bool moveItemAtPath_toPath_error(const std::string& source, const std::string& destination, Error* error);
  bool copyItemAtPath_toPath_error(const std::string& source, const std::string& destination, Error* error);
  // A hard link; a folder is recreated with its files hard-linked.
  bool linkItemAtPath_toPath_error(const std::string& source, const std::string& destination, Error* error);
  bool createSymbolicLinkAtPath_withDestinationPath_error(const std::string& path,
                                                          const std::string& destination, Error* error);
  std::optional<std::string> destinationOfSymbolicLinkAtPath_error(const std::string& path, Error* error);

  // Size, type, dates, permissions, owners and numbers of the item itself (a link is not
  // followed).
  std::optional<Dictionary> attributesOfItemAtPath_error(const std::string& path, Error* error) const;
  // Applies NSFilePosixPermissions and NSFileModificationDate.
  bool setAttributes_ofItemAtPath_error(const Dictionary& attributes, const std::string& path, Error* error);
  std::optional<Dictionary> attributesOfFileSystemForPath_error(const std::string& path, Error* error) const;

  // Names in the folder (not "." or ".."), in name order.
  std::optional<std::vector<std::string>> contentsOfDirectoryAtPath_error(const std::string& path,
                                                                          Error* error) const;
  // Every path below the folder, relative to it, in enumeration order.
  std::optional<std::vector<std::string>> subpathsOfDirectoryAtPath_error(const std::string& path,
                                                                          Error* error) const;
  // nullptr when the path is no readable folder.
  Ref<DirectoryEnumerator> enumeratorAtPath(const std::string& path) const;

  std::string currentDirectoryPath() const;
  bool changeCurrentDirectoryPath(const std::string& path);
  std::string temporaryDirectory() const { return TemporaryDirectory(); }

  // The user-domain folder of `directory`, created when `create` is true. For
  // ItemReplacementDirectory a new, unique folder for temporary items on the same file system
  // as `appropriateFor` (a path), so that a result can be renamed into place.
  std::optional<std::string> pathForDirectory_inDomain_appropriateForPath_create_error(
      SearchPathDirectory directory, SearchPathDomainMask domain,
      const std::optional<std::string>& appropriateFor, bool create, Error* error);
};

}  // namespace ns
