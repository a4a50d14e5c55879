#pragma once
// The fixture of the record-log tests: a scratch folder with a log path,
// and helpers that append texts and walk a log.

#include "support/testutil.h"

#include <sundry/logdb/LogDB.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace sundry::test {

// The sub-header's first, last, append counter and capacity as the file
// holds them.
inline std::vector<LONG> onDisk(const std::string& path) {
  CLogDB::HeaderInfo h{};
  EXPECT_EQ(0, CLogDB::readHeader(path.c_str(), &h));
  return {h.lFirst, h.lLast, h.lAppendCount, h.lCapacity};
}

inline std::vector<unsigned char> rec(LONG n, const std::string& text) {
  std::vector<unsigned char> r(static_cast<size_t>(n), 0);
  std::memcpy(r.data(), text.data(), std::min(text.size(), r.size()));
  return r;
}

inline int append(CLogDB& db, LONG recLen, const std::string& t, LONG stampOffset = -1) {
  return db.setRecord(rec(recLen, t).data(), stampOffset, -1);
}

// "slot:text" for each record of a walk from startScan, the text read from
// byte `from` on.
using Walk = std::vector<std::string>;
inline Walk walk(CLogDB& db, LONG recLen, size_t from = 0) {
  Walk out;
  std::vector<char> buf(static_cast<size_t>(recLen) + 1, 0);
  LONG slot;
  if (db.startScan() != 0) return out;
  while (out.size() < 100 && db.getNextRecord(buf.data(), &slot) == 0)
    out.push_back(std::to_string(slot) + ":" + std::string(buf.data() + from));
  return out;
}

class LogDBTest : public ::testing::Test {
 protected:
  sundry::test::TempDir dir;
  std::string path = dir.file("events.log");
};

}  // namespace sundry::test
