#pragma once
// System information (the Win32 functions a system report asks) and the
// resolver configuration file.
//
// On Linux every fact comes from the system's own sources: procfs, sysfs,
// /etc, the C library. Those files are read below the system root of the
// POSIX port: $SUNDRY_SYSTEM_ROOT (default "/") with sysfs at
// $SUNDRY_SYSFS_ROOT when that is set, so tests can point every reader at a
// small tree of their own. No function here queries the network.
//
// Unless stated otherwise, every function is thread-safe, sets the
// thread's last error on failure and never throws.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <ctime>
#include <string>
#include <vector>

#if defined(_WIN32)
// On Windows the records and functions below are the system's own.
#include <iphlpapi.h>
#include <lmcons.h>
#else
// ---------------------------------------------------------------------------
// Processor and memory.

struct SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
typedef SYSTEM_INFO* LPSYSTEM_INFO;

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xFFFF

struct MEMORYSTATUSEX {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  ULONGLONG ullTotalPhys;
  ULONGLONG ullAvailPhys;
  ULONGLONG ullTotalPageFile;
  ULONGLONG ullAvailPageFile;
  ULONGLONG ullTotalVirtual;
  ULONGLONG ullAvailVirtual;
  ULONGLONG ullAvailExtendedVirtual;
};
typedef MEMORYSTATUSEX* LPMEMORYSTATUSEX;

// ---------------------------------------------------------------------------
// Operating system version.

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
struct OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION 1
#define VER_NT_DOMAIN_CONTROLLER 2
#define VER_NT_SERVER 3

// ---------------------------------------------------------------------------
// Time zone.

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
struct TIME_ZONE_INFORMATION {
  LONG Bias;
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};
typedef TIME_ZONE_INFORMATION* LPTIME_ZONE_INFORMATION;

#define TIME_ZONE_ID_UNKNOWN 0u
#define TIME_ZONE_ID_STANDARD 1u
#define TIME_ZONE_ID_DAYLIGHT 2u
#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu

// ---------------------------------------------------------------------------
// Locale, metrics, names and directories.

typedef DWORD LCID;
typedef DWORD LCTYPE;
#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SENGCOUNTRY 0x00001002u
#define SM_CLEANBOOT 67
#define MAX_COMPUTERNAME_LENGTH 15

// ---------------------------------------------------------------------------
// Drives.

#define DRIVE_UNKNOWN 0u
#define DRIVE_NO_ROOT_DIR 1u
#define DRIVE_REMOVABLE 2u
#define DRIVE_FIXED 3u
#define DRIVE_REMOTE 4u
#define DRIVE_CDROM 5u
#define DRIVE_RAMDISK 6u

// ---------------------------------------------------------------------------
// Display.

struct DISPLAY_DEVICEA {
  DWORD cb;
  CHAR DeviceName[32];
  CHAR DeviceString[128];
  DWORD StateFlags;
  CHAR DeviceID[128];
  CHAR DeviceKey[128];
};
typedef DISPLAY_DEVICEA* PDISPLAY_DEVICEA;

struct DEVMODEA {
  BYTE dmDeviceName[32];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  short dmOrientation, dmPaperSize, dmPaperLength, dmPaperWidth, dmScale, dmCopies, dmDefaultSource,
      dmPrintQuality;
  short dmColor, dmDuplex, dmYResolution, dmTTOption, dmCollate;
  BYTE dmFormName[32];
  WORD dmLogPixels;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmDisplayFlags;
  DWORD dmDisplayFrequency;
  DWORD dmICMMethod, dmICMIntent, dmMediaType, dmDitherType, dmReserved1, dmReserved2, dmPanningWidth,
      dmPanningHeight;
};
typedef DEVMODEA* LPDEVMODEA;

#define DISPLAY_DEVICE_ATTACHED_TO_DESKTOP 0x00000001u
#define DISPLAY_DEVICE_PRIMARY_DEVICE 0x00000004u
#define ENUM_CURRENT_SETTINGS ((DWORD)-1)
#define DM_BITSPERPEL 0x00040000u
#define DM_PELSWIDTH 0x00080000u
#define DM_PELSHEIGHT 0x00100000u

