// Streams and durable replacements over the Win32 file API.
//
// A stream is a file handle with one position for reading and writing; it
// keeps no buffer of its own, so every write is with the system at once.
// Commit mode flushes the file's buffers (FlushFileBuffers). Files beside a
// target are named ".~sundry-<pid>-<counter>.tmp" in the target's folder.

#include <sundry/platform/file.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>

namespace sundry::platform {

struct FileStream {
  HANDLE h = INVALID_HANDLE_VALUE;
  LONGLONG pos = 0;
  bool canRead = false;
  bool canWrite = false;
  bool append = false;
  bool commit = false;
};

namespace {

struct Mode {
  DWORD disposition = OPEN_EXISTING;
  bool read = false, write = false, append = false, commit = false;
};

bool ParseMode(const char* mode, Mode* m) {
  if (mode == nullptr) return false;
  bool exclusive = false;
  switch (*mode++) {
    case 'r': m->disposition = OPEN_EXISTING; m->read = true; break;
    case 'w': m->disposition = CREATE_ALWAYS; m->write = true; break;
    case 'a': m->disposition = OPEN_ALWAYS; m->write = true; m->append = true; break;
    default: return false;
  }
  if (*mode == '+') {
    m->read = m->write = true;
    ++mode;
  }
  bool seenB = false, seenC = false, seenX = false;
  for (; *mode; ++mode) {
    switch (*mode) {
      case 'b': case 't': if (seenB) return false; seenB = true; break;
      case 'c': case 'n': if (seenC) return false; seenC = true; m->commit = (*mode == 'c'); break;
      case 'x': if (seenX || m->disposition != CREATE_ALWAYS) return false; seenX = exclusive = true; break;
      default: return false;
    }
  }
  if (exclusive) m->disposition = CREATE_NEW;
  return true;
}

// The folder part of path ("." when there is none), with its separator.
std::string FolderOf(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string BesideName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return FolderOf(path) + ".~sundry-" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(counter++) + ".tmp";
}

// A path that exists but is not a plain file (a directory, a device name).
bool IsNotRegular(const char* path) {
  DWORD attrs = ::GetFileAttributesA(path);
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HANDLE OpenHandle(const char* path, const Mode& m) {
  DWORD access = (m.read ? GENERIC_READ : 0) | (m.write ? GENERIC_WRITE : 0);
  HANDLE h = ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           m.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_FILE_EXISTS) ::SetLastError(ERROR_ALREADY_EXISTS);
    return h;
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {  // a pipe, a console, a device
    ::CloseHandle(h);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

FileStream* NewStream(HANDLE h, const Mode& m) {
  FileStream* s = new (std::nothrow) FileStream;
  if (s == nullptr) {
    ::CloseHandle(h);
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  s->h = h;
  s->canRead = m.read;
  s->canWrite = m.write;
  s->append = m.append;
  s->commit = m.commit;
  if (m.append) s->pos = StreamSize(s);
  return s;
}

bool WriteAll(HANDLE h, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!::WriteFile(h, p, chunk, &done, nullptr)) return false;
    p += done;
    size -= done;
  }
  return true;
}

// Writes data to a new file beside path and commits it. Returns the open
// handle (shared for delete, so it can be renamed while open) or
// INVALID_HANDLE_VALUE with the last error set and nothing left behind.
// The handle has no delete access of its own: while one handle has it,
// every open that does not share deletion (most programs' reads, the C
// library's fopen) is refused.
HANDLE WriteBeside(const std::string& beside, const void* data, size_t size) {
  HANDLE h = ::CreateFileA(beside.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  if (!WriteAll(h, data, size) || !::FlushFileBuffers(h)) {
    DWORD err = ::GetLastError();
    ::CloseHandle(h);
    ::DeleteFileA(beside.c_str());
    ::SetLastError(err);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// The checks every durable replacement makes first: ERROR_SUCCESS, or the
// code to fail with.
DWORD CheckReplacement(const char* path, const void* data, size_t size) {
  if (path == nullptr || *path == '\0' || (data == nullptr && size > 0)) return ERROR_INVALID_PARAMETER;
  if (IsNotRegular(path)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// Moves the file beside into place; on failure it is removed and the move's
// error kept.
bool MoveIntoPlace(const std::string& beside, const char* path, DWORD flags) {
  if (::MoveFileExA(beside.c_str(), path, flags)) return true;
  const DWORD err = ::GetLastError();
  ::DeleteFileA(beside.c_str());
  ::SetLastError(err);
  return false;
}

}  // namespace

FileStream* StreamOpen(const char* path, const char* mode) {
  Mode m;
  if (path == nullptr || !ParseMode(mode, &m)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (IsNotRegular(path)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HANDLE h = OpenHandle(path, m);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return NewStream(h, m);
}

FileStream* StreamOpenLocked(const char* path, const char* mode, DWORD dwMilliseconds) {
  Mode m;
  if (path == nullptr || !ParseMode(mode, &m) || !m.read || !m.write || m.append ||
      m.disposition != OPEN_EXISTING) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  FileStream* s = StreamOpen(path, mode);
  if (s == nullptr) return nullptr;
  // Windows byte-range locks belong to the handle: one per stream, gone
  // when the handle closes or the process ends.
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    OVERLAPPED ov{};
    if (::LockFileEx(s->h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &ov))
      return s;
    DWORD err = ::GetLastError();
    if (err != ERROR_LOCK_VIOLATION && err != ERROR_IO_PENDING) {
      StreamClose(s);
      ::SetLastError(err == ERROR_INVALID_FUNCTION ? ERROR_NOT_SUPPORTED : err);
      return nullptr;
    }
    if (dwMilliseconds != INFINITE && ::GetTickCount64() - start >= dwMilliseconds) {
      StreamClose(s);
      ::SetLastError(ERROR_LOCK_VIOLATION);
      return nullptr;
    }
    ::Sleep(5);
  }
}

size_t StreamRead(FileStream* s, void* buffer, size_t size) {
  if (s == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!s->canRead) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  char* p = static_cast<char*>(buffer);
  size_t total = 0;
  while (total < size) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(s->pos);
    ov.OffsetHigh = static_cast<DWORD>(static_cast<ULONGLONG>(s->pos) >> 32);
    DWORD chunk = size - total > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size - total);
    DWORD got = 0;
    if (!::ReadFile(s->h, p + total, chunk, &got, &ov)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return total;
    }
    if (got == 0) break;
    total += got;
    s->pos += got;
  }
  if (total < size) ::SetLastError(ERROR_HANDLE_EOF);
  return total;
}

size_t StreamWrite(FileStream* s, const void* data, size_t size) {
  if (s == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!s->canWrite) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  if (s->append) s->pos = StreamSize(s);
  const char* p = static_cast<const char*>(data);
  size_t total = 0;
  while (total < size) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(s->pos);
    ov.OffsetHigh = static_cast<DWORD>(static_cast<ULONGLONG>(s->pos) >> 32);
    DWORD chunk = size - total > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size - total);
    DWORD done = 0;
    if (!::WriteFile(s->h, p + total, chunk, &done, &ov) || done == 0) break;
    total += done;
    s->pos += done;
  }
  return total;
}

BOOL StreamSeek(FileStream* s, LONGLONG offset, DWORD origin) {
  if (s == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  LONGLONG base;
  switch (origin) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = s->pos; break;
    case FILE_END:
      base = StreamSize(s);
      if (base < 0) return FALSE;
      break;
    default: ::SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
  }
  if (offset < 0 && base + offset < 0) {
    ::SetLastError(ERROR_NEGATIVE_SEEK);
    return FALSE;
  }
  s->pos = base + offset;
  return TRUE;
}

LONGLONG StreamTell(FileStream* s) {
  if (s == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return s->pos;
}

LONGLONG StreamSize(FileStream* s) {
  if (s == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(s->h, &size)) return -1;
  return size.QuadPart;
}

BOOL StreamFlush(FileStream* s) {
  if (s == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (s->commit && s->canWrite && !::FlushFileBuffers(s->h)) return FALSE;
  return TRUE;
}

BOOL StreamClose(FileStream* s) {
  if (s == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BOOL ok = StreamFlush(s);
  DWORD err = ok ? ERROR_SUCCESS : ::GetLastError();
  if (!::CloseHandle(s->h) && ok) {
    ok = FALSE;
    err = ::GetLastError();
  }
  delete s;
  if (!ok) ::SetLastError(err);
  return ok;
}

BOOL ReplaceFileDurably(const char* path, const void* data, size_t size) {
  if (const DWORD rc = CheckReplacement(path, data, size); rc != ERROR_SUCCESS) {
    ::SetLastError(rc);
    return FALSE;
  }
  try {
    const std::string beside = BesideName(path);
    HANDLE h = WriteBeside(beside, data, size);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    ::CloseHandle(h);
    // Keep the read-only and hidden marks of the file replaced.
    DWORD attrs = ::GetFileAttributesA(path);
    if (attrs != INVALID_FILE_ATTRIBUTES)
      ::SetFileAttributesA(beside.c_str(), attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    return MoveIntoPlace(beside, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? TRUE : FALSE;
  } catch (const std::bad_alloc&) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

FileStream* StreamCreateDurably(const char* path, const void* data, size_t size, DWORD dwCreationDisposition) {
  DWORD rc = dwCreationDisposition != CREATE_NEW && dwCreationDisposition != CREATE_ALWAYS
                 ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                 : CheckReplacement(path, data, size);
  if (rc != ERROR_SUCCESS) {
    ::SetLastError(rc);
    return nullptr;
  }
  try {
    const std::string beside = BesideName(path);
    HANDLE h = WriteBeside(beside, data, size);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    OVERLAPPED ov{};
    // The lock is taken before the file appears at path.
    ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &ov);
    DWORD flags = MOVEFILE_WRITE_THROUGH | (dwCreationDisposition == CREATE_ALWAYS ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveIntoPlace(beside, path, flags)) {  // the handle shares deletion: the file goes at its close
      const DWORD err = ::GetLastError();
      ::CloseHandle(h);
      ::SetLastError(err == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : err);
      return nullptr;
    }
    Mode m;
    m.read = m.write = m.commit = true;
    FileStream* s = NewStream(h, m);
    if (s != nullptr) ::SetLastError(ERROR_SUCCESS);
    return s;
  } catch (const std::bad_alloc&) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

DWORD RemoveAbandonedReplacements(const char* path) {
  if (path == nullptr) return 0;
  DWORD removed = 0;
  const DWORD saved = ::GetLastError();
  try {
    const std::string pattern = FolderOf(path) + ".~sundry-*.tmp";
    WIN32_FIND_DATAA fd;
    HANDLE find = ::FindFirstFileA(pattern.c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        // .~sundry-<pid>-<counter>.tmp
        unsigned long pid = std::strtoul(fd.cFileName + 9, nullptr, 10);
        if (pid == 0 || pid == ::GetCurrentProcessId()) continue;
        HANDLE proc = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
        if (proc != nullptr) {
          bool running = ::WaitForSingleObject(proc, 0) == WAIT_TIMEOUT;
          ::CloseHandle(proc);
          if (running) continue;
        } else if (::GetLastError() == ERROR_ACCESS_DENIED) {
          continue;  // another user's process that runs
        }
        if (::DeleteFileA((FolderOf(path) + fd.cFileName).c_str())) ++removed;
      } while (::FindNextFileA(find, &fd));
      ::FindClose(find);
    }
  } catch (const std::bad_alloc&) {
  }
  ::SetLastError(saved);
  return removed;
}

}  // namespace sundry::platform
