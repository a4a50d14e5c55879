// The library's own system-information helpers over the Windows registry:
// firmware and processor facts from the hardware hive, the DNS suffix
// search list from the TCP/IP parameters.

#include <sundry/platform/sysinfo.h>

#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

namespace sundry::platform {

namespace {

bool ReadString(HKEY root, const char* path, const char* name, std::string* out) {
  HKEY key;
  if (::RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  LONG rc = ::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  bool ok = false;
  if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::string value(size, '\0');
    rc = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    if (rc == ERROR_SUCCESS) {
      value.resize(size);
      while (!value.empty() && value.back() == '\0') value.pop_back();
      *out = value;
      ok = true;
    }
  }
  ::RegCloseKey(key);
  return ok;
}

const char kTcpipParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

bool IsDnsName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (c <= 0x20 || c == 0x7f || c == '#' || c == ';' || c == ',') return false;
  return true;
}

}  // namespace

bool GetFirmwareInfo(FirmwareInfo* info) {
  if (info == nullptr) return false;
  *info = FirmwareInfo{};
  const char* bios = "HARDWARE\\DESCRIPTION\\System\\BIOS";
  bool any = ReadString(HKEY_LOCAL_MACHINE, bios, "BIOSVendor", &info->vendor);
  any |= ReadString(HKEY_LOCAL_MACHINE, bios, "BIOSVersion", &info->version);
  any |= ReadString(HKEY_LOCAL_MACHINE, bios, "BIOSReleaseDate", &info->date);
  return any;
}

bool GetProcessorInfo(ProcessorInfo* info) {
  if (info == nullptr) return false;
  *info = ProcessorInfo{};
  const char* cpu = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
  bool any = ReadString(HKEY_LOCAL_MACHINE, cpu, "ProcessorNameString", &info->name);
  any |= ReadString(HKEY_LOCAL_MACHINE, cpu, "Identifier", &info->identifier);
  return any;
}

// Windows names its default browser through the http handler of the
// registry, which callers read first; there is no second source here.
bool GetDefaultWebBrowser(BrowserInfo* info) {
  if (info != nullptr) *info = BrowserInfo{};
  return false;
}

bool LocalTime(time_t t, struct tm* out) { return out != nullptr && ::localtime_s(out, &t) == 0; }

// On Windows the search list is the "SearchList" value of the TCP/IP
// parameters: names separated by commas.
std::string ResolverConfPath() {
  return std::string("HKEY_LOCAL_MACHINE\\") + kTcpipParameters + "\\SearchList";
}

DWORD ReadResolverSearchList(std::vector<std::string>* suffixes) {
  if (suffixes == nullptr) return ERROR_INVALID_PARAMETER;
  suffixes->clear();
  std::string list;
  if (!ReadString(HKEY_LOCAL_MACHINE, kTcpipParameters, "SearchList", &list)) return ERROR_SUCCESS;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(", ", start);
    if (end == std::string::npos) end = list.size();
    if (end > start) suffixes->push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

DWORD WriteResolverSearchList(const std::vector<std::string>& suffixes, std::string* manager, std::string* command) {
  if (manager) manager->clear();
  if (command) command->clear();
  std::string list;
  for (const std::string& s : suffixes) {
    if (!IsDnsName(s)) return ERROR_INVALID_PARAMETER;
    if (!list.empty()) list += ',';
    list += s;
  }
  HKEY key;
  LONG rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTcpipParameters, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  rc = ::RegSetValueExA(key, "SearchList", 0, REG_SZ, reinterpret_cast<const BYTE*>(list.c_str()),
                        static_cast<DWORD>(list.size() + 1));
  ::RegCloseKey(key);
  return static_cast<DWORD>(rc);
}

}  // namespace sundry::platform
