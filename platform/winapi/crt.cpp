// The Windows run-time's _mkdir, _chmod, rename and remove over POSIX.

#include "platform/posix/error.h"
#include "platform/posix/fileio.h"
#include "platform/posix/files.h"

#include <sundry/platform/crt.h>
#include <sundry/platform/error.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

namespace posix = sundry::platform::posix;

// Fails with errno err as the Windows run-time reports it: a refusal of any
// kind (EPERM, EROFS, ...) is EACCES there.
int fail(int err, const char* operation, const std::string& path) {
  posix::SetLastErrorFromErrno(err, operation, path.c_str());
  errno = (err == ENOENT || err == ENOTDIR) ? ENOENT : err == EEXIST ? EEXIST : err == ENOMEM ? ENOMEM : EACCES;
  return -1;
}

int invalid() {
  SetLastError(ERROR_INVALID_PARAMETER);
  errno = EINVAL;
  return -1;
}

template <class F>
int guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    errno = ENOMEM;
    return -1;
  }
}

}  // namespace

extern "C" {

int _mkdir(const char* dirname) {
  if (dirname == nullptr || *dirname == '\0') return invalid();
  return guarded([&] {
    const std::string path = posix::NativePath(dirname);
    if (::mkdir(path.c_str(), 0777) != 0) {
      const int err = errno;
      if (err != EEXIST) return fail(err, "mkdir", path);
      SetLastError(ERROR_ALREADY_EXISTS);
      errno = EEXIST;
      return -1;
    }
    return 0;
  });
}

int _chmod(const char* filename, int pmode) {
  if (filename == nullptr || *filename == '\0') return invalid();
  return guarded([&] {
    const std::string path = posix::NativePath(filename);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return fail(errno, "stat", path);
    mode_t mode = st.st_mode & 07777;
    if ((pmode & _S_IWRITE) != 0) mode |= S_IRUSR | S_IWUSR;
    else mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    if (::chmod(path.c_str(), mode) != 0) return fail(errno, "chmod", path);
    return 0;
  });
}

}  // extern "C"

namespace sundry::platform::crt {

int rename(const char* oldname, const char* newname) {
  if (oldname == nullptr || newname == nullptr || *oldname == '\0' || *newname == '\0') return invalid();
  return guarded([&] {
    const std::string from = posix::NativePath(oldname), to = posix::NativePath(newname);
    if (posix::MoveEntry(from, to, false)) return 0;
    const DWORD error = GetLastError();
    errno = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? ENOENT
            : error == ERROR_NOT_ENOUGH_MEMORY                               ? ENOMEM
                                                                             : EACCES;
    return -1;
  });
}

int remove(const char* filename) {
  if (filename == nullptr || *filename == '\0') return invalid();
  return guarded([&] {
    const std::string path = posix::NativePath(filename);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return fail(errno, "lstat", path);
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)) {
      SetLastError(ERROR_ACCESS_DENIED);
      errno = EACCES;
      return -1;
    }
    if (::unlink(path.c_str()) != 0) return fail(errno, "unlink", path);
    return 0;
  });
}

}  // namespace sundry::platform::crt
