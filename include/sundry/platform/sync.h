#pragma once
// Named mutexes and the kernel-object handle table.
//
// A named mutex is shared by every process of the user that opens the same
// name. It stands on POSIX record locks (fcntl) in the user's runtime directory:
//
//   $XDG_RUNTIME_DIR/sundry        when XDG_RUNTIME_DIR is set (absolute),
//   /tmp/sundry-<uid>              otherwise,
//
// created with mode 0700 when missing and refused (ERROR_ACCESS_DENIED) when
// it is a symbolic link, not a directory, owned by another user or open to
// group or others. The mutex named N is the file "mutex-<N encoded>" there:
// letters, digits, '.', '_' and '-' stand for themselves and every other
// byte (the "\" of "Global\name", '/', '%', spaces, ...) is written as %XX,
// so any name gives one plain file name, always the same one, and no two
// names share a file. An encoded name too long for a file name is replaced by
// "mutex-#" and the SHA-256 of the name in hex. The prefix "Local\" is
// dropped first, as a process's local namespace is the default one on
// Windows; "Global\" is kept, so "Global\X" and "X" are different mutexes.
// Names compare with case, as Windows' object names do. Lock files are never
// removed: removing one while another process opens it would split the lock.
// Nothing else in the process may open these files: closing any descriptor
// of a file drops the process's record locks on it.
//
// What "exists" means: a named mutex exists while at least one handle to it
// is open in any process. A process with handles to a mutex holds a POSIX
// read lock (fcntl) on its file through one descriptor that its handles
// share. CreateMutexA first tries a write lock: only when that succeeds (no
// other process has the mutex open) and this process has no handle to it
// either is the mutex new; the write lock then turns into a read lock in one
// step, so two processes can never both see a new mutex. The kernel drops a
// process's record locks when it dies, however it dies, so a mutex never
// outlives the last process that had a handle to it.
//
// Record locks belong to a process, not to a descriptor: a child made by
// fork holds none of its parent's locks, even while it still has copies of
// the descriptors, so a forked child never keeps its parent's mutexes
// existing, not even for the moment between fork and exec. In a forked child
// every mutex handle inherited from the parent is owned by nobody and keeps
// nothing existing; closing it is all that is left to do.
//
// Ownership belongs to a thread, as on Windows: the creating thread owns a
// mutex that it created with bInitialOwner, and only that thread can give it
// up with ReleaseMutex. A mutex that already existed is opened without
// ownership. There is no wait function: ownership never passes to another
// process, and whether a mutex exists is the only thing processes learn from
// one another. Handles to one mutex in one process share its ownership
// record, as handles to one Windows mutex do.
//
// Inheritance: a process's lock survives an exec of that same process only
// while the descriptor stays open, so the descriptor of a mutex with an
// inheritable handle (bInheritHandle) is kept open across exec, and the
// program that the process becomes keeps the mutex existing; otherwise exec
// closes it. Handles never pass to other processes: there is no counterpart
// of a child started with inherited handles.
//
// Handle values are small, never reused, and valid in every thread of the
// process. CloseHandle closes a handle of any kind: mutexes, process
// snapshots, processes and device lists.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>


#if !defined(_WIN32)
extern "C" {

// Creates or opens the named mutex lpName.
// Returns a new handle, closed with CloseHandle. The last error is then:
//   ERROR_SUCCESS        when the mutex did not exist: this call made it, and
//                        the calling thread owns it when bInitialOwner is set;
//   ERROR_ALREADY_EXISTS when it existed (a handle to it is open in this or
//                        another process): the handle opens it, without
//                        ownership whatever bInitialOwner says.
// A null or empty lpName makes an unnamed mutex, which never exists before.
// lpMutexAttributes may be null; only its bInheritHandle is used (see above).
// Returns null and sets the last error on failure: ERROR_FILENAME_EXCED_RANGE
// for a name longer than MAX_PATH characters, ERROR_ACCESS_DENIED for an
// unsafe runtime directory, ERROR_TIMEOUT when another process kept the
// mutex's write lock for more than ten seconds (a creator holds it only
// between two system calls, so this means a stopped process), and the code
// of a failing system call otherwise. Thread-safe.
SUNDRY_EXPORT HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);

// Gives up one level of the calling thread's ownership of the mutex.
// Returns TRUE; FALSE with ERROR_NOT_OWNER when the calling thread does not
// own it (also in a forked child, whose handles are owned by nobody), or with
// ERROR_INVALID_HANDLE when hMutex is not an open mutex handle. The handle
// stays open either way. Thread-safe.
SUNDRY_EXPORT BOOL ReleaseMutex(HANDLE hMutex);

// Closes a handle of any kind in the table. Returns TRUE; FALSE with
// ERROR_INVALID_HANDLE when hObject is not an open handle (null, already
// closed, or never issued). Closing a mutex handle does not release an
// ownership it carries; when it was the process's last handle to the mutex
// and no other process has one, the mutex ceases to exist. Thread-safe; a
// handle must not be closed while another thread still uses it.
SUNDRY_EXPORT BOOL CloseHandle(HANDLE hObject);

// Suspends the calling thread for at least dwMilliseconds milliseconds
// (a signal does not cut the pause short). Sleep(0) gives up the rest of
// the thread's time slice.
SUNDRY_EXPORT void Sleep(DWORD dwMilliseconds);
}
#endif  // !_WIN32
