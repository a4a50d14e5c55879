// CLogDB: the file format, create, open and close, and the record
// operations.

#include <sundry/diag/DebugLog.h>
#include <sundry/logdb/LogDB.h>
#include <sundry/platform/error.h>
#include <sundry/platform/file.h>

#include "platform/framework/coding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

using namespace sundry::platform;

namespace {

constexpr char kMagic[4] = {'V', 'E', 'L', 'A'};
constexpr LONG kHeaderVersion = 1;
constexpr size_t kHeaderSize = 8;
constexpr size_t kSubHeaderSize = 28;
constexpr LONG kRecordAreaOffset = 36;
constexpr unsigned char kLive = 0xCF;
constexpr unsigned char kDeleted = 0x10;

// File offset of slot index in a log of records of recLen bytes; also the
// file length needed to hold slots 0 to index - 1.
LONGLONG slotOffset(LONG recLen, LONG index) {
  return kRecordAreaOffset + static_cast<LONGLONG>(index) * (static_cast<LONGLONG>(recLen) + 1);
}

// Whether a ring of capacity slots of recLen bytes can be a log: both
// positive, the record no longer than the limit, and every slot at an
// offset that 32 bits can hold.
bool ringFits(LONG recLen, LONG capacity) {
  return recLen > 0 && recLen <= CLogDB::kMaxRecordLength && capacity > 0 &&
         slotOffset(recLen, capacity) <= CLogDB::kMaxFileLength;
}

void encodeHeader(unsigned char* out) {
  std::memcpy(out, kMagic, 4);
  EncodeFixed32(out + 4, static_cast<uint32_t>(kHeaderVersion));
}

void encodeSubHeader(unsigned char* out, const char type[4], DWORD version, LONG recLen, LONG first, LONG last,
                     LONG appendCount, LONG capacity) {
  std::memcpy(out, type, 4);
  EncodeFixed32(out + 4, version);
  EncodeFixed32(out + 8, static_cast<uint32_t>(recLen));
  EncodeFixed32(out + 12, static_cast<uint32_t>(first));
  EncodeFixed32(out + 16, static_cast<uint32_t>(last));
  EncodeFixed32(out + 20, static_cast<uint32_t>(appendCount));
  EncodeFixed32(out + 24, static_cast<uint32_t>(capacity));
}

// The fields of a raw header and sub-header, as they stand.
void decodeHeader(const unsigned char* raw, LONGLONG fileSize, CLogDB::HeaderInfo* info) {
  std::memcpy(info->magic, raw, 4);
  info->magic[4] = '\0';
  info->lHeaderVersion = static_cast<LONG>(DecodeFixed32(raw + 4));
  const size_t typeLength = strnlen(reinterpret_cast<const char*>(raw + 8), 4);
  std::memcpy(info->type, raw + 8, typeLength);
  info->type[typeLength] = '\0';
  info->dwVersion = DecodeFixed32(raw + 12);
  info->lRecLen = static_cast<LONG>(DecodeFixed32(raw + 16));
  info->lFirst = static_cast<LONG>(DecodeFixed32(raw + 20));
  info->lLast = static_cast<LONG>(DecodeFixed32(raw + 24));
  info->lAppendCount = static_cast<LONG>(DecodeFixed32(raw + 28));
  info->lCapacity = static_cast<LONG>(DecodeFixed32(raw + 32));
  info->llFileSize = fileSize;
}

const char* lastErrorText() {
  const char* text = ErrorText(GetLastError());
  return text != nullptr ? text : "unknown error";
}

}  // namespace

CLogDB::CLogDB()
    : m_pStream(nullptr),
      m_Header{{'V', 'E', 'L', 'A'}, 1},
      m_SubHeader{{0, 0, 0, 0}, 0, 0, -1, -1, 0, 0},
      m_lRecordOffset(kRecordAreaOffset),
      m_lScanPos(0),
      m_lSearchPos(0),
      m_lLastRecNo(-1),
      m_iMode(0),
      m_lVLMaxRecLen(0),
      m_lVLMaxFileSize(-1),
      m_dwLockWait(kDefaultLockWait) {}

