#pragma once
// The Win32 registry functions over the library's embedded registry store.
//
// The store is one SQLite database file: the one RegistryUseStore chose,
// else the one SUNDRY_REGISTRY names, else $XDG_DATA_HOME/sundry/registry.db,
// else ~/.local/share/sundry/registry.db. It is created with its roots on
// first use. HKEY_CLASSES_ROOT is a view of HKEY_LOCAL_MACHINE\Software\Classes,
// as on Windows.
//
// Every function returns its result code (ERROR_SUCCESS, 0, on success) and,
// as on Windows, never changes the thread's last error. Key and value names
// compare without regard to case (Windows-1252 folding, see codepage.h) and
// keep the case they were created with. The empty value name is the key's
// default value. Values are stored as given, byte for byte, whatever their
// type number.
//
// Limits, those of the Windows registry (see the constants below): a key
// name is 1 to 255 printable characters, a key lies at most 512 levels below
// its root and its full path is at most 32,767 characters, a value name is at
// most 16,383 printable characters. Printable means no control character
// (0x00-0x1F, 0x7F), so that every name can be written to a .reg file and
// shown on a terminal as it is. HKEY_CLASSES_ROOT keys count at their place
// below HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
//
// Durability: a write that returned ERROR_SUCCESS is committed to the
// database file before the call returns, unless it is part of a transaction
// (RegistryBeginTransaction below), which commits all its writes at once.
// Several threads and processes may use one store at once; they wait for
// each other instead of failing.
//
// A store file that is not a registry store, is corrupt or cannot be opened
// makes the calls fail with ERROR_BADDB, ERROR_REGISTRY_CORRUPT or
// ERROR_REGISTRY_IO_FAILED; it is never overwritten or re-created.
//
// Handles are process-wide and may be used from any thread; a handle must
// not be closed while another thread still uses it. Handle values lie below
// 0x80000000, so they never meet the predefined keys; a closed value is not
// handed out again before the whole range of about 537 million values has
// been used, so a stale handle gives ERROR_INVALID_HANDLE. A handle keeps the
// access mask it was opened with: reading values and RegQueryInfoKeyA need
// KEY_QUERY_VALUE, writing and deleting values KEY_SET_VALUE, RegEnumKeyExA
// KEY_ENUMERATE_SUB_KEYS, else ERROR_ACCESS_DENIED. Predefined roots have
// every right. Creating and deleting keys check no handle right, as on
// Windows (where the key's security decides). Every function gives
// ERROR_INVALID_HANDLE for a null, closed or unknown handle and
// ERROR_KEY_DELETED for a handle whose key has been deleted, also when a key
// of the same name has been made again since.
//
// A child made by fork() while the store was open sets the inherited
// connection aside and opens the store anew on its first call.

#include <sundry/export.h>
#include <sundry/platform/error.h>
#include <sundry/platform/wintypes.h>

#if !defined(_WIN32)
extern "C" {

// Connects to the registry of a machine. Null, "", the local host name,
// "\\." and "\\localhost" (also without the backslashes) reach the local
// store; any other machine name gives ERROR_BAD_NETPATH. hKey must be
// HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT,
// HKEY_CURRENT_CONFIG or HKEY_DYN_DATA (else ERROR_INVALID_HANDLE). On
// success *phkResult is a new handle to that root, closed with RegCloseKey.
SUNDRY_EXPORT LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult);

// Opens the existing key lpSubKey below hKey (a root or an open handle).
// Null or "" gives hKey itself back when it is a predefined root, and a new
// handle to hKey's key otherwise. Doubled and trailing backslashes are
// skipped. Returns ERROR_FILE_NOT_FOUND when the key does not exist (also
// for a name longer than 255 characters), ERROR_INVALID_HANDLE for a bad
// hKey, ERROR_KEY_DELETED when hKey's key has been deleted,
// ERROR_BAD_PATHNAME for a path that starts with a backslash (below
// HKEY_CLASSES_ROOT itself the backslash is skipped, as on Windows),
// ERROR_INVALID_PARAMETER for a null phkResult. *phkResult is set to null on
// failure. ulOptions is ignored; samDesired becomes the handle's access
// mask (generic rights and MAXIMUM_ALLOWED are mapped to key rights).
SUNDRY_EXPORT LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                 PHKEY phkResult);

