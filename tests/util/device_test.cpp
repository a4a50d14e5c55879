// Devices of set-up classes, over a small sysfs tree made by the test: the
// class folders link to device folders as the kernel's do, with USB and
// PCI parents carrying the attributes the names come from.

#include "support/testutil.h"

#include <sundry/platform/setupapi.h>
#include <sundry/util/Sundry.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using sundry::test::ReadFile;
using sundry::test::ScopedEnv;
using sundry::test::TempDir;
using sundry::test::WriteFile;

// The debug log goes to a file of this process unless the environment
// names one already.
sundry::test::DebugLogToFile g_log("device-test");
using sundry::test::LogTail;

class FakeSysfs {
 public:
  FakeSysfs() {
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1";
    // An FTDI USB serial adapter: ttyUSB0 under the usb-serial port.
    dir(usb + "/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0");
    attr(usb + "/1-2/idVendor", "0403\n");
    attr(usb + "/1-2/idProduct", "6001\n");
    attr(usb + "/1-2/manufacturer", "FTDI\n");
    attr(usb + "/1-2/product", "USB-Serial Controller\n");
    driver(usb + "/1-2/1-2:1.0/ttyUSB0", "bus/usb-serial/drivers/ftdi_sio");
    classEntry("tty", "ttyUSB0", usb + "/1-2/1-2:1.0/ttyUSB0");
    // A USB modem (communications class, cdc_acm), its name in UTF-8.
    dir(usb + "/1-3/1-3:1.0/tty/ttyACM0");
    attr(usb + "/1-3/idVendor", "1d6b\n");
    attr(usb + "/1-3/idProduct", "a0c1\n");
    attr(usb + "/1-3/product", "Mod\xC3\xA8m 56K\n");
    driver(usb + "/1-3/1-3:1.0", "bus/usb/drivers/cdc_acm");
    classEntry("tty", "ttyACM0", usb + "/1-3/1-3:1.0");
    // Two 8250 ports of which only the first has a UART.
    dir("devices/platform/serial8250/tty/ttyS0");
    driver("devices/platform/serial8250", "bus/platform/drivers/serial8250");
    classEntry("tty", "ttyS0", "devices/platform/serial8250");
    attr("class/tty/ttyS0/type", "4\n");
    classEntry("tty", "ttyS1", "devices/platform/serial8250");
    attr("class/tty/ttyS1/type", "0\n");
    // A virtual console: no device behind it.
    dir("class/tty/tty0");
    // A PCI network card, and the loopback interface.
    dir("devices/pci0000:00/0000:00:03.0/net/eth0");
    attr("devices/pci0000:00/0000:00:03.0/vendor", "0x8086\n");
    attr("devices/pci0000:00/0000:00:03.0/device", "0x100e\n");
    driver("devices/pci0000:00/0000:00:03.0", "bus/pci/drivers/e1000");
    classEntry("net", "eth0", "devices/pci0000:00/0000:00:03.0");
    dir("class/net/lo");
  }

  std::string root() const { return m_root.path(); }

  // Another port whose USB product string is as long as asked.
  void addLongNamedPort(size_t length) {
    const std::string dev = "devices/pci0000:00/0000:00:14.0/usb1/1-4";
    dir(dev + "/1-4:1.0/ttyUSB1");
    attr(dev + "/idVendor", "067b\n");
    attr(dev + "/idProduct", "2303\n");
    attr(dev + "/product", std::string(length, 'L') + "\n");
    classEntry("tty", "ttyUSB1", dev + "/1-4:1.0/ttyUSB1");
  }

 private:
  void dir(const std::string& rel) {
    std::string path = m_root.path();
    for (size_t pos = 0; pos != std::string::npos;) {
      const size_t next = rel.find('/', pos);
      path = m_root.path() + "/" + rel.substr(0, next);
      ::mkdir(path.c_str(), 0755);
      pos = next == std::string::npos ? next : next + 1;
    }
  }
  void attr(const std::string& rel, const std::string& value) {
    dir(rel.substr(0, rel.rfind('/')));
    EXPECT_TRUE(WriteFile(m_root.file(rel), value));
  }
  void link(const std::string& target, const std::string& rel) {
    dir(rel.substr(0, rel.rfind('/')));
    EXPECT_EQ(0, ::symlink(m_root.file(target).c_str(), m_root.file(rel).c_str())) << rel;
  }
  void driver(const std::string& device, const std::string& driverDir) {
    dir(driverDir);
    link(driverDir, device + "/driver");
  }
  void classEntry(const std::string& cls, const std::string& name, const std::string& device) {
    dir("class/" + cls + "/" + name);
    link(device, "class/" + cls + "/" + name + "/device");
  }

