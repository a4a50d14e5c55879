// CopyFileA, the run-time file functions, Windows name patterns and thread
// message queues, as the copy worker relies on them.

#include "platform/posix/fault.h"
#include "support/testutil.h"

#include <sundry/platform/crt.h>
#include <sundry/platform/fileinfo.h>
#include <sundry/platform/fileops.h>
#include <sundry/platform/thread.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>
#include <vector>

namespace {

using sundry::test::ReadFile;
using sundry::test::TempDir;
using sundry::test::WriteFile;
namespace posix = sundry::platform::posix;

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs call on another thread and gives up after a few seconds, so that a
// call that would wait forever fails the test instead of hanging it.
template <class F>
bool finishesSoon(F call) {
  auto task = std::make_shared<std::packaged_task<void()>>(call);
  auto done = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  return done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
}

class CopyFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string f(const std::string& name) { return dir.file(name); }
};

TEST_F(CopyFileTest, ReadOnlyTargetIsRefusedAsOnWindows) {
  ASSERT_TRUE(WriteFile(f("src"), "new"));
  ASSERT_TRUE(WriteFile(f("dst"), "old"));
  ::chmod(f("dst").c_str(), 0444);
  EXPECT_FALSE(CopyFileA(f("src").c_str(), f("dst").c_str(), FALSE));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(CopyFileA(f("src").c_str(), f("dst").c_str(), TRUE));
  EXPECT_WIN32(ERROR_FILE_EXISTS, GetLastError());
  EXPECT_EQ("old", ReadFile(f("dst")));
  ::chmod(f("dst").c_str(), 0644);
  EXPECT_TRUE(CopyFileA(f("src").c_str(), f("dst").c_str(), FALSE));
  EXPECT_EQ("new", ReadFile(f("dst")));
}

TEST_F(CopyFileTest, KeepsContentModeAndTimeOfLastWrite) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 12));
  ASSERT_TRUE(WriteFile(f("src"), big));
  ::chmod(f("src").c_str(), 0640);
  const struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456700}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, f("src").c_str(), times, 0));
  ASSERT_TRUE(CopyFileA(f("src").c_str(), f("dst").c_str(), FALSE));
  EXPECT_TRUE(ReadFile(f("dst")) == big);
  EXPECT_EQ(0640u, modeOf(f("dst")));
  struct stat st;
  ASSERT_EQ(0, ::stat(f("dst").c_str(), &st));
  EXPECT_EQ(1234567890, st.st_mtim.tv_sec);
  EXPECT_EQ(123456700, st.st_mtim.tv_nsec);
  // Across file systems the kernel copy gives way to reads and writes.
  if (::access("/dev/shm", W_OK) == 0) {
    const std::string other = "/dev/shm/sundry-copyfile-" + std::to_string(::getpid());
    ASSERT_TRUE(CopyFileA(f("src").c_str(), other.c_str(), FALSE));
    EXPECT_TRUE(ReadFile(other) == big);
    ::unlink(other.c_str());
  }
}

TEST_F(CopyFileTest, SpecialFilesAreRefusedWithoutWaiting) {
  ASSERT_EQ(0, ::mkfifo(f("fifo").c_str(), 0600));
  ASSERT_EQ(0, ::symlink("/dev/zero", f("zero").c_str()));
  ASSERT_TRUE(WriteFile(f("plain"), "x"));
  for (const char* source : {"fifo", "zero"}) {
    BOOL ok = TRUE;
    DWORD error = 0;
    ASSERT_TRUE(finishesSoon([&] {
      ok = CopyFileA(f(source).c_str(), f("out").c_str(), FALSE);
      error = GetLastError();
    })) << source << " hangs the copy";
    EXPECT_FALSE(ok) << source;
    EXPECT_WIN32(ERROR_ACCESS_DENIED, error);
  }
  EXPECT_FALSE(CopyFileA(f("plain").c_str(), f("fifo").c_str(), FALSE));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ((std::vector<std::string>{"fifo", "plain", "zero"}), entries(dir.path()));
}

TEST_F(CopyFileTest, SameFileIsRefusedAndKept) {
  ASSERT_TRUE(WriteFile(f("a"), "only copy"));
  ASSERT_EQ(0, ::link(f("a").c_str(), f("hard").c_str()));
  ASSERT_EQ(0, ::symlink(f("a").c_str(), f("soft").c_str()));
  for (const char* target : {"a", "hard", "soft"}) {
    EXPECT_FALSE(CopyFileA(f("a").c_str(), f(target).c_str(), FALSE)) << target;
    EXPECT_WIN32(ERROR_SHARING_VIOLATION, GetLastError());
  }
  EXPECT_EQ("only copy", ReadFile(f("a")));
}

