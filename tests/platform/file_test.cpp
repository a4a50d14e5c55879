#include "platform/posix/fault.h"
#include "platform/regstore/registry_store.h"
#include "support/testutil.h"

#include <sundry/platform/file.h>
#include <sundry/platform/fileops.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace sundry::platform;
using sundry::platform::posix::FileOperation;
using sundry::platform::posix::SetFileFaultHook;
using sundry::test::ReadFile;
using sundry::test::TempDir;
using sundry::test::WriteFile;

namespace {

using Fault = sundry::test::FileFault;
using sundry::test::DirEntries;

TEST(StreamOpen, ModeStringsAndWhatCannotBeOpened) {
  TempDir dir;
  const std::string path = dir.file("f");
  EXPECT_EQ(nullptr, StreamOpen(path.c_str(), "r+bc"));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  for (const char* bad : {"", "q", "rr", "r++", "wbb", "rbt", "rcn", "rx", "r+bz"}) {
    EXPECT_EQ(nullptr, StreamOpen(path.c_str(), bad)) << bad;
    EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError()) << bad;
  }
  for (const char* good : {"w", "w+bc", "wb+", "r", "r+bc", "rtn", "a", "a+b", "abc"})
    EXPECT_TRUE(StreamClose(StreamOpen(path.c_str(), good))) << good;
  EXPECT_EQ(nullptr, StreamOpen(path.c_str(), "wx"));
  EXPECT_WIN32(ERROR_ALREADY_EXISTS, GetLastError());
  for (const char* mode : {"r", "r+b"}) {
    EXPECT_EQ(nullptr, StreamOpen(dir.path().c_str(), mode));
    EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  }
}

TEST(Stream, BufferedReadsSeeTheStreamsOwnWrites) {
  TempDir dir;
  const std::string path = dir.file("f");
  std::string content(200000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_TRUE(WriteFile(path, content));

  FileStream* s = StreamOpen(path.c_str(), "r+b");
  char buf[16];
  ASSERT_EQ(16u, StreamRead(s, buf, 16));  // fills the buffer
  ASSERT_TRUE(StreamSeek(s, 1000, FILE_BEGIN));
  ASSERT_EQ(5u, StreamWrite(s, "HELLO", 5));
  ASSERT_TRUE(StreamSeek(s, -7, FILE_CURRENT));
  ASSERT_EQ(9u, StreamRead(s, buf, 9));
  EXPECT_EQ(content.substr(998, 2) + "HELLO" + content.substr(1005, 2), std::string(buf, 9));
  std::string big(150000, '\0');  // larger than the buffer, from inside it
  ASSERT_TRUE(StreamSeek(s, 30000, FILE_BEGIN));
  ASSERT_EQ(big.size(), StreamRead(s, big.data(), big.size()));
  EXPECT_EQ(content.substr(30000, big.size()), big);

  ASSERT_TRUE(StreamSeek(s, -3, FILE_END));
  EXPECT_EQ(3u, StreamRead(s, buf, 10));
  EXPECT_WIN32(ERROR_HANDLE_EOF, GetLastError());
  ASSERT_TRUE(StreamSeek(s, 4, FILE_END));  // a gap of zero bytes
  ASSERT_EQ(2u, StreamWrite(s, "ZZ", 2));
  EXPECT_FALSE(StreamSeek(s, -200007, FILE_CURRENT));
  EXPECT_WIN32(ERROR_NEGATIVE_SEEK, GetLastError());
  EXPECT_EQ(200006, StreamTell(s));
  EXPECT_TRUE(StreamClose(s));
  EXPECT_EQ(content.substr(0, 1000) + "HELLO" + content.substr(1005) + std::string(4, '\0') + "ZZ", ReadFile(path));

  // Appending ignores the position; a read-only stream refuses writes.
  s = StreamOpen(path.c_str(), "a");
  ASSERT_TRUE(StreamSeek(s, 0, FILE_BEGIN));
  ASSERT_EQ(1u, StreamWrite(s, "!", 1));
  EXPECT_EQ(200007, StreamTell(s));
  StreamClose(s);
  s = StreamOpen(path.c_str(), "r");
  EXPECT_EQ(0u, StreamWrite(s, "x", 1));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  StreamClose(s);
  EXPECT_EQ('!', ReadFile(path).back());
}

TEST(Stream, FailedCommitIsReportedAndStaysPending) {
  TempDir dir;
  FileStream* s = StreamOpen(dir.file("f").c_str(), "w+bc");
  ASSERT_EQ(4u, StreamWrite(s, "abcd", 4));
  {
    Fault fault({FileOperation::Sync}, 1, ERROR_IO_DEVICE);
    EXPECT_FALSE(StreamFlush(s));
    EXPECT_WIN32(ERROR_IO_DEVICE, GetLastError());
    EXPECT_TRUE(StreamFlush(s));
  }
  EXPECT_TRUE(StreamClose(s));
  EXPECT_FALSE(StreamClose(nullptr));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());
}

