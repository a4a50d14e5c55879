// Files over POSIX descriptors: the buffered streams, their locks, the
// current directory and the durable replacement of a whole file.
//
// A stream keeps its own position and reads through a buffer with pread, so
// a seek costs no system call and a run of small reads of neighbouring
// records is served from memory. Writes go to the system at once with
// pwrite (copied into the buffer where it holds the same bytes), so the
// buffer never holds data the file lacks and nothing is lost when the
// process dies. The commit letter "c" of the run-time's mode strings turns a
// flush into fdatasync.
//
// Locks are open-file-description locks (F_OFD_SETLK): they belong to the
// stream's own descriptor, so closing some other descriptor of the file
// leaves them alone (a classic fcntl lock would go), and two streams of one
// process exclude each other as two processes do.

#include "platform/posix/error.h"

#include <sundry/platform/error.h>
#include <sundry/platform/file.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace sundry::platform {

namespace {

FileFaultHook g_faultHook = nullptr;
void* g_faultContext = nullptr;

// Asks the test hook whether the system call about to be made is to fail;
// when it is, sets the last error to the hook's code and returns true.
bool injectedFault(FileOperation operation) {
  if (g_faultHook == nullptr) return false;
  DWORD code = g_faultHook(operation, g_faultContext);
  if (code == 0) return false;
  SetLastError(code);
  return true;
}

constexpr size_t kBufferSize = 64 * 1024;

struct OpenMode {
  int flags = 0;
  bool canRead = false;
  bool canWrite = false;
  bool append = false;
  bool commit = false;
  bool mayCreate = false;
};

// Parses a run-time mode string; false for anything outside the forms that
// StreamOpen documents.
bool parseMode(const char* mode, OpenMode& out) {
  if (mode == nullptr) return false;
  const char kind = mode[0];
  if (kind != 'r' && kind != 'w' && kind != 'a') return false;
  bool plus = false, binary = false, text = false, commit = false, noCommit = false, exclusive = false;
  for (const char* p = mode + 1; *p != '\0'; ++p) {
    bool* seen = nullptr;
    switch (*p) {
      case '+': seen = &plus; break;
      case 'b': seen = &binary; break;
      case 't': seen = &text; break;
      case 'c': seen = &commit; break;
      case 'n': seen = &noCommit; break;
      case 'x':
        if (kind != 'w') return false;
        seen = &exclusive;
        break;
      default: return false;
    }
    if (*seen) return false;
    *seen = true;
  }
  if ((binary && text) || (commit && noCommit)) return false;

  out.canRead = kind == 'r' || plus;
  out.canWrite = kind != 'r' || plus;
  out.append = kind == 'a';
  out.commit = commit;
  out.mayCreate = kind != 'r';
  out.flags = out.canRead && out.canWrite ? O_RDWR : (out.canWrite ? O_WRONLY : O_RDONLY);
  if (kind == 'w') out.flags |= O_CREAT | O_TRUNC | (exclusive ? O_EXCL : 0);
  if (kind == 'a') out.flags |= O_CREAT | O_APPEND;
  return true;
}

// The directory part of a path: "." for a bare name, "/" for a name in the
// root.
std::string directoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Commits a directory's entries (a file created, renamed or removed in it).
// The fault hook applies to this library's own file functions only.
bool syncDirectory(const std::string& dir) {
  if (injectedFault(FileOperation::Sync)) return false;
  return SyncPath(dir.c_str()) != FALSE;
}

// Writes all of size bytes at offset (or at the end for an O_APPEND
// descriptor when offset is negative). Returns the count written; on a
// shorter count the last error is set.
size_t writeAll(int fd, const unsigned char* data, size_t size, LONGLONG offset) {
  size_t done = 0;
  while (done < size) {
    if (injectedFault(FileOperation::Write)) return done;
    ssize_t n = offset < 0 ? ::write(fd, data + done, size - done)
                           : ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno(errno);
      return done;
    }
    if (n == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return done;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

// ---------------------------------------------------------------------------
// Locks. A stream's lock is a write lock on bytes 0 to kQueueByte - 1 (the
// file, whatever its length); byte kQueueByte is the queue: a stream takes
// it before it may try for the file's lock and gives it up once it has that
// lock. The stream that holds the queue byte is next in line: one that has
// just let go of the file's lock and wants it back must first get the queue
// byte, so it cannot overtake a stream that was waiting.

constexpr off_t kQueueByte = off_t{1} << 62;

bool lockConflict(int err) { return err == EAGAIN || err == EACCES; }

// Sets or clears an OFD lock on [start, start + length). Returns 0, or -1
// with errno.
int setRangeLock(int fd, short type, off_t start, off_t length, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  int rc;
  do rc = ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock);
  while (rc != 0 && errno == EINTR);
  return rc;
}

void unlockQueue(int fd) { setRangeLock(fd, F_UNLCK, kQueueByte, 1, false); }

// Sets the last error for a failed lock call.
void setLockError(int err) {
  // Without OFD locks (old kernels), or on a file system without locks.
  if (err == EINVAL || err == ENOLCK || err == EOPNOTSUPP)
    SetLastError(ERROR_NOT_SUPPORTED);
  else
    SetLastErrorFromErrno(err);
}

// Takes the descriptor's lock on the file, waiting in line for at most
// milliseconds (INFINITE: no limit; the kernel then wakes the waiter).
// Returns true, or false with the last error set (ERROR_LOCK_VIOLATION when
// the time ran out).
bool lockFile(int fd, DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    if (setRangeLock(fd, F_WRLCK, kQueueByte, 1, true) != 0) {
      setLockError(errno);
      return false;
    }
    const bool locked = setRangeLock(fd, F_WRLCK, 0, kQueueByte, true) == 0;
    const int err = errno;
    unlockQueue(fd);
    if (!locked) setLockError(err);
    return locked;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  auto pause = std::chrono::microseconds(50);
  bool inLine = false;  // holds the queue byte
  for (;;) {
    const int rc = inLine ? setRangeLock(fd, F_WRLCK, 0, kQueueByte, false)
                          : setRangeLock(fd, F_WRLCK, kQueueByte, 1, false);
    if (rc == 0) {
      if (inLine) {
        unlockQueue(fd);
        return true;
      }
      inLine = true;
      continue;
    }
    const int err = errno;
    if (!lockConflict(err) || std::chrono::steady_clock::now() >= deadline) {
      if (inLine) unlockQueue(fd);
      if (lockConflict(err))
        SetLastError(ERROR_LOCK_VIOLATION);
      else
        setLockError(err);
      return false;
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(1)) pause *= 2;
  }
}

// ---------------------------------------------------------------------------
// Files beside: the new file that a durable replacement writes next to its
// target before moving it into place is named
//   .~sundry-<16 hex digits: hash of the target's name>-<pid>-<counter>.tmp
// so that the leftovers of one target, and the process that made each, can
// be told apart; the name is short whatever the length of the target's.

const char kBesidePrefix[] = ".~sundry-";
const char kBesideSuffix[] = ".tmp";

std::string baseNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "<prefix><hash>-": the part of the name shared by every file beside one
// target (FNV-1a over the target's file name).
std::string besideStem(const std::string& target) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : baseNameOf(target)) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(kBesidePrefix) + hex + "-";
}

