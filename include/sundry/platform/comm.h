#pragma once
// Serial communications: the Win32 functions that set up and drive a
// communications port, over a terminal device (termios).
//
// A port is opened with CreateFileA (file.h) under one of these names:
//
//   "\\.\COMn" or "COMn" (n from 1 to 256, any case)
//       the device that the COM map names for COMn, else /dev/ttyS<n-1>.
//       The COM map is looked up in this order:
//         1. the file named by the environment variable SUNDRY_COM_MAP:
//            lines "COMn=/dev/path" (blanks around the parts, empty lines
//            and lines starting with '#' or ';' are ignored);
//         2. the registry, as Windows keeps it: the values of
//            HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, each named
//            after a device with the port name as its REG_SZ data (the value
//            "/dev/ttyACM0" with data "COM3" makes COM3 that device);
//       so a USB modem on /dev/ttyACM0 can be COM3.
//   "\\.\/dev/..." or "/dev/..." (any absolute path)
//       that device as it is.
//
// Any other name gives ERROR_FILE_NOT_FOUND. The device is opened for
// reading and writing, without becoming the controlling terminal, without
// blocking, and closed on exec; then it is locked for this handle alone
// (flock, which holds also against root, unlike TIOCEXCL): a port that
// another handle, in this process or another, has locked gives
// ERROR_ACCESS_DENIED, as Windows answers for a busy port; a missing device
// gives ERROR_FILE_NOT_FOUND; a path that is not a terminal gives
// ERROR_NOT_SUPPORTED. The port is then put into raw mode (no line editing,
// no echo, no CR/LF translation, 8 bits, receiver on, modem-control lines
// ignored for the line state: CLOCAL), since a cooked terminal would turn a
// modem's carriage returns into line feeds.
//
// How the DCB maps to termios: BaudRate to the line speed (the standard
// rates by their B constants, any other by BOTHER); ByteSize 5..8 to CS5..CS8;
// Parity NOPARITY/ODDPARITY/EVENPARITY/MARKPARITY/SPACEPARITY to PARENB,
// PARODD and CMSPAR; StopBits ONESTOPBIT to one stop bit, ONE5STOPBITS and
// TWOSTOPBITS to CSTOPB; fParity to INPCK; fOutX to IXON, fInX to IXOFF,
// XonChar/XoffChar to VSTART/VSTOP; fOutxCtsFlow or fRtsControl ==
// RTS_CONTROL_HANDSHAKE to CRTSCTS (Linux has one switch for both
// directions). fDtrControl and fRtsControl ENABLE/DISABLE raise or lower DTR
// and RTS. The other fields are kept as given and read back as the port
// last took them.
//
// Time-outs (COMMTIMEOUTS) are kept by the handle and applied by ReadFile
// and WriteFile with poll deadlines on the non-blocking descriptor; the
// terminal itself is left at VMIN 1, VTIME 0, so that a read finding nothing
// is told apart from a hang-up (which reads as the end of the file).
//
// Handles live in the process's handle table and are closed with
// CloseHandle, which releases the lock. A handle may be used from several
// threads (one reading while another writes); it must not be closed while
// another thread still uses it.
//
// On a pseudo-terminal the modem-control requests (DTR, RTS, modem status)
// are refused by the system (ENOTTY): EscapeCommFunction then fails with
// ERROR_NOT_SUPPORTED and the port stays usable, and SetCommState ignores
// exactly that refusal when it sets the lines, so the other settings still
// apply.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

// The device-control record, laid out as Win32's (28 bytes).
#if !defined(_WIN32)
// On Windows the records, constants and functions below are the system's own.
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
typedef DCB* LPDCB;
static_assert(sizeof(DCB) == 28, "DCB is 28 bytes, as on Windows");

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS* LPCOMMTIMEOUTS;

struct COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
};
typedef COMSTAT* LPCOMSTAT;

#define MAXDWORD 0xFFFFFFFFu

// DCB field values.
#define DTR_CONTROL_DISABLE 0x00u
#define DTR_CONTROL_ENABLE 0x01u
#define DTR_CONTROL_HANDSHAKE 0x02u
#define RTS_CONTROL_DISABLE 0x00u
#define RTS_CONTROL_ENABLE 0x01u
#define RTS_CONTROL_HANDSHAKE 0x02u
#define RTS_CONTROL_TOGGLE 0x03u
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

// Standard rates; any other rate may be given as a number.
#define CBR_110 110u
#define CBR_300 300u
#define CBR_600 600u
#define CBR_1200 1200u
#define CBR_2400 2400u
#define CBR_4800 4800u
#define CBR_9600 9600u
#define CBR_14400 14400u
#define CBR_19200 19200u
#define CBR_38400 38400u
#define CBR_57600 57600u
#define CBR_115200 115200u

// EscapeCommFunction codes.
#define SETXOFF 1u
#define SETXON 2u
#define SETRTS 3u
#define CLRRTS 4u
#define SETDTR 5u
#define CLRDTR 6u
#define SETBREAK 8u
#define CLRBREAK 9u

// PurgeComm flags.
#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

