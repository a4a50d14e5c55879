// System information from procfs, sysfs, /etc and the C library.

#include "platform/posix/error.h"
#include "platform/posix/files.h"
#include "platform/posix/sysroot.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/sysinfo.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <langinfo.h>
#include <locale.h>
#include <net/if.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

// The sizes Win32 callers pass in the size fields.
static_assert(sizeof(MEMORYSTATUSEX) == 64);
static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(sizeof(DISPLAY_DEVICEA) == 424);
static_assert(sizeof(TIME_ZONE_INFORMATION) == 172);

namespace {

using sundry::platform::posix::OrOutOfMemory;
using sundry::platform::posix::ReadSmallFile;
using sundry::platform::posix::SystemPath;

std::string trimmed(std::string s) {
  const char* ws = " \t\r\n";
  const size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// A system file's text; empty when it cannot be read.
std::string systemFile(const char* absolute, size_t limit = 1 << 20) {
  std::string text;
  if (!ReadSmallFile(SystemPath(absolute), &text, limit)) text.clear();
  return text;
}

bool attribute(const std::string& path, std::string* value) {
  if (!ReadSmallFile(path, value, 4096)) return false;
  *value = trimmed(*value);
  return true;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return out;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (true) {
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string::npos) break;
    size_t end = line.find_first_of(" \t", pos);
    if (end == std::string::npos) end = line.size();
    out.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

std::vector<std::string> directory(const std::string& path) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), &::closedir);
  if (!dir) return names;
  while (dirent* e = ::readdir(dir.get()))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  std::sort(names.begin(), names.end());
  return names;
}

