// The thread's last error and FormatMessageA over the error table.

#include <sundry/platform/error.h>

#include <cerrno>
#include <cstring>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

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
  const char* text = sundry::platform::ErrorText(dwMessageId);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const size_t textLen = std::strlen(text);
  const size_t full = textLen + 2;  // "\r\n"
  if (full + 1 > nSize) {
    size_t n = nSize - 1;
    size_t fromText = n < textLen ? n : textLen;
    std::memcpy(lpBuffer, text, fromText);
    if (n > textLen) lpBuffer[textLen] = '\r';
    lpBuffer[n] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text, textLen);
  lpBuffer[textLen] = '\r';
  lpBuffer[textLen + 1] = '\n';
  lpBuffer[full] = '\0';
  return static_cast<DWORD>(full);
}
