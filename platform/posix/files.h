#pragma once
// File and path helpers of the POSIX port at the level of errno: opening a
// regular file, reading, the path helpers. They never set the Win32 last
// error and never ask the fault hook, so the debug-log library, which has
// neither, compiles them too. The stand-ins use them through fileio.h,
// which adds both.

#include "platform/posix/fd.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct stat;

namespace sundry::platform::posix {

// What a helper does with a symbolic link at the path it is given.
enum class Links { Follow, Refuse };

// Looks at what stands at path. Returns 1 for a regular file (*st then
// describes it), 0 when nothing is there (ENOENT), and -1 with errno
// otherwise: EISDIR for a directory, ENODEV for anything else that is not
// a regular file (device, FIFO, socket), ELOOP for a symbolic link when
// links is Refuse, or the errno of stat.
int StatRegularFile(const std::string& path, struct stat* st, Links links = Links::Follow);

// Opens path with flags (and mode, when flags create) as a regular file. A
// FIFO, a device, a socket or a directory where a file is expected is
// refused without side effects: it is looked at before the open and not
// opened (no device acts, no FIFO waits for a peer, no terminal becomes
// the controlling one), and a descriptor that turns out to be something
// else after all (a race) is closed again. The result is then invalid with
// errno EISDIR for a directory and ENODEV for anything else (ENXIO for a
// FIFO, put there meanwhile, opened for writing that nobody reads). With
// Links::Refuse a symbolic link at path is refused too (ELOOP) and never
// followed. O_CLOEXEC is always added. On any other failure the result is
// invalid with open's errno.
UniqueFd OpenRegularFile(const std::string& path, int flags, unsigned mode = 0600, Links links = Links::Follow);

// Reads size bytes at offset into buffer, with as many reads as it takes.
// Returns the count read, below size only at the end of the file; -1 with
// errno when a read fails.
ssize_t ReadFull(int fd, void* buffer, size_t size, uint64_t offset);

// Appends what fd holds from its position to its end to *out, cut at limit
// bytes in all. Returns true; false with errno when a read fails (ENOMEM
// when *out cannot grow). *out keeps what was read before a failure.
bool ReadToEnd(int fd, std::string* out, size_t limit = SIZE_MAX);

// Copies what in holds from its position to its end to out, at out's
// position. Returns true; false with errno when a read or a write fails.
bool CopyToEnd(int in, int out);

// Commits a file's data, or a directory's entries, to the disk by path
// (fsync). Opens without blocking, so a FIFO at path never holds the call
// up. Returns true, also on file systems that cannot sync a directory;
// false with errno when path cannot be opened or the sync fails.
bool SyncPath(const std::string& path);

// Reads the whole of a small file (a /proc or sysfs entry, a configuration
// file) into *out, at most limit bytes: more is cut. Opens without blocking
// and without making the file a controlling terminal, so a FIFO or a
// device given by mistake never hangs the caller. Returns true; false with
// errno set when the file cannot be opened or read (*out is then empty).
bool ReadSmallFile(const std::string& path, std::string* out, size_t limit = 1 << 20);

// The directory part of path: "." for a bare name, "/" for a name in the
// root.
std::string DirName(const std::string& path);

// The last component of path (all of it when it has no "/").
std::string BaseName(const std::string& path);

// Creates path and every missing parent directory with mode (as mkdir -p).
// Returns true when path is a directory afterwards; false with errno set
// otherwise (ENOTDIR when something other than a directory stands there).
bool MakeDirectories(const std::string& path, unsigned mode);

// The path with every "\" turned into "/": the form the system takes.
// Every stand-in that takes a path from a caller applies it, so that a
// path may separate its components with "\" as on Windows (a Linux name
// that holds a backslash cannot be reached through them).
std::string NativePath(const char* path);

}  // namespace sundry::platform::posix
