#include <sundry/platform/CFileFind.h>
#include <sundry/platform/codepage.h>
#include <sundry/platform/registry.h>
#include <sundry/platform/sysinfo.h>
#include <sundry/proxy/Proxy.h>
#include <sundry/registry/RegistryValue.h>
#include <sundry/sysinfo/GeneralSysInfo.h>
#include <sundry/sysinfo/RtfText.h>
#include <sundry/util/Sundry.h>

#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

namespace {

using sundry::sysinfo::RtfEscape;

CString rtf(const char* text) { return CString(RtfEscape(text != nullptr ? text : "")); }
CString rtf(const std::string& text) { return CString(RtfEscape(text)); }

// The text ctime gives ("Wed Jun 30 21:49:08 1993\n"), built from a
// broken-down time of this thread's own: no shared static buffer.
std::string ctimeText(time_t t) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm tm {};
  if (!sundry::platform::LocalTime(t, &tm) || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11)
    return std::string();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays[tm.tm_wday], kMonths[tm.tm_mon], tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
  return buf;
}

std::string narrow(const WCHAR* wide, size_t max) {
  std::u16string text;
  for (size_t i = 0; i < max && wide[i] != 0; ++i) text.push_back(static_cast<char16_t>(wide[i]));
  return sundry::platform::AnsiFromWide(text);
}

// A string the system gives through a sized getter: asked for the size
// first, so nothing is ever cut.
template <class Getter>
std::string sized(Getter get) {
  std::vector<char> buffer(64);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = get(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.assign(n + 1, '\0');
  }
  return std::string();
}

// The program of a browser command: the text up to and including its first
// ".exe" in any case (case kept), else its first word (the quoted text when
// it begins with a quote); quotes removed.
CString programOf(const CString& command) {
  std::string text = command.str();
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(sundry::platform::AnsiToLower(static_cast<unsigned char>(c)));
  const size_t exe = lower.find(".exe");
  std::string program;
  if (exe != std::string::npos) {
    program = text.substr(0, exe + 4);
  } else {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return CString();
    if (text[start] == '"') {
      const size_t end = text.find('"', start + 1);
      program = text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    } else {
      program = text.substr(start, text.find_first_of(" \t", start) - start);
    }
  }
  std::string out;
  for (char c : program)
    if (c != '"') out += c;
  return CString(out);
}

// An address chain as "a, b": entries with an empty address are skipped.
CString addressList(const IP_ADDR_STRING* entry) {
  CString list;
  for (; entry != nullptr; entry = entry->Next) {
    char text[sizeof entry->IpAddress.String + 1] = {};
    std::memcpy(text, entry->IpAddress.String, sizeof entry->IpAddress.String);
    if (text[0] == '\0') continue;
    if (!list.IsEmpty()) list += ", ";
    list += rtf(text);
  }
  return list;
}

const char* adapterTypeName(UINT type) {
  switch (type) {
    case 6: return "Ethernet Adapter";
    case 9: return "Token Ring Adapter";
    case 15: return "FDDI Adapter";
    case 23: return "PPP Adapter";
    case 24: return "Loopback Adapter";
    case 28: return "SLIP Adapter";
    default: return "Undefined";
  }
}

// "%Y/%m/%d %H:%M:%S" in local time; empty when it has no local form.
CString fileTime(time_t t) {
  struct tm tm {};
  char buf[128];
  if (!sundry::platform::LocalTime(t, &tm) || std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &tm) == 0)
    return CString();
  return CString(buf);
}

}  // namespace

CGeneralSysInfo::CGeneralSysInfo() { std::memset(&m_SystemInfo, 0, sizeof m_SystemInfo); }

CGeneralSysInfo::CGeneralSysInfo(const CGeneralSysInfo& other) { *this = other; }

