// The file manager and whole-file reads and writes, on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/testing/Sandbox.h"

namespace {

using pltest::Sandbox;
namespace fs = std::filesystem;

ns::Ref<ns::FileManager> fm() {
  return ns::FileManager::defaultManager();
}

void expectPosixUnder(const ns::Error& error, int posix) {
  auto under = error.underlyingError();
  ASSERT_TRUE(under) << error.description();
  EXPECT_EQ(under->domain(), ns::NSPOSIXErrorDomain);
  EXPECT_EQ(under->code(), posix);
}

TEST(FileIOTest, AtomicWritesReplaceWholeFilesAndLeaveNoSideFiles) {
  Sandbox box;
  std::string path = box.path("file.bin");
  ASSERT_TRUE(ns::writeDataToFile(ns::Data("first"), path, ns::DataWritingAtomic));
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(ns::writeDataToFile(ns::Data("second, longer"), path, ns::DataWritingAtomic));
  EXPECT_EQ(ns::dataWithContentsOfFile(path)->toString(), "second, longer");
  // An existing file keeps its permissions across an atomic replacement.
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  auto names = fm()->contentsOfDirectoryAtPath_error(box.root().string(), nullptr);
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, (std::vector<std::string>{"file.bin", "home"}));

  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_FALSE(ns::writeDataToFile(ns::Data("x"), path,
                                   ns::DataWritingAtomic | ns::DataWritingWithoutOverwriting, &error));
  EXPECT_EQ(error.code(), ns::NSFileWriteFileExistsError);
  EXPECT_EQ(ns::dataWithContentsOfFile(path)->toString(), "second, longer");

  EXPECT_FALSE(
      ns::writeDataToFile(ns::Data("x"), box.path("missing/folder/file"), ns::DataWritingAtomic, &error));
  EXPECT_EQ(error.code(), ns::NSFileNoSuchFileError);
  EXPECT_EQ(error.userInfo()[ns::NSFilePathErrorKey].string(), box.path("missing/folder/file"));

  EXPECT_FALSE(ns::dataWithContentsOfFile(box.path("nothing"), &error));
  EXPECT_EQ(error.code(), ns::NSFileReadNoSuchFileError);
  expectPosixUnder(error, ENOENT);
  EXPECT_FALSE(ns::dataWithContentsOfFile(box.root().string(), &error));

  ASSERT_TRUE(ns::writeDataToFile(ns::Data("\xff\xfe bad"), box.path("latin"), 0));
  EXPECT_FALSE(ns::stringWithContentsOfFile(box.path("latin"), &error));
  EXPECT_EQ(error.code(), ns::NSFileReadInapplicableStringEncodingError);
}

TEST(FileIOTest, AtomicWritesTakeNamesOfTheLongestLengthAFileMayHave) {
  Sandbox box;
  for (std::size_t length : {247u, 248u, 255u}) {
    std::string path = box.path(std::string(length, 'n'));
    ns::Error error(ns::NSCocoaErrorDomain, 0);
    ASSERT_TRUE(ns::writeDataToFile(ns::Data("first"), path, ns::DataWritingAtomic, &error))
        << length << ": " << error.code();
    ASSERT_TRUE(ns::writeStringToFile("second", path, true)) << length;
    EXPECT_EQ(*ns::stringWithContentsOfFile(path), "second");
    ASSERT_TRUE(fm()->removeItemAtPath_error(path, nullptr));
  }
  auto names = fm()->contentsOfDirectoryAtPath_error(box.root().string(), nullptr);
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, std::vector<std::string>{"home"});
}

TEST(FileIOTest, ReadersNeverSeeAPartialAtomicWrite) {
  Sandbox box;
  std::string path = box.path("shared");
  std::string a(100000, 'a'), b(200000, 'b');
  ASSERT_TRUE(ns::writeStringToFile(a, path, true));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 100; ++i) ns::writeStringToFile(i % 2 ? a : b, path, true);
    stop = true;
  });
  int reads = 0;
  while (!stop || reads == 0) {
    auto text = ns::stringWithContentsOfFile(path);
    ASSERT_TRUE(text);
    ASSERT_TRUE(*text == a || *text == b) << "partial file of " << text->size() << " bytes";
    ++reads;
  }
  writer.join();
}

