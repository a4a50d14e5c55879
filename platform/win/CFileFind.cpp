// CFileFind's directory listing over FindFirstFileA: the system matches the
// pattern by its own rules; the entries are kept sorted by name.

#include <sundry/platform/CFileFind.h>

#include <windows.h>

#include <algorithm>
#include <new>
#include <string>

BOOL CFileFind::FindFile(const char* pattern, DWORD) {
  Close();
  try {
    std::string text = pattern != nullptr ? pattern : "";
    const size_t slash = text.find_last_of("/\\");
    if (text.empty() || slash + 1 == text.size()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA(text.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    do {
      ULARGE_INTEGER created;
      created.LowPart = fd.ftCreationTime.dwLowDateTime;
      created.HighPart = fd.ftCreationTime.dwHighDateTime;
      const time_t t = static_cast<time_t>(created.QuadPart / 10000000ULL) - 11644473600LL;
      const bool dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      const ULONGLONG size = dir ? 0 : (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
      m_entries.push_back({fd.cFileName, fd.dwFileAttributes, size, t});
    } while (::FindNextFileA(h, &fd));
    ::FindClose(h);
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    m_root = slash == std::string::npos ? std::string(".") : text.substr(0, slash);
    return TRUE;
  } catch (const std::bad_alloc&) {
    Close();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}
