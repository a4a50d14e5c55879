#pragma once
// CSerialPort: one serial communications port, opened by name, read and
// written synchronously, with its DTR and RTS lines, flow control and baud
// rate. Port names are those of CreateFileA (sundry/platform/comm.h): "COM3",
// or a device path such as "/dev/ttyUSB0".
//
// Every operation but isOpen returns an error value: 0 success, 1 opening
// or setting up failed, 2 the port is not open, 3 a read failed, 4 a write
// failed, 5/6 the DTR/RTS line could not be changed, 7 flow control, 8 baud
// rate, 11 no buffer. open and close trace under "CSerialPort::open" and
// "CSerialPort::close"; read and write open "CSerialPort::read" and
// "CSerialPort::write" only when they fail.
//
// Behaviour to rely on:
// - open closes an open port first, opens the device with its lock (a port
//   in use gives 1, with the system code, ERROR_ACCESS_DENIED, in the log),
//   reads its settings, clears both queues and sets the time-outs: reads
//   return at once with what is buffered, a write of n bytes may take
//   2 * n + 125 milliseconds. The settings pointer is only logged: the port
//   keeps the settings it has.
// - close takes at least half a second when a port was open (two pauses of
//   250 ms, so a modem sees the line drop) and always returns 0. The handle
//   is closed once and forgotten, whatever the system answers.
// - read and write with a count of 0 do nothing and return 0. A read gives
//   what has arrived, possibly nothing; a hang-up of the line is a failed
//   read (3). A write that could not send every byte in its time (flow
//   control holding it) returns 4 with the count actually sent and leaves
//   the port open; any other failed read or write closes the port, so later
//   calls answer 2 until it is opened again.
// - setDTR takes only DTR_HIGH (5) and DTR_LOW (6), setRTS only RTS_HIGH (3)
//   and RTS_LOW (4); other values fail (5, 6) without reaching the port. A
//   device without modem-control lines (a pseudo-terminal) fails these too
//   and stays usable. setFlowControl works on such a device.
// - setBaudRate(0) fails with 8 (a rate of 0 would hang up the line).
// - A copy holds its own handle to the same open port (both must be closed;
//   the device is released with the last); a copy of a closed port is closed.
//
// One object serves one thread at a time; CModem serialises its own use.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/comm.h>
#include <sundry/platform/wintypes.h>

class SUNDRY_EXPORT CSerialPort {
 public:
  enum error {
    eOK = 0,
    eOpenFailed = 1,
    eNotOpen = 2,
    eReadFailed = 3,
    eWriteFailed = 4,
    eDTRFailed = 5,
    eRTSFailed = 6,
    eFlowControlFailed = 7,
    eBaudRateFailed = 8,
    eNoBuffer = 11,
  };
  // The values are the EscapeCommFunction codes.
  enum dtr { DTR_HIGH = 5, DTR_LOW = 6 };
  enum rts { RTS_HIGH = 3, RTS_LOW = 4 };
  enum flowctl { FLOW_NONE = 0, FLOW_XONXOFF = 1, FLOW_RTSCTS = 2 };

  CSerialPort();
  CSerialPort(const CSerialPort& other);
  CSerialPort& operator=(const CSerialPort& other);
  ~CSerialPort();

  error open(const CString& port, DCB* settings);
  error close();
  error read(void* buffer, unsigned long* count);
  error write(const void* buffer, unsigned long* count);
  error setDTR(dtr value);
  error setRTS(rts value);
  error setFlowControl(flowctl mode);
  error setBaudRate(unsigned long rate);
  bool isOpen() const { return m_hPort != nullptr; }

  // The name given to the last successful open; the settings as last read.
  const CString& getPortName() const { return m_StrPortName; }
  const DCB& getSettings() const { return m_dcb; }

 private:
  void copyFrom(const CSerialPort& other);

  CString m_StrPortName;
  HANDLE m_hPort;
  DCB m_dcb;
};
