// The analytics event log without a controller: the folder tree of the repository on real
// folders, the record bytes of events, log files and their sizes, gzip packaging with real zlib,
// the grouping that pruning works from and the first firing of the maintenance timer.
#include <random>

#include <gtest/gtest.h>

#include "CrashReporter/CRSAnalyticsController.h"
#include "CrashReporter/CRSEventLog/CRSEventLogCompression.h"
#include "CrashReporter/CRSEventLog/CRSEventLogEvent.h"
#include "CrashReporter/CRSEventLog/CRSEventLogFile.h"
#include "CrashReporter/CRSEventLog/CRSEventLogSessionRepository.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/Sandbox.h"
#include "tests/CrashReporter/AnalyticsFixtures.h"
#include "tests/CrashReporter/ReporterFixtures.h"

namespace {

namespace fs = std::filesystem;
using Repository = CRSEventLogSessionRepository;
using crstest::tree;
using crstest::writeFile;

struct RepositoryFixture : ::testing::Test {
  pltest::Sandbox sandbox;
  fs::path root = sandbox.temporaryFolder("analytics");
  ns::Ref<Repository> repository = Repository::initWithRootDirectoryPath(root.string());
};

TEST(EventLogNaming, NamesOfSessionsFragmentsAndLogFiles) {
  EXPECT_EQ(Repository::sessionDirectoryNameWithIdentifier_timestamp("ABC", 42), "42_ABC");
  EXPECT_EQ(Repository::sessionFragmentDirectoryNameWithIdentifier_timestamp("F", 18446744073709551615ull),
            "18446744073709551615_F");
  struct {
    const char* name;
    int priority;
  } names[] = {{"0.log", 0},  {"1.log", 1},      {"2.log", 2},      {"2.log.zip", 2},
               {"3.log", -1}, {"notes.txt", -1}, {"x.log.zip", -1}, {"", -1}};
  for (const auto& n : names)
    EXPECT_EQ(Repository::priorityForEventLogFileWithName(n.name), n.priority) << n.name;
  EXPECT_EQ(Repository::activeEventLogFileNameForPriority(1), "1.log");
  EXPECT_EQ(Repository::activeEventLogFileNameForPriority(3), std::nullopt);
  EXPECT_EQ(Repository::activeEventLogFileNameForPriority(-1), std::nullopt);
  EXPECT_EQ(Repository::prepDirectoryForDirectoryURL("/a/b/42_F/"), "/a/b/42_F.prep");
  EXPECT_TRUE(Repository::isPrepDirectoryURL("/a/42_F.prep"));
  EXPECT_FALSE(Repository::isPrepDirectoryURL("/a/42_F"));
  EXPECT_EQ(Repository::sessionFragmentDirectoryURLForLogFileURL("/r/v1/ACTIVE/1_S/2_F/0.log"),
            "/r/v1/ACTIVE/1_S/2_F");
  EXPECT_EQ(Repository::standardizedPath("/r//v1/./ACTIVE/../PACKAGED/"), "/r/v1/PACKAGED");
}

TEST_F(RepositoryFixture, PlacesAreMadeAndRemovingTheLastLogFileCascades) {
  ns::Error error;
  auto file =
      repository
          ->eventLogFileURLForStateName_sessionIdentifier_sessionTimestamp_sessionFragmentIdentifier_sessionFragmentTimestamp_eventPriority_error(
              CRSEventLogActiveStateName, "ABC", 42, "F", 43, 0, &error);
  ASSERT_TRUE(file) << error.description();
  EXPECT_EQ(*file, (root / "v1/ACTIVE/42_ABC/43_F/0.log").string());
  EXPECT_TRUE(fs::is_directory(root / "v1/ACTIVE/42_ABC/43_F"));
  EXPECT_FALSE(fs::exists(*file));  // the file itself is not made
  ASSERT_TRUE(repository->createFileWithURL_error(*file, &error));

  ASSERT_TRUE(repository->removeLogFile_error(*file, &error)) << error.description();
  EXPECT_EQ(tree(root), std::vector<std::string>{"v1/"});

  auto again = repository->sessionDirectoryURLForStateName_sessionIdentifier_sessionTimestamp_error(
      CRSEventLogActiveStateName, "ABC", 42, &error);
  ASSERT_TRUE(again);
  EXPECT_TRUE(fs::is_directory(*again));
}

TEST_F(RepositoryFixture, AFileAndAFolderReplaceEachOther) {
  ns::Error error;
  writeFile(root / "v1", "not a folder");
  auto states = repository->statesDirectoryURL(&error);
  ASSERT_TRUE(states) << error.description();
  EXPECT_TRUE(fs::is_directory(*states));

  fs::create_directories(root / "v1/x.log/inner");
  ASSERT_TRUE(repository->createFileWithURL_error((root / "v1/x.log").string(), &error));
  EXPECT_TRUE(fs::is_regular_file(root / "v1/x.log"));

  // A folder in the way of a log file is replaced when the file is opened.
  fs::create_directories(root / "v1/y.log/inner");
  auto opened = CRSEventLogFile::initWithURL((root / "v1/y.log").string());
  ASSERT_TRUE(opened);
  EXPECT_TRUE(fs::is_regular_file(root / "v1/y.log"));
  EXPECT_EQ(opened->fileSize(), 0u);
}

TEST_F(RepositoryFixture, CleanUpKeepsLogFilesAndTheOpenFragmentAndNothingElse) {
  fs::path v1 = root / "v1";
  writeFile(v1 / "stray.txt", "x");
  writeFile(v1 / "OTHER/1_S/2_F/0.log", "x");
  writeFile(v1 / "ACTIVE/1_S/2_F/0.log", "kept");
  writeFile(v1 / "ACTIVE/1_S/2_F/notes.txt", "removed");
  writeFile(v1 / "ACTIVE/1_S/2_F/sub/1.log", "removed with its folder");
  fs::create_directories(v1 / "ACTIVE/1_S/3_EMPTY");
  fs::create_directories(v1 / "ACTIVE/1_S/4_OPEN");
  fs::create_directories(v1 / "ACTIVE/5_EMPTYSESSION/6_F");
  writeFile(v1 / "ACTIVE/1_S/7_HIDDEN/.DS_Store", "hidden");
  writeFile(v1 / "PACKAGED/1_S/2_F/0.log.zip", "kept");
  writeFile(v1 / "PACKAGED/1_S/stray", "removed");
  // A link to a folder outside the tree is removed as a link; what it points to stays.
  fs::path outside = sandbox.temporaryFolder("outside");
  writeFile(outside / "keep.txt", "outside");
  fs::create_directory_symlink(outside, v1 / "ACTIVE/1_S/8_LINK");
  fs::create_symlink(outside / "keep.txt", v1 / "ACTIVE/1_S/2_F/1.log");

  ns::Error error;
  ASSERT_TRUE(repository->cleanUpEventLogRepositoryIgnorningSessionFragmentDirectoryURL_error(
      (v1 / "ACTIVE/1_S/./4_OPEN/").string(), &error))
      << error.description();
  EXPECT_EQ(tree(root), (std::vector<std::string>{"v1/", "v1/ACTIVE/", "v1/ACTIVE/1_S/", "v1/ACTIVE/1_S/2_F/",
                                                  "v1/ACTIVE/1_S/2_F/0.log", "v1/ACTIVE/1_S/4_OPEN/",
                                                  "v1/PACKAGED/", "v1/PACKAGED/1_S/", "v1/PACKAGED/1_S/2_F/",
                                                  "v1/PACKAGED/1_S/2_F/0.log.zip"}));
  EXPECT_TRUE(fs::exists(outside / "keep.txt"));

  // With nothing worth keeping, only "v1" remains.
  fs::remove_all(v1 / "ACTIVE/1_S/2_F");
  fs::remove_all(v1 / "PACKAGED");
  ASSERT_TRUE(
      repository->cleanUpEventLogRepositoryIgnorningSessionFragmentDirectoryURL_error(std::nullopt, &error));
  EXPECT_EQ(tree(root), std::vector<std::string>{"v1/"});
}

TEST_F(RepositoryFixture, PreparationFoldersAreRenamedOverTheirTargetAndPurged) {
  ns::Error error;
  std::string fragment = (root / "v1/ACTIVE/1_S/2_F").string();
  auto prep = repository->prepSessionFragmentDirectoryURLForStateName_sessionFragmentDirectoryURL_error(
      CRSEventLogPackagedStateName, fragment, &error);
  ASSERT_TRUE(prep) << error.description();
  EXPECT_EQ(*prep, (root / "v1/PACKAGED/1_S/2_F.prep").string());
  writeFile(fs::path(*prep) / "0.log.zip", "new");
  writeFile(root / "v1/PACKAGED/1_S/2_F/0.log.zip", "old");
  writeFile(root / "v1/PACKAGED/1_S/2_F/1.log.zip", "old");

  auto final = repository->removePrepStatusFromSessionFragmentDirectoryURL_error(*prep, &error);
  ASSERT_TRUE(final) << error.description();
  EXPECT_EQ(crstest::entries(*final), std::vector<std::string>{"0.log.zip"});
  EXPECT_EQ(crstest::readFile(fs::path(*final) / "0.log.zip"), "new");
  EXPECT_FALSE(repository->removePrepStatusFromSessionFragmentDirectoryURL_error(*final, &error));
  EXPECT_FALSE(repository->prepSessionFragmentDirectoryURLForStateName_sessionFragmentDirectoryURL_error(
      CRSEventLogPackagedStateName, "/F", &error));

  fs::create_directories(root / "v1/PACKAGED/1_S/3_G.prep");
  ASSERT_TRUE(repository->purgePrepSessionFragmentDirectoriesForStateName_error(CRSEventLogPackagedStateName,
                                                                                &error));
  EXPECT_EQ(crstest::entries(root / "v1/PACKAGED/1_S"), std::vector<std::string>{"2_F"});
}

TEST_F(RepositoryFixture, ListingsSkipHiddenEntriesAndKeepStateOrder) {
  writeFile(root / "v1/PACKAGED/1_S/2_F/0.log.zip", "p");
  writeFile(root / "v1/ACTIVE/1_S/3_F/1.log", "a");
  writeFile(root / "v1/ACTIVE/1_S/3_F/.hidden.log", "h");
  writeFile(root / "v1/ACTIVE/1_S/3_F/other.txt", "o");
  writeFile(root / "v1/ACTIVE/1_S/not-a-folder", "n");
  fs::create_symlink(root / "v1/ACTIVE/1_S/3_F/1.log", root / "v1/ACTIVE/1_S/3_F/2.log");
  ns::Error error;
  auto files = repository->logFileURLsForAllStates(&error);
  ASSERT_TRUE(files) << error.description();
  EXPECT_EQ(*files, (std::vector<std::string>{(root / "v1/ACTIVE/1_S/3_F/1.log").string(),
                                              (root / "v1/PACKAGED/1_S/2_F/0.log.zip").string()}));
}

// ---- events and files ----

TEST(EventLogEvents, RecordBytesAreExact) {
  CRSEventLogEvent withPayload(1, 42, "app_launched", ns::Data(std::string("0123456789")));
  EXPECT_EQ(withPayload.eventData().toString(), std::string("42\tapp_launched\t10\t0123456789\n"));
  CRSEventLogEvent without(1, 42, "app_launched");
  EXPECT_EQ(without.eventData().toString(), "42\tapp_launched\n");
  // Payload bytes are raw: a reader steps over them by their length.
  CRSEventLogEvent raw(2, 7, "k", ns::Data(std::string("a\tb\nc", 5)));
  auto records = crstest::parseLog(raw.eventData().toString() + without.eventData().toString());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].payload, std::string("a\tb\nc"));
  EXPECT_EQ(records[1].key, "app_launched");
}

