#pragma once
// The file work of the stand-ins in Win32 terms, built on files.h: opening
// a regular file, reading and writing it, committing it, moving it, and
// putting a new file in place durably. Every helper that fails sets the
// thread's last error to the Win32 code of the failure, logging the
// operation and the path (SetLastErrorFromErrno), and every system call of
// the kinds in fault.h first asks the fault hook, so a test reaches the
// streams, the durable writes and the file functions through one seam. (The
// errno-level helpers of files.h do not ask it: a stand-in that uses them,
// such as a plain copy of bytes, is outside the seam.)
//
// Paths are native ("/" separated): callers apply NativePath first.

#include "platform/posix/fd.h"
#include "platform/posix/files.h"

#include <sundry/platform/wintypes.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace sundry::platform::posix {

// Opens path as a regular file (OpenRegularFile) after asking the hook
// (Open). The result is invalid on failure, with the last error set:
// ERROR_ACCESS_DENIED when path is, or links to, a directory, a device, a
// FIFO or a socket, or, with Links::Refuse, is a symbolic link; otherwise
// the code of open's errno (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED, ...).
UniqueFd OpenFile(const std::string& path, int flags, unsigned mode = 0666, Links links = Links::Follow);

// Reads size bytes at offset (ReadFull) after asking the hook (Read).
// Returns the count read, below size only at the end of the file; -1 with
// the last error set when the read fails. path names the file in the log.
ssize_t ReadAt(int fd, void* buffer, size_t size, uint64_t offset, const std::string& path);

// Writes all of size bytes at offset, or at the end of the file for a
// negative offset (an O_APPEND descriptor), asking the hook (Write) before
// each system call. Returns the count written; below size the last error
// is set (ERROR_WRITE_FAULT when the system wrote nothing without an
// error). The bytes written stay in the file.
size_t WriteAll(int fd, const void* data, size_t size, int64_t offset, const std::string& path);

// Commits the file's data and, unless dataOnly, its attributes (fsync,
// fdatasync), after asking the hook (Sync). false with the last error set.
bool SyncFile(int fd, bool dataOnly, const std::string& path);

// Commits a directory's entries (SyncPath) after asking the hook (Sync):
// the last step of a durable write. false with the last error set.
bool SyncDirectory(const std::string& dir);

// Reads the whole regular file path into *out (OpenFile, then the read,
// asking the hook once for each). false with the last error set: as
// OpenFile; the code of a failing read; ERROR_NOT_ENOUGH_MEMORY. *out is
// then empty.
bool ReadWholeFile(const std::string& path, std::string* out);

// Moves the entry from to the name to, after asking the hook (Rename).
// With replace, an existing entry at to is replaced in one step (rename);
// without, the move is made only where nothing is, and fails with
// ERROR_ALREADY_EXISTS otherwise, also on file systems that cannot rename
// without replacing (a file is then linked and unlinked; a directory is
// moved after a look). false with the last error set.
bool MoveEntry(const std::string& from, const std::string& to, bool replace);

// How PutFileInPlace puts a new file at a path.
struct Placement {
  // An existing regular file at the path is replaced; without, it is left
  // alone and the result is ERROR_FILE_EXISTS.
  bool replace = true;
  // A symbolic link at the path is followed (the file it names is
  // replaced; a link that names nothing is itself replaced). Without, the
  // link is replaced.
  bool followLinks = true;
  // The new file's data, and the directory after the move, are committed.
  bool durable = true;
  // The mode the new file is made with (before the umask).
  unsigned createMode = 0666;
  // The permission bits (0777) of the file replaced go to the new file.
  bool keepMode = true;
};

// Writes the new file's content: called with its descriptor (read-write,
// at offset 0) and its name; returns true, or false with the last error
// set. It may do more to the file before it is moved (give it access,
// lock it). A reference to a callable, valid while the call runs.
class FillFile {
 public:
  template <class F>
  FillFile(F&& fill)  // implicit, from any callable
      : m_object(&fill), m_call([](void* object, int fd, const std::string& name) {
          return (*static_cast<std::remove_reference_t<F>*>(object))(fd, name);
        }) {}
  bool operator()(int fd, const std::string& name) const { return m_call(m_object, fd, name); }

 private:
  void* m_object;
  bool (*m_call)(void*, int, const std::string&);
};

// Puts a new file at path so that a crash at any moment leaves either what
// was there or the whole new file: the file is made beside path (in the
// same directory, under a name of its own that RemoveAbandonedReplacements
// knows), filled, committed, moved into place, and the directory is
// committed (the two commits only when how.durable). Only a regular file is
// replaced: a directory, a device, a FIFO or a socket at path (links
// followed) gives ERROR_ACCESS_DENIED, looked at before the file is made
// and, for a replacement, again just before the move. Returns true when
// the file is in place; *commitError is then ERROR_SUCCESS, or the failure
// of the final commit of the directory (the file may then not survive a
// crash). With keep, the new file's descriptor stays open and is handed
// over in *keep. false with the last error set when nothing was put in
// place: path is as before and the file beside is removed. Safe to call
// from several threads, also for the same path (the last move wins).
bool PutFileInPlace(const std::string& path, const Placement& how, FillFile fill, UniqueFd* keep,
                    DWORD* commitError);

// Removes the files that PutFileInPlace left beside path (links followed as
// it follows them) because their process died before moving them into
// place. Files of a process that still runs, files beside other paths and
// every other file are left alone. A process is known by its number: one
// that runs in another PID namespace on the same directory looks dead.
// Returns the number of files removed; failures are skipped and do not
// change the last error.
DWORD RemoveAbandonedReplacements(const std::string& path);

}  // namespace sundry::platform::posix