// Stores text with its zero when it fits in size bytes; returns what the
// Win32 string getters return: the characters stored, or the size needed.
DWORD putString(const std::string& text, char* buffer, DWORD size) {
  if (buffer == nullptr || size < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

void copyCut(char* dest, size_t size, const std::string& text) {
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
}

// ---- memory -----------------------------------------------------------------

// Kilobyte values of /proc/meminfo by name.
std::map<std::string, ULONGLONG> meminfo(const std::string& text) {
  std::map<std::string, ULONGLONG> values;
  for (const std::string& line : lines(text)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    values[line.substr(0, colon)] = std::strtoull(line.c_str() + colon + 1, nullptr, 10);
  }
  return values;
}

// ---- mounts -----------------------------------------------------------------

struct Mount {
  std::string point;
  std::string type;
  unsigned major = 0, minor = 0;
};

// mountinfo writes blanks, tabs, line feeds and backslashes in octal.
std::string unescapeMount(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool readMounts(std::vector<Mount>* mounts) {
  std::string text;
  if (!ReadSmallFile(SystemPath("/proc/self/mountinfo"), &text, 64 << 20)) {
    sundry::platform::SetLastErrorFromErrno(errno, "read", "/proc/self/mountinfo");
    return false;
  }
  for (const std::string& line : lines(text)) {
    const std::vector<std::string> w = words(line);
    const auto dash = std::find(w.begin(), w.end(), "-");
    if (w.size() < 5 || dash == w.end() || dash + 1 == w.end()) continue;
    Mount m;
    std::sscanf(w[2].c_str(), "%u:%u", &m.major, &m.minor);
    m.point = unescapeMount(w[4]);
    m.type = *(dash + 1);
    mounts->push_back(m);
  }
  return true;
}

bool under(const std::string& path, const char* folder) {
  const size_t n = std::strlen(folder);
  return path.compare(0, n, folder) == 0 && (path.size() == n || path[n] == '/');
}

bool isNetworkType(const std::string& t) {
  static const char* const kTypes[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "ceph", "glusterfs",
                                       "afs", "davfs", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "ncpfs"};
  for (const char* k : kTypes)
    if (t == k) return true;
  return false;
}

bool isRamType(const std::string& t) { return t == "tmpfs" || t == "ramfs"; }

bool listedMount(const Mount& m) {
  if (under(m.point, "/proc") || under(m.point, "/sys") || under(m.point, "/dev") || under(m.point, "/run"))
    return false;
  return m.point == "/" || m.major != 0 || isRamType(m.type) || isNetworkType(m.type);
}

// The visible mount at each point (a later mount hides an earlier one).
std::vector<Mount> visibleMounts(const std::vector<Mount>& all) {
  std::vector<Mount> out;
  for (const Mount& m : all) {
    auto same = std::find_if(out.begin(), out.end(), [&](const Mount& o) { return o.point == m.point; });
    if (same != out.end()) *same = m;
    else out.push_back(m);
  }
  return out;
}

bool removableDisk(unsigned major, unsigned minor) {
  const std::string dev = SystemPath("/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
  std::string value;
  // A partition's flag is its disk's, one folder up.
  if (attribute(dev + "/removable", &value) || attribute(dev + "/../removable", &value)) return value == "1";
  return false;
}

// ---- network ----------------------------------------------------------------

struct Adapter {
  std::string name;
  std::string driver;
  unsigned index = 0;
  std::vector<unsigned char> mac;
  UINT type = MIB_IF_TYPE_OTHER;
  std::vector<std::pair<std::string, std::string>> addresses;  // address, mask
  std::vector<std::string> gateways;
  std::string dhcpServer;
  bool dhcp = false;
};

UINT adapterType(unsigned arp, bool wireless) {
  if (wireless) return IF_TYPE_IEEE80211;
  switch (arp) {
    case 1: return MIB_IF_TYPE_ETHERNET;    // ARPHRD_ETHER
    case 6: case 800: return MIB_IF_TYPE_TOKENRING;  // ARPHRD_IEEE802, ARPHRD_IEEE802_TR
    case 774: return MIB_IF_TYPE_FDDI;      // ARPHRD_FDDI
    case 512: return MIB_IF_TYPE_PPP;       // ARPHRD_PPP
    case 772: return MIB_IF_TYPE_LOOPBACK;  // ARPHRD_LOOPBACK
    case 256: case 257: case 258: case 259: return MIB_IF_TYPE_SLIP;  // ARPHRD_SLIP, CSLIP, SLIP6, CSLIP6
    case 801: case 802: case 803: return IF_TYPE_IEEE80211;           // ARPHRD_IEEE80211*
    case 32: return IF_TYPE_IB;             // ARPHRD_INFINIBAND
    case 24: return IF_TYPE_IEEE1394;       // ARPHRD_IEEE1394
    case 768: case 769: case 776: case 778: case 823: case 65534: return IF_TYPE_TUNNEL;  // tunnels, none
    default: return MIB_IF_TYPE_OTHER;
  }
}

std::vector<unsigned char> parseMac(const std::string& text) {
  std::vector<unsigned char> bytes;
  for (size_t pos = 0; pos < text.size();) {
    bytes.push_back(static_cast<unsigned char>(std::strtoul(text.substr(pos, 2).c_str(), nullptr, 16)));
    pos += 3;
  }
  return bytes;
}

std::string ipv4(const void* addr) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, addr, text, sizeof text);
  return text;
}

// Gateways by interface from /proc/net/route (addresses in hex, network
// byte order as the host stores it).
std::map<std::string, std::vector<std::string>> routeGateways() {
  std::map<std::string, std::vector<std::string>> gateways;
  const std::vector<std::string> rows = lines(systemFile("/proc/net/route"));
  for (size_t i = 1; i < rows.size(); ++i) {
    const std::vector<std::string> w = words(rows[i]);
    if (w.size() < 4) continue;
    const uint32_t gw = static_cast<uint32_t>(std::strtoul(w[2].c_str(), nullptr, 16));
    const unsigned flags = static_cast<unsigned>(std::strtoul(w[3].c_str(), nullptr, 16));
    if (gw == 0 || !(flags & 0x2)) continue;  // RTF_GATEWAY
    const std::string text = ipv4(&gw);
    auto& list = gateways[w[0]];
    if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
  }
  return gateways;
}

// The DHCP server of the interface's lease, if one is found.
bool dhcpLease(const Adapter& a, std::string* server) {
  // systemd-networkd (by index) and NetworkManager's internal client (by name).
  std::vector<std::string> keyed = {"/run/systemd/netif/leases/" + std::to_string(a.index)};
  for (const std::string& f : directory(SystemPath("/var/lib/NetworkManager")))
    if (f.size() > a.name.size() + 7 && f.compare(f.size() - a.name.size() - 6, std::string::npos, "-" + a.name + ".lease") == 0)
      keyed.push_back("/var/lib/NetworkManager/" + f);
  for (const std::string& file : keyed) {
    std::string text;
    if (!ReadSmallFile(SystemPath(file), &text)) continue;
    for (const std::string& line : lines(text))
      if (line.compare(0, 15, "SERVER_ADDRESS=") == 0) {
        *server = trimmed(line.substr(15));
        return true;
      }
  }
  // dhclient: the last lease block of the interface.
  bool found = false;
  for (const char* folder : {"/var/lib/dhcp", "/var/lib/dhclient"}) {
    for (const std::string& f : directory(SystemPath(folder))) {
      if (f.size() < 7 || f.compare(f.size() - 7, 7, ".leases") != 0) continue;
      std::string text;
      if (!ReadSmallFile(SystemPath(std::string(folder) + "/" + f), &text)) continue;
      bool mine = false;
      std::string blockServer;
      for (const std::string& raw : lines(text)) {
        const std::string line = trimmed(raw);
        if (line.compare(0, 5, "lease") == 0) mine = false, blockServer.clear();
        else if (line == "interface \"" + a.name + "\";") mine = true;
        else if (line.compare(0, 30, "option dhcp-server-identifier ") == 0)
          blockServer = trimmed(line.substr(30, line.find(';') - 30));
        else if (line == "}" && mine) {
          found = true;
          *server = blockServer;
        }
      }
    }
  }
  return found;
}

std::vector<Adapter> readAdapters() {
  std::vector<Adapter> adapters;
  const std::string classNet = SystemPath("/sys/class/net");
  std::vector<std::string> names = directory(classNet);
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) list = nullptr;
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, &::freeifaddrs);
  if (names.empty())
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next)
      if (std::find(names.begin(), names.end(), i->ifa_name) == names.end()) names.push_back(i->ifa_name);
  const auto gateways = routeGateways();
  for (const std::string& name : names) {
    Adapter a;
    a.name = name;
    const std::string dir = classNet + "/" + name;
    std::string value;
    if (attribute(dir + "/ifindex", &value)) a.index = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    else a.index = ::if_nametoindex(name.c_str());
    if (attribute(dir + "/address", &value)) a.mac = parseMac(value);
    if (attribute(dir + "/addr_len", &value)) a.mac.resize(std::min<size_t>(a.mac.size(), std::strtoul(value.c_str(), nullptr, 10)));
    struct stat st;
    const bool wireless = ::stat((dir + "/wireless").c_str(), &st) == 0 || ::stat((dir + "/phy80211").c_str(), &st) == 0;
    a.type = attribute(dir + "/type", &value) ? adapterType(static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10)), wireless)
                                              : MIB_IF_TYPE_OTHER;
    std::unique_ptr<char, void (*)(void*)> driver(::realpath((dir + "/device/driver").c_str(), nullptr), &std::free);
    if (driver) a.driver = sundry::platform::posix::BaseName(driver.get());
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || name != i->ifa_name) continue;
      const auto* addr = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
      const auto* mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask);
      a.addresses.emplace_back(ipv4(&addr->sin_addr), mask != nullptr ? ipv4(&mask->sin_addr) : "");
    }
    const auto gw = gateways.find(name);
    if (gw != gateways.end()) a.gateways = gw->second;
    a.dhcp = dhcpLease(a, &a.dhcpServer);
    adapters.push_back(std::move(a));
  }
  std::stable_sort(adapters.begin(), adapters.end(), [](const Adapter& x, const Adapter& y) { return x.index < y.index; });
  return adapters;
}

