#pragma once
// CCopyFileController: a worker thread that copies the files of one
// directory (optionally its tree) into another, reporting every step to a
// progress callback, with an archive of the files it overwrites and a
// roll-back.
//
// Use: construct, set the options, CreateThread(), then post message 205
// (WM_COPYFILES) to run a job and 206 (WM_KILLCOPY) to stop; the callback
// runs on the worker thread. The options are read by the job as they stand:
// do not change them while a job runs. The destructor stops the thread (a
// job in progress stops at its next check) and waits for it.
//
// The job: it counts the files and bytes the masks select (callback 2 with
// the totals, or 1 when the counting failed or was stopped), copies them
// when there is at least one file, whatever the byte total, and ends with
// callback 0 (success) or 1 (failure). For each file in turn: when an
// archive directory is set and the destination file exists, it is first
// copied into the archive (3, then 4 or 5); then 6; the file is copied
// unless excepted (7 or 8), and, when asked, the source is removed (10 or
// 11). A failed job with restore-on-failure puts back the files this job
// archived (12, then 13 or 14 for each).
//
// Progress counters are job-wide: in callbacks 3 to 11 the count is the
// 1-based number of the current file among all the files the job has
// handled so far (in every directory), and the last callback passes the
// bytes of all the files copied and the number of files handled. The size
// of callbacks 3 to 8 is the current file's own size.
//
// What the job guarantees:
//  - A failure anywhere, also in a sub-directory (a failed file, a
//    sub-directory that cannot be made, a stop), fails the job unless
//    continue-on-fail is set; a stop, a listing error and a read-only file
//    that cannot be made writable fail it always.
//  - Names are handled once per directory, however many masks match them.
//  - A file is never copied onto itself: when source and destination are
//    the same file the copy is refused (8) and nothing is removed. The
//    destination and the archive directory are never descended into when
//    they lie inside the source, nor is any directory twice (link loops).
//  - A name that holds a backslash is refused (8): it would read as a path.
//  - Remove-source deletes a source file only while it is still the file
//    that was copied (same file, size and time of last write).
//  - The archive mirrors the source tree (archive\sub\name), and the restore
//    puts back exactly the files this job archived, each on its own, always
//    replacing what stands there; files that had no earlier version are
//    left in place. The copied-names list holds the relative paths
//    ("sub\name") of the files copied, and after a restore each archived
//    entry ends in " {+}" (restored) or " {-}" (not restored).
//
// The constructor opens the debug-log scope
// "CCopyFileController::CCopyFileController"; nothing else logs.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/thread.h>
#include <sundry/platform/wintypes.h>

#include <atomic>
#include <cstdint>
#include <memory>

// Thread messages of the controller.
#define WM_COPYFILES 205u
#define WM_KILLCOPY 206u

// The progress callback: event code, name (null for codes 0 to 2), size and
// count; the result is not used.
typedef int (*COPYFILECALLBACK)(int code, const char* name, int64_t size, long count);

class SUNDRY_EXPORT CCopyFileController : public CWinThread {
  DECLARE_DYNCREATE(CCopyFileController)

 public:
  // Callback codes.
  enum eCALLBACK {
    CB_DONE = 0,            // job finished successfully (last call)
    CB_FAILED = 1,          // counting failed (first call) or job failed (last call)
    CB_COUNTED = 2,         // counting finished: total bytes, total files
    CB_ARCHIVING = 3,       // saving an existing destination file to the archive
    CB_ARCHIVED = 4,        // archive copy made
    CB_ARCHIVE_FAILED = 5,  // archive copy failed
    CB_COPYING = 6,         // about to copy a file
    CB_COPIED = 7,          // file copied
    CB_COPY_FAILED = 8,     // file copy failed (or refused)
    CB_REMOVED = 10,        // source file removed
    CB_REMOVE_FAILED = 11,  // removing the source file failed
    CB_RESTORING = 12,      // restoring an archived file
    CB_RESTORED = 13,       // archived file restored
    CB_RESTORE_FAILED = 14, // restoring failed
    CB_RENAMED = 15,        // existing destination file renamed
    CB_RENAME_FAILED = 16   // renaming failed
  };

