#pragma once
// One prepared SQLite statement and the bookkeeping that lets its connection cache and reuse it.
#include <cstdint>
#include <string>

#include "platform/core/Object.h"

struct sqlite3_stmt;

class SqlStatement : public ns::Object {
 public:
  SqlStatement() = default;
  explicit SqlStatement(sqlite3_stmt* statement) : _statement(statement) {}
  ~SqlStatement() override;

  // Finalizes the handle (if any) and forgets it; the statement is no longer in use.
  void close();
  // Resets the handle (bindings stay); the statement is no longer in use.
  void reset();

  std::string description() const override;

  sqlite3_stmt* statement() const { return _statement; }
  void setStatement(sqlite3_stmt* statement) { _statement = statement; }
  const std::string& query() const { return _query; }
  void setQuery(const std::string& query) { _query = query; }
  int64_t useCount() const { return _useCount; }
  void setUseCount(int64_t useCount) { _useCount = useCount; }
  bool inUse() const { return _inUse; }
  void setInUse(bool inUse) { _inUse = inUse; }

 private:
  sqlite3_stmt* _statement = nullptr;
  std::string _query;
  int64_t _useCount = 0;
  bool _inUse = false;
};