// The file that path stands for: the target of a symbolic link at path
// (a link pointing nowhere stands for itself), else path.
std::string resolveTarget(const char* path) {
  std::string target = path;
  struct stat st;
  if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path, nullptr)) {
      target = real;
      std::free(real);
    }
  }
  return target;
}

// Whether a file may be put at target: nothing is there, or a regular file
// (a link to one included). Sets *exists and, when it exists, *st.
bool replaceableTarget(const std::string& target, bool* exists, struct stat* st) {
  *exists = ::stat(target.c_str(), st) == 0;
  if (*exists && !S_ISREG(st->st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

// Moves the file beside to target only where no file is. Returns 0, or an
// errno (EEXIST when a file is there).
int placeWithoutReplacing(const std::string& beside, const std::string& target) {
  if (::renameat2(AT_FDCWD, beside.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  // A file system without the no-replace rename: a hard link fails the
  // same way when the name is taken.
  if (::link(beside.c_str(), target.c_str()) == 0) {
    ::unlink(beside.c_str());
    return 0;
  }
  return errno;
}

// Writes data to a new file beside path and moves it into place (replacing
// a regular file there only when replace is set). With keepOpen the new
// file's descriptor, read-write and locked before the file appears at path,
// is returned; otherwise 0. Returns -1 with the last error set when nothing
// was put in place. *commitError receives the failure of the final commit
// of the directory (the file is in place then), else ERROR_SUCCESS.
int putFileInPlace(const char* path, const void* data, size_t size, bool replace, bool keepOpen,
                   DWORD* commitError) {
  *commitError = ERROR_SUCCESS;
  if (path == nullptr || *path == '\0' || (data == nullptr && size > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  const std::string target = resolveTarget(path);
  struct stat st;
  bool exists;
  if (!replaceableTarget(target, &exists, &st)) return -1;
  if (exists && !replace) {
    SetLastError(ERROR_FILE_EXISTS);
    return -1;
  }
  const std::string dir = directoryOf(target);

  // The file beside: a name of its own in the same directory, so that the
  // move stays on one file system.
  static std::atomic<unsigned> counter{0};
  const std::string stem = dir + "/" + besideStem(target) + std::to_string(::getpid()) + "-";
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = stem + std::to_string(counter++) + kBesideSuffix;
    if (injectedFault(FileOperation::Open)) return -1;
    fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      SetLastErrorFromErrno(errno);
      return -1;
    }
  }
  if (fd < 0) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return -1;
  }

  // On failure before the move: keep the first error, remove the file
  // beside, leave path as it was.
  auto abandon = [&](DWORD error) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    SetLastError(error);
    return -1;
  };
  // Only the permission bits are taken over: set-user-ID and set-group-ID
  // bits have no place on a file this process now owns.
  if (exists && ::fchmod(fd, st.st_mode & 0777) != 0) return abandon(SetLastErrorFromErrno(errno));
  if (writeAll(fd, static_cast<const unsigned char*>(data), size, 0) != size) return abandon(GetLastError());
  if (keepOpen && setRangeLock(fd, F_WRLCK, 0, kQueueByte, false) != 0) {
    setLockError(errno);
    return abandon(GetLastError());
  }
  if (injectedFault(FileOperation::Sync)) return abandon(GetLastError());
  int rc;
  do rc = ::fsync(fd);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) return abandon(SetLastErrorFromErrno(errno));
  if (!keepOpen) {
    rc = ::close(fd);
    fd = -1;
    if (rc != 0) return abandon(SetLastErrorFromErrno(errno));
  }
  if (injectedFault(FileOperation::Rename)) return abandon(GetLastError());
  if (replace) {
    // Looked at again just before the move, in case something other than
    // a file has been put at target since.
    if (!replaceableTarget(target, &exists, &st)) return abandon(GetLastError());
    if (::rename(temp.c_str(), target.c_str()) != 0) return abandon(SetLastErrorFromErrno(errno));
  } else if (int err = placeWithoutReplacing(temp, target)) {
    return abandon(err == EEXIST ? ERROR_FILE_EXISTS : SetLastErrorFromErrno(err));
  }
  if (!syncDirectory(dir)) *commitError = GetLastError();
  return keepOpen ? fd : 0;
}

}  // namespace

struct FileStream {
  int fd = -1;
  OpenMode mode;
  bool unsynced = false;                    // written since the last commit
  LONGLONG pos = 0;                         // the stream's position
  std::unique_ptr<unsigned char[]> buffer;  // made on the first buffered read
  LONGLONG bufferStart = 0;                 // file offset of buffer[0]
  size_t bufferLength = 0;                  // valid bytes in buffer
};

FileStream* StreamOpen(const char* path, const char* mode) {
  OpenMode parsed;
  if (path == nullptr || !parseMode(mode, parsed)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (injectedFault(FileOperation::Open)) return nullptr;
  // Windows refuses to open a directory as a file with "access denied";
  // devices, FIFOs and sockets get the same answer. They are turned away
  // before the open: opening a FIFO waits for its other end, and opening a
  // device may act on it. O_NONBLOCK keeps one put at path after this
  // look from holding the open up; it is cleared once the descriptor is
  // known to be a file's.
  struct stat st;
  if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  int fd;
  do fd = ::open(path, parsed.flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == EISDIR)
      SetLastError(ERROR_ACCESS_DENIED);
    else
      SetLastErrorFromErrno(errno);
    return nullptr;
  }
  if (::fstat(fd, &st) != 0) {
    SetLastErrorFromErrno(errno);
    ::close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    SetLastErrorFromErrno(errno);
    ::close(fd);
    return nullptr;
  }
  if (parsed.commit && parsed.mayCreate && !syncDirectory(directoryOf(path))) {
    ::close(fd);
    return nullptr;
  }
  auto* stream = new FileStream;
  stream->fd = fd;
  stream->mode = parsed;
  stream->pos = parsed.append ? static_cast<LONGLONG>(st.st_size) : 0;
  return stream;
}

FileStream* StreamOpenLocked(const char* path, const char* mode, DWORD dwMilliseconds) {
  OpenMode parsed;
  if (path == nullptr || !parseMode(mode, parsed) || mode[0] != 'r' || !parsed.canWrite) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const auto start = std::chrono::steady_clock::now();
  // Each round opens the file that path names now. A file renamed over
  // path, or removed, while this stream waited is no longer the one at
  // path: its lock guards nothing, and the round starts again.
  for (int round = 0; round < 100; ++round) {
    FileStream* stream = StreamOpen(path, mode);
    if (stream == nullptr) return nullptr;
    DWORD left = dwMilliseconds;
    if (dwMilliseconds != INFINITE) {
      using std::chrono::milliseconds;
      const auto spent = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count();
      left = spent >= dwMilliseconds ? 0 : dwMilliseconds - static_cast<DWORD>(spent);
    }
    if (!lockFile(stream->fd, left)) {
      const DWORD error = GetLastError();
      ::close(stream->fd);
      delete stream;
      SetLastError(error);
      return nullptr;
    }
    struct stat held, named;
    if (::fstat(stream->fd, &held) == 0 && ::stat(path, &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
      return stream;
    ::close(stream->fd);
    delete stream;
  }
  // The file keeps being replaced under the waiter.
  SetLastError(ERROR_LOCK_VIOLATION);
  return nullptr;
}

size_t StreamRead(FileStream* stream, void* buffer, size_t size) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!stream->mode.canRead) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    const LONGLONG bufferEnd = stream->bufferStart + static_cast<LONGLONG>(stream->bufferLength);
    if (stream->pos >= stream->bufferStart && stream->pos < bufferEnd) {
      size_t from = static_cast<size_t>(stream->pos - stream->bufferStart);
      size_t n = std::min(size - done, stream->bufferLength - from);
      std::memcpy(out + done, stream->buffer.get() + from, n);
      done += n;
      stream->pos += static_cast<LONGLONG>(n);
      continue;
    }
    // Large reads go straight into the caller's buffer; small ones fill
    // the stream's buffer first.
    const bool direct = size - done >= kBufferSize;
    if (!direct && !stream->buffer) stream->buffer.reset(new unsigned char[kBufferSize]);
    unsigned char* target = direct ? out + done : stream->buffer.get();
    const size_t want = direct ? size - done : kBufferSize;
    if (injectedFault(FileOperation::Read)) return done;
    ssize_t n;
    do n = ::pread(stream->fd, target, want, static_cast<off_t>(stream->pos));
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      SetLastErrorFromErrno(errno);
      return done;
    }
    if (n == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return done;
    }
    if (direct) {
      done += static_cast<size_t>(n);
      stream->pos += n;
    } else {
      stream->bufferStart = stream->pos;
      stream->bufferLength = static_cast<size_t>(n);
    }
  }
  return done;
}

