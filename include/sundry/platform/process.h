#pragma once
// Processes: snapshots of the running processes (Tool Help), opening and
// terminating a process.
//
// The process list comes from /proc: one entry per process (thread-group
// leader), taken when the snapshot is made. Processes that have ended but
// are not yet reaped by their parent (zombies) are left out: they no longer
// run. The executable name of an entry is the base name of the program file
// (/proc/<pid>/exe); where that link may not be read (another user's
// process), the base name of the first command-line word when it agrees
// with the kernel's short name, else the short name (/proc/<pid>/comm, at
// most 15 characters); kernel threads have only the short name.
//
// Handles are entries of the shared handle table (sync.h) and are closed
// with CloseHandle. All functions are thread-safe; a snapshot handle keeps
// its own position, so it serves one thread at a time.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#if defined(_WIN32)
#include <tlhelp32.h>
#else
#define TH32CS_SNAPHEAPLIST 0x00000001u
#define TH32CS_SNAPPROCESS 0x00000002u
#define TH32CS_SNAPTHREAD 0x00000004u
#define TH32CS_SNAPMODULE 0x00000008u

#define PROCESS_TERMINATE 0x0001u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u
#define PROCESS_ALL_ACCESS 0x001FFFFFu

// One process of a snapshot, laid out as the 32-bit Windows structure: the
// caller sets dwSize to sizeof(PROCESSENTRY32), 296, before the first call.
// th32DefaultHeapID is no longer used by Windows and is always 0 here; it is
// 32 bits wide so that the entry keeps the 32-bit size callers pass.
struct PROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;             // always 0
  DWORD th32ProcessID;        // the process id
  DWORD th32DefaultHeapID;    // always 0
  DWORD th32ModuleID;         // always 0
  DWORD cntThreads;           // threads of the process
  DWORD th32ParentProcessID;  // the parent's process id
  LONG pcPriClassBase;        // base priority: 4, 6, 8 (normal), 10 or 13 by the nice value
  DWORD dwFlags;              // always 0
  CHAR szExeFile[MAX_PATH];   // executable name, without a directory
};
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 has the 32-bit layout");
typedef PROCESSENTRY32* LPPROCESSENTRY32;

extern "C" {

// Takes a snapshot of the running processes. dwFlags must include
// TH32CS_SNAPPROCESS; heap, module and thread lists are not kept (their
// flags are ignored). th32ProcessID is ignored, as Windows does for process
// lists. Returns a handle for Process32First/Process32Next, closed with
// CloseHandle, or INVALID_HANDLE_VALUE with the last error set:
// ERROR_INVALID_PARAMETER without TH32CS_SNAPPROCESS; ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED, ... when /proc cannot be read;
// ERROR_NOT_ENOUGH_MEMORY when the handle table cannot grow. A process that
// ends while the snapshot is taken is left out.
SUNDRY_EXPORT HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);

// Fills *lppe with the first process of the snapshot and returns TRUE.
// FALSE with the last error set and *lppe unchanged: ERROR_BAD_LENGTH when
// lppe->dwSize is smaller than sizeof(PROCESSENTRY32); ERROR_NO_MORE_FILES
// when the snapshot is empty; ERROR_INVALID_HANDLE for a handle that is not
// an open snapshot; ERROR_INVALID_PARAMETER for a null lppe.
SUNDRY_EXPORT BOOL Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);

// Fills *lppe with the next process and returns TRUE; the errors of
// Process32First, ERROR_NO_MORE_FILES after the last entry.
SUNDRY_EXPORT BOOL Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);

// Opens a process for the rights in dwDesiredAccess (PROCESS_TERMINATE is
// the one that matters here). The handle holds on to this very process
// (a pidfd where the system has them), so a later TerminateProcess never
// reaches another process that took over the id. bInheritHandle is
// ignored. Returns the handle, closed with CloseHandle, or null with the
// last error set: ERROR_INVALID_PARAMETER when no process has that id (or
// it is 0); ERROR_ACCESS_DENIED when PROCESS_TERMINATE is asked for and the
// caller may not send the process a signal.
SUNDRY_EXPORT HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);

// Ends the process at once (SIGKILL, which it cannot catch or ignore).
// uExitCode cannot be given to a Linux process: its parent sees it killed by
// SIGKILL. Returns TRUE when the signal was sent; the process is gone soon
// after, not necessarily at return. FALSE with the last error set:
// ERROR_ACCESS_DENIED when the handle lacks PROCESS_TERMINATE, when the
// process may not be signalled, or when it has already ended and been
// reaped (as Windows reports for an ended process); ERROR_INVALID_HANDLE
// for a handle that is not an open process.
SUNDRY_EXPORT BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);

// The process id of the calling process, as the snapshot reports it in
// th32ProcessID. Never fails.
SUNDRY_EXPORT DWORD GetCurrentProcessId(void);

typedef void* HMODULE;

// The full path of the running program (hModule must be null: there are no
// other modules to name). Copies it, zero-terminated, into lpFilename and
// returns its length. A buffer that is too small gets as much as fits,
// zero-terminated; the result is then nSize and the last error
// ERROR_INSUFFICIENT_BUFFER. 0 with the last error set on failure
// (ERROR_MOD_NOT_FOUND for a module handle).
SUNDRY_EXPORT DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// The process environment. GetEnvironmentVariableA copies the value of
// lpName, zero-terminated, and returns its length; when nSize is too small
// it returns the size needed, terminator included, and leaves the buffer
// alone; 0 with ERROR_ENVVAR_NOT_FOUND for an unset variable.
// SetEnvironmentVariableA sets lpName to lpValue, or removes it when lpValue
// is null. The environment is the process's one: set it before starting
// threads that read it.
SUNDRY_EXPORT DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
SUNDRY_EXPORT BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue);
}
#endif  // _WIN32