  TempDir m_root;
};

class DeviceTest : public ::testing::Test {
 protected:
  // The friendly names DeviceAvailable finds for a prefix, or "" for none.
  std::string available(GUID guid, const char* prefix) {
    char found[MAX_PATH] = "";
    return CSundry::DeviceAvailable(&guid, prefix, found) ? std::string(found) : std::string();
  }

  FakeSysfs m_sysfs;
  ScopedEnv m_root{"SUNDRY_SYSFS_ROOT", m_sysfs.root().c_str()};
};

TEST_F(DeviceTest, FindsPresentDevicesOfEachClassByNamePrefix) {
  EXPECT_EQ("USB-Serial Controller (ttyUSB0)", available(GUID_DEVCLASS_PORTS, "USB-Serial"));
  EXPECT_EQ("Communications Port (ttyS0)", available(GUID_DEVCLASS_PORTS, "Communications"));
  // The empty name matches the first port (by kernel name).
  EXPECT_EQ("Communications Port (ttyS0)", available(GUID_DEVCLASS_PORTS, ""));
  // Case counts; the port without a UART, the modem and the console are no ports.
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, "usb-serial"));
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, "Communications Port (ttyS1)"));
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, "Mod"));
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, "USB-Serial Controller (ttyUSB0) and more"));

  EXPECT_EQ("Mod\xE8m 56K (ttyACM0)", available(GUID_DEVCLASS_MODEM, ""));
  EXPECT_EQ("Network Adapter (eth0)", available(GUID_DEVCLASS_NET, "Network"));
  EXPECT_EQ("", available(GUID_DEVCLASS_NET, "Network Adapter (lo)"));
  const GUID other = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
  EXPECT_EQ("", available(other, ""));

  // No copy is asked for.
  GUID ports = GUID_DEVCLASS_PORTS;
  EXPECT_EQ(1, CSundry::DeviceAvailable(&ports, "USB", nullptr));
}

TEST_F(DeviceTest, LogsEachStepWithItsTexts) {
  if (sundry::test::DebugLogFile().empty()) GTEST_SKIP() << "SUNDRY_LOG does not name a file";
  GUID ports = GUID_DEVCLASS_PORTS;
  {
    LogTail log;
    EXPECT_EQ(1, CSundry::DeviceAvailable(&ports, "USB-Serial", nullptr));
    EXPECT_TRUE(log.has("DeviceAvailable Enter: GUID = {4D36E978-E325-11CE-BFC1-08002BE10318}, Device = USB-Serial"))
        << log.text();
    EXPECT_TRUE(log.has("DeviceAvailable Note: Found other device: Communications Port (ttyS0)")) << log.text();
    EXPECT_TRUE(log.has("DeviceAvailable Note: Found device USB-Serial.")) << log.text();
    EXPECT_TRUE(log.has("DeviceAvailable Return: T")) << log.text();
  }
  {
    LogTail log;
    char found[MAX_PATH];
    EXPECT_EQ(1, CSundry::DeviceAvailable(&ports, "USB", found));
    EXPECT_EQ(std::string::npos, log.text().find("Found device")) << log.text();
  }
  {
    LogTail log;
    EXPECT_EQ(0, CSundry::DeviceAvailable(&ports, "Nothing", nullptr));
    EXPECT_TRUE(log.has("DeviceAvailable Note: Found other device: USB-Serial Controller (ttyUSB0)")) << log.text();
    EXPECT_TRUE(log.has("DeviceAvailable Note: SetupDiEnumDeviceInfo, No more items")) << log.text();
    EXPECT_TRUE(log.has("DeviceAvailable Return: F")) << log.text();
  }
  {
    LogTail log;
    EXPECT_EQ(0, CSundry::DeviceAvailable(nullptr, "USB", nullptr));
    EXPECT_TRUE(log.has("DeviceAvailable Error: SetupDiGetClassDevs, dwErr = 87")) << log.text();
  }
}

