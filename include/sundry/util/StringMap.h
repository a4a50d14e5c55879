#pragma once
// CStringMap: a hash map from a string key to a string value that it owns,
// or leaves to the caller.
//
// Insertion, look-up, removal of single entries and walking are the typed
// map's own (SetAt, Lookup, operator[], RemoveKey, GetNextAssoc). When the
// map owns its values, every value must be allocated with new on its own;
// removeAll and the destructor delete them. Replacing a value with SetAt or
// removing an entry with RemoveKey leaves the old value to the caller.
//
// A map serves one thread at a time and does not lock.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/Collections.h>

class SUNDRY_EXPORT CStringMap : public CTypedPtrMap<CMapStringToPtr, CString, CString*> {
 public:
  // 257 buckets; the map owns its values.
  CStringMap();
  // The map owns its values when deleteValues is 1. hashSize buckets; a
  // size of 0 or less keeps the map's default of 17.
  CStringMap(int deleteValues, int hashSize);
  // removeAll().
  ~CStringMap() override;

  // Empties the map, deleting the values when it owns them. A value stored
  // under several keys is deleted once.
  void removeAll();

  // 1 when the map owns its values.
  int m_bDeleteValues;
};
