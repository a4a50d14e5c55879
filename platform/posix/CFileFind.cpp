// CFileFind's directory listing over POSIX directories: entries are read
// with readdir and described with lstat/stat; the creation time is the
// birth time where the file system keeps one.

#include <sundry/platform/CFileFind.h>
#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>

#include "platform/posix/error.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

// "*" and "?" against name, ignoring case; "*.*" matches every name.
bool matches(const char* pattern, const char* name) {
  if (std::string(pattern) == "*.*") return true;
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starP = pattern++;
      starN = name;
    } else if (*pattern == '?' || (*pattern && sundry::platform::AnsiToUpper(static_cast<unsigned char>(*pattern)) ==
                                                    sundry::platform::AnsiToUpper(static_cast<unsigned char>(*name)))) {
      ++pattern;
      ++name;
    } else if (starP) {
      pattern = starP + 1;
      name = ++starN;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

time_t birthTime(const std::string& path, const struct stat& st) {
#ifdef STATX_BTIME
  struct statx sx{};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    return static_cast<time_t>(sx.stx_btime.tv_sec);
#endif
  return st.st_ctime;
}

}  // namespace

BOOL CFileFind::FindFile(const char* pattern, DWORD) {
  Close();
  return sundry::platform::posix::OrOutOfMemory<BOOL>(FALSE, [&]() -> BOOL {
    std::string text = pattern != nullptr ? pattern : "";
    const size_t slash = text.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "." : text.substr(0, slash);
    const std::string mask = slash == std::string::npos ? text : text.substr(slash + 1);
    std::replace(dir.begin(), dir.end(), '\\', '/');
    if (dir.empty()) dir = "/";
    if (mask.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), &::closedir);
    if (!d) {
      sundry::platform::SetLastErrorFromErrno(errno == ENOENT || errno == ENOTDIR ? ENOENT : errno, "opendir",
                                              dir.c_str());
      if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
      return FALSE;
    }
    m_root = dir == "/" ? std::string() : dir;
    while (dirent* e = ::readdir(d.get())) {
      if (!matches(mask.c_str(), e->d_name)) continue;
      const std::string path = m_root + "/" + e->d_name;
      struct stat st{};
      if (::lstat(path.c_str(), &st) != 0) continue;
      DWORD attributes = 0;
      if (S_ISLNK(st.st_mode)) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        struct stat target{};
        if (::stat(path.c_str(), &target) == 0) st = target;
      }
      if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
      else attributes |= FILE_ATTRIBUTE_ARCHIVE;
      if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
      if (e->d_name[0] == '.') attributes |= FILE_ATTRIBUTE_HIDDEN;
      m_entries.push_back({e->d_name, attributes, S_ISDIR(st.st_mode) ? 0 : static_cast<ULONGLONG>(st.st_size),
                           birthTime(path, st)});
    }
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    if (m_entries.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    if (slash == std::string::npos) m_root = ".";
    return TRUE;
  });
}
