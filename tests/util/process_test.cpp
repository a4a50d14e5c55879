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

}  // namespace
