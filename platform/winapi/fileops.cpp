// Win32 file functions over POSIX: directory search with Windows name
// patterns, copy, move, delete and attributes.

#include "platform/posix/error.h"
#include "platform/posix/fault.h"
#include "platform/posix/fd.h"
#include "platform/posix/fileio.h"
#include "platform/posix/files.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/fileinfo.h>
#include <sundry/platform/fileops.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

namespace posix = sundry::platform::posix;
using posix::DirName;
using posix::NativePath;
using posix::SetLastErrorFromErrno;
using posix::UniqueFd;
using sundry::platform::AnsiToLower;

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

// Windows name matching, case folded. Before matching, a pattern is read
// as Windows reads it: "*.*" (and "*") take every name, also one without a
// dot; "?" takes one character, or none at a dot or at the end of the name
// ("????.txt" takes "ab.txt"); a dot followed by "*" or "?", or at the end
// of the pattern, takes a dot or the end of the name ("a.*" takes "a",
// "*." takes names without a dot); "*" before a dot stops at the name's
// last dot ("*.txt" takes "a.b.txt"). Names are matched as they stand:
// there are no short (8.3) names to match as well.
constexpr char kDosStar = '<', kDosQm = '>', kDosDot = '"';

bool foldEqual(char a, char b) {
  return AnsiToLower(static_cast<unsigned char>(a)) == AnsiToLower(static_cast<unsigned char>(b));
}

bool matchFrom(const std::string& p, size_t pi, const std::string& n, size_t ni, size_t lastDot) {
  while (pi < p.size()) {
    const char c = p[pi];
    if (c == '*' || c == kDosStar) {
      // "*" may take any run; a "*" before a dot may not step over the
      // name's last dot.
      const size_t limit = c == kDosStar && lastDot != std::string::npos && lastDot >= ni ? lastDot : n.size();
      for (size_t k = ni; k <= limit; ++k)
        if (matchFrom(p, pi + 1, n, k, lastDot)) return true;
      return false;
    }
    if (c == kDosQm) {
      if (ni == n.size() || n[ni] == '.') {
        while (pi < p.size() && p[pi] == kDosQm) ++pi;
        continue;
      }
      ++pi, ++ni;
      continue;
    }
    if (c == kDosDot) {
      if (ni == n.size()) {
        ++pi;
        continue;
      }
      if (n[ni] != '.') return false;
      ++pi, ++ni;
      continue;
    }
    if (ni == n.size() || !foldEqual(c, n[ni])) return false;
    ++pi, ++ni;
  }
  return ni == n.size();
}

bool matchName(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  std::string p;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '*' && next == '.') p += kDosStar;
    else if (c == '?') p += kDosQm;
    else if (c == '.' && (next == '*' || next == '?' || next == '\0')) p += kDosDot;
    else p += c;
  }
  return matchFrom(p, 0, name, 0, name.rfind('.'));
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

bool validName(LPCSTR name) { return name != nullptr && *name != '\0'; }

