#pragma once
// Where the stand-ins find the system's own files: sysfs, procfs, /etc,
// /run and /var are read below one configurable root, so that a test can
// point every reader at a small tree of its own.
//
//   SUNDRY_SYSTEM_ROOT  prefixed to every system path ("/proc/stat" becomes
//                       "$SUNDRY_SYSTEM_ROOT/proc/stat"); unset or empty,
//                       the real root
//   SUNDRY_SYSFS_ROOT   where "/sys" lies, when set and not empty; it wins
//                       over SUNDRY_SYSTEM_ROOT for sysfs paths
//
// The variables are read on every call (they are cheap to read and tests
// change them).

#include <string>

namespace sundry::platform::posix {

// The path at which the system path absolute ("/proc/meminfo", "/sys/...",
// "/etc/hosts") is to be read.
std::string SystemPath(const std::string& absolute);

// The system root itself: "" for the real root, else the configured one
// (without a trailing "/").
std::string SystemRoot();

}  // namespace sundry::platform::posix
