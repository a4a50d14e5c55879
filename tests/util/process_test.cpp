// Finding and ending processes by executable name, over real child
// processes: copies of sleep under names no other process has.

#include "support/testutil.h"

#include <sundry/platform/process.h>
#include <sundry/platform/sync.h>
#include <sundry/util/Sundry.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using sundry::test::TempDir;

class ProcessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (pid_t pid : m_children) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // A copy of sleep named after the test and this process, so that no
  // other process on the machine has its name.
  std::string program(const std::string& tag) { return programNamed("sundry-" + tag + "-" + std::to_string(::getpid())); }

  std::string programNamed(const std::string& name) {
    const std::string path = m_dir.file(name);
    const std::string data = sundry::test::ReadFile("/bin/sleep");
    EXPECT_FALSE(data.empty());
    EXPECT_TRUE(sundry::test::WriteFile(path, data));
    ::chmod(path.c_str(), 0755);
    return name;
  }

  // Starts the program (argv[0] as given) sleeping for a minute.
  pid_t start(const std::string& name, const char* argv0 = nullptr) {
    const std::string path = m_dir.file(name);
    std::string arg0 = argv0 ? argv0 : path;
    char seconds[] = "60";
    char* argv[] = {arg0.data(), seconds, nullptr};
    pid_t pid = 0;
    EXPECT_EQ(0, ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ));
    m_children.push_back(pid);
    waitUntilExecuted(pid, name);
    return pid;
  }

  // posix_spawn may return before the child runs the new program; until
  // then the child still shows the test's own executable.
  static void waitUntilExecuted(pid_t pid, const std::string& name) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    for (int i = 0; i < 500; ++i) {
      char target[4096];
      ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
      if (n > 0) {
        target[n] = '\0';
        const char* base = std::strrchr(target, '/');
        if (base != nullptr && name == base + 1) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ADD_FAILURE() << "child " << pid << " did not start " << name;
  }

  // Waits for a child and says whether SIGKILL ended it.
  bool reapedKilled(pid_t pid) {
    int status = 0;
    const pid_t got = ::waitpid(pid, &status, 0);
    m_children.erase(std::remove(m_children.begin(), m_children.end(), pid), m_children.end());
    return got == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

  // True while the child has not ended.
  static bool stillRunning(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
  }

  static std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }

  // The snapshot's entry of pid, if it has one.
  static bool snapshotEntry(DWORD pid, PROCESSENTRY32* out) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 e;
    e.dwSize = sizeof e;
    bool found = false;
    for (BOOL more = Process32First(snap, &e); more && !found; more = Process32Next(snap, &e)) {
      if (e.th32ProcessID == pid) {
        *out = e;
        found = true;
      }
    }
    CloseHandle(snap);
    return found;
  }

  TempDir m_dir;
  std::vector<pid_t> m_children;
};

TEST_F(ProcessTest, FindsByNameIgnoringCaseAndWindowsEnding) {
  const std::string name = program("find");
  const pid_t pid = start(name);
  for (const std::string& asked : {name, upper(name), name + ".exe", upper(name) + ".EXE"}) {
    CString exe(asked);
    EXPECT_EQ(1, CSundry::FindProcessByExeName(exe)) << asked;
  }
  for (const std::string& asked : {name.substr(0, name.size() - 1), name + "x", name + ".com", std::string()}) {
    CString exe(asked);
    EXPECT_EQ(0, CSundry::FindProcessByExeName(exe)) << asked;
  }
  ::kill(pid, SIGKILL);
  ASSERT_TRUE(reapedKilled(pid));
  CString exe(name);
  EXPECT_EQ(0, CSundry::FindProcessByExeName(exe));
}

TEST_F(ProcessTest, NameIsTheProgramFileNotTheCommandLine) {
  // The name has more than the kernel's 15-character short name, and the
  // command line claims to be something else.
  const std::string name = program("long-program-name");
  ASSERT_GT(name.size(), 15u);
  const pid_t pid = start(name, "disguised");
  PROCESSENTRY32 e;
  ASSERT_TRUE(snapshotEntry(static_cast<DWORD>(pid), &e));
  EXPECT_EQ(name, e.szExeFile);
  EXPECT_EQ(static_cast<DWORD>(::getpid()), e.th32ParentProcessID);
  EXPECT_EQ(1u, e.cntThreads);
  EXPECT_EQ(sizeof(PROCESSENTRY32), e.dwSize);
  CString disguised("disguised");
  EXPECT_EQ(0, CSundry::FindProcessByExeName(disguised));
}

TEST_F(ProcessTest, KillEndsEveryInstanceOfEveryListedName) {
  const std::string a = program("kill-a"), b = program("kill-b"), bystander = program("kill-c");
  const pid_t a1 = start(a), a2 = start(a), b1 = start(b), c1 = start(bystander);
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
}

