#pragma once
// CRegistryBase: one registry key named by machine, root and sub-key path.
//
// The common base of the registry object model. It validates and stores the
// coordinates, connects to the machine's registry, opens or creates the key
// with the access mask the derived class chose, holds the handles and keeps
// the last failure as a Win32 code and its system message text. Beside the
// objects stands one process-wide table of open key handles, closed at once
// by CloseAllRegistries.
//
// Handle policy: the object closes the key handle it opened, and the
// connection only when it made that connection itself. A connection handed
// in with setRootKey belongs to someone else and is never closed here.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/wintypes.h>

#include <memory>

// Map from a path text to an open key handle.
class SUNDRY_EXPORT CKeyMap : public CMap<CString, const char*, HKEY, HKEY> {
 public:
  CKeyMap();
};

class SUNDRY_EXPORT CRegistryBase {
 public:
  // Access masks of the derived classes: read only, and read and write.
  static constexpr REGSAM kAccessRead = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;                  // 9
  static constexpr REGSAM kAccessWrite = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS;  // 11
  // Longest key or value name, and longest key path, in characters.
  static constexpr int kMaxNameLength = 255;

  CRegistryBase();
  virtual ~CRegistryBase();

  // A copy takes every attribute. It holds handles of its own: an open key
  // and an owned connection are opened again for the copy, a connection
  // handed in by setRootKey is shared (neither object closes it), and the
  // error text is copied into a buffer of the copy's own. So no handle or
  // buffer is ever released twice.
  CRegistryBase(const CRegistryBase& other);
  CRegistryBase& operator=(const CRegistryBase& other);

  const CString& getMachine() const { return m_Machine; }
  const CString& getSubKey() const { return m_SubKey; }
  // The predefined root, not the open handle.
  HKEY getKey() const { return m_RootKey; }
  // The last component of the sub-key path, computed on first request.
  const CString& getLastKeyLevel();

  // Opens later keys relative to an already-open handle that this object
  // will never close.
  void setRootKey(HKEY rootKey);
  // Keep the key open between operations. Resetting the flag closes the key
  // (and an owned connection).
  virtual void setRemainOpen(BOOL remainOpen);

  // Deletes the key from the registry (it must have no sub-keys).
  BOOL removeKey();

  // Closes every handle in the process-wide table and empties it. TRUE when
  // every close succeeded (also for an empty table).
  static BOOL CloseAllRegistries();

  // Error record of the last failure: the Win32 code and its system text.
  DWORD getLastError() const { return m_LastError; }
  // The text of the last error, or "" when no error was recorded.
  const char* getErrorText() const { return m_ErrorText ? m_ErrorText.get() : ""; }
  BOOL isValid() const { return m_Valid; }
  BOOL isCreated() const { return m_Created; }
  BOOL isRemainOpen() const { return m_RemainOpen; }
  REGSAM getAccess() const { return m_Access; }
  HKEY getOpenKey() const { return m_Key; }
  HKEY getConnection() const { return m_Connection; }
  const CString& getRootKeyName() const { return m_RootKeyName; }

 protected:
  // Validates and stores the coordinates; sets m_Valid.
  void checkKeyValidity(const char* machine, HKEY rootKey, const char* subKey);
  // Connects when needed, then opens or creates m_SubKey; sets m_Valid.
  BOOL openRegistry();
  // Closes the key and, when owned, the connection. Always TRUE.
  BOOL closeRegistry();
  // Records an error code (0: the thread's last error) and its text.
  void setLastErrorMessage(DWORD code);

  // The process-wide table of open handles.
  static CKeyMap m_KeyCollection;

  CString m_Machine;
  HKEY m_RootKey;
  HKEY m_Connection;
  HKEY m_Key;
  CString m_RootKeyName;
  CString m_SubKey;
  CString m_LastKeyLevel;
  BOOL m_OwnsConnection;
  BOOL m_Valid;
  BOOL m_RemainOpen;
  BOOL m_Created;
  BOOL m_Create;
  REGSAM m_Access;
  std::unique_ptr<char[]> m_ErrorText;  // 256 bytes, allocated on the first error
  DWORD m_LastError;

 private:
  void buildRootKeyName();
  void copyFrom(const CRegistryBase& other);
};
