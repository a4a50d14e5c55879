// CRegistryKeysFiltered: the level-by-level filtered search.

#include <sundry/registry/RegistryKeysFiltered.h>

#include <sundry/platform/codepage.h>

#include "platform/framework/coding.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// Copies a name into a 256-character filter field; FALSE (and an empty
// field) when it does not fit.
bool copyName(char (&field)[256], const char* name) {
  field[0] = '\0';
  if (name == nullptr) return true;
  size_t len = std::strlen(name);
  if (len >= sizeof field) return false;
  std::memcpy(field, name, len + 1);
  return true;
}

const unsigned char* bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

}  // namespace

CKeyFilter::CKeyFilter() : m_KeyName(), m_Compare(0) {}

CValFilter::CValFilter()
    : m_ValName(), m_pData(nullptr), m_DataLen(0), m_DataType(0), m_NameCompare(0), m_DataCompare(0) {}

CValFilter::~CValFilter() { delete[] m_pData; }

CValFilter::CValFilter(const CValFilter& other) : CValFilter() { *this = other; }

CValFilter& CValFilter::operator=(const CValFilter& other) {
  if (this == &other) return *this;
  std::memcpy(m_ValName, other.m_ValName, sizeof m_ValName);
  delete[] m_pData;
  m_pData = nullptr;
  m_DataLen = other.m_DataLen;
  m_DataType = other.m_DataType;
  m_NameCompare = other.m_NameCompare;
  m_DataCompare = other.m_DataCompare;
  if (other.m_pData != nullptr) {
    // Text filters hold their length + 2 bytes, number filters 4.
    size_t size = other.m_DataType == REG_DWORD ? 4 : other.m_DataLen + 2;
    m_pData = new (std::nothrow) unsigned char[size];
    if (m_pData != nullptr)
      std::memcpy(m_pData, other.m_pData, size);
    else
      m_NameCompare = CRegistryKeysFiltered::eNONE;  // no memory for the data: a filter that passes no key
  }
  return *this;
}

CRegistryKeyFilters::~CRegistryKeyFilters() { clearAll(); }

void CRegistryKeyFilters::clearAll() {
  for (INT_PTR i = 0; i < GetSize(); ++i) delete GetAt(i);
  CTypedPtrArray<CPtrArray, CKeyFilter*>::RemoveAll();
}

CRegistryValueFilters::~CRegistryValueFilters() { clearAll(); }

void CRegistryValueFilters::clearAll() {
  for (INT_PTR i = 0; i < GetSize(); ++i) delete GetAt(i);
  CTypedPtrArray<CPtrArray, CValFilter*>::RemoveAll();
}

CRegistryKeysFiltered::CRegistryKeysFiltered()
    : m_bKeyFilter(FALSE), m_bValueFilter(FALSE), m_bReadValues(FALSE), m_Count(0) {
  SetSize(99);
}

CRegistryKeysFiltered::~CRegistryKeysFiltered() { RemoveAll(); }

BOOL CRegistryKeysFiltered::setKeyFilter(const char& name, eCOMPARE compare) {
  // Key filters are in force even when this one cannot be kept: a search
  // then finds fewer keys, never more than asked for.
  m_bKeyFilter = TRUE;
  std::unique_ptr<CKeyFilter> filter(new (std::nothrow) CKeyFilter);
  if (filter == nullptr) return FALSE;
  BOOL fits = copyName(filter->m_KeyName, &name);
  // A name too long for any key: keep a filter that matches nothing.
  filter->m_Compare = fits ? compare : eNONE;
  if (m_KeyFilters.Add(filter.get()) < 0) return FALSE;
  filter.release();
  return fits;
}

BOOL CRegistryKeysFiltered::setValueFilter(const char* valueName, const char* data, eCOMPARE nameCompare,
                                           eCOMPARE dataCompare) {
  std::unique_ptr<CValFilter> filter(new (std::nothrow) CValFilter);
  if (filter == nullptr) return FALSE;
  BOOL fits = copyName(filter->m_ValName, valueName);
  filter->m_DataType = REG_SZ;
  filter->m_NameCompare = fits ? nameCompare : eNONE;
  if (data != nullptr) {
    size_t len = std::strlen(data);
    filter->m_pData = new (std::nothrow) unsigned char[len + 2]();
    if (filter->m_pData == nullptr) return FALSE;
    std::memcpy(filter->m_pData, data, len);
    filter->m_DataLen = static_cast<DWORD>(len);
    filter->m_DataCompare = dataCompare;
  }
  if (m_ValueFilters.Add(filter.get()) < 0) return FALSE;
  filter.release();
  m_bValueFilter = TRUE;
  return fits;
}

BOOL CRegistryKeysFiltered::setValueFilter(const char* valueName, const unsigned long* data, eCOMPARE nameCompare,
                                           eCOMPARE dataCompare) {
  std::unique_ptr<CValFilter> filter(new (std::nothrow) CValFilter);
  if (filter == nullptr) return FALSE;
  BOOL fits = copyName(filter->m_ValName, valueName);
  filter->m_DataType = REG_DWORD;
  filter->m_NameCompare = fits ? nameCompare : eNONE;
  filter->m_DataLen = 4;
  filter->m_DataCompare = dataCompare;
  filter->m_pData = new (std::nothrow) unsigned char[4];
  if (filter->m_pData == nullptr) return FALSE;
  // The number is kept as its 4 bytes, least significant first.
  const DWORD number = data ? static_cast<DWORD>(*data) : 0;
  sundry::platform::EncodeFixed32(filter->m_pData, number);
  if (data == nullptr) filter->m_NameCompare = eNONE;
  if (m_ValueFilters.Add(filter.get()) < 0) return FALSE;
  filter.release();
  m_bValueFilter = TRUE;
  return fits && data != nullptr;
}