TEST(EventLogEvents, AnalyticsPayloadsAreJSONObjects) {
  EXPECT_EQ(CRSAnalyticsEvent::payloadText("E", {}), R"({"eventId":"E"})");
  EXPECT_EQ(CRSAnalyticsEvent::payloadText("E", {{"k", "v"}}), R"({"eventId":"E", "k":"v"})");
  std::string hostile = CRSAnalyticsEvent::payloadText("E\"", {{"say \"hi\"", "a\\b\n\x01"}});
  ns::Value parsed = ns::JSONSerialization::JSONObjectWithString(hostile);
  ASSERT_TRUE(parsed.isDictionary()) << hostile;
  EXPECT_EQ(parsed["eventId"].stringValue(), "E\"");
  EXPECT_EQ(parsed["say \"hi\""].stringValue(), "a\\b\n\x01");
  // "/" stays bare; backspace and form feed take JSON's short escapes.
  std::string path = CRSAnalyticsEvent::payloadText("E", {{"path", "a/b\b\f"}});
  EXPECT_EQ(path, R"({"eventId":"E", "path":"a/b\b\f"})");
  EXPECT_EQ(ns::JSONSerialization::JSONObjectWithString(path)["path"].stringValue(), "a/b\b\f");

  auto crashed = CRSAnalyticsEvent::initApplicationCrashedEventWithTimestamp_eventIdentifier(5, "ID");
  EXPECT_EQ(crashed->priority(), 1u);
  EXPECT_EQ(crashed->key(), "app_crashed");
  EXPECT_EQ(crashed->payload()->toString(), R"({"eventId":"ID"})");
  EXPECT_EQ(
      CRSAnalyticsEvent::initApplicationInstalledEventWithTimestamp_eventIdentifier(5, "ID")->priority(), 0u);
  CRSAnalyticsMetadataEvent metadata(2, 9, ns::Data(std::string("{}")));
  EXPECT_EQ(metadata.eventData().toString(), "9\tmetadata\t2\t{}\n");
}

