// Pseudo-terminals for the modem simulator.

#include "platform/posix/pty.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sundry::platform::posix {

bool OpenPty(Pty& pty) {
  UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master) return false;
  if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) return false;
  char name[PATH_MAX];
  if (ptsname_r(master.get(), name, sizeof name) != 0) return false;
  UniqueFd slave(RetryOnEintr([&] { return ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK); }));
  if (!slave) return false;
  termios t{};
  if (tcgetattr(slave.get(), &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(slave.get(), TCSANOW, &t) != 0) return false;
  const int flags = fcntl(master.get(), F_GETFL);
  if (flags < 0 || fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0) return false;
  pty.master = std::move(master);
  pty.keepOpen = std::move(slave);
  pty.path = name;
  return true;
}

bool OpenWakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  readEnd.reset(fds[0]);
  writeEnd.reset(fds[1]);
  return true;
}

void Wake(int writeEnd) {
  const char one = 1;
  (void)RetryOnEintr([&] { return ::write(writeEnd, &one, 1); });
}

int WaitForInput(int fd, int wakeFd, int timeoutMs) {
  pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  const int n = RetryOnEintr([&] { return ::poll(p, wakeFd >= 0 ? 2 : 1, timeoutMs); });
  if (n < 0) return -1;
  if (n == 0) return 0;
  if (p[0].revents != 0) return 1;
  char drain[64];
  while (::read(wakeFd, drain, sizeof drain) > 0) {
  }
  return 2;
}

long ReadAvailable(int fd, void* buffer, size_t size) {
  const ssize_t n = RetryOnEintr([&] { return ::read(fd, buffer, size); });
  if (n > 0) return static_cast<long>(n);
  if (n == 0 && size > 0) {
    errno = EIO;
    return -1;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return n < 0 ? -1 : 0;
}

long WriteSome(int fd, const void* data, size_t size) {
  const ssize_t n = RetryOnEintr([&] { return ::write(fd, data, size); });
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
}

int WaitForOutput(int fd, int timeoutMs) {
  pollfd p{fd, POLLOUT, 0};
  const int n = RetryOnEintr([&] { return ::poll(&p, 1, timeoutMs); });
  return n < 0 ? -1 : (n == 0 ? 0 : 1);
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = RetryOnEintr([&] { return ::write(fd, p, size); });
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd out{fd, POLLOUT, 0};
    if (RetryOnEintr([&] { return ::poll(&out, 1, -1); }) < 0) return false;
    if ((out.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (out.revents & POLLOUT) == 0) {
      errno = EIO;
      return false;
    }
  }
  return true;
}

bool ReplaceSymlink(const std::string& linkPath, const std::string& target) {
  struct stat st;
  if (::lstat(linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      errno = EEXIST;
      return false;
    }
    if (::unlink(linkPath.c_str()) != 0 && errno != ENOENT) return false;
  }
  return ::symlink(target.c_str(), linkPath.c_str()) == 0;
}

void RemoveSymlinkTo(const std::string& linkPath, const std::string& target) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(linkPath.c_str(), buf, sizeof buf);
  if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target) ::unlink(linkPath.c_str());
}

}  // namespace sundry::platform::posix
