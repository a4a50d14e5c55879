#pragma once
// The C run-time library's file functions that the copy controller uses,
// with the Windows run-time's results: _mkdir, _chmod, and its rename and
// remove under the names crt::rename and crt::remove (the C library's own
// ::rename and ::remove behave differently on Linux and keep their names).
//
// Each returns 0 on success and -1 on failure with errno set as the
// Windows run-time sets it (EEXIST, ENOENT, EACCES: the same numbers on
// both) and the thread's last error set to the Win32 code of the failure.
// Paths may separate their components with "\" or "/". Any thread.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#if defined(_WIN32)
// The C run-time's own.
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#else
// Permission arguments of _chmod.
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080

extern "C" {

// Makes one directory. -1 with EEXIST when something of that name exists,
// ENOENT when the parent directory does not.
SUNDRY_EXPORT int _mkdir(const char* dirname);

// Sets or clears a file's read-only state, as the Windows run-time does:
// with _S_IWRITE in pmode the owner may read and write the file afterwards
// (owner read and write bits added); without it no one may write it (every
// write bit removed). The other permission bits are left as they are.
// -1 with ENOENT for a missing file, EACCES when the mode may not be
// changed (an immutable file, another user's, a read-only file system).
SUNDRY_EXPORT int _chmod(const char* filename, int pmode);
}
#endif  // _WIN32

namespace sundry::platform::crt {

// Renames a file or directory; never replaces: -1 with EACCES (last error
// ERROR_ALREADY_EXISTS) when newname exists, ENOENT when oldname does not.
// Moving to another file system fails (EACCES, ERROR_NOT_SAME_DEVICE).
SUNDRY_EXPORT int rename(const char* oldname, const char* newname);

// Deletes a file. -1 with ENOENT when it does not exist, EACCES for a
// directory or a read-only file (one the owner may not write), as on
// Windows, and for a file the process may not delete.
SUNDRY_EXPORT int remove(const char* filename);

}  // namespace sundry::platform::crt
