#pragma once
// Pseudo-terminals and the small descriptor operations of a program that
// plays the far end of a serial line on one (the modem simulator). Errors
// are reported as errno, never as the Win32 last error.

#include "platform/posix/fd.h"

#include <cstddef>
#include <string>

namespace sundry::platform::posix {

// A new pseudo-terminal: the controlling side (master) and the path of the
// port side, both ends in raw mode (no echo, no line editing, no CR/LF
// translation), so whatever opens the path sees the bytes as they are.
// keepOpen holds a descriptor of the port side, so the master never reads
// as hung up while no client has the port open; close it to let the port
// side go. Every descriptor is close-on-exec; the master is non-blocking.
struct Pty {
  UniqueFd master;
  UniqueFd keepOpen;
  std::string path;
};

// Opens a pseudo-terminal. False with errno on failure.
bool OpenPty(Pty& pty);

// A pipe whose write end wakes a thread waiting in WaitForInput.
// False with errno on failure. Both ends are close-on-exec.
bool OpenWakePipe(UniqueFd& readEnd, UniqueFd& writeEnd);

// Writes one byte to a wake pipe (a full pipe already wakes its reader).
void Wake(int writeEnd);

// Waits until fd has input or a hang-up, or wakeFd (if >= 0) is readable,
// at most timeoutMs milliseconds (-1: no limit). Returns 1 when fd is
// ready, 2 when only wakeFd is, 0 on time-out, -1 with errno on failure.
int WaitForInput(int fd, int wakeFd, int timeoutMs);

// Reads what fd has, without waiting: the count, 0 when nothing is there,
// -1 with errno on failure or hang-up (EIO for a hang-up, also when the
// system reports it as the end of the file).
long ReadAvailable(int fd, void* buffer, size_t size);

// Writes what fits of size bytes to the non-blocking fd without waiting:
// the count, 0 when there is no room, -1 with errno on failure.
long WriteSome(int fd, const void* data, size_t size);

// Waits until fd has room for output, at most timeoutMs milliseconds.
// Returns 1 when there is room (or an error condition to report on the next
// write), 0 on time-out, -1 with errno on failure.
int WaitForOutput(int fd, int timeoutMs);

// Writes all size bytes to the non-blocking fd, waiting for room as long as
// it takes. False with errno on failure.
bool WriteAll(int fd, const void* data, size_t size);

// Makes linkPath a symbolic link to target, replacing a symbolic link that
// is there already (anything else at linkPath is left alone: EEXIST).
// False with errno on failure.
bool ReplaceSymlink(const std::string& linkPath, const std::string& target);

// Removes linkPath when it is a symbolic link to target; leaves anything
// else alone.
void RemoveSymlinkTo(const std::string& linkPath, const std::string& target);

}  // namespace sundry::platform::posix
