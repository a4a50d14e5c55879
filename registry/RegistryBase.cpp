// CRegistryBase: coordinates, connection, open/close policy and error record.

#include <sundry/registry/RegistryBase.h>

#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>

#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr DWORD kErrorTextSize = 256;

struct RootName {
  HKEY key;
  const char* name;
  bool remoteAllowed;
};

const RootName kRoots[] = {
    {HKEY_CLASSES_ROOT, "\\HKEY_CLASSES_ROOT", false},
    {HKEY_CURRENT_USER, "\\HKEY_CURRENT_USER", false},
    {HKEY_LOCAL_MACHINE, "\\HKEY_LOCAL_MACHINE", true},
    {HKEY_USERS, "\\HKEY_USERS", true},
    {HKEY_CURRENT_CONFIG, "\\HKEY_CURRENT_CONFIG", false},
    {HKEY_DYN_DATA, "\\HKEY_DYN_DATA", false},
};

const RootName* findRoot(HKEY key) {
  for (const RootName& r : kRoots)
    if (r.key == key) return &r;
  return nullptr;
}

}  // namespace

CKeyMap CRegistryBase::m_KeyCollection;

CKeyMap::CKeyMap() : CMap<CString, const char*, HKEY, HKEY>(10) { InitHashTable(11); }

CRegistryBase::CRegistryBase()
    : m_RootKey(nullptr),
      m_Connection(nullptr),
      m_Key(nullptr),
      m_OwnsConnection(FALSE),
      m_Valid(FALSE),
      m_RemainOpen(FALSE),
      m_Created(FALSE),
      m_Create(FALSE),
      m_Access(KEY_READ),
      m_LastError(0) {}

CRegistryBase::~CRegistryBase() { closeRegistry(); }

CRegistryBase::CRegistryBase(const CRegistryBase& other) : CRegistryBase() { copyFrom(other); }

CRegistryBase& CRegistryBase::operator=(const CRegistryBase& other) {
  if (this != &other) {
    closeRegistry();
    copyFrom(other);
  }
  return *this;
}

void CRegistryBase::copyFrom(const CRegistryBase& other) {
  m_Machine = other.m_Machine;
  m_RootKey = other.m_RootKey;
  m_RootKeyName = other.m_RootKeyName;
  m_SubKey = other.m_SubKey;
  m_LastKeyLevel = other.m_LastKeyLevel;
  m_OwnsConnection = other.m_OwnsConnection;
  m_Valid = other.m_Valid;
  m_RemainOpen = other.m_RemainOpen;
  m_Created = other.m_Created;
  m_Create = other.m_Create;
  m_Access = other.m_Access;
  m_LastError = other.m_LastError;
  if (other.m_ErrorText) {
    m_ErrorText.reset(new char[kErrorTextSize]);
    std::memcpy(m_ErrorText.get(), other.m_ErrorText.get(), kErrorTextSize);
  } else {
    m_ErrorText.reset();
  }
  // Handles: an owned connection and an open key are opened anew for the
  // copy; a connection handed in from outside is shared and never closed by
  // either object.
  m_Connection = nullptr;
  m_Key = nullptr;
  if (other.m_Connection != nullptr) {
    if (other.m_OwnsConnection) {
      HKEY connection = nullptr;
      if (RegConnectRegistryA(m_Machine.IsEmpty() ? nullptr : m_Machine.GetString(), m_RootKey,
                              &connection) == ERROR_SUCCESS)
        m_Connection = connection;
    } else {
      m_Connection = other.m_Connection;
    }
  }
  if (other.m_Key != nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(other.m_Key, nullptr, 0, m_Access, &key) == ERROR_SUCCESS) m_Key = key;
  }
}

const CString& CRegistryBase::getLastKeyLevel() {
  if (!m_LastKeyLevel.IsEmpty() || m_SubKey.IsEmpty()) return m_LastKeyLevel;
  int pos = m_SubKey.ReverseFind('\\');
  m_LastKeyLevel = pos < 0 ? m_SubKey : m_SubKey.Mid(pos + 1);
  return m_LastKeyLevel;
}

void CRegistryBase::setRootKey(HKEY rootKey) {
  m_Connection = rootKey;
  m_OwnsConnection = FALSE;
}

void CRegistryBase::setRemainOpen(BOOL remainOpen) {
  if (!remainOpen && m_RemainOpen) closeRegistry();
  m_RemainOpen = remainOpen;
}

