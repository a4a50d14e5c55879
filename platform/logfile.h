#pragma once
// An append-only log file, the one file the debug log writes. Each platform
// backend provides it (platform/posix/logfile.cpp, platform/win/logfile.cpp).

#include <cstddef>
#include <memory>

namespace sundry::platform {

class LogFile {
 public:
  virtual ~LogFile() = default;
  // Appends the bytes; false when they could not all be written.
  virtual bool Append(const char* data, size_t size) = 0;
};

// Opens (creating it when missing, mode 0600 where modes exist) a regular
// file for appending. A path that names a FIFO, a device or a directory is
// refused, so a misdirected log never hangs or writes into a device.
// Null on failure.
std::unique_ptr<LogFile> OpenLogFile(const char* path);

}  // namespace sundry::platform
