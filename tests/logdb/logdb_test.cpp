// CLogDB: the file it writes, opening, the header queries and the record
// operations.

#include "logdb/logdb_fixture.h"

#include <sundry/logdb/LogDB.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace sundry::test;

#if defined(_WIN32)
constexpr int kMissingFolderResult = 2;
#else
constexpr int kMissingFolderResult = 5;
#endif

// A truncating open and a resize put the new file in place while the
// former one is open (and locked against other objects). Windows replaces
// an open file only with a POSIX-semantics rename, which Wine lacks.
constexpr char kNoReplaceOfOpenFiles[] = "Wine cannot move a file over one that is open";

TEST_F(LogDBTest, CreateWritesTheHeaderOpenChecksIdentityAndTheHeaderReadsBack) {
  CLogDB db;
  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 3, 16, 100, 0));
  const unsigned char expected[36] = {'V', 'E', 'L', 'A', 1, 0, 0, 0, 'E', 'V', 'T', 0, 3, 0, 0, 0, 16, 0,
                                      0, 0, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 100, 0, 0, 0};
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(expected), 36), ReadFile(path));
  EXPECT_EQ(1u, sundry::test::DirEntries(dir.path()));
  ASSERT_EQ(0, append(db, 16, "x"));
  // Both queries give the fields; readHeader needs no lock, the open
  // object's header is the file's.
  CLogDB::HeaderInfo mine{}, file{};
  ASSERT_EQ(0, db.getHeader(&mine));
  ASSERT_EQ(0, CLogDB::readHeader(path.c_str(), &file));
  for (const CLogDB::HeaderInfo& h : {mine, file}) {
    EXPECT_STREQ("VELA", h.magic);
    EXPECT_STREQ("EVT", h.type);
    EXPECT_EQ((std::vector<LONGLONG>{1, 3, 16, 0, 0, 1, 100, 36 + 17}),
              (std::vector<LONGLONG>{h.lHeaderVersion, h.dwVersion, h.lRecLen, h.lFirst, h.lLast, h.lAppendCount,
                                     h.lCapacity, h.llFileSize}));
  }
  db.close();
  EXPECT_EQ(3, db.getHeader(&mine));
  EXPECT_EQ(25, db.getHeader(nullptr));
  EXPECT_EQ(2, CLogDB::readHeader(dir.file("none.log").c_str(), &file));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());

  // An existing file keeps its record length and capacity (a type or
  // version that differs is refused: see the corpus).
  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 3, 20, 50, 0));
  EXPECT_EQ(16, db.getRecordSize());
  db.close();
  // A long type is kept as its first four bytes, and only those compare.
  const std::string other = dir.file("long.log");
  ASSERT_EQ(0, db.open(other.c_str(), "EVENTS", 1, 8, 4, 0));
  EXPECT_EQ("EVEN", ReadFile(other).substr(8, 4));
  db.close();
  EXPECT_EQ(0, db.open(other.c_str(), "EVENXYZ", 1, 8, 4, 0));
  db.close();
  EXPECT_EQ(9, db.open(other.c_str(), "EVE", 1, 8, 4, 0));
}

TEST_F(LogDBTest, OpenWithoutAFileAndTruncatingOpen) {
  CLogDB db;
  EXPECT_EQ(0, db.open(path.c_str(), "EVT", 1, 16, 0, 0));            // maxRec 0: nothing
  EXPECT_EQ(2, db.open(path.c_str(), "EVT", 1, 0, 10, 0));            // not created without reclen
  EXPECT_EQ(25, db.open(path.c_str(), "EVT", 1, 16, -5, 0));
  EXPECT_EQ(25, db.open(path.c_str(), "EVT", 1, 1000, 3000000, 0));  // past 2 GiB
  EXPECT_FALSE(fs::exists(path));
  // A log in a missing folder: the Linux streams report the file missing,
  // and its creation fails (5); Windows reports the folder missing
  // (ERROR_PATH_NOT_FOUND), and only a missing file is created (2).
  EXPECT_EQ(kMissingFolderResult, db.open(dir.file("no/dir.log").c_str(), "EVT", 1, 16, 10, 0));
  EXPECT_EQ(2, db.open(dir.path().c_str(), "EVT", 1, 16, 10, 0));  // exists, never replaced
  EXPECT_EQ(0, db.isOpen());

  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 1, 16, 10, 0));
  EXPECT_EQ(0, db.open(dir.file("b.log").c_str(), "B", 9, 8, 5, 0));  // keeps the open file
  EXPECT_FALSE(fs::exists(dir.file("b.log")));
  ASSERT_EQ(0, append(db, 16, "old"));
  db.close();
  if (UnderWine()) GTEST_SKIP() << kNoReplaceOfOpenFiles;
  ASSERT_EQ(0, db.open(path.c_str(), "NEW", 2, 8, 5, 1));
  EXPECT_EQ(36u, ReadFile(path).size());
  EXPECT_EQ((std::vector<LONG>{-1, -1, 0, 5}), onDisk(path));
  EXPECT_EQ(8, db.getRecordSize());
}