// Opens lpSubKey below hKey, creating it and any missing intermediate keys
// in one committed transaction. "" opens a new handle to hKey's key.
// *lpdwDisposition (when given) is REG_CREATED_NEW_KEY or
// REG_OPENED_EXISTING_KEY. lpClass (may be null) is stored as the class of a
// key that is made; an existing key keeps its class. Trailing and doubled
// backslashes are tolerated as on Windows; a leading one gives
// ERROR_BAD_PATHNAME (not below HKEY_CLASSES_ROOT itself). As on Windows,
// the parent handle's access mask is not checked. ERROR_INVALID_PARAMETER
// for a null lpSubKey or phkResult and for a name longer than 255
// characters; ERROR_NOT_SUPPORTED for REG_OPTION_VOLATILE and
// REG_OPTION_CREATE_LINK, which the store does not have. A name with a
// control character also gives ERROR_INVALID_PARAMETER, and a key that would
// lie deeper than kRegMaxKeyDepth levels or have a full path longer than
// kRegMaxKeyPathLength characters ERROR_FILENAME_EXCED_RANGE (nothing is
// made). *phkResult is set to null on failure.
SUNDRY_EXPORT LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                   DWORD dwOptions, REGSAM samDesired,
                                   const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                   LPDWORD lpdwDisposition);

// Closes a handle. ERROR_INVALID_HANDLE for null and for a handle that is
// not open (closed already included). Closing a predefined root handle
// succeeds and does nothing.
SUNDRY_EXPORT LONG RegCloseKey(HKEY hKey);

// Reads a value (null or "" names the default value). Any of lpType, lpData
// and lpcbData may be null: with a null lpData only the type and size are
// reported. When the buffer is too small, returns ERROR_MORE_DATA, stores the
// type and the needed size and leaves the buffer untouched. A string value
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) stored without its terminator gets
// one in the buffer when there is room; it is not counted in *lpcbData.
// ERROR_FILE_NOT_FOUND when the value does not exist (then *lpcbData is set
// to 0 if lpData is null, else left alone); ERROR_INVALID_PARAMETER for
// lpData given without lpcbData and for a non-null lpReserved;
// ERROR_ACCESS_DENIED when the handle lacks KEY_QUERY_VALUE.
SUNDRY_EXPORT LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                    LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

// Writes a value, replacing any value of that name (which keeps the case it
// was created with and its place in the enumeration); committed to the file
// on success. Exactly cbData bytes are stored, whatever dwType; nothing
// past lpData + cbData is ever read (Windows would also keep a string's
// terminator that follows cbData; the store does not look past the
// buffer). ERROR_NOACCESS for null lpData with a non-zero cbData;
// ERROR_INVALID_PARAMETER for a name longer than 16,383 characters or with a
// control character; ERROR_ACCESS_DENIED when the handle lacks KEY_SET_VALUE.
SUNDRY_EXPORT LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                  const BYTE* lpData, DWORD cbData);

// Deletes a value (committed on success). ERROR_FILE_NOT_FOUND when it does
// not exist; ERROR_ACCESS_DENIED when the handle lacks KEY_SET_VALUE.
SUNDRY_EXPORT LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);

// Deletes the key lpSubKey below hKey with its values ("" deletes hKey's own
// key; committed on success). ERROR_ACCESS_DENIED when it has sub-keys or
// is a root or one of the keys behind HKEY_CLASSES_ROOT;
// ERROR_FILE_NOT_FOUND when it does not exist; ERROR_INVALID_PARAMETER for
// a null lpSubKey. Open handles to the deleted key then fail with
// ERROR_KEY_DELETED.
SUNDRY_EXPORT LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

// Deletes the key lpSubKey below hKey with all its sub-keys and values; a
// null or empty lpSubKey deletes the sub-keys and values of hKey's own key
// and keeps the key. All or nothing, in one committed transaction: every
// key concerned is checked first, and when one of them may not be deleted
// (a root, or a key behind HKEY_CLASSES_ROOT: ERROR_ACCESS_DENIED) nothing
// is. For hKey's own key the handle needs DELETE, KEY_ENUMERATE_SUB_KEYS and
// KEY_QUERY_VALUE, and KEY_SET_VALUE when the key has values, else
// ERROR_ACCESS_DENIED (as on Windows). ERROR_FILE_NOT_FOUND when lpSubKey
// does not exist. Open handles to the deleted keys then fail with
// ERROR_KEY_DELETED.
SUNDRY_EXPORT LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);

// Enumerates sub-keys by index, in the order of their upper-cased names.
// *lpcchName is the buffer size in characters on entry and the name length
// without the terminator on return; ERROR_MORE_DATA when the name (or the
// class, when lpClass is given) does not fit, buffers and counts untouched;
// ERROR_NO_MORE_ITEMS past the last one. ERROR_INVALID_PARAMETER for a null
// lpName or lpcchName, lpClass without lpcchClass, or a non-null lpReserved.
//
// Both enumerations read the key in batches: going up by one from index 0
// costs one look-up per batch. Changes made by this process are always seen
// at once; changes made meanwhile by another process are seen from the next
// batch or the next enumeration from index 0 (on Windows, indexes shift
// under concurrent changes all the same).
SUNDRY_EXPORT LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                 LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                 PFILETIME lpftLastWriteTime);

