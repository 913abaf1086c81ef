#pragma once
// The access object of the library store: play positions, played states, bookmarks, downloaded
// file paths, playlist groups, source-list expand states and a string cache, kept in the SQLite
// file "pelorin_web.db" in the application's folder in Application Support.
//
// Every thread asks getInstance() for its own instance, which holds its own connection, so no
// connection is ever used by two threads. The first instance of the process creates or migrates
// the schema (version 7) before any other thread gets one. A thread's instance goes when the
// thread ends, or earlier through removeInstance().
//
// Nothing here reports failure: failed statements are logged by the wrapper and reads answer
// what they answer for a missing row.
//
// Video ids, playlist ids and menu ids are kept in columns declared STRING, which SQLite gives
// NUMERIC affinity; stored files rely on that schema. An id that looks like a number is
// therefore stored as one: "01234567890" comes back as "1234567890" and "12345e67890" as a
// real infinity that collides with every other such id. The service's ids are never numeric in
// practice, so the schema is kept as it is.
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

class SqlDatabase;

// A bookmark inside a video: a point (pos2 0) or a range, with its start/end marker ("s", "e"
// or empty) and comment (empty when none).
struct BookmarkRow {
  float pos1 = 0;
  float pos2 = 0;
  std::string startEnd;
  std::string comment;
};

// A local playlist group. Kept as a record so that readers that want [id, name] and readers that
// want [name, id] both read the right field.
struct PlaylistGroup {
  int groupId = 0;
  std::string name;
};

class DBAccess : public ns::Object {
 public:
  // The newest schema version this build knows.
  static constexpr int kSchemaVersion = 7;

  // Prepares the file and opens the connection; used by getInstance().
  DBAccess();
  ~DBAccess() override;

  // The calling thread's instance, made on first use.
  static ns::Ref<DBAccess> getInstance();
  // Drops the calling thread's instance; it closes when nobody holds it any more.
  static void removeInstance();

  int getSchemaVersion();
  void init_database();
  const ns::Ref<SqlDatabase>& db() const { return _db; }

  // ---- play positions and played states ----
  void savePlayPosition_forId(float pos, const std::string& videoId);
  float getPlayPositionForId(const std::string& videoId);
  void savePlayedState_forId(int state, const std::string& videoId);
  int getPlayedStateForId(const std::string& videoId);

  // ---- bookmarks ----
  void addBookmark_startPos_endPos_startEnd(const std::string& videoId, float pos1, float pos2,
                                            const std::string& startEnd);
  void deleteBookmark_startPos_endPos(const std::string& videoId, float pos1, float pos2);
  // A nil comment stores NULL (no comment).
  void addBookmark_startPos_endPos_comment(const std::string& videoId, float pos1, float pos2,
                                           const std::optional<std::string>& comment);
  std::vector<BookmarkRow> getBookmarks(const std::string& videoId);
  int getBookmarkCount(const std::string& videoId);
  // Every bookmark of the library as the bookmarks document (BookmarkDocument.h), ordered by
  // video id and then by pos1; empty text when the bookmarks cannot be read.
  std::string getAllBookmarksAsJson();

  // ---- downloaded paths ----
  void saveDownloadedVideoFilePath_forId(const std::optional<std::string>& path, const std::string& videoId);
  std::optional<std::string> getDownloadedVideoFilePath(const std::string& videoId);
  std::vector<std::string> getDownloadedVideoArray();

  // ---- playlist groups ----
  bool addPlaylistGroup(const std::string& name);
  bool renamePlaylistGroup_newName(const std::string& oldName, const std::string& newName);
  void deletePlaylistGroup(const std::string& name);
  void addPlaylistGroupEntry_groupId_notify(const std::string& playlistId, int groupId, bool notify);
  int getPlaylistGroupId(const std::string& playlistId);
  void deletePlaylistGroupEntry_notify(const std::string& playlistId, bool notify);
  // Every group, ordered by name.
  std::vector<PlaylistGroup> getPlaylistGroupArray();
  // A new empty dictionary; reads nothing.
  ns::Dictionary getPlaylistGroupMap();

  // ---- expand states ----
  void setMenuExpanded_expanded(const std::string& menuId, bool expanded);
  bool isMenuExpanded(const std::string& menuId);

  // ---- string cache ----
  void saveString_withType_withData(const std::string& name, const std::string& type,
                                    const std::string& text);
  // The stored text (nil when it is NULL), or "" when nothing is stored under type + name.
  std::optional<std::string> getString_withType(const std::string& name, const std::string& type);

  // Drops every instance and forgets that the migrations ran, so that a test can start the
  // store again in a fresh sandbox.
  static void resetForTesting();

 private:
  ns::Ref<SqlDatabase> _db;
};
