// CRegistryValue: reading, creating, writing and comparing one value.

#include <sundry/registry/RegistryValue.h>

#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>

#include "platform/framework/coding.h"

#include <cstring>
#include <new>

CRegistryValue::CRegistryValue() : m_State(0), m_Type(0), m_Size(0) {}

CRegistryValue::~CRegistryValue() = default;

CRegistryValue::CRegistryValue(const CRegistryValue& other)
    : CRegistryBase(other), m_ValueName(other.m_ValueName), m_State(other.m_State), m_Type(other.m_Type),
      m_Size(other.m_Size) {
  resetValue(other.m_Data.get());
}

CRegistryValue& CRegistryValue::operator=(const CRegistryValue& other) {
  if (this != &other) {
    CRegistryBase::operator=(other);
    m_ValueName = other.m_ValueName;
    m_State = other.m_State;
    m_Type = other.m_Type;
    m_Size = other.m_Size;
    resetValue(other.m_Data.get());
  }
  return *this;
}

BOOL CRegistryValue::initialize(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                                DWORD defaultValue, BOOL create, BOOL write) {
  unsigned char bytes[4];
  sundry::platform::EncodeFixed32(bytes, defaultValue);
  return initAttributes(machine, rootKey, subKey, valueName, bytes, REG_DWORD, 4, create, write);
}

BOOL CRegistryValue::initialize(HKEY rootKey, const char* subKey, const char* valueName, DWORD defaultValue,
                                BOOL create, BOOL write) {
  return initialize(nullptr, rootKey, subKey, valueName, defaultValue, create, write);
}

BOOL CRegistryValue::initialize(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                                const char* defaultString, BOOL create, BOOL write) {
  // The default text is staged with its terminating zero.
  DWORD size = defaultString ? static_cast<DWORD>(std::strlen(defaultString) + 1) : 0;
  return initAttributes(machine, rootKey, subKey, valueName, reinterpret_cast<const unsigned char*>(defaultString),
                        REG_SZ, size, create, write);
}

BOOL CRegistryValue::initialize(HKEY rootKey, const char* subKey, const char* valueName, const char* defaultString,
                                BOOL create, BOOL write) {
  return initialize(nullptr, rootKey, subKey, valueName, defaultString, create, write);
}

BOOL CRegistryValue::initialize(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                                const unsigned char* defaultData, DWORD size, BOOL create, BOOL write) {
  return initAttributes(machine, rootKey, subKey, valueName, defaultData, REG_BINARY, defaultData ? size : 0, create,
                        write);
}

BOOL CRegistryValue::initialize(HKEY rootKey, const char* subKey, const char* valueName,
                                const unsigned char* defaultData, DWORD size, BOOL create, BOOL write) {
  return initialize(nullptr, rootKey, subKey, valueName, defaultData, size, create, write);
}

BOOL CRegistryValue::initialize(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                                DWORD type, unsigned char* data, DWORD size, BOOL writable) {
  // The object must hold no open handle afterwards: close what it holds.
  closeRegistry();
  m_Machine = machine ? machine : "";
  m_RootKey = rootKey;
  m_Connection = nullptr;
  m_Key = nullptr;
  m_RootKeyName.Empty();
  m_SubKey = subKey ? subKey : "";
  m_Valid = TRUE;
  m_RemainOpen = FALSE;
  m_Created = FALSE;
  m_Create = FALSE;
  m_Access = writable ? kAccessWrite : kAccessRead;
  m_ValueName = valueName ? valueName : "";
  m_State = 9;
  m_Type = type;
  m_Size = data ? size : 0;
  return resetValue(data);
}

BOOL CRegistryValue::initAttributes(const char* machine, HKEY rootKey, const char* subKey, const char* valueName,
                                    const unsigned char* defaultData, DWORD type, DWORD size, BOOL create,
                                    BOOL write) {
  m_ValueName = valueName ? valueName : "";
  m_Type = type;
  m_Size = size;
  m_Create = create;
  m_Access = (create || write) ? kAccessWrite : kAccessRead;
  if (defaultData != nullptr) m_State = resetValue(defaultData) ? 1 : 0;
  checkKeyValidity(machine, rootKey, subKey);
  if (!m_Valid) return FALSE;
  if (openRegistry()) {
    retrieveValue();
    if (!m_RemainOpen) closeRegistry();
  }
  if (!m_Valid) return FALSE;
  return m_State != 0;
}