// Enumerates values by index, in the order they were created (as Windows
// does; replacing a value keeps its place), with the name as for
// RegEnumKeyExA and the data as for RegQueryValueExA. When the name does not
// fit, ERROR_MORE_DATA with both buffers and *lpcchValueName untouched, but
// *lpType and *lpcbData (the data size) stored. ERROR_INVALID_PARAMETER for
// a null lpValueName or lpcchValueName, lpData without lpcbData, or a
// non-null lpReserved.
SUNDRY_EXPORT LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                 LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                 LPBYTE lpData, LPDWORD lpcbData);

// Counts and maximum lengths of a key's sub-keys and values (names in
// characters without the terminator, data in bytes), the key's class and its
// last write time (FILETIME, changed by every write to the key or its list of
// sub-keys). Any out-pointer may be null. The class is cut to fit *lpcchClass
// (terminated; ERROR_MORE_DATA, *lpcchClass = characters copied); a buffer of
// 0 characters is left alone. There are no security descriptors:
// *lpcbSecurityDescriptor is 0. ERROR_INVALID_PARAMETER for lpClass without
// lpcchClass or a non-null lpReserved.
SUNDRY_EXPORT LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                    LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                    LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                    LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                    PFILETIME lpftLastWriteTime);
}
#endif  // !_WIN32

namespace sundry::platform {

// The limits of names and paths, as in the Windows registry.
constexpr size_t kRegMaxKeyNameLength = 255;      // characters of one key name
constexpr size_t kRegMaxKeyDepth = 512;           // levels below the root key
constexpr size_t kRegMaxKeyPathLength = 32767;    // characters of the full path, root name included
constexpr size_t kRegMaxValueNameLength = 16383;  // characters of a value name

// Whether RegCreateKeyExA would accept the key subKey below the predefined
// key root (its names and place, not whether it exists): ERROR_SUCCESS,
// ERROR_INVALID_PARAMETER for a name longer than 255 characters or with a
// control character, ERROR_FILENAME_EXCED_RANGE for a key too deep or a
// path too long, ERROR_BAD_PATHNAME for a leading backslash,
// ERROR_INVALID_HANDLE when root is not a predefined key. Doubled and
// trailing backslashes are skipped, as by the registry functions.
SUNDRY_EXPORT LONG RegistryCheckKeyPath(HKEY root, const char* subKey);

// Whether RegSetValueExA would accept the value name (null: the default
// value): ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a name longer than
// 16,383 characters or with a control character.
SUNDRY_EXPORT LONG RegistryCheckValueName(const char* name);

// Transactions. RegistryBeginTransaction makes every registry write of the
// calling thread from now on part of one transaction, which
// RegistryCommitTransaction commits to the store file at once and
// RegistryRollbackTransaction undoes; if the process ends first, none of the
// writes is kept. Meanwhile the calling thread sees its own writes, the
// registry calls of other threads in this process wait until the
// transaction ends, and writers in other processes wait as for any write.
// Transactions nest: an inner one commits into the outer one or undoes only
// its own writes. A failed write inside a transaction undoes only that
// write. Handles opened meanwhile to keys that a rollback removes answer
// ERROR_KEY_DELETED. Commit and rollback give ERROR_INVALID_FUNCTION when the
// thread has no transaction open; a commit that fails
// (ERROR_REGISTRY_IO_FAILED, ...) has kept nothing of that transaction. The
// thread must end every transaction it begins: until then the other threads'
// registry calls wait.
SUNDRY_EXPORT LONG RegistryBeginTransaction();
SUNDRY_EXPORT LONG RegistryCommitTransaction();
SUNDRY_EXPORT LONG RegistryRollbackTransaction();

// Makes the registry functions of this process use the store file at path
// from now on, in place of the one the environment names; null or "" goes
// back to the environment's. The store in use is closed and the new one is
// opened (and created when missing) by the next registry call, whose result
// reports a file that cannot be used. ERROR_BUSY, with nothing changed,
// while a handle made by RegOpenKeyExA, RegCreateKeyExA or
// RegConnectRegistryA is open or this thread has a transaction open: they
// belong to the store in use. While another thread has a transaction open,
// the call waits for its end, as every registry call does.
SUNDRY_EXPORT LONG RegistryUseStore(const char* path);

// The path of the store file the registry functions use now.
SUNDRY_EXPORT const char* RegistryStorePath();

}  // namespace sundry::platform
