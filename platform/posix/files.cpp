// File and path helpers at the level of errno.

#include "platform/posix/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace sundry::platform::posix {

int StatRegularFile(const std::string& path, struct stat* st, Links links) {
  const int rc = links == Links::Refuse ? ::lstat(path.c_str(), st) : ::stat(path.c_str(), st);
  if (rc != 0) return errno == ENOENT ? 0 : -1;
  if (S_ISREG(st->st_mode)) return 1;
  errno = S_ISDIR(st->st_mode) ? EISDIR : S_ISLNK(st->st_mode) ? ELOOP : ENODEV;
  return -1;
}

UniqueFd OpenRegularFile(const std::string& path, int flags, unsigned mode, Links links) {
  // Turned away before the open where possible: opening a FIFO waits for
  // its other end, and opening a device may act on it. Any other failure
  // of the look is left for the open to report.
  struct stat st;
  if (StatRegularFile(path, &st, links) < 0 && (errno == EISDIR || errno == ENODEV || errno == ELOOP))
    return UniqueFd();
  // O_NONBLOCK keeps a FIFO put at path after the look from holding the
  // open up; it is cleared once the descriptor is known to be a file's.
  const bool wantNonBlock = (flags & O_NONBLOCK) != 0;
  const int extra = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0);
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), flags | extra, static_cast<mode_t>(mode)); }));
  if (!fd) return fd;
  if (::fstat(fd.get(), &st) != 0) return UniqueFd();
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    return UniqueFd();
  }
  if (!wantNonBlock) {
    const int fl = ::fcntl(fd.get(), F_GETFL);
    if (fl < 0 || ::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0) return UniqueFd();
  }
  return fd;
}

ssize_t ReadFull(int fd, void* buffer, size_t size, uint64_t offset) {
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t n =
        RetryOnEintr([&] { return ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done)); });
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool ReadToEnd(int fd, std::string* out, size_t limit) {
  constexpr size_t kChunk = 16 * 1024;
  try {
    while (out->size() < limit) {
      const size_t have = out->size();
      const size_t want = std::min(kChunk, limit - have);
      out->resize(have + want);
      const ssize_t n = RetryOnEintr([&] { return ::read(fd, &(*out)[have], want); });
      out->resize(have + (n > 0 ? static_cast<size_t>(n) : 0));
      if (n < 0) return false;
      if (n == 0) break;
    }
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
  return true;
}

bool CopyToEnd(int in, int out) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = RetryOnEintr([&] { return ::read(in, buffer, sizeof buffer); });
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = RetryOnEintr([&] { return ::write(out, buffer + done, static_cast<size_t>(n - done)); });
      if (w < 0) return false;
      done += w;
    }
  }
}

bool SyncPath(const std::string& path) {
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
  if (!fd) return false;
  // File systems that cannot sync a directory report EINVAL: there is
  // nothing to commit then.
  return RetryOnEintr([&] { return ::fsync(fd.get()); }) == 0 || errno == EINVAL;
}

bool ReadSmallFile(const std::string& path, std::string* out, size_t limit) {
  out->clear();
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); }));
  if (!fd) return false;
  if (!ReadToEnd(fd.get(), out, limit)) {
    const int err = errno;
    out->clear();
    errno = err;
    return false;
  }
  return true;
}

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MakeDirectories(const std::string& path, unsigned mode) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
  }
  if (::stat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

std::string NativePath(const char* path) {
  std::string s = path != nullptr ? path : "";
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

}  // namespace sundry::platform::posix
