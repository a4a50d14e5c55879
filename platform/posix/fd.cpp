// Owned descriptors.

#include "platform/posix/fd.h"

#include <unistd.h>

namespace sundry::platform::posix {

void UniqueFd::reset(int fd) {
  if (m_fd >= 0) {
    const int saved = errno;
    ::close(m_fd);
    errno = saved;
  }
  m_fd = fd;
}

int UniqueFd::close() {
  if (m_fd < 0) return 0;
  return ::close(std::exchange(m_fd, -1));
}

}  // namespace sundry::platform::posix
