#pragma once
// Win32 file functions: directory search, copy, move and delete.
//
// Paths may separate their components with "\" or "/": a backslash is a
// separator here as it is on Windows (so a Linux name that holds a backslash
// cannot be reached through these functions). A path that begins with a
// drive letter is not understood; relative paths are taken from the current
// directory.
//
// Every function that fails sets the thread's last error (GetLastError) to
// the Win32 code of the failure and leaves it as it was on success unless
// stated otherwise. All of them may be called from any thread; a search
// handle serves one thread at a time.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#if !defined(_WIN32)
// File attributes, with Win32's values.
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

// Flags of MoveFileExA.
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

// One directory entry found by FindFirstFileA / FindNextFileA, laid out as
// Win32's WIN32_FIND_DATAA.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;  // the status-change time: Linux keeps no creation time
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];  // always empty: there are no short names
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;

extern "C" {

// Starts a search of one directory. lpFileName is a directory path followed
// by a name pattern ("dir\*.slt", "dir/prefs.js"): "*" stands for any run of
// characters and "?" for one character, compared without regard to case,
// with Windows' readings: "*.*" matches every name, also one without a dot;
// "a.*" matches "a" too and "*." only names without a dot; "?" before a dot
// or at the end may match nothing ("????.txt" matches "ab.txt"); "*.txt"
// matches "a.b.txt" but not "a.txtx" (there are no short 8.3 names to
// match as well). The
// directory's entries are taken at this call, "." and ".." included, and
// handed out in the order of their names (case folded), so a search is
// repeatable. On success returns a search handle and fills *lpFindFileData
// with the first match: the name (without the directory), the attributes
// (FILE_ATTRIBUTE_DIRECTORY for a directory, READONLY when the owner may not
// write, HIDDEN for a name that begins with a dot, ARCHIVE for other files,
// NORMAL when none applies), the times and the size. A symbolic link is
// described by what it points to.
// Returns INVALID_HANDLE_VALUE on failure, *lpFindFileData untouched:
// ERROR_FILE_NOT_FOUND when the directory exists but nothing matches;
// ERROR_PATH_NOT_FOUND when the directory does not exist or is not a
// directory; ERROR_INVALID_PARAMETER for a null argument or a path that ends
// in a separator; ERROR_ACCESS_DENIED when the directory may not be read.
// The handle must be closed with FindClose.
SUNDRY_EXPORT HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);

// Fills *lpFindFileData with the next match of the search and returns TRUE.
// FALSE with ERROR_NO_MORE_FILES after the last match, ERROR_INVALID_HANDLE
// for a handle that FindFirstFileA did not return or that was closed;
// *lpFindFileData is then untouched.
SUNDRY_EXPORT BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);

// Ends a search and frees its handle. FALSE with ERROR_INVALID_HANDLE for a
// handle that is not an open search.
SUNDRY_EXPORT BOOL FindClose(HANDLE hFindFile);

// Copies the content, permission bits and times of last access and last
// write of the regular file lpExistingFileName to lpNewFileName. The content
// is copied in the kernel where the file systems allow it (copy_file_range),
// else read and written. The copy is written beside the target and renamed
// into place, so the target is either its former self or a complete copy,
// never a part; the copy is not committed to the disk (as on Windows, a
// crash of the system may lose it). With bFailIfExists and an existing
// target, fails with ERROR_FILE_EXISTS and leaves it alone. Without, an
// existing read-only target (one the owner may not write) is not replaced:
// ERROR_ACCESS_DENIED, as on Windows. Other failures: ERROR_SHARING_VIOLATION
// when both names stand for the same file (a hard link or a link
// included); ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND for a missing
// source or target directory, ERROR_ACCESS_DENIED when the source or the
// target is not a regular file (a directory, a device, a FIFO, a socket,
// or a link to one: none is opened or replaced, so the call never waits on
// a FIFO nor reads a device without end) or may not be opened,
// ERROR_INVALID_PARAMETER for a null or empty name, and the codes of failing
// reads and writes (ERROR_DISK_FULL, ...). On failure no file is left
// beside the target.
SUNDRY_EXPORT BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);

