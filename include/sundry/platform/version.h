#pragma once
// Version resources of Windows executables and DLLs.
//
// The version resource (type RT_VERSION) of a PE32 or PE32+ file is found
// through its resource directory and handed out as the VS_VERSIONINFO block
// Windows keeps in the file: the fixed file information (signature
// 0xFEEF04BD) and the StringFileInfo and VarFileInfo trees. Files are read
// with bounds checks on every header field and offset, so a truncated or
// malformed file gives an error, never a read outside the file or the block.
//
// Paths may use "\" or "/" as separators. Every function is thread-safe: no
// state is kept between calls.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <ctime>

// The fixed file information, the value of the root block "\".
#if defined(_WIN32)
#include <winver.h>
#else
struct VS_FIXEDFILEINFO {
  DWORD dwSignature;  // VS_FFI_SIGNATURE
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;  // major << 16 | minor
  DWORD dwFileVersionLS;  // build << 16 | revision
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52, "VS_FIXEDFILEINFO is 52 bytes");

#define VS_FFI_SIGNATURE 0xFEEF04BDu

extern "C" {

// The number of bytes GetFileVersionInfoA needs for the file's version
// resource, or 0 with the last error set:
//   ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ... when
//     the file cannot be opened or read;
//   ERROR_BAD_FORMAT when it is not a PE32/PE32+ file or a header, a table
//     or an offset on the way to the resource is out of bounds;
//   ERROR_RESOURCE_DATA_NOT_FOUND when the file has no resource section;
//   ERROR_RESOURCE_TYPE_NOT_FOUND when it has resources but no version
//     resource;
//   ERROR_INVALID_PARAMETER for a null path.
// *lpdwHandle (when not null) is set to 0, as Windows does.
SUNDRY_EXPORT DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);

// Reads the file's version resource into lpData, which must hold dwLen
// bytes, dwLen being at least what GetFileVersionInfoSizeA returned: the
// VS_VERSIONINFO block comes first, followed by room where the string
// values are kept converted to the ANSI code page for VerQueryValueA.
// dwHandle is ignored. Returns TRUE, or FALSE with the last error set: the
// errors of GetFileVersionInfoSizeA, ERROR_INVALID_PARAMETER for a null
// lpData and ERROR_INSUFFICIENT_BUFFER when dwLen is too small (unlike
// Windows, which cuts the block: a cut block could not be walked safely).
// lpData is unchanged on failure.
SUNDRY_EXPORT BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);

// Looks up a value in a block filled by GetFileVersionInfoA:
//   "\"                                 the VS_FIXEDFILEINFO (length in bytes);
//   "\VarFileInfo\Translation"          the language and code-page pairs
//                                       (length in bytes);
//   "\StringFileInfo\040904b0\FileVersion" and the like: the text in the
//                                       ANSI code page, zero-terminated
//                                       (length in characters, the
//                                       terminator included).
// Names are matched without regard to case; "/" may stand for "\".
// Returns TRUE with *lplpBuffer pointing into pBlock and *puLen set; a block
// that has no value of its own gives TRUE with length 0. FALSE when the
// name does not exist, when the root asked for is not a valid fixed file
// information (wrong signature or too short), or when an argument is null;
// the outputs are then unchanged. Does not set the last error.
SUNDRY_EXPORT BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen);
}
#endif  // _WIN32

namespace sundry::platform {

// The file's last modification time, as the C run-time's stat gives it.
// Returns TRUE and sets *modified; FALSE with the last error set
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
// ERROR_INVALID_PARAMETER for null arguments), *modified then unchanged.
// Paths may use "\" or "/" as separators.
SUNDRY_EXPORT BOOL GetFileModificationTime(const char* path, time_t* modified);

}  // namespace sundry::platform