TEST(GetCurrentDirectory, SizesAsWin32) {
  char expected[4096], buf[4096];
  ASSERT_NE(nullptr, getcwd(expected, sizeof expected));
  const DWORD length = static_cast<DWORD>(std::strlen(expected));
  EXPECT_EQ(length, GetCurrentDirectoryA(sizeof buf, buf));
  EXPECT_STREQ(expected, buf);
  buf[0] = 'x';
  EXPECT_EQ(length + 1, GetCurrentDirectoryA(length, buf));  // no room for the terminator
  EXPECT_EQ('x', buf[0]);
}

TEST(ReplaceFileDurably, ReplacesWholeOrNotAtAll) {
  TempDir dir;
  const std::string path = dir.file("prefs.js");
  ASSERT_TRUE(ReplaceFileDurably(path.c_str(), "first", 5));
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  const std::string link = dir.file("link");
  ASSERT_EQ(0, symlink(path.c_str(), link.c_str()));
  ASSERT_TRUE(ReplaceFileDurably(link.c_str(), "second", 6));
  EXPECT_EQ("second", ReadFile(path));
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  ASSERT_EQ(0, lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  const std::string big(100000, 'n');
  for (FileOperation op : {FileOperation::Open, FileOperation::Write, FileOperation::Sync, FileOperation::Rename}) {
    Fault fault({op}, 1, ERROR_DISK_FULL);
    EXPECT_FALSE(ReplaceFileDurably(path.c_str(), big.data(), big.size()));
    EXPECT_WIN32(ERROR_DISK_FULL, GetLastError());
    EXPECT_EQ("second", ReadFile(path));
    EXPECT_EQ(2u, DirEntries(dir.path())) << "a file beside was left behind";
  }
  {
    Fault fault({FileOperation::Sync}, 2, ERROR_IO_DEVICE);  // the directory's commit
    EXPECT_FALSE(ReplaceFileDurably(path.c_str(), "third", 5));
  }
  EXPECT_EQ("third", ReadFile(path));
  EXPECT_FALSE(ReplaceFileDurably(dir.file("missing/x").c_str(), "x", 1));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_FALSE(ReplaceFileDurably(dir.path().c_str(), "x", 1));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
}

TEST(StreamOpen, TakesWindowsPaths) {
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.file("sub").c_str(), 0700));
  const std::string windows = dir.path() + "\\sub\\f";
  FileStream* s = StreamOpen(windows.c_str(), "w");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(1u, StreamWrite(s, "x", 1));
  EXPECT_TRUE(StreamClose(s));
  EXPECT_EQ("x", ReadFile(dir.file("sub/f")));
  EXPECT_TRUE(ReplaceFileDurably(windows.c_str(), "y", 1));
  EXPECT_EQ("y", ReadFile(dir.file("sub/f")));
  EXPECT_EQ(1u, DirEntries(dir.path()));
}

