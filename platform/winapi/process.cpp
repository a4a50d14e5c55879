// Process snapshots over /proc, and process handles over pidfds.

#include "platform/posix/error.h"
#include "platform/posix/fd.h"
#include "platform/posix/files.h"
#include "platform/posix/handles.h"

#include <sundry/platform/error.h>
#include <sundry/platform/process.h>
#include <sundry/platform/sync.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

using sundry::platform::posix::BaseName;
using sundry::platform::posix::HandleKind;
using sundry::platform::posix::HandleLookup;
using sundry::platform::posix::HandleNew;
using sundry::platform::posix::SetLastErrorFromErrno;

// This file's kinds of object in the shared handle table.
constexpr HandleKind kSnapshotKind = HandleKind::ProcessSnapshot;
constexpr HandleKind kProcessKind = HandleKind::Process;

struct Snapshot {
  std::vector<PROCESSENTRY32> entries;
  size_t next = 0;
};

struct ProcessHandle {
  pid_t pid = 0;
  sundry::platform::posix::UniqueFd pidfd;  // none where the system has no pidfds: the id is used
  DWORD access = 0;
};

BOOL closeSnapshot(void* object) {
  delete static_cast<Snapshot*>(object);
  return TRUE;
}

BOOL closeProcess(void* object) {
  auto* p = static_cast<ProcessHandle*>(object);
  delete p;
  return TRUE;
}

// The whole content of a small /proc file, or false.
bool readProcFile(const std::string& path, std::string& out) {
  return sundry::platform::posix::ReadSmallFile(path, &out);
}

