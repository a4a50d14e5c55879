// Small file and path helpers.

#include "platform/posix/files.h"

#include "platform/posix/fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sundry::platform::posix {

UniqueFd OpenRegularFile(const std::string& path, int flags, unsigned mode) {
  const bool wantNonBlock = (flags & O_NONBLOCK) != 0;
  UniqueFd fd(RetryOnEintr(
      [&] { return ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, static_cast<mode_t>(mode)); }));
  if (!fd) return fd;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return UniqueFd();
  if (!S_ISREG(st.st_mode)) {
    fd.reset();
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    return fd;
  }
  if (!wantNonBlock) {
    const int fl = ::fcntl(fd.get(), F_GETFL);
    if (fl < 0 || ::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0) return UniqueFd();
  }
  return fd;
}

bool ReadSmallFile(const std::string& path, std::string* out, size_t limit) {
  out->clear();
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); }));
  if (!fd) return false;
  char buf[4096];
  while (out->size() < limit) {
    const ssize_t n = RetryOnEintr([&] { return ::read(fd.get(), buf, sizeof buf); });
    if (n < 0) {
      const int err = errno;
      out->clear();
      errno = err;
      return false;
    }
    if (n == 0) break;
    out->append(buf, std::min(static_cast<size_t>(n), limit - out->size()));
  }
  return true;
}

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool MakeDirectories(const std::string& path, unsigned mode) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

}  // namespace sundry::platform::posix
