// CLogDB on Linux files that only the POSIX port has: a failure made to
// happen at each step of a resize, FIFOs and device files.

#include "logdb/logdb_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using sundry::platform::posix::FileOperation;
namespace fs = std::filesystem;

namespace {

using namespace sundry::test;

// Whatever step of a resize fails, the object is open on the file the path
// names: the former one, untouched, or the new one.
TEST_F(LogDBTest, ResizeLeavesTheObjectOpenOnTheFileAtThePath) {
  for (FileOperation op : {FileOperation::Open, FileOperation::Write, FileOperation::Sync, FileOperation::Rename}) {
    for (int n = 1; n <= 3; ++n) {
      SCOPED_TRACE("operation " + std::to_string(static_cast<int>(op)) + ", call " + std::to_string(n));
      fs::remove(path);
      CLogDB db;
      ASSERT_EQ(0, db.open(path.c_str(), "EVT", 1, 8, 5, 0));
      for (const char* t : {"a", "b", "c"}) ASSERT_EQ(0, append(db, 8, t));
      const std::string before = ReadFile(path);
      int resized;
      {
        sundry::test::FileFault fault({op}, n, ERROR_DISK_FULL);
        resized = db.resize(7);
      }
      ASSERT_EQ(1, db.isOpen());
      const LONG capacity = onDisk(path)[3];
      if (resized == 1) {
        EXPECT_EQ(7, capacity);
      }
      if (capacity == 5) {
        EXPECT_EQ(before, ReadFile(path));
      }
      EXPECT_TRUE(capacity == 5 || capacity == 7);
      ASSERT_EQ(0, append(db, 8, "d"));
      db.close();
      EXPECT_EQ((Walk{"0:a", "1:b", "2:c", "3:d"}), walk(db, 8));
    }
  }
}

TEST_F(LogDBTest, DevicesAndFifosAreNeverTakenForALog) {
  const sundry::test::OddFiles odd(dir);
  for (const std::string& p : odd.all()) {
    CLogDB db;
    EXPECT_EQ(2, db.open(p.c_str(), "EVT", 1, 8, 4, 0)) << p;
    EXPECT_EQ(5, db.open(p.c_str(), "EVT", 1, 8, 4, 1)) << p;
    EXPECT_EQ(0, db.isOpen()) << p;
    // An appending open or a read of a FIFO would wait for a peer.
    pid_t pid = fork();
    if (pid == 0) {
      alarm(5);
      CLogDB vl;
      CLogDB::HeaderInfo h;
      _exit(vl.openVL(p.c_str(), "ab", "vl", 0, -1) * 10 + CLogDB::readHeader(p.c_str(), &h));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 22) << p << ": status " << status;
  }
  odd.expectUnchanged();
}

}  // namespace
