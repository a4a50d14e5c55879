// The copy controller's rename and remove with the Windows run-time's
// results, over the Win32 file functions; and the identity of a file by
// path.

#include <sundry/platform/crt.h>
#include <sundry/platform/fileinfo.h>

#include <windows.h>

#include <cerrno>

namespace sundry::platform {

namespace {

int Fail(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_NOT_ENOUGH_MEMORY: errno = ENOMEM; break;
    default: errno = EACCES; break;
  }
  ::SetLastError(error);
  return -1;
}

}  // namespace

namespace crt {

int rename(const char* oldname, const char* newname) {
  if (oldname == nullptr || newname == nullptr) {
    errno = EINVAL;
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  // No MOVEFILE_REPLACE_EXISTING and no MOVEFILE_COPY_ALLOWED: an existing
  // name is refused and another volume is not reached by copying.
  if (!::MoveFileExA(oldname, newname, 0)) return Fail(::GetLastError());
  return 0;
}

int remove(const char* filename) {
  if (filename == nullptr) {
    errno = EINVAL;
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (!::DeleteFileA(filename)) return Fail(::GetLastError());
  return 0;
}

}  // namespace crt

BOOL GetFileInformationByPathA(LPCSTR lpFileName, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  if (lpFileName == nullptr || *lpFileName == '\0' || lpFileInformation == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HANDLE h = ::CreateFileA(lpFileName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  const BOOL ok = ::GetFileInformationByHandle(h, lpFileInformation);
  const DWORD err = ok ? ERROR_SUCCESS : ::GetLastError();
  ::CloseHandle(h);
  if (!ok) ::SetLastError(err);
  return ok;
}

}  // namespace sundry::platform
