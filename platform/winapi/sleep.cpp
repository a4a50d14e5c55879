// Sleep over nanosleep, resumed after a signal.

#include "platform/winapi/sleep_internal.h"

#include <sundry/platform/sync.h>

#include <cerrno>
#include <sched.h>
#include <time.h>

namespace sundry::platform {
namespace {
SleepHook g_hook = nullptr;
void* g_context = nullptr;
}  // namespace

void SetSleepHook(SleepHook hook, void* context) {
  g_hook = hook;
  g_context = context;
}

}  // namespace sundry::platform

extern "C" void Sleep(DWORD dwMilliseconds) {
  using namespace sundry::platform;
  if (g_hook != nullptr) dwMilliseconds = g_hook(dwMilliseconds, g_context);
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  timespec left{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
