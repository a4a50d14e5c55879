// Device sets over sysfs: class/tty and class/net read once per set.

#include "platform/posix/files.h"
#include "platform/posix/handles.h"
#include "platform/posix/sysroot.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/setupapi.h>
#include <sundry/platform/shell.h>
#include <sundry/platform/sync.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

using sundry::platform::posix::BaseName;
using sundry::platform::posix::HandleKind;
using sundry::platform::posix::HandleLookup;
using sundry::platform::posix::HandleNew;

// This file's kind of object in the shared handle table.
constexpr HandleKind kDeviceSetKind = HandleKind::DeviceInfoSet;

constexpr DWORD kKnownFlags = DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE;

struct Device {
  GUID classGuid;
  const char* className;
  std::string kernelName;
  std::string description;
  std::string friendlyName;
  std::string manufacturer;
  std::string hardwareId;
  std::string service;
};

struct DeviceSet {
  std::vector<Device> devices;
};

BOOL closeDeviceSet(void* object) {
  delete static_cast<DeviceSet*>(object);
  return TRUE;
}

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string sysfsRoot() { return sundry::platform::posix::SystemPath("/sys"); }

// An attribute's text without its trailing line end and blanks; false when
// it cannot be read. Attributes are small: more than 4 KiB is cut.
bool readAttribute(const std::string& path, std::string& value) {
  if (!sundry::platform::posix::ReadSmallFile(path, &value, 4096)) return false;
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ' || value.back() == '\t' ||
                            value.back() == '\r' || value.back() == '\0'))
    value.pop_back();
  return true;
}

std::string realPath(const std::string& path) {
  std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

// UTF-8 text of sysfs into the ANSI code page; a byte that does not start
// a valid sequence stands for one unknown character.
std::string ansiFromUtf8(const std::string& in) {
  std::u16string wide;
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    bool ok = len != 0 && i + len <= in.size();
    for (size_t k = 1; ok && k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(in[i + k]);
      ok = (cc & 0xC0) == 0x80;
      cp = cp << 6 | (cc & 0x3F);
    }
    if (!ok) {
      wide.push_back(0xFFFD);
      ++i;
      continue;
    }
    wide.push_back(cp <= 0xFFFF ? static_cast<char16_t>(cp) : 0xFFFD);
    i += len;
  }
  return sundry::platform::AnsiFromWide(wide);
}

void upperCase(std::string& s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

// Attributes of the nearest USB or PCI device at or above devDir, not
// leaving the sysfs root.
void describeBus(const std::string& rootReal, const std::string& devDir, Device& d) {
  std::string dir = devDir;
  while (dir.size() > rootReal.size() && dir.compare(0, rootReal.size(), rootReal) == 0) {
    std::string vendor, product;
    if (readAttribute(dir + "/idVendor", vendor) && readAttribute(dir + "/idProduct", product)) {
      char id[64];
      std::snprintf(id, sizeof id, "USB\\VID_%.4s&PID_%.4s", vendor.c_str(), product.c_str());
      d.hardwareId = id;
      upperCase(d.hardwareId);
      std::string text;
      if (readAttribute(dir + "/product", text) && !text.empty()) d.description = ansiFromUtf8(text);
      if (readAttribute(dir + "/manufacturer", text) && !text.empty()) d.manufacturer = ansiFromUtf8(text);
      return;
    }
    if (readAttribute(dir + "/vendor", vendor) && readAttribute(dir + "/device", product) &&
        vendor.compare(0, 2, "0x") == 0 && product.compare(0, 2, "0x") == 0) {
      char id[64];
      std::snprintf(id, sizeof id, "PCI\\VEN_%.4s&DEV_%.4s", vendor.c_str() + 2, product.c_str() + 2);
      d.hardwareId = id;
      upperCase(d.hardwareId);
      return;
    }
    dir.resize(dir.rfind('/'));
  }
}

// The entries of a class folder, sorted by name.
std::vector<std::string> classEntries(const std::string& classDir) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(classDir.c_str()), &::closedir);
  if (!dir) return names;
  while (struct dirent* e = ::readdir(dir.get()))
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  std::sort(names.begin(), names.end());
  return names;
}