CGeneralSysInfo& CGeneralSysInfo::operator=(const CGeneralSysInfo& other) {
  if (this == &other) return *this;
  m_StrBIOSVersion = other.m_StrBIOSVersion;
  m_StrBootLast = other.m_StrBootLast;
  m_StrBootTime = other.m_StrBootTime;
  m_StrCPU = other.m_StrCPU;
  m_StrDisplay = other.m_StrDisplay;
  m_StrDomainName = other.m_StrDomainName;
  m_StrHostName = other.m_StrHostName;
  m_StrIEVersion = other.m_StrIEVersion;
  m_StrLocale = other.m_StrLocale;
  m_StrMemoryInfo = other.m_StrMemoryInfo;
  m_StrNetworkAdapterInfo = other.m_StrNetworkAdapterInfo;
  m_StrOSVersion = other.m_StrOSVersion;
  m_StrProductFiles = other.m_StrProductFiles;
  m_StrServicePack = other.m_StrServicePack;
  m_StrSystemDirectory = other.m_StrSystemDirectory;
  m_StrTempDirectory = other.m_StrTempDirectory;
  m_StrTimeZone = other.m_StrTimeZone;
  m_StrUserName = other.m_StrUserName;
  m_StrVolumes = other.m_StrVolumes;
  m_StrWindowsDirectory = other.m_StrWindowsDirectory;
  m_StrFormattedSysInfo = other.m_StrFormattedSysInfo;
  m_StrFileInfo = other.m_StrFileInfo;
  m_SystemInfo = other.m_SystemInfo;
  m_StrProductDirectory = other.m_StrProductDirectory;
  // The records with pointers into themselves stay with their owner; this
  // object reads its own when it needs them.
  m_pNetworkParams.reset();
  m_pAdapterInfo.reset();
  return *this;
}

CGeneralSysInfo::~CGeneralSysInfo() = default;

void CGeneralSysInfo::intialize() {}

void CGeneralSysInfo::readSystemInfo() {
  m_SystemInfo.dwOemId = 0;
  GetSystemInfo(&m_SystemInfo);
}

int CGeneralSysInfo::readNetworkParams() {
  try {
    ULONG size = 0;
    m_pNetworkParams.reset();
    for (int attempt = 0; attempt < 4; ++attempt) {
      const DWORD rc = GetNetworkParams(reinterpret_cast<PFIXED_INFO>(m_pNetworkParams.get()), &size);
      if (rc == ERROR_SUCCESS && m_pNetworkParams) return 1;
      if (rc != ERROR_BUFFER_OVERFLOW) break;
      m_pNetworkParams.reset(new unsigned char[size]());
    }
  } catch (const std::bad_alloc&) {
  }
  m_pNetworkParams.reset();
  return 0;
}

void CGeneralSysInfo::readIPAddresses() {
  m_pAdapterInfo.reset();
  try {
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return;
    m_pAdapterInfo.reset(new unsigned char[size]());
    if (GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(m_pAdapterInfo.get()), &size) != ERROR_SUCCESS)
      m_pAdapterInfo.reset();
  } catch (const std::bad_alloc&) {
    m_pAdapterInfo.reset();
  }
}

const char* CGeneralSysInfo::getBIOSVersion() {
  if (!m_StrBIOSVersion.IsEmpty()) return m_StrBIOSVersion;
  sundry::platform::FirmwareInfo bios;
  if (!sundry::platform::GetFirmwareInfo(&bios)) return m_StrBIOSVersion;
  // Vendor and version stand for the strings of the version multi-string,
  // joined by a blank.
  std::string version = bios.vendor;
  if (!bios.version.empty()) version += (version.empty() ? "" : " ") + bios.version;
  if (!version.empty()) m_StrBIOSVersion = "BIOS: " + rtf(version);
  if (!bios.date.empty()) m_StrBIOSVersion += "\\par\tDated: " + rtf(bios.date);
  return m_StrBIOSVersion;
}