CLogDB::~CLogDB() { close(); }

CLogDB::CLogDB(const CLogDB& other)
    : m_pStream(nullptr),
      m_StrFileName(other.m_StrFileName),
      m_Header(other.m_Header),
      m_SubHeader(other.m_SubHeader),
      m_lRecordOffset(other.m_lRecordOffset),
      m_lScanPos(other.m_lScanPos),
      m_lSearchPos(other.m_lSearchPos),
      m_lLastRecNo(other.m_lLastRecNo),
      m_iMode(other.m_iMode),
      m_lVLMaxRecLen(other.m_lVLMaxRecLen),
      m_lVLMaxFileSize(other.m_lVLMaxFileSize),
      m_StrVLLabel(other.m_StrVLLabel),
      m_Buffer(other.m_Buffer),
      m_dwLockWait(other.m_dwLockWait) {}

CLogDB& CLogDB::operator=(const CLogDB& other) {
  if (this == &other) return *this;
  close();
  m_StrFileName = other.m_StrFileName;
  m_Header = other.m_Header;
  m_SubHeader = other.m_SubHeader;
  m_lRecordOffset = other.m_lRecordOffset;
  m_lScanPos = other.m_lScanPos;
  m_lSearchPos = other.m_lSearchPos;
  m_lLastRecNo = other.m_lLastRecNo;
  m_iMode = other.m_iMode;
  m_lVLMaxRecLen = other.m_lVLMaxRecLen;
  m_lVLMaxFileSize = other.m_lVLMaxFileSize;
  m_StrVLLabel = other.m_StrVLLabel;
  m_Buffer = other.m_Buffer;
  m_dwLockWait = other.m_dwLockWait;
  return *this;
}

int CLogDB::open(CString filename, CString type, unsigned int version, LONG reclen, LONG maxRec,
                 int truncate) {
  return openLog(filename, type, version, reclen, maxRec, truncate, true);
}

int CLogDB::openLog(CString filename, CString type, unsigned int version, LONG reclen, LONG maxRec, int truncate,
                    bool tidy) {
  CDebugLog log("CLogDB::open", "filename = \"%s\", type = \"%s\", version = %d, reclen = %d, maxRec = %d",
                filename.GetString(), type.GetString(), static_cast<int>(version), static_cast<int>(reclen),
                static_cast<int>(maxRec));
  char directory[4096];
  const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory) directory[0] = '\0';
  log.Report("Status", "%.260s", directory);

  if (m_pStream != nullptr || maxRec == 0) return eSuccess;

  int rVal = eOpenFailed;
  if (truncate != 0) {
    // A truncated log is a new, empty one: the header is written with it,
    // so the file is never left without one.
    rVal = create(filename, type, version, reclen, maxRec, true);
  } else {
    // A file that another process creates between the look and the
    // creation is opened instead.
    for (int round = 0; round < 3; ++round) {
      FileStream* stream = StreamOpenLocked(filename, "r+bc", m_dwLockWait);
      if (stream != nullptr) {
        rVal = loadHeader(stream, filename, type, version);
        if (rVal != eSuccess) {
          StreamClose(stream);
        } else if (tidy) {
          // This object alone has the log open: a file beside it is what
          // is left of a resize or a truncation that was cut short.
          RemoveAbandonedReplacements(filename);
        }
        break;
      }
      const DWORD error = GetLastError();
      log.Report("Error", "_tfopen, \"%s\"", lastErrorText());
      rVal = error == ERROR_LOCK_VIOLATION ? eLogBusy : eOpenFailed;
      // Only a file that is not there is created; one that exists but
      // cannot be opened is left alone.
      if (reclen <= 0 || error != ERROR_FILE_NOT_FOUND) break;
      rVal = create(filename, type, version, reclen, maxRec, false);
      if (rVal != eCreateFailed || GetLastError() != ERROR_FILE_EXISTS) break;
    }
  }
  log.Report("Return", "rVal = %d", rVal);
  return rVal;
}

