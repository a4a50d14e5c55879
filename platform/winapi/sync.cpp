// Named mutexes over POSIX record locks; their handles live in the
// process's handle table.

#include "platform/posix/error.h"
#include "platform/posix/fd.h"
#include "platform/posix/handles.h"
#include "platform/winapi/sync_internal.h"

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
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace sundry::platform {
namespace {

using posix::HandleKind;
using posix::HandleLookupLocked;
using posix::HandleNewLocked;
using posix::HandleSetForkChildHook;
using posix::HandleTableLock;
using posix::RetryOnEintr;
using posix::UniqueFd;

// How long CreateMutexA waits for another process's creation to finish.
constexpr auto kCreatorTimeout = std::chrono::seconds(10);

// Longest file name the directory accepts.
constexpr size_t kMaxFileName = 255;

const char kFilePrefix[] = "mutex-";

// One mutex as this process sees it, shared by the process's handles to it.
// Its descriptor holds the process's read lock on the mutex's file.
struct MutexState {
  std::string name;    // encoded file name; empty for an unnamed mutex
  UniqueFd fd;         // the lock file; none when unnamed or orphaned by fork
  bool inheritable = false;  // the descriptor stays open across exec
  pid_t ownerPid = 0;  // owning thread, valid while count > 0
  pid_t ownerTid = 0;
  unsigned count = 0;  // levels of ownership
  int refs = 0;        // handles of this process that point here
};

struct MutexHandle {
  MutexState* state = nullptr;
};

// The process's named mutexes by encoded name. They change together with
// the handle table and under its lock, so a fork never copies them
// half-changed.
std::unordered_map<std::string, MutexState*>& namedMutexes() {
  static auto* named = new std::unordered_map<std::string, MutexState*>;  // never destroyed
  return *named;
}

// A forked child holds none of its parent's record locks. Its copies of the
// parent's mutex records are set aside: their descriptors are closed and
// they no longer answer for their names, so the child's own CreateMutexA
// asks the lock files. The handles stay in the child's table until closed.
void forgetParentLocks() {
  for (auto& [name, state] : namedMutexes()) state->fd.reset();
  namedMutexes().clear();
}

pid_t currentTid() { return static_cast<pid_t>(::gettid()); }

// Drops one handle's share of a mutex state; the state, its descriptor and
// so the process's lock go with its last handle. Called with the table
// locked.
void releaseState(MutexState* state) {
  if (--state->refs > 0) return;
  if (!state->name.empty()) {
    auto& named = namedMutexes();
    auto it = named.find(state->name);
    if (it != named.end() && it->second == state) named.erase(it);
  }
  delete state;  // its descriptor, and so the process's lock, goes with it
}

BOOL closeMutex(void* object) {
  auto* m = static_cast<MutexHandle*>(object);
  releaseState(m->state);
  delete m;
  return TRUE;
}

// Opens a lock file in the runtime directory without following a link.
// Returns the descriptor, or -1 with the last error set.
UniqueFd openLockFile(const std::string& path, bool inheritable) {
  int flags = O_RDWR | O_CREAT | O_NOFOLLOW | (inheritable ? 0 : O_CLOEXEC);
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), flags, 0600); }));
  if (!fd) SetLastErrorFromErrno(errno, "open", path.c_str());
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
  return RetryOnEintr([&] { return ::fcntl(fd, F_SETLK, &lock); });
}

bool lockConflict(int err) { return err == EAGAIN || err == EACCES; }

// Takes the process's read lock on a mutex's file. On a fresh descriptor
// it first tries the write lock, which only succeeds when no other process
// holds the file, and tells the caller so in *isNew; the write lock then
// becomes a read lock in one step. A write lock held by another process is
// only that process's creation in progress: it is waited out, polling, for
// at most kCreatorTimeout. Returns TRUE, or FALSE with the last error set.
BOOL lockMutexFile(int fd, const std::string& path, bool* isNew) {
  *isNew = false;
  if (setLock(fd, F_WRLCK) == 0) {
    *isNew = true;
  } else if (!lockConflict(errno)) {
    SetLastErrorFromErrno(errno, "lock", path.c_str());
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
  SetLastErrorFromErrno(errno, "lock", path.c_str());
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
  if (RetryOnEintr([&] { return ::mkdir(dir.c_str(), 0700); }) != 0 && errno != EEXIST) {
    SetLastErrorFromErrno(errno, "mkdir", dir.c_str());
    return FALSE;
  }
  // Someone else may have made it first: it must be ours and closed to
  // others, or they could hold our mutexes or swap the files under us.
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    SetLastErrorFromErrno(errno, "lstat", dir.c_str());
    return FALSE;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *path = dir;
  return TRUE;
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

  // Everything runs under the handle table's lock: threads of this process
  // are taken one at a time (record locks cannot tell them apart), and a
  // fork never copies the table half-changed.
  static const bool hooked = (HandleSetForkChildHook(forgetParentLocks), true);
  (void)hooked;
  std::lock_guard<std::mutex> hold(HandleTableLock());
  auto& mutexes = namedMutexes();

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
    auto it = mutexes.find(file);
    if (it != mutexes.end()) {
      state = it->second;
      existed = true;
      if (inheritable && !state->inheritable) {
        int flags = ::fcntl(state->fd.get(), F_GETFD);
        if (flags >= 0 && ::fcntl(state->fd.get(), F_SETFD, flags & ~FD_CLOEXEC) == 0) state->inheritable = true;
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
      const std::string path = dir + "/" + file;
      state->fd = openLockFile(path, inheritable);
      if (!state->fd || !lockMutexFile(state->fd.get(), path, &isNew)) {
        DWORD failure = GetLastError();
        delete state;
        delete handle;
        SetLastError(failure);
        return nullptr;
      }
      existed = !isNew;
      try {
        mutexes[file] = state;
      } catch (const std::exception&) {
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

  HANDLE h = HandleNewLocked(HandleKind::Mutex, handle, closeMutex);
  if (h == nullptr) {
    DWORD failure = GetLastError();
    releaseState(state);
    delete handle;
    SetLastError(failure);
    return nullptr;
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

extern "C" BOOL ReleaseMutex(HANDLE hMutex) {
  std::lock_guard<std::mutex> hold(HandleTableLock());
  auto* handle = static_cast<MutexHandle*>(HandleLookupLocked(hMutex, HandleKind::Mutex));
  if (handle == nullptr) return FALSE;  // ERROR_INVALID_HANDLE
  MutexState* state = handle->state;
  if (state->count == 0 || state->ownerPid != ::getpid() || state->ownerTid != currentTid()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--state->count == 0) state->ownerPid = state->ownerTid = 0;
  return TRUE;
}
