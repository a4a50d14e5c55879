// The library's own file operations over the Win32 API: access of a file
// made to stand in for another, and the replacement of a settings file.

#include <sundry/platform/fileops.h>
#include <sundry/platform/version.h>

#include <windows.h>
#include <aclapi.h>

namespace sundry::platform {

namespace {

bool IsPlainFile(LPCSTR path) {
  DWORD attrs = ::GetFileAttributesA(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

// Windows keeps access in the file's security descriptor: the model's
// discretionary access list is copied (the owner stays, as a process
// without the privilege cannot give files away). Without a model the file
// keeps the access its folder gives it; dwModeWithoutModel is a POSIX mode
// and only its owner-write bit counts (cleared: the file is made
// read-only).
BOOL CopyFileAccess(LPCSTR lpModelFileName, LPCSTR lpFileName, DWORD dwModeWithoutModel) {
  if (lpModelFileName == nullptr || lpFileName == nullptr || *lpModelFileName == '\0' || *lpFileName == '\0') {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (::GetFileAttributesA(lpFileName) == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (!IsPlainFile(lpFileName)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (::GetFileAttributesA(lpModelFileName) == INVALID_FILE_ATTRIBUTES) {
    if ((dwModeWithoutModel & 0200) == 0) {
      DWORD attrs = ::GetFileAttributesA(lpFileName);
      if (!::SetFileAttributesA(lpFileName, attrs | FILE_ATTRIBUTE_READONLY)) return FALSE;
    }
    return TRUE;
  }
  if (!IsPlainFile(lpModelFileName)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  DWORD rc = ::GetNamedSecurityInfoA(lpModelFileName, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &dacl, nullptr, &sd);
  if (rc != ERROR_SUCCESS) {
    ::SetLastError(rc);
    return FALSE;
  }
  rc = ::SetNamedSecurityInfoA(const_cast<LPSTR>(lpFileName), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                               nullptr, dacl, nullptr);
  ::LocalFree(sd);
  if (rc != ERROR_SUCCESS) {
    ::SetLastError(rc);
    return FALSE;
  }
  return TRUE;
}

// ReplaceFileA keeps the replaced file's security, attributes and streams;
// a target that does not exist yet is a plain move.
BOOL ReplaceFileKeepingAccess(LPCSTR lpExistingFileName, LPCSTR lpTargetFileName) {
  if (lpExistingFileName == nullptr || lpTargetFileName == nullptr || *lpExistingFileName == '\0' ||
      *lpTargetFileName == '\0') {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (::GetFileAttributesA(lpExistingFileName) == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (!IsPlainFile(lpExistingFileName)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD target = ::GetFileAttributesA(lpTargetFileName);
  if (target == INVALID_FILE_ATTRIBUTES) {
    DWORD err = ::GetLastError();
    if (err != ERROR_FILE_NOT_FOUND) return FALSE;
    return ::MoveFileExA(lpExistingFileName, lpTargetFileName,
                         MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
  }
  if ((target & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (::ReplaceFileA(lpTargetFileName, lpExistingFileName, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr))
    return TRUE;
  // ReplaceFileA cannot cross volumes: copy beside the target, then replace.
  if (::GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT && ::GetLastError() != ERROR_NOT_SAME_DEVICE)
    return FALSE;
  return ::MoveFileExA(lpExistingFileName, lpTargetFileName,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
}

BOOL GetFileModificationTime(const char* path, time_t* modified) {
  if (path == nullptr || modified == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return FALSE;
  ULARGE_INTEGER t;
  t.LowPart = data.ftLastWriteTime.dwLowDateTime;
  t.HighPart = data.ftLastWriteTime.dwHighDateTime;
  // 100-ns ticks since 1601 to seconds since 1970.
  *modified = static_cast<time_t>(t.QuadPart / 10000000ULL) - 11644473600LL;
  return TRUE;
}

}  // namespace sundry::platform