int CLogDB::readHeader(CString filename, HeaderInfo* info) {
  if (info == nullptr) return eBadArgument;
  FileStream* stream = StreamOpen(filename, "rb");
  if (stream == nullptr) return eOpenFailed;
  unsigned char raw[kRecordAreaOffset];
  const bool whole = StreamRead(stream, raw, sizeof raw) == sizeof raw;
  const LONGLONG size = StreamSize(stream);
  const DWORD error = GetLastError();
  StreamClose(stream);
  SetLastError(error);
  if (!whole) return eShortHeader;
  decodeHeader(raw, size, info);
  return eSuccess;
}

int CLogDB::getHeader(HeaderInfo* info) {
  if (info == nullptr) return eBadArgument;
  if (m_iMode == 1) return eReadInVLMode;
  if (m_pStream == nullptr) return eNotOpen;
  unsigned char raw[kRecordAreaOffset];
  encodeHeader(raw);
  encodeSubHeader(raw + kHeaderSize, m_SubHeader.type, m_SubHeader.dwVersion, m_SubHeader.lRecLen,
                  m_SubHeader.lFirst, m_SubHeader.lLast, m_SubHeader.lAppendCount, m_SubHeader.lCapacity);
  decodeHeader(raw, StreamSize(m_pStream), info);
  return eSuccess;
}

int CLogDB::loadHeader(FileStream* stream, const CString& filename, const CString& type,
                       unsigned int version) {
  unsigned char raw[kRecordAreaOffset];
  if (!StreamSeek(stream, 0, FILE_BEGIN) || StreamRead(stream, raw, kHeaderSize) != kHeaderSize)
    return eShortHeader;
  if (std::memcmp(raw, kMagic, 4) != 0) return eBadMagic;
  if (static_cast<LONG>(DecodeFixed32(raw + 4)) != kHeaderVersion) return eBadHeaderVersion;
  if (StreamRead(stream, raw + kHeaderSize, kSubHeaderSize) != kSubHeaderSize) return eShortHeader;

  SubHeader sub;
  std::memcpy(sub.type, raw + 8, 4);
  sub.dwVersion = DecodeFixed32(raw + 12);
  sub.lRecLen = static_cast<LONG>(DecodeFixed32(raw + 16));
  sub.lFirst = static_cast<LONG>(DecodeFixed32(raw + 20));
  sub.lLast = static_cast<LONG>(DecodeFixed32(raw + 24));
  sub.lAppendCount = static_cast<LONG>(DecodeFixed32(raw + 28));
  sub.lCapacity = static_cast<LONG>(DecodeFixed32(raw + 32));

  if (std::strncmp(sub.type, type.GetString(), 4) != 0) return eTypeMismatch;
  if (sub.dwVersion != version) return eVersionMismatch;
  if (sub.lRecLen <= 0 || sub.lRecLen > kMaxRecordLength) return eBadRecordLength;
  if (!ringFits(sub.lRecLen, sub.lCapacity)) return eBadRing;
  // first and last are both -1 (empty) or both slots of the ring. Any two
  // slots make a live range: the walk goes from first round to last.
  const bool empty = sub.lFirst == -1 && sub.lLast == -1;
  const bool inRing = sub.lFirst >= 0 && sub.lFirst < sub.lCapacity && sub.lLast >= 0 &&
                      sub.lLast < sub.lCapacity;
  if (!empty && !inRing) return eBadRing;
  // Every slot of the live range must lie within the file.
  const LONG slotsInUse = empty ? 0 : (sub.lLast >= sub.lFirst ? sub.lLast + 1 : sub.lCapacity);
  const LONGLONG size = StreamSize(stream);
  if (size < 0) return eShortHeader;
  if (size < slotOffset(sub.lRecLen, slotsInUse)) return eFileTooShort;

  std::memcpy(m_Header.magic, kMagic, 4);
  m_Header.lVersion = kHeaderVersion;
  m_SubHeader = sub;
  m_StrFileName = filename;
  m_pStream = stream;
  m_Buffer.assign(static_cast<size_t>(sub.lRecLen) + 1, 0);
  return eSuccess;
}