void CRegistryKeysFiltered::clearAllFilters() {
  m_KeyFilters.clearAll();
  m_ValueFilters.clearAll();
}

BOOL CRegistryKeysFiltered::initialize(const char* machine, HKEY rootKey, const char* subKey, BOOL readValues) {
  // Matches of an earlier search that the caller did not release would
  // otherwise be overwritten and leak with their open handles.
  RemoveAll();
  m_bReadValues = readValues;
  m_Count = 0;
  try {
    CRegistryKey top;
    top.initialize(machine, rootKey, subKey, 1, readValues, FALSE, FALSE);
    retrieveFilteredKeys(top);
  } catch (const std::bad_alloc&) {
    // Out of memory: the search ends; the matches found so far stand.
  }
  return m_Count != 0;
}

BOOL CRegistryKeysFiltered::initialize(HKEY rootKey, const char* subKey, BOOL readValues) {
  return initialize(nullptr, rootKey, subKey, readValues);
}

void CRegistryKeysFiltered::RemoveAll() {
  for (INT_PTR i = 0; i < GetSize(); ++i) delete GetAt(i);
  CTypedPtrArray<CPtrArray, CRegistryKey*>::RemoveAll();
  m_Count = 0;
}

void CRegistryKeysFiltered::retrieveFilteredKeys(CRegistryKey& top) {
  auto visit = [this](CRegistryKey& key) {
    if (!checkFilters(key)) return;
    std::unique_ptr<CRegistryKey> match(new CRegistryKey);
    match->initialize(key.getMachine(), key.getKey(), key.getSubKey(), 0, m_bReadValues, FALSE, FALSE);
    SetAtGrow(m_Count, match.get());
    // A slot the array could not grow to leaves the match out (and closes it).
    if (m_Count >= GetSize() || GetAt(m_Count) != match.get()) return;
    match.release();
    ++m_Count;
  };
  // Depth first, pre-order, without recursion: path holds the keys from top
  // down to the one whose children are being searched. Each child is loaded
  // one level deeper when visited, and deleted (removeSubKey) once its
  // sub-tree is done, so memory holds one path with its immediate children.
  visit(top);
  std::vector<CRegistryKey*> path{&top};
  while (!path.empty()) {
    CRegistryKey* key = path.back();
    CRegistryKey* child = nullptr;
    if (key->getFirstSubKey(child)) {
      child->reInitialize(1, FALSE);
      visit(*child);
      path.push_back(child);
      continue;
    }
    path.pop_back();
    // A child that cannot be removed would be found again and again.
    if (!path.empty() && !path.back()->removeSubKey(key)) return;
  }
}

BOOL CRegistryKeysFiltered::checkFilters(CRegistryKey& key) {
  BOOL result = TRUE;
  if (m_bKeyFilter) {
    const CString& name = key.getLastKeyLevel();
    result = FALSE;
    for (INT_PTR i = 0; i < m_KeyFilters.GetSize() && !result; ++i) {
      const CKeyFilter* f = m_KeyFilters.GetAt(i);
      if (f->m_Compare == eEQUAL)
        result = _mbsicmp(bytes(f->m_KeyName), bytes(name)) == 0;
      else if (f->m_Compare == ePREFIX)
        result = _mbsnbicmp(bytes(f->m_KeyName), bytes(name), std::strlen(f->m_KeyName)) == 0;
    }
    if (!result) return FALSE;
  }
  if (!m_bValueFilter) return result;

  const CString machine = key.getMachine();
  const CString subKey = key.getSubKey();
  CRegistryValue value;
  for (INT_PTR i = 0; i < m_ValueFilters.GetSize() && result; ++i) {
    const CValFilter* f = m_ValueFilters.GetAt(i);
    if (f->m_DataType == REG_SZ) {
      if (f->m_NameCompare != eEQUAL) {
        result = FALSE;
        break;
      }
      result = value.initialize(machine, key.getKey(), subKey, f->m_ValName, "", FALSE, FALSE);
      if (result && f->m_pData != nullptr) {
        CString text = value.getCString(0);
        if (f->m_DataLen == 0 && text.IsEmpty()) {
          result = TRUE;
        } else if (f->m_DataCompare == eEQUAL) {
          result = _mbscmp(f->m_pData, bytes(text)) == 0;
        } else if (f->m_DataCompare == ePREFIX) {
          size_t n = f->m_DataLen;
          if (!text.IsEmpty() && static_cast<size_t>(text.GetLength()) < n) n = static_cast<size_t>(text.GetLength());
          result = _mbsnbicmp(f->m_pData, bytes(text), n) == 0;
        } else {
          result = FALSE;
        }
      }
    } else if (f->m_DataType == REG_DWORD) {
      if (f->m_NameCompare != eEQUAL) {
        result = FALSE;
        break;
      }
      result = value.initialize(machine, key.getKey(), subKey, f->m_ValName, static_cast<DWORD>(0), FALSE, FALSE);
      if (result && f->m_pData != nullptr) {
        result = f->m_DataCompare == eEQUAL && value.getDWORD() == sundry::platform::DecodeFixed32(f->m_pData);
      }
    } else {
      result = FALSE;
    }
  }
  return result;
}