TEST(FileManagerTest, FoldersExistenceAndRemoval) {
  Sandbox box;
  std::string deep = box.path("a/b/c");
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_FALSE(
      fm()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(deep, false, {}, &error));
  EXPECT_EQ(error.code(), ns::NSFileNoSuchFileError);
  ASSERT_TRUE(
      fm()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(deep, true, {}, &error));
  // Creating an existing folder with intermediates is no error; without, it is.
  EXPECT_TRUE(
      fm()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(deep, true, {}, nullptr));
  EXPECT_FALSE(
      fm()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(deep, false, {}, &error));
  EXPECT_EQ(error.code(), ns::NSFileWriteFileExistsError);

  ASSERT_TRUE(ns::writeStringToFile("x", box.path("a/file"), false));
  EXPECT_FALSE(fm()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
      box.path("a/file/sub"), true, {}, &error));

  bool isDir = false;
  EXPECT_TRUE(fm()->fileExistsAtPath_isDirectory(deep, &isDir));
  EXPECT_TRUE(isDir);
  EXPECT_TRUE(fm()->fileExistsAtPath_isDirectory(box.path("a/file"), &isDir));
  EXPECT_FALSE(isDir);
  EXPECT_FALSE(fm()->fileExistsAtPath(""));

  // A dangling link does not exist, yet it can be removed.
  ASSERT_TRUE(fm()->createSymbolicLinkAtPath_withDestinationPath_error(box.path("dangling"),
                                                                       box.path("nowhere"), &error));
  EXPECT_FALSE(fm()->fileExistsAtPath(box.path("dangling")));
  EXPECT_EQ(fm()->destinationOfSymbolicLinkAtPath_error(box.path("dangling"), nullptr), box.path("nowhere"));
  EXPECT_TRUE(fm()->removeItemAtPath_error(box.path("dangling"), &error));

  // Removing a link to a folder removes the link only.
  ASSERT_TRUE(
      fm()->createSymbolicLinkAtPath_withDestinationPath_error(box.path("link"), box.path("a"), &error));
  EXPECT_TRUE(fm()->removeItemAtPath_error(box.path("link"), &error));
  EXPECT_TRUE(fm()->fileExistsAtPath(deep));

  EXPECT_TRUE(fm()->isDeletableFileAtPath(box.path("a/file")));
  EXPECT_TRUE(fm()->removeItemAtPath_error(box.path("a"), &error));
  EXPECT_FALSE(fm()->fileExistsAtPath(box.path("a")));
  EXPECT_FALSE(fm()->removeItemAtPath_error(box.path("a"), &error));
  EXPECT_EQ(error.code(), ns::NSFileNoSuchFileError);
  expectPosixUnder(error, ENOENT);
  EXPECT_FALSE(fm()->isDeletableFileAtPath(box.path("a")));
}

TEST(FileManagerTest, DeletabilityAndPermissionErrors) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
  Sandbox box;
  std::string locked = box.path("locked");
  ASSERT_TRUE(
      fm()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(locked, true, {}, nullptr));
  ASSERT_TRUE(ns::writeStringToFile("x", locked + "/file", false));
  ::chmod(locked.c_str(), 0555);
  EXPECT_FALSE(fm()->isDeletableFileAtPath(locked + "/file"));
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_FALSE(fm()->removeItemAtPath_error(locked + "/file", &error));
  EXPECT_EQ(error.code(), ns::NSFileWriteNoPermissionError);
  EXPECT_FALSE(ns::writeStringToFile("y", locked + "/new", true, &error));
  EXPECT_EQ(error.code(), ns::NSFileWriteNoPermissionError);
  ::chmod(locked.c_str(), 0755);
}