TEST(EventLogEvents, EqualityAndHash) {
  ns::Data payload(std::string("p"));
  CRSEventLogEvent a(1, 2, "k", payload), b(1, 2, "k", payload);
  EXPECT_TRUE(a == b);
  EXPECT_EQ(a.hash(), b.hash());
  EXPECT_FALSE(a == CRSEventLogEvent(1, 2, "k"));
  EXPECT_FALSE(a == CRSEventLogEvent(0, 2, "k", payload));
  EXPECT_FALSE(a == CRSEventLogEvent(1, 3, "k", payload));
  EXPECT_FALSE(a == CRSEventLogEvent(1, 2, "j", payload));
  EXPECT_TRUE(CRSEventLogEvent(1, 2, "k") == CRSEventLogEvent(1, 2, "k"));
  // An analytics event equals a plain event with its fields.
  CRSAnalyticsEvent analytics(1, 2, "k", "E");
  EXPECT_TRUE(analytics == CRSEventLogEvent(1, 2, "k", ns::Data(std::string(R"({"eventId":"E"})"))));
  EXPECT_FALSE(a.isEqual(nullptr));
}

TEST(EventLogFiles, SizesFollowTheAppends) {
  pltest::Sandbox sandbox;
  fs::path folder = sandbox.temporaryFolder("files");
  auto file = CRSEventLogEventFile::initWithURL((folder / "0.log").string());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->fileSize(), 0u);
  CRSEventLogEvent event(0, 1234567890123ll, "app_installed");
  ns::Error error;
  ASSERT_TRUE(file->appendEvent_error(event, &error));
  EXPECT_EQ(file->fileSize(), event.eventData().length());
  EXPECT_EQ(file->fileSize(), fs::file_size(folder / "0.log"));

  auto data = file->readFromFile(&error);
  ASSERT_TRUE(data);
  EXPECT_EQ(*data, event.eventData());
  ASSERT_TRUE(file->appendData_error(ns::Data(std::string("x")), &error));  // reopened for appending
  EXPECT_EQ(crstest::readFile(folder / "0.log"), event.eventData().toString() + "x");

  writeFile(folder / "old.log", std::string(100, 'o'));
  auto existing = CRSEventLogFile::initWithName_inDirectoryWithURL("old.log", folder.string());
  ASSERT_TRUE(existing);
  EXPECT_EQ(existing->fileSize(), 100u);
  ASSERT_TRUE(existing->resetFile(&error));
  EXPECT_EQ(existing->fileSize(), 0u);
  EXPECT_EQ(fs::file_size(folder / "old.log"), 0u);

  // A link where the log belongs is replaced; what it pointed to is left alone.
  writeFile(folder / "target.txt", "elsewhere");
  fs::create_symlink(folder / "target.txt", folder / "1.log");
  auto linked = CRSEventLogEventFile::initWithURL((folder / "1.log").string());
  ASSERT_TRUE(linked);
  ASSERT_TRUE(linked->appendEvent_error(event, &error));
  EXPECT_FALSE(fs::is_symlink(folder / "1.log"));
  EXPECT_EQ(crstest::readFile(folder / "target.txt"), "elsewhere");

  EXPECT_EQ(CRSEventLogFile::initWithURL((folder / "missing/0.log").string()), nullptr);
}