int CLogDB::create(CString filename, CString type, unsigned int version, LONG reclen, LONG maxRec, bool replace) {
  CDebugLog log("CLogDB::create", "filename = \"%s\", type = \"%s\", version = %d, reclen = %d, maxRec = %d",
                filename.GetString(), type.GetString(), static_cast<int>(version), static_cast<int>(reclen),
                static_cast<int>(maxRec));
  int rVal = eSuccess;
  DWORD error = ERROR_SUCCESS;
  if (reclen <= 0 || reclen > kMaxRecordLength || !ringFits(reclen, maxRec)) rVal = eBadArgument;

  SubHeader sub{};
  if (rVal == eSuccess) {
    // The type field: the text's first four bytes, NUL-padded.
    const char* text = type.GetString();
    for (int i = 0; i < 4 && text[i] != '\0'; ++i) sub.type[i] = text[i];
    sub.dwVersion = version;
    sub.lRecLen = reclen;
    sub.lFirst = -1;
    sub.lLast = -1;
    sub.lAppendCount = 0;
    sub.lCapacity = maxRec;

    unsigned char image[kRecordAreaOffset];
    encodeHeader(image);
    encodeSubHeader(image + kHeaderSize, sub.type, sub.dwVersion, sub.lRecLen, sub.lFirst, sub.lLast,
                    sub.lAppendCount, sub.lCapacity);
    // A log that another object has open is replaced only once that
    // object has let go of it: records it acknowledged must not go to a
    // file that has left the path.
    FileStream* former = nullptr;
    if (replace) {
      former = StreamOpenLocked(filename, "r+bc", m_dwLockWait);
      if (former == nullptr && GetLastError() == ERROR_LOCK_VIOLATION) {
        log.Report("Error", "_tfopen, \"%s\"", lastErrorText());
        rVal = eLogBusy;
      }
    }
    // The complete header goes to disk in one piece, and the new file
    // comes with its lock: a crash leaves either the former file or a
    // valid empty log, and no other object gets in before this one.
    FileStream* stream = nullptr;
    if (rVal == eSuccess) {
      stream = StreamCreateDurably(filename, image, sizeof image, replace ? CREATE_ALWAYS : CREATE_NEW);
      error = GetLastError();
      if (stream != nullptr && error != ERROR_SUCCESS) {
        // In place, but its directory entry may not survive a crash.
        StreamClose(stream);
        stream = nullptr;
      }
      if (stream == nullptr) {
        log.Report("Error", "_tfopen, \"%s\"", ErrorText(error) != nullptr ? ErrorText(error) : "unknown error");
        rVal = eCreateFailed;
      }
    }
    if (former != nullptr) StreamClose(former);
    if (stream != nullptr) {
      std::memcpy(m_Header.magic, kMagic, 4);
      m_Header.lVersion = kHeaderVersion;
      m_SubHeader = sub;
      m_StrFileName = filename;
      m_pStream = stream;
      m_lScanPos = 0;
      m_Buffer.assign(static_cast<size_t>(reclen) + 1, 0);
    }
  }
  log.Report("Return", "rVal = %d", rVal);
  // The caller tells a file that appeared meanwhile by ERROR_FILE_EXISTS.
  SetLastError(error);
  return rVal;
}

int CLogDB::openExisting(int truncate) {
  return openLog(m_StrFileName, typeText(), m_SubHeader.dwVersion, m_SubHeader.lRecLen, m_SubHeader.lCapacity,
                 truncate, false);
}

