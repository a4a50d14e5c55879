// File work in Win32 terms: opening, reading, writing, committing, moving,
// and the durable placement of a new file.

#include "platform/posix/fileio.h"

#include "platform/posix/error.h"
#include "platform/posix/fault.h"

#include <sundry/platform/error.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace sundry::platform::posix {

UniqueFd OpenFile(const std::string& path, int flags, unsigned mode, Links links) {
  if (InjectedFault(FileOperation::Open)) return UniqueFd();
  UniqueFd fd = OpenRegularFile(path, flags, mode, links);
  if (!fd) {
    const int err = errno;
    // Windows refuses to open a directory as a file with "access denied";
    // devices, FIFOs, sockets and refused links get the same answer.
    if (err == EISDIR || err == ENODEV || (err == ELOOP && links == Links::Refuse))
      SetLastError(ERROR_ACCESS_DENIED);
    else
      SetLastErrorFromErrno(err, "open", path.c_str());
  }
  return fd;
}

ssize_t ReadAt(int fd, void* buffer, size_t size, uint64_t offset, const std::string& path) {
  if (InjectedFault(FileOperation::Read)) return -1;
  const ssize_t n = RetryOnEintr([&] { return ::pread(fd, buffer, size, static_cast<off_t>(offset)); });
  if (n < 0) SetLastErrorFromErrno(errno, "read", path.c_str());
  return n;
}

size_t WriteAll(int fd, const void* data, size_t size, int64_t offset, const std::string& path) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (done < size) {
    if (InjectedFault(FileOperation::Write)) return done;
    const ssize_t n = RetryOnEintr([&] {
      return offset < 0 ? ::write(fd, bytes + done, size - done)
                        : ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    });
    if (n < 0) {
      SetLastErrorFromErrno(errno, "write", path.c_str());
      return done;
    }
    if (n == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return done;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

bool SyncFile(int fd, bool dataOnly, const std::string& path) {
  if (InjectedFault(FileOperation::Sync)) return false;
  if (RetryOnEintr([&] { return dataOnly ? ::fdatasync(fd) : ::fsync(fd); }) != 0) {
    SetLastErrorFromErrno(errno, dataOnly ? "fdatasync" : "fsync", path.c_str());
    return false;
  }
  return true;
}

bool SyncDirectory(const std::string& dir) {
  if (InjectedFault(FileOperation::Sync)) return false;
  if (!SyncPath(dir)) {
    SetLastErrorFromErrno(errno, "fsync", dir.c_str());
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  out->clear();
  UniqueFd fd = OpenFile(path, O_RDONLY);
  if (!fd) return false;
  if (InjectedFault(FileOperation::Read)) return false;
  if (!ReadToEnd(fd.get(), out)) {
    const int err = errno;
    out->clear();
    SetLastErrorFromErrno(err, "read", path.c_str());
    return false;
  }
  return true;
}

bool MoveEntry(const std::string& from, const std::string& to, bool replace) {
  if (InjectedFault(FileOperation::Rename)) return false;
  int rc;
  if (replace) {
    rc = ::rename(from.c_str(), to.c_str());
  } else {
    rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      // A file system without the no-replace rename: a hard link fails the
      // same way when the name is taken; a directory cannot be linked and
      // is moved after a look.
      struct stat st;
      if (::lstat(from.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (::lstat(to.c_str(), &st) == 0) {
          errno = EEXIST;
          rc = -1;
        } else {
          rc = ::rename(from.c_str(), to.c_str());
        }
      } else {
        rc = ::link(from.c_str(), to.c_str());
        if (rc == 0) ::unlink(from.c_str());
      }
    }
  }
  if (rc != 0) {
    SetLastErrorFromErrno(errno, "rename", (from + " -> " + to).c_str());
    return false;
  }
  return true;
}

namespace {

// Files beside: the new file that PutFileInPlace writes next to its target
// before moving it into place is named
//   .~sundry-<16 hex digits: hash of the target's name>-<pid>-<counter>.tmp
// so that the leftovers of one target, and the process that made each, can
// be told apart; the name is short whatever the length of the target's.
const char kBesidePrefix[] = ".~sundry-";
const char kBesideSuffix[] = ".tmp";

// "<prefix><hash>-": the part of the name shared by every file beside one
// target (FNV-1a over the target's file name).
std::string besideStem(const std::string& target) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : BaseName(target)) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(kBesidePrefix) + hex + "-";
}

// The file that path stands for: the target of a symbolic link at path
// (a link pointing nowhere stands for itself), else path.
std::string resolveTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string target = real;
      std::free(real);
      return target;
    }
  }
  return path;
}