  CCopyFileController();
  ~CCopyFileController() override;

  // Options, set before a job starts.
  void setCopyDir(const char* source, const char* destination);
  // Appends a file-name pattern ("*.txt"; an empty one means "*.*"); null
  // empties the list. With no masks a job copies nothing.
  void setFileMask(const char* mask);
  // Appends a file not to copy (a full source path or a bare name); null
  // empties the list.
  void setCopyFileExceptions(const char* name);
  // Appends a sub-directory name not to descend into; null empties the list.
  void setCopyDirExceptions(const char* name);
  // An existing destination file is renamed to its name plus suffix before
  // the copy (never replacing a file of that name); null or "" for none.
  void setRename(const char* suffix);
  // Existing destination files are saved under directory before being
  // overwritten; with restoreOnFailure 1 a failed job puts them back.
  void setArchiveDir(const char* directory, int restoreOnFailure);
  // With remove 1 each copied source file is deleted, except those whose
  // bare names are in keep (ignoring case).
  void removeSourceFiles(int remove, CStringArray* keep);
  void overwrite(int value);
  void continueOnFail(int value);
  void copySubDirectories(int value);
  void setCreateDir(int value);
  void setReadOnlyIgnore(int value);
  void setReadOnlyReset(int value);
  void setCallbackFn(COPYFILECALLBACK callback);

  // 1 once the thread has been told to stop (or is not running). On the
  // worker thread it also takes a pending message 206 from the queue.
  int isDying();
  // 1 while the thread does not run its message loop.
  int isDead();
  // Makes sure the directory path exists (one level): 1 when something of
  // that name exists or was made, 0 when it could not be made or path is
  // null or empty.
  int createDirectory(const char* path);

  // The copied-names list of the last job (see above).
  const CStringArray& copiedNames() const { return m_StrCopiedNames; }

  BOOL InitInstance() override;
  int ExitInstance() override;
  BOOL DispatchThreadMessageEx(MSG* pMsg) override;

 private:
  struct Job;

  void onCopyFiles(unsigned wParam, long lParam);
  void onKill(unsigned wParam, long lParam);
  void runJob();
  int determineSizeAndCount(int64_t& size, long& count, CString& directory);
  int copyDirFiles(CString& source, CString& destination, int64_t& size, long& count);
  void restoreArchiveToSource();
  CString addSlash(const char* path);
  int isDotsDir(const char* name);
  int isInCopyFileExceptionList(CString& path, CString& name);
  int copyOneFile(CString& source, CString& destination, const CString& name, int64_t fileSize, int64_t& size,
                  long& count);
  int notify(int code, const char* name, int64_t size, long count);
  // Whether to descend into the directory path: not the destination or
  // the archive, not one seen before in this pass (counting or copying).
  bool enterDirectory(const CString& path, int counting);
  // The archive directory for the current sub-directory, made as needed;
  // empty when it cannot be made.
  CString archiveDirectory();

  CString m_StrSourceDir;
  CString m_StrDestinationDir;
  CString m_StrArchiveDir;
  CString m_StrRenameSuffix;
  CStringArray m_StrFileMasks;
  CStringArray m_StrCopiedNames;
  CStringArray m_StrKeepNames;
  CStringArray m_StrFileExceptions;
  CStringArray m_StrDirExceptions;
  int m_iOverwrite = 1;
  int m_iContinueOnFail = 0;
  int m_iRemoveSource = 0;
  int m_iCopySubDirectories = 0;
  int m_iRestoreOnFailure = 0;
  COPYFILECALLBACK m_pCallback = nullptr;
  std::atomic<int> m_iDead{1};
  std::atomic<int> m_iDying{0};
  int m_iReadOnlyIgnore = 0;
  int m_iCreateDir = 0;
  int m_iReadOnlyReset = 1;

  // State of the job that runs (worker thread only).
  std::unique_ptr<Job> m_pJob;
};
