// CLogDB across processes: one object at a time has a log open, so writers
// in several processes lose none of the records they were told were
// written, a reader sees the log between whole appends, and the file a
// killed resize leaves beside the log goes with the next open.

#include "logdb/logdb_records.h"
#include "platform/posix/fault.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace sundry::test;
using sundry::platform::posix::FileOperation;
using sundry::platform::posix::SetFileFaultHook;

namespace {

constexpr LONG kRecLen = 32;

// A child that opens the log for every append, as separate program runs
// do, and reports the number of each append that returned 0 on fd.
pid_t spawnWriter(const std::string& path, LONG capacity, int w, LONG appends, int fd) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  unsigned char r[kRecLen];
  for (LONG n = 1; n <= appends; ++n) {
    CLogDB db;
    if (db.open(path.c_str(), "LOCK", 1, kRecLen, capacity, 0) != 0) continue;
    FillRecord(r, kRecLen, w, n);
    if (db.setRecord(r, 0, -1) == 0 && write(fd, &n, sizeof n) != sizeof n) _exit(2);
  }
  _exit(0);
}

int exitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LogDBLock, WritersInTwoProcessesLoseNoAcknowledgedRecord) {
  FastTempDir dir;
  const std::string path = dir.file("shared.log");
  constexpr LONG kAppends = 1000;
  {
    CLogDB db;
    ASSERT_EQ(0, db.open(path.c_str(), "LOCK", 1, kRecLen, 4000, 0));
  }
  int fds[2][2];
  pid_t pids[2];
  for (int w = 0; w < 2; ++w) {
    ASSERT_EQ(0, pipe(fds[w]));
    pids[w] = spawnWriter(path, 4000, w, kAppends, fds[w][1]);
    close(fds[w][1]);
  }
  std::set<std::pair<int, LONG>> acknowledged;
  for (int w = 0; w < 2; ++w) {
    LONG n;
    while (read(fds[w][0], &n, sizeof n) == sizeof n) acknowledged.insert({w, n});
    close(fds[w][0]);
    EXPECT_EQ(0, exitStatus(pids[w]));
  }
  EXPECT_EQ(2u * kAppends, acknowledged.size()) << "appends were refused";

  CLogDB db;
  ASSERT_EQ(0, db.open(path.c_str(), "LOCK", 1, kRecLen, 4000, 0));
  std::set<std::pair<int, LONG>> found;
  unsigned char r[kRecLen];
  LONG slot, stamp = 0;
  ASSERT_EQ(0, db.startScan());
  while (db.getNextRecord(r, &slot) == 0) {
    ASSERT_TRUE(RecordIsWhole(r, kRecLen)) << "slot " << slot;
    EXPECT_EQ(++stamp, RecordStamp(r)) << "slot " << slot;
    found.insert({r[4], RecordNumber(r)});
  }
  std::vector<std::pair<int, LONG>> missing;
  for (const auto& a : acknowledged)
    if (!found.count(a)) missing.push_back(a);
  EXPECT_TRUE(missing.empty()) << missing.size() << " acknowledged records are missing, the first: record "
                               << missing[0].second << " of writer " << missing[0].first;
  EXPECT_EQ(acknowledged.size(), found.size());
  EXPECT_EQ(static_cast<LONG>(found.size()), db.getRecordCount());
}