BOOL CRegistryBase::removeKey() {
  // Deleting through the predefined root reaches the local registry only;
  // a key of another machine is deleted through this object's connection.
  HKEY base = (!m_Machine.IsEmpty() && m_Connection != nullptr) ? m_Connection : m_RootKey;
  if (!m_Machine.IsEmpty() && m_Connection == nullptr) {
    setLastErrorMessage(ERROR_BAD_NETPATH);
    return FALSE;
  }
  LONG rc = RegDeleteKeyA(base, m_SubKey);
  if (rc != ERROR_SUCCESS) {
    setLastErrorMessage(static_cast<DWORD>(rc));
    return FALSE;
  }
  if (m_Key != nullptr) {
    RegCloseKey(m_Key);
    m_Key = nullptr;
  }
  return TRUE;
}

BOOL CRegistryBase::CloseAllRegistries() {
  BOOL allClosed = TRUE;
  POSITION pos = m_KeyCollection.GetStartPosition();
  while (pos != nullptr) {
    CString path;
    HKEY key = nullptr;
    m_KeyCollection.GetNextAssoc(pos, path, key);
    if (RegCloseKey(key) != ERROR_SUCCESS) allClosed = FALSE;
  }
  m_KeyCollection.RemoveAll();
  return allClosed;
}

void CRegistryBase::checkKeyValidity(const char* machine, HKEY rootKey, const char* subKey) {
  // The texts are copied before any member changes, so that running out of
  // memory (bad_alloc) leaves the former coordinates whole and invalid,
  // never a new root with an old path.
  m_Valid = FALSE;
  const bool local = machine == nullptr || *machine == '\0';
  if (!local && rootKey != HKEY_LOCAL_MACHINE && rootKey != HKEY_USERS) return;
  CString newMachine = local ? CString() : CString(machine);
  if (findRoot(rootKey) == nullptr) {
    m_Machine = std::move(newMachine);
    return;
  }
  CString newSubKey = subKey != nullptr ? CString(subKey) : CString();
  m_Machine = std::move(newMachine);
  m_RootKey = rootKey;
  m_SubKey = std::move(newSubKey);
  m_Valid = TRUE;
}

void CRegistryBase::buildRootKeyName() {
  if (!m_Machine.IsEmpty()) {
    if (m_Machine[0] != '\\') m_Machine.Insert(0, '\\');
    if (m_Machine.GetLength() < 2 || m_Machine[1] != '\\') m_Machine.Insert(0, '\\');
    m_RootKeyName = m_Machine;
  } else {
    m_RootKeyName.Empty();
  }
  if (const RootName* root = findRoot(m_RootKey)) m_RootKeyName += root->name;
}

BOOL CRegistryBase::openRegistry() {
  m_Valid = FALSE;
  if (m_Connection == nullptr) {
    buildRootKeyName();
    HKEY connection = nullptr;
    LONG rc = RegConnectRegistryA(m_Machine.IsEmpty() ? nullptr : m_Machine.GetString(), m_RootKey, &connection);
    if (rc != ERROR_SUCCESS) {
      setLastErrorMessage(static_cast<DWORD>(rc));
      return FALSE;
    }
    m_Connection = connection;
    m_OwnsConnection = TRUE;
  }
  if (m_Key != nullptr) {
    RegCloseKey(m_Key);
    m_Key = nullptr;
  }
  LONG rc;
  if (m_Create == 1) {
    DWORD disposition = 0;
    char noClass[] = "";
    rc = RegCreateKeyExA(m_Connection, m_SubKey, 0, noClass, REG_OPTION_NON_VOLATILE, m_Access, nullptr, &m_Key,
                         &disposition);
    if (rc == ERROR_SUCCESS) {
      m_Valid = TRUE;
      if (disposition == REG_CREATED_NEW_KEY) m_Created = TRUE;
    }
  } else {
    rc = RegOpenKeyExA(m_Connection, m_SubKey, 0, m_Access, &m_Key);
    if (rc == ERROR_SUCCESS) m_Valid = TRUE;
  }
  if (!m_Valid) {
    m_Key = nullptr;
    setLastErrorMessage(static_cast<DWORD>(rc));
  }
  return m_Valid;
}

BOOL CRegistryBase::closeRegistry() {
  if (m_Key != nullptr) {
    RegCloseKey(m_Key);
    m_Key = nullptr;
  }
  if (m_Connection != nullptr && m_OwnsConnection) {
    RegCloseKey(m_Connection);
    m_Connection = nullptr;
  }
  return TRUE;
}

void CRegistryBase::setLastErrorMessage(DWORD code) {
  if (!m_ErrorText) {
    m_ErrorText.reset(new (std::nothrow) char[kErrorTextSize]);
    if (m_ErrorText) m_ErrorText[0] = '\0';
  }
  if (code == 0) code = GetLastError();
  m_LastError = code;
  // Without memory for the text the code alone is recorded.
  if (m_ErrorText &&
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     m_ErrorText.get(), kErrorTextSize, nullptr) == 0 &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    m_ErrorText[0] = '\0';
}
