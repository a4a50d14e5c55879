// CSerialPort on a pseudo-terminal (and on a real port when one is named).

#include "platform/posix/pty.h"
#include "serial_support.h"
#include "support/testutil.h"

#include <sundry/platform/sync.h>
#include <sundry/serial/SerialPort.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using sundry::test::FastClose;
using sundry::test::SecondsSince;
namespace posix = sundry::platform::posix;

sundry::test::DebugLogToFile g_log("serialport");

std::string ReadMaster(int fd) {
  std::string out;
  char buf[256];
  while (posix::WaitForInput(fd, -1, 50) == 1) {
    const long n = posix::ReadAvailable(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// The DCB's word of flag bits, as Win32 lays it out after the baud rate.
DWORD FlagWord(const DCB& dcb) {
  DWORD word;
  std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + 8, sizeof word);
  return word;
}

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(posix::OpenPty(pty));
    ASSERT_EQ(CSerialPort::eOK, port.open(pty.path.c_str(), nullptr));
  }
  FastClose fast;
  posix::Pty pty;
  CSerialPort port;
};

TEST_F(SerialPort, OpenReadWriteClose) {
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(CString(pty.path.c_str()), port.getPortName());
  unsigned long n = 5;
  ASSERT_EQ(CSerialPort::eOK, port.write("ATZ\r\n", &n));
  EXPECT_EQ(5u, n);
  EXPECT_EQ("ATZ\r\n", ReadMaster(pty.master.get()));
  char buf[64];
  n = sizeof buf;
  ASSERT_EQ(CSerialPort::eOK, port.read(buf, &n));
  EXPECT_EQ(0u, n);  // nothing waiting: at once
  ASSERT_TRUE(posix::WriteAll(pty.master.get(), "\r\nOK\r\n", 6));
  Sleep(20);
  n = sizeof buf;
  ASSERT_EQ(CSerialPort::eOK, port.read(buf, &n));
  EXPECT_EQ("\r\nOK\r\n", std::string(buf, n));
  n = sizeof buf;
  EXPECT_EQ(CSerialPort::eNoBuffer, port.read(nullptr, &n));
  EXPECT_EQ(CSerialPort::eOK, port.close());
  EXPECT_EQ(2, fast.skipped());  // the two settling pauses
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(CString(pty.path.c_str()), port.getPortName());
  n = 1;
  EXPECT_EQ(CSerialPort::eNotOpen, port.read(buf, &n));
  EXPECT_EQ(CSerialPort::eNotOpen, port.write("x", &n));
  EXPECT_EQ(CSerialPort::eNotOpen, port.setDTR(CSerialPort::DTR_HIGH));
  EXPECT_EQ(CSerialPort::eNotOpen, port.setBaudRate(9600));
  EXPECT_EQ(CSerialPort::eOK, port.close());
  EXPECT_EQ(2, fast.skipped());  // closing a closed port pauses not
}

TEST_F(SerialPort, OpeningAMissingOrBusyPortFails) {
  sundry::test::LogTail tail;
  CSerialPort other;
  EXPECT_EQ(CSerialPort::eOpenFailed, other.open("/dev/no-such-port", nullptr));
  EXPECT_FALSE(other.isOpen());
  EXPECT_EQ(CSerialPort::eOpenFailed, other.open(pty.path.c_str(), nullptr));
  const std::string log = tail.text();
  EXPECT_NE(std::string::npos, log.find("\\\\.\\/dev/no-such-port")) << log;
  EXPECT_NE(std::string::npos, log.find("LastError")) << log;
  EXPECT_NE(std::string::npos, log.find(" 5")) << log;  // busy: access denied
}

// A count of 0 is nothing to do: no byte goes out, none is taken in.
TEST_F(SerialPort, CountZeroMovesNoBytes) {
  unsigned long n = 0;
  ASSERT_EQ(CSerialPort::eOK, port.write("Z", &n));
  EXPECT_EQ(0u, n);
  EXPECT_EQ("", ReadMaster(pty.master.get()));
  ASSERT_TRUE(posix::WriteAll(pty.master.get(), "abc", 3));
  Sleep(20);
  char buf[64] = {};
  n = 0;
  ASSERT_EQ(CSerialPort::eOK, port.read(buf, &n));
  EXPECT_EQ(0u, n);
  n = sizeof buf;
  ASSERT_EQ(CSerialPort::eOK, port.read(buf, &n));
  EXPECT_EQ("abc", std::string(buf, n));
}

// A write the line cannot take in time is a failure with the real count,
// not a success.
TEST_F(SerialPort, ShortWriteIsReportedWithItsCount) {
  posix::UniqueFd filler(::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(filler.valid());
  const std::string chunk(4096, 'f');
  // The pty moves data on in the background: fill until it stays full.
  for (int full = 0; full < 3;) {
    if (::write(filler.get(), chunk.data(), chunk.size()) > 0) {
      full = 0;
    } else {
      ++full;
      Sleep(20);
    }
  }
  const std::string data(100, 'd');
  unsigned long n = data.size();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CSerialPort::eWriteFailed, port.write(data.data(), &n));
  EXPECT_LT(n, data.size());
  EXPECT_GE(SecondsSince(start), 0.3);  // 2 * 100 + 125 ms
  EXPECT_TRUE(port.isOpen());
}

