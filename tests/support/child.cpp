#include "support/child.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#if !defined(_WIN32)
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace sundry::test {

namespace {

#if defined(_WIN32)
// The sleeping program exits with this status when nothing ended it.
constexpr DWORD kSleptOut = 3;
#endif

}  // namespace

#if defined(_WIN32)

SleepingChild::SleepingChild(const std::string& dir, const std::string& name, int seconds) {
  const std::string exe = dir + "\\" + name;
  std::error_code ec;
  std::filesystem::copy_file(SUNDRY_TEST_SLEEPER, exe, std::filesystem::copy_options::overwrite_existing, ec);
  EXPECT_FALSE(ec) << "cannot copy " << SUNDRY_TEST_SLEEPER << " to " << exe << ": " << ec.message();
  std::string command = "\"" + exe + "\" " + std::to_string(seconds);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &m_process)) {
    ADD_FAILURE() << "CreateProcessA " << exe << " failed: " << GetLastError();
    m_process = {};
    return;
  }
  // Let it get past its start, so a snapshot of the processes shows it.
  WaitForInputIdle(m_process.hProcess, 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

SleepingChild::~SleepingChild() {
  if (!started()) return;
  if (running()) {
    TerminateProcess(m_process.hProcess, 1);
    WaitForSingleObject(m_process.hProcess, 5000);
  }
  CloseHandle(m_process.hThread);
  CloseHandle(m_process.hProcess);
}

bool SleepingChild::started() const { return m_process.hProcess != nullptr; }

bool SleepingChild::running() {
  endedByOtherWithin(std::chrono::milliseconds(0));
  return started() && !m_done;
}

bool SleepingChild::endedByOtherWithin(std::chrono::milliseconds wait) {
  if (!started()) return false;
  if (!m_done && WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(wait.count())) == WAIT_OBJECT_0) {
    DWORD status = kSleptOut;
    GetExitCodeProcess(m_process.hProcess, &status);
    m_done = true;
    m_endedByOther = status != kSleptOut;
  }
  return m_done && m_endedByOther;
}

#else

SleepingChild::SleepingChild(const std::string& dir, const std::string& name, int seconds) {
  const std::string exe = dir + "/" + name;
  std::error_code ec;
  std::filesystem::copy_file("/bin/sleep", exe, std::filesystem::copy_options::overwrite_existing, ec);
  EXPECT_FALSE(ec) << "cannot copy /bin/sleep to " << exe << ": " << ec.message();
  std::string arg0 = name, arg1 = std::to_string(seconds);
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  if (posix_spawn(&m_pid, exe.c_str(), nullptr, nullptr, argv, environ) != 0) m_pid = 0;
  // Give it time to become the program it names.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

SleepingChild::~SleepingChild() {
  if (m_pid > 0 && !m_done) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
}

bool SleepingChild::started() const { return m_pid > 0; }

bool SleepingChild::running() {
  endedByOtherWithin(std::chrono::milliseconds(0));
  return started() && !m_done;
}

bool SleepingChild::endedByOtherWithin(std::chrono::milliseconds wait) {
  if (!started()) return false;
  for (auto end = std::chrono::steady_clock::now() + wait; !m_done;) {
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_done = true;
      m_endedByOther = WIFSIGNALED(status);
    } else if (std::chrono::steady_clock::now() >= end) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return m_done && m_endedByOther;
}

#endif

}  // namespace sundry::test