void CLogDB::setLockWait(DWORD milliseconds) { m_dwLockWait = milliseconds; }

CString CLogDB::typeText() const {
  int length = 0;
  while (length < 4 && m_SubHeader.type[length] != '\0') ++length;
  return CString(m_SubHeader.type, length);
}

int CLogDB::writeSubHeader() {
  if (m_pStream == nullptr) return eSuccess;
  unsigned char raw[kSubHeaderSize];
  encodeSubHeader(raw, m_SubHeader.type, m_SubHeader.dwVersion, m_SubHeader.lRecLen, m_SubHeader.lFirst,
                  m_SubHeader.lLast, m_SubHeader.lAppendCount, m_SubHeader.lCapacity);
  if (!StreamSeek(m_pStream, kHeaderSize, FILE_BEGIN) || StreamWrite(m_pStream, raw, sizeof raw) != sizeof raw ||
      !StreamFlush(m_pStream))
    return eHeaderWriteFailed;
  return eSuccess;
}

int CLogDB::openVL(CString filename, CString mode, const char* type, LONG maxRecLen, LONG maxFileSize) {
  if (m_pStream != nullptr) return eAlreadyOpen;
  if (maxFileSize == 0) return eSuccess;
  FileStream* stream = StreamOpen(filename, mode);
  if (stream == nullptr) return eOpenFailed;
  m_pStream = stream;
  m_lVLMaxFileSize = maxFileSize;
  m_lVLMaxRecLen = maxRecLen;
  m_StrVLLabel = type != nullptr ? type : "";
  m_iMode = 1;
  return eSuccess;
}

int CLogDB::close() {
  if (m_pStream != nullptr) {
    StreamClose(m_pStream);
    m_pStream = nullptr;
  }
  return eSuccess;
}

int CLogDB::isOpen() { return m_pStream != nullptr ? 1 : 0; }

// ---------------------------------------------------------------------------
// Ring arithmetic and the walk shared by the scan, the search and delRecord.

void CLogDB::incrementRecord(LONG& index) {
  ++index;
  if (index >= m_SubHeader.lCapacity) index = 0;
}

void CLogDB::decrementRecord(LONG& index) {
  --index;
  if (index < 0) index = m_SubHeader.lCapacity - 1;
}

void CLogDB::advanceWalk(LONG& position) {
  // The walk ends once it has read the newest record, or has come round to
  // the oldest again; an empty log ends it at once. A walker left outside
  // the live range by appends comes round to first within one turn.
  if (m_SubHeader.lFirst == -1 || position == m_SubHeader.lLast) {
    position = -1;
    return;
  }
  incrementRecord(position);
  if (position == m_SubHeader.lFirst) position = -1;
}

int CLogDB::seekSlot(LONG index) {
  return StreamSeek(m_pStream, slotOffset(m_SubHeader.lRecLen, index), FILE_BEGIN) ? eSuccess : eSeekFailed;
}

// ---------------------------------------------------------------------------
// Record operations.

