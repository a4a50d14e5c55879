// Files over POSIX descriptors: the buffered streams, the current directory
// and the durable replacement of a whole file.
//
// A stream keeps its own position and reads through a buffer with pread, so
// a seek costs no system call and a run of small reads of neighbouring
// records is served from memory. Writes go to the system at once with
// pwrite (copied into the buffer where it holds the same bytes), so the
// buffer never holds data the file lacks and nothing is lost when the
// process dies. The commit letter "c" of the run-time's mode strings turns a
// flush into fdatasync.

#include "platform/posix/error.h"

#include <sundry/platform/error.h>
#include <sundry/platform/file.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

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
  int fd;
  do fd = ::open(path, parsed.flags | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // Windows refuses to open a directory as a file with "access denied".
    if (errno == EISDIR)
      SetLastError(ERROR_ACCESS_DENIED);
    else
      SetLastErrorFromErrno(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    SetLastErrorFromErrno(errno);
    ::close(fd);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
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
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
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
  if (path == nullptr || *path == '\0' || (data == nullptr && size > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string target = path;
  struct stat st;
  if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path, nullptr)) {
      target = real;
      std::free(real);
    }
  }
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const std::string dir = directoryOf(target);

  // The file beside: a name of its own in the same directory (so that the
  // rename stays on one file system), short whatever the length of path.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "/.~sundry-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    if (injectedFault(FileOperation::Open)) return FALSE;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      SetLastErrorFromErrno(errno);
      return FALSE;
    }
  }
  if (fd < 0) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }

  // On failure before the rename: keep the first error, remove the file
  // beside, leave path as it was.
  auto abandon = [&](DWORD error) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    SetLastError(error);
    return FALSE;
  };
  if (exists && ::fchmod(fd, st.st_mode & 07777) != 0) return abandon(SetLastErrorFromErrno(errno));
  if (writeAll(fd, static_cast<const unsigned char*>(data), size, 0) != size) return abandon(GetLastError());
  if (injectedFault(FileOperation::Sync)) return abandon(GetLastError());
  int rc;
  do rc = ::fsync(fd);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) return abandon(SetLastErrorFromErrno(errno));
  rc = ::close(fd);
  fd = -1;
  if (rc != 0) return abandon(SetLastErrorFromErrno(errno));
  if (injectedFault(FileOperation::Rename)) return abandon(GetLastError());
  if (::rename(temp.c_str(), target.c_str()) != 0) return abandon(SetLastErrorFromErrno(errno));
  return syncDirectory(dir) ? TRUE : FALSE;
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
