// The serial port and the modem dialogue in the Windows build, over a real
// COM port: under Wine the port is a pseudo-terminal with a Hayes modem on
// its other side (scripts/fake-modem.py), linked into the prefix as a COM
// device. The port's name comes from SUNDRY_TEST_COM_PORT.
#include "support/testutil.h"

#include <sundry/serial/Modem.h>
#include <sundry/serial/SerialPort.h>

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string TestPort() {
  const char* port = std::getenv("SUNDRY_TEST_COM_PORT");
  return port != nullptr ? port : "";
}

class WindowsSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    port = TestPort();
    if (port.empty()) GTEST_SKIP() << "SUNDRY_TEST_COM_PORT names no port (ctest sets it up)";
  }
  std::string port;
};

TEST_F(WindowsSerial, PortOpensConfiguresAndTalks) {
  CSerialPort serial;
  ASSERT_EQ(CSerialPort::eOK, serial.open(port.c_str(), nullptr));
  EXPECT_TRUE(serial.isOpen());
  ASSERT_EQ(CSerialPort::eOK, serial.setBaudRate(57600));
  EXPECT_EQ(57600u, serial.getSettings().BaudRate);

  const char command[] = "ATE0\r";
  unsigned long count = sizeof command - 1;
  ASSERT_EQ(CSerialPort::eOK, serial.write(command, &count));
  EXPECT_EQ(sizeof command - 1, count);

  std::string answer;
  for (int i = 0; i < 40 && answer.find("OK\r\n") == std::string::npos; ++i) {
    char buffer[256];
    unsigned long got = sizeof buffer;
    ASSERT_EQ(CSerialPort::eOK, serial.read(buffer, &got));
    answer.append(buffer, got);
    if (got == 0) Sleep(25);
  }
  EXPECT_NE(answer.find("\r\nOK\r\n"), std::string::npos) << answer;
  EXPECT_EQ(CSerialPort::eOK, serial.close());
  EXPECT_FALSE(serial.isOpen());
}

TEST_F(WindowsSerial, ModemDialogueRecognisesItsAnswers) {
  CModem modem;
  modem.setResponseTiming(20);
  modem.setInitCommands("[Z][E0]");
  modem.setCloseCommands("[H0]");
  ASSERT_EQ(CModem::eOK, modem.init(port.c_str(), nullptr));
  EXPECT_EQ(CModem::eOK, modem.commandOK("Z"));
  CString response;
  ASSERT_EQ(CModem::eOK, modem.commandResponse("I", response, 1));
  EXPECT_STREQ("Sundry test modem", response.GetString());
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK("X99"));
  EXPECT_EQ(1, modem.close());
}

TEST(WindowsSerialPort, AMissingPortFailsToOpen) {
  CSerialPort serial;
  EXPECT_EQ(CSerialPort::eOpenFailed, serial.open("COM250", nullptr));
  EXPECT_FALSE(serial.isOpen());
}

}  // namespace
