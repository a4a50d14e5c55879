#pragma once
// Child processes for the process tests: copies of sleep under names that
// no other process on the machine has, killed and reaped when a test ends.

#include "support/testutil.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace sundry::test {

class SleeperTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (pid_t pid : m_children) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // A copy of sleep named "sundry-TAG-PID", or exactly `tag` when asked.
  std::string program(const std::string& tag, bool exact = false) {
    const std::string name = exact ? tag : "sundry-" + tag + "-" + std::to_string(::getpid());
    EXPECT_TRUE(WriteFile(m_dir.file(name), ReadFile("/bin/sleep")));
    ::chmod(m_dir.file(name).c_str(), 0755);
    return name;
  }

  // Starts the program sleeping for a minute (argv[0] as given, as user
  // nobody when asked) and returns once it runs the program.
  pid_t start(const std::string& name, const char* argv0 = nullptr, bool asNobody = false) {
    const std::string path = m_dir.file(name);
    int ready[2];
    EXPECT_EQ(0, ::pipe2(ready, O_CLOEXEC));
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
      ::execl(path.c_str(), argv0 ? argv0 : path.c_str(), "60", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(ready[1]);
    char c;
    EXPECT_EQ(0, ::read(ready[0], &c, 1));  // end of file: the exec closed it
    ::close(ready[0]);
    m_children.push_back(pid);
    return pid;
  }

  // Waits for a child and says whether SIGKILL ended it.
  bool reapedKilled(pid_t pid) {
    int status = 0;
    const pid_t got = ::waitpid(pid, &status, 0);
    m_children.erase(std::remove(m_children.begin(), m_children.end(), pid), m_children.end());
    return got == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

  static bool stillRunning(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
  }

  TempDir m_dir;
  std::vector<pid_t> m_children;
};

}  // namespace sundry::test