// A missing file whose directory is missing too is ERROR_PATH_NOT_FOUND, as
// on Windows; errno only says ENOENT for both.
DWORD missingCode(const std::string& path) {
  struct stat st;
  if (::stat(DirName(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

void setLastErrorForPath(int err, const char* operation, const std::string& path) {
  if (err == ENOENT || err == ENOTDIR) SetLastError(missingCode(path));
  else SetLastErrorFromErrno(err, operation, path.c_str());
}

// The same for a helper of fileio.h that failed on path: its "missing"
// becomes the one of the path's own directory.
void refineMissing(const std::string& path) {
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) SetLastError(missingCode(path));
}

// Commits a file or a directory by path; false with the last error set.
bool commitPath(const std::string& path) {
  if (posix::SyncPath(path)) return true;
  SetLastErrorFromErrno(errno, "fsync", path.c_str());
  return false;
}

// Copies the rest of in (from) to out (to); false with the last error set.
bool copyBytes(int in, int out, const std::string& from, const std::string& to) {
  if (posix::CopyToEnd(in, out)) return true;
  SetLastErrorFromErrno(errno, "copy", (from + " -> " + to).c_str());
  return false;
}

// Copies the rest of in to out for CopyFileA: in the kernel
// (copy_file_range) where the file systems allow it, else by reads and
// writes. Each step asks the fault hook first (Write). false with the last
// error set; out then holds part of the content.
bool copyContent(int in, int out, const std::string& from, const std::string& to) {
  constexpr size_t kChunk = 8u << 20;
  bool kernel = true;
  for (;;) {
    if (posix::InjectedFault(posix::FileOperation::Write)) return false;
    if (kernel) {
      const ssize_t n = posix::RetryOnEintr([&] { return ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0); });
      if (n > 0) continue;
      if (n == 0) {
        // The end, or a file whose size the system does not know (a /proc
        // entry): reads tell which.
        kernel = false;
        continue;
      }
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF ||
          errno == EPERM) {
        kernel = false;
        continue;
      }
      SetLastErrorFromErrno(errno, "copy_file_range", (from + " -> " + to).c_str());
      return false;
    }
    char buffer[64 * 1024];
    const ssize_t n = posix::RetryOnEintr([&] { return ::read(in, buffer, sizeof buffer); });
    if (n < 0) {
      SetLastErrorFromErrno(errno, "read", from.c_str());
      return false;
    }
    if (n == 0) return true;
    if (posix::WriteAll(out, buffer, static_cast<size_t>(n), -1, to) != static_cast<size_t>(n)) return false;
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
    setLastErrorForPath(errno, "realpath", path);
    return false;
  }
  *out = real;
  std::free(real);
  return true;
}

// Gives the open file fd (path) the owner, group and permission bits in
// model. The owner goes first: changing it may clear the set-user-id bits.
bool giveAccess(int fd, const struct stat& model, const std::string& path) {
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    SetLastErrorFromErrno(errno, "fstat", path.c_str());
    return false;
  }
  if ((st.st_uid != model.st_uid || st.st_gid != model.st_gid) && ::fchown(fd, model.st_uid, model.st_gid) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (::fchmod(fd, model.st_mode & 07777) != 0) {
    SetLastErrorFromErrno(errno, "fchmod", path.c_str());
    return false;
  }
  return true;
}

// The regular file a model names (links followed): 1 found, 0 missing,
// -1 with the last error set for anything else.
int statModel(const std::string& path, struct stat* st) {
  const int found = posix::StatRegularFile(path, st);
  if (found < 0) {
    if (errno == EISDIR || errno == ENODEV) SetLastError(ERROR_ACCESS_DENIED);
    else setLastErrorForPath(errno, "stat", path);
  }
  return found;
}

// Opens a regular file that is not a symbolic link, for a change of its
// access or a read; invalid with the last error set otherwise.
UniqueFd openRegular(const std::string& path, int flags) {
  UniqueFd fd = posix::OpenFile(path, flags, 0, posix::Links::Refuse);
  if (!fd) refineMissing(path);
  return fd;
}

}  // namespace

