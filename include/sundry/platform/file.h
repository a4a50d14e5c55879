#pragma once
// Files: buffered streams opened with the C run-time's mode strings, the
// current directory, and a durable replacement of a whole file.
//
// A stream stands for the run-time's FILE: it is opened with a mode string
// ("r", "w+b", "r+bc", ...), reads through a buffer, and keeps one position
// for reading and writing alike, so reads and writes may follow each other
// without a seek in between. Writes are handed to the system at once (a
// process that is killed loses nothing it wrote); a flush of a stream opened
// with the letter c in its mode commits the written data to the disk, so
// that it also survives a crash of the system or a power loss.
//
// Paths may separate their components with "\" or "/": a backslash is a
// separator here as it is on Windows (so a Linux name that holds a
// backslash cannot be reached through these functions), as with the file
// functions of fileops.h.
//
// Streams and replacements are made on regular files only: a path that
// names a directory, a device, a FIFO or a socket is refused with
// ERROR_ACCESS_DENIED (as Windows refuses to open a directory as a file),
// without waiting for a peer and without ever putting a file in its place.
//
// Every function that fails sets the thread's last error (GetLastError) to
// the Win32 code of the failure. A stream serves one thread at a time: its
// position and buffer are not locked, and two threads using one stream at
// once would mix their positions. Different streams, also on the same file,
// may be used from different threads; a stream does not see another
// stream's writes to ranges it already holds in its buffer until it is
// flushed.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <cstddef>

#if !defined(_WIN32)
// Origins of StreamSeek, with Win32's values (the same as SEEK_SET,
// SEEK_CUR and SEEK_END).
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

// Timeout of StreamOpenLocked that never runs out, with Win32's value.
#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif

// Dispositions of StreamCreateDurably and CreateFileA, with Win32's values.
#ifndef OPEN_EXISTING
#define OPEN_EXISTING 3u
#endif
#ifndef CREATE_NEW
#define CREATE_NEW 1u
#endif
#ifndef CREATE_ALWAYS
#define CREATE_ALWAYS 2u
#endif

extern "C" {

// Copies the process's current directory, zero-terminated, into lpBuffer.
// Returns the number of characters stored, without the terminating zero.
// When nBufferLength is too small (lpBuffer may then be null) it returns the
// size needed, terminating zero included, and leaves the buffer untouched.
// Returns 0 and sets the last error when the directory cannot be determined
// (for example ERROR_FILE_NOT_FOUND when it has been removed).
SUNDRY_EXPORT DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);

// Handle-based file functions. Only communications ports are opened this
// way (see comm.h for the names, the locking and the time-outs); files are
// reached through the streams below. A handle is closed with CloseHandle.
//
// CreateFileA opens the port lpFileName for GENERIC_READ | GENERIC_WRITE
// with dwShareMode 0 and OPEN_EXISTING, as Windows requires for a port; the
// security attributes, flags and template are ignored (no overlapped I/O).
// Returns the handle, or INVALID_HANDLE_VALUE with the last error:
// ERROR_FILE_NOT_FOUND (no such port or device), ERROR_ACCESS_DENIED (the
// port is in use, or may not be opened), ERROR_NOT_SUPPORTED (not a
// terminal: a regular file, say), ERROR_INVALID_PARAMETER (other access,
// sharing or disposition, or a null name).
SUNDRY_EXPORT HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                 LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                 DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

// Reads up to nNumberOfBytesToRead bytes, waiting as the port's time-outs
// say (comm.h). Returns TRUE with the count in *lpNumberOfBytesRead (0 when
// the time-outs ran out first, or for a count of 0); FALSE with the count
// of bytes read before the failure and the last error:
// ERROR_DEVICE_NOT_CONNECTED when the line has hung up (the other side of a
// pseudo-terminal closed, a modem dropped the line), ERROR_INVALID_HANDLE,
// ERROR_INVALID_PARAMETER (null buffer or count pointer, or an lpOverlapped),
// or the system's code.
SUNDRY_EXPORT BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                            LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);

