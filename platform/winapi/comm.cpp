// Communications ports over terminal devices: the port-name rule, opening
// with an exclusive lock and raw mode, DCB <-> termios, time-outs as poll
// deadlines, the modem-control lines.
//
// Every handle of one open port (DuplicateHandle makes more) shares one
// Port record; the descriptor, and with it the lock, goes when the last
// handle is closed. Each call takes its own reference to the record under
// the handle table's lock, so a handle closed by another thread during a
// call never leaves the call with a dead descriptor.

#include "platform/posix/error.h"
#include "platform/posix/fd.h"
#include "platform/posix/handles.h"
#include "platform/posix/linespeed.h"
#include "platform/winapi/comm_internal.h"

#include <sundry/platform/comm.h>
#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sundry::platform {
namespace {

using posix::HandleKind;
using posix::RetryOnEintr;
using posix::UniqueFd;
using Clock = std::chrono::steady_clock;

struct Port {
  UniqueFd fd;
  std::string device;
  std::mutex lock;  // guards the fields below
  COMMTIMEOUTS timeouts{};
  DCB kept{};  // the fields termios does not hold, as last set
};

// What a handle points to: its own reference to the shared port.
struct PortHandle {
  std::shared_ptr<Port> port;
};

BOOL closePortHandle(void* object) {
  delete static_cast<PortHandle*>(object);
  return TRUE;
}

// The port of an open handle, kept alive for the caller; null with
// ERROR_INVALID_HANDLE.
std::shared_ptr<Port> lookup(HANDLE handle) {
  std::lock_guard<std::mutex> hold(posix::HandleTableLock());
  auto* h = static_cast<PortHandle*>(posix::HandleLookupLocked(handle, HandleKind::CommPort));
  return h != nullptr ? h->port : nullptr;
}

BOOL fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// A failed system call on a port. A device without modem-control lines (a
// pseudo-terminal) refuses with ENOTTY: that is "not supported", not a
// broken port. A hang-up shows as EIO.
BOOL failErrno(int err, const char* operation, const Port& port) {
  if (err == ENOTTY) return fail(ERROR_NOT_SUPPORTED);
  if (err == EIO) return fail(ERROR_DEVICE_NOT_CONNECTED);
  SetLastErrorFromErrno(err, operation, port.device.c_str());
  return FALSE;
}

// Parses "COMn" (any case, n 1..256 without leading zeros); 0 otherwise.
unsigned comNumber(const char* name) {
  if (strncasecmp(name, "COM", 3) != 0) return 0;
  const char* digits = name + 3;
  if (*digits < '1' || *digits > '9') return 0;
  unsigned n = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || p - digits >= 3) return 0;
    n = n * 10 + static_cast<unsigned>(*p - '0');
  }
  return n <= 256 ? n : 0;
}

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// Looks COMn up in the file SUNDRY_COM_MAP names.
bool fromMapFile(unsigned n, std::string& path) {
  const char* file = std::getenv("SUNDRY_COM_MAP");
  if (file == nullptr || *file == '\0') return false;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(file, "re"), &std::fclose);
  if (!f) return false;
  char line[1024];
  while (std::fgets(line, sizeof line, f.get()) != nullptr) {
    std::string text = trim(std::string(line, strcspn(line, "\n")));
    if (text.empty() || text[0] == '#' || text[0] == ';') continue;
    const size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = trim(text.substr(0, eq));
    if (comNumber(key.c_str()) == n && n != 0) {
      path = trim(text.substr(eq + 1));
      return !path.empty();
    }
  }
  return false;
}

// Looks COMn up where Windows keeps its device map: the value names under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM are devices, their data port names.
bool fromRegistry(unsigned n, std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  bool found = false;
  for (DWORD i = 0; !found; ++i) {
    char name[1024];
    BYTE data[64];
    DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
    const LONG rc = RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    data[dataLen] = 0;
    if (comNumber(reinterpret_cast<char*>(data)) == n && name[0] == '/') {
      path = name;
      found = true;
    }
  }
  RegCloseKey(key);
  return found;
}

}  // namespace

