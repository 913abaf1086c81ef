#include "lib/database/SqlStatement.h"

#include <sqlite3.h>

SqlStatement::~SqlStatement() {
  close();
}

void SqlStatement::close() {
  if (_statement) {
    sqlite3_finalize(_statement);
    _statement = nullptr;
  }
  _inUse = false;
}

void SqlStatement::reset() {
  if (_statement) sqlite3_reset(_statement);
  _inUse = false;
}

std::string SqlStatement::description() const {
  return ns::Object::description() + " " + std::to_string(_useCount) + " hit(s) for query " + _query;
}
