// The communication functions on a pseudo-terminal: port names, the
// exclusive open, raw mode, DCB <-> termios, time-outs, hang-up.

#include "platform/posix/pty.h"
#include "platform/winapi/comm_internal.h"
#include "serial_support.h"
#include "support/testutil.h"

#include <sundry/platform/comm.h>
#include <sundry/platform/file.h>
#include <sundry/platform/registry.h>
#include <sundry/platform/sync.h>

#include <termios.h>
#include <unistd.h>

#include <string>

namespace {

using sundry::platform::CommDevicePath;
using sundry::test::ScopedEnv;
using sundry::test::SecondsSince;
using sundry::test::TempDir;
namespace posix = sundry::platform::posix;

HANDLE Open(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string DrainMaster(int fd) {
  std::string out;
  char buf[256];
  while (posix::WaitForInput(fd, -1, 100) == 1) {
    const long n = posix::ReadAvailable(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

class Comm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(posix::OpenPty(pty));
    port = Open(pty.path);
    ASSERT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  posix::Pty pty;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST(CommNames, MapComNamesToDevices) {
  TempDir dir;
  std::string path;
  {
    ScopedEnv noMap("SUNDRY_COM_MAP", "");
    ASSERT_EQ(ERROR_SUCCESS, sundry::platform::RegistryUseStore(dir.file("reg.db").c_str()));
    ASSERT_TRUE(CommDevicePath("\\\\.\\COM1", path));
    EXPECT_EQ("/dev/ttyS0", path);
    ASSERT_TRUE(CommDevicePath("com12", path));
    EXPECT_EQ("/dev/ttyS11", path);
    // The registry's device map, as Windows keeps it: device -> port name.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "/dev/ttyACM0", 0, REG_SZ, (const BYTE*)"COM3", 5));
    RegCloseKey(key);
    ASSERT_TRUE(CommDevicePath("COM3", path));
    EXPECT_EQ("/dev/ttyACM0", path);
  }
  // The map file comes before the registry.
  ASSERT_TRUE(sundry::test::WriteFile(dir.file("map"), "# ports\nCOM3 = /dev/ttyUSB1\n\ncom4=/dev/x\n"));
  ScopedEnv map("SUNDRY_COM_MAP", dir.file("map").c_str());
  ASSERT_TRUE(CommDevicePath("COM3", path));
  EXPECT_EQ("/dev/ttyUSB1", path);
  ASSERT_TRUE(CommDevicePath("\\\\.\\COM4", path));
  EXPECT_EQ("/dev/x", path);
  ASSERT_TRUE(CommDevicePath("\\\\.\\/dev/pts/7", path));
  EXPECT_EQ("/dev/pts/7", path);
  for (const char* bad : {"COM0", "COM257", "COM01", "LPT1", "COM", "pts/3", ""})
    EXPECT_FALSE(CommDevicePath(bad, path)) << bad;
  sundry::platform::RegistryUseStore(nullptr);
}

TEST(CommOpen, RefusesMissingBusyAndNonTerminals) {
  TempDir dir;
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("/dev/nonexistent-port"));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("LPT1"));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  ASSERT_TRUE(sundry::test::WriteFile(dir.file("plain"), "x"));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(dir.file("plain")));
  EXPECT_WIN32(ERROR_NOT_SUPPORTED, GetLastError());

  posix::Pty pty;
  ASSERT_TRUE(posix::OpenPty(pty));
  HANDLE first = Open(pty.path);
  ASSERT_NE(INVALID_HANDLE_VALUE, first);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(pty.path));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  // A second handle made from the first shares the lock; the port is free
  // only when both are closed.
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), first, GetCurrentProcess(), &dup, 0, FALSE, 0));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(pty.path));
  EXPECT_TRUE(CloseHandle(dup));
  HANDLE again = Open(pty.path);
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  CloseHandle(again);
}

// Another process that locks the port the way serial programs do (pyserial
// with exclusive=True) keeps it from us, root or not.
TEST(CommOpen, PortLockedByAnotherProgramIsBusy) {
  if (access(sundry::test::kSystemPython, X_OK) != 0) GTEST_SKIP() << "no " << sundry::test::kSystemPython;
  posix::Pty pty;
  ASSERT_TRUE(posix::OpenPty(pty));
  TempDir dir;
  const std::string ready = dir.file("ready");
  const std::string script = "import serial,time,sys\n"
                             "s=serial.Serial('" + pty.path + "',exclusive=True)\n"
                             "open('" + ready + "','w').close()\n"
                             "time.sleep(3)\n";
  ASSERT_TRUE(sundry::test::WriteFile(dir.file("hold.py"), script));
  std::string cmd = std::string(sundry::test::kSystemPython) + " " + dir.file("hold.py") + " >/dev/null 2>&1 & echo $!";
  std::string pid;
  ASSERT_EQ(0, sundry::test::RunCommand(cmd, &pid));
  for (int i = 0; i < 200 && access(ready.c_str(), F_OK) != 0; ++i) Sleep(10);
  if (access(ready.c_str(), F_OK) != 0) GTEST_SKIP() << "pyserial did not open the port";
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(pty.path));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  sundry::test::RunCommand("kill " + pid);
}