bool CommDevicePath(const char* name, std::string& path) {
  if (name == nullptr) return false;
  if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
  if (name[0] == '/') {
    path = name;
    return true;
  }
  const unsigned n = comNumber(name);
  if (n == 0) return false;
  if (fromMapFile(n, path) || fromRegistry(n, path)) return true;
  path = "/dev/ttyS" + std::to_string(n - 1);
  return true;
}

HANDLE CommCreateFile(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition) {
  return posix::OrOutOfMemory(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    if (name == nullptr || (access & ~rw) != 0 || access == 0 || shareMode != 0 || disposition != OPEN_EXISTING) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    auto port = std::make_shared<Port>();
    if (!CommDevicePath(name, port->device)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    const int mode = access == rw ? O_RDWR : (access == GENERIC_READ ? O_RDONLY : O_WRONLY);
    port->fd.reset(RetryOnEintr(
        [&] { return ::open(port->device.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!port->fd) {
      SetLastErrorFromErrno(errno == EBUSY ? EACCES : errno, "CreateFileA", port->device.c_str());
      return INVALID_HANDLE_VALUE;
    }
    termios t{};
    if (tcgetattr(port->fd.get(), &t) != 0) {
      SetLastError(errno == ENOTTY ? ERROR_NOT_SUPPORTED : Win32ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    // One handle at a time, in any process and also for root: TIOCEXCL
    // alone would let root in.
    if (RetryOnEintr([&] { return ::flock(port->fd.get(), LOCK_EX | LOCK_NB); }) != 0) {
      SetLastError(errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;  // with O_NONBLOCK: nothing waiting reads as EAGAIN, a hang-up as 0
    t.c_cc[VTIME] = 0;
    if (RetryOnEintr([&] { return tcsetattr(port->fd.get(), TCSANOW, &t); }) != 0) {
      SetLastErrorFromErrno(errno, "tcsetattr", port->device.c_str());
      return INVALID_HANDLE_VALUE;
    }
    port->kept.fDtrControl = DTR_CONTROL_ENABLE;  // the driver raises both lines on open
    port->kept.fRtsControl = RTS_CONTROL_ENABLE;
    port->kept.fTXContinueOnXoff = 1;
    auto* h = new PortHandle{std::move(port)};
    HANDLE handle = posix::HandleNew(HandleKind::CommPort, h, &closePortHandle);
    if (handle == nullptr) delete h;
    return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
  });
}

namespace {

// Milliseconds left until deadline for poll (-1: no deadline).
int msLeft(bool limited, Clock::time_point deadline) {
  if (!limited) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left) + 1;
}

}  // namespace

BOOL CommReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read) {
  if (read != nullptr) *read = 0;
  std::shared_ptr<Port> port = lookup(handle);
  if (!port) return FALSE;
  if (buffer == nullptr || read == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if (count == 0) return TRUE;
  COMMTIMEOUTS to;
  {
    std::lock_guard<std::mutex> hold(port->lock);
    to = port->timeouts;
  }
  const auto start = Clock::now();
  bool limited;                  // a total deadline applies
  Clock::time_point deadline;    // for the first byte and the whole read
  bool returnWithAny = false;    // return as soon as something came
  if (to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == 0 &&
      to.ReadTotalTimeoutConstant == 0) {
    limited = true;
    deadline = start;
    returnWithAny = true;
  } else if (to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == MAXDWORD) {
    limited = true;
    deadline = start + std::chrono::milliseconds(to.ReadTotalTimeoutConstant);
    returnWithAny = true;
  } else {
    const unsigned long long total =
        static_cast<unsigned long long>(to.ReadTotalTimeoutMultiplier) * count + to.ReadTotalTimeoutConstant;
    limited = total != 0;
    deadline = start + std::chrono::milliseconds(total);
  }
  const bool interval = !returnWithAny && to.ReadIntervalTimeout != 0;
  char* out = static_cast<char*>(buffer);
  DWORD got = 0;
  Clock::time_point lastByte;
  for (;;) {
    const ssize_t n = RetryOnEintr([&] { return ::read(port->fd.get(), out + got, count - got); });
    if (n > 0) {
      got += static_cast<DWORD>(n);
      *read = got;
      lastByte = Clock::now();
      if (got == count || returnWithAny) return TRUE;
      continue;
    }
    if (n == 0) return fail(ERROR_DEVICE_NOT_CONNECTED);  // hung up: the end of the file
    if (errno != EAGAIN && errno != EWOULDBLOCK) return failErrno(errno, "read", *port);
    // Nothing waiting: wait for the nearer of the deadlines.
    bool haveLimit = limited;
    Clock::time_point until = deadline;
    if (interval && got > 0) {
      const auto byInterval = lastByte + std::chrono::milliseconds(to.ReadIntervalTimeout);
      if (!haveLimit || byInterval < until) until = byInterval;
      haveLimit = true;
    }
    const int wait = msLeft(haveLimit, until);
    if (wait == 0) return TRUE;
    pollfd p{port->fd.get(), POLLIN, 0};
    const int ready = RetryOnEintr([&] { return ::poll(&p, 1, wait); });
    if (ready < 0) return failErrno(errno, "poll", *port);
    if (ready == 0 && haveLimit && Clock::now() >= until) return TRUE;
  }
}

BOOL CommWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written) {
  if (written != nullptr) *written = 0;
  std::shared_ptr<Port> port = lookup(handle);
  if (!port) return FALSE;
  if (buffer == nullptr || written == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if (count == 0) return TRUE;
  COMMTIMEOUTS to;
  {
    std::lock_guard<std::mutex> hold(port->lock);
    to = port->timeouts;
  }
  const unsigned long long total =
      static_cast<unsigned long long>(to.WriteTotalTimeoutMultiplier) * count + to.WriteTotalTimeoutConstant;
  const bool limited = total != 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(total);
  const char* in = static_cast<const char*>(buffer);
  DWORD put = 0;
  while (put < count) {
    const ssize_t n = RetryOnEintr([&] { return ::write(port->fd.get(), in + put, count - put); });
    if (n > 0) {
      put += static_cast<DWORD>(n);
      *written = put;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return failErrno(errno, "write", *port);
    const int wait = msLeft(limited, deadline);
    if (wait == 0) return TRUE;  // timed out: the count tells how much went
    pollfd p{port->fd.get(), POLLOUT, 0};
    const int ready = RetryOnEintr([&] { return ::poll(&p, 1, wait); });
    if (ready < 0) return failErrno(errno, "poll", *port);
    if ((p.revents & (POLLHUP | POLLERR)) != 0 && (p.revents & POLLOUT) == 0)
      return fail(ERROR_DEVICE_NOT_CONNECTED);
  }
  return TRUE;
}

}  // namespace sundry::platform

using namespace sundry::platform;

namespace {

// Raises or lowers one modem-control line.
int setLine(int fd, int bit, bool on) {
  return RetryOnEintr([&] { return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit); });
}

speed_t standardSpeed(DWORD rate) {
  switch (rate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
  }
}

}  // namespace

extern "C" BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  std::shared_ptr<Port> port = lookup(hFile);
  if (!port) return FALSE;
  if (lpDCB == nullptr) return fail(ERROR_INVALID_PARAMETER);
  termios t{};
  unsigned rate = 0;
  if (tcgetattr(port->fd.get(), &t) != 0) return failErrno(errno, "tcgetattr", *port);
  if (!sundry::platform::posix::GetLineSpeed(port->fd.get(), &rate)) return failErrno(errno, "TCGETS2", *port);
  DCB d;
  {
    std::lock_guard<std::mutex> hold(port->lock);
    d = port->kept;
  }
  d.DCBlength = sizeof(DCB);
  d.BaudRate = rate;
  d.fBinary = 1;
  d.fParity = (t.c_iflag & INPCK) != 0;
  const bool crtscts = (t.c_cflag & CRTSCTS) != 0;
  d.fOutxCtsFlow = crtscts;
  if (crtscts) d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  else if (d.fRtsControl == RTS_CONTROL_HANDSHAKE) d.fRtsControl = RTS_CONTROL_ENABLE;
  d.fOutX = (t.c_iflag & IXON) != 0;
  d.fInX = (t.c_iflag & IXOFF) != 0;
  switch (t.c_cflag & CSIZE) {
    case CS5: d.ByteSize = 5; break;
    case CS6: d.ByteSize = 6; break;
    case CS7: d.ByteSize = 7; break;
    default: d.ByteSize = 8; break;
  }
  if ((t.c_cflag & PARENB) == 0) d.Parity = NOPARITY;
  else if ((t.c_cflag & CMSPAR) != 0) d.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else d.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  if ((t.c_cflag & CSTOPB) == 0) d.StopBits = ONESTOPBIT;
  else d.StopBits = d.StopBits == ONE5STOPBITS ? ONE5STOPBITS : TWOSTOPBITS;
  d.XonChar = static_cast<char>(t.c_cc[VSTART]);
  d.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  *lpDCB = d;
  return TRUE;
}

extern "C" BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  std::shared_ptr<Port> port = lookup(hFile);
  if (!port) return FALSE;
  if (lpDCB == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const DCB d = *lpDCB;
  if (d.BaudRate == 0 || d.ByteSize < 5 || d.ByteSize > 8 || d.Parity > SPACEPARITY || d.StopBits > TWOSTOPBITS ||
      d.fDtrControl == DTR_CONTROL_HANDSHAKE || d.fRtsControl == RTS_CONTROL_TOGGLE)
    return fail(ERROR_INVALID_PARAMETER);
  const int fd = port->fd.get();
  termios t{};
  if (tcgetattr(fd, &t) != 0) return failErrno(errno, "tcgetattr", *port);
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)) | sizes[d.ByteSize - 5] |
              CLOCAL | CREAD;
  switch (d.Parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (d.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  const bool hardware = d.fOutxCtsFlow || d.fRtsControl == RTS_CONTROL_HANDSHAKE;
  if (hardware) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  if (d.fOutX) t.c_iflag |= IXON;
  if (d.fInX) t.c_iflag |= IXOFF;
  if (d.fParity) t.c_iflag |= INPCK;
  if (d.XonChar != 0) t.c_cc[VSTART] = static_cast<cc_t>(d.XonChar);
  if (d.XoffChar != 0) t.c_cc[VSTOP] = static_cast<cc_t>(d.XoffChar);
  const speed_t speed = standardSpeed(d.BaudRate);
  if (speed != B0) {
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
  }
  if (RetryOnEintr([&] { return tcsetattr(fd, TCSANOW, &t); }) != 0) return failErrno(errno, "tcsetattr", *port);
  if (speed == B0 && !sundry::platform::posix::SetLineSpeed(fd, d.BaudRate))
    return failErrno(errno, "TCSETS2", *port);
  // The lines: a device without them (ENOTTY) keeps its other settings.
  if (setLine(fd, TIOCM_DTR, d.fDtrControl == DTR_CONTROL_ENABLE) != 0 && errno != ENOTTY)
    return failErrno(errno, "TIOCMSET", *port);
  if (!hardware && setLine(fd, TIOCM_RTS, d.fRtsControl == RTS_CONTROL_ENABLE) != 0 && errno != ENOTTY)
    return failErrno(errno, "TIOCMSET", *port);
  std::lock_guard<std::mutex> hold(port->lock);
  port->kept = d;
  return TRUE;
}

extern "C" BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  std::shared_ptr<Port> port = lookup(hFile);
  if (!port) return FALSE;
  if (lpCommTimeouts == nullptr) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> hold(port->lock);
  *lpCommTimeouts = port->timeouts;
  return TRUE;
}

extern "C" BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  std::shared_ptr<Port> port = lookup(hFile);
  if (!port) return FALSE;
  if (lpCommTimeouts == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const COMMTIMEOUTS& to = *lpCommTimeouts;
  if (to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == MAXDWORD &&
      to.ReadTotalTimeoutConstant == MAXDWORD)
    return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> hold(port->lock);
  port->timeouts = to;
  return TRUE;
}

extern "C" BOOL SetupComm(HANDLE hFile, DWORD, DWORD) { return lookup(hFile) ? TRUE : FALSE; }

extern "C" BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  std::shared_ptr<Port> port = lookup(hFile);
  if (!port) return FALSE;
  const DWORD all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
  if (dwFlags == 0 || (dwFlags & ~all) != 0) return fail(ERROR_INVALID_PARAMETER);
  const bool rx = (dwFlags & PURGE_RXCLEAR) != 0, tx = (dwFlags & PURGE_TXCLEAR) != 0;
  if (!rx && !tx) return TRUE;
  if (tcflush(port->fd.get(), rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH)) != 0)
    return failErrno(errno, "tcflush", *port);
  return TRUE;
}

extern "C" BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
  std::shared_ptr<Port> port = lookup(hFile);
  if (!port) return FALSE;
  const int fd = port->fd.get();
  int rc;
  switch (dwFunc) {
    case SETDTR:
    case CLRDTR: rc = setLine(fd, TIOCM_DTR, dwFunc == SETDTR); break;
    case SETRTS:
    case CLRRTS: rc = setLine(fd, TIOCM_RTS, dwFunc == SETRTS); break;
    case SETBREAK: rc = RetryOnEintr([&] { return ::ioctl(fd, TIOCSBRK); }); break;
    case CLRBREAK: rc = RetryOnEintr([&] { return ::ioctl(fd, TIOCCBRK); }); break;
    case SETXOFF: rc = tcflow(fd, TCOOFF); break;
    case SETXON: rc = tcflow(fd, TCOON); break;
    default: return fail(ERROR_INVALID_PARAMETER);
  }
  if (rc != 0) return failErrno(errno, "EscapeCommFunction", *port);
  if (dwFunc == SETDTR || dwFunc == CLRDTR || dwFunc == SETRTS || dwFunc == CLRRTS) {
    std::lock_guard<std::mutex> hold(port->lock);
    if (dwFunc == SETDTR || dwFunc == CLRDTR) port->kept.fDtrControl = dwFunc == SETDTR;
    else port->kept.fRtsControl = dwFunc == SETRTS;
  }
  return TRUE;
}

