#pragma once
// The one place where errno becomes a Win32 error code.
//
// A POSIX stand-in that sees a system call fail calls SetLastErrorFromErrno
// with the call's errno, the operation's name and the path (or other
// object) it worked on: the code is set as the thread's last error, and the
// failure is written to the debug log with the operation and the path, so a
// failure seen by a caller can be traced to the system call behind it. Logic
// code never reads errno; it reads GetLastError().

#include <sundry/platform/error.h>
#include <sundry/platform/wintypes.h>

#include <new>

namespace sundry::platform::posix {

// The Win32 code standing for errno value err (ERROR_GEN_FAILURE for any
// value without a closer counterpart; ERROR_SUCCESS for 0).
DWORD Win32ErrorFromErrno(int err);

// Sets the last error to Win32ErrorFromErrno(err), logs the failure of
// operation on path (either may be null) when the debug log is on, and
// returns the code. errno is left as it was.
DWORD SetLastErrorFromErrno(int err, const char* operation = nullptr, const char* path = nullptr);

// Returns body(), or failed with the last error ERROR_NOT_ENOUGH_MEMORY when
// body runs out of memory (std::bad_alloc): for the stand-ins' entry
// points, which let no exception out.
template <class R, class F>
R OrOutOfMemory(R failed, F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return failed;
  }
}

}  // namespace sundry::platform::posix

namespace sundry::platform {
// The stand-ins call these unqualified.
using posix::SetLastErrorFromErrno;
using posix::Win32ErrorFromErrno;
}  // namespace sundry::platform
