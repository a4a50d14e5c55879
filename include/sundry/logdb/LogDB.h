#pragma once
// CLogDB: a small file database for logs.
//
// In its main form, the fixed-record mode, a log file holds a fixed number
// of equally long binary records in a ring; once the ring is full each new
// record overwrites the oldest one. All integers in the file are 32-bit
// little-endian:
//
//   offset  0  "VELA"                     magic, no terminator
//           4  header version             always 1
//           8  type                       first 4 bytes of the caller's type
//                                         text, NUL-padded
//          12  version                    the caller's record layout version
//          16  record length              data bytes per record, > 0
//          20  first                      ring index of the oldest record, -1 if empty
//          24  last                       ring index of the newest record, -1 if empty
//          28  append counter             records appended since creation
//          32  capacity                   slots in the ring
//          36  slot 0, slot 1, ...        a status byte (0xCF live, 0x10
//                                         deleted) and the record's bytes
//
// The live records are first, first + 1, ..., last, going on from
// capacity - 1 to 0; when last < first the ring has wrapped (and, written
// by this class, is full).
// The VL mode (openVL) is a plain growing file of appended strings with no
// header.
//
// Operations returning int give 0 for success or one of the codes below;
// search, resize and isOpen return yes/no values.
//
// One writer at a time: an object that has a fixed-record log open holds an
// exclusive lock on the file until it closes it, so that no two objects, in
// one process or in several, ever append to one log at once (each would
// take its own copy of the header, and records the other acknowledged would
// be overwritten). An open of a log that another object holds waits for it
// to be closed, at most the lock wait (kDefaultLockWait unless setLockWait
// says otherwise), and then returns eLogBusy. Waiters get the log in turn.
// Every open takes the lock, readers included, as there is no read-only
// open: a reader sees the log as it stands between two whole operations of
// the writer before it, never an append half done, and waits (or gets
// eLogBusy) while a program keeps the log open. The lock goes when the
// object closes the log and when the process ends, however it ends;
// startScan, which closes and reopens the log, lets go of it for a moment. A child made by fork shares its parent's
// open logs, lock included; it must not use them, but may open logs of its
// own, which the parent's lock then holds back. Creating, truncating and
// resizing put the new file in place with its lock already taken, after
// the former file's holder has let go. VL-mode files are not locked: their
// appends in an "a" mode go to the end of the file in one write each.
// On a file system without locks a fixed-record log cannot be opened (2) or
// created (5).
//
// Durability: the log is opened in commit mode. A record whose append
// returned 0 is on the disk and survives a crash of the process or of the
// system: the slot is committed before the sub-header that makes it part of
// the ring, and when the ring is full the slot being reused is first written
// as deleted, so that a crash never shows a newer record in the place of the
// oldest one. Creating a log and resize write a complete new file beside the
// old one and rename it over, so they never leave a cut file behind; the
// file beside that a process killed during a resize leaves is removed by
// the next open of that log (not by the reopening of startScan).
//
// Only a regular file is taken for a log: a path that names a device, a
// FIFO, a directory or a socket (or a link to one) is never opened, waited
// on, replaced or turned into a file; open returns 2 for it, and 5 when
// asked to create or truncate it.
//
// A file is checked whole before it is used: a header that lies about the
// file (a record length, capacity, first or last outside their ranges, a
// file shorter than its live records) makes open fail, closes the file and
// writes nothing to it. Slot indices, stamp offsets and buffers given to the
// record operations are checked too.
//
// An object serves one thread at a time.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/wintypes.h>

#include <vector>

namespace sundry::platform {
struct FileStream;
}

