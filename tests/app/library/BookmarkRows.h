#pragma once
// Every bookmark row of the main thread's library as "<video>|<pos1>|<pos2>|<marker>|<comment>",
// "<null>" for a missing text, in a fixed order.
#include <string>
#include <vector>

#include "app/library/DBAccess.h"
#include "lib/database/SqlDatabase.h"

inline std::vector<std::string> bookmarkRows() {
  std::vector<std::string> rows;
  auto rs = DBAccess::getInstance()->db()->executeQuery(
      "SELECT trackid, pos1, pos2, startend, comment FROM bookmark ORDER BY trackid, pos1, pos2;");
  while (rs && rs->next()) {
    rows.push_back(rs->stringForColumnIndex(0).value_or("<null>") + "|" +
                   std::to_string(rs->doubleForColumnIndex(1)) + "|" +
                   std::to_string(rs->doubleForColumnIndex(2)) + "|" +
                   rs->stringForColumnIndex(3).value_or("<null>") + "|" +
                   rs->stringForColumnIndex(4).value_or("<null>"));
  }
  return rows;
}
