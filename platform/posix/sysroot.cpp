#include "platform/posix/sysroot.h"

#include <cstdlib>

namespace sundry::platform::posix {

namespace {
std::string variable(const char* name) {
  const char* value = std::getenv(name);
  std::string text = value != nullptr ? value : "";
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text == "/" ? std::string() : text;
}
}  // namespace

std::string SystemRoot() { return variable("SUNDRY_SYSTEM_ROOT"); }

std::string SystemPath(const std::string& absolute) {
  if (absolute == "/sys" || absolute.compare(0, 5, "/sys/") == 0) {
    const std::string sysfs = variable("SUNDRY_SYSFS_ROOT");
    if (!sysfs.empty()) return sysfs + absolute.substr(4);
  }
  return SystemRoot() + absolute;
}

}  // namespace sundry::platform::posix
