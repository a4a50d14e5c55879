// The debug log with a destination only Linux file systems make: a FIFO.
#include "support/testutil.h"

#include <sys/stat.h>

#include <string>

namespace {

// A log destination that is not a regular file is refused: the program
// runs on with its log silent instead of hanging on a FIFO nobody reads.
TEST(DebugLogFile, AFifoIsRefusedWithoutHanging) {
  sundry::test::TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  const int rc = sundry::test::RunCommand("SUNDRY_LOG='" + fifo + "' timeout 20 " + SUNDRY_CLI_PATH +
                                          " shortcut remove x.exe --folder '" + dir.path() + "' 2>/dev/null");
  EXPECT_EQ(1, rc) << "124 means the program hung opening its log";
}

}  // namespace