int CLogDB::setRecord(void* data, LONG stampOffset, LONG recNo) {
  CDebugLog log("CLogDB::setRecord", "0x%x,%d,%d", static_cast<unsigned>(reinterpret_cast<uintptr_t>(data)),
                static_cast<int>(stampOffset), static_cast<int>(recNo));
  const LONG stamp = static_cast<LONG>(static_cast<uint32_t>(m_SubHeader.lAppendCount) + 1u);
  m_lLastRecNo = -1;
  if (m_iMode == 1) return eTypeMismatch;
  if (m_pStream == nullptr) return eNotOpen;
  const LONG recLen = m_SubHeader.lRecLen;
  const bool append = recNo == -1;
  if (data == nullptr) return eBadArgument;
  if (!append && (recNo < 0 || recNo >= m_SubHeader.lCapacity)) return eBadArgument;
  if (append && stampOffset != -1 && (stampOffset < 0 || stampOffset > recLen - 4)) return eBadArgument;

  unsigned char* image = m_Buffer.data();
  image[0] = kLive;
  std::memcpy(image + 1, data, static_cast<size_t>(recLen));
  const size_t imageSize = static_cast<size_t>(recLen) + 1;

  if (!append) {
    if (seekSlot(recNo) != eSuccess) return eSeekFailed;
    if (StreamWrite(m_pStream, image, imageSize) != imageSize || !StreamFlush(m_pStream)) return eWriteFailed;
    m_lLastRecNo = recNo;
    return eSuccess;
  }

  if (stampOffset != -1) EncodeFixed32(image + 1 + stampOffset, static_cast<uint32_t>(stamp));
  const LONG oldFirst = m_SubHeader.lFirst;
  const LONG oldLast = m_SubHeader.lLast;
  LONG slot = oldLast;
  incrementRecord(slot);
  // A full ring reuses the oldest record's slot. Until the sub-header has
  // moved first past it, that slot is the start of the ring, so the new
  // record goes in marked deleted and is made live only afterwards.
  const bool reusesOldest = oldFirst != -1 && slot == oldFirst;
  if (reusesOldest) image[0] = kDeleted;

  // The slot is committed before the sub-header that makes it part of the
  // ring.
  if (seekSlot(slot) != eSuccess) return eSeekFailed;
  if (StreamWrite(m_pStream, image, imageSize) != imageSize || !StreamFlush(m_pStream)) return eWriteFailed;
  m_lLastRecNo = slot;

  m_SubHeader.lAppendCount = stamp;
  m_SubHeader.lLast = slot;
  if (oldFirst == -1 || reusesOldest) incrementRecord(m_SubHeader.lFirst);
  if (writeSubHeader() != eSuccess) {
    m_lLastRecNo = -1;
    m_SubHeader.lFirst = oldFirst;
    m_SubHeader.lLast = oldLast;
    return eHeaderWriteFailed;
  }
  if (reusesOldest) {
    if (seekSlot(slot) != eSuccess || StreamWrite(m_pStream, &kLive, 1) != 1 || !StreamFlush(m_pStream)) {
      // The ring has moved on; its newest slot stays marked deleted.
      m_lLastRecNo = -1;
      return eWriteFailed;
    }
  }
  return StreamFlush(m_pStream) ? eSuccess : eWriteFailed;
}

int CLogDB::setRecord(CString& text) {
  if (m_iMode != 1) return eNotOpen;
  if (m_pStream == nullptr) return eTypeMismatch;
  LONG length = text.GetLength();
  if (m_lVLMaxRecLen > 0 && m_lVLMaxRecLen < length) length = m_lVLMaxRecLen;
  if (!StreamSeek(m_pStream, 0, FILE_END)) return eSeekFailed;
  const LONGLONG size = StreamTell(m_pStream);
  // The size is tested before the write: the file may pass its maximum by
  // one append at most.
  if (m_lVLMaxFileSize != -1 && size > m_lVLMaxFileSize) return eVLFileFull;
  if (StreamWrite(m_pStream, text.GetString(), static_cast<size_t>(length)) != static_cast<size_t>(length) ||
      !StreamFlush(m_pStream))
    return eWriteFailed;
  return eSuccess;
}

int CLogDB::getRecord(void* buffer, LONG recNo) {
  m_lLastRecNo = -1;
  if (m_iMode == 1) return eReadInVLMode;
  if (m_pStream == nullptr) return eNotOpen;
  if (buffer == nullptr || recNo < 0 || recNo >= m_SubHeader.lCapacity) return eBadArgument;
  if (seekSlot(recNo) != eSuccess) return eSeekFailed;
  unsigned char status;
  if (StreamRead(m_pStream, &status, 1) != 1) return eReadFailed;
  if (status != kLive) return eDeleted;
  const size_t recLen = static_cast<size_t>(m_SubHeader.lRecLen);
  if (StreamRead(m_pStream, buffer, recLen) != recLen) return eReadFailed;
  m_lLastRecNo = recNo;
  return eSuccess;
}