size_t StreamWrite(FileStream* stream, const void* data, size_t size) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!stream->mode.canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  const auto* in = static_cast<const unsigned char*>(data);
  if (stream->mode.append) {
    // The system puts every write at the end; the buffer no longer knows
    // where that is, so it is dropped.
    stream->bufferLength = 0;
    size_t done = writeAll(stream->fd, in, size, -1);
    if (done > 0) stream->unsynced = true;
    off_t end = ::lseek(stream->fd, 0, SEEK_CUR);
    if (end >= 0) stream->pos = end;
    return done;
  }
  size_t done = writeAll(stream->fd, in, size, stream->pos);
  if (done > 0) {
    stream->unsynced = true;
    // Keep the buffer the same as the file where they overlap.
    const LONGLONG lo = std::max(stream->pos, stream->bufferStart);
    const LONGLONG hi = std::min(stream->pos + static_cast<LONGLONG>(done),
                                 stream->bufferStart + static_cast<LONGLONG>(stream->bufferLength));
    if (lo < hi)
      std::memcpy(stream->buffer.get() + (lo - stream->bufferStart), in + (lo - stream->pos),
                  static_cast<size_t>(hi - lo));
    stream->pos += static_cast<LONGLONG>(done);
  }
  return done;
}

BOOL StreamSeek(FileStream* stream, LONGLONG offset, DWORD origin) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  LONGLONG base;
  switch (origin) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = stream->pos; break;
    case FILE_END:
      base = StreamSize(stream);
      if (base < 0) return FALSE;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
  }
  LONGLONG target;
  if (__builtin_add_overflow(base, offset, &target)) {
    SetLastError(offset < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return FALSE;
  }
  stream->pos = target;
  return TRUE;
}

