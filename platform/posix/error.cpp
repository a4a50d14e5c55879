// errno to Win32 error codes, in one place, with the failure logged.

#include "platform/posix/error.h"

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/error.h>

#include <cerrno>
#include <cstring>

namespace sundry::platform::posix {

DWORD Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC: return ERROR_DISK_FULL;
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EISDIR: return ERROR_DIRECTORY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY: return ERROR_BUSY;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EIO: return ERROR_IO_DEVICE;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ENODEV:
    case ENXIO: return ERROR_DEVICE_NOT_CONNECTED;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    case ENOSYS: return ERROR_CALL_NOT_IMPLEMENTED;
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EFAULT: return ERROR_NOACCESS;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD SetLastErrorFromErrno(int err, const char* operation, const char* path) {
  const DWORD code = Win32ErrorFromErrno(err);
  if (operation != nullptr) {
    const int saved = errno;
    CDebugLog log("platform");
    const char* name = ErrorName(code);
    log.Report("Error", "%s(%s): %s -> %s", operation, path != nullptr ? path : "", std::strerror(err),
               name != nullptr ? name : "?");
    errno = saved;
  }
  SetLastError(code);
  return code;
}

}  // namespace sundry::platform::posix