int CLogDB::delRecord(LONG recNo) {
  m_lLastRecNo = -1;
  if (m_iMode == 1) return eNotInVLMode;
  if (m_pStream == nullptr) return eNotOpen;
  if (recNo < 0 || recNo >= m_SubHeader.lCapacity) return eBadArgument;
  if (seekSlot(recNo) != eSuccess) return eSeekFailed;
  if (StreamWrite(m_pStream, &kDeleted, 1) != 1 || !StreamFlush(m_pStream)) return eWriteFailed;
  m_lLastRecNo = recNo;

  // Is a live record left in the ring? Slots outside the live range do not
  // count: they are left-overs of records the ring has already dropped.
  LONG position = m_SubHeader.lFirst;
  while (position != -1) {
    if (getRecord(m_Buffer.data(), position) == eSuccess) return eSuccess;
    advanceWalk(position);
  }
  empty();
  return eSuccess;
}

int CLogDB::empty() {
  if (m_iMode == 1) return eNotInVLMode;
  if (m_pStream == nullptr) return eNotOpen;
  const LONG oldFirst = m_SubHeader.lFirst;
  const LONG oldLast = m_SubHeader.lLast;
  m_SubHeader.lFirst = -1;
  m_SubHeader.lLast = -1;
  if (writeSubHeader() != eSuccess) {
    m_SubHeader.lFirst = oldFirst;
    m_SubHeader.lLast = oldLast;
    return eHeaderWriteFailed;
  }
  m_lLastRecNo = -1;
  return eSuccess;
}

int CLogDB::startScan() {
  if (m_iMode == 1) {
    // A VL file has no header to reload: the walk starts at its beginning.
    if (m_pStream == nullptr || !StreamSeek(m_pStream, 0, FILE_BEGIN)) return eRewindFailed;
    return eSuccess;
  }
  close();
  const int reopened = openExisting(0);
  if (reopened != eSuccess || m_pStream == nullptr) {
    m_lScanPos = -1;
    return reopened != eSuccess ? reopened : eNotOpen;
  }
  m_lScanPos = m_SubHeader.lFirst;
  return m_SubHeader.lLast == -1 ? eEmptyLog : eSuccess;
}

