// CModem: AT commands over a CSerialPort.

#include <sundry/serial/Modem.h>

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/sync.h>

#include <chrono>
#include <cstdint>
#include <cstring>

namespace {

const size_t kBufferSize = 384;        // the answer and command buffer
const unsigned kIdleLimit = 160;       // polls without news before giving up
const DWORD kFirstPollMs = 25;         // pause between polls before any byte
const DWORD kLaterPollMs = 20;         // ... and after a burst
const int kStateConstructed = 1;
const int kStateInitialised = 2;
const size_t kPurgeChunk = 128;
const size_t kPurgeMaxBytes = 10000;   // the port's input queue
const auto kPurgeMaxTime = std::chrono::seconds(1);

unsigned ptrBits(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

bool lineIs(const char* line, size_t length, const char* word) {
  return length == std::strlen(word) && std::memcmp(line, word, length) == 0;
}

}  // namespace

CModem::eRESULT CModem::finalResult(const char* answer, size_t length) {
  if (answer == nullptr) return eResultNone;
  // A result line starts right after a line feed and ends at a carriage
  // return. The echo of the command starts with "AT" and so is never one.
  const char* end = answer + length;
  for (const char* lf = static_cast<const char*>(std::memchr(answer, '\n', length)); lf != nullptr;
       lf = static_cast<const char*>(std::memchr(lf + 1, '\n', static_cast<size_t>(end - lf - 1)))) {
    const char* line = lf + 1;
    const char* cr = static_cast<const char*>(std::memchr(line, '\r', static_cast<size_t>(end - line)));
    if (cr == nullptr) break;  // the last line is not complete yet
    const size_t n = static_cast<size_t>(cr - line);
    if (lineIs(line, n, "OK")) return eResultOK;
    if (lineIs(line, n, "ERROR")) return eResultError;
    if (lineIs(line, n, "NO CARRIER") || lineIs(line, n, "BUSY") || lineIs(line, n, "NO DIALTONE") ||
        lineIs(line, n, "NO ANSWER") || (n >= 7 && std::memcmp(line, "CONNECT", 7) == 0))
      return eResultOther;
  }
  return eResultNone;
}

CModem::CModem() : m_iState(kStateConstructed), m_ulResponseTiming(125) {}

CModem::~CModem() { close(); }

void CModem::setInitCommands(const char* commands) { m_StrInitCommands = commands; }
void CModem::setCloseCommands(const char* commands) { m_StrCloseCommands = commands; }
void CModem::setResponseTiming(unsigned long milliseconds) { m_ulResponseTiming = milliseconds; }

CModem::eERROR CModem::runList(const CString& list) {
  eERROR result = eOK;
  int pos = 0;
  for (;;) {
    const int open = list.Find('[', pos);
    if (open < 0) break;
    const int close = list.Find(']', open);
    const CString command = close < 0 ? list.Mid(open + 1) : list.Mid(open + 1, close - open - 1);
    result = commandOK(command);
    if (result != eOK || close < 0) break;
    pos = close;
  }
  return result;
}

CModem::eERROR CModem::init(const CString& port, DCB* settings) {
  CDebugLog log("CModem::init", "%s,0x%x", port.GetString(), ptrBits(settings));
  CSingleLock lock(&m_Lock, TRUE);
  eERROR result = eOpenFailed;
  if (!lock.IsLocked()) {
    result = eLockFailed;
  } else if (m_Port.open(port, settings) == CSerialPort::eOK) {
    m_iState = kStateInitialised;
    if (m_StrInitCommands.IsEmpty()) {
      result = eNoInitCommands;
    } else {
      result = runList(m_StrInitCommands);
      if (result != eOK) m_Port.close();
    }
  }
  log.Report("Return", "%d", static_cast<int>(result));
  return result;
}

int CModem::close() {
  // Closing goes ahead even if the lock cannot be had: the port must go.
  CSingleLock lock(&m_Lock, TRUE);
  if (!m_StrCloseCommands.IsEmpty() && m_Port.isOpen()) runList(m_StrCloseCommands);
  m_Port.close();
  return 1;
}

CModem::eERROR CModem::transmit(const CString& text, unsigned long length, unsigned long& sent) {
  sent = 0;
  if (length >= kBufferSize || static_cast<unsigned long>(text.GetLength()) != length) return eCommandFailed;
  char buffer[kBufferSize] = {};
  std::memcpy(buffer, text.GetString(), length);
  unsigned long count = length;
  const CSerialPort::error rc = m_Port.write(buffer, &count);
  sent = count;
  return rc == CSerialPort::eOK && count == length ? eOK : eCommandFailed;
}

CModem::eERROR CModem::receive(CString& answer, unsigned long maximum, unsigned long& received) {
  char buffer[kBufferSize] = {};
  received = 0;
  unsigned idle = 0;
  DWORD pause = kFirstPollMs;
  bool readFailed = false;
  do {
    if (idle >= kIdleLimit) break;
    unsigned long count = kBufferSize - received;
    if (m_Port.read(buffer + received, &count) != CSerialPort::eOK) {
      readFailed = true;
      break;
    }
    if (count > 0) {
      received += count;
      if (finalResult(buffer, received) != eResultNone) {
        idle = kIdleLimit;  // the answer is complete
      } else {
        pause = kLaterPollMs;
        idle = 0;
      }
    } else {
      Sleep(pause);
      ++idle;
    }
  } while (received <= maximum && received < kBufferSize);
  if (readFailed || received == 0) return eNoAnswer;
  answer = CString(buffer, static_cast<int>(received));
  return eOK;
}

CModem::eERROR CModem::sendCommand(const CString& command, unsigned long& sent, CString& answer,
                                   unsigned long maximum, unsigned long& received) {
  received = 0;
  // A line break inside would end the command early and start another.
  if (command.FindOneOf("\r\n") >= 0) return eCommandFailed;
  const CString text = CString("AT") + command + '\r';
  const eERROR sendResult = transmit(text, static_cast<unsigned long>(text.GetLength()), sent);
  if (sendResult != eOK) return sendResult;
  Sleep(static_cast<DWORD>(m_ulResponseTiming));
  return receive(answer, maximum, received);
}

CModem::eERROR CModem::commandOK(const CString& command) {
  CSingleLock lock(&m_Lock, TRUE);
  if (!lock.IsLocked()) return eLockFailed;
  CDebugLog log("CModem::commandOK", "\"%s\"", command.GetString());
  eERROR result = eNotInitialised;
  if (m_iState == kStateInitialised) {
    unsigned long sent = 0, received = 0;
    CString answer;
    const eERROR rc = sendCommand(command, sent, answer, kBufferSize, received);
    result = rc == eOK && finalResult(answer.GetString(), static_cast<size_t>(answer.GetLength())) == eResultOK
                 ? eOK
                 : eCommandFailed;
  }
  log.Report("Return", "%d", static_cast<int>(result));
  return result;
}

CModem::eERROR CModem::commandResponse(const CString& command, CString& response, int firstLineOnly) {
  CSingleLock lock(&m_Lock, TRUE);
  if (!lock.IsLocked()) return eLockFailed;
  CDebugLog log("CModem::commandResponse", "\"%s\"", command.GetString());
  eERROR result = eNotInitialised;
  if (m_iState == kStateInitialised) {
    unsigned long sent = 0, received = 0;
    CString raw;
    result = sendCommand(command, sent, raw, kBufferSize, received);
    if (result == eOK && firstLineOnly != 1) {
      response = raw;
    } else if (result == eOK) {
      // Past the echo's carriage return, past the next line feed, then the
      // line up to its carriage return (and one character more).
      const char* p = raw.GetString();
      const int n = raw.GetLength();
      int phase = 0, start = 0, length = 0;
      for (int i = 0; i < n && phase < 4; ++i) {
        const char c = p[i];
        if (phase == 0) {
          if (c == '\r') phase = 1;
        } else if (phase == 1) {
          if (c == '\n') {
            phase = 2;
            start = i + 1;
          }
        } else if (phase == 2) {
          if (c == '\r') phase = 3;
          else ++length;
        } else {
          phase = 4;
        }
      }
      if (phase >= 2) response.Append(p + start, length);
    }
  }
  log.Report("Return", "%d, response = \"%s\"", static_cast<int>(result), response.GetString());
  return result;
}

void CModem::purgeReadBuffer(unsigned int milliseconds) {
  CSingleLock lock(&m_Lock, TRUE);
  if (!lock.IsLocked()) return;
  Sleep(milliseconds);
  char buffer[kPurgeChunk];
  unsigned long ask = kPurgeChunk;
  size_t dropped = 0;
  const auto until = std::chrono::steady_clock::now() + kPurgeMaxTime;
  while (dropped < kPurgeMaxBytes && std::chrono::steady_clock::now() < until) {
    unsigned long count = ask;
    if (m_Port.read(buffer, &count) != CSerialPort::eOK || count == 0) break;
    dropped += count;
    ask = count;
  }
}