// Whether a file may be put at target: nothing is there, or a regular file
// (a link to one included). Sets *exists and, when it exists, *st. A look
// that fails for another reason counts as nothing there: making the file
// beside then reports it.
bool replaceableTarget(const std::string& target, bool* exists, struct stat* st) {
  const int found = StatRegularFile(target, st);
  *exists = found == 1;
  if (found < 0 && (errno == EISDIR || errno == ENODEV)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

}  // namespace

bool PutFileInPlace(const std::string& path, const Placement& how, FillFile fill, UniqueFd* keep,
                    DWORD* commitError) {
  *commitError = ERROR_SUCCESS;
  if (path.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::string target = how.followLinks ? resolveTarget(path) : path;
  struct stat st;
  bool exists;
  if (!replaceableTarget(target, &exists, &st)) return false;
  if (exists && !how.replace) {
    SetLastError(ERROR_FILE_EXISTS);
    return false;
  }
  const std::string dir = DirName(target);

  // The file beside: a name of its own in the same directory, so that the
  // move stays on one file system.
  static std::atomic<unsigned> counter{0};
  const std::string stem = dir + "/" + besideStem(target) + std::to_string(::getpid()) + "-";
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
    temp = stem + std::to_string(counter++) + kBesideSuffix;
    if (InjectedFault(FileOperation::Open)) return false;
    fd.reset(RetryOnEintr([&] {
      return ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(how.createMode));
    }));
    if (!fd && errno != EEXIST) {
      SetLastErrorFromErrno(errno, "open", temp.c_str());
      return false;
    }
  }
  if (!fd) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }

  // On failure before the move: keep the first error, remove the file
  // beside, leave path as it was.
  auto abandon = [&](DWORD error) {
    fd.reset();
    ::unlink(temp.c_str());
    SetLastError(error);
    return false;
  };
  // Only the permission bits are taken over: set-user-ID and set-group-ID
  // bits have no place on a file this process now owns.
  if (exists && how.keepMode && ::fchmod(fd.get(), st.st_mode & 0777) != 0)
    return abandon(SetLastErrorFromErrno(errno, "fchmod", temp.c_str()));
  if (!fill(fd.get(), temp)) return abandon(GetLastError());
  if (how.durable && !SyncFile(fd.get(), false, temp)) return abandon(GetLastError());
  if (keep == nullptr && fd.close() != 0) return abandon(SetLastErrorFromErrno(errno, "close", temp.c_str()));
  if (how.replace) {
    // Looked at again just before the move, in case something other than
    // a file has been put at target since.
    if (!replaceableTarget(target, &exists, &st)) return abandon(GetLastError());
    if (!MoveEntry(temp, target, true)) return abandon(GetLastError());
  } else if (!MoveEntry(temp, target, false)) {
    const DWORD error = GetLastError();
    return abandon(error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error);
  }
  if (how.durable && !SyncDirectory(dir)) *commitError = GetLastError();
  if (keep != nullptr) *keep = std::move(fd);
  return true;
}

DWORD RemoveAbandonedReplacements(const std::string& path) {
  if (path.empty()) return 0;
  const DWORD savedError = GetLastError();
  const std::string target = resolveTarget(path);
  const std::string stem = besideStem(target);
  DWORD removed = 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(DirName(target).c_str()), &::closedir);
  while (dir) {
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    // <stem><pid>-<counter>.tmp, nothing else.
    const char* name = entry->d_name;
    if (std::strncmp(name, stem.c_str(), stem.size()) != 0) continue;
    char* end;
    errno = 0;
    const long pid = std::strtol(name + stem.size(), &end, 10);
    if (errno != 0 || pid <= 0 || end == name + stem.size() || *end != '-') continue;
    const char* count = end + 1;
    std::strtoul(count, &end, 10);
    if (end == count || std::strcmp(end, kBesideSuffix) != 0) continue;
    // A process that no longer exists; one that runs (or that this process
    // may not signal) may still be writing it.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    if (::unlinkat(::dirfd(dir.get()), name, 0) == 0) ++removed;
  }
  SetLastError(savedError);
  return removed;
}

}  // namespace sundry::platform::posix
