// CSundry: whether a present device of a set-up class has a given name.

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/error.h>
#include <sundry/platform/setupapi.h>
#include <sundry/util/Sundry.h>

#include <cstring>

int CSundry::DeviceAvailable(GUID* classGuid, const char* deviceName, char* foundName) {
  char guidText[iGUIDStringLen];
  CDebugLog log("DeviceAvailable", "GUID = %s, Device = %s", GUIDtoTCHAR(classGuid, guidText),
                deviceName != nullptr ? deviceName : "(null)");
  HDEVINFO devices = SetupDiGetClassDevsA(classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_PROFILE);
  if (devices == INVALID_HANDLE_VALUE) {
    log.Report("Error", "SetupDiGetClassDevs, dwErr = %d", static_cast<int>(GetLastError()));
    return 0;
  }
  int result = 0;
  // Without a name to look for nothing can match.
  const size_t prefix = deviceName != nullptr ? std::strlen(deviceName) : 0;
  for (DWORD index = 0; deviceName != nullptr; ++index) {
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInfo(devices, index, &device)) {
      const DWORD err = GetLastError();
      if (err == ERROR_NO_MORE_ITEMS)
        log.Report("Note", "SetupDiEnumDeviceInfo, No more items");
      else
        log.Report("Error", "SetupDiEnumDeviceInfo, dwErr = %d", static_cast<int>(err));
      break;
    }
    char name[MAX_PATH];
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(name),
                                           sizeof name, nullptr))
      continue;
    if (std::strncmp(name, deviceName, prefix) == 0) {
      result = 1;
      if (foundName != nullptr)
        std::memcpy(foundName, name, std::strlen(name) + 1);  // at most MAX_PATH with the terminator
      else
        log.Report("Note", "Found device %s.", deviceName);
      break;
    }
    log.Report("Note", "Found other device: %s", name);
  }
  SetupDiDestroyDeviceInfoList(devices);
  log.Report("Return", "%s", result ? "T" : "F");
  return result;
}
