// Line speeds through the kernel's termios2 record.

#include "platform/posix/linespeed.h"

#include "platform/posix/fd.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace sundry::platform::posix {

bool GetLineSpeed(int fd, unsigned* rate) {
  struct termios2 t {};
  if (RetryOnEintr([&] { return ioctl(fd, TCGETS2, &t); }) != 0) return false;
  *rate = t.c_ospeed;
  return true;
}

bool SetLineSpeed(int fd, unsigned rate) {
  if (rate == 0) {
    errno = EINVAL;  // speed 0 would hang the line up
    return false;
  }
  struct termios2 t {};
  if (RetryOnEintr([&] { return ioctl(fd, TCGETS2, &t); }) != 0) return false;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ospeed = rate;
  t.c_ispeed = rate;
  return RetryOnEintr([&] { return ioctl(fd, TCSETS2, &t); }) == 0;
}

}  // namespace sundry::platform::posix