BOOL CRegistryValue::retrieveValue() {
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(m_Key, m_ValueName, nullptr, &type, nullptr, &size);
  m_LastError = static_cast<DWORD>(rc);
  if (m_Create && (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_INVALID_PARAMETER)) {
    LONG wrc = RegSetValueExA(m_Key, m_ValueName, 0, m_Type, m_Data.get(), m_Size);
    if (wrc != ERROR_SUCCESS) {
      setLastErrorMessage(static_cast<DWORD>(wrc));
      m_State = 0;
      return FALSE;
    }
    m_LastError = 0;
    m_State = 3;
    return TRUE;
  }
  m_State = 0;
  if (rc != ERROR_SUCCESS) {
    setLastErrorMessage(static_cast<DWORD>(rc));
    return FALSE;
  }
  m_Type = type;
  m_Size = size;
  m_Data.reset();
  if (m_Size > 0) {
    m_Data.reset(new (std::nothrow) unsigned char[m_Size + 4]);
    if (!m_Data) {
      m_Size = 0;
      setLastErrorMessage(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    std::memset(m_Data.get(), 0, m_Size + 4);
    DWORD got = m_Size;
    rc = RegQueryValueExA(m_Key, m_ValueName, nullptr, &m_Type, m_Data.get(), &got);
    if (rc != ERROR_SUCCESS) {
      // The value changed size between the two reads, or went away.
      setLastErrorMessage(static_cast<DWORD>(rc));
      return FALSE;
    }
    m_Size = got;
  } else if (m_Type != REG_BINARY) {
    return FALSE;
  }
  m_State = 2;
  return TRUE;
}

BOOL CRegistryValue::resetValue(const unsigned char* data) {
  m_Data.reset();
  if (m_Size == 0) return TRUE;
  m_Data.reset(new (std::nothrow) unsigned char[m_Size + 4]);
  if (!m_Data) return data == nullptr;
  std::memset(m_Data.get(), 0, m_Size + 4);
  if (data != nullptr) std::memcpy(m_Data.get(), data, m_Size);
  return TRUE;
}

BOOL CRegistryValue::setValue(DWORD type, DWORD size, const unsigned char* data) {
  if (!m_RemainOpen) {
    m_Access = kAccessWrite;
    if (!openRegistry()) {
      closeRegistry();
      return FALSE;
    }
  }
  LONG rc = RegSetValueExA(m_Key, m_ValueName, 0, type, data, size);
  m_LastError = static_cast<DWORD>(rc);
  BOOL result;
  if (rc != ERROR_SUCCESS) {
    setLastErrorMessage(static_cast<DWORD>(rc));
    result = FALSE;
  } else {
    m_Type = type;
    m_Size = size;
    result = resetValue(data);
  }
  if (!m_RemainOpen) closeRegistry();
  return result;
}

DWORD CRegistryValue::getDWORD() const {
  if (!m_Data) return 0;
  return sundry::platform::DecodeFixed32(m_Data.get());
}

CString CRegistryValue::getCString(int separator) const {
  if (!m_Data) return CString();
  std::unique_ptr<char[]> scratch(new (std::nothrow) char[m_Size + 4]);
  if (!scratch) return CString();
  std::memset(scratch.get(), 0, m_Size + 4);
  std::memcpy(scratch.get(), m_Data.get(), m_Size);
  if (separator != 0 && m_Size >= 3) {
    for (DWORD i = 0; i + 3 <= m_Size; ++i)
      if (scratch[i] == '\0') scratch[i] = static_cast<char>(separator & 0xff);
  }
  return CString(scratch.get());
}

BOOL CRegistryValue::operator()(int) const { return getDWORD() != 0; }

DWORD CRegistryValue::operator()(unsigned long) const { return getDWORD(); }

const char* CRegistryValue::operator()(const char*) const {
  return m_Data ? reinterpret_cast<const char*>(m_Data.get()) : "";
}

const DWORD* CRegistryValue::operator()(const unsigned long*) const {
  return reinterpret_cast<const DWORD*>(m_Data.get());
}

BOOL CRegistryValue::setCString(const char* text) {
  if (text == nullptr) text = "";
  return setValue(REG_SZ, static_cast<DWORD>(std::strlen(text)), reinterpret_cast<const unsigned char*>(text));
}

BOOL CRegistryValue::setDWORD(DWORD value) {
  if (!m_Valid) return FALSE;
  unsigned char bytes[4];
  sundry::platform::EncodeFixed32(bytes, value);
  return setValue(REG_DWORD, 4, bytes);
}

BOOL CRegistryValue::setBOOL(BOOL value) {
  if (!m_Valid || m_Type != REG_DWORD) return FALSE;
  return setDWORD(value ? 1 : 0);
}

BOOL CRegistryValue::setBinary(const void* data, DWORD size) {
  if (data == nullptr || !m_Valid) return FALSE;
  return setValue(REG_BINARY, size, static_cast<const unsigned char*>(data));
}

BOOL CRegistryValue::existed() const { return m_State == 2 && !m_Created; }

BOOL CRegistryValue::isEmpty() const { return m_State > 1; }

BOOL CRegistryValue::empty() {
  m_ValueName.Empty();
  m_State = 0;
  m_Type = 0;
  m_Size = 0;
  m_Data.reset();
  return existed();
}

BOOL CRegistryValue::removeValue() {
  if (m_State == 0 || m_ValueName.IsEmpty()) return TRUE;
  if (!m_RemainOpen) {
    m_Access = kAccessWrite;
    if (!openRegistry()) {
      closeRegistry();
      return TRUE;
    }
  }
  LONG rc = RegDeleteValueA(m_Key, m_ValueName);
  if (rc != ERROR_SUCCESS) setLastErrorMessage(static_cast<DWORD>(rc));
  if (!m_RemainOpen) closeRegistry();
  return rc == ERROR_SUCCESS;
}

int CRegistryValue::compare(const unsigned char* other, DWORD otherSize) const {
  DWORD n = m_Size < otherSize ? m_Size : otherSize;
  const unsigned char* mine = m_Data.get();
  for (DWORD i = 0; i < n; ++i) {
    if (mine[i] != other[i]) return mine[i] < other[i] ? -1 : 1;
  }
  if (m_Size == otherSize) return 0;
  return otherSize < m_Size ? 1 : -1;
}

int CRegistryValue::compareNumber(unsigned long number) const {
  // A number compares as its 4 bytes, least significant first.
  const DWORD value = static_cast<DWORD>(number);
  unsigned char bytes[4];
  sundry::platform::EncodeFixed32(bytes, value);
  return compare(bytes, 4);
}

#define SUNDRY_VALUE_COMPARISONS(ARG, EXPR)                                            \
  BOOL CRegistryValue::operator==(ARG) const { return (EXPR) == 0; }                   \
  BOOL CRegistryValue::operator!=(ARG) const { return (EXPR) != 0; }                   \
  BOOL CRegistryValue::operator<(ARG) const { return (EXPR) < 0; }                     \
  BOOL CRegistryValue::operator>(ARG) const { return (EXPR) > 0; }                     \
  BOOL CRegistryValue::operator<=(ARG) const { return (EXPR) <= 0; }                   \
  BOOL CRegistryValue::operator>=(ARG) const { return (EXPR) >= 0; }

SUNDRY_VALUE_COMPARISONS(const CRegistryValue& other, compare(other.m_Data.get(), other.m_Size))
SUNDRY_VALUE_COMPARISONS(const char* text,
                         compare(reinterpret_cast<const unsigned char*>(text ? text : ""),
                                 static_cast<DWORD>(text ? std::strlen(text) : 0)))
SUNDRY_VALUE_COMPARISONS(unsigned long& number, compareNumber(number))

#undef SUNDRY_VALUE_COMPARISONS