void fillAddr(IP_ADDR_STRING* entry, const std::string& address, const std::string& mask) {
  std::memset(entry, 0, sizeof *entry);
  copyCut(entry->IpAddress.String, sizeof entry->IpAddress.String, address);
  copyCut(entry->IpMask.String, sizeof entry->IpMask.String, mask);
}

// ---- host -------------------------------------------------------------------

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name) != 0) return std::string();
  name[sizeof name - 1] = '\0';
  return name;
}

std::string domainFromHosts(const std::string& host) {
  if (host.empty()) return std::string();
  for (const std::string& raw : lines(systemFile("/etc/hosts"))) {
    std::string line = raw.substr(0, raw.find('#'));
    std::vector<std::string> w = words(line);
    if (w.size() < 2) continue;
    const bool names = std::find(w.begin() + 1, w.end(), host) != w.end();
    for (size_t i = 1; names && i < w.size(); ++i)
      if (w[i].size() > host.size() + 1 && w[i].compare(0, host.size() + 1, host + ".") == 0)
        return w[i].substr(host.size() + 1);
  }
  return std::string();
}

std::vector<std::string> nameservers() {
  std::vector<std::string> servers;
  std::string text;
  if (!ReadSmallFile(sundry::platform::ResolverConfPath(), &text)) return servers;
  for (const std::string& line : lines(text)) {
    const std::vector<std::string> w = words(line);
    if (w.size() >= 2 && w[0] == "nameserver") servers.push_back(w[1]);
  }
  return servers;
}

// ---- display ----------------------------------------------------------------

struct Display {
  std::string name, description, sysfsDir;
  bool drm;
};