// ClearCommError error bits.
#define CE_RXOVER 0x0001u
#define CE_OVERRUN 0x0002u
#define CE_RXPARITY 0x0004u
#define CE_FRAME 0x0008u
#define CE_BREAK 0x0010u

// GetCommModemStatus bits.
#define MS_CTS_ON 0x0010u
#define MS_DSR_ON 0x0020u
#define MS_RING_ON 0x0040u
#define MS_RLSD_ON 0x0080u

extern "C" {

// Reads the port's settings into *lpDCB (DCBlength set to sizeof(DCB),
// fBinary 1). Returns TRUE; FALSE with ERROR_INVALID_HANDLE for a handle
// that is not an open port, ERROR_INVALID_PARAMETER for a null lpDCB, or the
// system's code when the settings cannot be read.
SUNDRY_EXPORT BOOL GetCommState(HANDLE hFile, LPDCB lpDCB);

// Applies *lpDCB to the port (see the mapping above), all settings at once.
// Returns TRUE; FALSE with ERROR_INVALID_PARAMETER, changing nothing, for a
// BaudRate of 0 (which would hang up the line), a ByteSize outside 5..8, a
// Parity above SPACEPARITY, a StopBits above TWOSTOPBITS, or a null lpDCB;
// ERROR_INVALID_HANDLE for a handle that is not an open port; the system's
// code when the terminal refuses the settings or a modem-control line
// cannot be set for any reason but the device having no such lines.
SUNDRY_EXPORT BOOL SetCommState(HANDLE hFile, LPDCB lpDCB);

// Reads the handle's time-outs. FALSE with ERROR_INVALID_HANDLE or
// ERROR_INVALID_PARAMETER (null pointer).
SUNDRY_EXPORT BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);

// Sets the handle's time-outs, used by the following ReadFile and WriteFile
// calls (all threads):
//   read: ReadIntervalTimeout MAXDWORD with both totals 0 returns at once
//   with what is buffered (possibly nothing); MAXDWORD with multiplier
//   MAXDWORD and a constant below MAXDWORD waits up to the constant for the
//   first byte and returns what is there then; otherwise the read lasts at
//   most multiplier * count + constant milliseconds (no limit when both are
//   0) and ends early when more than ReadIntervalTimeout milliseconds pass
//   between two bytes (0: no interval limit).
//   write: at most multiplier * count + constant milliseconds (no limit when
//   both are 0).
// FALSE with ERROR_INVALID_HANDLE or ERROR_INVALID_PARAMETER (null pointer,
// or a ReadIntervalTimeout MAXDWORD with a multiplier and a constant both
// MAXDWORD).
SUNDRY_EXPORT BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);

// Asks for queue sizes. The terminal driver has fixed queues, so the sizes
// are only checked: TRUE for an open port, FALSE with ERROR_INVALID_HANDLE
// otherwise.
SUNDRY_EXPORT BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue);

// Discards the input (PURGE_RXCLEAR) and/or output (PURGE_TXCLEAR) queue.
// PURGE_RXABORT and PURGE_TXABORT have nothing to abort (no operation is
// overlapped) and are accepted. FALSE with ERROR_INVALID_PARAMETER for other
// bits or none, ERROR_INVALID_HANDLE, or the system's code.
SUNDRY_EXPORT BOOL PurgeComm(HANDLE hFile, DWORD dwFlags);

// Performs one of SETDTR, CLRDTR, SETRTS, CLRRTS (the modem-control lines),
// SETBREAK, CLRBREAK (the break state), SETXOFF, SETXON (output held or
// released as if XOFF or XON had come). FALSE with ERROR_INVALID_PARAMETER
// for any other code, ERROR_NOT_SUPPORTED when the device has no such lines
// (a pseudo-terminal), ERROR_INVALID_HANDLE, or the system's code. A failure
// leaves the port open and usable.
SUNDRY_EXPORT BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc);

// Reports the port's error bits (always 0 here: the terminal driver does not
// keep them per handle) in *lpErrors and its queue lengths in *lpStat;
// either pointer may be null. FALSE with ERROR_INVALID_HANDLE or the
// system's code (the queues of a hung-up line cannot be read).
SUNDRY_EXPORT BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat);

// The modem-status lines (MS_*_ON). FALSE with ERROR_NOT_SUPPORTED on a
// device without them, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER.
SUNDRY_EXPORT BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat);

// Makes a second handle to the same open port (the same descriptor state and
// lock, which go when the last of its handles is closed). Only the current
// process (GetCurrentProcess()) is supported (ERROR_NOT_SUPPORTED for any
// other), and only communications handles: ERROR_INVALID_HANDLE for any
// other handle or one that is not open; ERROR_INVALID_PARAMETER for a null
// lpTargetHandle.
// dwDesiredAccess, bInheritHandle and dwOptions are ignored.
SUNDRY_EXPORT BOOL DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                   HANDLE hTargetProcessHandle, HANDLE* lpTargetHandle,
                                   DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);

// The pseudo-handle of the calling process, as on Windows ((HANDLE)-1).
SUNDRY_EXPORT HANDLE GetCurrentProcess(void);
}
#endif  // !_WIN32