class SUNDRY_EXPORT CLogDB {
 public:
  // Result codes.
  enum eRESULT {
    eSuccess = 0,
    eAlreadyOpen = 1,        // openVL: a file is already open
    eOpenFailed = 2,         // the file could not be opened
    eNotOpen = 3,            // no file open; or the VL append on a fixed-record log
    eCreateFailed = 5,       // the new file could not be created
    eShortHeader = 6,        // the header or sub-header could not be read in full
    eBadMagic = 7,           // the file does not start with "VELA"
    eBadHeaderVersion = 8,   // the header version is not 1
    eTypeMismatch = 9,       // the type differs; also fixed-record write in VL mode,
                             // and the VL append with no file open
    eVersionMismatch = 10,   // the version differs
    eBadRecordLength = 11,   // the file's record length is 0 or less, or above kMaxRecordLength
    eSeekFailed = 12,        // seeking to a slot (or the end of a VL file) failed
    eReadFailed = 13,        // reading a slot failed or ran into the end of the file
    eWriteFailed = 14,       // writing or committing a slot or a VL append failed
    eHeaderWriteFailed = 15, // writing or committing the sub-header failed
    eDeleted = 16,           // the slot holds a deleted record
    eNoMoreRecords = 18,     // the walk has ended
    eVLFileFull = 18,        // the VL file has grown past its maximum size
    eEmptyLog = 19,          // the log is empty when a walk starts
    eNotInVLMode = 20,       // deleting or emptying is not possible in VL mode
    eRewindFailed = 21,      // rewinding a VL file failed
    eReadInVLMode = 22,      // reading records is not possible in VL mode
    eBadRing = 23,           // the sub-header's capacity is 0 or less or makes the file
                             // too large, or first or last is outside -1 to capacity - 1,
                             // or only one of them is -1
    eFileTooShort = 24,      // the file ends before the last of its live records
    eBadArgument = 25,       // a slot index outside the ring, a stamp offset that does not
                             // fit the record, a null buffer, a record length or capacity
                             // that cannot make a log
    eLogBusy = 26,           // open: another object, in this or another process, had the
                             // log open for the whole of the lock wait
  };

  // The largest record length a log may have, and the largest file a
  // fixed-record log may need (36 + capacity * (record length + 1)): its
  // offsets are 32-bit.
  static constexpr LONG kMaxRecordLength = 16 * 1024 * 1024;
  static constexpr LONG kMaxFileLength = 0x7fffffff;
  // How long open waits, in milliseconds, for another object to close the
  // log, unless setLockWait says otherwise.
  static constexpr DWORD kDefaultLockWait = 10000;

  // The header and sub-header fields of a fixed-record log, as the file
  // layout above names them, and the file's length in bytes.
  struct HeaderInfo {
    char magic[5];  // the first four bytes, with a terminator added
    LONG lHeaderVersion;
    char type[5];   // the type field up to its first NUL byte, terminated
    DWORD dwVersion;
    LONG lRecLen, lFirst, lLast, lAppendCount, lCapacity;
    LONGLONG llFileSize;
  };

  // Reads the header of the file filename as it stands, without opening it
  // as a log and without the checks of open: for tools that show what a
  // file holds, a file that open refuses included, and that need the type
  // and version to open it with. Takes no lock and writes nothing; a writer
  // that has the log open may be changing the sub-header meanwhile (the
  // header of an open log comes from getHeader). Returns 0 with *info
  // filled; eOpenFailed when the file cannot be opened (the last error
  // tells why: ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED for a path that is
  // not a regular file, which is never read or waited on, ...);
  // eShortHeader when it holds fewer than 36 bytes; eBadArgument for a null
  // info. *info is left alone unless the result is 0.
  static int readHeader(CString filename, HeaderInfo* info);

  CLogDB();
  virtual ~CLogDB();
  // A copy takes every field but the open file: it starts closed and can
  // reopen the same log (startScan does so) once the original has closed
  // it; until then the reopening waits and gives eLogBusy. Assigning closes
  // the target's file first.
  CLogDB(const CLogDB& other);
  CLogDB& operator=(const CLogDB& other);

  // Opens the fixed-record log filename, creating it when it does not exist
  // and reclen is positive. For an existing file the record length and the
  // capacity are the file's; type (first 4 bytes) and version must match.
  // maxRec 0 opens nothing and returns 0; so does a call while a file is
  // open. A non-zero truncate replaces the file by a new, empty log made
  // from the arguments, once no other object has it open. Returns 0, 2, 5,
  // 6 to 11, 23, 24, 25 or 26 (eLogBusy: see the lock above). A file
  // that another process creates at the same moment is opened, not
  // replaced.
  int open(CString filename, CString type, unsigned int version, LONG reclen, LONG maxRec,
           int truncate);
  // Opens filename in VL mode with a run-time mode string ("ab", "wb",
  // "abc", ...). maxRecLen > 0 caps the bytes of one append; maxFileSize -1
  // means no limit, 0 opens nothing. Returns 0, 1 or 2. The object stays in
  // VL mode for the rest of its life.
  int openVL(CString filename, CString mode, const char* type, LONG maxRecLen, LONG maxFileSize);
  // Closes the file if one is open; always 0. The header stays in memory.
  int close();
  // 1 while a file is open, else 0.
  int isOpen();
  // How long the next opens wait for another object to close the log, in
  // milliseconds: 0 not at all, INFINITE (platform/file.h) without limit.
  // Copies take it over.
  void setLockWait(DWORD milliseconds);