const char* CGeneralSysInfo::getBootLast() {
  if (!m_StrBootLast.IsEmpty()) return m_StrBootLast;
  static const char* const kModes[] = {"Normal", "Fail-safe", "Fail-safe with network"};
  const int mode = GetSystemMetrics(SM_CLEANBOOT);
  if (mode >= 0 && mode <= 2) m_StrBootLast.Format("Last Boot was %s\n", kModes[mode]);
  return m_StrBootLast;
}

const char* CGeneralSysInfo::getBootTime() {
  if (!m_StrBootTime.IsEmpty()) return m_StrBootTime;
  const time_t now = std::time(nullptr);
  const time_t boot = now - static_cast<time_t>(GetTickCount64() / 1000);
  const std::string text = ctimeText(boot);
  if (!text.empty()) m_StrBootTime.Format("Boot time was %s\n", text.c_str());
  return m_StrBootTime;
}

const char* CGeneralSysInfo::getCPU() {
  if (!m_StrCPU.IsEmpty()) return m_StrCPU;
  readSystemInfo();
  m_StrCPU.Format("CPU: %d Processor ", static_cast<int>(m_SystemInfo.dwNumberOfProcessors));
  sundry::platform::ProcessorInfo cpu;
  if (sundry::platform::GetProcessorInfo(&cpu)) {
    CString name(cpu.name);
    name.TrimLeft();
    m_StrCPU += rtf(name.str());
    if (!cpu.identifier.empty()) m_StrCPU += "\\par\t" + rtf(cpu.identifier);
  }
  return m_StrCPU;
}

const char* CGeneralSysInfo::getDisplayMonitor() {
  if (!m_StrDisplay.IsEmpty()) return m_StrDisplay;
  DISPLAY_DEVICEA device;
  std::memset(&device, 0, sizeof device);
  device.cb = sizeof device;
  if (!EnumDisplayDevicesA(nullptr, 0, &device, 0)) {
    m_StrDisplay = "Monitor:    none";
    return m_StrDisplay;
  }
  m_StrDisplay = "Monitor:    " + rtf(device.DeviceString);
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof mode);
  mode.dmSize = sizeof mode;
  if (EnumDisplaySettingsA(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode))
    m_StrDisplay.AppendFormat("\\par\tResolution %d by %d\\par\tColor Bits per Pixel: %d",
                              static_cast<int>(mode.dmPelsWidth), static_cast<int>(mode.dmPelsHeight),
                              static_cast<int>(mode.dmBitsPerPel));
  return m_StrDisplay;
}

const char* CGeneralSysInfo::getDomainName() {
  if (!m_StrDomainName.IsEmpty()) return m_StrDomainName;
  if (readNetworkParams() == 1)
    m_StrDomainName = rtf(reinterpret_cast<const FIXED_INFO*>(m_pNetworkParams.get())->DomainName);
  return m_StrDomainName;
}

const char* CGeneralSysInfo::getHostName() {
  if (!m_StrHostName.IsEmpty()) return m_StrHostName;
  if (readNetworkParams() == 1)
    m_StrHostName = rtf(reinterpret_cast<const FIXED_INFO*>(m_pNetworkParams.get())->HostName);
  return m_StrHostName;
}

const char* CGeneralSysInfo::getIEVersion() {
  if (!m_StrIEVersion.IsEmpty()) return m_StrIEVersion;
  CRegistryValue application;
  if (application.initialize(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec\\Application", "", "", 0, 0))
    m_StrIEVersion = rtf(application.getCString(0).str());
  CString command, program;
  if (CProxy::readHttpHandlerCommand(command)) {
    program = programOf(command);
  } else {
    sundry::platform::BrowserInfo browser;
    if (sundry::platform::GetDefaultWebBrowser(&browser)) {
      if (m_StrIEVersion.IsEmpty()) m_StrIEVersion = rtf(browser.name);
      program = CString(browser.program);
    }
  }
  CString version;
  if (!program.IsEmpty() && CSundry::GetFileVersion(program, version) == 1)
    m_StrIEVersion += "\\par\tVersion: " + rtf(version.str());
  return m_StrIEVersion;
}

const char* CGeneralSysInfo::getLocale() {
  if (!m_StrLocale.IsEmpty()) return m_StrLocale;
  const std::string country = sized([](DWORD size, char* buffer) -> DWORD {
    const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGCOUNTRY, buffer, static_cast<int>(size));
    if (n > 0) return static_cast<DWORD>(n - 1);
    const int needed = GetLastError() == ERROR_INSUFFICIENT_BUFFER
                           ? GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGCOUNTRY, nullptr, 0)
                           : 0;
    return static_cast<DWORD>(needed);
  });
  m_StrLocale = "Locale: " + rtf(country);
  return m_StrLocale;
}