TEST(FileManagerTest, MovesCopiesAndLinksRefuseAnExistingDestination) {
  Sandbox box;
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  ASSERT_TRUE(fm()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(box.path("tree/sub"),
                                                                                       true, {}, nullptr));
  ASSERT_TRUE(ns::writeStringToFile("one", box.path("tree/one.txt"), false));
  ASSERT_TRUE(ns::writeStringToFile("two", box.path("tree/sub/two.txt"), false));
  ::chmod(box.path("tree/one.txt").c_str(), 0600);
  ASSERT_TRUE(
      fm()->createSymbolicLinkAtPath_withDestinationPath_error(box.path("tree/ln"), "one.txt", nullptr));

  ASSERT_TRUE(fm()->copyItemAtPath_toPath_error(box.path("tree"), box.path("copy"), &error))
      << error.description();
  EXPECT_TRUE(fm()->contentsEqualAtPath_andPath(box.path("tree"), box.path("copy")));
  EXPECT_EQ(fm()->destinationOfSymbolicLinkAtPath_error(box.path("copy/ln"), nullptr), "one.txt");
  auto attrs = fm()->attributesOfItemAtPath_error(box.path("copy/one.txt"), nullptr);
  ASSERT_TRUE(attrs);
  EXPECT_EQ((*attrs)[ns::NSFilePosixPermissions].integerValue(), 0600);

  EXPECT_FALSE(fm()->copyItemAtPath_toPath_error(box.path("tree"), box.path("copy"), &error));
  EXPECT_EQ(error.code(), ns::NSFileWriteFileExistsError);
  EXPECT_FALSE(fm()->copyItemAtPath_toPath_error(box.path("none"), box.path("x"), &error));
  EXPECT_EQ(error.code(), ns::NSFileReadNoSuchFileError);

  ASSERT_TRUE(ns::writeStringToFile("other", box.path("other.txt"), false));
  EXPECT_FALSE(fm()->moveItemAtPath_toPath_error(box.path("other.txt"), box.path("copy/one.txt"), &error));
  EXPECT_EQ(error.code(), ns::NSFileWriteFileExistsError);
  EXPECT_EQ(*ns::stringWithContentsOfFile(box.path("copy/one.txt")), "one");
  EXPECT_FALSE(fm()->moveItemAtPath_toPath_error(box.path("none"), box.path("x"), &error));
  EXPECT_EQ(error.code(), ns::NSFileNoSuchFileError);
  ASSERT_TRUE(fm()->moveItemAtPath_toPath_error(box.path("other.txt"), box.path("moved.txt"), &error));
  EXPECT_FALSE(fm()->fileExistsAtPath(box.path("other.txt")));

  ASSERT_TRUE(fm()->linkItemAtPath_toPath_error(box.path("moved.txt"), box.path("hard.txt"), &error));
  auto linkAttrs = fm()->attributesOfItemAtPath_error(box.path("hard.txt"), nullptr);
  EXPECT_EQ((*linkAttrs)[ns::NSFileReferenceCount].integerValue(), 2);
  EXPECT_FALSE(fm()->linkItemAtPath_toPath_error(box.path("moved.txt"), box.path("hard.txt"), &error));
  EXPECT_EQ(error.code(), ns::NSFileWriteFileExistsError);
}

TEST(FileManagerTest, MoveFromAnotherFileSystemCopiesThenRemoves) {
  Sandbox box;
  struct stat shm {
  }, sandbox{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(box.root().c_str(), &sandbox) != 0 ||
      shm.st_dev == sandbox.st_dev)
    GTEST_SKIP() << "no second file system (tmpfs /dev/shm) beside the sandbox";
  pltest::TemporaryFolder elsewhere("/dev/shm");
  std::string source = (elsewhere.path() / "source").string();
  ASSERT_TRUE(fs::create_directory(source));
  ASSERT_TRUE(ns::writeStringToFile(std::string(300000, 'v'), source + "/video.mp4", false));
  ASSERT_TRUE(fm()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(source + "/info", true,
                                                                                       {}, nullptr));
  ASSERT_TRUE(ns::writeStringToFile("plist", source + "/info/a.info", false));
  ns::Error error(ns::NSCocoaErrorDomain, 0);

  // A single file, then a whole folder.
  ASSERT_TRUE(fm()->moveItemAtPath_toPath_error(source + "/video.mp4", box.path("video.mp4"), &error))
      << error.description();
  EXPECT_EQ(ns::dataWithContentsOfFile(box.path("video.mp4"))->length(), 300000u);
  EXPECT_FALSE(fm()->fileExistsAtPath(source + "/video.mp4"));
  ASSERT_TRUE(fm()->moveItemAtPath_toPath_error(source, box.path("moved"), &error)) << error.description();
  EXPECT_EQ(*ns::stringWithContentsOfFile(box.path("moved/info/a.info")), "plist");
  EXPECT_FALSE(fm()->fileExistsAtPath(source));
}