TEST_F(LogDBTest, CopiesStartClosedAndReopenTheSameLogOnceItIsFree) {
  CLogDB db;
  db.setLockWait(50);
  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 1, 8, 4, 0));
  ASSERT_EQ(0, append(db, 8, "one"));
  CLogDB copy(db);
  EXPECT_EQ(0, copy.isOpen());
  EXPECT_EQ(26, copy.startScan());  // the original still has it open
  EXPECT_EQ(0, copy.isOpen());
  db.close();
  ASSERT_EQ(0, copy.startScan());
  ASSERT_EQ(0, append(copy, 8, "two"));
  EXPECT_EQ(26, db.startScan());
  copy.close();
  CLogDB assigned;
  ASSERT_EQ(0, assigned.open(dir.file("b.log").c_str(), "B", 1, 8, 4, 0));
  assigned = db;
  EXPECT_EQ(0, assigned.isOpen());
  EXPECT_EQ((Walk{"0:one", "1:two"}), walk(assigned, 8));
  assigned.close();
  EXPECT_EQ((Walk{"0:one", "1:two"}), walk(db, 8));
}

TEST_F(LogDBTest, RingWrapsAndStampsAppends) {
  CLogDB db;
  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 1, 8, 3, 0));
  ASSERT_EQ(0, append(db, 8, "....a", 0));
  EXPECT_EQ((std::vector<LONG>{0, 0, 1, 3}), onDisk(path));
  for (const char* t : {"....b", "....c", "....d"}) ASSERT_EQ(0, append(db, 8, t, 0));
  auto r = rec(8, "....e");
  ASSERT_EQ(0, db.setRecord(r.data(), 0, -1));
  EXPECT_EQ(rec(8, "....e"), r);  // the caller's buffer is not stamped
  EXPECT_EQ(1, db.getLastRecordNumber());

  const std::string b = ReadFile(path);
  ASSERT_EQ(36u + 3 * 9, b.size());
  EXPECT_EQ(std::string("\xCF\4\0\0\0d\0\0\0\xCF\5\0\0\0e\0\0\0\xCF\3\0\0\0c\0\0\0", 27), b.substr(36));
  EXPECT_EQ((std::vector<LONG>{2, 1, 5, 3}), onDisk(path));
  EXPECT_EQ(3, db.getRecordCount());
  EXPECT_EQ((Walk{"2:c", "0:d", "1:e"}), walk(db, 8, 4));
}

TEST_F(LogDBTest, WalksStopAtTheNewestRecordWhereverTheRangeLies) {
  // Capacity 5, live range 2..4, live-marked left-overs in slots 0 and 1.
  std::string b("VELA\1\0\0\0EVT\0\3\0\0\0\4\0\0\0\2\0\0\0\4\0\0\0\x09\0\0\0\5\0\0\0", 36);
  for (const char* t : {"old0", "old1", "two.", "thre", "four"}) b += std::string("\xCF") + t;
  ASSERT_TRUE(WriteFile(path, b));
  CLogDB db;
  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 3, 4, 5, 0));
  EXPECT_EQ(3, db.getRecordCount());
  EXPECT_EQ((Walk{"2:two.", "3:thre", "4:four"}), walk(db, 4));
  int hits = 0;
  for (int resume = 0; db.search(0, 0, (void*)"", resume, nullptr) == 1; resume = 1) ++hits;
  EXPECT_EQ(3, hits);
  ASSERT_EQ(0, append(db, 4, "five"));  // round to slot 0: range 2..0
  EXPECT_EQ((Walk{"2:two.", "3:thre", "4:four", "0:five"}), walk(db, 4));
}