extern "C" BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  std::shared_ptr<Port> port = lookup(hFile);
  if (!port) return FALSE;
  if (lpErrors != nullptr) *lpErrors = 0;
  if (lpStat == nullptr) return TRUE;
  int in = 0, out = 0;
  if (::ioctl(port->fd.get(), TIOCINQ, &in) != 0 || ::ioctl(port->fd.get(), TIOCOUTQ, &out) != 0)
    return failErrno(errno, "TIOCINQ", *port);
  *lpStat = COMSTAT{};
  lpStat->cbInQue = static_cast<DWORD>(in);
  lpStat->cbOutQue = static_cast<DWORD>(out);
  return TRUE;
}

extern "C" BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
  std::shared_ptr<Port> port = lookup(hFile);
  if (!port) return FALSE;
  if (lpModemStat == nullptr) return fail(ERROR_INVALID_PARAMETER);
  int bits = 0;
  if (::ioctl(port->fd.get(), TIOCMGET, &bits) != 0) return failErrno(errno, "TIOCMGET", *port);
  *lpModemStat = ((bits & TIOCM_CTS) ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) ? MS_DSR_ON : 0) |
                 ((bits & TIOCM_RI) ? MS_RING_ON : 0) | ((bits & TIOCM_CD) ? MS_RLSD_ON : 0);
  return TRUE;
}

extern "C" HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

extern "C" BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
                                HANDLE* lpTargetHandle, DWORD, BOOL, DWORD) {
  if (hSourceProcessHandle != GetCurrentProcess() || hTargetProcessHandle != GetCurrentProcess())
    return fail(ERROR_NOT_SUPPORTED);
  if (lpTargetHandle == nullptr) return fail(ERROR_INVALID_PARAMETER);
  std::shared_ptr<Port> port = lookup(hSourceHandle);
  if (!port) return FALSE;
  return sundry::platform::posix::OrOutOfMemory(FALSE, [&]() -> BOOL {
    auto* h = new PortHandle{std::move(port)};
    *lpTargetHandle = posix::HandleNew(HandleKind::CommPort, h, &closePortHandle);
    if (*lpTargetHandle != nullptr) return TRUE;
    delete h;
    return FALSE;
  });
}
