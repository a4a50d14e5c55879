#pragma once
// What identifies a file, and its size and times, by path: the fields of
// Win32's GetFileInformationByHandle.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#if !defined(_WIN32)
// Laid out as Win32's BY_HANDLE_FILE_INFORMATION. Two paths name the same
// file when dwVolumeSerialNumber, nFileIndexHigh and nFileIndexLow agree.
struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;  // the status-change time: Linux keeps no creation time
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;  // the device's number, folded to 32 bits
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;  // the inode number
  DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;
#endif  // !_WIN32

namespace sundry::platform {

// Fills *lpFileInformation for the file or directory lpFileName names
// (symbolic links followed), as CreateFileA with FILE_FLAG_BACKUP_SEMANTICS
// and no access, GetFileInformationByHandle and CloseHandle would on
// Windows; nothing is opened, so a FIFO or a device is described without
// being touched. Attributes as GetFileAttributesA gives them. Returns TRUE,
// or FALSE with ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND for a missing
// file, ERROR_INVALID_PARAMETER for a null or empty argument. Any thread.
SUNDRY_EXPORT BOOL GetFileInformationByPathA(LPCSTR lpFileName, LPBY_HANDLE_FILE_INFORMATION lpFileInformation);

}  // namespace sundry::platform
