#pragma once
// Win32 error codes, the thread's last error and the system message texts.
//
// One table lists every code the library can produce or record, with the
// number and the message text Windows has for it. The ERROR_* constants, the
// name look-up and FormatMessageA all come from it, so a code and its text
// never drift apart.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <cstdarg>

// X(name, number, text). Texts are those of the English Windows system
// message table, without the closing "\r\n" that FormatMessageA appends.
#define SUNDRY_ERROR_TABLE(X)                                                                       \
  X(ERROR_SUCCESS, 0, "The operation completed successfully.")                                      \
  X(ERROR_INVALID_FUNCTION, 1, "Incorrect function.")                                               \
  X(ERROR_FILE_NOT_FOUND, 2, "The system cannot find the file specified.")                          \
  X(ERROR_PATH_NOT_FOUND, 3, "The system cannot find the path specified.")                          \
  X(ERROR_TOO_MANY_OPEN_FILES, 4, "The system cannot open the file.")                               \
  X(ERROR_ACCESS_DENIED, 5, "Access is denied.")                                                    \
  X(ERROR_INVALID_HANDLE, 6, "The handle is invalid.")                                              \
  X(ERROR_NOT_ENOUGH_MEMORY, 8, "Not enough memory resources are available to process this command.") \
  X(ERROR_BAD_FORMAT, 11, "An attempt was made to load a program with an incorrect format.")   \
  X(ERROR_INVALID_DATA, 13, "The data is invalid.")                                                 \
  X(ERROR_OUTOFMEMORY, 14, "Not enough memory resources are available to complete this operation.") \
  X(ERROR_INVALID_DRIVE, 15, "The system cannot find the drive specified.")                         \
  X(ERROR_NOT_SAME_DEVICE, 17, "The system cannot move the file to a different disk drive.")        \
  X(ERROR_NO_MORE_FILES, 18, "There are no more files.")                                            \
  X(ERROR_WRITE_PROTECT, 19, "The media is write protected.")                                       \
  X(ERROR_NOT_READY, 21, "The device is not ready.")                                                \
  X(ERROR_BAD_COMMAND, 22, "The device does not recognize the command.")                            \
  X(ERROR_CRC, 23, "Data error (cyclic redundancy check).")                                         \
  X(ERROR_BAD_LENGTH, 24, "The program issued a command but the command length is incorrect.")      \
  X(ERROR_WRITE_FAULT, 29, "The system cannot write to the specified device.")                      \
  X(ERROR_READ_FAULT, 30, "The system cannot read from the specified device.")                      \
  X(ERROR_GEN_FAILURE, 31, "A device attached to the system is not functioning.")                   \
  X(ERROR_SHARING_VIOLATION, 32,                                                                    \
    "The process cannot access the file because it is being used by another process.")              \
  X(ERROR_LOCK_VIOLATION, 33,                                                                       \
    "The process cannot access the file because another process has locked a portion of the file.") \
  X(ERROR_HANDLE_EOF, 38, "Reached the end of the file.")                                           \
  X(ERROR_HANDLE_DISK_FULL, 39, "The disk is full.")                                                \
  X(ERROR_NOT_SUPPORTED, 50, "The request is not supported.")                                       \
  X(ERROR_BAD_NETPATH, 53, "The network path was not found.")                                       \
  X(ERROR_FILE_EXISTS, 80, "The file exists.")                                                      \
  X(ERROR_INVALID_PARAMETER, 87, "The parameter is incorrect.")                                     \
  X(ERROR_BROKEN_PIPE, 109, "The pipe has been ended.")                                             \
  X(ERROR_OPEN_FAILED, 110, "The system cannot open the device or file specified.")                 \
  X(ERROR_BUFFER_OVERFLOW, 111, "The file name is too long.")                                       \
  X(ERROR_DISK_FULL, 112, "There is not enough space on the disk.")                                 \
  X(ERROR_CALL_NOT_IMPLEMENTED, 120, "This function is not supported on this system.")              \
  X(ERROR_INSUFFICIENT_BUFFER, 122, "The data area passed to a system call is too small.")           \
  X(ERROR_INVALID_NAME, 123, "The filename, directory name, or volume label syntax is incorrect.")  \
  X(ERROR_MOD_NOT_FOUND, 126, "The specified module could not be found.")                           \
  X(ERROR_NEGATIVE_SEEK, 131, "An attempt was made to move the file pointer before the beginning of the file.") \
  X(ERROR_DIR_NOT_EMPTY, 145, "The directory is not empty.")                                        \
  X(ERROR_BAD_PATHNAME, 161, "The specified path is invalid.")                                      \
  X(ERROR_BUSY, 170, "The requested resource is in use.")                                           \
  X(ERROR_ALREADY_EXISTS, 183, "Cannot create a file when that file already exists.")               \
  X(ERROR_ENVVAR_NOT_FOUND, 203, "The system could not find the environment option that was entered.") \
  X(ERROR_FILENAME_EXCED_RANGE, 206, "The filename or extension is too long.")                      \
  X(ERROR_NO_DATA, 232, "The pipe is being closed.")                                                \
  X(ERROR_MORE_DATA, 234, "More data is available.")                                                \
  X(WAIT_TIMEOUT, 258, "The wait operation timed out.")                                             \
  X(ERROR_NO_MORE_ITEMS, 259, "No more data is available.")                                         \
  X(ERROR_DIRECTORY, 267, "The directory name is invalid.")                                         \
  X(ERROR_NOT_OWNER, 288, "Attempt to release mutex not owned by caller.")                          \
  X(ERROR_MR_MID_NOT_FOUND, 317,                                                                    \
    "The system cannot find message text for message number 0x%1 in the message file for %2.")      \
  X(ERROR_OPERATION_ABORTED, 995,                                                                   \
    "The I/O operation has been aborted because of either a thread exit or an application request.") \
  X(ERROR_IO_INCOMPLETE, 996, "Overlapped I/O event is not in a signaled state.")                   \
  X(ERROR_IO_PENDING, 997, "Overlapped I/O operation is in progress.")                              \
  X(ERROR_NOACCESS, 998, "Invalid access to memory location.")                                      \
  X(ERROR_INVALID_FLAGS, 1004, "Invalid flags.")                                                    \
  X(ERROR_BADDB, 1009, "The configuration registry database is corrupt.")                           \
  X(ERROR_BADKEY, 1010, "The configuration registry key is invalid.")                               \
  X(ERROR_CANTOPEN, 1011, "The configuration registry key could not be opened.")                    \
  X(ERROR_CANTREAD, 1012, "The configuration registry key could not be read.")                      \
  X(ERROR_CANTWRITE, 1013, "The configuration registry key could not be written.")                  \
  X(ERROR_REGISTRY_RECOVERED, 1014,                                                                 \
    "One of the files in the registry database had to be recovered by use of a log or alternate "   \
    "copy. The recovery was successful.")                                                           \
  X(ERROR_REGISTRY_CORRUPT, 1015,                                                                   \
    "The registry is corrupted. The structure of one of the files containing registry data is "     \
    "corrupted, or the system's memory image of the file is corrupted, or the file could not be "   \
    "recovered because the alternate copy or log was absent or corrupted.")                         \
  X(ERROR_REGISTRY_IO_FAILED, 1016,                                                                 \
    "An I/O operation initiated by the registry failed unrecoverably. The registry could not read " \
    "in, or write out, or flush, one of the files that contain the system's image of the registry.") \
  X(ERROR_NOT_REGISTRY_FILE, 1017,                                                                  \
    "The system has attempted to load or restore a file into the registry, but the specified file " \
    "is not in a registry file format.")                                                            \
  X(ERROR_KEY_DELETED, 1018, "Illegal operation attempted on a registry key that has been marked for deletion.") \
  X(ERROR_CHILD_MUST_BE_VOLATILE, 1021,                                                             \
    "Cannot create a stable subkey under a volatile parent key.")                                   \
  X(ERROR_IO_DEVICE, 1117, "The request could not be performed because of an I/O device error.")    \
  X(ERROR_DEVICE_NOT_CONNECTED, 1167, "The device is not connected.")                               \
  X(ERROR_NOT_FOUND, 1168, "Element not found.")                                                    \
  X(ERROR_CANCELLED, 1223, "The operation was canceled by the user.")                               \
  X(ERROR_PRIVILEGE_NOT_HELD, 1314, "A required privilege is not held by the client.")              \
  X(ERROR_INTERNAL_ERROR, 1359, "An internal error occurred.")                                       \
  X(ERROR_INVALID_THREAD_ID, 1444, "Invalid thread identifier.")                                   \
  X(ERROR_NO_SYSTEM_RESOURCES, 1450, "Insufficient system resources exist to complete the requested service.") \
  X(ERROR_TIMEOUT, 1460, "This operation returned because the timeout period expired.")            \
  X(ERROR_INVALID_USER_BUFFER, 1784, "The supplied user buffer is not valid for the requested operation.") \
  X(ERROR_RESOURCE_DATA_NOT_FOUND, 1812, "The specified image file did not contain a resource section.") \
  X(ERROR_RESOURCE_TYPE_NOT_FOUND, 1813, "The specified resource type cannot be found in the image file.") \
  X(ERROR_NOT_ENOUGH_QUOTA, 1816, "Not enough quota is available to process this command.")