// ---------------------------------------------------------------------------
// IP Helper.

#define MAX_ADAPTER_DESCRIPTION_LENGTH 128
#define MAX_ADAPTER_NAME_LENGTH 256
#define MAX_ADAPTER_ADDRESS_LENGTH 8
#define MAX_HOSTNAME_LEN 128
#define MAX_DOMAIN_NAME_LEN 128
#define MAX_SCOPE_ID_LEN 256

#define MIB_IF_TYPE_OTHER 1
#define MIB_IF_TYPE_ETHERNET 6
#define MIB_IF_TYPE_TOKENRING 9
#define MIB_IF_TYPE_FDDI 15
#define MIB_IF_TYPE_PPP 23
#define MIB_IF_TYPE_LOOPBACK 24
#define MIB_IF_TYPE_SLIP 28
#define IF_TYPE_IEEE80211 71
#define IF_TYPE_IEEE1394 144
#define IF_TYPE_TUNNEL 131
#define IF_TYPE_IB 199

struct IP_ADDRESS_STRING {
  char String[4 * 4];
};
typedef IP_ADDRESS_STRING IP_MASK_STRING;
struct IP_ADDR_STRING {
  IP_ADDR_STRING* Next;
  IP_ADDRESS_STRING IpAddress;
  IP_MASK_STRING IpMask;
  DWORD Context;
};
typedef IP_ADDR_STRING* PIP_ADDR_STRING;

struct IP_ADAPTER_INFO {
  IP_ADAPTER_INFO* Next;
  DWORD ComboIndex;
  char AdapterName[MAX_ADAPTER_NAME_LENGTH + 4];
  char Description[MAX_ADAPTER_DESCRIPTION_LENGTH + 4];
  UINT AddressLength;
  BYTE Address[MAX_ADAPTER_ADDRESS_LENGTH];
  DWORD Index;
  UINT Type;
  UINT DhcpEnabled;
  PIP_ADDR_STRING CurrentIpAddress;
  IP_ADDR_STRING IpAddressList;
  IP_ADDR_STRING GatewayList;
  IP_ADDR_STRING DhcpServer;
  BOOL HaveWins;
  IP_ADDR_STRING PrimaryWinsServer;
  IP_ADDR_STRING SecondaryWinsServer;
  time_t LeaseObtained;
  time_t LeaseExpires;
};
typedef IP_ADAPTER_INFO* PIP_ADAPTER_INFO;

struct FIXED_INFO {
  char HostName[MAX_HOSTNAME_LEN + 4];
  char DomainName[MAX_DOMAIN_NAME_LEN + 4];
  PIP_ADDR_STRING CurrentDnsServer;
  IP_ADDR_STRING DnsServerList;
  UINT NodeType;
  char ScopeId[MAX_SCOPE_ID_LEN + 4];
  UINT EnableRouting;
  UINT EnableProxy;
  UINT EnableDns;
};
typedef FIXED_INFO* PFIXED_INFO;

extern "C" {

// The processor count (sysconf: processors online), the page size, the
// architecture of this build and the address range of a process. Never
// fails.
SUNDRY_EXPORT void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);

// Memory figures from /proc/meminfo: physical memory is MemTotal and
// MemAvailable (MemFree where the kernel has no MemAvailable); the paging
// file is the swap space (SwapTotal, SwapFree); the load is the percentage
// of physical memory in use. The virtual figures are the address space of a
// process (the address-space limit of the process when it has one, else the
// architecture's user address space) and what of it the process does not
// yet use (VmSize of /proc/self/status). dwLength must be
// sizeof(MEMORYSTATUSEX), else FALSE with ERROR_INVALID_PARAMETER; FALSE
// with the file's error when /proc/meminfo cannot be read.
SUNDRY_EXPORT BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX lpBuffer);

