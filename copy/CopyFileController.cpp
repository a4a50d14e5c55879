// The copy worker: counting, the copy walk with archive, rename and
// removal of the source, and the restore of a failed job.

#include <sundry/copy/CopyFileController.h>

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/crt.h>
#include <sundry/platform/error.h>
#include <sundry/platform/fileinfo.h>
#include <sundry/platform/fileops.h>
#include <sundry/util/Sundry.h>

#include <sundry/platform/codepage.h>

#include <set>
#include <string>
#include <tuple>

namespace {

using sundry::platform::GetFileInformationByPathA;

// Who a file is: its volume and index.
struct FileId {
  DWORD volume, high, low;
  bool operator<(const FileId& o) const {
    return std::tie(volume, high, low) < std::tie(o.volume, o.high, o.low);
  }
  bool operator==(const FileId& o) const { return volume == o.volume && high == o.high && low == o.low; }
};

FileId idOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return FileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool identify(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  return GetFileInformationByPathA(path, info) != FALSE;
}

// Still the same file with the same content as far as the system tells:
// same file, size and time of last write.
bool unchanged(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return idOf(a) == idOf(b) && a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
         a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime &&
         a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime;
}

int64_t sizeOf(DWORD high, DWORD low) {
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Two path texts equal ignoring case, "\" and "/" taken alike.
bool samePathText(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (isSeparator(*a) && isSeparator(*b)) continue;
    if (sundry::platform::AnsiToLower(static_cast<unsigned char>(*a)) !=
        sundry::platform::AnsiToLower(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == '\0' && *b == '\0';
}

// One directory listing: the entries FindFirstFileA / FindNextFileA hand
// out, and how the listing ended.
class Listing {
 public:
  explicit Listing(const char* pattern) : m_handle(FindFirstFileA(pattern, &data)) {
    if (m_handle == INVALID_HANDLE_VALUE) m_error = GetLastError();
  }
  ~Listing() {
    if (m_handle != INVALID_HANDLE_VALUE) FindClose(m_handle);
  }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  // Moves to the next entry (the first on the first call): false at the
  // end or on a failure.
  bool next() {
    if (m_handle == INVALID_HANDLE_VALUE) return false;
    if (m_first) {
      m_first = false;
      return true;
    }
    if (FindNextFileA(m_handle, &data)) return true;
    m_error = GetLastError();
    return false;
  }
  // The listing could not be made, or broke off, for another reason than
  // "nothing matches" (or "no such directory") and "no more entries".
  bool failed() const {
    if (m_handle == INVALID_HANDLE_VALUE) return m_error != ERROR_FILE_NOT_FOUND && m_error != ERROR_PATH_NOT_FOUND;
    return m_error != ERROR_SUCCESS && m_error != ERROR_NO_MORE_FILES;
  }

  WIN32_FIND_DATAA data;

 private:
  HANDLE m_handle;
  DWORD m_error = ERROR_SUCCESS;
  bool m_first = true;
};

}  // namespace

struct CCopyFileController::Job {
  CString rel;                      // the current directory below the top ("" or "a\b")
  std::set<FileId> countVisited;    // directories counted
  std::set<FileId> copyVisited;     // directories copied
  std::set<std::string> archived;   // relative paths this job saved to the archive
  bool archiveReady = false;        // archiveDir holds the archive directory of rel
  CString archiveRel, archiveDir;
};

IMPLEMENT_DYNCREATE(CCopyFileController)

CCopyFileController::CCopyFileController() {
  CDebugLog log("CCopyFileController::CCopyFileController");
}

CCopyFileController::~CCopyFileController() {
  // A job in progress stops at its next check; the loop then ends.
  m_iDying = 1;
  if (m_nThreadID != 0) PostThreadMessage(WM_KILLCOPY, 0, 0);
  Join();
}

void CCopyFileController::setCopyDir(const char* source, const char* destination) {
  m_StrSourceDir = source;
  m_StrDestinationDir = destination;
}

void CCopyFileController::setFileMask(const char* mask) {
  if (mask == nullptr) m_StrFileMasks.RemoveAll();
  else m_StrFileMasks.Add(mask);
}

void CCopyFileController::setCopyFileExceptions(const char* name) {
  if (name == nullptr) m_StrFileExceptions.RemoveAll();
  else m_StrFileExceptions.Add(name);
}

void CCopyFileController::setCopyDirExceptions(const char* name) {
  if (name == nullptr) m_StrDirExceptions.RemoveAll();
  else m_StrDirExceptions.Add(name);
}

void CCopyFileController::setRename(const char* suffix) { m_StrRenameSuffix = suffix; }

void CCopyFileController::setArchiveDir(const char* directory, int restoreOnFailure) {
  m_StrArchiveDir = directory;
  m_iRestoreOnFailure = restoreOnFailure;
}

void CCopyFileController::removeSourceFiles(int remove, CStringArray* keep) {
  m_StrKeepNames.RemoveAll();
  m_iRemoveSource = remove;
  if (keep != nullptr) m_StrKeepNames.Copy(*keep);
}

void CCopyFileController::overwrite(int value) { m_iOverwrite = value; }
void CCopyFileController::continueOnFail(int value) { m_iContinueOnFail = value; }
void CCopyFileController::copySubDirectories(int value) { m_iCopySubDirectories = value; }
void CCopyFileController::setCreateDir(int value) { m_iCreateDir = value; }
void CCopyFileController::setReadOnlyIgnore(int value) { m_iReadOnlyIgnore = value; }
void CCopyFileController::setReadOnlyReset(int value) { m_iReadOnlyReset = value; }
void CCopyFileController::setCallbackFn(COPYFILECALLBACK callback) { m_pCallback = callback; }

int CCopyFileController::isDead() { return m_iDead.load(); }

int CCopyFileController::isDying() {
  if (m_iDead.load() != 0) {
    m_iDying = 1;
    return 1;
  }
  if (m_iDying.load() != 0) return 1;
  // Only the worker's own queue holds its stop message.
  if (GetCurrentThreadId() == m_nThreadID.load()) {
    MSG msg;
    if (PeekMessageA(&msg, nullptr, WM_KILLCOPY, WM_KILLCOPY, PM_REMOVE)) {
      onKill(0, 0);
      return 1;
    }
  }
  return 0;
}

int CCopyFileController::createDirectory(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return 1;
  if (_mkdir(path) == 0) return 1;
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;  // made meanwhile
}

BOOL CCopyFileController::InitInstance() {
  m_iDead = 0;
  return TRUE;
}

int CCopyFileController::ExitInstance() {
  m_iDead = 1;
  return CWinThread::ExitInstance();
}

BOOL CCopyFileController::DispatchThreadMessageEx(MSG* pMsg) {
  if (pMsg->message == WM_COPYFILES) {
    onCopyFiles(static_cast<unsigned>(pMsg->wParam), static_cast<long>(pMsg->lParam));
    return TRUE;
  }
  if (pMsg->message == WM_KILLCOPY) {
    onKill(static_cast<unsigned>(pMsg->wParam), static_cast<long>(pMsg->lParam));
    return TRUE;
  }
  return FALSE;
}

void CCopyFileController::onKill(unsigned, long) {
  m_iDying = 1;
  PostQuitMessage(0);
}

void CCopyFileController::onCopyFiles(unsigned, long) { runJob(); }

int CCopyFileController::notify(int code, const char* name, int64_t size, long count) {
  return m_pCallback != nullptr ? m_pCallback(code, name, size, count) : 0;
}

CString CCopyFileController::addSlash(const char* path) {
  CString joined(path);
  if (joined.IsEmpty() || joined[joined.GetLength() - 1] != '\\') joined += '\\';
  return joined;
}

int CCopyFileController::isDotsDir(const char* name) {
  return name != nullptr && (std::string(name) == "." || std::string(name) == "..") ? 1 : 0;
}

int CCopyFileController::isInCopyFileExceptionList(CString& path, CString& name) {
  if (CSundry::findStringInStringArray(m_StrFileExceptions, name, 1) >= 0) return 1;
  for (INT_PTR i = 0; i < m_StrFileExceptions.GetSize(); ++i)
    if (samePathText(m_StrFileExceptions[i], path)) return 1;
  return 0;
}

void CCopyFileController::runJob() {
  int64_t size = 0, done = 0;
  long count = 0, handled = 0;
  int result = 0;
  bool copying = false;
  try {
    m_pJob.reset(new Job);
    m_StrCopiedNames.RemoveAll();
    result = determineSizeAndCount(size, count, m_StrSourceDir);
    // A stop seen while counting ends the job as a failure.
    if (isDying()) result = 0;
    notify(result == 1 ? CB_COUNTED : CB_FAILED, nullptr, size, count);
    if (result == 1 && count > 0) {
      copying = true;
      result = copyDirFiles(m_StrSourceDir, m_StrDestinationDir, done, handled);
    }
  } catch (...) {
    result = 0;  // out of memory: the job fails
  }
  if (result == 0 && copying && m_iRestoreOnFailure == 1) {
    try {
      restoreArchiveToSource();
    } catch (...) {
    }
  }
  notify(result == 1 ? CB_DONE : CB_FAILED, nullptr, done, handled);
  m_pJob.reset();
}

int CCopyFileController::determineSizeAndCount(int64_t& size, long& count, CString& directory) {
  int result = 1;
  if (m_StrFileMasks.GetSize() == 0) return 1;
  BY_HANDLE_FILE_INFORMATION info;
  if (m_pJob->countVisited.empty() && identify(directory, &info)) m_pJob->countVisited.insert(idOf(info));
  std::set<std::string> seen;  // each name once, whatever the masks
  for (INT_PTR m = 0; m < m_StrFileMasks.GetSize() && result == 1; ++m) {
    if (isDying()) continue;
    const CString mask = m_StrFileMasks[m].IsEmpty() ? CString("*.*") : m_StrFileMasks[m];
    Listing listing(addSlash(directory) + mask);
    while (result == 1 && isDying() == 0 && listing.next()) {
      const std::string name = listing.data.cFileName;
      if (!seen.insert(name).second) continue;
      if ((listing.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (m_iCopySubDirectories != 1 || isDotsDir(name.c_str())) continue;
        CString sub = addSlash(directory) + name.c_str();
        if (!enterDirectory(sub, 1)) continue;
        if (determineSizeAndCount(size, count, sub) == 0) result = 0;
        continue;
      }
      size += sizeOf(listing.data.nFileSizeHigh, listing.data.nFileSizeLow);
      ++count;
    }
    if (listing.failed()) result = 0;
  }
  return result;
}

bool CCopyFileController::enterDirectory(const CString& path, int counting) {
  std::set<FileId>& visited = counting ? m_pJob->countVisited : m_pJob->copyVisited;
  BY_HANDLE_FILE_INFORMATION info, other;
  if (!identify(path, &info)) return false;
  const FileId id = idOf(info);
  // Never into the destination or the archive when they lie in the source.
  if (identify(m_StrDestinationDir, &other) && idOf(other) == id) return false;
  if (!m_StrArchiveDir.IsEmpty() && identify(m_StrArchiveDir, &other) && idOf(other) == id) return false;
  return visited.insert(id).second;
}

int CCopyFileController::copyDirFiles(CString& source, CString& destination, int64_t& size, long& count) {
  int result = 1;
  if (m_StrFileMasks.GetSize() == 0) return 1;
  BY_HANDLE_FILE_INFORMATION info;
  if (m_pJob->copyVisited.empty() && identify(source, &info)) m_pJob->copyVisited.insert(idOf(info));
  const int failed = m_iContinueOnFail == 1 ? 1 : 0;
  std::set<std::string> seen;  // each name once, whatever the masks
  for (INT_PTR m = 0; m < m_StrFileMasks.GetSize() && result == 1; ++m) {
    if (isDying()) {
      result = 0;
      break;
    }
    const CString mask = m_StrFileMasks[m].IsEmpty() ? CString("*.*") : m_StrFileMasks[m];
    Listing listing(addSlash(source) + mask);
    while (result == 1 && listing.next()) {
      CString name(listing.data.cFileName);
      if (!seen.insert(name.str()).second) continue;
      const bool isDirectory = (listing.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (isDirectory && (m_iCopySubDirectories != 1 || isDotsDir(name) ||
                          CSundry::findStringInStringArray(m_StrDirExceptions, name, 1) >= 0))
        continue;
      // A backslash inside a name would read as a separator and could lead
      // out of the directories.
      if (name.Find('\\') >= 0) {
        if (!isDirectory) ++count;
        notify(CB_COPY_FAILED, name, 0, count);
        result = failed;
        continue;
      }
      if (isDirectory) {
        CString sub = addSlash(source) + name;
        CString target = addSlash(destination) + name;
        if (!enterDirectory(sub, 0)) continue;
        if (createDirectory(target) != 1) {
          notify(CB_COPY_FAILED, name, 0, count);
          result = failed;
          continue;
        }
        const CString parent = m_pJob->rel;
        m_pJob->rel = parent.IsEmpty() ? name : parent + "\\" + name;
        // With continue-on-fail a sub-directory fails only for what ends
        // every job (a stop, a listing error), so its result always counts.
        const int sub_result = copyDirFiles(sub, target, size, count);
        m_pJob->rel = parent;
        if (sub_result == 0) result = 0;
        continue;
      }
      ++count;
      result = copyOneFile(source, destination, name,
                           sizeOf(listing.data.nFileSizeHigh, listing.data.nFileSizeLow), size, count);
    }
    if (listing.failed()) result = 0;
  }
  return result;
}

CString CCopyFileController::archiveDirectory() {
  Job& job = *m_pJob;
  if (job.archiveReady && job.archiveRel == job.rel) return job.archiveDir;
  job.archiveReady = false;
  if (createDirectory(m_StrArchiveDir) != 1) return CString();
  CString path = m_StrArchiveDir;
  int start = 0;
  for (CString part = job.rel.Tokenize("\\", start); !part.IsEmpty(); part = job.rel.Tokenize("\\", start)) {
    path = addSlash(path) + part;
    if (createDirectory(path) != 1) return CString();
  }
  job.archiveReady = true;
  job.archiveRel = job.rel;
  job.archiveDir = path;
  return path;
}

int CCopyFileController::copyOneFile(CString& source, CString& destination, const CString& name, int64_t fileSize,
                                     int64_t& size, long& count) {
  Job& job = *m_pJob;
  const int failed = m_iContinueOnFail == 1 ? 1 : 0;
  CString src = addSlash(source) + name;
  const CString dst = addSlash(destination) + name;
  const CString rel = job.rel.IsEmpty() ? name : job.rel + "\\" + name;

  // The same file on both sides: the copy would destroy the only version.
  BY_HANDLE_FILE_INFORMATION srcInfo, dstInfo;
  const bool dstExists = identify(dst, &dstInfo);
  if (dstExists && identify(src, &srcInfo) && idOf(srcInfo) == idOf(dstInfo)) {
    notify(CB_COPY_FAILED, name, fileSize, count);
    return failed;
  }

  if (!m_StrArchiveDir.IsEmpty() && dstExists) {
    notify(CB_ARCHIVING, name, fileSize, count);
    const CString directory = archiveDirectory();
    BOOL archived = FALSE;
    if (!directory.IsEmpty()) {
      const CString archive = addSlash(directory) + name;
      if (GetFileAttributesA(archive) != INVALID_FILE_ATTRIBUTES) _chmod(archive, _S_IREAD | _S_IWRITE);
      archived = CopyFileA(dst, archive, FALSE);
    }
    if (archived) {
      job.archived.insert(rel.str());
      notify(CB_ARCHIVED, name, fileSize, count);
    } else {
      notify(CB_ARCHIVE_FAILED, name, fileSize, count);
      if (failed == 0) return 0;
    }
  }

  notify(CB_COPYING, name, fileSize, count);
  if (m_iCreateDir == 1) createDirectory(destination);

  bool madeWritable = false;
  if (m_iReadOnlyIgnore == 1) {
    const DWORD attributes = GetFileAttributesA(dst);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      if (_chmod(dst, _S_IREAD | _S_IWRITE) != 0) return 0;
      madeWritable = true;
    }
  }
  auto readOnlyAgain = [&](const CString& path) {
    if (madeWritable && m_iReadOnlyReset == 1) _chmod(path, _S_IREAD);
  };

  CString bare(name);
  if (isInCopyFileExceptionList(src, bare)) {
    readOnlyAgain(dst);
    return 1;
  }

  if (!m_StrRenameSuffix.IsEmpty() && GetFileAttributesA(dst) != INVALID_FILE_ATTRIBUTES) {
    const CString renamed = dst + m_StrRenameSuffix;
    if (sundry::platform::crt::rename(dst, renamed) == 0) {
      notify(CB_RENAMED, name, 0, 0);
      readOnlyAgain(renamed);
    } else {
      notify(CB_RENAME_FAILED, name, 0, 0);
    }
  }

  // What is copied: the file as it stands just before the copy.
  const bool known = identify(src, &srcInfo);
  const BOOL copied = CopyFileA(src, dst, m_iOverwrite == 0 ? TRUE : FALSE);
  notify(copied ? CB_COPIED : CB_COPY_FAILED, name, fileSize, count);
  readOnlyAgain(dst);
  if (!copied) return failed;

  m_StrCopiedNames.Add(rel);
  size += known ? sizeOf(srcInfo.nFileSizeHigh, srcInfo.nFileSizeLow) : fileSize;
  if (m_iRemoveSource == 1 && CSundry::findStringInStringArray(m_StrKeepNames, name, 1) < 0) {
    // Only the file that was copied is removed: not one put in its place
    // since, nor one changed since.
    BY_HANDLE_FILE_INFORMATION now;
    const bool same = known && identify(src, &now) && unchanged(now, srcInfo);
    const bool removed = same && sundry::platform::crt::remove(src) == 0;
    notify(removed ? CB_REMOVED : CB_REMOVE_FAILED, name, fileSize, count);
  }
  return 1;
}

void CCopyFileController::restoreArchiveToSource() {
  const Job& job = *m_pJob;
  for (INT_PTR i = 0; i < m_StrCopiedNames.GetSize(); ++i) {
    const CString entry = m_StrCopiedNames[i];
    // Only what this job saved: an older archive copy is no earlier
    // version of a file this job made.
    if (job.archived.count(entry.str()) == 0) continue;
    const CString archive = addSlash(m_StrArchiveDir) + entry;
    const CString target = addSlash(m_StrDestinationDir) + entry;
    notify(CB_RESTORING, entry, 0, 0);
    bool madeWritable = false;
    BOOL restored = FALSE;
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      madeWritable = _chmod(target, _S_IREAD | _S_IWRITE) == 0;
      if (madeWritable) restored = CopyFileA(archive, target, FALSE);
    } else {
      restored = CopyFileA(archive, target, FALSE);
    }
    // The restored file has the archived file's own mode; a failed one gets
    // back the read-only state it had.
    if (!restored && madeWritable) _chmod(target, _S_IREAD);
    notify(restored ? CB_RESTORED : CB_RESTORE_FAILED, entry, 0, 0);
    m_StrCopiedNames[i] = entry + (restored ? " {+}" : " {-}");
  }
}