LONGLONG StreamTell(FileStream* stream) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return stream->pos;
}

LONGLONG StreamSize(FileStream* stream) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  struct stat st;
  if (::fstat(stream->fd, &st) != 0) {
    SetLastErrorFromErrno(errno);
    return -1;
  }
  return static_cast<LONGLONG>(st.st_size);
}

BOOL StreamFlush(FileStream* stream) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!stream->mode.commit || !stream->unsynced) return TRUE;
  if (injectedFault(FileOperation::Sync)) return FALSE;
  int rc;
  do rc = ::fdatasync(stream->fd);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  stream->unsynced = false;
  return TRUE;
}

BOOL StreamClose(FileStream* stream) {
  if (stream == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BOOL ok = StreamFlush(stream);
  DWORD firstError = ok ? ERROR_SUCCESS : GetLastError();
  // close is not retried on EINTR: Linux releases the descriptor anyway.
  if (::close(stream->fd) != 0 && ok) {
    firstError = SetLastErrorFromErrno(errno);
    ok = FALSE;
  }
  delete stream;
  if (!ok) SetLastError(firstError);
  return ok;
}

BOOL SyncPath(const char* path) {
  // O_NONBLOCK: a FIFO at path must not hold the call up.
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  int rc;
  do rc = ::fsync(fd);
  while (rc != 0 && errno == EINTR);
  int err = errno;
  ::close(fd);
  // File systems that cannot sync a directory report EINVAL: there is
  // nothing to commit then.
  if (rc != 0 && err != EINVAL) {
    SetLastErrorFromErrno(err);
    return FALSE;
  }
  return TRUE;
}

BOOL ReplaceFileDurably(const char* path, const void* data, size_t size) {
  DWORD commitError;
  if (putFileInPlace(path, data, size, true, false, &commitError) < 0) return FALSE;
  if (commitError != ERROR_SUCCESS) {
    SetLastError(commitError);
    return FALSE;
  }
  return TRUE;
}

FileStream* StreamCreateDurably(const char* path, const void* data, size_t size, DWORD dwCreationDisposition) {
  if (dwCreationDisposition != CREATE_NEW && dwCreationDisposition != CREATE_ALWAYS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD commitError;
  const int fd = putFileInPlace(path, data, size, dwCreationDisposition == CREATE_ALWAYS, true, &commitError);
  if (fd < 0) return nullptr;
  auto* stream = new FileStream;
  stream->fd = fd;
  parseMode("r+bc", stream->mode);
  SetLastError(commitError);
  return stream;
}

DWORD RemoveAbandonedReplacements(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  const DWORD savedError = GetLastError();
  const std::string target = resolveTarget(path);
  const std::string dir = directoryOf(target);
  const std::string stem = besideStem(target);
  DWORD removed = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(d)) {
      // <stem><pid>-<counter>.tmp, nothing else.
      const char* name = entry->d_name;
      if (std::strncmp(name, stem.c_str(), stem.size()) != 0) continue;
      char* end;
      errno = 0;
      const long pid = std::strtol(name + stem.size(), &end, 10);
      if (errno != 0 || pid <= 0 || end == name + stem.size() || *end != '-') continue;
      const char* counter = end + 1;
      std::strtoul(counter, &end, 10);
      if (end == counter || std::strcmp(end, kBesideSuffix) != 0) continue;
      // A process that no longer exists; one that runs (or that this
      // process may not signal) may still be writing it.
      if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
      if (::unlinkat(::dirfd(d), name, 0) == 0) ++removed;
    }
    ::closedir(d);
  }
  SetLastError(savedError);
  return removed;
}

void SetFileFaultHook(FileFaultHook hook, void* context) {
  g_faultHook = hook;
  g_faultContext = context;
}

}  // namespace sundry::platform

extern "C" DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  char* cwd = ::getcwd(nullptr, 0);
  if (cwd == nullptr) {
    sundry::platform::SetLastErrorFromErrno(errno);
    return 0;
  }
  const size_t length = std::strlen(cwd);
  DWORD result;
  if (lpBuffer == nullptr || length >= nBufferLength) {
    result = static_cast<DWORD>(length + 1);
  } else {
    std::memcpy(lpBuffer, cwd, length + 1);
    result = static_cast<DWORD>(length);
  }
  std::free(cwd);
  return result;
}