const char* CGeneralSysInfo::getMemeoryInfo() {
  if (!m_StrMemoryInfo.IsEmpty()) return m_StrMemoryInfo;
  readSystemInfo();
  MEMORYSTATUSEX m;
  std::memset(&m, 0, sizeof m);
  m.dwLength = 64;
  if (!GlobalMemoryStatusEx(&m)) return m_StrMemoryInfo;
  auto kb = [](ULONGLONG bytes) { return static_cast<long long>(bytes >> 10); };
  m_StrMemoryInfo.Format("\tPhysical Memory:\t%lld KBytes (free: %lld KBytes)", kb(m.ullTotalPhys), kb(m.ullAvailPhys));
  m_StrMemoryInfo.AppendFormat("\\par\tPaging File:\t\t%lld KBytes (free: %lld KBytes)", kb(m.ullTotalPageFile),
                               kb(m.ullAvailPageFile));
  m_StrMemoryInfo.AppendFormat("\\par\tPage Size:\t\t%d", static_cast<int>(m_SystemInfo.dwPageSize));
  m_StrMemoryInfo.AppendFormat("\\par\tVirtual Memory:\t%lld KBytes (free: %lld KBytes)", kb(m.ullTotalVirtual),
                               kb(m.ullAvailVirtual));
  m_StrMemoryInfo.AppendFormat("\\par\tMemory is in use:\t%ld percent", static_cast<long>(m.dwMemoryLoad));
  return m_StrMemoryInfo;
}

const char* CGeneralSysInfo::getNetworkAdapterInfo() {
  m_StrNetworkAdapterInfo.Empty();
  readIPAddresses();
  if (!m_pAdapterInfo) return m_StrNetworkAdapterInfo;
  CString& s = m_StrNetworkAdapterInfo;
  for (const IP_ADAPTER_INFO* a = reinterpret_cast<const IP_ADAPTER_INFO*>(m_pAdapterInfo.get()); a != nullptr;
       a = a->Next) {
    s += "\\par\t" + rtf(a->Description);
    s += "\\par\t\tGUID:\t" + rtf(a->AdapterName);
    s += "\\par\t\tMAC Address:\t\t";
    // Never more bytes than the record holds, whatever the length says.
    const UINT length = a->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH ? a->AddressLength : MAX_ADAPTER_ADDRESS_LENGTH;
    for (UINT i = 0; i < length; ++i) s.AppendFormat(i == 0 ? "%02X" : "-%02X", a->Address[i]);
    s += "\\par\t\tType:\t\t\t";
    s += adapterTypeName(a->Type);
    s += "\\par\t\tIPAddresses:\t\t" + addressList(&a->IpAddressList);
    s += "\\par\t\tGateway Addresses:\t" + addressList(&a->GatewayList);
    if (a->DhcpEnabled == 1) s += "\\par\t\tDHCP Enabled.\\par\t\tDHCP Server Addresses:\t" + addressList(&a->DhcpServer);
    else s += "\\par\t\tDHCP Disabled.";
    if (a->HaveWins == 1)
      s += "\\par\t\tWINS Enabled.\\par\t\tPrimary WINS Addresses:\t" + addressList(&a->PrimaryWinsServer) +
           "\\par\t\tSecondary WINS Addresses:\t" + addressList(&a->SecondaryWinsServer);
    else s += "\\par\t\tWINS Disabled.";
    if (a->Next != nullptr) s += "\\par\\par ";
  }
  return s;
}

