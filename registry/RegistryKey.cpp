// CRegistryKey: loading a key tree and walking it.

#include <sundry/registry/RegistryKey.h>

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// The map key of a child: its name upper-cased in the ANSI code page.
CString upperName(const char* name) {
  CString key(name);
  char* buffer = key.GetBuffer(key.GetLength());
  _mbsupr(reinterpret_cast<unsigned char*>(buffer));
  key.ReleaseBuffer(-1);
  return key;
}

// Puts element into an owning map under name, deleting an element of that
// name it replaces. False when the map had no memory for a new entry: the
// caller still owns element.
template <class T, class MAP>
bool store(MAP& map, const CString& name, T* element) {
  T* previous = nullptr;
  if (map.Lookup(name, previous)) {
    delete previous;
    map.SetAt(name, element);
    return true;
  }
  map.SetAt(name, element);
  return map.Lookup(name, previous) && previous == element;
}

// Deletes every element of an owning map (the map itself is emptied by its
// caller).
template <class T, class MAP>
void deleteElements(MAP& map) {
  POSITION pos = map.GetStartPosition();
  while (pos != nullptr) {
    CString name;
    T* element = nullptr;
    map.GetNextAssoc(pos, name, element);
    delete element;
  }
}

}  // namespace

CRegistryKeys::CRegistryKeys() : CTypedPtrMap<CMapStringToPtr, CString, CRegistryKey*>(10) { InitHashTable(257); }

CRegistryKeys::~CRegistryKeys() { RemoveAll(); }

void CRegistryKeys::RemoveAll() {
  deleteElements<CRegistryKey>(*this);
  CTypedPtrMap<CMapStringToPtr, CString, CRegistryKey*>::RemoveAll();
}

CRegistryValues::CRegistryValues() : CTypedPtrMap<CMapStringToPtr, CString, CRegistryValue*>(10) {
  InitHashTable(257);
}

CRegistryValues::~CRegistryValues() { RemoveAll(); }

void CRegistryValues::RemoveAll() {
  deleteElements<CRegistryValue>(*this);
  CTypedPtrMap<CMapStringToPtr, CString, CRegistryValue*>::RemoveAll();
}

CRegistryKey::CRegistryKey()
    : m_Result(FALSE), m_ReadValues(FALSE), m_Depth(0), m_SubKeyPos(nullptr), m_ValuePos(nullptr) {}

CRegistryKey::CRegistryKey(const CRegistryKey&) : CRegistryKey() {}

CRegistryKey& CRegistryKey::operator=(const CRegistryKey&) { return *this; }

CRegistryKey::~CRegistryKey() {
  // Children first: they share this key's connection, which the base
  // destructor closes.
  m_SubKeys.RemoveAll();
  m_Values.RemoveAll();
}