// Writes nNumberOfBytesToWrite bytes, waiting for room at most as the port's
// write time-outs say. Returns TRUE with the count in *lpNumberOfBytesWritten,
// which is below the count asked for only when the time-out ran out (as on
// Windows); FALSE with the count written before the failure and the last
// error: ERROR_DEVICE_NOT_CONNECTED (hung up), ERROR_INVALID_HANDLE,
// ERROR_INVALID_PARAMETER, or the system's code.
SUNDRY_EXPORT BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                             LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
}
#endif  // !_WIN32

namespace sundry::platform {

struct FileStream;

// Opens path as a stream. The mode string is the run-time's: "r" (read an
// existing file), "w" (create or cut to length 0, write), "a" (create or
// open, every write goes to the end), each optionally followed by "+" (read
// and write). Then, in any order and each at most once: "b" and "t" (binary
// and text: the same on this system, no line ends are translated), "c"
// (commit on flush: StreamFlush makes the written data durable), "n" (no
// commit: the default) and, with "w", "x" (fail with ERROR_ALREADY_EXISTS
// when the file exists). With "c", a mode that may create the file ("w", "a")
// also commits the file's entry in its directory before returning.
// Returns the new stream, positioned at the start (at the end for "a"), or
// null with the last error set: ERROR_INVALID_PARAMETER for a null argument
// or a mode string outside the above; ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND for a missing file ("r") or directory;
// ERROR_ACCESS_DENIED for a file the process may not open that way and for
// a path that is not a regular file (directory, device, FIFO, socket: no
// such path is opened for writing, cut, or waited on);
// ERROR_TOO_MANY_OPEN_FILES, ERROR_ALREADY_EXISTS and others as the system
// reports them.
SUNDRY_EXPORT FileStream* StreamOpen(const char* path, const char* mode);

// Opens the existing file path as StreamOpen does, with an "r+" mode (read
// and write, no creation, no cut: anything else gives
// ERROR_INVALID_PARAMETER), and gives the new stream an exclusive lock on
// the file, so that one stream at a time, in this process or any other,
// holds it. While another stream holds the lock, the call waits for it,
// at most dwMilliseconds (0: no wait; INFINITE: no limit); waiters get the
// lock in turn, so that a stream that lets go and locks again at once does
// not shut the others out. The lock is the stream's own: it is not
// released when another descriptor or stream of the same file is closed,
// it belongs to no other stream of this process, and it goes when the
// stream is closed (or the process ends, however it ends). A child made by
// fork shares the parent's open streams and with them their locks, until
// both have closed them; a child opening the file itself waits like any
// other process. Streams opened otherwise (StreamOpen) do not look at the
// lock. The file the stream holds is the one that path names once the lock
// is held: a file renamed over path while the call waited is opened and
// waited for in its turn, within the same time limit.
// Returns the locked stream, positioned at the start, or null with the last
// error set: ERROR_LOCK_VIOLATION when another stream still held the lock
// when the time ran out; ERROR_NOT_SUPPORTED when the file system has no
// locks; otherwise as StreamOpen.
SUNDRY_EXPORT FileStream* StreamOpenLocked(const char* path, const char* mode, DWORD dwMilliseconds);

// Reads up to size bytes at the stream's position into buffer and moves the
// position past them. Returns the number of bytes read. A count below size
// means the end of the file was reached (last error ERROR_HANDLE_EOF) or the
// read failed (last error as the system reports it, ERROR_ACCESS_DENIED for a
// stream opened without read access, ERROR_INVALID_HANDLE for a null
// stream); buffer then holds the bytes that were read.
SUNDRY_EXPORT size_t StreamRead(FileStream* stream, void* buffer, size_t size);

// Writes size bytes from data at the stream's position (at the end of the
// file for "a" modes) and moves the position past them; writing beyond the
// end of the file extends it, the gap reading as zero bytes. Returns the
// number of bytes written; a count below size means the write failed, with
// the last error set (ERROR_DISK_FULL, ERROR_ACCESS_DENIED for a stream
// opened without write access, ERROR_INVALID_HANDLE for a null stream, ...).
// The bytes that were written stay in the file.
SUNDRY_EXPORT size_t StreamWrite(FileStream* stream, const void* data, size_t size);

// Moves the stream's position to offset counted from origin (FILE_BEGIN,
// FILE_CURRENT or FILE_END). A position beyond the end of the file is
// allowed. Returns TRUE, or FALSE with the position unchanged and the last
// error ERROR_NEGATIVE_SEEK for a position before the start,
// ERROR_INVALID_PARAMETER for another origin, ERROR_INVALID_HANDLE for a
// null stream.
SUNDRY_EXPORT BOOL StreamSeek(FileStream* stream, LONGLONG offset, DWORD origin);

// The stream's position, or -1 with ERROR_INVALID_HANDLE for a null stream.
SUNDRY_EXPORT LONGLONG StreamTell(FileStream* stream);

// The current length of the stream's file in bytes, or -1 with the last
// error set.
SUNDRY_EXPORT LONGLONG StreamSize(FileStream* stream);

// Commits the stream: in commit mode ("c") every byte written since the last
// commit is made durable (fdatasync) before it returns; in other modes there
// is nothing to do, written data already being with the system. Returns
// TRUE, or FALSE with the last error set when the commit failed (the data
// must then be taken as not durable).
SUNDRY_EXPORT BOOL StreamFlush(FileStream* stream);

// Flushes as StreamFlush, closes the file and frees the stream, whatever
// the outcome. Returns FALSE with the last error set when the commit or the
// close failed, TRUE otherwise. A null stream gives FALSE and
// ERROR_INVALID_HANDLE.
SUNDRY_EXPORT BOOL StreamClose(FileStream* stream);

// Replaces the whole content of the file path with size bytes from data so
// that a crash at any moment leaves either the old file or the new one,
// never a mixture or a cut file: the data is written to a new file beside
// path, committed, renamed over path, and the directory is committed. A
// symbolic link at path is followed (the file it points to is replaced; a
// link that points nowhere is itself replaced by the file); an existing
// file's permission bits (read, write, execute for owner, group and
// others) are kept, a new file gets the default ones. Only a regular file
// is replaced: when path is, or links to, a directory, a device, a FIFO or
// a socket, nothing is written and the result is ERROR_ACCESS_DENIED.
// Returns TRUE when the new content is in place and durable. FALSE sets the
// last error; the file beside is then removed and path keeps its former
// content, unless only the final commit of the directory failed (the new
// content is then in place but may not survive a crash).
// Safe to call from several threads, also for the same path (the last
// replacement wins).
SUNDRY_EXPORT BOOL ReplaceFileDurably(const char* path, const void* data, size_t size);

// Puts a new file holding size bytes from data at path, as
// ReplaceFileDurably does (written beside, committed, then moved into
// place, the directory committed; links followed; only a regular file
// replaced), and returns a stream open on it for reading and writing in
// commit mode ("r+bc"), holding the exclusive lock of StreamOpenLocked. The
// lock is taken before the file appears at path, so no other stream can
// hold it first. dwCreationDisposition CREATE_NEW puts the file in place
// only where no file is: when one exists, or appears meanwhile, nothing is
// changed and the result is ERROR_FILE_EXISTS; CREATE_ALWAYS replaces an
// existing regular file (ERROR_ACCESS_DENIED for anything else at path).
// Returns the stream with the last error ERROR_SUCCESS when the file is in
// place and durable; the stream with the last error set to the failure
// when the file is in place but the final commit of the directory failed
// (the new file may then not survive a crash); null with the last error
// set when nothing was put in place (path is as before, the file beside
// removed).
SUNDRY_EXPORT FileStream* StreamCreateDurably(const char* path, const void* data, size_t size,
                                              DWORD dwCreationDisposition);

// Removes the files that ReplaceFileDurably and StreamCreateDurably left
// beside path (links followed as they follow them) because their process
// died before moving them into place. Files beside other paths, files of a
// process that still runs, and every other file are left alone. A process
// is known by its number: one that runs in another PID namespace on the
// same directory looks dead and loses its file beside, and with it its
// replacement. Returns the number of files removed; failures (a directory
// that cannot be read, a file that cannot be removed) are skipped and do
// not change the last error.
SUNDRY_EXPORT DWORD RemoveAbandonedReplacements(const char* path);

}  // namespace sundry::platform