int CLogDB::getNextRecord(void* buffer, LONG* recNo) {
  CDebugLog log("CLogDB::getNextRecord", "0x%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(buffer)));
  if (m_lScanPos < 0 || m_lScanPos >= m_SubHeader.lCapacity) return eNoMoreRecords;
  if (m_iMode == 1) return eReadInVLMode;
  for (;;) {
    const LONG slot = m_lScanPos;
    const int rc = getRecord(buffer, slot);
    if (recNo != nullptr) *recNo = slot;
    if (rc == eSuccess || rc == eDeleted) advanceWalk(m_lScanPos);
    if (rc != eDeleted) return rc;
    if (m_lScanPos == -1) return eNoMoreRecords;
  }
}

int CLogDB::search(LONG keyOffset, LONG keyLength, void* key, int resume, void* out) {
  if (m_pStream == nullptr || m_iMode == 1 || key == nullptr) return 0;
  const LONG recLen = m_SubHeader.lRecLen;
  if (keyOffset < 0 || keyLength < 0 || static_cast<LONGLONG>(keyOffset) + keyLength > recLen) return 0;
  if (resume == 0) m_lSearchPos = m_SubHeader.lFirst;
  if (m_lSearchPos < 0 || m_lSearchPos >= m_SubHeader.lCapacity) {
    m_lSearchPos = -1;
    return 0;
  }
  unsigned char* record = m_Buffer.data();
  while (m_lSearchPos != -1) {
    const LONG slot = m_lSearchPos;
    const int rc = getRecord(record, slot);
    advanceWalk(m_lSearchPos);
    if (rc == eSuccess && std::memcmp(record + keyOffset, key, static_cast<size_t>(keyLength)) == 0) {
      if (out != nullptr) std::memcpy(out, record, static_cast<size_t>(recLen));
      return 1;
    }
  }
  return 0;
}

LONG CLogDB::getRecordCount() {
  if (m_iMode == 1) return -1;
  const LONG first = m_SubHeader.lFirst;
  const LONG last = m_SubHeader.lLast;
  if (first == -1) return 0;
  if (last >= first) return last - first + 1;
  return m_SubHeader.lCapacity - first + last + 1;
}

LONG CLogDB::getRecordSize() { return m_iMode == 1 ? m_lVLMaxRecLen : m_SubHeader.lRecLen; }

LONG CLogDB::getLastRecordNumber() { return m_lLastRecNo; }

int CLogDB::resize(LONG maxRec) {
  if (m_iMode == 1 || m_pStream == nullptr || maxRec == m_SubHeader.lCapacity) return 0;
  if (!ringFits(m_SubHeader.lRecLen, maxRec)) return 0;
  // The records are held in memory; a log too large for that stays as it is.
  try {
    return rewriteWithCapacity(maxRec);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int CLogDB::rewriteWithCapacity(LONG maxRec) {
  // Collect the live records, oldest first, as many as the new ring holds.
  // The object has held the log's lock since it opened it, so the header in
  // memory is the file's: the walk needs no reopening (which would let go
  // of the lock for a moment).
  const size_t recLen = static_cast<size_t>(m_SubHeader.lRecLen);
  std::vector<unsigned char> records;
  records.reserve(static_cast<size_t>(std::min(getRecordCount(), maxRec)) * recLen);
  LONG kept = 0;
  for (m_lScanPos = m_SubHeader.lFirst; m_lScanPos != -1 && kept < maxRec;) {
    records.resize((static_cast<size_t>(kept) + 1) * recLen);
    LONG slot;
    const int rc = getNextRecord(records.data() + static_cast<size_t>(kept) * recLen, &slot);
    if (rc == eNoMoreRecords) break;
    // A slot that cannot be read leaves the log as it is.
    if (rc != eSuccess) return 0;
    ++kept;
  }
  m_lScanPos = -1;

  // The new file: header, sub-header and the kept records in slots 0 to
  // kept - 1, written beside the old one and moved over it.
  SubHeader sub = m_SubHeader;
  sub.lFirst = kept > 0 ? 0 : -1;
  sub.lLast = kept - 1;
  sub.lCapacity = maxRec;
  std::vector<unsigned char> image(static_cast<size_t>(slotOffset(sub.lRecLen, kept)));
  encodeHeader(image.data());
  encodeSubHeader(image.data() + kHeaderSize, sub.type, sub.dwVersion, sub.lRecLen, sub.lFirst, sub.lLast,
                  sub.lAppendCount, sub.lCapacity);
  for (LONG i = 0; i < kept; ++i) {
    unsigned char* slotImage = image.data() + slotOffset(sub.lRecLen, i);
    slotImage[0] = kLive;
    std::memcpy(slotImage + 1, records.data() + static_cast<size_t>(i) * recLen, recLen);
  }
  // The new file comes open and locked, so there is no reopening that
  // could fail once it is in place. Until it is, the object keeps the old
  // file, lock included.
  FileStream* fresh = StreamCreateDurably(m_StrFileName, image.data(), image.size(), CREATE_ALWAYS);
  if (fresh == nullptr) return 0;
  const bool committed = GetLastError() == ERROR_SUCCESS;
  StreamClose(m_pStream);
  m_pStream = fresh;
  m_SubHeader = sub;
  m_lLastRecNo = kept > 0 ? kept - 1 : -1;
  return committed ? 1 : 0;
}
