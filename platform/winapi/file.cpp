// Files over POSIX descriptors: the buffered streams and their locks, the
// current directory, and the public face of the durable replacement (the
// work itself is the POSIX port's, platform/posix/fileio.h).
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
#include "platform/posix/fd.h"
#include "platform/posix/fileio.h"
#include "platform/posix/files.h"
#include "platform/winapi/comm_internal.h"

#include <sundry/platform/error.h>
#include <sundry/platform/file.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

namespace sundry::platform {

namespace {

using posix::RetryOnEintr;
using posix::UniqueFd;

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
  return RetryOnEintr([&] { return ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock); });
}

void unlockQueue(int fd) { setRangeLock(fd, F_UNLCK, kQueueByte, 1, false); }

// Sets the last error for a failed lock call on the file path.
void setLockError(int err, const std::string& path) {
  // Without OFD locks (old kernels), or on a file system without locks.
  if (err == EINVAL || err == ENOLCK || err == EOPNOTSUPP)
    SetLastError(ERROR_NOT_SUPPORTED);
  else
    SetLastErrorFromErrno(err, "lock", path.c_str());
}

// Takes the descriptor's lock on the file, waiting in line for at most
// milliseconds (INFINITE: no limit; the kernel then wakes the waiter).
// Returns true, or false with the last error set (ERROR_LOCK_VIOLATION when
// the time ran out).
bool lockFile(int fd, DWORD milliseconds, const std::string& path) {
  if (milliseconds == INFINITE) {
    if (setRangeLock(fd, F_WRLCK, kQueueByte, 1, true) != 0) {
      setLockError(errno, path);
      return false;
    }
    const bool locked = setRangeLock(fd, F_WRLCK, 0, kQueueByte, true) == 0;
    const int err = errno;
    unlockQueue(fd);
    if (!locked) setLockError(err, path);
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
        setLockError(err, path);
      return false;
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(1)) pause *= 2;
  }
}

}  // namespace

struct FileStream {
  UniqueFd fd;
  std::string path;  // native, for the log
  OpenMode mode;
  bool unsynced = false;                    // written since the last commit
  LONGLONG pos = 0;                         // the stream's position
  std::unique_ptr<unsigned char[]> buffer;  // made on the first buffered read
  LONGLONG bufferStart = 0;                 // file offset of buffer[0]
  size_t bufferLength = 0;                  // valid bytes in buffer
};

namespace {

// A new stream on fd, or null with ERROR_NOT_ENOUGH_MEMORY (fd is closed).
FileStream* newStream(UniqueFd fd, const std::string& path, const OpenMode& mode) {
  return posix::OrOutOfMemory<FileStream*>(nullptr, [&]() -> FileStream* {
    auto* stream = new FileStream;
    stream->fd = std::move(fd);
    stream->path = path;
    stream->mode = mode;
    return stream;
  });
}

// StreamOpen on a native path with a parsed mode.
FileStream* openStream(const std::string& path, const OpenMode& mode) {
  UniqueFd fd = posix::OpenFile(path, mode.flags, 0666);
  if (!fd) return nullptr;
  LONGLONG start = 0;
  if (mode.append) {
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
      SetLastErrorFromErrno(errno, "fstat", path.c_str());
      return nullptr;
    }
    start = static_cast<LONGLONG>(st.st_size);
  }
  if (mode.commit && mode.mayCreate && !posix::SyncDirectory(posix::DirName(path))) return nullptr;
  FileStream* stream = newStream(std::move(fd), path, mode);
  if (stream != nullptr) stream->pos = start;
  return stream;
}

void destroy(FileStream* stream) { delete stream; }

}  // namespace