// The kernel's version: platform VER_PLATFORM_WIN32_NT, the major, minor
// and patch numbers of the release (uname) as major, minor and build;
// szCSDVersion is the distribution's PRETTY_NAME from /etc/os-release (cut
// to 127 characters; empty without that file). The extended form has no
// service pack numbers, suite mask or product type (all 0: Linux has no
// such editions). dwOSVersionInfoSize must be sizeof(OSVERSIONINFOA) or
// sizeof(OSVERSIONINFOEXA), else FALSE with ERROR_INVALID_PARAMETER.
SUNDRY_EXPORT BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);

// Milliseconds since the system started, from the boot instant the kernel
// gives in /proc/stat ("btime"), so that now minus this count is that
// instant; from the boot-time clock when /proc/stat cannot be read. 64
// bits: it does not wrap.
SUNDRY_EXPORT ULONGLONG GetTickCount64(void);

// The local time zone (the TZ variable, else /etc/localtime): its names as
// the C library abbreviates them (tm_zone: "CET", "CEST", "UTC") and its
// biases in minutes (UTC = local time + bias). Returns TIME_ZONE_ID_DAYLIGHT
// when daylight-saving time is in force now, TIME_ZONE_ID_STANDARD when the
// zone has daylight-saving time but not now, TIME_ZONE_ID_UNKNOWN when it
// has none. The transition dates are not filled (zero).
SUNDRY_EXPORT DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation);

// Only LOCALE_SENGCOUNTRY of LOCALE_USER_DEFAULT is supported: the English
// name of the territory of the user's locale (LC_ALL, LC_MESSAGES... from the
// environment, as setlocale(LC_ALL, "") finds it), as the locale's
// identification names it ("United States"); the C and POSIX locales name
// none (an empty text). Returns the number of characters stored with the
// terminating zero; with cchData 0, the number needed. 0 with
// ERROR_INSUFFICIENT_BUFFER when the text does not fit, with
// ERROR_INVALID_FLAGS for another LCTYPE or LCID.
SUNDRY_EXPORT int GetLocaleInfoA(LCID Locale, LCTYPE LCType, LPSTR lpLCData, int cchData);

// Only SM_CLEANBOOT: how the system was started, from the kernel command
// line (/proc/cmdline): 1 (fail-safe) when it asks for single-user,
// rescue or emergency mode ("single", "S", "1" as a word of its own,
// "rescue", "emergency", or a systemd unit of those names), else 0. Any
// other index gives 0.
SUNDRY_EXPORT int GetSystemMetrics(int nIndex);

// The user name of the effective user (getpwuid_r). *pcbBuffer holds the
// buffer's size and receives the characters stored, zero included. FALSE
// with ERROR_INSUFFICIENT_BUFFER and the size needed in *pcbBuffer when the
// name does not fit; with ERROR_NOT_FOUND when the user has no name.
SUNDRY_EXPORT BOOL GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer);

// The host name (gethostname), whole. *nSize holds the buffer's size and
// receives the characters stored, without the zero. FALSE with
// ERROR_BUFFER_OVERFLOW and the size needed (zero included) in *nSize when
// it does not fit: a name longer than MAX_COMPUTERNAME_LENGTH is not cut.
SUNDRY_EXPORT BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);

// The temporary directory, TMPDIR (when set and absolute) else "/tmp", with
// a final "/". Returns the characters stored without the zero; when it does
// not fit, the size needed with the zero, and nothing is stored.
SUNDRY_EXPORT DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);

// Linux has no Windows or system directory. These give fixed paths: the
// Windows directory is "/usr" (the system's own programs and data), the
// system directory "/usr/lib" (its libraries). Results as GetTempPathA.
SUNDRY_EXPORT UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
SUNDRY_EXPORT UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);

// The "drives" are the mount points of /proc/self/mountinfo that hold
// files of their own: those of block devices, RAM disks (tmpfs, ramfs),
// network file systems and the root, except the system's own folders
// (/proc, /sys, /dev, /run and below). Each is written as its path, ended
// by a zero; the list ends with an empty string. Returns the characters
// stored without the final zero; when they do not fit, the size needed
// (final zero included) and nothing is stored; 0 with the last error when
// the mount table cannot be read.
SUNDRY_EXPORT DWORD GetLogicalDriveStringsA(DWORD nBufferLength, LPSTR lpBuffer);

