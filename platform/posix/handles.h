#pragma once
// The process's table of kernel-object handles (HANDLE values), shared by
// every stand-in that gives out such handles: named mutexes, process
// snapshots, processes and device lists. CloseHandle closes any of them
// through the closer its kind registered.
//
// Handle values are multiples of 4, as on Windows, never reused within a
// process, and valid in every thread. The table is thread-safe; one lock
// guards it, and it is held across fork so a child never sees it
// half-changed.

#include <sundry/platform/wintypes.h>

#include <mutex>

namespace sundry::platform::posix {

// The kinds of object the table holds. Every kind needs a value of its own,
// as HandleLookup tells kinds apart by it.
enum class HandleKind : int {
  Mutex = 1,
  ProcessSnapshot = 2,
  Process = 3,
  DeviceInfoSet = 4,
  CommPort = 5,
};

// Releases an object of the table. It runs with the table locked and must
// not call HandleNew, HandleLookup or CloseHandle. Returns TRUE, or FALSE
// with the last error set (the handle is gone from the table either way).
typedef BOOL (*HandleCloser)(void* object);

// Enters object into the table and returns its new handle; null with
// ERROR_NOT_ENOUGH_MEMORY when the table cannot grow, or with
// ERROR_INVALID_PARAMETER for a null object or closer.
HANDLE HandleNew(HandleKind kind, void* object, HandleCloser closer);

// The object of an open handle of the given kind; null with
// ERROR_INVALID_HANDLE for any other handle. The object stays valid until
// the handle is closed, so the caller must not close it meanwhile.
void* HandleLookup(HANDLE handle, HandleKind kind);

// For a stand-in whose own state must change together with the table (the
// named mutexes): the table's lock, and the two calls above for a caller
// that holds it.
std::mutex& HandleTableLock();
HANDLE HandleNewLocked(HandleKind kind, void* object, HandleCloser closer);
void* HandleLookupLocked(HANDLE handle, HandleKind kind);

// Registers a function that runs in a forked child while the table's lock
// is still held, before any other thread can use the table. At most one;
// the named mutexes use it to forget the parent's record locks.
void HandleSetForkChildHook(void (*hook)());

}  // namespace sundry::platform::posix
