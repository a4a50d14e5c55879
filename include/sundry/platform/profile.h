#pragma once
// INI profile files: GetPrivateProfileStringA and WritePrivateProfileStringA.
//
// An INI file is a text file of sections, each a line "[name]" followed by
// lines "key=value". Section and key names are found without regard to case
// (Windows-1252 folding, see codepage.h); blanks around names and values are
// not part of them, and a value written between matching double or single
// quotes is read without them. Lines that begin with ";" are comments. Lines
// may end in CR LF or LF; a new file is written with CR LF, as on Windows, and
// an existing file keeps the line ends it has. Every line the functions do
// not change is kept byte for byte.
//
// The file name is a path ("\" or "/" separate its components); a relative
// path is taken from the current directory (there is no Windows directory to
// fall back to). Reads and writes of the same file from several threads or
// processes are safe: a write replaces the whole file in one step (written
// beside it, committed, renamed over it), so a reader sees the file before
// or after the write and a crash never leaves a half-written file; two
// writers at once may lose one of the changes, as on Windows.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#if !defined(_WIN32)
extern "C" {

// Reads from the INI file lpFileName into lpReturnedString, a buffer of
// nSize characters.
//   lpAppName and lpKeyName given: the value of that key in that section.
//     When the file, the section or the key is missing, the default is copied
//     instead (lpDefault without its trailing blanks; "" when it is null).
//     Returns the number of characters copied, without the terminating zero.
//     A text that does not fit is cut to nSize - 1 characters and
//     zero-terminated, and the result is nSize - 1.
//   lpKeyName null: the names of the keys of the section; lpAppName null: the
//     names of all sections. Each name is followed by a zero and the list by
//     one more. Returns the number of characters copied without the final
//     zero; a list that does not fit is cut, ends in two zeros, and the
//     result is nSize - 2.
// A null buffer or nSize 0 copies nothing and returns 0. The last error is
// ERROR_SUCCESS when the key (or section) was found, ERROR_FILE_NOT_FOUND
// when the default was used because the file, the section or the key is
// missing, ERROR_INVALID_PARAMETER for a null or empty file name (the
// default is copied then too), or the code of a failing read.
SUNDRY_EXPORT DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                             LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);

// Writes the line "key=value" into the section lpAppName of the INI file
// lpFileName: an existing key of the section (its first line) is replaced
// in place, a new key is added after the section's last entry, a missing
// section is added at the end of the file, and a missing file is created.
// lpString null deletes the key; lpKeyName null deletes the whole section
// with its keys (every section of that name). Deleting what is not there
// succeeds and creates no file.
// Returns TRUE when the file holds the change, durably. FALSE with the last
// error set, the file unchanged: ERROR_INVALID_PARAMETER for a null
// section or file name, or for a name or value that the file could not hold
// as given (a line break anywhere; "]" in a section name; "=" in a key name
// or a key that begins with "[" or ";"); ERROR_PATH_NOT_FOUND when the
// file's directory does not exist; ERROR_ACCESS_DENIED, ERROR_DISK_FULL
// and others as the system reports them.
SUNDRY_EXPORT BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                              LPCSTR lpFileName);
}
#endif  // !_WIN32
