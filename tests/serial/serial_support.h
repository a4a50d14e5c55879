#pragma once
// Shared pieces of the serial tests: a guard that takes the fixed half
// second out of closing a port, and the path to a Python that has pyserial.

#include "platform/winapi/sleep_internal.h"

#include <sundry/platform/wintypes.h>

#include <chrono>

namespace sundry::test {

// While alive, Sleep skips the 250 ms pauses a port close makes (and
// counts them); every other pause is made as asked.
class FastClose {
 public:
  FastClose() { sundry::platform::SetSleepHook(&hook, &m_skipped); }
  ~FastClose() { sundry::platform::SetSleepHook(nullptr, nullptr); }
  FastClose(const FastClose&) = delete;
  FastClose& operator=(const FastClose&) = delete;
  int skipped() const { return m_skipped; }

 private:
  static DWORD hook(DWORD ms, void* context) {
    if (ms != 250) return ms;
    ++*static_cast<int*>(context);
    return 0;
  }
  int m_skipped = 0;
};

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Debian's interpreter, where python3-serial installs pyserial.
constexpr const char* kSystemPython = "/usr/bin/python3";

}  // namespace sundry::test
