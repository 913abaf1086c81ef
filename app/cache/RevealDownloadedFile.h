#pragma once
// Showing a video's downloaded file (the one saved to the download folder) in the file manager.
#include <string>

// Selects the video's downloaded file in the file manager; nothing when the video has no
// downloaded file or the file is gone. Answers whether the file was handed to the file manager.
// Main thread.
bool revealDownloadedFileInFinder(const std::string& videoId);
