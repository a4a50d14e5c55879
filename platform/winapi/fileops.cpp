// Win32 file functions over POSIX: directory search with Windows name
// patterns, copy, move, delete and attributes.

#include "platform/posix/error.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/file.h>
#include <sundry/platform/fileops.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace sundry::platform {

std::string NativePath(const char* path) {
  std::string s = path != nullptr ? path : "";
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

}  // namespace sundry::platform

namespace {

using sundry::platform::AnsiToLower;
using sundry::platform::NativePath;
using sundry::platform::SetLastErrorFromErrno;
using sundry::platform::SyncPath;

// Seconds between 1601-01-01 (the start of Windows file times) and
// 1970-01-01.
constexpr unsigned long long kEpochDifference = 11644473600ull;

FILETIME toFileTime(const struct timespec& t) {
  unsigned long long ticks = 0;
  if (t.tv_sec >= 0)
    ticks = (static_cast<unsigned long long>(t.tv_sec) + kEpochDifference) * 10000000ull +
            static_cast<unsigned long long>(t.tv_nsec) / 100;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

DWORD attributesOf(const std::string& name, const struct stat& st) {
  DWORD a = 0;
  if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
  else a |= FILE_ATTRIBUTE_ARCHIVE;
  if ((st.st_mode & S_IWUSR) == 0) a |= FILE_ATTRIBUTE_READONLY;
  if (name.size() > 1 && name[0] == '.' && name != "..") a |= FILE_ATTRIBUTE_HIDDEN;
  return a == 0 ? FILE_ATTRIBUTE_NORMAL : a;
}

void fillFindData(const std::string& name, const struct stat& st, WIN32_FIND_DATAA* out) {
  std::memset(out, 0, sizeof *out);
  out->dwFileAttributes = attributesOf(name, st);
  out->ftCreationTime = toFileTime(st.st_ctim);
  out->ftLastAccessTime = toFileTime(st.st_atim);
  out->ftLastWriteTime = toFileTime(st.st_mtim);
  const unsigned long long size = S_ISDIR(st.st_mode) ? 0 : static_cast<unsigned long long>(st.st_size);
  out->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  out->nFileSizeLow = static_cast<DWORD>(size);
  std::memcpy(out->cFileName, name.data(), std::min(name.size(), sizeof out->cFileName - 1));
}

// Windows name matching: "*" any run, "?" one character, case folded.
bool matchPattern(const char* pattern, const char* name) {
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      starP = ++pattern;
      starN = name;
    } else if (*pattern == '?' ||
               (*pattern != '\0' && AnsiToLower(static_cast<unsigned char>(*pattern)) ==
                                        AnsiToLower(static_cast<unsigned char>(*name)))) {
      ++pattern;
      ++name;
    } else if (starP != nullptr) {
      pattern = starP;
      name = ++starN;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool matchName(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  return matchPattern(pattern.c_str(), name.c_str());
}

// Case-folded order of names, ties broken byte-wise.
bool nameLess(const std::string& a, const std::string& b) {
  int c = sundry::platform::AnsiCompareNoCase(a.c_str(), b.c_str());
  return c != 0 ? c < 0 : a < b;
}

struct FindState {
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

// The open searches: a handle is valid only while it is in this set, so a
// stale or made-up handle is refused instead of being followed.
std::mutex g_findLock;
std::set<FindState*>& openSearches() {
  static std::set<FindState*> searches;
  return searches;
}

// Splits a native path into its directory ("." for a bare name) and its
// last component.
void splitPath(const std::string& path, std::string* dir, std::string* name) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    *dir = ".";
    *name = path;
  } else {
    *dir = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

bool validName(LPCSTR name) { return name != nullptr && *name != '\0'; }

// A missing file whose directory is missing too is ERROR_PATH_NOT_FOUND, as
// on Windows; errno only says ENOENT for both.
DWORD missingCode(const std::string& path) {
  std::string dir, name;
  splitPath(path, &dir, &name);
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

void setLastErrorForPath(int err, const std::string& path) {
  if (err == ENOENT || err == ENOTDIR) SetLastError(missingCode(path));
  else SetLastErrorFromErrno(err);
}

// Copies everything from in (from its position) to out. False with errno
// set when a read or a write fails.
bool copyBytes(int in, int out) {
  char buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += w;
    }
  }
}

// The name a path stands for once symbolic links are followed: the path
// itself when it is no link (whether or not it exists). False with the last
// error set for a link that names nothing or a loop of links.
bool followLinks(const std::string& path, std::string* out) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
    *out = path;
    return true;
  }
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) {
    setLastErrorForPath(errno, path);
    return false;
  }
  *out = real;
  std::free(real);
  return true;
}

