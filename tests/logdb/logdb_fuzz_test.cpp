// CLogDB over malformed files: the corpus of hand-made ones, each with the
// result its name gives, and random mutations of them.

#include "logdb/logdb_records.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

using sundry::test::ReadFile;
using sundry::test::TempDir;
using sundry::test::WriteFile;

namespace {

const std::string kCorpus = std::string(SUNDRY_SOURCE_DIR) + "/tests/logdb/corpus";

// Every corpus file is a log of type "EVT", version 3.
int openAs(CLogDB& db, const std::string& path) { return db.open(path.c_str(), "EVT", 3, 8, 4, 0); }

std::vector<std::filesystem::path> corpus() {
  std::vector<std::filesystem::path> files;
  for (auto& e : std::filesystem::directory_iterator(kCorpus)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(LogDBCorpus, EachFileOpensWithTheResultItsNameGives) {
  TempDir dir;
  const auto files = corpus();
  ASSERT_GE(files.size(), 20u);
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    const int expected = std::stoi(name.substr(0, 2));
    const std::string copy = dir.file(name);
    const std::string bytes = ReadFile(file.string());
    ASSERT_TRUE(WriteFile(copy, bytes));
    CLogDB::HeaderInfo header;  // read without checks: any 36 bytes
    EXPECT_EQ(bytes.size() >= 36 ? 0 : 6, CLogDB::readHeader(copy.c_str(), &header)) << name;
    CLogDB db;
    EXPECT_EQ(expected, openAs(db, copy)) << name;
    EXPECT_EQ(expected == 0 ? 1 : 0, db.isOpen()) << name;
    EXPECT_EQ(bytes, ReadFile(copy)) << name << " was written to";
  }
}

// Byte-level mutations aimed at the header fields, plus cuts and growth.
std::string mutate(std::string b, std::mt19937& rng) {
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  const int rounds = 1 + pick(3);
  for (int r = 0; r < rounds; ++r) {
    switch (pick(5)) {
      case 0:  // one random byte anywhere
        if (!b.empty()) b[static_cast<size_t>(pick(static_cast<int>(b.size())))] = static_cast<char>(pick(256));
        break;
      case 1:  // a header field set to a value at a boundary
        if (b.size() >= 36) {
          static const LONG values[] = {-2, -1, 0, 1, 2, 3, 4, 5, 7, 8, 9, 0x7fffffff, INT32_MIN, 0x10000, 1 << 24};
          const size_t field = 16 + 4 * static_cast<size_t>(pick(5));  // record length .. capacity
          const uint32_t v = static_cast<uint32_t>(values[pick(sizeof values / sizeof values[0])]);
          for (int i = 0; i < 4; ++i) b[field + i] = static_cast<char>(v >> (8 * i));
        }
        break;
      case 2:  // cut
        b.resize(static_cast<size_t>(pick(static_cast<int>(b.size()) + 1)));
        break;
      case 3:  // grow with random bytes
        for (int n = pick(40); n > 0; --n) b.push_back(static_cast<char>(pick(256)));
        break;
      case 4:  // a status byte flipped between live and deleted
        if (b.size() > 36) b[36 + 9 * static_cast<size_t>(pick(static_cast<int>((b.size() - 36) / 9 + 1)))] =
            pick(2) ? '\xCF' : '\x10';
        break;
    }
  }
  return b;
}

TEST(LogDBFuzz, MutatedFilesNeverLeadOutsideTheFileOrItsBuffers) {
  sundry::test::FastTempDir dir;
  const std::string path = dir.file("fuzz.log");

  // Half the inputs start from a valid log, half from a malformed one.
  std::vector<std::string> valid, malformed;
  for (const auto& file : corpus())
    (file.filename().string().rfind("00-", 0) == 0 ? valid : malformed).push_back(ReadFile(file.string()));
  const std::set<int> openResults = {0, 6, 7, 8, 9, 10, 11, 23, 24};
  const std::set<int> readResults = {0, 13, 16, 25};

  std::mt19937 rng(20240607);
  int opened = 0, refused = 0;
  for (int iteration = 0; iteration < 3000; ++iteration) {
    SCOPED_TRACE("iteration " + std::to_string(iteration));
    const auto& seeds = iteration % 2 ? valid : malformed;
    const std::string bytes = mutate(seeds[rng() % seeds.size()], rng);
    ASSERT_TRUE(WriteFile(path, bytes));
    CLogDB db;
    const int rc = openAs(db, path);
    ASSERT_TRUE(openResults.count(rc)) << "open returned " << rc;
    if (rc != 0) {
      ++refused;
      ASSERT_EQ(0, db.isOpen());
      ASSERT_EQ(bytes, ReadFile(path)) << "a refused file was written to";
      continue;
    }
    ++opened;
    CLogDB::HeaderInfo header;
    ASSERT_EQ(0, db.getHeader(&header));
    ASSERT_EQ(static_cast<LONGLONG>(bytes.size()), header.llFileSize);
    const LONG recLen = db.getRecordSize(), capacity = header.lCapacity, count = db.getRecordCount();
    ASSERT_GE(count, 0);
    ASSERT_LE(count, capacity);
    std::vector<unsigned char> buf(static_cast<size_t>(recLen) + 16, 0xAB);

    // Reads of every slot (and beyond) stay in the buffer's record length.
    for (LONG slot = -1; slot <= std::min<LONG>(capacity, 40); ++slot) {
      const int r = db.getRecord(buf.data(), slot);
      ASSERT_TRUE(readResults.count(r)) << "getRecord(" << slot << ") returned " << r;
    }
    for (size_t i = static_cast<size_t>(recLen); i < buf.size(); ++i) ASSERT_EQ(0xAB, buf[i]);

    // A walk ends within the live range.
    int steps = 0, last = 0;
    LONG slot;
    if (db.startScan() == 0) {
      while ((last = db.getNextRecord(buf.data(), &slot)) == 0) {
        ASSERT_LT(++steps, count + 1);
        ASSERT_TRUE(slot >= 0 && slot < capacity);
      }
    }
    ASSERT_TRUE(last == 0 || last == 18) << "walk ended with " << last;
    int hits = 0;
    for (int resume = 0; db.search(0, std::min<LONG>(recLen, 4), buf.data(), resume, nullptr); resume = 1)
      ASSERT_LE(++hits, count);

    // Now and then, change the log and check it still opens.
    if (iteration % 8 != 0) continue;
    std::vector<unsigned char> record(static_cast<size_t>(recLen), 0x5A);
    for (int i = 0; i < 2; ++i) {
      const int w = db.setRecord(record.data(), recLen >= 4 ? 0 : -1, -1);
      ASSERT_TRUE(w == 0) << "append returned " << w;
    }
    const int d = db.delRecord(static_cast<LONG>(rng() % static_cast<unsigned>(std::min<LONG>(capacity, 50))));
    ASSERT_EQ(0, d);
    if (rng() % 2) db.resize(1 + static_cast<LONG>(rng() % 9));
    ASSERT_EQ(1, db.isOpen());
    db.close();
    CLogDB again;
    ASSERT_EQ(0, openAs(again, path)) << "the log no longer opens after its own changes";
    if (again.startScan() == 0) {
      for (steps = 0; (last = again.getNextRecord(buf.data(), &slot)) == 0;) ASSERT_LE(++steps, capacity + 10);
    }
  }
  // The mutations reach both sides of the checks.
  EXPECT_GT(opened, 500);
  EXPECT_GT(refused, 1000);
}

}  // namespace