TEST_F(ProcessTest, SnapshotLeavesOutProcessesThatHaveEnded) {
  const std::string name = program("zombie");
  const pid_t pid = start(name);
  PROCESSENTRY32 e;
  ASSERT_TRUE(snapshotEntry(static_cast<DWORD>(pid), &e));
  ::kill(pid, SIGKILL);
  // Until it is reaped the child is a zombie: it no longer runs.
  for (int i = 0; i < 500 && snapshotEntry(static_cast<DWORD>(pid), &e); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_FALSE(snapshotEntry(static_cast<DWORD>(pid), &e));
  CString exe(name);
  EXPECT_EQ(0, CSundry::FindProcessByExeName(exe));
  EXPECT_TRUE(reapedKilled(pid));
}

TEST(ToolHelp, WalksTheSnapshotAndReportsMisuse) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, snap);
  PROCESSENTRY32 e;
  std::memset(&e, 0x5A, sizeof e);
  e.dwSize = sizeof e - 1;
  EXPECT_FALSE(Process32First(snap, &e));
  EXPECT_WIN32(ERROR_BAD_LENGTH, GetLastError());
  EXPECT_EQ(0x5A, static_cast<unsigned char>(e.szExeFile[0]));  // untouched

  e.dwSize = sizeof e;
  bool sawSelf = false;
  for (BOOL more = Process32First(snap, &e); more; more = Process32Next(snap, &e)) {
    if (e.th32ProcessID != static_cast<DWORD>(::getpid())) continue;
    sawSelf = true;
    char self[4096] = "";
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    EXPECT_STREQ(std::strrchr(self, '/') + 1, e.szExeFile);
    EXPECT_EQ(static_cast<DWORD>(::getppid()), e.th32ParentProcessID);
  }
  EXPECT_WIN32(ERROR_NO_MORE_FILES, GetLastError());
  EXPECT_TRUE(sawSelf);
  EXPECT_TRUE(CloseHandle(snap));
  EXPECT_FALSE(Process32First(snap, &e));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(ProcessTest, ProcessHandleNeverReachesAnotherProcess) {
  const std::string name = program("handle");
  const pid_t pid = start(name);

  HANDLE weak = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid));
  ASSERT_NE(nullptr, weak);
  EXPECT_FALSE(TerminateProcess(weak, 0));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_TRUE(CloseHandle(weak));
  EXPECT_TRUE(stillRunning(pid));

  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  ASSERT_NE(nullptr, h);
  EXPECT_TRUE(TerminateProcess(h, 0));
  EXPECT_TRUE(reapedKilled(pid));
  // Gone and reaped: the id may belong to a new process by now, and the
  // handle must not signal that one.
  EXPECT_FALSE(TerminateProcess(h, 0));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(TerminateProcess(h, 0));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());

  EXPECT_EQ(nullptr, OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid)));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(nullptr, OpenProcess(PROCESS_TERMINATE, FALSE, 0));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
}

// A process the caller may not end is a failure, not a silent success, and
// the other listed names are still ended.
TEST_F(ProcessTest, KillReportsAProcessOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // Short names: another user reads only the 15-character command name of
  // root's processes, not their executable link.
  const std::string pid = std::to_string(::getpid());
  const std::string guarded = programNamed("sg" + pid), open = programNamed("so" + pid);
  ASSERT_EQ(0, ::chmod(m_dir.path().c_str(), 0755));
  const pid_t g1 = start(guarded);
  // A process of another user's that the caller may end: hand it over.
  const std::string path = m_dir.file(open);
  pid_t o1 = ::fork();
  ASSERT_GE(o1, 0);
  if (o1 == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    ::execl(path.c_str(), path.c_str(), "60", static_cast<char*>(nullptr));
    ::_exit(4);
  }
  m_children.push_back(o1);
  waitUntilExecuted(o1, open);
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
TEST_F(ProcessTest, KillNeverEndsTheCaller) {
  const std::string tool = "sundry-self-" + std::to_string(::getpid());
  ASSERT_TRUE(sundry::test::WriteFile(m_dir.file(tool), sundry::test::ReadFile(SUNDRY_CLI_PATH)));
  ::chmod(m_dir.file(tool).c_str(), 0755);
  const std::string victim = program("victim");
  const pid_t pid = start(victim);
  std::string out;
  EXPECT_EQ(0, sundry::test::RunCommand(m_dir.file(tool) + " proc kill " + tool + " " + victim + " " + victim + "-absent", &out));
  EXPECT_EQ(tool + ": ended, except this tool itself\n" + victim + ": ended\n" + victim + "-absent: not running\n", out);
  EXPECT_TRUE(reapedKilled(pid));
}

TEST_F(ProcessTest, CommandLineFindsAndKills) {
  const std::string name = program("cli");
  const pid_t pid = start(name);
  const std::string cli = SUNDRY_CLI_PATH;
  std::string out;
  EXPECT_EQ(0, sundry::test::RunCommand(cli + " proc find " + upper(name) + ".exe", &out));
  EXPECT_EQ(upper(name) + ".exe: running\n", out);
  EXPECT_NE(0, sundry::test::RunCommand(cli + " proc find " + name + " " + name + "-absent 2>/dev/null", &out));
  EXPECT_EQ(name + ": running\n" + name + "-absent: not running\n", out);
  EXPECT_EQ(0, sundry::test::RunCommand(cli + " proc kill " + name, &out));
  EXPECT_EQ(name + ": ended\n", out);
  EXPECT_TRUE(reapedKilled(pid));
}

}  // namespace
