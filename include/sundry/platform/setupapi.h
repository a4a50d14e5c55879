#pragma once
// Device set-up classes (SetupAPI) over sysfs.
//
// Three classes have devices here, each from one sysfs class folder:
//
//   Ports (COM & LPT)  GUID_DEVCLASS_PORTS  serial terminals of class/tty
//                      that have a device behind them, except modems; an
//                      8250-style port whose "type" is 0 has no UART and is
//                      not present
//   Modem              GUID_DEVCLASS_MODEM  serial terminals driven by
//                      cdc_acm: USB devices of the communications class,
//                      which are modems (ttyACM0, ...)
//   Net                GUID_DEVCLASS_NET    network interfaces of class/net
//                      that have a device behind them (loopback, bridges,
//                      veth and tunnels are not devices)
//
// Any other class has no devices. The sysfs root is $SUNDRY_SYSFS_ROOT when
// set and not empty, else /sys; tests point it at a small tree of their own.
//
// Properties of a device come from its attributes and those of the nearest
// USB device (idVendor, idProduct, manufacturer, product) or PCI device
// (vendor, device) above it in the device tree:
//
//   SPDRP_DEVICEDESC   the USB product string, else "Communications Port",
//                      "Modem" or "Network Adapter"
//   SPDRP_FRIENDLYNAME the description and the kernel name in brackets:
//                      "USB-Serial Controller (ttyUSB0)", "Network Adapter
//                      (eth0)"
//   SPDRP_MFG          the USB manufacturer string
//   SPDRP_HARDWAREID   "USB\VID_0403&PID_6001" or "PCI\VEN_8086&DEV_100E"
//                      (REG_MULTI_SZ)
//   SPDRP_SERVICE      the kernel driver ("ftdi_sio", "e1000e")
//   SPDRP_CLASS        "Ports", "Modem" or "Net"
//   SPDRP_CLASSGUID    the class GUID as text, in lower case as Windows keeps it
//   SPDRP_LOCATION_INFORMATION  the kernel name ("ttyUSB0", "eth0")
//
// Texts are converted from UTF-8 to the ANSI code page. The devices of a
// set are read when the set is made and sorted by kernel name within each
// class. Every function is thread-safe; a set must not be destroyed while
// another thread uses it.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#if defined(_WIN32)
#include <setupapi.h>
#include <initguid.h>
#include <devguid.h>
#else
typedef void* HDEVINFO;

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

#define SPDRP_DEVICEDESC 0x00000000u
#define SPDRP_HARDWAREID 0x00000001u
#define SPDRP_SERVICE 0x00000004u
#define SPDRP_CLASS 0x00000007u
#define SPDRP_CLASSGUID 0x00000008u
#define SPDRP_MFG 0x0000000Bu
#define SPDRP_FRIENDLYNAME 0x0000000Cu
#define SPDRP_LOCATION_INFORMATION 0x0000000Du

// {4D36E96D-E325-11CE-BFC1-08002BE10318}
inline constexpr GUID GUID_DEVCLASS_MODEM = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// {4D36E978-E325-11CE-BFC1-08002BE10318}
inline constexpr GUID GUID_DEVCLASS_PORTS = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// {4D36E972-E325-11CE-BFC1-08002BE10318}
inline constexpr GUID GUID_DEVCLASS_NET = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// One device of a set, laid out as the 32-bit Windows structure: the caller
// sets cbSize to sizeof(SP_DEVINFO_DATA), 28. DevInst numbers the device in
// its set (from 1); Reserved is 32 bits wide to keep the 32-bit size.
struct SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  DWORD Reserved;
};
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA has the 32-bit layout");
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

extern "C" {

// Makes the set of devices of class *ClassGuid, or of every class with
// DIGCF_ALLCLASSES (ClassGuid is then ignored). Only present devices are
// known, so DIGCF_PRESENT changes nothing; DIGCF_PROFILE and DIGCF_DEFAULT
// are accepted and change nothing either; hwndParent is ignored. Returns the
// set, freed with SetupDiDestroyDeviceInfoList, or INVALID_HANDLE_VALUE with
// the last error set: ERROR_INVALID_PARAMETER for a null ClassGuid without
// DIGCF_ALLCLASSES or an Enumerator (enumerator filters are not kept);
// ERROR_INVALID_FLAGS for DIGCF_DEVICEINTERFACE or unknown flags;
// ERROR_NOT_ENOUGH_MEMORY. A class without devices, or a sysfs root without
// the class folders, gives an empty set.
SUNDRY_EXPORT HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR Enumerator, HWND hwndParent, DWORD Flags);

// Fills *DeviceInfoData with the device at MemberIndex (from 0) and returns
// TRUE. FALSE with the last error set and *DeviceInfoData unchanged:
// ERROR_NO_MORE_ITEMS for an index past the last device;
// ERROR_INVALID_USER_BUFFER when cbSize is not sizeof(SP_DEVINFO_DATA);
// ERROR_INVALID_PARAMETER for a null DeviceInfoData; ERROR_INVALID_HANDLE
// for a handle that is not an open set.
SUNDRY_EXPORT BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);

// Reads a property (SPDRP_*) of a device of the set. On success returns
// TRUE, copies the value (REG_SZ, zero-terminated; REG_MULTI_SZ for
// SPDRP_HARDWAREID) into PropertyBuffer, and sets *PropertyRegDataType and
// *RequiredSize (the value's size in bytes) when those are not null.
// FALSE with the last error set:
//   ERROR_INSUFFICIENT_BUFFER when PropertyBufferSize is too small (also 0
//     with a null buffer); *RequiredSize and *PropertyRegDataType are then
//     set, the buffer is untouched;
//   ERROR_INVALID_DATA when the device does not have the property, or the
//     property is not one of those listed at the top of this file;
//   ERROR_INVALID_USER_BUFFER for a bad cbSize, or a null buffer with a
//     non-zero size; ERROR_INVALID_PARAMETER for a null DeviceInfoData or a
//     DevInst not of this set; ERROR_INVALID_HANDLE for a bad set.
SUNDRY_EXPORT BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                     DWORD Property, LPDWORD PropertyRegDataType,
                                                     LPBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                                     LPDWORD RequiredSize);

// Frees a set. TRUE, or FALSE with ERROR_INVALID_HANDLE for a handle that
// is not an open set.
SUNDRY_EXPORT BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
}
#endif  // _WIN32
