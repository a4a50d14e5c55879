// The error table's look-ups, the thread's last error and FormatMessageA.

#include <sundry/platform/error.h>

#include <cerrno>
#include <cstring>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

struct ErrorEntry {
  DWORD code;
  const char* name;
  const char* text;
};

constexpr ErrorEntry kErrors[] = {
#define SUNDRY_ERROR_ROW(name, num, text) {num, #name, text},
    SUNDRY_ERROR_TABLE(SUNDRY_ERROR_ROW)
#undef SUNDRY_ERROR_ROW
};

const ErrorEntry* find(DWORD code) {
  for (const ErrorEntry& e : kErrors)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

extern "C" DWORD GetLastError(void) { return t_lastError; }

extern "C" void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

extern "C" DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId,
                                LPSTR lpBuffer, DWORD nSize, va_list*) {
  const DWORD allowed = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (dwFlags & ~allowed) != 0 ||
      lpBuffer == nullptr || nSize == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Neutral language, default, or US English: the only table there is.
  const DWORD primary = dwLanguageId & 0x3ff;
  if (dwLanguageId != 0 && primary != LANG_NEUTRAL && primary != 0x09) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const ErrorEntry* e = find(dwMessageId);
  if (e == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const size_t textLen = std::strlen(e->text);
  const size_t full = textLen + 2;  // "\r\n"
  if (full + 1 > nSize) {
    size_t n = nSize - 1;
    size_t fromText = n < textLen ? n : textLen;
    std::memcpy(lpBuffer, e->text, fromText);
    if (n > textLen) lpBuffer[textLen] = '\r';
    lpBuffer[n] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, e->text, textLen);
  lpBuffer[textLen] = '\r';
  lpBuffer[textLen + 1] = '\n';
  lpBuffer[full] = '\0';
  return static_cast<DWORD>(full);
}

namespace sundry::platform {

const char* ErrorName(DWORD code) {
  const ErrorEntry* e = find(code);
  return e ? e->name : nullptr;
}

const char* ErrorText(DWORD code) {
  const ErrorEntry* e = find(code);
  return e ? e->text : nullptr;
}

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

DWORD SetLastErrorFromErrno(int err) {
  DWORD code = Win32ErrorFromErrno(err);
  SetLastError(code);
  return code;
}

}  // namespace sundry::platform