// The kind of the mount at lpRootPathName, from the mount table alone (the
// mount itself is never touched, so a dead server cannot hang the call):
// tmpfs and ramfs DRIVE_RAMDISK; nfs, nfs4, cifs, smb3, smbfs, 9p, ceph,
// glusterfs, afs, davfs and FUSE network file systems (sshfs...)
// DRIVE_REMOTE; iso9660 and udf DRIVE_CDROM; a block device whose disk is
// marked removable in sysfs DRIVE_REMOVABLE; any other DRIVE_FIXED.
// DRIVE_NO_ROOT_DIR when nothing is mounted there.
SUNDRY_EXPORT UINT GetDriveTypeA(LPCSTR lpRootPathName);

// Free and total bytes of the file system at lpDirectoryName (statvfs):
// available to the caller (unprivileged), total, and free. FALSE with the
// last error when it cannot be asked.
SUNDRY_EXPORT BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                       PULARGE_INTEGER lpTotalNumberOfBytes,
                                       PULARGE_INTEGER lpTotalNumberOfFreeBytes);

// Display devices, from sysfs: the connected connectors of the DRM cards
// (class/drm/cardN-CONNECTOR with status "connected"), else the frame
// buffers (class/graphics/fbN). lpDevice must be null. DeviceName is the
// connector's or frame buffer's name; DeviceString the card's kernel driver
// (the frame buffer's own name). FALSE when iDevNum is past the last device
// or there is none (no display: a server, a virtual machine without one).
SUNDRY_EXPORT BOOL EnumDisplayDevicesA(LPCSTR lpDevice, DWORD iDevNum, PDISPLAY_DEVICEA lpDisplayDevice,
                                       DWORD dwFlags);

// The current mode of a device EnumDisplayDevicesA named (only
// ENUM_CURRENT_SETTINGS): for a DRM connector its first mode (the one in
// use or preferred, "1920x1080") and the bits per pixel of the first frame
// buffer when one exists; for a frame buffer its virtual_size and
// bits_per_pixel. FALSE when the device is unknown or says nothing.
SUNDRY_EXPORT BOOL EnumDisplaySettingsA(LPCSTR lpszDeviceName, DWORD iModeNum, LPDEVMODEA lpDevMode);

// The network interfaces (sysfs class/net, ordered by interface index;
// getifaddrs where sysfs cannot be read), each one IP_ADAPTER_INFO: the
// interface name as AdapterName; the name and its kernel driver as
// Description ("eth0 (e1000e)"); the hardware address of sysfs "address"
// with its length "addr_len", at most MAX_ADAPTER_ADDRESS_LENGTH bytes (an
// InfiniBand address of 20 bytes gives its first 8 and AddressLength 8);
// the type from the ARP hardware type of sysfs "type" (Ethernet, token
// ring, FDDI, PPP, loopback, SLIP, IEEE 802.11 for a wireless interface,
// InfiniBand, IF_TYPE_TUNNEL for tunnels, MIB_IF_TYPE_OTHER for the rest);
// the IPv4 addresses and masks (getifaddrs); the gateways of the routes of
// /proc/net/route through it; DHCP when a lease for it is found
// (systemd-networkd and NetworkManager lease files, dhclient's lease
// files), with the lease's server. No WINS. Everything is placed in the
// caller's buffer, the chain's pointers pointing into it.
// Returns ERROR_SUCCESS; ERROR_BUFFER_OVERFLOW with the size needed in
// *pOutBufLen when the buffer is null or too small; ERROR_NO_DATA when
// there is no interface; ERROR_INVALID_PARAMETER for a null size.
SUNDRY_EXPORT DWORD GetAdaptersInfo(PIP_ADAPTER_INFO pAdapterInfo, ULONG* pOutBufLen);

// The host name up to its first dot; the domain after that dot, else the
// domain of the host's fully qualified name in /etc/hosts (a line naming
// the host whose first name begins with it and a dot); never a DNS query.
// The DNS servers are the nameserver lines of the resolver file, as a chain
// in the caller's buffer (the first entry in the record itself). Results as
// GetAdaptersInfo; ERROR_BUFFER_OVERFLOW whenever the servers need more
// room than sizeof(FIXED_INFO).
SUNDRY_EXPORT DWORD GetNetworkParams(PFIXED_INFO pFixedInfo, ULONG* pOutBufLen);

}  // extern "C"
#endif  // _WIN32