const char* CGeneralSysInfo::getOSVersion() {
  if (!m_StrOSVersion.IsEmpty()) return m_StrOSVersion;
  OSVERSIONINFOEXA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = 156;
  bool extended = GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&v)) != 0;
  if (!extended) {
    v.dwOSVersionInfoSize = 148;
    if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&v))) return m_StrOSVersion;
  }
  const char sp1 = v.szCSDVersion[0] != '\0' ? v.szCSDVersion[1] : '\0';
  CString& s = m_StrOSVersion;
  switch (v.dwPlatformId) {
    case 0:
      s = "Microsoft Win32s ";
      break;
    case 1:
      if (v.dwMajorVersion == 4) {
        if (v.dwMinorVersion == 0) {
          s = "Microsoft Windows 95 ";
          if (sp1 == 'C' || sp1 == 'B') s += "OSR2 ";
        } else if (v.dwMinorVersion == 10) {
          s = "Microsoft Windows 98 ";
          if (sp1 == 'A') s += "SE ";
        } else if (v.dwMinorVersion == 90) {
          s = "Microsoft Windows Me ";
        }
      }
      break;
    case 2: {
#ifdef _WIN32
      if (v.dwMajorVersion <= 4) s = "Microsoft Windows NT ";
      else if (v.dwMajorVersion == 5) s = v.dwMinorVersion == 0 ? "Microsoft Windows 2000 " : "Microsoft Windows XP ";
#endif
      // Elsewhere the version numbers are another system's (a Linux 5.x
      // kernel is no Windows XP): no Windows name is given.
      if (extended) {
        if (v.wProductType == 1) s += (v.wSuiteMask & 0x200) ? "Personal " : "Professional ";
        else if (v.wProductType == 3)
          s += (v.wSuiteMask & 0x80) ? "DataCenter Server " : (v.wSuiteMask & 0x2) ? "Advanced Server " : "Server ";
      } else {
        HKEY key = nullptr;
        char type[80] = {};
        DWORD size = sizeof type;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0,
                          KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
          RegQueryValueExA(key, "ProductType", nullptr, nullptr, reinterpret_cast<LPBYTE>(type), &size);
          RegCloseKey(key);
        }
        type[sizeof type - 1] = '\0';
        if (sundry::platform::AnsiCompareNoCase(type, "WINNT") == 0) s += "Professional ";
        else if (sundry::platform::AnsiCompareNoCase(type, "LANMANNT") == 0) s += "Server ";
        else if (sundry::platform::AnsiCompareNoCase(type, "SERVERNT") == 0) s += "Advanced Server ";
      }
      m_StrServicePack = rtf(std::string(v.szCSDVersion, strnlen(v.szCSDVersion, sizeof v.szCSDVersion)));
      const int build = static_cast<int>(v.dwBuildNumber & 0xFFFF);
      if (v.dwMajorVersion <= 4)
        s.AppendFormat("version %d.%d (Build %d)\n", static_cast<int>(v.dwMajorVersion),
                       static_cast<int>(v.dwMinorVersion), build);
      else
        s.AppendFormat("(Build %d)\n", build);
      break;
    }
    default:
      break;
  }
  return s;
}

const char* CGeneralSysInfo::getServicePack() {
  if (m_StrServicePack.IsEmpty()) getOSVersion();
  return m_StrServicePack;
}

namespace {
CString pathText(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return rtf(p);
}
}  // namespace

const char* CGeneralSysInfo::getSystemDirectory() {
  if (m_StrSystemDirectory.IsEmpty())
    m_StrSystemDirectory = pathText(sized([](DWORD n, char* b) -> DWORD { return GetSystemDirectoryA(b, n); }));
  return m_StrSystemDirectory;
}

