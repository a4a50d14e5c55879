// CSerialPort over the Win32 communications functions of the platform layer.

#include <sundry/serial/SerialPort.h>

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/comm.h>
#include <sundry/platform/error.h>
#include <sundry/platform/file.h>
#include <sundry/platform/sync.h>

#include <cstdint>
#include <cstring>

namespace {

const DWORD kQueueSize = 10000;
const DWORD kCloseSettleMs = 250;
const unsigned long kEmptyReadAsked = 0;

unsigned ptrBits(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

// Logs a failed read or write the way both report it.
void logIoFailure(CDebugLog& log, DWORD commErrors, DWORD code) {
  char text[512] = "";
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                     sizeof text, nullptr) == 0)
    std::strcpy(text, "");
  log.Report("**Error**", "Comm Error = %d, GetLastError = %d, message: %s", static_cast<int>(commErrors),
             static_cast<int>(code), text);
}

}  // namespace

CSerialPort::CSerialPort() : m_hPort(nullptr) { std::memset(&m_dcb, 0, sizeof m_dcb); }

CSerialPort::CSerialPort(const CSerialPort& other) : m_hPort(nullptr) {
  std::memset(&m_dcb, 0, sizeof m_dcb);
  copyFrom(other);
}

CSerialPort& CSerialPort::operator=(const CSerialPort& other) {
  if (this != &other) {
    close();
    copyFrom(other);
  }
  return *this;
}

CSerialPort::~CSerialPort() { close(); }

// A copy gets a handle of its own to the same port, so each object closes
// only what it holds.
void CSerialPort::copyFrom(const CSerialPort& other) {
  m_StrPortName = other.m_StrPortName;
  m_dcb = other.m_dcb;
  m_hPort = nullptr;
  if (other.m_hPort != nullptr) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), other.m_hPort, GetCurrentProcess(), &copy, 0, FALSE, 0))
      m_hPort = copy;
  }
}

CSerialPort::error CSerialPort::open(const CString& port, DCB* settings) {
  CDebugLog log("CSerialPort::open", "%s,0x%x", port.GetString(), ptrBits(settings));
  close();
  const CString path = CString("\\\\.\\") + port;
  log.Report("#######", "%s", path.GetString());
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    log.Report("LastError", "%ld", static_cast<long>(GetLastError()));
    return eOpenFailed;
  }
  m_hPort = h;
  const BOOL gotState = GetCommState(h, &m_dcb);
  log.Report("GetCommState", "%d", gotState ? 0 : 1);
  COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 2, 125};
  if (!gotState || !SetupComm(h, kQueueSize, kQueueSize) ||
      !PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) ||
      !SetCommTimeouts(h, &timeouts)) {
    close();
    return eOpenFailed;
  }
  m_StrPortName = port;
  return eOK;
}

CSerialPort::error CSerialPort::close() {
  CDebugLog log("CSerialPort::close");
  if (m_hPort == nullptr) return eOK;
  // One attempt: the handle is gone from the system's view whatever the
  // answer, and a second attempt could close a handle reissued meanwhile.
  const BOOL closed = CloseHandle(m_hPort);
  log.Report("Note", "CloseHandle = %d", static_cast<int>(closed));
  m_hPort = nullptr;
  Sleep(kCloseSettleMs);
  if (closed) log.Report("Note", "Port Closed");
  else log.Report("**Error**", "Could not close COM port");
  Sleep(kCloseSettleMs);
  return eOK;
}

CSerialPort::error CSerialPort::read(void* buffer, unsigned long* count) {
  const unsigned long wanted = count != nullptr ? *count : kEmptyReadAsked;
  if (count != nullptr) *count = 0;
  if (m_hPort == nullptr) return eNotOpen;
  if (buffer == nullptr || count == nullptr) return eNoBuffer;
  if (wanted == 0) return eOK;
  DWORD got = 0;
  const DWORD ask = wanted > MAXDWORD ? MAXDWORD : static_cast<DWORD>(wanted);
  if (ReadFile(m_hPort, buffer, ask, &got, nullptr)) {
    *count = got;
    return eOK;
  }
  *count = got;
  const DWORD code = GetLastError();
  CDebugLog log("CSerialPort::read");
  if (code == ERROR_SUCCESS) {
    log.Report("**?????**", "ReadFile == FALSE && GetLastError == ERROR_SUCCESS");
    return eOK;
  }
  DWORD commErrors = 0;
  ClearCommError(m_hPort, &commErrors, nullptr);
  close();
  logIoFailure(log, commErrors, code);
  return eReadFailed;
}