DWORD failNth(posix::FileOperation operation, void* context) {
  auto* left = static_cast<int*>(context);
  return operation == posix::FileOperation::Write && --*left == 0 ? DWORD{ERROR_DISK_FULL} : DWORD{0};
}

// A copy that fails part way leaves the target as it was and nothing
// beside it, at whichever step it fails.
TEST_F(CopyFileTest, FailedCopyLeavesNoCutFile) {
  ASSERT_TRUE(WriteFile(f("src"), std::string(20 << 20, 'n')));
  ASSERT_TRUE(WriteFile(f("dst"), "old"));
  for (int n = 1; n <= 3; ++n) {
    int left = n;
    posix::SetFileFaultHook(failNth, &left);
    const BOOL ok = CopyFileA(f("src").c_str(), f("dst").c_str(), FALSE);
    const DWORD error = GetLastError();
    posix::SetFileFaultHook(nullptr, nullptr);
    if (ok) break;
    EXPECT_WIN32(ERROR_DISK_FULL, error);
    EXPECT_EQ("old", ReadFile(f("dst"))) << n;
    EXPECT_EQ((std::vector<std::string>{"dst", "src"}), entries(dir.path())) << n;
  }
}

TEST_F(CopyFileTest, ChmodChangesOnlyTheWriteState) {
  ASSERT_TRUE(WriteFile(f("a"), "x"));
  ::chmod(f("a").c_str(), 0750);
  EXPECT_EQ(0, _chmod(f("a").c_str(), _S_IREAD));
  EXPECT_EQ(0550u, modeOf(f("a")));
  ::chmod(f("a").c_str(), 0066);
  EXPECT_EQ(0, _chmod(f("a").c_str(), _S_IREAD));
  EXPECT_EQ(0044u, modeOf(f("a")));
  ::chmod(f("a").c_str(), 0405);
  EXPECT_EQ(0, _chmod(f("a").c_str(), _S_IREAD | _S_IWRITE));
  EXPECT_EQ(0605u, modeOf(f("a")));
  ::chmod(f("a").c_str(), 0045);
  EXPECT_EQ(0, _chmod(f("a").c_str(), _S_IREAD | _S_IWRITE));
  EXPECT_EQ(0645u, modeOf(f("a")));
  EXPECT_EQ(-1, _chmod(f("missing").c_str(), _S_IREAD));
  EXPECT_EQ(ENOENT, errno);
}

TEST_F(CopyFileTest, MkdirRenameAndRemoveGiveWindowsResults) {
  EXPECT_EQ(0, _mkdir(f("d").c_str()));
  EXPECT_EQ(-1, _mkdir(f("d").c_str()));
  EXPECT_EQ(EEXIST, errno);
  EXPECT_EQ(-1, _mkdir(f("no\\d").c_str()));
  EXPECT_EQ(ENOENT, errno);

  ASSERT_TRUE(WriteFile(f("a.txt"), "new"));
  ASSERT_TRUE(WriteFile(f("a.txt.bak"), "older"));
  EXPECT_EQ(-1, sundry::platform::crt::rename(f("a.txt").c_str(), f("a.txt.bak").c_str()));
  EXPECT_EQ(EACCES, errno);
  EXPECT_EQ("older", ReadFile(f("a.txt.bak")));
  EXPECT_EQ("new", ReadFile(f("a.txt")));
  EXPECT_EQ(0, sundry::platform::crt::rename(f("a.txt").c_str(), f("b.txt").c_str()));

  ::chmod(f("b.txt").c_str(), 0444);
  EXPECT_EQ(-1, sundry::platform::crt::remove(f("b.txt").c_str()));
  EXPECT_EQ(EACCES, errno);
  ::chmod(f("b.txt").c_str(), 0644);
  EXPECT_EQ(0, sundry::platform::crt::remove(f("b.txt").c_str()));
  EXPECT_EQ(-1, sundry::platform::crt::remove(f("d").c_str()));
}

