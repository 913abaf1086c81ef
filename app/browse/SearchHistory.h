#pragma once
// The search history and the skip set, process-wide and kept in the user defaults. Main thread.
//
// The history is the user default "search_history": the queries joined with "\n", most recent
// first, at most 10, used only while "UseSearchHistory" is on. The skip set holds the video ids
// of "skipVideos" (separated by ",") that the new-subscription-videos list leaves out.
#include <optional>
#include <string>
#include <vector>

inline constexpr std::size_t kSearchHistoryLimit = 10;

// The stored queries, most recent first; nil when history is off or nothing is stored.
std::optional<std::vector<std::string>> getSearchHistory();
// Stores an empty array under the key (which reads back as no history), whatever
// "UseSearchHistory" says.
void clearSearchHistory();
// Puts the query first, dropping its earlier copies and what lies past the tenth entry. Line
// breaks in the query become spaces, so that one query is one entry. Nothing while history is
// off.
void addSearchHistory(const std::string& query);

// Replaces the skip set by the ids of "skipVideos".
void loadSkipVideos();
// Whether the id is in the skip set (loaded on first use).
bool isSkipVideo(const std::string& videoId);
// Forgets the skip set, so that the next isSkipVideo loads it again (tests).
void resetSkipVideosForTesting();