TEST(FileManagerTest, AttributesListingsAndEnumeration) {
  Sandbox box;
  std::string root = box.path("root");
  for (auto* dir : {"root/b", "root/a/deep", "root/c"}) fs::create_directories(box.path(dir));
  ASSERT_TRUE(ns::writeStringToFile("12345", root + "/a/deep/f.txt", false));
  ASSERT_TRUE(ns::writeStringToFile("", root + "/b/g", false));
  ASSERT_TRUE(ns::writeStringToFile("", root + "/z", false));

  EXPECT_EQ(*fm()->contentsOfDirectoryAtPath_error(root, nullptr),
            (std::vector<std::string>{"a", "b", "c", "z"}));
  EXPECT_EQ(*fm()->subpathsOfDirectoryAtPath_error(root, nullptr),
            (std::vector<std::string>{"a", "a/deep", "a/deep/f.txt", "b", "b/g", "c", "z"}));
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_FALSE(fm()->contentsOfDirectoryAtPath_error(box.path("none"), &error));
  EXPECT_EQ(error.code(), ns::NSFileReadNoSuchFileError);

  auto e = fm()->enumeratorAtPath(root);
  ASSERT_TRUE(e);
  std::vector<std::string> seen;
  while (auto next = e->nextObject()) {
    seen.push_back(*next);
    if (*next == "a") {
      EXPECT_EQ(e->level(), 1u);
      EXPECT_EQ(e->fileAttributes()[ns::NSFileType].string(), ns::NSFileTypeDirectory);
      e->skipDescendants();
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "b/g", "c", "z"}));
  EXPECT_FALSE(fm()->enumeratorAtPath(root + "/z"));

  auto attrs = fm()->attributesOfItemAtPath_error(root + "/a/deep/f.txt", &error);
  ASSERT_TRUE(attrs);
  EXPECT_EQ((*attrs)[ns::NSFileSize].unsignedLongLongValue(), 5u);
  EXPECT_EQ((*attrs)[ns::NSFileType].string(), ns::NSFileTypeRegular);
  EXPECT_TRUE((*attrs)[ns::NSFileModificationDate].isDate());
  EXPECT_TRUE((*attrs)[ns::NSFileCreationDate].isDate());
  EXPECT_LT(std::abs((*attrs)[ns::NSFileModificationDate].date().timeIntervalSinceNow()), 600.0);

  ns::Dictionary change;
  change.set(ns::NSFileModificationDate, ns::Date::dateWithTimeIntervalSince1970(1000000000.5));
  change.set(ns::NSFilePosixPermissions, 0604);
  ASSERT_TRUE(fm()->setAttributes_ofItemAtPath_error(change, root + "/z", &error));
  auto changed = fm()->attributesOfItemAtPath_error(root + "/z", nullptr);
  EXPECT_DOUBLE_EQ((*changed)[ns::NSFileModificationDate].date().timeIntervalSince1970(), 1000000000.5);
  EXPECT_EQ((*changed)[ns::NSFilePosixPermissions].integerValue(), 0604);
  EXPECT_FALSE(fm()->attributesOfItemAtPath_error(box.path("none"), &error));

  auto space = fm()->attributesOfFileSystemForPath_error(root, nullptr);
  ASSERT_TRUE(space);
  EXPECT_GT((*space)[ns::NSFileSystemSize].unsignedLongLongValue(), 0u);
}

TEST(FileManagerTest, ItemReplacementFolderSharesTheTargetsFileSystem) {
  Sandbox box;
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  auto folder = fm()->pathForDirectory_inDomain_appropriateForPath_create_error(
      ns::ItemReplacementDirectory, ns::UserDomainMask, box.path("target.bin"), true, &error);
  ASSERT_TRUE(folder);
  struct stat a {
  }, b{};
  ASSERT_EQ(::stat(folder->c_str(), &a), 0);
  ASSERT_EQ(::stat(box.root().c_str(), &b), 0);
  EXPECT_EQ(a.st_dev, b.st_dev);
  auto other = fm()->pathForDirectory_inDomain_appropriateForPath_create_error(
      ns::ItemReplacementDirectory, ns::UserDomainMask, box.path("target.bin"), true, &error);
  EXPECT_NE(*folder, *other);

  auto caches = fm()->pathForDirectory_inDomain_appropriateForPath_create_error(
      ns::CachesDirectory, ns::UserDomainMask, std::nullopt, true, &error);
  ASSERT_TRUE(caches);
  EXPECT_EQ(*caches, box.home().string() + "/.cache");
  EXPECT_TRUE(fm()->fileExistsAtPath(*caches));
}

}  // namespace
