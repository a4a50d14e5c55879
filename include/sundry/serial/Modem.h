#pragma once
// CModem: an AT-command conversation with a modem over a CSerialPort.
//
// Command lists are written "[Z][E0]": each command between brackets,
// without its "AT" prefix; text outside brackets is ignored and a last
// command without "]" runs to the end. init opens the port and sends the
// init list, close sends the close list and closes the port.
//
// A command goes out as "AT" + command + carriage return (nothing else is
// written). After the response timing (125 ms unless set) the answer is
// read in polls: 25 ms apart until the first byte (160 polls, 4 s, for a
// silent modem), then 20 ms apart, each new burst giving another 160 polls.
// The wait ends at once when a final result line arrives (a line after a
// line feed, ended by a carriage return, reading OK, ERROR, NO CARRIER,
// BUSY, NO DIALTONE, NO ANSWER or CONNECT with any suffix), or when 384
// bytes have come. Answers keep their length: a NUL byte from line noise
// neither cuts them nor hides a result.
//
// Results (eERROR): 0 success; 2 not initialised; 6 init could not open the
// port; 10 the command failed (refused, not written, or for commandOK a
// final result other than OK, or none); 11 no answer (reading failed, or
// nothing came); 16 init found no init commands (the port stays open);
// 17 the lock could not be taken.
// - commandOK is 0 only when the answer's final result line is OK: an "OK"
//   inside the echo of the command, or anywhere else, does not count.
// - commandResponse is 0 for any answer that arrived, ERROR included; with
//   firstLineOnly 1 it appends the first line of the answer proper (after
//   the echo) to response, else response becomes the whole answer.
// - A command that holds a carriage return or a line feed, or that would
//   make the line 384 bytes or longer, is refused (10) without writing.
//
// Locking: one recursive lock per object is held for a whole command
// exchange, and by init, close and purgeReadBuffer for their whole run, so
// commands from several threads never interleave on the line.
//
// Traces: "CModem::init", "CModem::commandOK", "CModem::commandResponse",
// each ending with a "Return" line.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/CSync.h>
#include <sundry/serial/SerialPort.h>

#include <cstddef>

class SUNDRY_EXPORT CModem {
 public:
  enum eERROR {
    eOK = 0,
    eNotInitialised = 2,
    eOpenFailed = 6,
    eCommandFailed = 10,
    eNoAnswer = 11,
    eNoInitCommands = 16,
    eLockFailed = 17,
  };
  // The kind of final result line in an answer (finalResult).
  enum eRESULT { eResultNone = 0, eResultOK = 1, eResultError = 2, eResultOther = 3 };

  CModem();
  ~CModem();
  CModem(const CModem&) = delete;
  CModem& operator=(const CModem&) = delete;

  eERROR init(const CString& port, DCB* settings);
  int close();
  eERROR commandOK(const CString& command);
  eERROR commandResponse(const CString& command, CString& response, int firstLineOnly);
  void setInitCommands(const char* commands);
  void setCloseCommands(const char* commands);
  void setResponseTiming(unsigned long milliseconds);
  // Waits, then reads and drops what the port delivers until a read brings
  // nothing, at most 10000 bytes or one second of reading, so a chattering
  // line cannot hold it for ever.
  void purgeReadBuffer(unsigned int milliseconds);

  // The first final result line of an answer (see above), by kind.
  static eRESULT finalResult(const char* answer, size_t length);

 private:
  eERROR runList(const CString& list);
  eERROR transmit(const CString& text, unsigned long length, unsigned long& sent);
  eERROR receive(CString& answer, unsigned long maximum, unsigned long& received);
  eERROR sendCommand(const CString& command, unsigned long& sent, CString& answer, unsigned long maximum,
                     unsigned long& received);

  int m_iState;
  CSerialPort m_Port;
  CString m_StrInitCommands;
  CString m_StrCloseCommands;
  unsigned long m_ulResponseTiming;
  CCriticalSection m_Lock;
};