namespace sundry::platform {

// Facts Linux keeps outside any Win32 function (Windows keeps them in its
// hardware registry hive).
struct FirmwareInfo {
  std::string vendor;   // /sys/class/dmi/id/bios_vendor
  std::string version;  // bios_version
  std::string date;     // bios_date, as "MM/DD/YYYY"
};
// false when no firmware table is exposed (many virtual machines): the
// strings are then empty.
SUNDRY_EXPORT bool GetFirmwareInfo(FirmwareInfo* info);

struct ProcessorInfo {
  std::string name;        // "model name" of /proc/cpuinfo (the first processor)
  std::string identifier;  // "AuthenticAMD Family 25 Model 1 Stepping 1", from its vendor and numbers
};
SUNDRY_EXPORT bool GetProcessorInfo(ProcessorInfo* info);

// The desktop's default web browser: the handler of x-scheme-handler/http
// in the freedesktop mimeapps.list files (user's, then system's), its
// desktop entry's Name and the program of its Exec line. false when none
// is set.
struct BrowserInfo {
  std::string name;
  std::string program;
};
SUNDRY_EXPORT bool GetDefaultWebBrowser(BrowserInfo* info);

// The local calendar time of t, thread-safe. false when it has none.
SUNDRY_EXPORT bool LocalTime(time_t t, struct tm* out);

}  // namespace sundry::platform

// ---------------------------------------------------------------------------
// The resolver configuration file (Linux's counterpart of the adapters'
// DNS suffix search order). Not Win32 functions: the library's own.
namespace sundry::platform {

// The file: $SUNDRY_RESOLV_CONF when set and not empty, else /etc/resolv.conf
// below the system root.
SUNDRY_EXPORT std::string ResolverConfPath();

// Reads the search list as the C library's resolver takes it: lines that
// begin with "#" or ";" are comments; a line "search" followed by a blank
// or tab and at least one name sets the list to the names of the line
// (separated by blanks and tabs); a line "domain" so followed sets the list
// to its first name; the last such line wins. No such line: the list is
// empty (the resolver would then fall back on the host name's domain,
// which is not part of the file). Returns ERROR_SUCCESS with the list in
// *suffixes; ERROR_FILE_NOT_FOUND when the file does not exist (*suffixes
// empty: the resolver then has no list either); another code when it cannot
// be read.
SUNDRY_EXPORT DWORD ReadResolverSearchList(std::vector<std::string>* suffixes);

// Replaces the search list. Only the line that decides the list (the last
// "search" or "domain" line) is rewritten, to "search" and the names
// separated by blanks; every other byte of the file stays. An empty list
// removes every "search" and "domain" line (leaving one would bring an
// earlier one back into force). Without such a line the new one is
// appended; a missing file is created holding it.
//
// The file is replaced atomically (a new file beside it, committed, then
// renamed over it, keeping its permissions). Where the rename is refused
// because the file is a mount point of its own (EBUSY: a bind-mounted file,
// as containers have), it is rewritten in place instead.
//
// Returns ERROR_SUCCESS. ERROR_INVALID_PARAMETER, with nothing written,
// when a name is empty or holds a blank, a control character or "#" or ";".
// ERROR_NOT_SUPPORTED, with nothing written, when the file is a symbolic
// link into a resolver manager's runtime folder (systemd-resolved's
// /run/systemd/resolve, NetworkManager's /run/NetworkManager, resolvconf's
// /run/resolvconf): the manager would rewrite it behind the caller's back;
// *manager then holds the manager's name and *command the manager's own
// command that changes the list. Otherwise the code of the failed read or
// write, the file unchanged.
SUNDRY_EXPORT DWORD WriteResolverSearchList(const std::vector<std::string>& suffixes, std::string* manager,
                                            std::string* command);

}  // namespace sundry::platform