// ---- packaging ----

TEST(EventLogCompression, PackedFilesUnpackToTheirBytes) {
  pltest::Sandbox sandbox;
  fs::path folder = sandbox.temporaryFolder("pack");
  std::mt19937 random(7);
  std::string noise(1 << 20, '\0');
  for (auto& c : noise) c = static_cast<char>(random());
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += std::to_string(i) + "\tapp_launched\n";
  // Incompressible bytes, a repetitive log, an empty file and sizes at the chunk's edges.
  std::vector<std::pair<std::string, std::string>> cases = {
      {"noise", noise},
      {"text", text},
      {"empty", ""},
      {"chunk", noise.substr(0, CRSEventLogCompressionChunkSize)},
      {"chunk+1", noise.substr(0, CRSEventLogCompressionChunkSize + 1)}};
  for (const auto& [name, bytes] : cases) {
    writeFile(folder / (name + ".log"), bytes);
    ns::Error error;
    ASSERT_TRUE(CRSEventLogCompressFileAtPath_toPath_error((folder / (name + ".log")).string(),
                                                           (folder / (name + ".log.zip")).string(), &error))
        << name << ": " << error.description();
    std::string packed = crstest::readFile(folder / (name + ".log.zip"));
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x1f) << name;  // a gzip stream
    EXPECT_EQ(static_cast<unsigned char>(packed[1]), 0x8b) << name;
    EXPECT_EQ(crstest::gunzip(packed), bytes) << name;
  }
  ns::Error error;
  EXPECT_FALSE(CRSEventLogCompressFileAtPath_toPath_error((folder / "none.log").string(),
                                                          (folder / "none.log.zip").string(), &error));
  fs::create_symlink(folder / "text.log", folder / "link.log");
  EXPECT_FALSE(CRSEventLogCompressFileAtPath_toPath_error((folder / "link.log").string(),
                                                          (folder / "link.log.zip").string(), &error));
  fs::create_directories(folder / "dir.log");
  EXPECT_FALSE(CRSEventLogCompressFileAtPath_toPath_error((folder / "dir.log").string(),
                                                          (folder / "dir.log.zip").string(), &error));
}

