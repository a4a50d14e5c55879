// CSundry::DeviceAvailable over the system's SetupAPI: a port device that
// the test registers (and removes again) under a name of its own.

#include "support/testutil.h"

#include <sundry/platform/setupapi.h>
#include <sundry/util/Sundry.h>

#include <cctype>

#include <string>

namespace {

// A root-enumerated device of the class, with the friendly name given, for
// as long as the object lives.
class RegisteredDevice {
 public:
  RegisteredDevice(const GUID& cls, const char* className, const std::string& friendlyName)
      : m_set(SetupDiCreateDeviceInfoList(&cls, nullptr)) {
    m_device.cbSize = sizeof m_device;
    m_made = m_set != INVALID_HANDLE_VALUE &&
             SetupDiCreateDeviceInfoA(m_set, className, &cls, nullptr, nullptr, DICD_GENERATE_ID, &m_device) &&
             SetupDiRegisterDeviceInfo(m_set, &m_device, 0, nullptr, nullptr, nullptr);
    m_registered = m_made;
    m_made = m_made && SetupDiSetDeviceRegistryPropertyA(m_set, &m_device, SPDRP_FRIENDLYNAME,
                                                         reinterpret_cast<const BYTE*>(friendlyName.c_str()),
                                                         static_cast<DWORD>(friendlyName.size() + 1));
    if (!m_made) m_error = GetLastError();
  }
  ~RegisteredDevice() {
    if (m_registered) SetupDiRemoveDevice(m_set, &m_device);
    if (m_set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_set);
  }
  RegisteredDevice(const RegisteredDevice&) = delete;
  RegisteredDevice& operator=(const RegisteredDevice&) = delete;
  bool made() const { return m_made; }
  DWORD error() const { return m_error; }

 private:
  HDEVINFO m_set;
  SP_DEVINFO_DATA m_device{};
  bool m_made = false, m_registered = false;
  DWORD m_error = 0;
};

std::string available(GUID guid, const char* prefix) {
  char found[MAX_PATH] = "";
  return CSundry::DeviceAvailable(&guid, prefix, found) ? std::string(found) : std::string();
}

TEST(Devices, FindsARegisteredDeviceOfTheClassByTheStartOfItsName) {
  const std::string name = "Sundry Test Port " + std::to_string(GetCurrentProcessId()) + " (COM9)";
  const std::string prefix = name.substr(0, name.size() - 7);
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, prefix.c_str()));
  {
    RegisteredDevice port(GUID_DEVCLASS_PORTS, "Ports", name);
    // Registering a device takes an administrator on Windows (Wine's user
    // is one).
    if (!port.made()) GTEST_SKIP() << "cannot register a device: error " << port.error();
    EXPECT_EQ(name, available(GUID_DEVCLASS_PORTS, prefix.c_str()));
    EXPECT_EQ(name, available(GUID_DEVCLASS_PORTS, name.c_str()));
    EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, (name + " and more").c_str()));
    std::string lower = prefix;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, lower.c_str()));  // case counts
    EXPECT_EQ("", available(GUID_DEVCLASS_MODEM, prefix.c_str()));  // another class
    GUID ports = GUID_DEVCLASS_PORTS;
    EXPECT_EQ(1, CSundry::DeviceAvailable(&ports, prefix.c_str(), nullptr));  // no copy is asked for
    EXPECT_EQ(0, CSundry::DeviceAvailable(&ports, nullptr, nullptr));
  }
  // Removed with the object.
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, prefix.c_str()));
}

}  // namespace
