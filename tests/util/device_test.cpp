// CSundry::DeviceAvailable over a small sysfs tree made by the test (the
// devices of each class are checked in platform/setupapi_test).

#include "platform/fake_sysfs.h"

#include <sundry/platform/setupapi.h>
#include <sundry/util/Sundry.h>

#include <cstring>

namespace {

using sundry::test::ScopedEnv;

// The debug log goes to a file of this process unless the environment
// names one already.
sundry::test::DebugLogToFile g_log("device-test");

class DeviceTest : public ::testing::Test {
 protected:
  // The friendly name DeviceAvailable finds for a prefix, or "" for none.
  std::string available(GUID guid, const char* prefix) {
    char found[MAX_PATH] = "";
    return CSundry::DeviceAvailable(&guid, prefix, found) ? std::string(found) : std::string();
  }

  sundry::test::FakeSysfs m_sysfs;
  ScopedEnv m_root{"SUNDRY_SYSFS_ROOT", m_sysfs.root().c_str()};
};

TEST_F(DeviceTest, FindsTheFirstDeviceOfTheClassWhoseNameStartsWithThePrefix) {
  EXPECT_EQ("USB-Serial Controller (ttyUSB0)", available(GUID_DEVCLASS_PORTS, "USB-Serial"));
  EXPECT_EQ("Communications Port (ttyS0)", available(GUID_DEVCLASS_PORTS, ""));
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, "usb-serial"));  // case counts
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, "Mod"));        // another class's device
  EXPECT_EQ("", available(GUID_DEVCLASS_PORTS, "USB-Serial Controller (ttyUSB0) and more"));
  EXPECT_EQ("Mod\xE8m 56K (ttyACM0)", available(GUID_DEVCLASS_MODEM, ""));
  GUID ports = GUID_DEVCLASS_PORTS;
  EXPECT_EQ(1, CSundry::DeviceAvailable(&ports, "USB", nullptr));  // no copy is asked for
  EXPECT_EQ(0, CSundry::DeviceAvailable(&ports, nullptr, nullptr));
}

TEST_F(DeviceTest, NamesTooLongForTheBufferAreSkipped) {
  m_sysfs.addLongNamedPort(300);
  GUID ports = GUID_DEVCLASS_PORTS;
  char found[MAX_PATH + 16];
  std::memset(found, 'Z', sizeof found);
  EXPECT_EQ(0, CSundry::DeviceAvailable(&ports, "LLLL", found));
  EXPECT_EQ('Z', found[0]);
  // One that just fits (259 characters and the terminator) is found.
  sundry::test::FakeSysfs fits;
  fits.addLongNamedPort(MAX_PATH - 1 - std::strlen(" (ttyUSB1)"));
  ScopedEnv root("SUNDRY_SYSFS_ROOT", fits.root().c_str());
  EXPECT_EQ(1, CSundry::DeviceAvailable(&ports, "LLLL", found));
  EXPECT_EQ(static_cast<size_t>(MAX_PATH - 1), std::strlen(found));
  EXPECT_EQ('Z', found[MAX_PATH]);
}

TEST_F(DeviceTest, LogsEachStepWithItsTexts) {
  if (sundry::test::DebugLogFile().empty()) GTEST_SKIP() << "SUNDRY_LOG does not name a file";
  // The text one call logs, after checking its result.
  auto logged = [](GUID* guid, const char* prefix, char* found, int result) {
    sundry::test::LogTail log;
    EXPECT_EQ(result, CSundry::DeviceAvailable(guid, prefix, found)) << prefix;
    return log.text();
  };
  auto expectLines = [](const std::string& text, std::initializer_list<const char*> lines) {
    for (const char* line : lines) EXPECT_NE(std::string::npos, text.find(std::string(line) + "\n")) << text;
  };
  GUID ports = GUID_DEVCLASS_PORTS;
  expectLines(logged(&ports, "USB-Serial", nullptr, 1),
              {"DeviceAvailable Enter: GUID = {4D36E978-E325-11CE-BFC1-08002BE10318}, Device = USB-Serial",
               "DeviceAvailable Note: Found other device: Communications Port (ttyS0)",
               "DeviceAvailable Note: Found device USB-Serial.", "DeviceAvailable Return: T"});
  char found[MAX_PATH];
  EXPECT_EQ(std::string::npos, logged(&ports, "USB", found, 1).find("Found device"));
  expectLines(logged(&ports, "Nothing", nullptr, 0),
              {"DeviceAvailable Note: Found other device: USB-Serial Controller (ttyUSB0)",
               "DeviceAvailable Note: SetupDiEnumDeviceInfo, No more items", "DeviceAvailable Return: F"});
  expectLines(logged(nullptr, "USB", nullptr, 0), {"DeviceAvailable Error: SetupDiGetClassDevs, dwErr = 87"});
}

}  // namespace