// The fault hook reaches the file work of the registry store and of the
// file functions too: a new store that cannot be written whole is not made
// at all, and a replacement whose content cannot be committed first
// replaces nothing.
TEST(FileFaults, ReachTheRegistryStoreAndTheFileFunctions) {
  TempDir dir;
  const std::string store = dir.file("registry.db");
  for (FileOperation op : {FileOperation::Open, FileOperation::Write, FileOperation::Sync, FileOperation::Rename}) {
    Fault fault({op}, 1, ERROR_DISK_FULL);
    std::unique_ptr<regstore::Store> made;
    EXPECT_EQ(ERROR_REGISTRY_IO_FAILED, regstore::Store::Open(store, &made)) << static_cast<int>(op);
    EXPECT_EQ(0u, DirEntries(dir.path())) << static_cast<int>(op);
  }
  std::unique_ptr<regstore::Store> made;
  EXPECT_EQ(ERROR_SUCCESS, regstore::Store::Open(store, &made));

  const std::string fresh = dir.file("fresh"), target = dir.file("target");
  ASSERT_TRUE(WriteFile(fresh, "new"));
  ASSERT_TRUE(WriteFile(target, "old"));
  {
    Fault fault({FileOperation::Sync}, 1, ERROR_IO_DEVICE);
    EXPECT_FALSE(ReplaceFileKeepingAccess(fresh.c_str(), target.c_str()));
    EXPECT_WIN32(ERROR_IO_DEVICE, GetLastError());
  }
  EXPECT_EQ("old", ReadFile(target));
  EXPECT_EQ("new", ReadFile(fresh));
}

using sundry::test::OddFiles;

// Runs StreamOpen(path, mode) on a thread of its own; an open that waits for
// the FIFO's other end is let go after two seconds and reported as hanging.
// The last error is per thread, so the opening thread's is handed back in
// *error.
FileStream* openWithoutHanging(const std::string& path, const char* mode, bool* hung, DWORD* error) {
  auto pending = std::async(std::launch::async, [&] {
    FileStream* s = StreamOpen(path.c_str(), mode);
    *error = GetLastError();
    return s;
  });
  *hung = pending.wait_for(std::chrono::seconds(2)) != std::future_status::ready;
  if (*hung) {
    int peer = open(path.c_str(), O_RDWR | O_NONBLOCK);  // both ends at once
    FileStream* s = pending.get();
    close(peer);
    return s;
  }
  return pending.get();
}

TEST(StreamOpen, RefusesDevicesAndFifosWithoutWaiting) {
  TempDir dir;
  OddFiles odd(dir);
  for (const std::string& path : odd.all()) {
    for (const char* mode : {"r", "rb", "r+bc", "w", "a", "wt"}) {
      bool hung;
      DWORD error = 0;
      FileStream* s = openWithoutHanging(path, mode, &hung, &error);
      EXPECT_FALSE(hung) << path << " " << mode;
      EXPECT_EQ(nullptr, s) << path << " " << mode;
      if (s != nullptr) StreamClose(s);
      else EXPECT_WIN32(ERROR_ACCESS_DENIED, error) << path << " " << mode;
    }
  }
  odd.expectUnchanged();
}

TEST(ReplaceFileDurably, OnlyARegularFileIsReplaced) {
  TempDir dir;
  OddFiles odd(dir);
  if (odd.device.empty()) std::cout << "no character device made: running without one\n";
  for (const std::string& path : odd.all()) {
    EXPECT_FALSE(ReplaceFileDurably(path.c_str(), "data", 4)) << path;
    EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError()) << path;
    EXPECT_EQ(nullptr, StreamCreateDurably(path.c_str(), "data", 4, CREATE_ALWAYS)) << path;
    EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError()) << path;
  }
  odd.expectUnchanged();
  EXPECT_EQ(odd.all().size(), DirEntries(dir.path())) << "a file beside was left behind";

  // Of a file's mode only the permission bits are taken over.
  const std::string tool = dir.file("tool");
  ASSERT_TRUE(WriteFile(tool, "old"));
  ASSERT_EQ(0, chmod(tool.c_str(), 06755));
  ASSERT_TRUE(ReplaceFileDurably(tool.c_str(), "new", 3));
  struct stat st;
  ASSERT_EQ(0, stat(tool.c_str(), &st));
  EXPECT_EQ(0755u, st.st_mode & 07777);
}