BOOL CRegistryKey::initialize(const char* machine, HKEY rootKey, const char* subKey, short depth,
                              BOOL readValues, BOOL create, BOOL write) {
  try {
    return load(machine, rootKey, subKey, depth, readValues, create, write);
  } catch (const std::bad_alloc&) {
    // What was loaded stays; the key reports the failure.
    m_Result = FALSE;
    setLastErrorMessage(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL CRegistryKey::load(const char* machine, HKEY rootKey, const char* subKey, short depth, BOOL readValues,
                        BOOL create, BOOL write) {
  m_Create = create;
  m_Result = TRUE;
  m_Depth = depth;
  m_ReadValues = readValues;
  m_Access = (create || write) ? kAccessWrite : kAccessRead;
  checkKeyValidity(machine, rootKey, subKey);
  m_SubKeys.RemoveAll();
  m_Values.RemoveAll();
  m_SubKeyPos = nullptr;
  m_ValuePos = nullptr;
  if (!m_Valid) return FALSE;
  if (openRegistry() && !m_Created) {
    if (m_ReadValues) retrieveValues();
    if (m_Depth > 0) retrieveSubKeys();
  }
  return m_Valid && m_Result;
}

BOOL CRegistryKey::initialize(HKEY rootKey, const char* subKey, short depth, BOOL readValues, BOOL create,
                              BOOL write) {
  return initialize(nullptr, rootKey, subKey, depth, readValues, create, write);
}

BOOL CRegistryKey::reInitialize(int depth, BOOL write) {
  try {
    // Copies: initialize stores into the very members passed here.
    CString machine = m_Machine;
    CString subKey = m_SubKey;
    return initialize(machine, m_RootKey, subKey, static_cast<short>(depth), m_ReadValues, FALSE, write);
  } catch (const std::bad_alloc&) {
    m_Result = FALSE;
    setLastErrorMessage(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL CRegistryKey::retrieveValues() {
  DWORD count = 0, maxName = 0, maxData = 0;
  LONG rc = RegQueryInfoKeyA(m_Key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                             &maxData, nullptr, nullptr);
  m_LastError = static_cast<DWORD>(rc);
  if (rc != ERROR_SUCCESS || count == 0) return m_Result;

  std::vector<char> name;
  std::vector<unsigned char> data;
  try {
    name.resize(static_cast<size_t>(maxName) + 1);
    data.resize(static_cast<size_t>(maxData) + 1);
  } catch (const std::bad_alloc&) {
    m_LastError = ERROR_NOT_ENOUGH_MEMORY;
  }
  for (DWORD n = 0; n < count && m_LastError == 0; ++n) {
    DWORD nameLen = static_cast<DWORD>(name.size());
    DWORD dataLen = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegEnumValueA(m_Key, n, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
    m_LastError = static_cast<DWORD>(rc);
    if (rc != ERROR_SUCCESS) break;
    std::unique_ptr<CRegistryValue> value(new (std::nothrow) CRegistryValue);
    if (value == nullptr ||
        !value->initialize(m_Machine, m_RootKey, m_SubKey, name.data(), type, data.data(), dataLen, FALSE) ||
        !store(m_Values, upperName(name.data()), value.get())) {
      m_LastError = ERROR_NOT_ENOUGH_MEMORY;
      break;
    }
    value.release();
  }
  if (m_LastError != 0) {
    m_Result = FALSE;
    setLastErrorMessage(m_LastError);
  }
  return m_Result;
}

BOOL CRegistryKey::retrieveSubKeys() {
  DWORD count = 0, maxName = 0;
  LONG rc = RegQueryInfoKeyA(m_Key, nullptr, nullptr, nullptr, &count, &maxName, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
  m_LastError = static_cast<DWORD>(rc);
  DWORD pathError = 0;
  if (rc == ERROR_SUCCESS) {
    if (count == 0) return m_Result;
    char name[kMaxNameLength + 1];
    const DWORD nameSize = maxName + 1 < sizeof name ? maxName + 1 : static_cast<DWORD>(sizeof name);
    for (DWORD i = 0; i < count && m_LastError == 0; ++i) {
      DWORD nameLen = nameSize;
      FILETIME written{};
      rc = RegEnumKeyExA(m_Key, i, name, &nameLen, nullptr, nullptr, nullptr, &written);
      m_LastError = static_cast<DWORD>(rc);
      if (rc != ERROR_SUCCESS) break;
      // A key at a root has no path of its own: its children are named
      // without a leading separator.
      CString path;
      if (m_SubKey.IsEmpty())
        path = name;
      else
        path.Format("%s\\%s", m_SubKey.GetString(), name);
      if (path.GetLength() > kMaxNameLength) {
        // Longer paths do not fit the key path limit: the child is left
        // out rather than cut to a path that names another key.
        pathError = ERROR_FILENAME_EXCED_RANGE;
        continue;
      }
      std::unique_ptr<CRegistryKey> child(new (std::nothrow) CRegistryKey);
      if (child == nullptr) {
        m_LastError = ERROR_NOT_ENOUGH_MEMORY;
        continue;
      }
      child->setRootKey(m_Connection);
      child->initialize(m_Machine, m_RootKey, path, static_cast<short>(m_Depth - 1), m_ReadValues, FALSE, FALSE);
      if (!store(m_SubKeys, upperName(name), child.get())) {
        m_LastError = ERROR_NOT_ENOUGH_MEMORY;
        continue;
      }
      child.release();
    }
  }
  if (m_LastError == 0 && pathError != 0) m_LastError = pathError;
  if (m_LastError != 0) {
    m_Result = FALSE;
    setLastErrorMessage(m_LastError);
  }
  return m_Result;
}

BOOL CRegistryKey::getFirstSubKey(CRegistryKey*& key) {
  key = nullptr;
  m_SubKeyPos = m_SubKeys.IsEmpty() ? nullptr : m_SubKeys.GetStartPosition();
  return getNextSubKey(key);
}

BOOL CRegistryKey::getNextSubKey(CRegistryKey*& key) {
  key = nullptr;
  if (m_SubKeyPos == nullptr) return FALSE;
  CString name;
  m_SubKeys.GetNextAssoc(m_SubKeyPos, name, key);
  return TRUE;
}

BOOL CRegistryKey::getLastSubKey(CRegistryKey*& key) {
  key = nullptr;
  BOOL delivered = m_SubKeyPos == nullptr ? getFirstSubKey(key) : getNextSubKey(key);
  while (m_SubKeyPos != nullptr) getNextSubKey(key);
  return delivered;
}

BOOL CRegistryKey::getFirstValue(CRegistryValue*& value) {
  m_ValuePos = m_Values.IsEmpty() ? nullptr : m_Values.GetStartPosition();
  return getNextValue(value);
}

BOOL CRegistryKey::getNextValue(CRegistryValue*& value) {
  if (m_ValuePos == nullptr) return FALSE;
  CString name;
  m_Values.GetNextAssoc(m_ValuePos, name, value);
  return TRUE;
}

BOOL CRegistryKey::getLastValue(CRegistryValue*& value) {
  BOOL delivered = m_ValuePos == nullptr ? getFirstValue(value) : getNextValue(value);
  while (m_ValuePos != nullptr) getNextValue(value);
  return delivered;
}

BOOL CRegistryKey::getSubKeyByName(const char* name, CRegistryKey*& key) {
  key = nullptr;
  if (name == nullptr || std::strlen(name) > static_cast<size_t>(kMaxNameLength)) return FALSE;
  try {
    return m_SubKeys.Lookup(upperName(name), key);
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
}

BOOL CRegistryKey::getValueByName(const char* name, CRegistryValue*& value) {
  value = nullptr;
  if (name == nullptr || std::strlen(name) > static_cast<size_t>(kMaxNameLength)) return FALSE;
  try {
    return m_Values.Lookup(upperName(name), value);
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
}

BOOL CRegistryKey::removeSubKey(CRegistryKey* key) {
  if (key == nullptr) return FALSE;
  try {
    CString upper = upperName(key->getLastKeyLevel());
    CRegistryKey* stored = nullptr;
    if (!m_SubKeys.Lookup(upper, stored) || stored != key) return FALSE;
    m_SubKeys.RemoveKey(upper);
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  delete key;
  return TRUE;
}