std::vector<Display> displays() {
  std::vector<Display> out;
  const std::string drm = SystemPath("/sys/class/drm");
  for (const std::string& n : directory(drm)) {
    const size_t dash = n.find('-');
    if (n.compare(0, 4, "card") != 0 || dash == std::string::npos) continue;
    std::string status;
    if (!attribute(drm + "/" + n + "/status", &status) || status != "connected") continue;
    Display d{n, n.substr(0, dash), drm + "/" + n, true};
    std::unique_ptr<char, void (*)(void*)> driver(::realpath((drm + "/" + n.substr(0, dash) + "/device/driver").c_str(), nullptr), &std::free);
    if (driver) d.description = sundry::platform::posix::BaseName(driver.get());
    out.push_back(d);
  }
  if (!out.empty()) return out;
  const std::string fb = SystemPath("/sys/class/graphics");
  for (const std::string& n : directory(fb)) {
    if (n.compare(0, 2, "fb") != 0) continue;
    Display d{n, n, fb + "/" + n, false};
    std::string name;
    if (attribute(fb + "/" + n + "/name", &name) && !name.empty()) d.description = name;
    out.push_back(d);
  }
  return out;
}

}  // namespace

extern "C" {

void GetSystemInfo(LPSYSTEM_INFO info) {
  if (info == nullptr) return;
  std::memset(info, 0, sizeof *info);
#if defined(__x86_64__)
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
#elif defined(__i386__)
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
#elif defined(__aarch64__)
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
#elif defined(__arm__)
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM;
#else
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
#endif
  const long page = ::sysconf(_SC_PAGESIZE);
  const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
  info->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
  info->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
  info->dwActiveProcessorMask = info->dwNumberOfProcessors >= sizeof(DWORD_PTR) * 8
                                    ? ~DWORD_PTR{0}
                                    : (DWORD_PTR{1} << info->dwNumberOfProcessors) - 1;
  info->dwAllocationGranularity = info->dwPageSize;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(info->dwPageSize));
  info->lpMaximumApplicationAddress =
      reinterpret_cast<LPVOID>(static_cast<uintptr_t>(sizeof(void*) == 8 ? (ULONGLONG{1} << 47) - 1 : 0xBFFFFFFFu));
}

BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX m) {
  return OrOutOfMemory<BOOL>(FALSE, [&]() -> BOOL {
    if (m == nullptr || m->dwLength != sizeof(MEMORYSTATUSEX)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::string text;
    if (!ReadSmallFile(SystemPath("/proc/meminfo"), &text)) {
      sundry::platform::SetLastErrorFromErrno(errno, "read", "/proc/meminfo");
      return FALSE;
    }
    auto v = meminfo(text);
    const ULONGLONG total = v["MemTotal"] << 10;
    const ULONGLONG avail = (v.count("MemAvailable") ? v["MemAvailable"] : v["MemFree"]) << 10;
    m->ullTotalPhys = total;
    m->ullAvailPhys = std::min(avail, total);
    m->dwMemoryLoad = total ? static_cast<DWORD>((total - m->ullAvailPhys) * 100 / total) : 0;
    m->ullTotalPageFile = v["SwapTotal"] << 10;
    m->ullAvailPageFile = v["SwapFree"] << 10;
    ULONGLONG space = sizeof(void*) == 8 ? ULONGLONG{1} << 47 : ULONGLONG{3} << 30;
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) space = std::min<ULONGLONG>(space, limit.rlim_cur);
    std::string status;
    ULONGLONG used = 0;
    if (ReadSmallFile("/proc/self/status", &status)) used = meminfo(status)["VmSize"] << 10;
    m->ullTotalVirtual = space;
    m->ullAvailVirtual = space > used ? space - used : 0;
    m->ullAvailExtendedVirtual = 0;
    return TRUE;
  });
}