// The executable name of a process (see process.h for the order of sources).
std::string exeName(const std::string& dir, const std::string& comm) {
  char target[4096];
  ssize_t n = ::readlink((dir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) {
    std::string path(target, static_cast<size_t>(n));
    static const char kDeleted[] = " (deleted)";
    const size_t suffix = sizeof kDeleted - 1;
    if (path.size() > suffix && path.compare(path.size() - suffix, suffix, kDeleted) == 0)
      path.resize(path.size() - suffix);
    std::string name = BaseName(path);
    if (!name.empty()) return name;
  }
  std::string cmdline;
  if (!comm.empty() && readProcFile(dir + "/cmdline", cmdline) && !cmdline.empty()) {
    std::string name = BaseName(std::string(cmdline.c_str()));  // up to the first NUL
    if (name.compare(0, comm.size(), comm) == 0) return name;
  }
  return comm;
}

// Windows' base priority classes by the nice value.
LONG priorityClassBase(long nice) {
  if (nice <= -10) return 13;  // high
  if (nice < 0) return 10;     // above normal
  if (nice == 0) return 8;     // normal
  if (nice < 10) return 6;     // below normal
  return 4;                    // idle
}

// Fills e from /proc/<pid>; false when the process is gone or a zombie.
bool describeProcess(pid_t pid, PROCESSENTRY32& e) {
  const std::string dir = "/proc/" + std::to_string(pid);
  std::string stat;
  if (!readProcFile(dir + "/stat", stat)) return false;
  // "pid (comm) state ppid ..."; comm may itself hold spaces and ")".
  const size_t open = stat.find('(');
  const size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  const std::string comm = stat.substr(open + 1, close - open - 1);
  std::vector<std::string> fields;  // fields[0] is the state (field 3)
  size_t pos = close + 1;
  while (pos < stat.size() && fields.size() < 18) {
    while (pos < stat.size() && stat[pos] == ' ') ++pos;
    size_t end = stat.find(' ', pos);
    if (end == std::string::npos) end = stat.size();
    if (end > pos) fields.push_back(stat.substr(pos, end - pos));
    pos = end;
  }
  if (fields.size() < 18) return false;
  if (fields[0] == "Z" || fields[0] == "X" || fields[0] == "x") return false;

  std::memset(&e, 0, sizeof e);
  e.dwSize = sizeof e;
  e.th32ProcessID = static_cast<DWORD>(pid);
  e.th32ParentProcessID = static_cast<DWORD>(std::strtoul(fields[1].c_str(), nullptr, 10));
  e.pcPriClassBase = priorityClassBase(std::strtol(fields[16].c_str(), nullptr, 10));
  e.cntThreads = static_cast<DWORD>(std::strtoul(fields[17].c_str(), nullptr, 10));
  const std::string name = exeName(dir, comm);
  const size_t len = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
  std::memcpy(e.szExeFile, name.data(), len);
  e.szExeFile[len] = '\0';
  return true;
}

BOOL copyEntry(HANDLE hSnapshot, LPPROCESSENTRY32 lppe, bool first) {
  if (lppe == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* snap = static_cast<Snapshot*>(HandleLookup(hSnapshot, kSnapshotKind));
  if (snap == nullptr) return FALSE;  // ERROR_INVALID_HANDLE
  if (lppe->dwSize < sizeof(PROCESSENTRY32)) {
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  if (first) snap->next = 0;
  if (snap->next >= snap->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  const DWORD callerSize = lppe->dwSize;
  *lppe = snap->entries[snap->next++];
  lppe->dwSize = callerSize;
  return TRUE;
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

int signalPidfd(int pidfd, int sig) {
#ifdef SYS_pidfd_send_signal
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
#else
  (void)pidfd;
  (void)sig;
  errno = ENOSYS;
  return -1;
#endif
}

// Sends sig (0: only the permission check) to the process of a handle.
int signalProcess(const ProcessHandle& p, int sig) {
  return p.pidfd.valid() ? signalPidfd(p.pidfd.get(), sig) : ::kill(p.pid, sig);
}

// Sets the last error for a failed signal to process pid.
void setSignalError(int err, pid_t pid) {
  char what[32];
  std::snprintf(what, sizeof what, "process %d", static_cast<int>(pid));
  SetLastErrorFromErrno(err, "kill", what);
}

}  // namespace

extern "C" HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD) {
  if ((dwFlags & TH32CS_SNAPPROCESS) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), &::closedir);
  if (!proc) {
    SetLastErrorFromErrno(errno, "opendir", "/proc");
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<Snapshot> snap;
  try {
    snap = std::make_unique<Snapshot>();
    while (struct dirent* d = ::readdir(proc.get())) {
      char* end = nullptr;
      const unsigned long pid = std::strtoul(d->d_name, &end, 10);
      if (d->d_name[0] < '0' || d->d_name[0] > '9' || *end != '\0' || pid == 0 || pid > 0x7FFFFFFF) continue;
      PROCESSENTRY32 e;
      if (describeProcess(static_cast<pid_t>(pid), e)) snap->entries.push_back(e);
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = HandleNew(kSnapshotKind, snap.get(), closeSnapshot);
  if (h == nullptr) return INVALID_HANDLE_VALUE;
  snap.release();
  return h;
}

extern "C" BOOL Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) { return copyEntry(hSnapshot, lppe, true); }

extern "C" BOOL Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) { return copyEntry(hSnapshot, lppe, false); }

extern "C" HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL, DWORD dwProcessId) {
  if (dwProcessId == 0 || dwProcessId > 0x7FFFFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::unique_ptr<ProcessHandle> p(new (std::nothrow) ProcessHandle);
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  p->pid = static_cast<pid_t>(dwProcessId);
  p->access = dwDesiredAccess;
  p->pidfd.reset(openPidfd(p->pid));
  if (!p->pidfd.valid() && errno == ESRCH) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The permission check of a signal, and (without a pidfd) whether the
  // process exists at all. A handle for other rights than termination is
  // given also for a process the caller may not signal.
  if (signalProcess(*p, 0) != 0) {
    const int err = errno;
    const bool deniedOnly = err == EPERM && (dwDesiredAccess & PROCESS_TERMINATE) == 0;
    if (!deniedOnly) {
      if (err == ESRCH)
        SetLastError(ERROR_INVALID_PARAMETER);
      else
        setSignalError(err, p->pid);
      return nullptr;
    }
  }
  HANDLE h = HandleNew(kProcessKind, p.get(), closeProcess);
  if (h == nullptr) return nullptr;
  p.release();
  return h;
}

extern "C" BOOL TerminateProcess(HANDLE hProcess, UINT) {
  auto* p = static_cast<ProcessHandle*>(HandleLookup(hProcess, kProcessKind));
  if (p == nullptr) return FALSE;  // ERROR_INVALID_HANDLE
  if ((p->access & PROCESS_TERMINATE) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (signalProcess(*p, SIGKILL) != 0) {
    // An ended and reaped process is ESRCH; Windows denies access to it.
    setSignalError(errno == ESRCH ? EACCES : errno, p->pid);
    return FALSE;
  }
  return TRUE;
}

extern "C" DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(::getpid()); }

extern "C" DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr && nSize > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n < 0 || static_cast<size_t>(n) >= path.size()) {
    SetLastErrorFromErrno(n < 0 ? errno : ENAMETOOLONG, "readlink", "/proc/self/exe");
    return 0;
  }
  path.resize(static_cast<size_t>(n));
  if (path.size() + 1 > nSize) {
    if (nSize > 0) {
      std::memcpy(lpFilename, path.data(), nSize - 1);
      lpFilename[nSize - 1] = '\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

extern "C" DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  if (lpName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* v = std::getenv(lpName);
  if (v == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const size_t len = std::strlen(v);
  if (lpBuffer == nullptr || len + 1 > nSize) return static_cast<DWORD>(len + 1);
  std::memcpy(lpBuffer, v, len + 1);
  return static_cast<DWORD>(len);
}

extern "C" BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
  if (lpName == nullptr || *lpName == '\0' || std::strchr(lpName, '=') != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int rc = lpValue ? ::setenv(lpName, lpValue, 1) : ::unsetenv(lpName);
  if (rc != 0) {
    SetLastErrorFromErrno(errno, "setenv", lpName);
    return FALSE;
  }
  return TRUE;
}