  // Fixed-record mode: recNo -1 appends data (record-length bytes) as the
  // newest record, stamping it, unless stampOffset is -1, with the append
  // counter's new value as a 32-bit little-endian number at that offset
  // (0 to record length - 4). Any other recNo (0 to capacity - 1) writes
  // that slot in place: no stamp, first and last unchanged.
  int setRecord(void* data, LONG stampOffset, LONG recNo);
  // VL mode: appends the text's bytes (cut to the maximum record length).
  int setRecord(CString& text);
  // Reads the live record of slot recNo into buffer (record-length bytes).
  int getRecord(void* buffer, LONG recNo);
  // Marks slot recNo deleted; empties the log when no live record is left.
  int delRecord(LONG recNo);
  // Makes the log empty; the append counter and the file's bytes stay.
  int empty();
  // Reloads the header from the file and begins a walk, oldest first.
  // 19 when the log is empty.
  int startScan();
  // The walk's next live record and its slot index; 18 at the end.
  int getNextRecord(void* buffer, LONG* recNo);
  // Finds the next live record whose bytes keyOffset .. keyOffset +
  // keyLength - 1 equal the first keyLength bytes of key, copying it to out
  // when out is not null. resume 0 starts at the oldest record, non-zero
  // goes on after the previous match. 1 when found, else 0 (also for a key
  // range outside the record).
  int search(LONG keyOffset, LONG keyLength, void* key, int resume, void* out);
  // Records in the live range, deleted ones included; -1 in VL mode.
  LONG getRecordCount();
  // The record length; the VL maximum record length in VL mode.
  LONG getRecordSize();
  // The slot of the record last read or written successfully, or -1.
  LONG getLastRecordNumber();
  // The header of the fixed-record log this object has open, which is the
  // file's: no other object writes the log while this one holds it. 0 with
  // *info filled; eNotOpen with no log open, eReadInVLMode in VL mode,
  // eBadArgument for a null info (*info then untouched).
  int getHeader(HeaderInfo* info);
  // Gives the log a new capacity, keeping its live records oldest first
  // (the newest are dropped when they do not fit). The new file is put in
  // place already open and locked, so the object is never left closed.
  // 1 when the file was rewritten and committed. 0 when it was not: no
  // log open, VL mode or the capacity unchanged; or a record could not be
  // read or the new file not be written (the object keeps the former file,
  // open, as it was). Also 0 when the new file is in place but its
  // directory entry could not be committed: the object then works on the
  // new file, which may not survive a crash of the system.
  int resize(LONG maxRec);

 private:
  struct Header {
    char magic[4];
    LONG lVersion;
  };
  struct SubHeader {
    char type[4];
    DWORD dwVersion;
    LONG lRecLen;
    LONG lFirst;
    LONG lLast;
    LONG lAppendCount;
    LONG lCapacity;
  };

  // replace: truncate an existing file; else create only where no file is
  // (ERROR_FILE_EXISTS left as the last error when one appeared meanwhile).
  int create(CString filename, CString type, unsigned int version, LONG reclen, LONG maxRec, bool replace);
  // open, and, with tidy, removal of the files beside the log that a cut
  // short replacement left.
  int openLog(CString filename, CString type, unsigned int version, LONG reclen, LONG maxRec, int truncate,
              bool tidy);
  int openExisting(int truncate);
  int writeSubHeader();
  void incrementRecord(LONG& index);
  void decrementRecord(LONG& index);

  // Reads and checks the header of a freshly opened file; on success the
  // object takes the stream, the header and the file name.
  int loadHeader(sundry::platform::FileStream* stream, const CString& filename, const CString& type,
                 unsigned int version);
  // The body of resize: collects the live records and writes the new file.
  int rewriteWithCapacity(LONG maxRec);
  // Moves a walker one record on, to -1 when the walk is over.
  void advanceWalk(LONG& position);
  int seekSlot(LONG index);
  CString typeText() const;

  sundry::platform::FileStream* m_pStream;
  CString m_StrFileName;
  Header m_Header;
  SubHeader m_SubHeader;
  LONG m_lRecordOffset;
  LONG m_lScanPos;
  LONG m_lSearchPos;
  LONG m_lLastRecNo;
  int m_iMode;
  LONG m_lVLMaxRecLen;
  LONG m_lVLMaxFileSize;
  CString m_StrVLLabel;
  std::vector<unsigned char> m_Buffer;  // one slot image: status byte and record
  DWORD m_dwLockWait;                   // see setLockWait
};
