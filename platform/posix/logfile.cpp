#include "platform/logfile.h"

#include "platform/posix/fd.h"
#include "platform/posix/files.h"

#include <fcntl.h>
#include <unistd.h>

namespace sundry::platform {
namespace {

class PosixLogFile : public LogFile {
 public:
  explicit PosixLogFile(posix::UniqueFd fd) : m_fd(std::move(fd)) {}
  bool Append(const char* p, size_t left) override {
    while (left > 0) {
      const ssize_t n = posix::RetryOnEintr([&] { return ::write(m_fd.get(), p, left); });
      if (n <= 0) return false;
      p += n;
      left -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  posix::UniqueFd m_fd;
};

}  // namespace

std::unique_ptr<LogFile> OpenLogFile(const char* path) {
  auto fd = posix::OpenRegularFile(path, O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (!fd) return nullptr;
  return std::make_unique<PosixLogFile>(std::move(fd));
}

}  // namespace sundry::platform
