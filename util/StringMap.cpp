// CStringMap: string-to-string map with owned values.

#include <sundry/diag/DebugLog.h>
#include <sundry/util/StringMap.h>

#include <exception>
#include <unordered_set>

namespace {
constexpr INT_PTR kBlockSize = 10;
constexpr UINT kDefaultBuckets = 257;
}  // namespace

CStringMap::CStringMap() : CTypedPtrMap<CMapStringToPtr, CString, CString*>(kBlockSize), m_bDeleteValues(1) {
  InitHashTable(kDefaultBuckets);
}

CStringMap::CStringMap(int deleteValues, int hashSize)
    : CTypedPtrMap<CMapStringToPtr, CString, CString*>(kBlockSize), m_bDeleteValues(deleteValues) {
  if (hashSize > 0) InitHashTable(static_cast<UINT>(hashSize));
}

CStringMap::~CStringMap() { removeAll(); }

void CStringMap::removeAll() {
  CDebugLog log("CSearchTokens::removeAll");
  if (IsEmpty()) return;
  // One walk, removing each entry as it is delivered (the walk allows
  // that), instead of restarting from the first bucket for every entry.
  std::unordered_set<CString*> deleted;
  POSITION pos = GetStartPosition();
  while (pos != nullptr) {
    CString key;
    CString* value = nullptr;
    GetNextAssoc(pos, key, value);
    if (m_bDeleteValues == 1 && value != nullptr) {
      // A value stored under two keys would otherwise be deleted twice; if
      // the record of deleted values cannot grow, the value is left alive
      // rather than risk that.
      bool first = false;
      try {
        first = deleted.insert(value).second;
      } catch (const std::exception&) {
        first = false;
      }
      if (first) delete value;
    }
    RemoveKey(key);
  }
  CTypedPtrMap<CMapStringToPtr, CString, CString*>::RemoveAll();
}
