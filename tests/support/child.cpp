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

std::string SleeperProgram() { return SUNDRY_TEST_SLEEPER; }

std::string SelfPath() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

int RunAndWait(const std::string& program) {
  std::string command = "\"" + program + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  const bool got = GetExitCodeProcess(process.hProcess, &status) != 0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return got ? static_cast<int>(status) : -1;
}

SleepingChild::SleepingChild(const std::string& dir, const std::string& name, int seconds) {
  const std::string exe = dir + "\\" + name;
  // A second child of one name runs the copy that the first one made.
  std::error_code ec;
  if (!std::filesystem::exists(exe)) std::filesystem::copy_file(SUNDRY_TEST_SLEEPER, exe, ec);
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

std::string SelfPath() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

int RunAndWait(const std::string& program) {
  pid_t pid = 0;
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SleepingChild::SleepingChild(const std::string& dir, const std::string& name, int seconds) {
  const std::string exe = dir + "/" + name;
  // A second child of one name runs the copy that the first one made.
  std::error_code ec;
  if (!std::filesystem::exists(exe)) std::filesystem::copy_file("/bin/sleep", exe, ec);
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
