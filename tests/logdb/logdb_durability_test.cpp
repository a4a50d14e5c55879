// CLogDB durability: a writer killed at random moments, a writer that dies
// at each of its writes in turn, and failed writes.

#include "logdb/logdb_records.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

using namespace sundry::test;
using sundry::platform::posix::FileOperation;

namespace {

constexpr LONG kRecLen = 64;

// Record n, stamped n by the library when the stamps and appends agree.
bool recordIsWhole(const unsigned char* r) { return RecordIsWhole(r, kRecLen) && RecordNumber(r) == RecordStamp(r); }

// After a crash: the log opens; its append counter is `settled` (the
// appends known to be complete) or one more; its records are whole and in
// order; and every acknowledged record is there, except one that the
// append in flight was about to drop from a full ring. An append in flight
// may leave its record live or deleted, or no trace at all.
::testing::AssertionResult logHolds(const std::string& path, const char* type, LONG capacity, LONG settled,
                                    const std::vector<LONG>& acknowledged) {
  CLogDB db;
  int rc = db.open(path.c_str(), type, 1, kRecLen, capacity, 0);
  if (rc != 0) return ::testing::AssertionFailure() << "open returned " << rc;
  const LONG counter = CounterOnDisk(path);
  if (counter != settled && counter != settled + 1)
    return ::testing::AssertionFailure() << "append counter " << counter << ", expected " << settled << " or one more";
  std::vector<LONG> stamps;
  unsigned char buf[kRecLen];
  LONG slot;
  rc = db.startScan();
  while (rc == 0 && (rc = db.getNextRecord(buf, &slot)) == 0) {
    if (!recordIsWhole(buf)) return ::testing::AssertionFailure() << "record in slot " << slot << " is torn";
    if (!stamps.empty() && RecordStamp(buf) <= stamps.back())
      return ::testing::AssertionFailure() << "stamp " << RecordStamp(buf) << " follows " << stamps.back();
    stamps.push_back(RecordStamp(buf));
  }
  if (rc != 18 && rc != 19) return ::testing::AssertionFailure() << "walk ended with " << rc;
  if (!stamps.empty() && stamps.back() > counter)
    return ::testing::AssertionFailure() << "stamp " << stamps.back() << " beyond the counter " << counter;
  const LONG oldestKept = counter + 2 - capacity;
  for (LONG a : acknowledged) {
    if (a < oldestKept) continue;
    if (!std::binary_search(stamps.begin(), stamps.end(), a))
      return ::testing::AssertionFailure() << "acknowledged record " << a << " is missing (counter " << counter
                                           << ", " << stamps.size() << " records)";
  }
  return ::testing::AssertionSuccess();
}

// A writer in a child process appends records from stamp `from` on until
// it is killed, reporting each acknowledged stamp through a pipe; they are
// added to *acknowledged. Returns the highest acknowledged stamp, or
// `from` - 1 when none.
LONG appendUntilKilled(const std::string& path, const char* type, LONG capacity, LONG from, int killAfterMs,
                       std::vector<LONG>* acknowledged) {
  int fds[2];
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "pipe";
    return from - 1;
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    CLogDB db;
    if (db.open(path.c_str(), type, 1, kRecLen, capacity, 0) != 0) _exit(3);
    unsigned char r[kRecLen];
    for (LONG n = from; n < from + 100000; ++n) {
      FillRecord(r, kRecLen, 0, n);
      if (db.setRecord(r, 0, -1) != 0) _exit(4);
      if (write(fds[1], &n, sizeof n) != sizeof n) _exit(5);
    }
    _exit(0);
  }
  close(fds[1]);
  LONG acked = from - 1;
  auto drain = [&](int timeoutMs) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    LONG n;
    ssize_t got = read(fds[0], &n, sizeof n);
    if (got <= 0) return false;
    if (got == sizeof n) {
      acked = n;
      acknowledged->push_back(n);
    }
    return true;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(killAfterMs);
  while (std::chrono::steady_clock::now() < deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    drain(static_cast<int>(std::max<long long>(1, left.count())));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  while (drain(0)) {
  }
  close(fds[0]);
  EXPECT_TRUE(WIFSIGNALED(status)) << "writer exited by itself with " << WEXITSTATUS(status);
  return acked;
}

TEST(LogDBCrash, KilledWriterLosesNoAcknowledgedRecord) {
  TempDir dir;
  // Two logs: one that wraps all the time (every append reuses the oldest
  // slot) and one that mostly grows.
  struct Log {
    std::string path;
    const char* type;
    LONG capacity;
    LONG settled;
    std::vector<LONG> acknowledged;
  } logs[] = {{dir.file("small.log"), "RING", 8, 0, {}}, {dir.file("large.log"), "GROW", 1000, 0, {}}};
  for (Log& log : logs) {
    CLogDB db;
    ASSERT_EQ(0, db.open(log.path.c_str(), log.type, 1, kRecLen, log.capacity, 0));
  }
  const unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int round = 0; round < 20; ++round) {
    Log& log = logs[round % 2];
    // The next writer starts after whatever the file holds: an append may
    // have completed without its report getting out.
    const LONG from = CounterOnDisk(log.path) + 1;
    log.settled = appendUntilKilled(log.path, log.type, log.capacity, from,
                                    std::uniform_int_distribution<int>(5, 120)(rng), &log.acknowledged);
    ASSERT_TRUE(logHolds(log.path, log.type, log.capacity, log.settled, log.acknowledged)) << "round " << round;
  }
  // The writers did get through: each log has a good number of records.
  EXPECT_GT(logs[0].acknowledged.size(), 8u);
  EXPECT_GT(logs[1].acknowledged.size(), 8u);
}