TEST_F(SerialPort, HangUpIsAReadFailureAndClosesThePort) {
  pty.master.reset();
  pty.keepOpen.reset();
  char buf[16];
  unsigned long n = sizeof buf;
  EXPECT_EQ(CSerialPort::eReadFailed, port.read(buf, &n));
  EXPECT_FALSE(port.isOpen());
  n = sizeof buf;
  EXPECT_EQ(CSerialPort::eNotOpen, port.read(buf, &n));
}

TEST_F(SerialPort, LinesFlowControlAndBaudRate) {
  // Only the escape codes of the lines are passed on.
  EXPECT_EQ(CSerialPort::eDTRFailed, port.setDTR(static_cast<CSerialPort::dtr>(SETBREAK)));
  EXPECT_EQ(CSerialPort::eRTSFailed, port.setRTS(static_cast<CSerialPort::rts>(SETDTR)));
  char buf[4];
  unsigned long n = sizeof buf;
  ASSERT_EQ(CSerialPort::eOK, port.read(buf, &n));
  EXPECT_EQ(0u, n);  // no break was sent
  // A pty has no modem-control lines: an honest failure, the port stays.
  EXPECT_EQ(CSerialPort::eDTRFailed, port.setDTR(CSerialPort::DTR_HIGH));
  EXPECT_EQ(CSerialPort::eRTSFailed, port.setRTS(CSerialPort::RTS_LOW));
  EXPECT_TRUE(port.isOpen());
  termios t{};
  ASSERT_EQ(CSerialPort::eOK, port.setFlowControl(CSerialPort::FLOW_XONXOFF));
  ASSERT_EQ(0, tcgetattr(pty.keepOpen.get(), &t));
  EXPECT_TRUE((t.c_iflag & IXON) && (t.c_iflag & IXOFF) && !(t.c_cflag & CRTSCTS));
  ASSERT_EQ(CSerialPort::eOK, port.setFlowControl(CSerialPort::FLOW_RTSCTS));
  ASSERT_EQ(0, tcgetattr(pty.keepOpen.get(), &t));
  EXPECT_TRUE(!(t.c_iflag & IXON) && (t.c_cflag & CRTSCTS));
  EXPECT_EQ(0x2004u, FlagWord(port.getSettings()) & 0x3304u);
  ASSERT_EQ(CSerialPort::eOK, port.setFlowControl(CSerialPort::FLOW_NONE));
  ASSERT_EQ(0, tcgetattr(pty.keepOpen.get(), &t));
  EXPECT_TRUE(!(t.c_iflag & (IXON | IXOFF)) && !(t.c_cflag & CRTSCTS));
  EXPECT_EQ(0x1000u, FlagWord(port.getSettings()) & 0x3304u);
  ASSERT_EQ(CSerialPort::eOK, port.setBaudRate(57600));
  ASSERT_EQ(0, tcgetattr(pty.keepOpen.get(), &t));
  EXPECT_EQ(static_cast<speed_t>(B57600), cfgetospeed(&t));
  EXPECT_EQ(CSerialPort::eBaudRateFailed, port.setBaudRate(0));
  ASSERT_EQ(0, tcgetattr(pty.keepOpen.get(), &t));
  EXPECT_EQ(static_cast<speed_t>(B57600), cfgetospeed(&t));  // the line was not hung up
}

// Each copy owns a handle: closing one leaves the other working.
TEST_F(SerialPort, CopiesHoldTheirOwnHandles) {
  {
    CSerialPort copy(port);
    ASSERT_TRUE(copy.isOpen());
    EXPECT_EQ(port.getPortName(), copy.getPortName());
  }
  unsigned long n = 2;
  ASSERT_EQ(CSerialPort::eOK, port.write("A\r", &n));
  CSerialPort assigned;
  assigned = port;
  port.close();
  n = 2;
  ASSERT_EQ(CSerialPort::eOK, assigned.write("B\r", &n));
  EXPECT_EQ("A\rB\r", ReadMaster(pty.master.get()));
  assigned.close();
  // The last close released the port.
  EXPECT_EQ(CSerialPort::eOK, port.open(pty.path.c_str(), nullptr));
}

// The DTR and RTS lines on a real port, named by SUNDRY_TEST_SERIAL_PORT
// (for example /dev/ttyUSB0; never the console's /dev/ttyS0).
TEST(SerialPortReal, DtrAndRts) {
  const char* name = std::getenv("SUNDRY_TEST_SERIAL_PORT");
  if (name == nullptr || *name == '\0') GTEST_SKIP() << "SUNDRY_TEST_SERIAL_PORT names no real port";
  FastClose fast;
  CSerialPort port;
  ASSERT_EQ(CSerialPort::eOK, port.open(name, nullptr));
  for (auto d : {CSerialPort::DTR_LOW, CSerialPort::DTR_HIGH}) EXPECT_EQ(CSerialPort::eOK, port.setDTR(d));
  for (auto r : {CSerialPort::RTS_LOW, CSerialPort::RTS_HIGH}) EXPECT_EQ(CSerialPort::eOK, port.setRTS(r));
  EXPECT_EQ(CSerialPort::eOK, port.setFlowControl(CSerialPort::FLOW_NONE));
  EXPECT_EQ(CSerialPort::eOK, port.setBaudRate(9600));
}

}  // namespace