TEST_F(CopyFileTest, FileInformationTellsFilesApart) {
  ASSERT_TRUE(WriteFile(f("a"), "12345"));
  ASSERT_EQ(0, ::link(f("a").c_str(), f("b").c_str()));
  ASSERT_TRUE(WriteFile(f("c"), "12345"));
  BY_HANDLE_FILE_INFORMATION a, b, c;
  ASSERT_TRUE(sundry::platform::GetFileInformationByPathA(f("a").c_str(), &a));
  ASSERT_TRUE(sundry::platform::GetFileInformationByPathA(f("b").c_str(), &b));
  ASSERT_TRUE(sundry::platform::GetFileInformationByPathA(f("c").c_str(), &c));
  EXPECT_EQ(5u, a.nFileSizeLow);
  EXPECT_EQ(2u, a.nNumberOfLinks);
  EXPECT_TRUE(a.nFileIndexLow == b.nFileIndexLow && a.nFileIndexHigh == b.nFileIndexHigh);
  EXPECT_FALSE(a.nFileIndexLow == c.nFileIndexLow && a.nFileIndexHigh == c.nFileIndexHigh);
  EXPECT_FALSE(sundry::platform::GetFileInformationByPathA(f("none").c_str(), &a));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(CopyFileTest, PatternsFollowWindowsRules) {
  const char* names[] = {"a", "a.txt", "a.b.txt", "ab.txt", "abcde.txt", "a.txtx", "noext", "Notes.TXT"};
  for (const char* name : names) ASSERT_TRUE(WriteFile(f(name), ""));
  auto list = [&](const char* pattern) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((dir.path() + "\\" + pattern).c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do
      if (data.cFileName[0] != '.') found.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    FindClose(h);
    std::sort(found.begin(), found.end());
    return found;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(8u, list("*.*").size());
  EXPECT_EQ((V{"Notes.TXT", "a.b.txt", "a.txt", "ab.txt", "abcde.txt"}), list("*.txt"));
  EXPECT_EQ((V{"a", "a.b.txt", "a.txt", "a.txtx"}), list("a.*"));
  EXPECT_EQ((V{"a", "noext"}), list("*."));
  EXPECT_EQ((V{"a.txt", "ab.txt"}), list("????.txt"));
  EXPECT_EQ((V{"a.txt"}), list("?.txt"));
}

// Thread messages: queues by thread id, filters, and the quit request
// after the posted messages.
TEST(ThreadMessages, QueuesFiltersAndQuit) {
  EXPECT_FALSE(PostThreadMessageA(0x7ffffff0u, WM_USER, 0, 0));
  EXPECT_WIN32(ERROR_INVALID_THREAD_ID, GetLastError());

  std::atomic<DWORD> id{0};
  std::promise<void> posted;
  std::vector<UINT> seen;
  int quitCode = -1;
  std::thread worker([&] {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
    id = GetCurrentThreadId();
    posted.get_future().wait();
    // Message 206 is taken out of turn by a filtered look.
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 206, 206, PM_REMOVE));
    EXPECT_EQ(206u, msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 206, 206, PM_REMOVE));
    PostQuitMessage(7);
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) seen.push_back(msg.message);
    EXPECT_EQ(0, got);
    quitCode = static_cast<int>(msg.wParam);
  });
  while (id == 0) std::this_thread::yield();
  ASSERT_TRUE(PostThreadMessageA(id, 205, 1, 2));
  ASSERT_TRUE(PostThreadMessageA(id, 206, 0, 0));
  ASSERT_TRUE(PostThreadMessageA(id, 300, 0, 0));
  posted.set_value();
  worker.join();
  EXPECT_EQ((std::vector<UINT>{205, 300}), seen);
  EXPECT_EQ(7, quitCode);
  // The queue went with its thread.
  EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0));
  EXPECT_WIN32(ERROR_INVALID_THREAD_ID, GetLastError());
}

class Counter : public CWinThread {
  DECLARE_DYNCREATE(Counter)
 public:
  ~Counter() override {
    PostThreadMessage(WM_QUIT, 0, 0);
    Join();
  }
  BOOL InitInstance() override { return TRUE; }
  BOOL DispatchThreadMessageEx(MSG* msg) override {
    if (msg->message != WM_USER) return FALSE;
    total += static_cast<int>(msg->wParam);
    if (total >= 6) PostQuitMessage(0);
    return TRUE;
  }
  int ExitInstance() override {
    exited = true;
    return 3;
  }
  std::atomic<int> total{0};
  std::atomic<bool> exited{false};
};
IMPLEMENT_DYNCREATE(Counter)

TEST(ThreadMessages, WinThreadRunsItsLoopAndIsCreatableByName) {
  EXPECT_EQ(nullptr, CRuntimeClass::CreateObject("NoSuchClass"));
  std::unique_ptr<CObject> object(CRuntimeClass::CreateObject("Counter"));
  auto* thread = dynamic_cast<Counter*>(object.get());
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(RUNTIME_CLASS(Counter), thread->GetRuntimeClass());
  ASSERT_TRUE(thread->CreateThread());
  // Posting right after the start reaches the loop.
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(thread->PostThreadMessage(WM_USER, i, 0));
  thread->Join();
  EXPECT_EQ(6, thread->total.load());
  EXPECT_TRUE(thread->exited.load());
  EXPECT_FALSE(thread->CreateThread());
}

}  // namespace