// Models a process that dies at one of its writes: the chosen write or
// commit and every later one fail.
struct DieAt : FileFault {
  explicit DieAt(int n) : FileFault({Op::Write, Op::Sync, Op::Rename}, n, ERROR_IO_DEVICE, true) {}
};

TEST(LogDBCrash, DeathAtEachWriteLeavesAConsistentLog) {
  TempDir dir;
  const std::string path = dir.file("steps.log");
  constexpr LONG kCapacity = 3;
  constexpr int kAppends = 6;  // three into the empty ring, three reusing slots
  bool completedWithoutDeath = false;
  for (int n = 1; n < 100 && !completedWithoutDeath; ++n) {
    std::remove(path.c_str());
    CLogDB db;
    ASSERT_EQ(0, db.open(path.c_str(), "STEP", 1, kRecLen, kCapacity, 0));
    std::vector<LONG> acknowledged;
    {
      DieAt death(n);
      unsigned char r[kRecLen];
      for (int i = 1; i <= kAppends; ++i) {
        FillRecord(r, kRecLen, 0, i);
        if (db.setRecord(r, 0, -1) != 0) break;
        acknowledged.push_back(i);
      }
      completedWithoutDeath = !death.fired();
    }
    db.close();
    const LONG settled = static_cast<LONG>(acknowledged.size());
    ASSERT_TRUE(logHolds(path, "STEP", kCapacity, settled, acknowledged)) << "died at write " << n;
  }
  EXPECT_TRUE(completedWithoutDeath) << "the appends never got through";
}

TEST(LogDBFailures, FailedWritesReportAndRollBackTheSubHeader) {
  TempDir dir;
  const std::string path = dir.file("fail.log");
  CLogDB db;
  ASSERT_EQ(0, db.open(path.c_str(), "FAIL", 1, kRecLen, 4, 0));
  unsigned char r[kRecLen];
  for (LONG i = 1; i <= 2; ++i) {
    FillRecord(r, kRecLen, 0, i);
    ASSERT_EQ(0, db.setRecord(r, 0, -1));
  }
  // Write 1 is the slot, write 2 the sub-header.
  for (int nth : {1, 2}) {
    {
      FileFault fault({FileOperation::Write}, nth, ERROR_DISK_FULL);
      EXPECT_EQ(nth == 1 ? 14 : 15, db.setRecord(r, 0, -1));
    }
    EXPECT_EQ(-1, db.getLastRecordNumber());
    EXPECT_EQ(2, db.getRecordCount());
    EXPECT_EQ(2, CounterOnDisk(path));
  }
  // The failed sub-header write kept the counter's new value: the next
  // append takes the same slot with the stamp after it.
  FillRecord(r, kRecLen, 0, 4);
  ASSERT_EQ(0, db.setRecord(r, 0, -1));
  EXPECT_EQ(2, db.getLastRecordNumber());
  db.close();  // one object at a time has the log open
  EXPECT_TRUE(logHolds(path, "FAIL", 4, 4, {1, 2, 4}));
  ASSERT_EQ(0, db.open(path.c_str(), "FAIL", 1, kRecLen, 4, 0));

  const std::string before = ReadFile(path);
  {
    DieAt death(1);
    EXPECT_EQ(15, db.empty());
    EXPECT_EQ(14, db.delRecord(0));
  }
  EXPECT_EQ(3, db.getRecordCount());
  EXPECT_EQ(before, ReadFile(path));
}

}  // namespace