FileStream* StreamOpen(const char* path, const char* mode) {
  OpenMode parsed;
  if (path == nullptr || !parseMode(mode, parsed)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return posix::OrOutOfMemory<FileStream*>(nullptr, [&]() -> FileStream* {
    return openStream(posix::NativePath(path), parsed);
  });
}

FileStream* StreamOpenLocked(const char* path, const char* mode, DWORD dwMilliseconds) {
  OpenMode parsed;
  if (path == nullptr || !parseMode(mode, parsed) || mode[0] != 'r' || !parsed.canWrite) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return posix::OrOutOfMemory<FileStream*>(nullptr, [&]() -> FileStream* {
    const std::string native = posix::NativePath(path);
    const auto start = std::chrono::steady_clock::now();
    // Each round opens the file that path names now. A file renamed over
    // path, or removed, while this stream waited is no longer the one at
    // path: its lock guards nothing, and the round starts again.
    for (int round = 0; round < 100; ++round) {
      std::unique_ptr<FileStream, void (*)(FileStream*)> stream(openStream(native, parsed), destroy);
      if (!stream) return nullptr;
      DWORD left = dwMilliseconds;
      if (dwMilliseconds != INFINITE) {
        using std::chrono::milliseconds;
        const auto spent =
            std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count();
        left = spent >= dwMilliseconds ? 0 : dwMilliseconds - static_cast<DWORD>(spent);
      }
      if (!lockFile(stream->fd.get(), left, native)) return nullptr;
      struct stat held, named;
      if (::fstat(stream->fd.get(), &held) == 0 && ::stat(native.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        return stream.release();
    }
    // The file keeps being replaced under the waiter.
    SetLastError(ERROR_LOCK_VIOLATION);
    return nullptr;
  });
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
    if (!direct && !stream->buffer) {
      stream->buffer.reset(new (std::nothrow) unsigned char[kBufferSize]);
      if (!stream->buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return done;
      }
    }
    unsigned char* target = direct ? out + done : stream->buffer.get();
    const size_t want = direct ? size - done : kBufferSize;
    const ssize_t n = posix::ReadAt(stream->fd.get(), target, want, static_cast<uint64_t>(stream->pos), stream->path);
    if (n < 0) return done;
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
    size_t done = posix::WriteAll(stream->fd.get(), in, size, -1, stream->path);
    if (done > 0) stream->unsynced = true;
    off_t end = ::lseek(stream->fd.get(), 0, SEEK_CUR);
    if (end >= 0) stream->pos = end;
    return done;
  }
  size_t done = posix::WriteAll(stream->fd.get(), in, size, stream->pos, stream->path);
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
  if (::fstat(stream->fd.get(), &st) != 0) {
    SetLastErrorFromErrno(errno, "fstat", stream->path.c_str());
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
  if (!posix::SyncFile(stream->fd.get(), true, stream->path)) return FALSE;
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
  if (stream->fd.close() != 0 && ok) {
    firstError = SetLastErrorFromErrno(errno, "close", stream->path.c_str());
    ok = FALSE;
  }
  delete stream;
  if (!ok) SetLastError(firstError);
  return ok;
}

BOOL ReplaceFileDurably(const char* path, const void* data, size_t size) {
  if (path == nullptr || *path == '\0' || (data == nullptr && size > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return posix::OrOutOfMemory<BOOL>(FALSE, [&] {
    DWORD commitError;
    auto fill = [&](int fd, const std::string& name) { return posix::WriteAll(fd, data, size, 0, name) == size; };
    if (!posix::PutFileInPlace(posix::NativePath(path), posix::Placement{}, fill, nullptr, &commitError))
      return FALSE;
    if (commitError != ERROR_SUCCESS) {
      SetLastError(commitError);
      return FALSE;
    }
    return TRUE;
  });
}

FileStream* StreamCreateDurably(const char* path, const void* data, size_t size, DWORD dwCreationDisposition) {
  if (path == nullptr || *path == '\0' || (data == nullptr && size > 0) ||
      (dwCreationDisposition != CREATE_NEW && dwCreationDisposition != CREATE_ALWAYS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return posix::OrOutOfMemory<FileStream*>(nullptr, [&]() -> FileStream* {
    const std::string native = posix::NativePath(path);
    posix::Placement how;
    how.replace = dwCreationDisposition == CREATE_ALWAYS;
    // The lock is taken before the file appears at path, so no other
    // stream can hold it first.
    auto fill = [&](int fd, const std::string& name) {
      if (posix::WriteAll(fd, data, size, 0, name) != size) return false;
      if (setRangeLock(fd, F_WRLCK, 0, kQueueByte, false) != 0) {
        setLockError(errno, name);
        return false;
      }
      return true;
    };
    UniqueFd fd;
    DWORD commitError;
    if (!posix::PutFileInPlace(native, how, fill, &fd, &commitError)) return nullptr;
    OpenMode mode;
    parseMode("r+bc", mode);
    FileStream* stream = newStream(std::move(fd), native, mode);
    if (stream != nullptr) SetLastError(commitError);
    return stream;
  });
}

DWORD RemoveAbandonedReplacements(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  try {
    return posix::RemoveAbandonedReplacements(posix::NativePath(path));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace sundry::platform

extern "C" DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  char* cwd = ::getcwd(nullptr, 0);
  if (cwd == nullptr) {
    sundry::platform::SetLastErrorFromErrno(errno, "getcwd", ".");
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

// Handle-based file functions: only communications ports open this way.

extern "C" HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                              LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD, HANDLE) {
  return sundry::platform::CommCreateFile(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition);
}

extern "C" BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                         LPOVERLAPPED lpOverlapped) {
  if (lpOverlapped != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return sundry::platform::CommReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

extern "C" BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                          LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpOverlapped != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return sundry::platform::CommWriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
}
