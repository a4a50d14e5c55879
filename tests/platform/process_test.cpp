// Process snapshots and process handles, over real child processes.

#include "platform/sleepers.h"

#include <sundry/platform/process.h>
#include <sundry/platform/sync.h>

namespace {

using ProcessApi = sundry::test::SleeperTest;

// The snapshot's entry of pid, if it has one.
bool snapshotEntry(pid_t pid, PROCESSENTRY32* out) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return false;
  out->dwSize = sizeof *out;
  BOOL more = Process32First(snap, out);
  while (more && out->th32ProcessID != static_cast<DWORD>(pid)) more = Process32Next(snap, out);
  CloseHandle(snap);
  return more;
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
  size_t entries = 0;
  for (BOOL more = Process32First(snap, &e); more; more = Process32Next(snap, &e)) ++entries;
  EXPECT_WIN32(ERROR_NO_MORE_FILES, GetLastError());
  EXPECT_GT(entries, 1u);
  EXPECT_TRUE(CloseHandle(snap));
  EXPECT_FALSE(Process32First(snap, &e));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
}

// The name is the program file's, longer than the kernel's 15-character
// short name, whatever the command line claims; an ended process (a zombie
// until reaped) is left out.
TEST_F(ProcessApi, SnapshotNamesTheProgramFileAndLeavesOutEndedProcesses) {
  const std::string name = program("long-program-name");
  ASSERT_GT(name.size(), 15u);
  const pid_t pid = start(name, "disguised");
  PROCESSENTRY32 e;
  ASSERT_TRUE(snapshotEntry(pid, &e));
  EXPECT_EQ(name, e.szExeFile);
  EXPECT_EQ(static_cast<DWORD>(::getpid()), e.th32ParentProcessID);
  EXPECT_EQ(1u, e.cntThreads);
  EXPECT_EQ(sizeof(PROCESSENTRY32), e.dwSize);
  ::kill(pid, SIGKILL);
  for (int i = 0; i < 500 && snapshotEntry(pid, &e); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_FALSE(snapshotEntry(pid, &e));
  EXPECT_TRUE(reapedKilled(pid));
}

TEST_F(ProcessApi, ProcessHandleNeverReachesAnotherProcess) {
  const pid_t pid = start(program("handle"));
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
  for (DWORD gone : {static_cast<DWORD>(pid), DWORD{0}}) {
    EXPECT_EQ(nullptr, OpenProcess(PROCESS_TERMINATE, FALSE, gone));
    EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
  }
}

}  // namespace
