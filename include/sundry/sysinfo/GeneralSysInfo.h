#pragma once
// CGeneralSysInfo: facts about this machine, each rendered as a fragment of
// RTF body text (control words such as "\par", real tab characters, no
// header and no braces), and the report that joins them.
//
// Every getter returns its fragment, owned by the object and valid until
// the object goes. A fragment is built on the first call that produces
// text and returned unchanged afterwards (a source that yields nothing is
// asked again next time); getNetworkAdapterInfo is rebuilt on every call.
// No getter fails: a source that cannot be read leaves its part out.
//
// Where the facts come from on Linux (all below the system root of
// <sundry/platform/sysinfo.h>; nothing queries the network):
//   BIOS         /sys/class/dmi/id (bios_vendor and bios_version joined by a
//                blank, bios_date); empty where no firmware table is exposed
//   boot time    the kernel's boot instant ("btime" of /proc/stat)
//   last boot    "Fail-safe" when the kernel command line asks for single-
//                user, rescue or emergency mode, else "Normal"
//   CPU          the processors online; /proc/cpuinfo's model name, and its
//                vendor, family, model and stepping as the identifier
//   memory       /proc/meminfo; the swap space stands for the paging file
//   OS           the kernel release (uname) as version and build; the
//                distribution's PRETTY_NAME (/etc/os-release) as service pack;
//                no Windows name ("(Build 44)\n" for kernel 6.18.44,
//                "version 4.19 (Build 0)\n" for 4.19.0)
//   host, domain the host name up to its first dot, the rest or the domain
//                of the host's full name in /etc/hosts
//   user, temp, time zone, locale: the effective user's name, TMPDIR, the
//                C library's zone abbreviation, the locale's territory
//   directories  no counterpart on Linux: Windows directory "/usr", system
//                directory "/usr/lib"
//   drives       the mounts of /proc/self/mountinfo that hold files (see
//                GetLogicalDriveStringsA); network mounts are never asked
//                for their free space, so a dead server cannot hang a report
//   browser      the http handler in the registry, else the desktop's
//                default web browser (mimeapps.list)
//   display      DRM connectors or frame buffers in sysfs; "Monitor:    none"
//                when there is no display
//   adapters     see GetAdaptersInfo
//
// Texts taken from the system (names, paths, descriptions) are escaped for
// RTF (RtfEscape: "\", "{", "}" and characters beyond ASCII), so a file or
// host name can never end or corrupt the document. Paths are written with
// "/" separators.
//
// Copies take every text and the processor record; each object reads its
// own adapter list and network parameters (nothing is shared or freed
// twice). Not thread-safe: one object per thread.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/sysinfo.h>
#include <sundry/platform/wintypes.h>

#include <memory>

class SUNDRY_EXPORT CGeneralSysInfo {
 public:
  CGeneralSysInfo();
  CGeneralSysInfo(const CGeneralSysInfo& other);
  CGeneralSysInfo& operator=(const CGeneralSysInfo& other);
  virtual ~CGeneralSysInfo();

  // Does nothing.
  void intialize();

  const char* getBIOSVersion();
  const char* getBootLast();
  const char* getBootTime();
  const char* getCPU();
  const char* getDisplayMonitor();
  const char* getDomainName();
  const char* getHostName();
  const char* getIEVersion();
  const char* getLocale();
  const char* getMemeoryInfo();
  const char* getNetworkAdapterInfo();
  const char* getOSVersion();
  const char* getServicePack();
  const char* getSystemDirectory();
  const char* getTempDirectory();
  const char* getTimeZone();
  const char* getUserName();
  const char* getVolumes();
  const char* getWindowsDirectory();
  // The file information text, which nothing fills: always empty.
  const char* obtainFileInfo();

  // The whole report: every fragment under its heading, built once.
  const char* obtainFormattedSysInfo();
  // Appends the listing of every entry matching pattern ("dir/*.*"; null:
  // the product directory) and of every directory below, and returns the
  // whole listing. A directory reached through a symbolic link is listed
  // but not entered (a link to a parent would never end). A null pattern
  // on a non-empty listing returns it without searching. Versions print as
  // unsigned numbers.
  const char* getProductFiles(const char* pattern);
  // The product directory: the pattern becomes directory, a separator
  // unless it ends in one, and "*.*".
  void setProductDirectory(const char* directory);

 private:
  void readSystemInfo();
  int readNetworkParams();
  void readIPAddresses();

  CString m_StrBIOSVersion;
  CString m_StrBootLast;
  CString m_StrBootTime;
  CString m_StrCPU;
  CString m_StrDisplay;
  CString m_StrDomainName;
  CString m_StrHostName;
  CString m_StrIEVersion;
  CString m_StrLocale;
  CString m_StrMemoryInfo;
  CString m_StrNetworkAdapterInfo;
  CString m_StrOSVersion;
  CString m_StrProductFiles;
  CString m_StrServicePack;
  CString m_StrSystemDirectory;
  CString m_StrTempDirectory;
  CString m_StrTimeZone;
  CString m_StrUserName;
  CString m_StrVolumes;
  CString m_StrWindowsDirectory;
  CString m_StrFormattedSysInfo;
  CString m_StrFileInfo;
  SYSTEM_INFO m_SystemInfo;
  // The network parameters and the adapter list, each sized from what the
  // system answered; owned by this object alone.
  std::unique_ptr<unsigned char[]> m_pNetworkParams;
  std::unique_ptr<unsigned char[]> m_pAdapterInfo;
  CString m_StrProductDirectory;
};
