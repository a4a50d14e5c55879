// Named mutexes over POSIX record locks, and the process's handle table.

#include <sundry/platform/error.h>
#include <sundry/platform/sync.h>

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace sundry::platform {
namespace {

// How long CreateMutexA waits for another process's creation to finish.
constexpr auto kCreatorTimeout = std::chrono::seconds(10);

// Longest file name the directory accepts.
constexpr size_t kMaxFileName = 255;

const char kFilePrefix[] = "mutex-";

// One mutex as this process sees it, shared by the process's handles to it.
// Its descriptor holds the process's read lock on the mutex's file.
struct MutexState {
  std::string name;    // encoded file name; empty for an unnamed mutex
  int fd = -1;         // the lock file; -1 when unnamed or orphaned by fork
  bool inheritable = false;  // the descriptor stays open across exec
  pid_t ownerPid = 0;  // owning thread, valid while count > 0
  pid_t ownerTid = 0;
  unsigned count = 0;  // levels of ownership
  int refs = 0;        // handles of this process that point here
};

struct MutexHandle {
  MutexState* state = nullptr;
};

struct Entry {
  HandleKind kind;
  void* object;
  HandleCloser closer;
};

// The handle table and the process's named mutexes, under one lock. The
// lock is also held across fork (see atFork*), so a child never sees the
// table half-changed.
struct Table {
  std::mutex lock;
  std::unordered_map<uintptr_t, Entry> handles;
  std::unordered_map<std::string, MutexState*> named;  // by encoded name
  uintptr_t next = 0;
};

Table& table();

void atForkPrepare() { table().lock.lock(); }
void atForkParent() { table().lock.unlock(); }

// A forked child holds none of its parent's record locks. Its copies of the
// parent's mutex records are set aside: their descriptors are closed and
// they no longer answer for their names, so the child's own CreateMutexA
// asks the lock files. The handles stay in the child's table until closed.
void atForkChild() {
  Table& t = table();
  for (auto& [name, state] : t.named) {
    if (state->fd >= 0) ::close(state->fd);
    state->fd = -1;
  }
  t.named.clear();
  t.lock.unlock();
}

Table& table() {
  // Never destroyed: handles may be closed from static destructors.
  static Table* t = [] {
    auto* made = new Table;
    pthread_atfork(atForkPrepare, atForkParent, atForkChild);
    return made;
  }();
  return *t;
}

pid_t currentTid() { return static_cast<pid_t>(::gettid()); }

// Drops one handle's share of a mutex state; the state, its descriptor and
// so the process's lock go with its last handle. Called with the table
// locked.
void releaseState(Table& t, MutexState* state) {
  if (--state->refs > 0) return;
  if (!state->name.empty()) {
    auto it = t.named.find(state->name);
    if (it != t.named.end() && it->second == state) t.named.erase(it);
  }
  if (state->fd >= 0) ::close(state->fd);
  delete state;
}

BOOL closeMutex(void* object) {
  auto* m = static_cast<MutexHandle*>(object);
  releaseState(table(), m->state);
  delete m;
  return TRUE;
}

HANDLE newHandleLocked(Table& t, HandleKind kind, void* object, HandleCloser closer) {
  try {
    t.next += 4;  // as Windows, multiples of 4; never reused
    t.handles.emplace(t.next, Entry{kind, object, closer});
  } catch (const std::exception&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(t.next);
}

Entry* findLocked(Table& t, HANDLE handle) {
  auto it = t.handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.handles.end() ? nullptr : &it->second;
}

// Retries a system call interrupted by a signal.
template <class F>
int retry(F call) {
  int rc;
  do rc = call();
  while (rc < 0 && errno == EINTR);
  return rc;
}

// Opens a lock file in the runtime directory without following a link.
// Returns the descriptor, or -1 with the last error set.
int openLockFile(const std::string& path, bool inheritable) {
  int flags = O_RDWR | O_CREAT | O_NOFOLLOW | (inheritable ? 0 : O_CLOEXEC);
  int fd = retry([&] { return ::open(path.c_str(), flags, 0600); });
  if (fd < 0) SetLastErrorFromErrno(errno);
  return fd;
}

// Sets the process's lock on the whole file without waiting: 0, or -1 with
// errno (EAGAIN or EACCES when another process's lock is in the way).
int setLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end, however long the file grows
  return retry([&] { return ::fcntl(fd, F_SETLK, &lock); });
}

bool lockConflict(int err) { return err == EAGAIN || err == EACCES; }

// Takes the process's read lock on a mutex's file. On a fresh descriptor
// it first tries the write lock, which only succeeds when no other process
// holds the file, and tells the caller so in *isNew; the write lock then
// becomes a read lock in one step. A write lock held by another process is
// only that process's creation in progress: it is waited out, polling, for
// at most kCreatorTimeout. Returns TRUE, or FALSE with the last error set.
BOOL lockMutexFile(int fd, bool* isNew) {
  *isNew = false;
  if (setLock(fd, F_WRLCK) == 0) {
    *isNew = true;
  } else if (!lockConflict(errno)) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  auto deadline = std::chrono::steady_clock::now() + kCreatorTimeout;
  auto pause = std::chrono::microseconds(50);
  for (;;) {
    if (setLock(fd, F_RDLCK) == 0) return TRUE;
    if (!lockConflict(errno)) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      SetLastError(ERROR_TIMEOUT);
      return FALSE;
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(5)) pause *= 2;
  }
  SetLastErrorFromErrno(errno);
  return FALSE;
}

const char* stripLocalPrefix(const char* name) {
  static const char kLocal[] = "Local\\";
  return std::strncmp(name, kLocal, sizeof kLocal - 1) == 0 ? name + sizeof kLocal - 1 : name;
}

}  // namespace