const char* CGeneralSysInfo::getTempDirectory() {
  if (m_StrTempDirectory.IsEmpty())
    m_StrTempDirectory = pathText(sized([](DWORD n, char* b) -> DWORD { return GetTempPathA(n, b); }));
  return m_StrTempDirectory;
}

const char* CGeneralSysInfo::getWindowsDirectory() {
  if (m_StrWindowsDirectory.IsEmpty())
    m_StrWindowsDirectory = pathText(sized([](DWORD n, char* b) -> DWORD { return GetWindowsDirectoryA(b, n); }));
  return m_StrWindowsDirectory;
}

const char* CGeneralSysInfo::getTimeZone() {
  if (!m_StrTimeZone.IsEmpty()) return m_StrTimeZone;
  TIME_ZONE_INFORMATION tz;
  if (GetTimeZoneInformation(&tz) == TIME_ZONE_ID_INVALID) return m_StrTimeZone;
  const time_t now = std::time(nullptr);
  struct tm local {};
  if (!sundry::platform::LocalTime(now, &local)) return m_StrTimeZone;
  m_StrTimeZone.Format("Time: %s \\par \t", ctimeText(now).c_str());
  m_StrTimeZone += rtf(local.tm_isdst > 0 ? narrow(tz.DaylightName, 32) : narrow(tz.StandardName, 32));
  return m_StrTimeZone;
}

const char* CGeneralSysInfo::getUserName() {
  if (!m_StrUserName.IsEmpty()) return m_StrUserName;
  const std::string name = sized([](DWORD size, char* buffer) -> DWORD {
    DWORD n = size;
    if (GetUserNameA(buffer, &n)) return n - 1;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? n : 0;
  });
  m_StrUserName = rtf(name);
  return m_StrUserName;
}

const char* CGeneralSysInfo::getVolumes() {
  if (!m_StrVolumes.IsEmpty()) return m_StrVolumes;
  std::vector<char> roots;
  try {
    DWORD length = GetLogicalDriveStringsA(0, nullptr);
    for (int attempt = 0; attempt < 4 && length > 0; ++attempt) {
      roots.assign(length + 1, '\0');
      const DWORD got = GetLogicalDriveStringsA(static_cast<DWORD>(roots.size()), roots.data());
      if (got < roots.size()) {
        length = got;
        break;
      }
      length = got;  // the list grew meanwhile: ask again with its new size
    }
    if (roots.empty() || roots[0] == '\0') return m_StrVolumes;
    for (size_t offset = 0; offset < length && offset < roots.size() && roots[offset] != '\0';) {
      const char* root = roots.data() + offset;
      const CString shown = rtf(root);
      switch (GetDriveTypeA(root)) {
        case DRIVE_REMOVABLE:
          m_StrVolumes += "\\par\t" + shown + " has removable media";
          break;
        case DRIVE_FIXED: {
          m_StrVolumes += "\\par\t" + shown + " is a fixed disk";
          ULARGE_INTEGER available{}, total{}, free{};
          if (GetDiskFreeSpaceExA(root, &available, &total, &free) == 1)
            m_StrVolumes.AppendFormat("\\par\t\t%lld Total MBytes\\par\t\t%lld Free MBytes\\par\t\t%lld MBytes availabe to the user",
                                      static_cast<long long>(total.QuadPart >> 20),
                                      static_cast<long long>(free.QuadPart >> 20),
                                      static_cast<long long>(available.QuadPart >> 20));
          break;
        }
        case DRIVE_REMOTE:
          m_StrVolumes += "\\par\t" + shown + " is a network drive";
          break;
        case DRIVE_CDROM:
          m_StrVolumes += "\\par\t" + shown + " is a CD-ROM drive";
          break;
        case DRIVE_RAMDISK:
          m_StrVolumes += "\\par\t" + shown + " is a RAM disk";
          break;
        default:
          break;
      }
      offset += std::strlen(root) + 1;
    }
  } catch (const std::bad_alloc&) {
    m_StrVolumes.Empty();
  }
  return m_StrVolumes;
}