TEST(CopyFileA, CopiesOnlyRegularFiles) {
  TempDir dir;
  OddFiles odd(dir);
  const std::string file = dir.file("file"), copy = dir.file("copy");
  ASSERT_TRUE(WriteFile(file, "data"));
  if (!odd.device.empty()) {
    EXPECT_FALSE(CopyFileA(odd.device.c_str(), copy.c_str(), FALSE));
    EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(std::filesystem::exists(copy));
  }
  for (const std::string& path : odd.all()) {
    EXPECT_FALSE(CopyFileA(file.c_str(), path.c_str(), FALSE)) << path;
    EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError()) << path;
  }
  odd.expectUnchanged();
  EXPECT_EQ(odd.all().size() + 1, DirEntries(dir.path())) << "a file beside was left behind";
}

TEST(StreamCreateDurably, PutsALockedFileInPlace) {
  TempDir dir;
  const std::string path = dir.file("log");
  ASSERT_TRUE(WriteFile(path, "old"));
  EXPECT_EQ(nullptr, StreamCreateDurably(path.c_str(), "new", 3, CREATE_NEW));
  EXPECT_WIN32(ERROR_FILE_EXISTS, GetLastError());
  EXPECT_EQ(nullptr, StreamCreateDurably(path.c_str(), "new", 3, 3));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ("old", ReadFile(path));

  FileStream* s = StreamCreateDurably(path.c_str(), "new", 3, CREATE_ALWAYS);
  ASSERT_NE(nullptr, s);
  EXPECT_WIN32(ERROR_SUCCESS, GetLastError());
  EXPECT_EQ(nullptr, StreamOpenLocked(path.c_str(), "r+b", 0));
  EXPECT_WIN32(ERROR_LOCK_VIOLATION, GetLastError());
  ASSERT_TRUE(StreamSeek(s, 0, FILE_END));
  ASSERT_EQ(1u, StreamWrite(s, "!", 1));
  EXPECT_TRUE(StreamClose(s));
  EXPECT_EQ("new!", ReadFile(path));

  const std::string fresh = dir.file("fresh");
  s = StreamCreateDurably(fresh.c_str(), "x", 1, CREATE_NEW);
  ASSERT_NE(nullptr, s);
  EXPECT_TRUE(StreamClose(s));
  EXPECT_EQ("x", ReadFile(fresh));
  EXPECT_EQ(2u, DirEntries(dir.path())) << "a file beside was left behind";
}