// A reader opens the log while two writers keep appending to a small ring.
// Holding the log, it must find the records that the header names, whole,
// stamped one after another up to the header's append counter.
TEST(LogDBLock, AReaderSeesTheLogBetweenWholeAppends) {
  FastTempDir dir;
  const std::string path = dir.file("ring.log");
  constexpr LONG kCapacity = 8;
  {
    CLogDB db;
    ASSERT_EQ(0, db.open(path.c_str(), "LOCK", 1, kRecLen, kCapacity, 0));
  }
  int sink[2];
  ASSERT_EQ(0, pipe(sink));
  fcntl(sink[1], F_SETFL, O_NONBLOCK);  // nobody reads the reports
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) writers[w] = spawnWriter(path, kCapacity, w, 2000, sink[1]);
  close(sink[0]);
  close(sink[1]);

  int reads = 0;
  for (; reads < 300; ++reads) {
    CLogDB reader;
    ASSERT_EQ(0, reader.open(path.c_str(), "LOCK", 1, kRecLen, kCapacity, 0));
    CLogDB::HeaderInfo header;
    ASSERT_EQ(0, reader.getHeader(&header));
    // The header the object holds is the file's.
    ASSERT_EQ(header.lAppendCount, CounterOnDisk(path)) << "read " << reads;
    const LONG counter = header.lAppendCount;
    std::vector<LONG> stamps;
    unsigned char r[kRecLen];
    for (int resume = 0; reader.search(0, 0, const_cast<char*>(""), resume, r) == 1; resume = 1) {
      ASSERT_TRUE(RecordIsWhole(r, kRecLen)) << "read " << reads;
      stamps.push_back(RecordStamp(r));
    }
    ASSERT_EQ(std::min(counter, kCapacity), static_cast<LONG>(stamps.size())) << "read " << reads;
    ASSERT_EQ(reader.getRecordCount(), static_cast<LONG>(stamps.size())) << "read " << reads;
    for (size_t i = 0; i < stamps.size(); ++i)
      ASSERT_EQ(counter - static_cast<LONG>(stamps.size() - 1 - i), stamps[i]) << "read " << reads;
    if (counter >= 4000) break;
  }
  for (pid_t pid : writers) EXPECT_EQ(0, exitStatus(pid));
  EXPECT_GT(reads, 10);
}

TEST(LogDBLock, OpenWaitsForTheHolderOrSaysBusy) {
  TempDir dir;
  const std::string path = dir.file("held.log");
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t holder = fork();
  if (holder == 0) {
    CLogDB db;
    if (db.open(path.c_str(), "LOCK", 1, kRecLen, 4, 0) != 0) _exit(1);
    if (write(ready[1], "h", 1) != 1) _exit(2);
    usleep(300 * 1000);
    _exit(0);  // the lock goes with the process
  }
  close(ready[1]);
  char c;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  close(ready[0]);
  const std::string before = ReadFile(path);

  CLogDB impatient;
  impatient.setLockWait(0);
  EXPECT_EQ(26, impatient.open(path.c_str(), "LOCK", 1, kRecLen, 4, 0));
  EXPECT_EQ(26, impatient.open(path.c_str(), "LOCK", 1, kRecLen, 9, 1));  // truncating waits too
  EXPECT_EQ(0, impatient.isOpen());
  EXPECT_EQ(before, ReadFile(path));

  CLogDB patient;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, patient.open(path.c_str(), "LOCK", 1, kRecLen, 4, 0));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(0, exitStatus(holder));
}

TEST(LogDBLock, AResizeKilledBeforeItsMoveLeavesNothingAfterTheNextOpen) {
  TempDir dir;
  const std::string logs[] = {dir.file("a.log"), dir.file("b.log")};
  unsigned char r[kRecLen];
  for (const std::string& path : logs) {
    {
      CLogDB db;
      ASSERT_EQ(0, db.open(path.c_str(), "LOCK", 1, kRecLen, 5, 0));
      for (LONG n = 1; n <= 3; ++n) {
        FillRecord(r, kRecLen, 0, n);
        ASSERT_EQ(0, db.setRecord(r, 0, -1));
      }
    }
    pid_t pid = fork();
    if (pid == 0) {
      CLogDB db;
      if (db.open(path.c_str(), "LOCK", 1, kRecLen, 5, 0) != 0) _exit(1);
      // Killed with the new file written beside the log, before its move.
      SetFileFaultHook(
          [](FileOperation op, void*) -> DWORD { return op == FileOperation::Rename ? raise(SIGKILL) : 0; }, nullptr);
      db.resize(9);
      _exit(2);
    }
    EXPECT_EQ(-1, exitStatus(pid)) << "the resize was not killed";
  }
  auto entries = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
  ASSERT_EQ(4, entries());  // two logs, two files beside them

  CLogDB db;
  ASSERT_EQ(0, db.open(logs[0].c_str(), "LOCK", 1, kRecLen, 5, 0));
  EXPECT_EQ(3, entries());
  EXPECT_EQ(3, db.getRecordCount());
  db.close();
  ASSERT_EQ(0, db.open(logs[1].c_str(), "LOCK", 1, kRecLen, 5, 0));
  EXPECT_EQ(2, entries());
}

}  // namespace