#if !defined(_WIN32)
// On Windows the codes, flags and functions below are the system's own.
enum : DWORD {
#define SUNDRY_ERROR_ENUM(name, num, text) name = num,
  SUNDRY_ERROR_TABLE(SUNDRY_ERROR_ENUM)
#undef SUNDRY_ERROR_ENUM
};

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

extern "C" {

// Returns the calling thread's last error code. Every thread starts with 0.
// Platform functions that fail set it; the registry functions never touch it
// (they report their code as their result, as on Windows).
SUNDRY_EXPORT DWORD GetLastError(void);

// Sets the calling thread's last error code. Thread-local, so one thread's
// failure never shows up in another thread's error record.
SUNDRY_EXPORT void SetLastError(DWORD dwErrCode);

// Writes the system message text of dwMessageId into lpBuffer.
// Only FORMAT_MESSAGE_FROM_SYSTEM is supported, optionally with
// FORMAT_MESSAGE_IGNORE_INSERTS and a maximum-width mask of 0; lpSource and
// the arguments are ignored and dwLanguageId must be 0 or a neutral language.
// Returns the number of characters stored, without the terminating zero; the
// text ends in "\r\n" as Windows' system texts do.
// Failures return 0 and set the last error:
//   ERROR_INVALID_PARAMETER for other flags, a null buffer or a size of 0;
//   ERROR_MR_MID_NOT_FOUND when the code has no text (buffer left untouched);
//   ERROR_INSUFFICIENT_BUFFER when the text does not fit: the buffer then
//   holds as much of the text as fits, always zero-terminated.
SUNDRY_EXPORT DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                   DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                                   va_list* Arguments);
}
#endif  // !_WIN32

namespace sundry::platform {

// The symbolic name of an error code ("ERROR_FILE_NOT_FOUND"), or null for a
// code the table does not hold.
SUNDRY_EXPORT const char* ErrorName(DWORD code);

// The system message text of an error code without the closing "\r\n", or
// null for a code the table does not hold.
SUNDRY_EXPORT const char* ErrorText(DWORD code);

}  // namespace sundry::platform