TEST_F(LogDBTest, WritingInPlaceDeletingAndEmptying) {
  CLogDB db;
  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 1, 8, 5, 0));
  for (const char* t : {"a", "b", "c", "d"}) ASSERT_EQ(0, append(db, 8, t, 4));
  auto r = rec(8, "WXYZ-new");
  ASSERT_EQ(0, db.setRecord(r.data(), 0, 1));  // no stamp, indices stay
  ASSERT_EQ(0, db.setRecord(r.data(), 0, 4));  // outside the live range: not live
  EXPECT_EQ((std::vector<LONG>{0, 3, 4, 5}), onDisk(path));
  EXPECT_EQ((Walk{"0:a", "1:WXYZ-new", "2:c", "3:d"}), walk(db, 8));

  ASSERT_EQ(0, db.delRecord(1));
  std::vector<unsigned char> buf(8);
  EXPECT_EQ(16, db.getRecord(buf.data(), 1));
  EXPECT_EQ(4, db.getRecordCount());
  ASSERT_EQ(0, db.startScan());
  LONG slot;
  ASSERT_EQ(0, db.getNextRecord(buf.data(), &slot));
  ASSERT_EQ(0, db.delRecord(2));
  ASSERT_EQ(0, db.delRecord(3));
  EXPECT_EQ(18, db.getNextRecord(buf.data(), &slot));  // the rest is deleted
  // Deleting the last live one empties the log; slot 4 is no part of it.
  ASSERT_EQ(0, db.delRecord(0));
  EXPECT_EQ((std::vector<LONG>{-1, -1, 4, 5}), onDisk(path));
  EXPECT_EQ(19, db.startScan());
  EXPECT_EQ(18, db.getNextRecord(buf.data(), &slot));

  ASSERT_EQ(0, append(db, 8, "e"));
  EXPECT_EQ(0, db.getLastRecordNumber());
  const size_t length = ReadFile(path).size();
  ASSERT_EQ(0, db.empty());
  EXPECT_EQ(0, db.getRecordCount());
  EXPECT_EQ(length, ReadFile(path).size());
  EXPECT_EQ(5, onDisk(path)[2]);
}

TEST_F(LogDBTest, SearchByKeyWithResume) {
  CLogDB db;
  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 1, 12, 4, 0));
  for (const char* t : {"....AAAone", "....BBBtwo", "....AAAthree", "....CCCfour", "....AAAfive"})
    ASSERT_EQ(0, append(db, 12, t, 0));
  ASSERT_EQ(0, db.delRecord(3));  // "four"; "one" has left the ring
  std::vector<char> out(13, 0);
  std::vector<std::string> all;
  for (int resume = 0; db.search(0, 0, (void*)"", resume, out.data()); resume = 1) all.push_back(out.data() + 4);
  EXPECT_EQ((std::vector<std::string>{"BBBtwo", "AAAthree", "AAAfive"}), all);
  EXPECT_EQ(0, db.search(0, 0, (void*)"", 1, out.data()));  // stays ended

  EXPECT_EQ(1, db.search(4, 3, (void*)"AAA", 0, out.data()));
  EXPECT_EQ(2, db.getLastRecordNumber());
  EXPECT_EQ(1, db.search(4, 3, (void*)"AAA", 1, nullptr));
  EXPECT_EQ(0, db.getLastRecordNumber());
  EXPECT_EQ(0, db.search(4, 3, (void*)"AAA", 1, out.data()));
  EXPECT_EQ(0, db.search(4, 3, (void*)"CCC", 0, out.data()));       // deleted
  EXPECT_EQ(1, db.search(0, 4, (void*)"\3\0\0\0", 0, out.data()));  // by stamp
  EXPECT_STREQ("AAAthree", out.data() + 4);
  EXPECT_EQ(1, db.search(10, 2, (void*)"\0\0", 0, out.data()));  // the last two bytes
  for (LONG offset : {-1L, 10L}) EXPECT_EQ(0, db.search(offset, 3, (void*)"AAA", 0, out.data()));
  EXPECT_EQ(0, db.search(4, 3, nullptr, 0, out.data()));
}

TEST_F(LogDBTest, ResizeKeepsTheOldestLiveRecordsInOrder) {
  if (UnderWine()) GTEST_SKIP() << kNoReplaceOfOpenFiles;
  CLogDB db;
  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 1, 8, 5, 0));
  for (const char* t : {"....a", "....b", "....c", "....d", "....e"}) ASSERT_EQ(0, append(db, 8, t, 0));
  for (LONG same : {5L, 0L, -3L}) EXPECT_EQ(0, db.resize(same));
  ASSERT_EQ(1, db.resize(2));
  EXPECT_EQ(36u + 2 * 9, ReadFile(path).size());
  EXPECT_EQ((std::vector<LONG>{0, 1, 5, 2}), onDisk(path));
  EXPECT_EQ((Walk{"0:a", "1:b"}), walk(db, 8, 4));

  for (const char* t : {"....f", "....g"}) ASSERT_EQ(0, append(db, 8, t, 0));
  ASSERT_EQ(1, db.resize(3));
  for (const char* t : {"....h", "....i"}) ASSERT_EQ(0, append(db, 8, t, 0));
  ASSERT_EQ(0, db.delRecord(2));  // h; the ring is g, h, i from slot 1
  ASSERT_EQ(1, db.resize(6));
  ASSERT_EQ(0, append(db, 8, "....j", 0));
  EXPECT_EQ((Walk{"0:g", "1:i", "2:j"}), walk(db, 8, 4));
  EXPECT_EQ(10, onDisk(path)[2]);  // the counter went on
  EXPECT_EQ('\x0a', ReadFile(path)[36 + 2 * 9 + 1]);

  ASSERT_EQ(0, db.empty());
  ASSERT_EQ(1, db.resize(4));
  EXPECT_EQ((std::vector<LONG>{-1, -1, 10, 4}), onDisk(path));
  EXPECT_EQ(36u, ReadFile(path).size());
  EXPECT_EQ(1u, sundry::test::DirEntries(dir.path()));
}