extern "C" {

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (lpFileName == nullptr || lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<std::string> names;
  std::string dir;
  std::unique_ptr<FindState> state;
  try {
    const std::string path = NativePath(lpFileName);
    dir = DirName(path);
    const std::string pattern = posix::BaseName(path);
    if (pattern.empty()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), &::closedir);
    if (!d) {
      int err = errno;
      if (err == ENOENT || err == ENOTDIR) SetLastError(ERROR_PATH_NOT_FOUND);
      else SetLastErrorFromErrno(err, "opendir", dir.c_str());
      return INVALID_HANDLE_VALUE;
    }
    while (struct dirent* e = ::readdir(d.get())) {
      std::string name = e->d_name;
      if (matchName(pattern, name)) names.push_back(std::move(name));
    }
    d.reset();
    std::sort(names.begin(), names.end(), nameLess);

    state = std::make_unique<FindState>();
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
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  if (state->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *lpFindFileData = state->entries[0];
  state->next = 1;
  try {
    std::lock_guard<std::mutex> lock(g_findLock);
    openSearches().insert(state.get());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return static_cast<HANDLE>(state.release());
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
  return posix::OrOutOfMemory<BOOL>(FALSE, [&] {
    const std::string source = NativePath(lpExistingFileName);
    const std::string target = NativePath(lpNewFileName);

    // Only a regular file is opened: a FIFO would wait for a writer and a
    // device would never end.
    UniqueFd in = posix::OpenFile(source, O_RDONLY);
    if (!in) {
      refineMissing(source);
      return FALSE;
    }
    struct stat st;
    if (::fstat(in.get(), &st) != 0) {
      SetLastErrorFromErrno(errno, "fstat", source.c_str());
      return FALSE;
    }
    struct stat tst;
    if (::stat(target.c_str(), &tst) == 0) {
      if (bFailIfExists) {
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
      }
      // The file cannot stand in for itself: the copy would replace the
      // only version there is.
      if (tst.st_dev == st.st_dev && tst.st_ino == st.st_ino) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
      }
      // A read-only file is not replaced, as on Windows.
      if (S_ISREG(tst.st_mode) && (tst.st_mode & S_IWUSR) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
      }
    }
    // Written beside the target and moved into place; not committed, as
    // on Windows. With bFailIfExists a target made meanwhile is kept.
    posix::Placement how;
    how.replace = !bFailIfExists;
    how.followLinks = false;
    how.durable = false;
    how.createMode = 0600;
    how.keepMode = false;
    auto fill = [&](int out, const std::string& name) {
      if (!copyContent(in.get(), out, source, name)) return false;
      if (::fchmod(out, st.st_mode & 07777) != 0) {
        SetLastErrorFromErrno(errno, "fchmod", name.c_str());
        return false;
      }
      // The copy keeps the source's times of last access and last write.
      const struct timespec times[2] = {st.st_atim, st.st_mtim};
      if (::futimens(out, times) != 0) {
        SetLastErrorFromErrno(errno, "futimens", name.c_str());
        return false;
      }
      return true;
    };
    DWORD commitError;
    if (!posix::PutFileInPlace(target, how, fill, nullptr, &commitError)) {
      refineMissing(target);
      return FALSE;
    }
    return TRUE;
  });
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  const DWORD known = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
  if (!validName(lpExistingFileName) || !validName(lpNewFileName) || (dwFlags & ~known) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return posix::OrOutOfMemory<BOOL>(FALSE, [&] {
    const std::string source = NativePath(lpExistingFileName);
    const std::string target = NativePath(lpNewFileName);
    struct stat sst;
    if (::lstat(source.c_str(), &sst) != 0) {
      setLastErrorForPath(errno, "lstat", source);
      return FALSE;
    }
    const bool writeThrough = (dwFlags & MOVEFILE_WRITE_THROUGH) != 0;
    // The content must reach the disk before the new name does, or a crash
    // could leave the new name on an empty file.
    if (writeThrough && S_ISREG(sst.st_mode) && !commitPath(source)) return FALSE;

    const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
    struct stat tst;
    if (replace && ::stat(target.c_str(), &tst) == 0 && S_ISDIR(tst.st_mode) != S_ISDIR(sst.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (!posix::MoveEntry(source, target, replace)) {
      const DWORD error = GetLastError();
      if (error == ERROR_ALREADY_EXISTS || error == ERROR_DIR_NOT_EMPTY) SetLastError(ERROR_ALREADY_EXISTS);
      else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) SetLastError(missingCode(target));
      else if (error == ERROR_DIRECTORY) SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (writeThrough) {
      const std::string sdir = DirName(source), tdir = DirName(target);
      if (!commitPath(tdir)) return FALSE;
      if (sdir != tdir && !commitPath(sdir)) return FALSE;
    }
    return TRUE;
  });
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  if (!validName(lpFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return posix::OrOutOfMemory<BOOL>(FALSE, [&] {
    const std::string path = NativePath(lpFileName);
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (::unlink(path.c_str()) != 0) {
      setLastErrorForPath(errno, "unlink", path);
      return FALSE;
    }
    return TRUE;
  });
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  if (!validName(lpFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  return posix::OrOutOfMemory<DWORD>(INVALID_FILE_ATTRIBUTES, [&] {
    std::string path = NativePath(lpFileName);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) {
      setLastErrorForPath(errno, "stat", path);
      return INVALID_FILE_ATTRIBUTES;
    }
    return attributesOf(posix::BaseName(path), st);
  });
}

}  // extern "C"

namespace sundry::platform {

BOOL CopyFileAccess(LPCSTR lpModelFileName, LPCSTR lpFileName, DWORD dwModeWithoutModel) {
  if (!validName(lpModelFileName) || !validName(lpFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return posix::OrOutOfMemory<BOOL>(FALSE, [&] {
    struct stat model;
    const int found = statModel(NativePath(lpModelFileName), &model);
    if (found < 0) return FALSE;
    const std::string path = NativePath(lpFileName);
    UniqueFd fd = openRegular(path, O_RDONLY);
    if (!fd) return FALSE;
    if (found == 1) return giveAccess(fd.get(), model, path) ? TRUE : FALSE;
    if (::fchmod(fd.get(), static_cast<mode_t>(dwModeWithoutModel & 07777)) != 0) {
      SetLastErrorFromErrno(errno, "fchmod", path.c_str());
      return FALSE;
    }
    return TRUE;
  });
}

namespace {

BOOL replaceFileKeepingAccess(LPCSTR lpExistingFileName, LPCSTR lpTargetFileName) {
  const std::string source = NativePath(lpExistingFileName);
  std::string target;
  if (!followLinks(NativePath(lpTargetFileName), &target)) return FALSE;
  struct stat old;
  const int exists = statModel(target, &old);
  if (exists < 0) return FALSE;

  // The new content gets the old file's access before it gets its name.
  UniqueFd in = openRegular(source, O_RDONLY);
  if (!in) return FALSE;
  struct stat own;
  if (::fstat(in.get(), &own) != 0) {
    SetLastErrorFromErrno(errno, "fstat", source.c_str());
    return FALSE;
  }
  if (exists == 1) {
    if (!giveAccess(in.get(), old, source)) return FALSE;
    own = old;
  }
  // The content must reach the disk before the new name does (a file
  // system that cannot commit a file answers "invalid": nothing to do).
  if (!posix::SyncFile(in.get(), false, source) && GetLastError() != ERROR_INVALID_PARAMETER) return FALSE;

  const std::string sourceDir = DirName(source), targetDir = DirName(target);
  if (posix::MoveEntry(source, target, true)) {
    in.reset();
    if (!commitPath(targetDir)) return FALSE;
  } else if (GetLastError() != ERROR_NOT_SAME_DEVICE) {
    refineMissing(target);
    return FALSE;
  } else {
    // Another file system: a copy beside the target takes its place, with
    // the access the content has by now.
    posix::Placement how;
    how.followLinks = false;
    how.createMode = 0600;
    how.keepMode = false;
    auto fill = [&](int out, const std::string& name) {
      return copyBytes(in.get(), out, source, name) && giveAccess(out, own, name);
    };
    DWORD commitError;
    if (!posix::PutFileInPlace(target, how, fill, nullptr, &commitError)) {
      refineMissing(target);
      return FALSE;
    }
    in.reset();
    ::unlink(source.c_str());
    if (commitError != ERROR_SUCCESS) {
      SetLastError(commitError);
      return FALSE;
    }
  }
  if (sourceDir != targetDir && !commitPath(sourceDir)) return FALSE;
  return TRUE;
}

}  // namespace

BOOL ReplaceFileKeepingAccess(LPCSTR lpExistingFileName, LPCSTR lpTargetFileName) {
  if (!validName(lpExistingFileName) || !validName(lpTargetFileName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return posix::OrOutOfMemory<BOOL>(FALSE, [&] {
    return replaceFileKeepingAccess(lpExistingFileName, lpTargetFileName);
  });
}

}  // namespace sundry::platform

namespace sundry::platform {

BOOL GetFileInformationByPathA(LPCSTR lpFileName, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  if (!validName(lpFileName) || lpFileInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return posix::OrOutOfMemory<BOOL>(FALSE, [&] {
    const std::string path = NativePath(lpFileName);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      setLastErrorForPath(errno, "stat", path);
      return FALSE;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    info.dwFileAttributes = attributesOf(posix::BaseName(path), st);
    info.ftCreationTime = toFileTime(st.st_ctim);
    info.ftLastAccessTime = toFileTime(st.st_atim);
    info.ftLastWriteTime = toFileTime(st.st_mtim);
    const unsigned long long dev = static_cast<unsigned long long>(st.st_dev);
    info.dwVolumeSerialNumber = static_cast<DWORD>(dev ^ (dev >> 32));
    const unsigned long long size = S_ISDIR(st.st_mode) ? 0 : static_cast<unsigned long long>(st.st_size);
    info.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    info.nFileSizeLow = static_cast<DWORD>(size);
    info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    const unsigned long long ino = static_cast<unsigned long long>(st.st_ino);
    info.nFileIndexHigh = static_cast<DWORD>(ino >> 32);
    info.nFileIndexLow = static_cast<DWORD>(ino);
    *lpFileInformation = info;
    return TRUE;
  });
}

}  // namespace sundry::platform