// ---- maintenance arithmetic ----

TEST(AnalyticsMaintenance, PruningGroupsByPriorityOldestFirst) {
  auto groups = CRSAnalyticsController::mutableSortedFileURLsGroupedByPrioritiesFromLogFileURLs(
      {"/r/v1/PACKAGED/1_S/9_F/2.log.zip", "/r/v1/ACTIVE/1_S/9_F/2.log", "/r/v1/ACTIVE/1_S/3_F/0.log",
       "/r/v1/ACTIVE/1_S/3_F/notes.log"});
  EXPECT_EQ(groups[0], std::vector<std::string>{"/r/v1/ACTIVE/1_S/3_F/0.log"});
  EXPECT_TRUE(groups[1].empty());
  EXPECT_EQ(groups[2],
            (std::vector<std::string>{"/r/v1/ACTIVE/1_S/9_F/2.log", "/r/v1/PACKAGED/1_S/9_F/2.log.zip"}));
}

TEST(AnalyticsMaintenance, TheFirstFiringFollowsTheLastMaintenance) {
  ns::Date now = ns::Date::dateWithTimeIntervalSince1970(1.0e9);
  struct {
    double sinceLast;
    std::uint32_t interval;
    double delay;
  } cases[] = {{1000, 3600, 2600}, {5000, 3600, 0}, {0, 3600, 3600}, {3600, 3600, 0}, {-500, 600, 600}};
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(CRSAnalyticsController::initialMaintenanceDelayWithFlushInterval_lastMaintenanceDate_now(
                         c.interval, now.dateByAddingTimeInterval(-c.sinceLast), now),
                     c.delay)
        << c.sinceLast;
  }
}

}  // namespace