TEST_F(DeviceTest, NamesTooLongForTheBufferAreSkipped) {
  m_sysfs.addLongNamedPort(300);
  GUID ports = GUID_DEVCLASS_PORTS;
  char found[MAX_PATH + 16];
  std::memset(found, 'Z', sizeof found);
  EXPECT_EQ(0, CSundry::DeviceAvailable(&ports, "LLLL", found));
  EXPECT_EQ('Z', found[0]);
  // One that just fits (259 characters and the terminator) is found.
  FakeSysfs fits;
  fits.addLongNamedPort(MAX_PATH - 1 - std::strlen(" (ttyUSB1)"));
  ScopedEnv root("SUNDRY_SYSFS_ROOT", fits.root().c_str());
  EXPECT_EQ(1, CSundry::DeviceAvailable(&ports, "LLLL", found));
  EXPECT_EQ(static_cast<size_t>(MAX_PATH - 1), std::strlen(found));
  EXPECT_EQ('Z', found[MAX_PATH]);
}

TEST_F(DeviceTest, SetupApiPropertiesAndMisuse) {
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  ASSERT_NE(INVALID_HANDLE_VALUE, set);
  SP_DEVINFO_DATA d;
  d.cbSize = sizeof d;
  auto text = [&](DWORD property, DWORD* type = nullptr) {
    BYTE buf[MAX_PATH];
    DWORD need = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &d, property, type, buf, sizeof buf, &need))
      return "<error " + std::to_string(GetLastError()) + ">";
    return std::string(reinterpret_cast<char*>(buf), need);
  };
  std::string kernelNames;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &d); ++i) kernelNames += text(SPDRP_LOCATION_INFORMATION);
  EXPECT_WIN32(ERROR_NO_MORE_ITEMS, GetLastError());
  EXPECT_EQ(std::string("ttyS0\0ttyUSB0\0ttyACM0\0eth0\0", 27), kernelNames);

  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &d));  // the USB adapter
  EXPECT_EQ(0, std::memcmp(&GUID_DEVCLASS_PORTS, &d.ClassGuid, sizeof(GUID)));
  DWORD type = 0;
  EXPECT_EQ(std::string("USB\\VID_0403&PID_6001\0\0", 23), text(SPDRP_HARDWAREID, &type));
  EXPECT_EQ(REG_MULTI_SZ, type);
  EXPECT_EQ(std::string("FTDI\0", 5), text(SPDRP_MFG, &type));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(std::string("USB-Serial Controller\0", 22), text(SPDRP_DEVICEDESC));
  EXPECT_EQ(std::string("ftdi_sio\0", 9), text(SPDRP_SERVICE));
  EXPECT_EQ(std::string("Ports\0", 6), text(SPDRP_CLASS));
  EXPECT_EQ(std::string("{4d36e978-e325-11ce-bfc1-08002be10318}\0", 39), text(SPDRP_CLASSGUID));
  EXPECT_EQ("<error 13>", text(0x1F));  // not a property kept here
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 3, &d));  // the network card
  EXPECT_EQ(std::string("PCI\\VEN_8086&DEV_100E\0\0", 23), text(SPDRP_HARDWAREID));
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &d));  // the 8250 port: no manufacturer
  EXPECT_EQ("<error 13>", text(SPDRP_MFG));

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

  // Without the class folders there are no devices.
  ScopedEnv root("SUNDRY_SYSFS_ROOT", (m_sysfs.root() + "/absent").c_str());
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, ""));
}

TEST_F(DeviceTest, CommandLineLooksUpDevices) {
  const std::string cli = SUNDRY_CLI_PATH;
  std::string out;
  EXPECT_EQ(0, sundry::test::RunCommand(cli + " device ports USB", &out));
  EXPECT_EQ("USB-Serial Controller (ttyUSB0)\n", out);
  EXPECT_EQ(0, sundry::test::RunCommand(cli + " device '{4d36e972-E325-11CE-BFC1-08002BE10318}'", &out));
  EXPECT_EQ("Network Adapter (eth0)\n", out);
  EXPECT_EQ(1, sundry::test::RunCommand(cli + " device modem Nothing 2>/dev/null", &out));
  EXPECT_EQ(2, sundry::test::RunCommand(cli + " device '{not-a-guid}' 2>/dev/null", &out));
}

}  // namespace
