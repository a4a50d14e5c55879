// sundry copy, run as a user would: the event lines, the exit status, a
// stop by Ctrl-C, and jobs that fail on a full disk or a read-only mount,
// after which the destination is byte for byte what it was.

#include "support/testutil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::TempDir;
using sundry::test::WriteFile;

class CopyCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(dir.file("src").c_str(), 0755);
    ::mkdir(dir.file("dst").c_str(), 0755);
  }
  int Copy(const std::string& args) {
    return RunCommand(std::string(SUNDRY_CLI_PATH) + " copy " + args + " > " + dir.file("out") + " 2> " +
                      dir.file("err"));
  }
  std::string Out() { return ReadFile(dir.file("out")); }
  std::string Src() { return dir.file("src"); }
  std::string Dst() { return dir.file("dst"); }

  // Runs script with sh in a mount namespace of its own (mounts made there
  // vanish with it), with W set to the scratch directory and CLI to the
  // tool. false when such a namespace cannot be made here.
  bool InOwnMounts(const std::string& script) {
    if (::geteuid() != 0 || RunCommand("unshare -m true 2>/dev/null") != 0) return false;
    EXPECT_TRUE(WriteFile(dir.file("script.sh"), "set -e\n" + script));
    EXPECT_EQ(0, RunCommand("W=" + dir.path() + " CLI=" + SUNDRY_CLI_PATH + " unshare -m --propagation private sh " +
                            dir.file("script.sh") + " > " + dir.file("script.log") + " 2>&1"))
        << ReadFile(dir.file("script.log"));
    return true;
  }

  // The checks every failed job must pass: exit 1, the destination as it
  // was (contents, names, modes: nothing cut, nothing left beside).
  void ExpectUnchanged() {
    EXPECT_EQ("1\n", ReadFile(dir.file("rc"))) << ReadFile(dir.file("events"));
    EXPECT_EQ("", ReadFile(dir.file("diff")));
    EXPECT_EQ(ReadFile(dir.file("modes.before")), ReadFile(dir.file("modes.after")));
    EXPECT_NE("", ReadFile(dir.file("modes.before")));
  }

  TempDir dir;
};

// Saves the destination and its modes, runs the copy, compares.
const char kRunAndCompare[] =
    "cp -a $W/dst $W/before\n"
    "(cd $W/before && stat -c '%n %a %s' $(ls -A)) > $W/modes.before\n"
    "set +e\n"
    "$CLI copy $W/src $W/dst $ARGS --events > $W/events 2>&1; echo $? > $W/rc\n"
    "diff -r $W/before $W/dst > $W/diff 2>&1\n"
    "(cd $W/dst && stat -c '%n %a %s' $(ls -A)) > $W/modes.after\n";

TEST_F(CopyCommand, PrintsEveryCallbackAndExitsWithTheJob) {
  ASSERT_TRUE(WriteFile(Src() + "/a.txt", "abc"));
  ASSERT_TRUE(WriteFile(Src() + "/b.log", "12345"));
  EXPECT_EQ(0, Copy(Src() + " " + Dst() + " --events --mask '*.txt'"));
  EXPECT_EQ("2\t-\t3\t1\n6\ta.txt\t3\t1\n7\ta.txt\t3\t1\n0\t-\t3\t1\n", Out());
  EXPECT_EQ(0, Copy(Src() + " " + Dst() + " --events"));  // no mask: every file
  EXPECT_NE(std::string::npos, Out().find("7\tb.log\t5\t2\n")) << Out();
  EXPECT_EQ(1, Copy(Src() + " " + Dst() + " --events --no-overwrite"));
  EXPECT_NE(std::string::npos, Out().find("8\ta.txt\t3\t1\n")) << Out();
  EXPECT_EQ(2, Copy(Src() + " " + Dst() + " --no-such-option"));
  EXPECT_EQ(2, Copy(Src() + " " + Dst() + " --restore-on-failure"));
  EXPECT_EQ(2, Copy(Src()));
}