BOOL GetVersionExA(LPOSVERSIONINFOA v) {
  return OrOutOfMemory<BOOL>(FALSE, [&]() -> BOOL {
    if (v == nullptr ||
        (v->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) && v->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const DWORD size = v->dwOSVersionInfoSize;
    std::memset(v, 0, size);
    v->dwOSVersionInfoSize = size;
    utsname u{};
    if (::uname(&u) != 0) {
      sundry::platform::SetLastErrorFromErrno(errno, "uname");
      return FALSE;
    }
    unsigned numbers[3] = {};
    std::sscanf(u.release, "%u.%u.%u", &numbers[0], &numbers[1], &numbers[2]);
    v->dwMajorVersion = numbers[0];
    v->dwMinorVersion = numbers[1];
    v->dwBuildNumber = numbers[2];
    v->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::string os = systemFile("/etc/os-release");
    if (os.empty()) os = systemFile("/usr/lib/os-release");
    for (const std::string& line : lines(os)) {
      if (line.compare(0, 12, "PRETTY_NAME=") != 0) continue;
      std::string value = trimmed(line.substr(12));
      if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
      copyCut(v->szCSDVersion, sizeof v->szCSDVersion, value);
    }
    return TRUE;
  });
}

ULONGLONG GetTickCount64(void) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::string stat;
  if (ReadSmallFile(SystemPath("/proc/stat"), &stat)) {
    const size_t at = stat.find("\nbtime ");
    if (at != std::string::npos) {
      const long long boot = std::strtoll(stat.c_str() + at + 7, nullptr, 10);
      const long long ms = (static_cast<long long>(now.tv_sec) - boot) * 1000 + now.tv_nsec / 1000000;
      if (boot > 0 && ms >= 0) return static_cast<ULONGLONG>(ms);
    }
  }
  timespec up{};
  ::clock_gettime(CLOCK_BOOTTIME, &up);
  return static_cast<ULONGLONG>(up.tv_sec) * 1000 + static_cast<ULONGLONG>(up.tv_nsec / 1000000);
}

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION tz) {
  if (tz == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  std::memset(tz, 0, sizeof *tz);
  const time_t now = std::time(nullptr);
  tm current{};
  if (::localtime_r(&now, &current) == nullptr) {
    sundry::platform::SetLastErrorFromErrno(errno, "localtime_r");
    return TIME_ZONE_ID_INVALID;
  }
  // The zone's standard and daylight names from the middle of winter and
  // of summer of this year (either half of the globe).
  tm standard = current, daylight{};
  bool hasDaylight = false;
  for (int month : {0, 6}) {
    tm probe{};
    probe.tm_year = current.tm_year;
    probe.tm_mon = month;
    probe.tm_mday = 1;
    probe.tm_hour = 12;
    probe.tm_isdst = -1;
    const time_t t = ::mktime(&probe);
    tm local{};
    if (t == static_cast<time_t>(-1) || ::localtime_r(&t, &local) == nullptr) continue;
    if (local.tm_isdst > 0) daylight = local, hasDaylight = true;
    else standard = local;
  }
  if (current.tm_isdst <= 0) standard = current;
  auto put = [](WCHAR* dest, const char* name) {
    const std::u16string wide = sundry::platform::WideFromAnsi(name != nullptr ? name : "");
    const size_t n = std::min<size_t>(wide.size(), 31);
    for (size_t i = 0; i < n; ++i) dest[i] = wide[i];
  };
  tz->Bias = static_cast<LONG>(-standard.tm_gmtoff / 60);
  put(tz->StandardName, standard.tm_zone);
  if (hasDaylight) {
    put(tz->DaylightName, daylight.tm_zone);
    tz->DaylightBias = static_cast<LONG>(-(daylight.tm_gmtoff - standard.tm_gmtoff) / 60);
  } else {
    put(tz->DaylightName, standard.tm_zone);
  }
  if (!hasDaylight) return TIME_ZONE_ID_UNKNOWN;
  return current.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) {
  if (locale != LOCALE_USER_DEFAULT || type != LOCALE_SENGCOUNTRY || size < 0 || (size > 0 && data == nullptr)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  std::string territory;
  locale_t loc = ::newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) loc = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (loc != static_cast<locale_t>(0)) {
    const char* name = ::nl_langinfo_l(_NL_IDENTIFICATION_TERRITORY, loc);
    territory = name != nullptr ? name : "";
    // The C locale's identification names the standard, not a country.
    if (territory == "ISO") territory.clear();
    ::freelocale(loc);
  }
  const int needed = static_cast<int>(territory.size() + 1);
  if (size == 0) return needed;
  if (size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(data, territory.c_str(), territory.size() + 1);
  return needed;
}

int GetSystemMetrics(int index) {
  if (index != SM_CLEANBOOT) return 0;
  for (const std::string& w : words(trimmed(systemFile("/proc/cmdline")))) {
    if (w == "--") break;  // the rest goes to init's own arguments
    if (w == "single" || w == "S" || w == "s" || w == "1" || w == "rescue" || w == "emergency" ||
        w == "systemd.unit=rescue.target" || w == "systemd.unit=emergency.target")
      return 1;
  }
  return 0;
}

BOOL GetUserNameA(LPSTR buffer, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return OrOutOfMemory<BOOL>(FALSE, [&]() -> BOOL {
    long max = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> scratch(max > 0 ? static_cast<size_t>(max) : 16384);
    passwd pw{}, *found = nullptr;
    int rc;
    while ((rc = ::getpwuid_r(::geteuid(), &pw, scratch.data(), scratch.size(), &found)) == ERANGE)
      scratch.resize(scratch.size() * 2);
    if (found == nullptr) {
      if (rc != 0) sundry::platform::SetLastErrorFromErrno(rc, "getpwuid_r");
      else SetLastError(ERROR_NOT_FOUND);
      return FALSE;
    }
    const std::string name = pw.pw_name;
    if (buffer == nullptr || *size < name.size() + 1) {
      *size = static_cast<DWORD>(name.size() + 1);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size() + 1);
    return TRUE;
  });
}

BOOL GetComputerNameA(LPSTR buffer, LPDWORD size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return OrOutOfMemory<BOOL>(FALSE, [&]() -> BOOL {
    const std::string name = hostName();
    if (buffer == nullptr || *size < name.size() + 1) {
      *size = static_cast<DWORD>(name.size() + 1);
      SetLastError(ERROR_BUFFER_OVERFLOW);
      return FALSE;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return TRUE;
  });
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  return OrOutOfMemory<DWORD>(0, [&]() -> DWORD {
    const char* env = std::getenv("TMPDIR");
    std::string path = env != nullptr && env[0] == '/' ? env : "/tmp";
    if (path.back() != '/') path += '/';
    return putString(path, buffer, size);
  });
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) { return putString("/usr", buffer, size); }
UINT GetSystemDirectoryA(LPSTR buffer, UINT size) { return putString("/usr/lib", buffer, size); }

DWORD GetLogicalDriveStringsA(DWORD size, LPSTR buffer) {
  return OrOutOfMemory<DWORD>(0, [&]() -> DWORD {
    std::vector<Mount> all;
    if (!readMounts(&all)) return 0;
    std::string list;
    for (const Mount& m : visibleMounts(all))
      if (listedMount(m)) list.append(m.point).push_back('\0');
    if (buffer == nullptr || size < list.size() + 1) return static_cast<DWORD>(list.size() + 1);
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return static_cast<DWORD>(list.size());
  });
}

UINT GetDriveTypeA(LPCSTR root) {
  return OrOutOfMemory<UINT>(DRIVE_UNKNOWN, [&]() -> UINT {
    std::vector<Mount> all;
    if (root == nullptr || !readMounts(&all)) return DRIVE_UNKNOWN;
    std::string point = root;
    while (point.size() > 1 && point.back() == '/') point.pop_back();
    const std::vector<Mount> visible = visibleMounts(all);
    auto m = std::find_if(visible.begin(), visible.end(), [&](const Mount& x) { return x.point == point; });
    if (m == visible.end()) return DRIVE_NO_ROOT_DIR;
    if (isRamType(m->type)) return DRIVE_RAMDISK;
    if (isNetworkType(m->type)) return DRIVE_REMOTE;
    if (m->type == "iso9660" || m->type == "udf") return DRIVE_CDROM;
    if (m->major != 0 && removableDisk(m->major, m->minor)) return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
  });
}

BOOL GetDiskFreeSpaceExA(LPCSTR directory, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free) {
  struct statvfs st{};
  if (directory == nullptr ||
      sundry::platform::posix::RetryOnEintr([&] { return ::statvfs(directory, &st); }) != 0) {
    sundry::platform::SetLastErrorFromErrno(directory == nullptr ? EINVAL : errno, "statvfs", directory);
    return FALSE;
  }
  const ULONGLONG unit = st.f_frsize ? st.f_frsize : st.f_bsize;
  if (available) available->QuadPart = ULONGLONG{st.f_bavail} * unit;
  if (total) total->QuadPart = ULONGLONG{st.f_blocks} * unit;
  if (free) free->QuadPart = ULONGLONG{st.f_bfree} * unit;
  return TRUE;
}

BOOL EnumDisplayDevicesA(LPCSTR device, DWORD index, PDISPLAY_DEVICEA out, DWORD) {
  return OrOutOfMemory<BOOL>(FALSE, [&]() -> BOOL {
    if (device != nullptr || out == nullptr || out->cb < sizeof(DISPLAY_DEVICEA)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const std::vector<Display> all = displays();
    if (index >= all.size()) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return FALSE;
    }
    const DWORD cb = out->cb;
    std::memset(out, 0, sizeof *out);
    out->cb = cb;
    copyCut(out->DeviceName, sizeof out->DeviceName, all[index].name);
    copyCut(out->DeviceString, sizeof out->DeviceString, all[index].description);
    out->StateFlags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | (index == 0 ? DISPLAY_DEVICE_PRIMARY_DEVICE : 0);
    return TRUE;
  });
}

BOOL EnumDisplaySettingsA(LPCSTR name, DWORD mode, LPDEVMODEA out) {
  return OrOutOfMemory<BOOL>(FALSE, [&]() -> BOOL {
    if (name == nullptr || out == nullptr || mode != ENUM_CURRENT_SETTINGS) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    for (const Display& d : displays()) {
      if (d.name != name) continue;
      unsigned width = 0, height = 0, bits = 0;
      std::string value;
      if (d.drm) {
        std::string modes;
        if (ReadSmallFile(d.sysfsDir + "/modes", &modes)) std::sscanf(modes.c_str(), "%ux%u", &width, &height);
        const std::vector<std::string> fbs = directory(SystemPath("/sys/class/graphics"));
        if (!fbs.empty() && attribute(SystemPath("/sys/class/graphics/" + fbs.front() + "/bits_per_pixel"), &value))
          bits = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
      } else {
        if (attribute(d.sysfsDir + "/virtual_size", &value)) std::sscanf(value.c_str(), "%u,%u", &width, &height);
        if (attribute(d.sysfsDir + "/bits_per_pixel", &value))
          bits = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
      }
      if (width == 0 && height == 0 && bits == 0) break;
      std::memset(out, 0, sizeof *out);
      out->dmSize = sizeof *out;
      std::memcpy(out->dmDeviceName, d.name.c_str(), std::min<size_t>(d.name.size(), 31));
      out->dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | (bits ? DM_BITSPERPEL : 0);
      out->dmPelsWidth = width;
      out->dmPelsHeight = height;
      out->dmBitsPerPel = bits;
      return TRUE;
    }
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
  });
}

DWORD GetAdaptersInfo(PIP_ADAPTER_INFO buffer, ULONG* size) {
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  return OrOutOfMemory<DWORD>(ERROR_NOT_ENOUGH_MEMORY, [&]() -> DWORD {
    const std::vector<Adapter> adapters = readAdapters();
    if (adapters.empty()) return ERROR_NO_DATA;
    // Each adapter's record, then the extra address entries of all.
    size_t extra = 0;
    for (const Adapter& a : adapters)
      extra += (a.addresses.size() > 1 ? a.addresses.size() - 1 : 0) + (a.gateways.size() > 1 ? a.gateways.size() - 1 : 0);
    const size_t needed = adapters.size() * sizeof(IP_ADAPTER_INFO) + extra * sizeof(IP_ADDR_STRING);
    if (buffer == nullptr || *size < needed) {
      *size = static_cast<ULONG>(needed);
      return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(buffer, 0, needed);
    IP_ADDR_STRING* spare = reinterpret_cast<IP_ADDR_STRING*>(buffer + adapters.size());
    auto chain = [&](IP_ADDR_STRING* first, const std::vector<std::pair<std::string, std::string>>& items) {
      IP_ADDR_STRING* last = first;
      for (size_t i = 0; i < items.size(); ++i) {
        IP_ADDR_STRING* entry = i == 0 ? first : spare++;
        fillAddr(entry, items[i].first, items[i].second);
        if (i > 0) last->Next = entry;
        last = entry;
      }
    };
    for (size_t k = 0; k < adapters.size(); ++k) {
      const Adapter& a = adapters[k];
      IP_ADAPTER_INFO* info = buffer + k;
      info->Next = k + 1 < adapters.size() ? buffer + k + 1 : nullptr;
      info->ComboIndex = a.index;
      info->Index = a.index;
      copyCut(info->AdapterName, sizeof info->AdapterName, a.name);
      copyCut(info->Description, sizeof info->Description, a.driver.empty() ? a.name : a.name + " (" + a.driver + ")");
      info->AddressLength = static_cast<UINT>(std::min<size_t>(a.mac.size(), MAX_ADAPTER_ADDRESS_LENGTH));
      if (info->AddressLength > 0) std::memcpy(info->Address, a.mac.data(), info->AddressLength);
      info->Type = a.type;
      info->DhcpEnabled = a.dhcp ? 1 : 0;
      chain(&info->IpAddressList, a.addresses);
      std::vector<std::pair<std::string, std::string>> gws;
      for (const std::string& g : a.gateways) gws.emplace_back(g, "255.255.255.255");
      chain(&info->GatewayList, gws);
      if (a.dhcp) fillAddr(&info->DhcpServer, a.dhcpServer, "255.255.255.255");
      info->CurrentIpAddress = nullptr;
    }
    return ERROR_SUCCESS;
  });
}

DWORD GetNetworkParams(PFIXED_INFO info, ULONG* size) {
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  return OrOutOfMemory<DWORD>(ERROR_NOT_ENOUGH_MEMORY, [&]() -> DWORD {
    const std::vector<std::string> servers = nameservers();
    const size_t needed = sizeof(FIXED_INFO) + (servers.size() > 1 ? servers.size() - 1 : 0) * sizeof(IP_ADDR_STRING);
    if (info == nullptr || *size < needed) {
      *size = static_cast<ULONG>(needed);
      return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(info, 0, needed);
    const std::string full = hostName();
    const size_t dot = full.find('.');
    const std::string host = full.substr(0, dot);
    const std::string domain = dot != std::string::npos ? full.substr(dot + 1) : domainFromHosts(host);
    copyCut(info->HostName, sizeof info->HostName, host);
    copyCut(info->DomainName, sizeof info->DomainName, domain);
    IP_ADDR_STRING* spare = reinterpret_cast<IP_ADDR_STRING*>(info + 1);
    IP_ADDR_STRING* last = &info->DnsServerList;
    for (size_t i = 0; i < servers.size(); ++i) {
      IP_ADDR_STRING* entry = i == 0 ? &info->DnsServerList : spare++;
      fillAddr(entry, servers[i], "");
      if (i > 0) last->Next = entry;
      last = entry;
    }
    info->CurrentDnsServer = servers.empty() ? nullptr : &info->DnsServerList;
    info->NodeType = 1;  // broadcast: no WINS
    info->EnableDns = 1;
    return ERROR_SUCCESS;
  });
}

}  // extern "C"

namespace sundry::platform {

bool GetFirmwareInfo(FirmwareInfo* info) {
  return posix::OrOutOfMemory<bool>(false, [&] {
    *info = FirmwareInfo();
    const std::string dir = SystemPath("/sys/class/dmi/id/");
    const bool any = attribute(dir + "bios_vendor", &info->vendor) | attribute(dir + "bios_version", &info->version) |
                     attribute(dir + "bios_date", &info->date);
    return any;
  });
}

bool GetProcessorInfo(ProcessorInfo* info) {
  return posix::OrOutOfMemory<bool>(false, [&] {
    *info = ProcessorInfo();
    std::map<std::string, std::string> fields;
    for (const std::string& line : lines(systemFile("/proc/cpuinfo"))) {
      if (trimmed(line).empty()) {
        if (!fields.empty()) break;  // the first processor only
        continue;
      }
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string key = trimmed(line.substr(0, colon));
      if (!fields.count(key)) fields[key] = trimmed(line.substr(colon + 1));
    }
    if (fields.empty()) return false;
    info->name = fields.count("model name") ? fields["model name"] : fields.count("Model") ? fields["Model"] : "";
    if (fields.count("vendor_id"))
      info->identifier = fields["vendor_id"] + " Family " + fields["cpu family"] + " Model " + fields["model"] +
                         " Stepping " + fields["stepping"];
    else if (fields.count("CPU implementer"))
      info->identifier = "ARM Implementer " + fields["CPU implementer"] + " Part " + fields["CPU part"] +
                         " Variant " + fields["CPU variant"] + " Revision " + fields["CPU revision"];
    return true;
  });
}

bool GetDefaultWebBrowser(BrowserInfo* info) {
  return posix::OrOutOfMemory<bool>(false, [&] {
    *info = BrowserInfo();
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* data = std::getenv("XDG_DATA_HOME");
    const std::string userConfig = config && *config ? config : home ? std::string(home) + "/.config" : "";
    const std::string userData = data && *data ? data : home ? std::string(home) + "/.local/share" : "";
    std::vector<std::string> lists = {userConfig + "/mimeapps.list", SystemPath("/etc/xdg/mimeapps.list"),
                                      userData + "/applications/mimeapps.list",
                                      SystemPath("/usr/share/applications/mimeapps.list")};
    std::string entry;
    for (const std::string& file : lists) {
      std::string text;
      if (!ReadSmallFile(file, &text)) continue;
      bool defaults = false;
      for (const std::string& raw : lines(text)) {
        const std::string line = trimmed(raw);
        if (!line.empty() && line[0] == '[') defaults = line == "[Default Applications]";
        if (defaults && line.compare(0, 22, "x-scheme-handler/http=") == 0) {
          entry = line.substr(22, line.find(';') == std::string::npos ? std::string::npos : line.find(';') - 22);
          break;
        }
      }
      if (!entry.empty()) break;
    }
    if (entry.empty()) return false;
    for (const std::string& dir : {userData + "/applications/", SystemPath("/usr/share/applications/"),
                                   SystemPath("/usr/local/share/applications/")}) {
      std::string text;
      if (!ReadSmallFile(dir + entry, &text)) continue;
      bool main = false;
      for (const std::string& raw : lines(text)) {
        const std::string line = trimmed(raw);
        if (!line.empty() && line[0] == '[') main = line == "[Desktop Entry]";
        else if (main && line.compare(0, 5, "Name=") == 0 && info->name.empty()) info->name = line.substr(5);
        else if (main && line.compare(0, 5, "Exec=") == 0 && info->program.empty()) {
          const std::vector<std::string> w = words(line.substr(5));
          if (!w.empty()) info->program = w[0];
        }
      }
      break;
    }
    if (info->name.empty()) info->name = entry;
    return true;
  });
}

bool LocalTime(time_t t, struct tm* out) { return ::localtime_r(&t, out) != nullptr; }

}  // namespace sundry::platform