TEST_F(Comm, RawLineAndImmediateReads) {
  COMMTIMEOUTS immediate = {MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &immediate));
  char buf[64];
  DWORD n = 99;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadFile(port, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(0u, n);
  EXPECT_LT(SecondsSince(start), 0.05);
  // A cooked terminal would turn this \r into \n, echo it, and hold the
  // line until its end.
  ASSERT_TRUE(posix::WriteAll(pty.master.get(), "OK\r\x03\x7f", 5));
  Sleep(20);
  ASSERT_TRUE(ReadFile(port, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string("OK\r\x03\x7f", 5), std::string(buf, n));
  ASSERT_TRUE(WriteFile(port, "AT\r\n", 4, &n, nullptr));
  EXPECT_EQ(4u, n);
  EXPECT_EQ("AT\r\n", DrainMaster(pty.master.get()));
  // Nothing was echoed back to the port.
  ASSERT_TRUE(ReadFile(port, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(0u, n);
}

TEST_F(Comm, TimeoutsBoundReadsAndWrites) {
  COMMTIMEOUTS waitFirst = {MAXDWORD, MAXDWORD, 80, 0, 30};
  ASSERT_TRUE(SetCommTimeouts(port, &waitFirst));
  char buf[16];
  DWORD n = 0;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ReadFile(port, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(0u, n);
  EXPECT_GE(SecondsSince(start), 0.075);
  EXPECT_LT(SecondsSince(start), 0.5);
  // Nobody drains the far end: the write stops at its deadline, reporting
  // success with a short count, as Windows does.
  std::string big(1 << 20, 'x');
  start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &n, nullptr));
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, big.size());
  EXPECT_LT(SecondsSince(start), 0.5);
  // Total and interval time-outs: a read of 10 gets the 3 bytes there.
  COMMTIMEOUTS total = {20, 0, 100, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &total));
  ASSERT_TRUE(posix::WriteAll(pty.master.get(), "abc", 3));
  ASSERT_TRUE(ReadFile(port, buf, 10, &n, nullptr));
  EXPECT_EQ("abc", std::string(buf, n));
}

TEST_F(Comm, SettingsRoundTripThroughTermios) {
  DCB dcb;
  ASSERT_TRUE(GetCommState(port, &dcb));
  EXPECT_EQ(sizeof(DCB), dcb.DCBlength);
  EXPECT_EQ(8, dcb.ByteSize);
  // A pty keeps 8 bits without parity whatever it is told, so the byte
  // size and parity are checked only for being refused when out of range.
  dcb.BaudRate = 250000;  // not a standard rate
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutX = dcb.fInX = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();  // the missing lines of a pty do not matter
  termios t{};
  ASSERT_EQ(0, tcgetattr(pty.keepOpen.get(), &t));
  EXPECT_TRUE((t.c_cflag & CSTOPB) && (t.c_cflag & CRTSCTS));
  EXPECT_TRUE((t.c_iflag & IXON) && (t.c_iflag & IXOFF));
  DCB back;
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(250000u, back.BaudRate);
  EXPECT_EQ(TWOSTOPBITS, back.StopBits);
  EXPECT_EQ(RTS_CONTROL_HANDSHAKE, back.fRtsControl);
  EXPECT_EQ(1u, back.fOutX);
  dcb.BaudRate = 19200;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutX = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(port, &dcb));
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(19200u, back.BaudRate);
  EXPECT_EQ(ONESTOPBIT, back.StopBits);
  EXPECT_EQ(RTS_CONTROL_ENABLE, back.fRtsControl);
  EXPECT_EQ(0u, back.fOutX);
  ASSERT_EQ(0, tcgetattr(pty.keepOpen.get(), &t));
  EXPECT_EQ(static_cast<speed_t>(B19200), cfgetospeed(&t));
  // A rate of 0 would hang the line up; it and other values out of range
  // are refused, nothing changed.
  for (int field = 0; field < 4; ++field) {
    DCB bad = back;
    bad.fOutX = 1;
    if (field == 0) bad.BaudRate = 0;
    if (field == 1) bad.ByteSize = 9;
    if (field == 2) bad.Parity = 5;
    if (field == 3) bad.StopBits = 3;
    EXPECT_FALSE(SetCommState(port, &bad)) << field;
    EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
  }
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(19200u, back.BaudRate);
  EXPECT_EQ(0u, back.fOutX);
}

TEST_F(Comm, ModemLinesOnAPtyFailHonestlyAndThePortStaysUsable) {
  for (DWORD f : {SETDTR, CLRDTR, SETRTS, CLRRTS}) {
    EXPECT_FALSE(EscapeCommFunction(port, f));
    EXPECT_WIN32(ERROR_NOT_SUPPORTED, GetLastError());
  }
  EXPECT_FALSE(EscapeCommFunction(port, 7));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(port, "AT\r", 3, &n, nullptr));
  EXPECT_EQ("AT\r", DrainMaster(pty.master.get()));
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
  EXPECT_FALSE(PurgeComm(port, 0x10));
}

TEST_F(Comm, HangUpIsAFailedRead) {
  COMMTIMEOUTS immediate = {MAXDWORD, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &immediate));
  pty.master.reset();
  pty.keepOpen.reset();
  char buf[8];
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(port, buf, sizeof buf, &n, nullptr));
  EXPECT_WIN32(ERROR_DEVICE_NOT_CONNECTED, GetLastError());
  EXPECT_FALSE(WriteFile(port, "x", 1, &n, nullptr));
  EXPECT_WIN32(ERROR_DEVICE_NOT_CONNECTED, GetLastError());
}

}  // namespace