TEST_F(CopyCommand, MoveKeepsNamedFilesAndArchivesMirrorTheTree) {
  ASSERT_TRUE(WriteFile(Src() + "/a.txt", "new a"));
  ::mkdir((Src() + "/sub").c_str(), 0755);
  ASSERT_TRUE(WriteFile(Src() + "/sub/a.txt", "new sub a"));
  ASSERT_TRUE(WriteFile(Src() + "/sub/b.txt", "b"));
  ASSERT_TRUE(WriteFile(Dst() + "/a.txt", "old a"));
  ::mkdir((Dst() + "/sub").c_str(), 0755);
  ASSERT_TRUE(WriteFile(Dst() + "/sub/a.txt", "old sub a"));
  EXPECT_EQ(0, Copy(Src() + " " + Dst() + " --subdirs --move --keep A.TXT --archive " + dir.file("arc")));
  EXPECT_EQ("old a", ReadFile(dir.file("arc/a.txt")));
  EXPECT_EQ("old sub a", ReadFile(dir.file("arc/sub/a.txt")));
  EXPECT_EQ("new sub a", ReadFile(Dst() + "/sub/a.txt"));
  EXPECT_EQ("new a", ReadFile(Src() + "/a.txt"));  // kept, at every level
  EXPECT_EQ("new sub a", ReadFile(Src() + "/sub/a.txt"));
  EXPECT_EQ(0, ::access((Src() + "/sub/b.txt").c_str(), F_OK) == 0 ? 1 : 0);  // moved
}

TEST_F(CopyCommand, CtrlCStopsAndRestores) {
  // Many directories, so that the job checks for the stop often.
  for (int i = 0; i < 1000; ++i) {
    const std::string sub = "/d" + std::to_string(1000 + i);
    ::mkdir((Src() + sub).c_str(), 0755);
    ::mkdir((Dst() + sub).c_str(), 0755);
    ASSERT_TRUE(WriteFile(Src() + sub + "/f", std::string(64 * 1024, 'n')));
    ASSERT_TRUE(WriteFile(Dst() + sub + "/f", "old"));
  }
  ASSERT_EQ(0, RunCommand("cp -a " + Dst() + " " + dir.file("before")));
  const std::string command = std::string(SUNDRY_CLI_PATH) + " copy " + Src() + " " + Dst() +
                              " --subdirs --events --archive " + dir.file("arc") + " --restore-on-failure";
  // Ctrl-C once the job is under way: when the first overwritten file has
  // been archived (a fixed pause would race a fast machine).
  EXPECT_EQ(0, RunCommand(command + " > " + dir.file("events") + " 2>&1 & pid=$!; n=0; until [ -e " +
                         dir.file("arc") + "/d1000 ] || [ $n -ge 2000 ]; do sleep 0.005; n=$((n+1)); done; " +
                         "kill -INT $pid; wait $pid; echo $? > " + dir.file("rc")));
  EXPECT_EQ("1\n", ReadFile(dir.file("rc")));
  const std::string events = ReadFile(dir.file("events"));
  // A stop that came while counting copies nothing; one that came later
  // puts back what was copied.
  if (events.find("\n7\t") != std::string::npos) {
    EXPECT_NE(std::string::npos, events.find("\n13\td1000\\f\t0\t0\n")) << events.substr(0, 300);
  }
  EXPECT_EQ(0, RunCommand("diff -r " + dir.file("before") + " " + Dst()));
}

TEST_F(CopyCommand, FullDiskFailsAndRestores) {
  ASSERT_TRUE(WriteFile(Src() + "/a.txt", std::string(1024, 'a')));
  ASSERT_TRUE(WriteFile(Src() + "/b.bin", std::string(200 * 1024, 'b')));
  const bool ran = InOwnMounts(
      "mount -t tmpfs -o size=64k tmpfs $W/dst\n"
      "printf 'old a' > $W/dst/a.txt; chmod 640 $W/dst/a.txt; printf 'old b' > $W/dst/b.bin\n"
      "ARGS='--archive '$W/arc' --restore-on-failure'\n" +
      std::string(kRunAndCompare));
  if (!ran) GTEST_SKIP() << "needs root and unshare -m to mount a small tmpfs";
  ExpectUnchanged();
  const std::string events = ReadFile(dir.file("events"));
  EXPECT_NE(std::string::npos, events.find("8\tb.bin\t204800\t2\n")) << events;
  EXPECT_NE(std::string::npos, events.find("13\ta.txt\t0\t0\n")) << events;
}

TEST_F(CopyCommand, ReadOnlyMountFailsAndLeavesNoFile) {
  ASSERT_TRUE(WriteFile(Src() + "/a.txt", "new a"));
  ASSERT_TRUE(WriteFile(Src() + "/b.txt", "new b"));
  const bool ran = InOwnMounts(
      "printf 'old a' > $W/dst/a.txt\n"
      "mount --bind $W/dst $W/dst && mount -o remount,bind,ro $W/dst\n"
      "ARGS='--archive '$W/arc' --restore-on-failure'\n" +
      std::string(kRunAndCompare));
  if (!ran) GTEST_SKIP() << "needs root and unshare -m for a read-only bind mount";
  ExpectUnchanged();
  EXPECT_NE(std::string::npos, ReadFile(dir.file("events")).find("8\ta.txt\t5\t1\n"));
}

}  // namespace
