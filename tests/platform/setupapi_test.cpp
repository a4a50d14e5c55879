// Device sets of set-up classes over a small sysfs tree made by the test.

#include "platform/fake_sysfs.h"

#include <sundry/platform/setupapi.h>

#include <cstring>

namespace {

using sundry::test::ScopedEnv;

class SetupApi : public ::testing::Test {
 protected:
  // A property's bytes, or the error code in angle brackets.
  std::string property(HDEVINFO set, SP_DEVINFO_DATA& d, DWORD id, DWORD* type = nullptr) {
    BYTE buf[MAX_PATH];
    DWORD need = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &d, id, type, buf, sizeof buf, &need))
      return "<" + std::to_string(GetLastError()) + ">";
    return std::string(reinterpret_cast<char*>(buf), need);
  }
  // The friendly names of a class's devices, each followed by '|'.
  std::string friendlyNames(const GUID* guid, DWORD flags = DIGCF_PRESENT) {
    HDEVINFO set = SetupDiGetClassDevsA(guid, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE) return "<invalid>";
    std::string names;
    SP_DEVINFO_DATA d;
    d.cbSize = sizeof d;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &d); ++i) names += property(set, d, SPDRP_FRIENDLYNAME).c_str() + std::string("|");
    EXPECT_WIN32(ERROR_NO_MORE_ITEMS, GetLastError());
    SetupDiDestroyDeviceInfoList(set);
    return names;
  }

  sundry::test::FakeSysfs m_sysfs;
  ScopedEnv m_root{"SUNDRY_SYSFS_ROOT", m_sysfs.root().c_str()};
};

// Ports with a UART, modems by their driver, network cards with a device;
// names from the USB product (UTF-8 turned into the ANSI code page) or the
// class, with the kernel name; sorted by kernel name within a class.
TEST_F(SetupApi, ClassesHoldTheirPresentDevicesByFriendlyName) {
  const GUID other = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
  const std::string ports = "Communications Port (ttyS0)|USB-Serial Controller (ttyUSB0)|";
  EXPECT_EQ(ports, friendlyNames(&GUID_DEVCLASS_PORTS));
  EXPECT_EQ("Mod\xE8m 56K (ttyACM0)|", friendlyNames(&GUID_DEVCLASS_MODEM));
  EXPECT_EQ("Network Adapter (eth0)|", friendlyNames(&GUID_DEVCLASS_NET));
  EXPECT_EQ("", friendlyNames(&other));
  EXPECT_EQ(ports + "Mod\xE8m 56K (ttyACM0)|Network Adapter (eth0)|",
            friendlyNames(nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
  ScopedEnv root("SUNDRY_SYSFS_ROOT", (m_sysfs.root() + "/absent").c_str());
  EXPECT_EQ("", friendlyNames(&GUID_DEVCLASS_PORTS));
}

TEST_F(SetupApi, PropertiesAndMisuse) {
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  ASSERT_NE(INVALID_HANDLE_VALUE, set);
  SP_DEVINFO_DATA d;
  d.cbSize = sizeof d;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &d));  // the USB adapter
  EXPECT_EQ(0, std::memcmp(&GUID_DEVCLASS_PORTS, &d.ClassGuid, sizeof(GUID)));
  DWORD type = 0;
  EXPECT_EQ(std::string("USB\\VID_0403&PID_6001\0\0", 23), property(set, d, SPDRP_HARDWAREID, &type));
  EXPECT_EQ(REG_MULTI_SZ, type);
  EXPECT_EQ(std::string("FTDI\0", 5), property(set, d, SPDRP_MFG, &type));
  EXPECT_EQ(REG_SZ, type);
  const struct { DWORD id; std::string value; } usb[] = {
      {SPDRP_DEVICEDESC, std::string("USB-Serial Controller\0", 22)}, {SPDRP_SERVICE, std::string("ftdi_sio\0", 9)},
      {SPDRP_CLASS, std::string("Ports\0", 6)}, {SPDRP_LOCATION_INFORMATION, std::string("ttyUSB0\0", 8)},
      {SPDRP_CLASSGUID, std::string("{4d36e978-e325-11ce-bfc1-08002be10318}\0", 39)},
      {0x1F, "<13>"}};  // not a property kept here
  for (const auto& p : usb) EXPECT_EQ(p.value, property(set, d, p.id)) << p.id;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 3, &d));  // the network card
  EXPECT_EQ(std::string("PCI\\VEN_8086&DEV_100E\0\0", 23), property(set, d, SPDRP_HARDWAREID));
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &d));  // the 8250 port: no manufacturer
  EXPECT_EQ("<13>", property(set, d, SPDRP_MFG));

  // A buffer that is too small tells the size and is left alone.
  BYTE small[4] = {1, 2, 3, 4};
  DWORD need = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_FRIENDLYNAME, nullptr, small, sizeof small, &need));
  EXPECT_WIN32(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(sizeof("Communications Port (ttyS0)"), need);
  EXPECT_EQ(1, small[0]);
  // Records of the wrong size or of another set's devices.
  SP_DEVINFO_DATA bad = d;
  bad.cbSize = 32;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &bad));
  EXPECT_WIN32(ERROR_INVALID_USER_BUFFER, GetLastError());
  bad = d;
  bad.DevInst = 99;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &bad, SPDRP_CLASS, nullptr, small, sizeof small, nullptr));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());

  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &d));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, SetupDiGetClassDevsA(&GUID_DEVCLASS_NET, nullptr, nullptr, DIGCF_DEVICEINTERFACE));
  EXPECT_WIN32(ERROR_INVALID_FLAGS, GetLastError());
}

}  // namespace
