// Named mutexes: existence, ownership, names, inheritance and the runtime
// directory they live in.

#include "support/testutil.h"

#include "platform/winapi/sync_internal.h"

#include <sundry/platform/error.h>
#include <sundry/platform/sync.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

using sundry::test::ScopedEnv;

class NamedMutex : public ::testing::Test {
 protected:
  sundry::test::TempDir m_dir;
  ScopedEnv m_env{"XDG_RUNTIME_DIR", m_dir.path().c_str()};
};

using sundry::test::MutexExists;

// Handles of one mutex share it: either releases it for the owning thread,
// and it exists while one is open. Unnamed mutexes never exist before.
TEST_F(NamedMutex, HandlesShareExistenceAndOwnership) {
  HANDLE a = CreateMutexA(nullptr, TRUE, "M");
  HANDLE b = CreateMutexA(nullptr, TRUE, "M");
  EXPECT_WIN32(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_TRUE(ReleaseMutex(b));
  EXPECT_FALSE(ReleaseMutex(a));
  EXPECT_WIN32(ERROR_NOT_OWNER, GetLastError());
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_TRUE(MutexExists("M"));
  EXPECT_TRUE(CloseHandle(b));
  EXPECT_FALSE(MutexExists("M"));
  EXPECT_FALSE(CloseHandle(b));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());
  HANDLE u1 = CreateMutexA(nullptr, TRUE, ""), u2 = CreateMutexA(nullptr, TRUE, nullptr);
  EXPECT_WIN32(ERROR_SUCCESS, GetLastError());
  EXPECT_TRUE(CloseHandle(u1) && CloseHandle(u2));
}

// Names that differ are different mutexes, however they would map onto
// file names; "Local\" is the session's own namespace, the same as none.
TEST_F(NamedMutex, DistinctNamesAreDistinctMutexes) {
  std::string longA(MAX_PATH, '\\'), longB = longA;
  longB.back() = '/';
  std::vector<HANDLE> held;
  for (const std::string& name : std::vector<std::string>{"Global\\a", "Global/a", "Global%5Ca", "A", "a", "../../x", longA, longB}) {
    held.push_back(CreateMutexA(nullptr, TRUE, name.c_str()));
    EXPECT_NE(nullptr, held.back()) << name;
    EXPECT_WIN32(ERROR_SUCCESS, GetLastError()) << name;
  }
  EXPECT_TRUE(MutexExists("Local\\a"));
  EXPECT_FALSE(MutexExists("Local\\b"));
  for (HANDLE h : held) EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(nullptr, CreateMutexA(nullptr, TRUE, std::string(MAX_PATH + 1, 'n').c_str()));
  EXPECT_WIN32(ERROR_FILENAME_EXCED_RANGE, GetLastError());
}

TEST_F(NamedMutex, AnInheritableMutexOutlivesAnExecOfItsProcess) {
  int up[2];
  ASSERT_EQ(0, pipe2(up, O_CLOEXEC));
  pid_t pid = fork();
  if (pid == 0) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    const char c = CreateMutexA(&sa, TRUE, "E") && GetLastError() == ERROR_SUCCESS ? 'Y' : 'N';
    (void)!write(up[1], &c, 1);
    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(up[1]);
  // 'Y', then end of file once the exec closed the pipe.
  char got[2] = {0, 0};
  pollfd p{up[0], POLLIN, 0};
  for (char& c : got) c = poll(&p, 1, 10000) == 1 && read(up[0], &c, 1) == 1 ? c : 0;
  EXPECT_EQ('Y', got[0]);
  EXPECT_EQ(0, got[1]);
  close(up[0]);
  EXPECT_TRUE(MutexExists("E"));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_FALSE(MutexExists("E"));
}

// A runtime directory others could enter, or a link, is refused; without
// one, a private folder of this user's under /tmp is used.
TEST_F(NamedMutex, RuntimeDirectoryIsPrivateOrRefused) {
  std::string path;
  ASSERT_TRUE(sundry::platform::GetRuntimeDirectory(&path));
  ASSERT_EQ(0u, path.rfind(m_dir.path() + "/", 0)) << path;
  ASSERT_EQ(0, chmod(path.c_str(), 0755));
  EXPECT_EQ(nullptr, CreateMutexA(nullptr, TRUE, "App"));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  ASSERT_EQ(0, rmdir(path.c_str()));
  ASSERT_EQ(0, symlink(m_dir.path().c_str(), path.c_str()));
  EXPECT_EQ(nullptr, CreateMutexA(nullptr, TRUE, "App"));
  ScopedEnv unset("XDG_RUNTIME_DIR", "");
  ASSERT_TRUE(sundry::platform::GetRuntimeDirectory(&path));
  EXPECT_EQ(0u, path.rfind("/tmp/", 0)) << path;
  struct stat st;
  ASSERT_EQ(0, lstat(path.c_str(), &st));
  EXPECT_EQ(static_cast<mode_t>(S_IFDIR | 0700), st.st_mode & (S_IFMT | 0777));
  EXPECT_EQ(geteuid(), st.st_uid);
}

}  // namespace
