#pragma once
// CRegistryKey: one registry key loaded into memory with its values and,
// down to a chosen depth, its sub-keys.
//
// Children are kept in two owning maps keyed by the upper-cased name; the
// children keep their names in the case the registry gave them. Every key
// of a loaded tree stays open and shares the top key's connection, which
// only the top key closes. A child whose path would be longer than 255
// characters is left out (ERROR_FILENAME_EXCED_RANGE), so a loaded tree,
// and the recursion that loads it, is at most 128 levels deep.

#include <sundry/registry/RegistryValue.h>

class CRegistryKey;

// Child keys by upper-cased name; owns them.
class SUNDRY_EXPORT CRegistryKeys : public CTypedPtrMap<CMapStringToPtr, CString, CRegistryKey*> {
 public:
  CRegistryKeys();
  virtual ~CRegistryKeys();
  // Deletes every child, then empties the map.
  void RemoveAll();
};

// Values by upper-cased name; owns them.
class SUNDRY_EXPORT CRegistryValues : public CTypedPtrMap<CMapStringToPtr, CString, CRegistryValue*> {
 public:
  CRegistryValues();
  virtual ~CRegistryValues();
  // Deletes every value, then empties the map.
  void RemoveAll();
};

class SUNDRY_EXPORT CRegistryKey : public CRegistryBase {
 public:
  CRegistryKey();
  ~CRegistryKey() override;

  // Loads the key: its values when readValues is set, and its sub-keys down
  // to depth levels. TRUE when the coordinates are valid, the key could be
  // opened and no retrieval failed. A key this object created is not read.
  // When memory runs out the key keeps what it had loaded and records
  // ERROR_NOT_ENOUGH_MEMORY; nothing is thrown.
  BOOL initialize(const char* machine, HKEY rootKey, const char* subKey, short depth, BOOL readValues,
                  BOOL create, BOOL write);
  BOOL initialize(HKEY rootKey, const char* subKey, short depth, BOOL readValues, BOOL create, BOOL write);
  // Loads again with the stored coordinates and value switch.
  BOOL reInitialize(int depth, BOOL write);

  BOOL exists() const { return m_Valid; }
  int getSubKeyCount() const { return static_cast<int>(m_SubKeys.GetCount()); }
  int getValueCount() const { return static_cast<int>(m_Values.GetCount()); }
  BOOL getResult() const { return m_Result; }

  // The key's sub-key path (the argument only selects the overload).
  const char* operator()(const char*) const { return m_SubKey; }
  // Exact, case-sensitive comparison of the sub-key path.
  bool operator==(const char* subKey) const { return m_SubKey == subKey; }
  bool operator!=(const char* subKey) const { return m_SubKey != subKey; }

  // Walks over the children in the map's own order. The sub-key walk sets
  // its out-parameter to null when it delivers nothing; the value walk
  // leaves it unchanged.
  BOOL getFirstSubKey(CRegistryKey*& key);
  BOOL getNextSubKey(CRegistryKey*& key);
  BOOL getLastSubKey(CRegistryKey*& key);
  BOOL getFirstValue(CRegistryValue*& value);
  BOOL getNextValue(CRegistryValue*& value);
  BOOL getLastValue(CRegistryValue*& value);

  // Look-ups ignoring case. A name longer than 255 characters names no
  // child: FALSE.
  BOOL getSubKeyByName(const char* name, CRegistryKey*& key);
  BOOL getValueByName(const char* name, CRegistryValue*& value);

  // Removes a child from the map and deletes it; the registry is untouched.
  BOOL removeSubKey(CRegistryKey* key);

 private:
  // Key objects are not copied: the copy is an empty key, assignment does
  // nothing.
  CRegistryKey(const CRegistryKey&);
  CRegistryKey& operator=(const CRegistryKey&);

  BOOL load(const char* machine, HKEY rootKey, const char* subKey, short depth, BOOL readValues, BOOL create,
            BOOL write);
  BOOL retrieveValues();
  BOOL retrieveSubKeys();

  CRegistryKeys m_SubKeys;
  CRegistryValues m_Values;
  BOOL m_Result;
  BOOL m_ReadValues;
  short m_Depth;
  POSITION m_SubKeyPos;
  POSITION m_ValuePos;
};
