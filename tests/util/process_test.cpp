// CSundry's finding and ending of processes by executable name, over real
// child processes.

#include "platform/sleepers.h"

#include <sundry/util/Sundry.h>

#include <cctype>

namespace {

using ProcessTest = sundry::test::SleeperTest;

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(ProcessTest, FindsAndKillsByNameIgnoringCaseAndWindowsEnding) {
  const std::string a = program("kill-a"), b = program("kill-b"), bystander = program("kill-c");
  const pid_t a1 = start(a), a2 = start(a), b1 = start(b), c1 = start(bystander);
  for (const std::string& asked : {a, upper(a), a + ".exe", upper(a) + ".EXE"}) {
    CString exe(asked);
    EXPECT_EQ(1, CSundry::FindProcessByExeName(exe)) << asked;
  }
  for (const std::string& asked : {a.substr(0, a.size() - 1), a + "x", a + ".com", std::string()}) {
    CString exe(asked);
    EXPECT_EQ(0, CSundry::FindProcessByExeName(exe)) << asked;
  }
  CString none("sundry-no-such-program-" + std::to_string(::getpid()));
  EXPECT_EQ(1, CSundry::KillProcessByExeName(none));  // nothing matched: still success
  CStringArray names;
  names.Add(CString(upper(a)));
  names.Add(CString(b + ".exe"));
  EXPECT_EQ(1, CSundry::KillProcessByExeName(names));
  EXPECT_TRUE(reapedKilled(a1));
  EXPECT_TRUE(reapedKilled(a2));
  EXPECT_TRUE(reapedKilled(b1));
  EXPECT_TRUE(stillRunning(c1));
  CString exe(a);
  EXPECT_EQ(0, CSundry::FindProcessByExeName(exe));
}

// A process the caller may not end is a failure, not a silent success, and
// the other listed names are still ended.
TEST_F(ProcessTest, KillReportsAProcessOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // Short names: another user reads only the 15-character command name of
  // root's processes, not their executable link.
  const std::string pid = std::to_string(::getpid());
  const std::string guarded = program("sg" + pid, true), open = program("so" + pid, true);
  ASSERT_EQ(0, ::chmod(m_dir.path().c_str(), 0755));
  const pid_t g1 = start(guarded);
  const pid_t o1 = start(open, nullptr, true);  // another user's that the caller may end
  // The caller acts as nobody: it may end the nobody process, not root's.
  pid_t caller = ::fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    CStringArray names;
    names.Add(CString(guarded));
    names.Add(CString(open));
    ::_exit(CSundry::KillProcessByExeName(names) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(caller, ::waitpid(caller, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "the refused termination was reported as success";
  EXPECT_TRUE(stillRunning(g1));
  EXPECT_TRUE(reapedKilled(o1));
}

// The caller is never ended, even when it carries a listed name: a copy of
// the tool asked to end itself and another program ends the other one and
// lives to report both.
TEST_F(ProcessTest, CommandLineFindsAndKillsButNeverItself) {
  const std::string tool = "sundry-self-" + std::to_string(::getpid());
  ASSERT_TRUE(sundry::test::WriteFile(m_dir.file(tool), sundry::test::ReadFile(SUNDRY_CLI_PATH)));
  ::chmod(m_dir.file(tool).c_str(), 0755);
  const std::string victim = program("victim"), cli = m_dir.file(tool);
  const pid_t pid = start(victim);
  std::string out;
  EXPECT_EQ(0, sundry::test::RunCommand(cli + " proc find " + upper(victim) + ".exe", &out));
  EXPECT_EQ(upper(victim) + ".exe: running\n", out);
  EXPECT_NE(0, sundry::test::RunCommand(cli + " proc find " + victim + " " + victim + "-absent 2>/dev/null", &out));
  EXPECT_EQ(victim + ": running\n" + victim + "-absent: not running\n", out);
  EXPECT_EQ(0, sundry::test::RunCommand(cli + " proc kill " + tool + " " + victim + " " + victim + "-absent", &out));
  EXPECT_EQ(tool + ": ended, except this tool itself\n" + victim + ": ended\n" + victim + "-absent: not running\n", out);
  EXPECT_TRUE(reapedKilled(pid));
}

}  // namespace