CSerialPort::error CSerialPort::write(const void* buffer, unsigned long* count) {
  const unsigned long wanted = count != nullptr ? *count : 0;
  if (count != nullptr) *count = 0;
  if (m_hPort == nullptr) return eNotOpen;
  if (buffer == nullptr || count == nullptr) return eNoBuffer;
  if (wanted == 0) return eOK;
  DWORD sent = 0;
  const DWORD ask = wanted > MAXDWORD ? MAXDWORD : static_cast<DWORD>(wanted);
  if (WriteFile(m_hPort, buffer, ask, &sent, nullptr)) {
    *count = sent;
    if (sent == wanted) return eOK;
    // The time-out ran out first: what did not go is not sent.
    CDebugLog log("CSerialPort::write");
    log.Report("**Error**", "Write timed out: %lu of %lu bytes sent", static_cast<unsigned long>(sent), wanted);
    return eWriteFailed;
  }
  *count = sent;
  const DWORD code = GetLastError();
  CDebugLog log("CSerialPort::write");
  if (code == ERROR_SUCCESS) {
    log.Report("**?????**", "WriteFile == FALSE && GetLastError == ERROR_SUCCESS");
    return eOK;
  }
  DWORD commErrors = 0;
  ClearCommError(m_hPort, &commErrors, nullptr);
  close();
  logIoFailure(log, commErrors, code);
  return eWriteFailed;
}

CSerialPort::error CSerialPort::setDTR(dtr value) {
  if (m_hPort == nullptr) return eNotOpen;
  if (value != DTR_HIGH && value != DTR_LOW) return eDTRFailed;
  return EscapeCommFunction(m_hPort, static_cast<DWORD>(value)) ? eOK : eDTRFailed;
}

CSerialPort::error CSerialPort::setRTS(rts value) {
  if (m_hPort == nullptr) return eNotOpen;
  if (value != RTS_HIGH && value != RTS_LOW) return eRTSFailed;
  return EscapeCommFunction(m_hPort, static_cast<DWORD>(value)) ? eOK : eRTSFailed;
}

CSerialPort::error CSerialPort::setFlowControl(flowctl mode) {
  if (m_hPort == nullptr) return eNotOpen;
  if (!GetCommState(m_hPort, &m_dcb)) return eFlowControlFailed;
  switch (mode) {
    case FLOW_XONXOFF:  // XON/XOFF both ways, RTS held on
      m_dcb.fOutxCtsFlow = 0;
      m_dcb.fOutX = 1;
      m_dcb.fInX = 1;
      m_dcb.fRtsControl = RTS_CONTROL_ENABLE;
      break;
    case FLOW_RTSCTS:  // RTS handshake and CTS output flow
      m_dcb.fOutxCtsFlow = 1;
      m_dcb.fOutX = 0;
      m_dcb.fInX = 0;
      m_dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    default:  // none, RTS held on
      m_dcb.fOutxCtsFlow = 0;
      m_dcb.fOutX = 0;
      m_dcb.fInX = 0;
      m_dcb.fRtsControl = RTS_CONTROL_ENABLE;
      break;
  }
  return SetCommState(m_hPort, &m_dcb) ? eOK : eFlowControlFailed;
}

CSerialPort::error CSerialPort::setBaudRate(unsigned long rate) {
  if (m_hPort == nullptr) return eNotOpen;
  if (rate == 0 || rate > MAXDWORD) return eBaudRateFailed;  // 0 would hang up the line
  if (!GetCommState(m_hPort, &m_dcb)) return eBaudRateFailed;
  m_dcb.BaudRate = static_cast<DWORD>(rate);
  return SetCommState(m_hPort, &m_dcb) ? eOK : eBaudRateFailed;
}
