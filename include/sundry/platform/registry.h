#pragma once
// The Win32 registry functions over the library's embedded registry store.
//
// The store is one SQLite database file: SUNDRY_REGISTRY names it, else
// $XDG_DATA_HOME/sundry/registry.db, else ~/.local/share/sundry/registry.db.
// It is created with its roots on first use. HKEY_CLASSES_ROOT is a view of
// HKEY_LOCAL_MACHINE\Software\Classes, as on Windows.
//
// Every function returns its result code (ERROR_SUCCESS, 0, on success) and,
// as on Windows, never changes the thread's last error. Key and value names
// compare without regard to case (Windows-1252 folding, see codepage.h) and
// keep the case they were created with. Key name components are at most 255
// characters; the empty value name is the key's default value. Values are
// stored as given, byte for byte, whatever their type number.
//
// Durability: a write that returned ERROR_SUCCESS is committed to the
// database file before the call returns. Several threads and processes may
// use one store at once; they wait for each other instead of failing.
//
// A store file that is not a registry store, is corrupt or cannot be opened
// makes the calls fail with ERROR_BADDB, ERROR_REGISTRY_CORRUPT or
// ERROR_REGISTRY_IO_FAILED; it is never overwritten or re-created.
//
// Handles are process-wide and may be used from any thread; a handle must
// not be closed while another thread still uses it.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

extern "C" {

// Connects to the registry of a machine. Null, "", the local host name,
// "\\." and "\\localhost" (also without the backslashes) reach the local
// store; any other machine name gives ERROR_BAD_NETPATH. hKey must be
// HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT,
// HKEY_CURRENT_CONFIG or HKEY_DYN_DATA (else ERROR_INVALID_HANDLE). On
// success *phkResult is a new handle to that root, closed with RegCloseKey.
SUNDRY_EXPORT LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult);

// Opens the existing key lpSubKey below hKey (a root or an open handle).
// Null or "" opens a new handle to hKey itself. Returns ERROR_FILE_NOT_FOUND
// when the key does not exist, ERROR_INVALID_HANDLE for a bad hKey,
// ERROR_KEY_DELETED when hKey's key has been deleted, ERROR_BAD_PATHNAME for
// a path that starts with a backslash, ERROR_INVALID_PARAMETER for a null
// phkResult. *phkResult is set to null on failure.
SUNDRY_EXPORT LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                 PHKEY phkResult);

// Opens lpSubKey below hKey, creating it and any missing intermediate keys.
// *lpdwDisposition (when given) is REG_CREATED_NEW_KEY or
// REG_OPENED_EXISTING_KEY. Trailing and doubled backslashes are tolerated as
// on Windows; a leading one gives ERROR_BAD_PATHNAME. Creating below a
// handle opened without KEY_CREATE_SUB_KEY gives ERROR_ACCESS_DENIED when a
// key has to be made.
SUNDRY_EXPORT LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                   DWORD dwOptions, REGSAM samDesired,
                                   const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                   LPDWORD lpdwDisposition);

// Closes a handle. ERROR_INVALID_HANDLE for a handle that is not open.
// Closing a predefined root handle succeeds and does nothing.
SUNDRY_EXPORT LONG RegCloseKey(HKEY hKey);

// Reads a value. Any of lpType, lpData and lpcbData may be null: with a null
// lpData only the type and size are reported. When the buffer is too small,
// returns ERROR_MORE_DATA and stores the needed size in *lpcbData.
// ERROR_FILE_NOT_FOUND when the value does not exist; ERROR_INVALID_PARAMETER
// for lpData given without lpcbData; ERROR_ACCESS_DENIED when the handle
// lacks KEY_QUERY_VALUE.
SUNDRY_EXPORT LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                    LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

// Writes a value, replacing any value of that name; committed on success.
// ERROR_ACCESS_DENIED when the handle lacks KEY_SET_VALUE.
SUNDRY_EXPORT LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                  const BYTE* lpData, DWORD cbData);

// Deletes a value. ERROR_FILE_NOT_FOUND when it does not exist;
// ERROR_ACCESS_DENIED when the handle lacks KEY_SET_VALUE.
SUNDRY_EXPORT LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);

// Deletes the key lpSubKey below hKey. ERROR_ACCESS_DENIED when it has
// sub-keys; ERROR_FILE_NOT_FOUND when it does not exist. Open handles to the
// deleted key then fail with ERROR_KEY_DELETED.
SUNDRY_EXPORT LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

// Enumerates sub-keys by index (in the order of their names, case folded).
// *lpcchName is the buffer size in characters on entry and the name length
// without the terminator on return; ERROR_MORE_DATA when the name does not
// fit; ERROR_NO_MORE_ITEMS past the last one.
SUNDRY_EXPORT LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                 LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                 PFILETIME lpftLastWriteTime);

// Enumerates values by index (in the order of their names, case folded),
// with the name as for RegEnumKeyExA and the data as for RegQueryValueExA.
SUNDRY_EXPORT LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                 LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                 LPBYTE lpData, LPDWORD lpcbData);

// Counts and maximum lengths of a key's sub-keys and values (names in
// characters without the terminator, data in bytes). Any out-pointer may be
// null.
SUNDRY_EXPORT LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                    LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                    LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                    LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                    PFILETIME lpftLastWriteTime);
}

namespace sundry::platform {

// The path of the store file the registry functions use now.
SUNDRY_EXPORT const char* RegistryStorePath();

// How many handles made by RegOpenKeyExA, RegCreateKeyExA and
// RegConnectRegistryA are open in this process: for leak checks.
SUNDRY_EXPORT DWORD RegistryOpenHandleCount();

// Closes the store and forgets every open handle, so that the next call
// opens the store named by the environment anew. For tests and tools that
// switch stores; no handle may be in use meanwhile.
SUNDRY_EXPORT void RegistryResetForTesting();

}  // namespace sundry::platform
