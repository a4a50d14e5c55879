#pragma once
// CRegistryKeysFiltered: a search of a registry sub-tree for the keys whose
// name passes one of the key filters and whose values pass all the value
// filters.
//
// The tree is walked one level at a time and each visited key is released
// as soon as its sub-tree has been searched, so memory holds one path of
// keys with their immediate children, never the whole tree; the walk keeps
// its own stack, so a deep tree takes no more machine stack than a flat one.
// Each match is a fresh, open CRegistryKey owned by this array.
//
// Nothing is thrown. When memory runs out, a filter that cannot be stored
// makes its set call return FALSE, and a search ends early or leaves out the
// matches it cannot store (closing them); getCount() always counts exactly
// the matches held at indexes 0 to getCount() - 1.

#include <sundry/registry/RegistryKey.h>

// A filter on the last level of a key's path.
struct SUNDRY_EXPORT CKeyFilter {
  CKeyFilter();
  char m_KeyName[256];
  int m_Compare;
};

// A filter on one value of a key: it must exist and, when data is given,
// hold that text or number.
struct SUNDRY_EXPORT CValFilter {
  CValFilter();
  ~CValFilter();
  // Copies hold data buffers of their own; a copy that gets no memory for
  // its data passes no key.
  CValFilter(const CValFilter& other);
  CValFilter& operator=(const CValFilter& other);

  char m_ValName[256];
  unsigned char* m_pData;  // owned; a zero-terminated text or 4 number bytes
  DWORD m_DataLen;
  DWORD m_DataType;
  int m_NameCompare;
  int m_DataCompare;
};

// Owning arrays of filters.
class SUNDRY_EXPORT CRegistryKeyFilters : public CTypedPtrArray<CPtrArray, CKeyFilter*> {
 public:
  virtual ~CRegistryKeyFilters();
  void clearAll();
};

class SUNDRY_EXPORT CRegistryValueFilters : public CTypedPtrArray<CPtrArray, CValFilter*> {
 public:
  virtual ~CRegistryValueFilters();
  void clearAll();
};

class SUNDRY_EXPORT CRegistryKeysFiltered : public CTypedPtrArray<CPtrArray, CRegistryKey*> {
 public:
  // How a filter compares. On a key name: 1 equal ignoring case, 2 the name
  // begins with the filter's text ignoring case. On a value's text: 1 equal
  // (case-sensitive), 2 the shorter text is a leading part of the other,
  // ignoring case. On a number: 1 equal. Anything else never matches.
  enum eCOMPARE { eNONE = 0, eEQUAL = 1, ePREFIX = 2 };

  CRegistryKeysFiltered();
  virtual ~CRegistryKeysFiltered();

  // Adds a key filter; `name` is the first character of a zero-terminated
  // name. A name longer than 255 characters can name no key: it is kept as a
  // filter that matches nothing, and the call returns FALSE. FALSE also when
  // memory runs out: the filter is not kept but key filters are in force, so
  // the search finds fewer keys, never more.
  BOOL setKeyFilter(const char& name, eCOMPARE compare);
  // Adds a value filter on a text (data null: the value must only exist).
  // A value name longer than 255 characters makes a filter that no key
  // passes, and the call returns FALSE. FALSE, nothing added, when memory
  // runs out.
  BOOL setValueFilter(const char* valueName, const char* data, eCOMPARE nameCompare, eCOMPARE dataCompare);
  // Adds a value filter on a number (data must not be null).
  BOOL setValueFilter(const char* valueName, const unsigned long* data, eCOMPARE nameCompare,
                      eCOMPARE dataCompare);
  // Empties both filter lists; the in-force switches stay as they were.
  void clearAllFilters();

  // Runs the search below the given key. TRUE when at least one key matched.
  // Matches of an earlier search still held are released first.
  BOOL initialize(const char* machine, HKEY rootKey, const char* subKey, BOOL readValues);
  BOOL initialize(HKEY rootKey, const char* subKey, BOOL readValues);

  int getCount() const { return m_Count; }
  // Deletes every match and empties the array.
  void RemoveAll();

 private:
  BOOL checkFilters(CRegistryKey& key);
  void retrieveFilteredKeys(CRegistryKey& top);

  BOOL m_bKeyFilter;
  BOOL m_bValueFilter;
  CRegistryKeyFilters m_KeyFilters;
  CRegistryValueFilters m_ValueFilters;
  BOOL m_bReadValues;
  int m_Count;
};
