#pragma once
// Small file helpers of the POSIX stand-ins: reading a whole (small) file
// and the path helpers that several stand-ins need.

#include "platform/posix/fd.h"

#include <cstddef>
#include <string>

namespace sundry::platform::posix {

// Opens path with flags (and mode, when flags create) as a regular file,
// following links. A FIFO, a device, a socket or a directory where a file is
// expected is refused without blocking and without side effects (a FIFO's
// open never waits for a peer, a terminal never becomes the controlling
// one): the result is then invalid with errno EISDIR for a directory and
// ENODEV for anything else that is not a regular file (ENXIO for a FIFO
// opened for writing that nobody reads). O_CLOEXEC is always
// added. On any other failure the result is invalid with open's errno.
UniqueFd OpenRegularFile(const std::string& path, int flags, unsigned mode = 0600);

// Reads the whole of a small file (a /proc or sysfs entry, a configuration
// file) into *out, at most limit bytes: more is cut. Opens without blocking
// and without making the file a controlling terminal, so a FIFO or a
// device given by mistake never hangs the caller. Returns true; false with
// errno set when the file cannot be opened or read (*out is then empty).
bool ReadSmallFile(const std::string& path, std::string* out, size_t limit = 1 << 20);

// The directory part of path: "." for a bare name, "/" for a name in the
// root.
std::string DirName(const std::string& path);

// Creates path and every missing parent directory with mode (as mkdir -p).
// Returns true when path is a directory afterwards; false with errno set
// otherwise (ENOTDIR when something other than a directory stands there).
bool MakeDirectories(const std::string& path, unsigned mode);

}  // namespace sundry::platform::posix