TEST_F(LogDBTest, BadArgumentsAndClosedLogsAreRefused) {
  CLogDB db;
  std::vector<unsigned char> buf(8);
  LONG slot;
  for (int rc : {db.setRecord(buf.data(), -1, -1), db.getRecord(buf.data(), 0), db.delRecord(0), db.empty(),
                 db.startScan()})
    EXPECT_EQ(3, rc);
  EXPECT_EQ(18, db.getNextRecord(buf.data(), &slot));

  ASSERT_EQ(0, db.open(path.c_str(), "EVT", 1, 8, 4, 0));
  ASSERT_EQ(0, append(db, 8, "a"));
  const std::string before = ReadFile(path);
  for (LONG bad : {-2L, 4L, 1000000L}) {
    EXPECT_EQ(25, db.setRecord(buf.data(), -1, bad));
    EXPECT_EQ(25, db.getRecord(buf.data(), bad));
    EXPECT_EQ(25, db.delRecord(bad));
  }
  for (LONG stamp : {5L, -2L}) EXPECT_EQ(25, db.setRecord(buf.data(), stamp, -1));
  EXPECT_EQ(25, db.setRecord(nullptr, -1, -1));
  EXPECT_EQ(before, ReadFile(path));

  // A file that no longer passes the checks cannot be walked, and stays.
  ASSERT_TRUE(WriteFile(path, "NOT A LOG, JUST SOME TEXT..........."));
  EXPECT_EQ(7, db.startScan());
  EXPECT_EQ(18, db.getNextRecord(buf.data(), &slot));
  EXPECT_EQ("NOT A LOG, JUST SOME TEXT...........", ReadFile(path));
}

TEST_F(LogDBTest, VLModeAppendsStringsWithinItsLimits) {
  CLogDB vl;
  CString abc("abc");
  EXPECT_EQ(3, vl.setRecord(abc));
  EXPECT_EQ(0, vl.openVL(path.c_str(), "ab", "label", 2, 0));
  EXPECT_EQ(0, vl.isOpen());
  ASSERT_EQ(0, vl.openVL(path.c_str(), "ab", "label", 2, 5));
  EXPECT_EQ(1, vl.openVL(path.c_str(), "ab", "label", 2, 5));
  ASSERT_EQ(0, vl.setRecord(abc));
  EXPECT_EQ("ab", ReadFile(path));
  std::vector<unsigned char> buf(8);
  CLogDB::HeaderInfo h;
  EXPECT_EQ(-1, vl.getRecordCount());
  EXPECT_EQ(2, vl.getRecordSize());
  for (int rc : {vl.getRecord(buf.data(), 0), vl.getHeader(&h)}) EXPECT_EQ(22, rc);
  for (int rc : {vl.delRecord(0), vl.empty()}) EXPECT_EQ(20, rc);
  EXPECT_EQ(9, vl.setRecord(buf.data(), -1, -1));
  EXPECT_EQ(0, vl.startScan());
  // The size is tested before each append: the file passes 5 bytes once.
  ASSERT_EQ(0, vl.setRecord(abc));
  ASSERT_EQ(0, vl.setRecord(abc));
  EXPECT_EQ(18, vl.setRecord(abc));
  EXPECT_EQ("ababab", ReadFile(path));
  vl.close();
  EXPECT_EQ(9, vl.setRecord(abc));
  EXPECT_EQ(21, vl.startScan());
  ASSERT_EQ(0, vl.open(dir.file("fixed.log").c_str(), "EVT", 1, 8, 4, 0));  // still VL mode
  EXPECT_EQ(9, vl.setRecord(buf.data(), -1, -1));

  CLogDB plain;
  EXPECT_EQ(2, plain.openVL(dir.file("no/such").c_str(), "ab", nullptr, 0, -1));
  ASSERT_EQ(0, plain.openVL(dir.file("plain.txt").c_str(), "abc", nullptr, 0, -1));
  CString line("a longer line\n");
  for (int i = 0; i < 2; ++i) ASSERT_EQ(0, plain.setRecord(line));
  EXPECT_EQ("a longer line\na longer line\n", ReadFile(dir.file("plain.txt")));
}

}  // namespace