std::string MutexFileName(const char* lpName) {
  if (lpName == nullptr || *lpName == '\0') return std::string();
  const char* name = stripLocalPrefix(lpName);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = kFilePrefix;
  for (const char* p = name; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                 c == '_' || c == '-';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (out.size() <= kMaxFileName) return out;
  // Too long for a file name: the name's digest instead. '#' never occurs in
  // an encoded name, so the two forms cannot meet.
  std::string digest;
  CryptoPP::SHA256 sha;
  CryptoPP::StringSource(std::string(name), true,
                         new CryptoPP::HashFilter(sha, new CryptoPP::HexEncoder(new CryptoPP::StringSink(digest))));
  return std::string(kFilePrefix) + "#" + digest;
}

BOOL GetRuntimeDirectory(std::string* path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string dir;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] == '/')
    dir = std::string(xdg) + "/sundry";
  else
    dir = "/tmp/sundry-" + std::to_string(::geteuid());
  if (retry([&] { return ::mkdir(dir.c_str(), 0700); }) != 0 && errno != EEXIST) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  // Someone else may have made it first: it must be ours and closed to
  // others, or they could hold our mutexes or swap the files under us.
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *path = dir;
  return TRUE;
}

HANDLE HandleNew(HandleKind kind, void* object, HandleCloser closer) {
  if (object == nullptr || closer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  return newHandleLocked(t, kind, object, closer);
}

void* HandleLookup(HANDLE handle, HandleKind kind) {
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  Entry* e = findLocked(t, handle);
  if (e == nullptr || e->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return e->object;
}

}  // namespace sundry::platform

using namespace sundry::platform;

extern "C" HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
  const bool inheritable = lpMutexAttributes != nullptr && lpMutexAttributes->bInheritHandle;
  const bool named = lpName != nullptr && *lpName != '\0';
  if (named && std::strlen(lpName) > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  std::string dir;
  if (named && !GetRuntimeDirectory(&dir)) return nullptr;
  const std::string file = MutexFileName(lpName);

  Table& t = table();
  // Everything runs under the table lock: threads of this process are taken
  // one at a time (record locks cannot tell them apart), and a fork never
  // copies the table half-changed.
  std::lock_guard<std::mutex> hold(t.lock);

  auto* handle = new (std::nothrow) MutexHandle;
  if (handle == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }

  // A handle of this process to the mutex: it exists, and this handle joins
  // the process's record (and its one descriptor, since closing a second
  // descriptor of the file would drop the process's lock).
  MutexState* state = nullptr;
  bool existed = false;
  if (named) {
    auto it = t.named.find(file);
    if (it != t.named.end()) {
      state = it->second;
      existed = true;
      if (inheritable && !state->inheritable) {
        int flags = ::fcntl(state->fd, F_GETFD);
        if (flags >= 0 && ::fcntl(state->fd, F_SETFD, flags & ~FD_CLOEXEC) == 0) state->inheritable = true;
      }
    }
  }

  if (state == nullptr) {
    state = new (std::nothrow) MutexState;
    if (state == nullptr) {
      delete handle;
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    state->name = file;
    state->inheritable = inheritable;
    if (named) {
      bool isNew = false;
      state->fd = openLockFile(dir + "/" + file, inheritable);
      if (state->fd < 0 || !lockMutexFile(state->fd, &isNew)) {
        DWORD failure = GetLastError();
        if (state->fd >= 0) ::close(state->fd);
        delete state;
        delete handle;
        SetLastError(failure);
        return nullptr;
      }
      existed = !isNew;
      try {
        t.named[file] = state;
      } catch (const std::exception&) {
        ::close(state->fd);
        delete state;
        delete handle;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
      }
    }
  }
  ++state->refs;
  handle->state = state;
  if (!existed && bInitialOwner) {
    state->ownerPid = ::getpid();
    state->ownerTid = currentTid();
    state->count = 1;
  }

  HANDLE h = newHandleLocked(t, HandleKind::Mutex, handle, closeMutex);
  if (h == nullptr) {
    DWORD failure = GetLastError();
    releaseState(t, state);
    delete handle;
    SetLastError(failure);
    return nullptr;
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

extern "C" BOOL ReleaseMutex(HANDLE hMutex) {
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  Entry* e = findLocked(t, hMutex);
  if (e == nullptr || e->kind != HandleKind::Mutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  MutexState* state = static_cast<MutexHandle*>(e->object)->state;
  if (state->count == 0 || state->ownerPid != ::getpid() || state->ownerTid != currentTid()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--state->count == 0) state->ownerPid = state->ownerTid = 0;
  return TRUE;
}

extern "C" BOOL CloseHandle(HANDLE hObject) {
  Table& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  auto it = t.handles.find(reinterpret_cast<uintptr_t>(hObject));
  if (it == t.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Entry entry = it->second;
  t.handles.erase(it);
  return entry.closer(entry.object);
}