// Reads the devices of one class (or all with wantAll) into set.
void collect(const GUID* wanted, bool wantAll, DeviceSet& set) {
  const std::string root = sysfsRoot();
  const std::string rootReal = realPath(root);
  if (rootReal.empty()) return;
  const bool wantPorts = wantAll || sameGuid(*wanted, GUID_DEVCLASS_PORTS);
  const bool wantModems = wantAll || sameGuid(*wanted, GUID_DEVCLASS_MODEM);
  const bool wantNet = wantAll || sameGuid(*wanted, GUID_DEVCLASS_NET);

  if (wantPorts || wantModems) {
    std::vector<Device> ports, modems;
    const std::string classDir = root + "/class/tty";
    for (const std::string& name : classEntries(classDir)) {
      const std::string entry = classDir + "/" + name;
      const std::string devDir = realPath(entry + "/device");
      if (devDir.empty()) continue;  // a virtual terminal, a pty: no device
      std::string type;
      if (readAttribute(entry + "/type", type) && type == "0") continue;  // no UART at this port
      Device d{};
      d.kernelName = name;
      d.service = BaseName(realPath(devDir + "/driver"));
      const bool modem = d.service == "cdc_acm";
      d.classGuid = modem ? GUID_DEVCLASS_MODEM : GUID_DEVCLASS_PORTS;
      d.className = modem ? "Modem" : "Ports";
      describeBus(rootReal, devDir, d);
      if (d.description.empty()) d.description = modem ? "Modem" : "Communications Port";
      d.friendlyName = d.description + " (" + name + ")";
      (modem ? modems : ports).push_back(std::move(d));
    }
    if (wantPorts) set.devices.insert(set.devices.end(), ports.begin(), ports.end());
    if (wantModems) set.devices.insert(set.devices.end(), modems.begin(), modems.end());
  }
  if (wantNet) {
    const std::string classDir = root + "/class/net";
    for (const std::string& name : classEntries(classDir)) {
      const std::string devDir = realPath(classDir + "/" + name + "/device");
      if (devDir.empty()) continue;  // a virtual interface
      Device d{};
      d.kernelName = name;
      d.classGuid = GUID_DEVCLASS_NET;
      d.className = "Net";
      d.service = BaseName(realPath(devDir + "/driver"));
      describeBus(rootReal, devDir, d);
      if (d.description.empty()) d.description = "Network Adapter";
      d.friendlyName = d.description + " (" + name + ")";
      set.devices.push_back(std::move(d));
    }
  }
}

// The device an SP_DEVINFO_DATA names in set, or null with the last error.
const Device* deviceOf(const DeviceSet& set, PSP_DEVINFO_DATA data) {
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return nullptr;
  }
  if (data->DevInst == 0 || data->DevInst > set.devices.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &set.devices[data->DevInst - 1];
}

std::string guidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

}  // namespace

extern "C" HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR Enumerator, HWND, DWORD Flags) {
  if ((Flags & ~kKnownFlags) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return INVALID_HANDLE_VALUE;
  }
  const bool all = (Flags & DIGCF_ALLCLASSES) != 0;
  if ((!all && ClassGuid == nullptr) || Enumerator != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<DeviceSet> set;
  try {
    set = std::make_unique<DeviceSet>();
    collect(ClassGuid, all, *set);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = HandleNew(kDeviceSetKind, set.get(), closeDeviceSet);
  if (h == nullptr) return INVALID_HANDLE_VALUE;
  set.release();
  return h;
}

extern "C" BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  auto* set = static_cast<DeviceSet*>(HandleLookup(DeviceInfoSet, kDeviceSetKind));
  if (set == nullptr) return FALSE;  // ERROR_INVALID_HANDLE
  if (DeviceInfoData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (MemberIndex >= set->devices.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  DeviceInfoData->ClassGuid = set->devices[MemberIndex].classGuid;
  DeviceInfoData->DevInst = MemberIndex + 1;
  DeviceInfoData->Reserved = 0;
  return TRUE;
}

extern "C" BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                  DWORD Property, LPDWORD PropertyRegDataType, LPBYTE PropertyBuffer,
                                                  DWORD PropertyBufferSize, LPDWORD RequiredSize) {
  auto* set = static_cast<DeviceSet*>(HandleLookup(DeviceInfoSet, kDeviceSetKind));
  if (set == nullptr) return FALSE;  // ERROR_INVALID_HANDLE
  const Device* d = deviceOf(*set, DeviceInfoData);
  if (d == nullptr) return FALSE;
  if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::string value;
  DWORD type = REG_SZ;
  switch (Property) {
    case SPDRP_DEVICEDESC: value = d->description; break;
    case SPDRP_FRIENDLYNAME: value = d->friendlyName; break;
    case SPDRP_MFG: value = d->manufacturer; break;
    case SPDRP_HARDWAREID: value = d->hardwareId; type = REG_MULTI_SZ; break;
    case SPDRP_SERVICE: value = d->service; break;
    case SPDRP_CLASS: value = d->className; break;
    case SPDRP_CLASSGUID: value = guidText(d->classGuid); break;
    case SPDRP_LOCATION_INFORMATION: value = d->kernelName; break;
    default: break;
  }
  if (value.empty()) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  value.push_back('\0');
  if (type == REG_MULTI_SZ) value.push_back('\0');
  const DWORD needed = static_cast<DWORD>(value.size());
  if (PropertyRegDataType != nullptr) *PropertyRegDataType = type;
  if (RequiredSize != nullptr) *RequiredSize = needed;
  if (PropertyBufferSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(PropertyBuffer, value.data(), needed);
  return TRUE;
}

extern "C" BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (HandleLookup(DeviceInfoSet, kDeviceSetKind) == nullptr) return FALSE;
  return CloseHandle(DeviceInfoSet);
}
