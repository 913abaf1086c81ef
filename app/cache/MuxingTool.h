#pragma once
// The tool that joins a video-only and an audio-only file into one MP4 (stream copy), kept as
// base/"ffmpeg" in the cache base folder. When it is missing, an ffmpeg found on PATH is linked
// there; only without one is it fetched, gzipped, from the maker's file storage, with its
// licence text (base/"FFMPEG_License.txt").
//
// A fetched file is unpacked and put in place only when the reply was 2xx and complete, gzip
// succeeded and, when PELORIN_MAKER_FFMPEG_SHA256 is set, the tool's SHA-256 matches it; the
// pieces are worked on under temporary names, so a damaged fetch leaves no tool behind.
#include <string>
#include <vector>

inline constexpr char kMakerFilesURLEnvironmentKey[] = "PELORIN_MAKER_FILES_URL";
inline constexpr char kBuiltInMakerFilesURL[] = "https://files.ordel42.com";
inline constexpr char kMakerFFmpegSHA256EnvironmentKey[] = "PELORIN_MAKER_FFMPEG_SHA256";
inline constexpr char kFFmpegResourcePath[] = "/ordel42/zeravozezi/ffmpeg.gz";
inline constexpr char kFFmpegLicenseResourcePath[] = "/ordel42/zeravozezi/FFMPEG_License.txt.gz";

// PELORIN_MAKER_FILES_URL when set and non-empty, else the built-in URL; no trailing "/".
std::string makerFilesBaseURL();

// base/"ffmpeg".
std::string getFFmpegPath();

// Runs the program and waits for it. With `readOutput`, its standard output goes to a pipe read
// to the end (and dropped). Answers the exit status, or -1 when it could not be started or
// ended by a signal.
int runTask(const std::string& launchPath, const std::vector<std::string>& arguments, bool readOutput);

// Makes sure the tool comes: nothing when it exists ("ffmpeg exists!"), a link to an ffmpeg on
// PATH, else the fetch (at most one at a time; a call meanwhile logs the progress).
void downloadFFmpegIfNeeded();
// Whether a fetch runs.
bool isFFmpegDownloading();

// Joins the two files into `outputPath` with the tool: "-loglevel panic -y -i <video> -i
// <audio> -c copy <output>". True only when the tool exited with status 0 and left a non-empty
// output. Without a tool it starts the fetch and answers false with *toolMissing set.
bool mergeDashStreams(const std::string& videoPath, const std::string& audioPath,
                      const std::string& outputPath, bool* toolMissing = nullptr);