const char* CGeneralSysInfo::obtainFileInfo() { return m_StrFileInfo; }

const char* CGeneralSysInfo::obtainFormattedSysInfo() {
  if (!m_StrFormattedSysInfo.IsEmpty()) return m_StrFormattedSysInfo;
  CString r = getTimeZone();
  r += "\\par\\par ";
  r += getBootTime();
  r += "\\par\t";
  r += getBootLast();
  r += "\\par\\par ";
  r += getBIOSVersion();
  r += "\\par\\par ";
  r += getCPU();
  r += "\\par ";
  r += getMemeoryInfo();
  r += "\\par\\par ";
  r += getOSVersion();
  r += "\\par\t ";
  r += getServicePack();
  r += "\\par\\par ";
  r += getLocale();
  r += "\\par\\par Windows Directory:\t";
  r += getWindowsDirectory();
  r += "\\par System Directory:\t";
  r += getSystemDirectory();
  r += "\\par Temporary Directory:\t";
  r += getTempDirectory();
  r += "\\par\\par ";
  r += getDisplayMonitor();
  r += "\\par\\par Drives:";
  r += getVolumes();
  r += "\\par\\par Internet Browser: ";
  r += getIEVersion();
  r += "\\par\\par Username:  ";
  r += getUserName();
  r += "\\par Host Name:  ";
  r += getHostName();
  r += "\\par Domain Name:  ";
  r += getDomainName();
  r += "\\par\\par Network Adapters:";
  r += getNetworkAdapterInfo();
  m_StrFormattedSysInfo = r;
  return m_StrFormattedSysInfo;
}

void CGeneralSysInfo::setProductDirectory(const char* directory) {
  m_StrProductDirectory = directory != nullptr ? directory : "";
  const int n = m_StrProductDirectory.GetLength();
  if (n == 0 || (m_StrProductDirectory[n - 1] != '\\' && m_StrProductDirectory[n - 1] != '/'))
    m_StrProductDirectory += "\\";
  m_StrProductDirectory += "*.*";
}

const char* CGeneralSysInfo::getProductFiles(const char* pattern) {
  if (!m_StrProductFiles.IsEmpty() && pattern == nullptr) return m_StrProductFiles;
  try {
    const CString search = pattern != nullptr ? CString(pattern) : m_StrProductDirectory;
    CFileFind find;
    BOOL more = find.FindFile(search);
    if (!more) return m_StrProductFiles;
    while (more) {
      more = find.FindNextFile();
      if (find.IsDots()) continue;
      const CString path = find.GetFilePath();
      CTime created;
      const CString when = find.GetCreationTime(created) ? fileTime(created.GetTime()) : CString();
      if (find.IsDirectory()) {
        m_StrProductFiles += "\\par " + rtf(path.str());
        m_StrProductFiles += "\\par    File Date/Time: " + when;
        // A directory reached through a link is not entered: the link may
        // lead back up the tree.
        if (!find.MatchesMask(FILE_ATTRIBUTE_REPARSE_POINT)) getProductFiles(path + "/*.*");
      } else {
        m_StrProductFiles += "\\par " + rtf(path.str());
        unsigned long major = 0, minor = 0, build = 0;
        if (CSundry::GetFileVersion(path, major, minor, build))
          m_StrProductFiles.AppendFormat("\\par       Version: %.2lu.%.2lu.%.3lu", major, minor, build);
        m_StrProductFiles += "\\par       File Date/Time: " + when;
        m_StrProductFiles.AppendFormat("\\par       File Size: %lld", static_cast<long long>(find.GetLength()));
      }
    }
    find.Close();
  } catch (const std::bad_alloc&) {
  }
  return m_StrProductFiles;
}