// Gives the open file fd the owner, group and permission bits in model. The
// owner goes first: changing it may clear the set-user-id bits.
bool giveAccess(int fd, const struct stat& model) {
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  if ((st.st_uid != model.st_uid || st.st_gid != model.st_gid) && ::fchown(fd, model.st_uid, model.st_gid) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (::fchmod(fd, model.st_mode & 07777) != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

// The regular file a model names (links followed): 1 found, 0 missing,
// -1 with the last error set for anything else.
int statModel(const std::string& path, struct stat* st) {
  if (::stat(path.c_str(), st) != 0) {
    if (errno == ENOENT) return 0;
    setLastErrorForPath(errno, path);
    return -1;
  }
  if (!S_ISREG(st->st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  return 1;
}

// Opens a regular file that is not a symbolic link, for a change of its
// access or a read; -1 with the last error set otherwise.
int openRegular(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ELOOP) SetLastError(ERROR_ACCESS_DENIED);
    else setLastErrorForPath(errno, path);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  return fd;
}

}  // namespace

extern "C" {

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (lpFileName == nullptr || lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string dir, pattern;
  splitPath(NativePath(lpFileName), &dir, &pattern);
  if (pattern.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) SetLastError(ERROR_PATH_NOT_FOUND);
    else SetLastErrorFromErrno(err);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<std::string> names;
  try {
    while (struct dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (matchName(pattern, name)) names.push_back(std::move(name));
    }
  } catch (const std::bad_alloc&) {
    ::closedir(d);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  ::closedir(d);
  std::sort(names.begin(), names.end(), nameLess);

  auto* state = new (std::nothrow) FindState;
  if (state == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  try {
    for (const std::string& name : names) {
      const std::string full = dir == "/" ? "/" + name : dir + "/" + name;
      struct stat st;
      // A dangling link is still listed, described by the link itself; an
      // entry removed since the listing is skipped.
      if (::stat(full.c_str(), &st) != 0 && ::lstat(full.c_str(), &st) != 0) continue;
      WIN32_FIND_DATAA data;
      fillFindData(name, st, &data);
      state->entries.push_back(data);
    }
  } catch (const std::bad_alloc&) {
    delete state;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  if (state->entries.empty()) {
    delete state;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *lpFindFileData = state->entries[0];
  state->next = 1;
  {
    std::lock_guard<std::mutex> lock(g_findLock);
    openSearches().insert(state);
  }
  return static_cast<HANDLE>(state);
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  auto* state = static_cast<FindState*>(hFindFile);
  {
    std::lock_guard<std::mutex> lock(g_findLock);
    if (openSearches().count(state) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (state->next >= state->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *lpFindFileData = state->entries[state->next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  auto* state = static_cast<FindState*>(hFindFile);
  {
    std::lock_guard<std::mutex> lock(g_findLock);
    if (openSearches().erase(state) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  delete state;
  return TRUE;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  if (!validName(lpExistingFileName) || !validName(lpNewFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string source = NativePath(lpExistingFileName);
  const std::string target = NativePath(lpNewFileName);

  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    setLastErrorForPath(errno, source);
    return FALSE;
  }
  struct stat st;
  if (::fstat(in, &st) != 0) {
    SetLastErrorFromErrno(errno);
    ::close(in);
    return FALSE;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(in);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct stat tst;
  if (::stat(target.c_str(), &tst) == 0) {
    if (bFailIfExists) {
      ::close(in);
      SetLastError(ERROR_FILE_EXISTS);
      return FALSE;
    }
    if (S_ISDIR(tst.st_mode)) {
      ::close(in);
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  }

  std::string dir, name;
  splitPath(target, &dir, &name);
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int out = -1;
  for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
    temp = dir + "/.~sundry-copy-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0 && errno != EEXIST) {
      setLastErrorForPath(errno, target);
      ::close(in);
      return FALSE;
    }
  }
  if (out < 0) {
    ::close(in);
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  auto abandon = [&](DWORD code) {
    ::close(in);
    if (out >= 0) ::close(out);
    ::unlink(temp.c_str());
    SetLastError(code);
    return FALSE;
  };

  if (!copyBytes(in, out)) return abandon(SetLastErrorFromErrno(errno));
  if (::fchmod(out, st.st_mode & 07777) != 0) return abandon(SetLastErrorFromErrno(errno));
  int rc = ::close(out);
  out = -1;
  if (rc != 0) return abandon(SetLastErrorFromErrno(errno));

  if (bFailIfExists) {
    // link() refuses an existing name, so a target made meanwhile is kept.
    if (::link(temp.c_str(), target.c_str()) != 0) {
      int err = errno;
      return abandon(err == EEXIST ? ERROR_FILE_EXISTS : SetLastErrorFromErrno(err));
    }
    ::unlink(temp.c_str());
  } else if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    return abandon(err == EISDIR ? ERROR_ACCESS_DENIED : SetLastErrorFromErrno(err));
  }
  ::close(in);
  return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  const DWORD known = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
  if (!validName(lpExistingFileName) || !validName(lpNewFileName) || (dwFlags & ~known) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string source = NativePath(lpExistingFileName);
  const std::string target = NativePath(lpNewFileName);
  struct stat sst;
  if (::lstat(source.c_str(), &sst) != 0) {
    setLastErrorForPath(errno, source);
    return FALSE;
  }
  const bool writeThrough = (dwFlags & MOVEFILE_WRITE_THROUGH) != 0;
  // The content must reach the disk before the new name does, or a crash
  // could leave the new name on an empty file.
  if (writeThrough && S_ISREG(sst.st_mode) && !SyncPath(source.c_str())) return FALSE;

  int rc;
  if (dwFlags & MOVEFILE_REPLACE_EXISTING) {
    struct stat tst;
    if (::stat(target.c_str(), &tst) == 0 && S_ISDIR(tst.st_mode) != S_ISDIR(sst.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    rc = ::rename(source.c_str(), target.c_str());
  } else {
    rc = ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) {
      // The file system cannot rename without replacing: link and unlink
      // keeps the same promise for files.
      if (S_ISDIR(sst.st_mode)) {
        struct stat tst;
        if (::stat(target.c_str(), &tst) == 0) {
          SetLastError(ERROR_ALREADY_EXISTS);
          return FALSE;
        }
        rc = ::rename(source.c_str(), target.c_str());
      } else {
        rc = ::link(source.c_str(), target.c_str());
        if (rc == 0) ::unlink(source.c_str());
      }
    }
  }
  if (rc != 0) {
    int err = errno;
    if (err == EEXIST || err == ENOTEMPTY) SetLastError(ERROR_ALREADY_EXISTS);
    else if (err == ENOENT || err == ENOTDIR) SetLastError(missingCode(target));
    else if (err == EISDIR) SetLastError(ERROR_ACCESS_DENIED);
    else SetLastErrorFromErrno(err);
    return FALSE;
  }
  if (writeThrough) {
    std::string sdir, tdir, name;
    splitPath(source, &sdir, &name);
    splitPath(target, &tdir, &name);
    if (!SyncPath(tdir.c_str())) return FALSE;
    if (sdir != tdir && !SyncPath(sdir.c_str())) return FALSE;
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  if (!validName(lpFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = NativePath(lpFileName);
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (::unlink(path.c_str()) != 0) {
    setLastErrorForPath(errno, path);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  if (!validName(lpFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string path = NativePath(lpFileName);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) {
    setLastErrorForPath(errno, path);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string dir, name;
  splitPath(path, &dir, &name);
  return attributesOf(name, st);
}

}  // extern "C"

namespace sundry::platform {

BOOL CopyFileAccess(LPCSTR lpModelFileName, LPCSTR lpFileName, DWORD dwModeWithoutModel) {
  if (!validName(lpModelFileName) || !validName(lpFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat model;
  const int found = statModel(NativePath(lpModelFileName), &model);
  if (found < 0) return FALSE;
  const int fd = openRegular(NativePath(lpFileName), O_RDONLY);
  if (fd < 0) return FALSE;
  bool ok;
  if (found == 1) {
    ok = giveAccess(fd, model);
  } else {
    ok = ::fchmod(fd, static_cast<mode_t>(dwModeWithoutModel & 07777)) == 0;
    if (!ok) SetLastErrorFromErrno(errno);
  }
  ::close(fd);
  return ok ? TRUE : FALSE;
}

BOOL ReplaceFileKeepingAccess(LPCSTR lpExistingFileName, LPCSTR lpTargetFileName) {
  if (!validName(lpExistingFileName) || !validName(lpTargetFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string source = NativePath(lpExistingFileName);
  std::string target;
  if (!followLinks(NativePath(lpTargetFileName), &target)) return FALSE;
  struct stat old;
  const int exists = statModel(target, &old);
  if (exists < 0) return FALSE;

  // The new content gets the old file's access before it gets its name.
  int in = openRegular(source, O_RDONLY);
  if (in < 0) return FALSE;
  struct stat own;
  if (::fstat(in, &own) != 0) {
    SetLastErrorFromErrno(errno);
    ::close(in);
    return FALSE;
  }
  if (exists == 1) {
    if (!giveAccess(in, old)) {
      ::close(in);
      return FALSE;
    }
    own = old;
  }
  // The content must reach the disk before the new name does.
  if (::fsync(in) != 0 && errno != EINVAL) {
    SetLastErrorFromErrno(errno);
    ::close(in);
    return FALSE;
  }

  std::string sourceDir, targetDir, name;
  splitPath(source, &sourceDir, &name);
  splitPath(target, &targetDir, &name);
  if (::rename(source.c_str(), target.c_str()) == 0) {
    ::close(in);
  } else if (errno != EXDEV) {
    const int err = errno;
    ::close(in);
    setLastErrorForPath(err, target);
    return FALSE;
  } else {
    // Another file system: a copy beside the target takes its place.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int out = -1;
    for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
      temp = targetDir + "/.~sundry-move-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
      out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (out < 0 && errno != EEXIST) break;
    }
    if (out < 0) {
      const int err = errno;
      ::close(in);
      if (err == EEXIST) SetLastError(ERROR_ALREADY_EXISTS);
      else setLastErrorForPath(err, target);
      return FALSE;
    }
    bool ok = ::lseek(in, 0, SEEK_SET) == 0 && copyBytes(in, out);
    if (!ok) SetLastErrorFromErrno(errno);
    ok = ok && giveAccess(out, own);
    if (ok && ::fsync(out) != 0) {
      SetLastErrorFromErrno(errno);
      ok = false;
    }
    if (::close(out) != 0 && ok) {
      SetLastErrorFromErrno(errno);
      ok = false;
    }
    ::close(in);
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
      SetLastErrorFromErrno(errno);
      ok = false;
    }
    if (!ok) {
      const DWORD error = GetLastError();
      ::unlink(temp.c_str());
      SetLastError(error);
      return FALSE;
    }
    ::unlink(source.c_str());
  }
  if (!SyncPath(targetDir.c_str())) return FALSE;
  if (sourceDir != targetDir && !SyncPath(sourceDir.c_str())) return FALSE;
  return TRUE;
}

}  // namespace sundry::platform