TEST(StreamOpenLocked, OneStreamAtATimeWhateverElseOpensTheFile) {
  TempDir dir;
  const std::string path = dir.file("f");
  EXPECT_EQ(nullptr, StreamOpenLocked(path.c_str(), "r+b", 0));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  ASSERT_TRUE(WriteFile(path, "0123"));
  for (const char* mode : {"r", "rb", "w+b", "a+", "x"}) {
    EXPECT_EQ(nullptr, StreamOpenLocked(path.c_str(), mode, 0)) << mode;
    EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError()) << mode;
  }
  FileStream* held = StreamOpenLocked(path.c_str(), "r+bc", 0);
  ASSERT_NE(nullptr, held);
  // Another descriptor of the file closed in this process, or a forked
  // child closing its copy, leaves the lock where it is.
  StreamClose(StreamOpen(path.c_str(), "r"));
  pid_t pid = fork();
  if (pid == 0) {
    StreamClose(held);
    _exit(StreamOpenLocked(path.c_str(), "r+b", 0) == nullptr && GetLastError() == ERROR_LOCK_VIOLATION ? 0 : 1);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_EQ(0, status) << "the child got the lock";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(nullptr, StreamOpenLocked(path.c_str(), "r+b", 100));
  EXPECT_WIN32(ERROR_LOCK_VIOLATION, GetLastError());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

  // A waiter whose file is replaced meanwhile ends up with the new one.
  auto waiter = std::async(std::launch::async, [&] { return StreamOpenLocked(path.c_str(), "r+b", 5000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  FileStream* replacement = StreamCreateDurably(path.c_str(), "new", 3, CREATE_ALWAYS);
  ASSERT_NE(nullptr, replacement);
  StreamClose(held);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(1u, StreamWrite(replacement, "N", 1));
  StreamClose(replacement);
  FileStream* got = waiter.get();
  ASSERT_NE(nullptr, got);
  char buf[8] = {};
  EXPECT_EQ(3u, StreamRead(got, buf, sizeof buf));
  EXPECT_STREQ("New", buf);
  StreamClose(got);
}

TEST(StreamOpenLocked, WaitersGetTheLockInTurn) {
  TempDir dir;
  const std::string path = dir.file("f");
  ASSERT_TRUE(WriteFile(path, "x"));
  // One thread takes the lock again the moment it lets go of it; a waiter
  // still gets its turn.
  std::atomic<bool> stop{false};
  std::thread greedy([&] {
    while (!stop) {
      FileStream* s = StreamOpenLocked(path.c_str(), "r+b", 5000);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      StreamClose(s);
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (int i = 0; i < 5; ++i) {
    FileStream* s = StreamOpenLocked(path.c_str(), "r+b", 500);
    EXPECT_NE(nullptr, s) << "round " << i;
    if (s != nullptr) StreamClose(s);
  }
  stop = true;
  greedy.join();
}

// Waits on a pipe for the child to reach its replacement's move; the child
// then stops there until it is killed.
pid_t childStoppedBeforeTheMove(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    static int report;
    report = fds[1];
    SetFileFaultHook(
        [](FileOperation op, void*) -> DWORD {
          if (op == FileOperation::Rename) {
            (void)!write(report, "r", 1);
            pause();
          }
          return 0;
        },
        nullptr);
    ReplaceFileDurably(path.c_str(), "half", 4);
    _exit(1);
  }
  close(fds[1]);
  char c;
  if (read(fds[0], &c, 1) != 1) ADD_FAILURE() << "the child did not get to the move";
  close(fds[0]);
  return pid;
}

TEST(RemoveAbandonedReplacements, OnlyThoseOfDeadProcessesBesideThatFile) {
  TempDir dir;
  const std::string a = dir.file("a.log"), b = dir.file("b.log");
  ASSERT_TRUE(WriteFile(a, "A"));
  ASSERT_TRUE(WriteFile(b, "B"));
  ASSERT_TRUE(WriteFile(dir.file(".~sundry-notours.tmp"), "?"));
  pid_t writingA = childStoppedBeforeTheMove(a);
  pid_t writingB = childStoppedBeforeTheMove(b);
  ASSERT_EQ(5u, DirEntries(dir.path()));
  EXPECT_EQ(0u, RemoveAbandonedReplacements(a.c_str()));  // still running
  kill(writingA, SIGKILL);
  kill(writingB, SIGKILL);
  waitpid(writingA, nullptr, 0);
  waitpid(writingB, nullptr, 0);
  EXPECT_EQ(1u, RemoveAbandonedReplacements(a.c_str()));
  EXPECT_EQ(4u, DirEntries(dir.path()));
  EXPECT_EQ(1u, RemoveAbandonedReplacements(b.c_str()));
  EXPECT_EQ(0u, RemoveAbandonedReplacements(b.c_str()));
  EXPECT_EQ(3u, DirEntries(dir.path()));
  EXPECT_EQ("A", ReadFile(a));
  EXPECT_EQ("B", ReadFile(b));
}

}  // namespace
