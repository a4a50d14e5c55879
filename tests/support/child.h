#pragma once
// Child processes for tests that find and end programs by their name: a
// copy of a sleeping program saved under the name asked for, started, and
// ended when the object goes away if it still runs.

#include <chrono>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/types.h>
#endif

namespace sundry::test {

#if defined(_WIN32)
// The sleeping program built with the tests; it carries a version resource
// with the file version 4.3.2.1.
std::string SleeperProgram();
#endif

// The path of the running program.
std::string SelfPath();
// Runs a program without arguments, in this process's environment, and
// waits for it; returns its exit status, or -1 when it could not be run.
int RunAndWait(const std::string& program);

class SleepingChild {
 public:
  // Saves the sleeping program as dir/name (on Windows the name carries its
  // .exe) and starts it, sleeping for the seconds given.
  SleepingChild(const std::string& dir, const std::string& name, int seconds = 60);
  ~SleepingChild();
  SleepingChild(const SleepingChild&) = delete;
  SleepingChild& operator=(const SleepingChild&) = delete;

  bool started() const;
  // Whether it still runs (it has not ended, nor been waited for).
  bool running();
  // Waits up to `wait` for the child to end and says whether something
  // else ended it (a kill, TerminateProcess) before its sleep was over.
  bool endedByOtherWithin(std::chrono::milliseconds wait);

 private:
  bool m_done = false, m_endedByOther = false;
#if defined(_WIN32)
  PROCESS_INFORMATION m_process{};
#else
  pid_t m_pid = 0;
#endif
};

}  // namespace sundry::test
