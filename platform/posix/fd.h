#pragma once
// Owned file descriptors and the retry of system calls that a signal
// interrupted. Every POSIX stand-in uses these instead of bare close() and
// hand-written EINTR loops, so a descriptor is released on every path.

#include <cerrno>
#include <utility>

namespace sundry::platform::posix {

// Calls call() again while it fails with EINTR; returns its last result.
// For calls that report failure as -1 (or a negative count) and errno.
template <class F>
auto RetryOnEintr(F&& call) -> decltype(call()) {
  decltype(call()) rc;
  do rc = call();
  while (rc < 0 && errno == EINTR);
  return rc;
}

// A descriptor closed when the object goes. close() is not retried on
// EINTR: Linux releases the descriptor whatever close() answers. errno is
// kept across the close, so a failure can be reported after the descriptor
// is gone.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  int release() { return std::exchange(m_fd, -1); }

  // Closes the descriptor held (if any) and takes fd.
  void reset(int fd = -1);

  // Closes the descriptor now and returns what close() answered: 0, or -1
  // with errno, for a caller that must know whether the last writes
  // reached the file. The object holds no descriptor afterwards.
  int close();

 private:
  int m_fd = -1;
};

}  // namespace sundry::platform::posix