// Renames a file or directory. Without MOVEFILE_REPLACE_EXISTING an
// existing target makes it fail with ERROR_ALREADY_EXISTS; with it, an
// existing file is replaced in one step (a process or system crash leaves
// either the old or the new file at the target, never none). With
// MOVEFILE_WRITE_THROUGH the change of the directories is committed to the
// disk before the call returns. MOVEFILE_COPY_ALLOWED is accepted; a move to
// another file system fails with ERROR_NOT_SAME_DEVICE all the same. Other
// failures: ERROR_FILE_NOT_FOUND for a missing source, ERROR_PATH_NOT_FOUND
// for a missing target directory, ERROR_ACCESS_DENIED when a directory
// would replace a file or the other way round, ERROR_INVALID_PARAMETER for
// a null or empty name or unknown flags.
SUNDRY_EXPORT BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);

// Deletes a file. ERROR_FILE_NOT_FOUND when it does not exist,
// ERROR_PATH_NOT_FOUND when its directory does not exist,
// ERROR_ACCESS_DENIED for a directory or a file the process may not delete.
SUNDRY_EXPORT BOOL DeleteFileA(LPCSTR lpFileName);

// The attributes of a file or directory (as FindFirstFileA gives them), or
// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND
// when it does not exist.
SUNDRY_EXPORT DWORD GetFileAttributesA(LPCSTR lpFileName);
}
#endif  // !_WIN32

namespace sundry::platform {

// Gives the file lpFileName the permission bits, owner and group of the file
// lpModelFileName (symbolic links followed), so that a file made to stand in
// for another is never more readable than it, nor anyone else's. When
// lpModelFileName does not exist, lpFileName gets the permission bits
// dwModeWithoutModel (07777 masks them) and keeps its owner. lpFileName
// itself must not be a symbolic link. Returns TRUE, or FALSE with the last
// error set and the access of lpFileName possibly changed in part:
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND for a missing lpFileName,
// ERROR_ACCESS_DENIED when the owner or group cannot be given (a process
// without the right to do so), when lpFileName is a link or either name is
// not a regular file; ERROR_INVALID_PARAMETER for a null or empty name.
SUNDRY_EXPORT BOOL CopyFileAccess(LPCSTR lpModelFileName, LPCSTR lpFileName, DWORD dwModeWithoutModel);

// Replaces the file that lpTargetFileName names with the file
// lpExistingFileName, as MoveFileExA with MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH does, but in the way a user's own settings file
// must be replaced:
//   - a symbolic link at lpTargetFileName is followed: the file it names in
//     the end is replaced and the link stays as it is;
//   - the file moved in first takes the permission bits, owner and group of
//     the file it replaces (CopyFileAccess), so the new content is never
//     more readable than the old; a target that does not exist yet is made
//     with the moved file's own;
//   - a target on another file system than lpExistingFileName is reached by
//     copying the content beside it and renaming it into place, after which
//     lpExistingFileName is removed.
// The replacement is one step: a crash leaves the old or the new content at
// the target. Returns TRUE when the new content is in place and committed.
// Fails with the target untouched: ERROR_FILE_NOT_FOUND for a missing
// lpExistingFileName, ERROR_ACCESS_DENIED when either is not a regular file
// (a directory, a device) or the owner cannot be given, ERROR_FILE_NOT_FOUND
// or ERROR_PATH_NOT_FOUND for a link that names nothing or a missing target
// directory, ERROR_INVALID_PARAMETER for a null or empty name, and the codes
// of failing copies and commits. Safe to call from any thread.
SUNDRY_EXPORT BOOL ReplaceFileKeepingAccess(LPCSTR lpExistingFileName, LPCSTR lpTargetFileName);

}  // namespace sundry::platform
