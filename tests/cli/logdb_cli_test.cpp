// sundry logdb, run as a user would: the commands, CLogDB's trace lines
// seen through them, appends of two programs at once, and files that are
// not logs.

#include "support/testutil.h"

#include <algorithm>
#include <string>

using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::TempDir;

namespace {

std::string cli(const std::string& args) { return std::string(SUNDRY_CLI_PATH) + " logdb " + args + " 2>&1"; }

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(LogDBCommand, CreateAppendDumpSearchDeleteResizeInfo) {
  TempDir dir;
  const std::string log = dir.file("cli.log");
  const std::string trace = "SUNDRY_LOG=" + dir.file("trace.txt") + " ";
  std::string out;
  ASSERT_EQ(0, RunCommand(trace + cli("create " + log + " --type EVT --version 3 --reclen 8 --capacity 3"), &out));
  EXPECT_EQ(1, RunCommand(cli("create " + log + " --type EVT --reclen 8 --capacity 3"), &out));
  for (std::string t : {"one", "two", "thre", "four"})
    ASSERT_EQ(0, RunCommand(trace + cli("append " + log + " --stamp 0 --text ...." + t), &out)) << out;
  ASSERT_EQ(0, RunCommand(cli("append " + log + " --hex 'de ad be ef'"), &out)) << out;
  EXPECT_EQ(2, RunCommand(cli("append " + log + " --text 123456789"), &out));  // longer than a record

  ASSERT_EQ(0, RunCommand(cli("delete " + log + " 0"), &out)) << out;
  ASSERT_EQ(0, RunCommand(cli("dump " + log), &out)) << out;
  EXPECT_EQ(
      "slot 2  live\n"
      "  0000  03 00 00 00 74 68 72 65                           |....thre|\n"
      "slot 0  deleted\n"
      "slot 1  live\n"
      "  0000  de ad be ef 00 00 00 00                           |........|\n"
      "2 live records\n",
      out);
  ASSERT_EQ(0, RunCommand(cli("search " + log + " --offset 4 --text thr"), &out)) << out;
  EXPECT_TRUE(has(out, "slot 2  live")) << out;
  EXPECT_EQ(1, RunCommand(cli("search " + log + " --offset 4 --text fou"), &out));  // deleted
  EXPECT_EQ(1, RunCommand(cli("delete " + log + " 3"), &out));
  EXPECT_TRUE(has(out, "(25)")) << out;

  ASSERT_EQ(0, RunCommand(cli("resize " + log + " 5"), &out)) << out;
  EXPECT_TRUE(has(out, "capacity 3 -> 5, 2 records kept")) << out;
  EXPECT_EQ(1, RunCommand(trace + cli("info " + log + " --version 4"), &out));
  EXPECT_TRUE(has(out, "type:           EVT\nversion:        3\nrecord length:  8\ncapacity:       5\n"
                       "first:          0\nlast:           1\nappend counter: 5\nfile size:      54\n"
                       "status:         the version in the file differs (10)"))
      << out;

  const std::string lines = ReadFile(dir.file("trace.txt"));
  EXPECT_TRUE(has(lines, "filename = \"" + log + "\", type = \"EVT\", version = 3, reclen = 8, maxRec = 3")) << lines;
  EXPECT_TRUE(has(lines, "_tfopen, \"The system cannot find the file specified.\"")) << lines;
  for (const char* part : {"CLogDB::open", "CLogDB::create", "CLogDB::setRecord", "rVal = 0", "rVal = 10"})
    EXPECT_TRUE(has(lines, part)) << part;
}

TEST(LogDBCommand, AppendsRunAtTheSameTimeAllLand) {
  TempDir dir;
  const std::string log = dir.file("busy.log");
  std::string out;
  ASSERT_EQ(0, RunCommand(cli("create " + log + " --type EVT --reclen 8 --capacity 200"), &out)) << out;
  const std::string loop = "for i in $(seq 40); do " + cli("append " + log + " --text $W$i") + "; done";
  ASSERT_EQ(0, RunCommand("(W=a; " + loop + ") & (W=b; " + loop + ") & wait", &out));
  EXPECT_EQ(80u, static_cast<size_t>(std::count(out.begin(), out.end(), '\n'))) << out;
  ASSERT_EQ(0, RunCommand(cli("dump " + log), &out)) << out;
  EXPECT_TRUE(has(out, "\n80 live records\n")) << out;
}

TEST(LogDBCommand, InfoShowsWhatIsWrongWithAFileAndAFifoIsNeverTouched) {
  TempDir dir;
  const std::string log = dir.file("bad.log");
  std::string out;
  EXPECT_EQ(1, RunCommand(cli("dump " + dir.file("missing.log")), &out));
  EXPECT_TRUE(has(out, "no such file")) << out;
  // first and last 7 in a ring of 4
  ASSERT_TRUE(sundry::test::WriteFile(
      log, std::string("VELA\1\0\0\0EVT\0\3\0\0\0\x08\0\0\0\x07\0\0\0\x07\0\0\0\0\0\0\0\4\0\0\0", 36)));
  EXPECT_EQ(1, RunCommand(cli("info " + log), &out));
  EXPECT_TRUE(has(out, "first:          7\n")) << out;
  EXPECT_TRUE(has(out, "status:         the header's capacity, first or last is out of range (23)")) << out;

  const sundry::test::OddFiles odd(dir);
  const std::string& fifo = odd.fifo;
  for (const std::string cmd :
       {"info ", "dump ", "append --text x ", "create --type EVT --reclen 8 --capacity 4 --truncate "}) {
    EXPECT_EQ(1, RunCommand("timeout 10 " + cli(cmd + fifo), &out)) << cmd << out;
    EXPECT_TRUE(has(out, "cannot be read: Access is denied.") || has(out, "could not be created (5)")) << cmd << out;
  }
  odd.expectUnchanged();
}

}  // namespace
