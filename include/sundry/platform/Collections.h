#pragma once
// The framework's collection classes: growable arrays (CArray, CPtrArray,
// CStringArray, CTypedPtrArray) and hash maps (CMap, CMapStringToPtr,
// CTypedPtrMap), with the framework's interfaces and observable behaviour.
//
// Arrays
//   Indices are INT_PTR, 0 to GetUpperBound(). Add returns the new element's
//   index, Append the size before appending. An index out of range is a
//   caller's error: it fails an assert() in a debug build, and in a release
//   build the call is refused cleanly instead of touching memory:
//     GetAt / ElementAt / operator[]  return a reference to a spare element of
//                                     the array that holds a default value
//                                     (null, empty string); what is written
//                                     through it is not part of the array;
//     SetAt                           writes nothing;
//     SetAtGrow, InsertAt with a negative index or count, RemoveAt with a
//     range that does not lie inside the array, SetSize with a negative size
//                                     change nothing.
//   InsertAt past the end grows the array (the gap holds default elements),
//   as SetAtGrow does. A size beyond what an array can hold, or storage the
//   allocator cannot provide, is refused the same way (Add then returns -1).
//
// Maps
//   A map is a hash table with a fixed number of buckets (InitHashTable,
//   17 by default); the table never grows on its own, so callers size it for
//   the number of entries they expect. Keys are hashed with HashKey<ARG_KEY>
//   and compared with ==; for string keys that is an exact, case-sensitive
//   byte comparison. The block size given to the constructor is accepted as
//   the framework's allocation hint: entries live in a std::deque, whose own
//   chunks play that part.
//
//   Walking: GetStartPosition() gives a null POSITION for an empty map;
//   GetNextAssoc(pos, key, value) delivers one entry and advances pos to the
//   entry after it, or to null after the last one. Every entry is visited
//   exactly once, in the map's own order (bucket by bucket; within a bucket,
//   the most recently added first). What may change during a walk:
//     - RemoveKey of any entry other than the one pos names, in particular of
//       the entry just delivered (the usual "delete the values as you go"
//       walk): pos already names the next entry, which stays valid, and the
//       walk goes on to visit every remaining entry once;
//     - SetAt of an existing key, which only changes a value;
//     - adding keys: the walk stays valid, but the new entries may or may
//       not be visited;
//     - InitHashTable with entries present: the walk stays memory-safe but
//       follows the new buckets, so entries may be skipped or repeated.
//   Removing the entry pos names, or RemoveAll, leaves pos stale. A stale
//   POSITION never reaches freed memory here: GetNextAssoc fails an assert()
//   in a debug build and otherwise ends the walk (pos becomes null, key and
//   value are left as they were), or, when the slot has since been reused
//   by a new entry, goes on from that entry (entries may then be skipped or
//   repeated).
//   Entries never move in memory while they are in the map, so a reference
//   returned by operator[] stays valid until that entry is removed.
//
// None of these classes is copyable (as in the framework); use Copy or
// Append to copy arrays. None is thread-safe: one thread at a time.

#include <sundry/export.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/wintypes.h>

#include <cassert>
#include <climits>
#include <cstdint>
#include <deque>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <vector>

// Pointer-sized signed integer: the index and count type of the arrays and
// maps. (Repeating the typedef elsewhere with the same type is harmless.)
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;

// An opaque walk position; null means "no further entry".
struct tagPOSITION;
typedef tagPOSITION* POSITION;

// The position GetStartPosition returns for a non-empty map: "before the
// first entry". It is resolved by the first GetNextAssoc, so removing
// entries between GetStartPosition and that call is harmless.
#define BEFORE_START_POSITION ((POSITION)(intptr_t)-1)

// ---------------------------------------------------------------------------
// Hashing of map keys.
//
// The general form serves integers, enumerations and pointers (handles): it
// drops the low 4 bits, which are mostly zero in aligned pointers. Strings
// are hashed over their bytes with hash = (hash << 5) + hash + byte, starting
// from 0 (bytes taken as unsigned). Specialise HashKey for other key types.
template <class ARG_KEY>
inline UINT HashKey(ARG_KEY key) {
  using K = std::remove_cv_t<std::remove_reference_t<ARG_KEY>>;
  if constexpr (std::is_pointer_v<K>) {
    return static_cast<UINT>(reinterpret_cast<uintptr_t>(key) >> 4);
  } else {
    static_assert(std::is_integral_v<K> || std::is_enum_v<K>, "HashKey needs a specialisation for this key type");
    return static_cast<UINT>(static_cast<uintptr_t>(key) >> 4);
  }
}

// String keys; a null pointer hashes as the empty string.
template <>
SUNDRY_EXPORT UINT HashKey<const char*>(const char* key);
template <>
SUNDRY_EXPORT UINT HashKey<char*>(char* key);
// Hashes all GetLength() bytes, zero bytes included; equal to the
// const char* form for strings without zero bytes.
template <>
SUNDRY_EXPORT UINT HashKey<const CString&>(const CString& key);
template <>
SUNDRY_EXPORT UINT HashKey<CString>(CString key);

// ---------------------------------------------------------------------------
// CArray: a growable array of TYPE; ARG_TYPE is how elements are passed in.
template <class TYPE, class ARG_TYPE = const TYPE&>
class SUNDRY_EXPORT CArray {
 public:
  CArray() = default;
  virtual ~CArray() = default;
  CArray(const CArray&) = delete;
  CArray& operator=(const CArray&) = delete;

  INT_PTR GetSize() const { return static_cast<INT_PTR>(m_data.size()); }
  INT_PTR GetCount() const { return GetSize(); }
  BOOL IsEmpty() const { return m_data.empty() ? TRUE : FALSE; }
  INT_PTR GetUpperBound() const { return GetSize() - 1; }

  // Sets the number of elements: new ones are default (null, empty), cut
  // ones are destroyed. nGrowBy > 0 is the least number of elements to
  // reserve whenever the array must grow (a hint; -1 keeps the current
  // policy, 0 is taken as -1).
  void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1) {
    if (nGrowBy > 0) m_nGrowBy = nGrowBy;
    if (!CheckArg(nNewSize >= 0)) return;
    if (!Reserve(nNewSize)) return;
    m_data.resize(static_cast<size_t>(nNewSize));
  }
  void FreeExtra() { m_data.shrink_to_fit(); }
  void RemoveAll() { std::vector<TYPE>().swap(m_data); }

  const TYPE& GetAt(INT_PTR nIndex) const { return InRange(nIndex) ? m_data[Idx(nIndex)] : Spare(); }
  TYPE& GetAt(INT_PTR nIndex) { return InRange(nIndex) ? m_data[Idx(nIndex)] : Spare(); }
  const TYPE& ElementAt(INT_PTR nIndex) const { return GetAt(nIndex); }
  TYPE& ElementAt(INT_PTR nIndex) { return GetAt(nIndex); }
  const TYPE& operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
  TYPE& operator[](INT_PTR nIndex) { return GetAt(nIndex); }
  void SetAt(INT_PTR nIndex, ARG_TYPE newElement) {
    if (InRange(nIndex)) m_data[Idx(nIndex)] = newElement;
  }
  // The elements as one block; null when the array is empty. Valid until
  // the array next changes its size.
  const TYPE* GetData() const { return m_data.empty() ? nullptr : m_data.data(); }
  TYPE* GetData() { return m_data.empty() ? nullptr : m_data.data(); }

  // Stores newElement at nIndex, growing the array to nIndex + 1 elements
  // first when needed.
  void SetAtGrow(INT_PTR nIndex, ARG_TYPE newElement) {
    if (!CheckArg(nIndex >= 0)) return;
    if (nIndex < GetSize()) {
      m_data[Idx(nIndex)] = newElement;
      return;
    }
    TYPE copy(newElement);  // newElement may refer to an element of this array
    if (!Reserve(nIndex + 1)) return;
    m_data.resize(Idx(nIndex) + 1);
    m_data[Idx(nIndex)] = std::move(copy);
  }

  // Appends one element; returns its index, or -1 when memory ran out.
  INT_PTR Add(ARG_TYPE newElement) {
    TYPE copy(newElement);
    if (!Reserve(GetSize() + 1)) return -1;
    m_data.push_back(std::move(copy));
    return GetSize() - 1;
  }

  // Appends the elements of src (which may be this array); returns the size
  // before appending.
  INT_PTR Append(const CArray& src) {
    INT_PTR oldSize = GetSize();
    if (&src == this) {
      if (!Reserve(oldSize * 2)) return oldSize;
      for (INT_PTR i = 0; i < oldSize; ++i) m_data.push_back(m_data[Idx(i)]);
    } else {
      if (!Reserve(oldSize + src.GetSize())) return oldSize;
      m_data.insert(m_data.end(), src.m_data.begin(), src.m_data.end());
    }
    return oldSize;
  }

  // Makes this array a copy of src.
  void Copy(const CArray& src) {
    if (&src == this) return;
    if (!Reserve(src.GetSize())) return;
    m_data = src.m_data;
  }

  // Inserts nCount copies of newElement before nIndex; an index at or past
  // the end appends them at nIndex, growing the array with default elements.
  void InsertAt(INT_PTR nIndex, ARG_TYPE newElement, INT_PTR nCount = 1) {
    if (!CheckArg(nIndex >= 0 && nCount >= 0)) return;
    if (nCount == 0) return;
    if (static_cast<size_t>(nCount) > m_data.max_size() - m_data.size()) return;  // can never fit
    TYPE copy(newElement);
    INT_PTR size = GetSize();
    INT_PTR at = nIndex < size ? nIndex : size;
    INT_PTR gap = nIndex - at;
    if (!Reserve(size + gap + nCount)) return;
    if (gap > 0) m_data.resize(Idx(nIndex));
    m_data.insert(m_data.begin() + nIndex, Idx(nCount), copy);
  }

  // Inserts all elements of pNewArray (which may be this array) before
  // nStartIndex; past the end, the gap holds default elements.
  void InsertAt(INT_PTR nStartIndex, const CArray* pNewArray) {
    if (!CheckArg(pNewArray != nullptr && nStartIndex >= 0)) return;
    if (pNewArray == this) {
      // The source must not move while it is read: insert a copy.
      CArray copy;
      copy.Copy(*this);
      if (copy.GetSize() == GetSize()) InsertAt(nStartIndex, &copy);
      return;
    }
    INT_PTR n = pNewArray->GetSize();
    if (n == 0) return;
    INT_PTR size = GetSize();
    INT_PTR end = nStartIndex > size ? nStartIndex : size;
    if (!Reserve(end + n)) return;
    if (nStartIndex > size) m_data.resize(Idx(nStartIndex));
    m_data.insert(m_data.begin() + nStartIndex, pNewArray->m_data.begin(), pNewArray->m_data.end());
  }

  // Removes nCount elements from nIndex; the range must lie in the array.
  void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1) {
    if (!CheckArg(nIndex >= 0 && nCount >= 0 && nIndex <= GetSize() && nCount <= GetSize() - nIndex)) return;
    m_data.erase(m_data.begin() + nIndex, m_data.begin() + nIndex + nCount);
  }

 private:
  static size_t Idx(INT_PTR i) { return static_cast<size_t>(i); }

  // A caller's error: assert in a debug build, refuse in a release build.
  static bool CheckArg(bool ok) {
    assert(ok && "array argument out of range");
    return ok;
  }
  bool InRange(INT_PTR i) const { return CheckArg(i >= 0 && i < GetSize()); }

  // The spare element handed out for an index out of range, reset each time.
  TYPE& Spare() const {
    m_spare = TYPE();
    return m_spare;
  }

  // Makes room for n elements so that a following insertion cannot fail.
  // Grows at least geometrically (amortised constant-time Add) and at least
  // by the grow-by hint. Returns false when n is absurd or memory ran out.
  bool Reserve(INT_PTR n) {
    if (n < 0 || static_cast<size_t>(n) > m_data.max_size()) return false;
    size_t need = static_cast<size_t>(n);
    size_t cap = m_data.capacity();
    if (need <= cap) return true;
    size_t target = cap + (m_nGrowBy > 0 ? static_cast<size_t>(m_nGrowBy) : 0);
    if (target < cap * 2) target = cap * 2;
    if (target < need || target > m_data.max_size()) target = need;
    try {
      m_data.reserve(target);
    } catch (const std::exception&) {
      try {
        m_data.reserve(need);  // the generous size failed; try the bare need
      } catch (const std::exception&) {
        return false;
      }
    }
    return true;
  }

  std::vector<TYPE> m_data;
  INT_PTR m_nGrowBy = -1;
  mutable TYPE m_spare{};
};

// An array of untyped pointers; the base of CTypedPtrArray.
class SUNDRY_EXPORT CPtrArray : public CArray<void*, void*> {
 public:
  typedef void* BASE_TYPE;
  typedef void* BASE_ARG_TYPE;
  CPtrArray();
  ~CPtrArray() override;
};

// An array of CString: the library's string list.
class SUNDRY_EXPORT CStringArray : public CArray<CString, const CString&> {
 public:
  typedef CString BASE_TYPE;
  typedef const CString& BASE_ARG_TYPE;
  CStringArray();
  ~CStringArray() override;
};

// A typed view of a pointer array: BASE_CLASS is CPtrArray (or a class
// derived from it), TYPE a pointer type. The array does not own what the
// pointers point to; owning arrays derive from it and delete their elements.
template <class BASE_CLASS, class TYPE>
class SUNDRY_EXPORT CTypedPtrArray : public BASE_CLASS {
  static_assert(std::is_pointer_v<TYPE>, "CTypedPtrArray holds pointers");

 public:
  TYPE GetAt(INT_PTR nIndex) const { return static_cast<TYPE>(BASE_CLASS::GetAt(nIndex)); }
  // The element as a TYPE& over the stored void* (pointers share one
  // representation here, as the framework relies on).
  TYPE& ElementAt(INT_PTR nIndex) { return reinterpret_cast<TYPE&>(BASE_CLASS::ElementAt(nIndex)); }
  TYPE operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
  TYPE& operator[](INT_PTR nIndex) { return ElementAt(nIndex); }
  void SetAt(INT_PTR nIndex, TYPE ptr) { BASE_CLASS::SetAt(nIndex, Untyped(ptr)); }
  void SetAtGrow(INT_PTR nIndex, TYPE newElement) { BASE_CLASS::SetAtGrow(nIndex, Untyped(newElement)); }
  INT_PTR Add(TYPE newElement) { return BASE_CLASS::Add(Untyped(newElement)); }
  INT_PTR Append(const CTypedPtrArray& src) { return BASE_CLASS::Append(src); }
  void Copy(const CTypedPtrArray& src) { BASE_CLASS::Copy(src); }
  void InsertAt(INT_PTR nIndex, TYPE newElement, INT_PTR nCount = 1) {
    BASE_CLASS::InsertAt(nIndex, Untyped(newElement), nCount);
  }
  void InsertAt(INT_PTR nStartIndex, const CTypedPtrArray* pNewArray) { BASE_CLASS::InsertAt(nStartIndex, pNewArray); }

 private:
  static void* Untyped(TYPE p) { return const_cast<void*>(static_cast<const void*>(p)); }
};

// ---------------------------------------------------------------------------
// CMap: a hash map from KEY to VALUE; ARG_KEY and ARG_VALUE are how keys and
// values are passed in. See the top of this file for the walk rules.
template <class KEY, class ARG_KEY, class VALUE, class ARG_VALUE>
class SUNDRY_EXPORT CMap {
 public:
  typedef KEY BASE_KEY;
  typedef ARG_KEY BASE_ARG_KEY;
  typedef VALUE BASE_VALUE;
  typedef ARG_VALUE BASE_ARG_VALUE;

  // nBlockSize: the framework's allocation block (a hint, must be > 0).
  explicit CMap(INT_PTR nBlockSize = 10) {
    assert(nBlockSize > 0 && "map block size must be positive");
    (void)nBlockSize;
  }
  virtual ~CMap() = default;
  CMap(const CMap&) = delete;
  CMap& operator=(const CMap&) = delete;

  INT_PTR GetCount() const { return m_nCount; }
  INT_PTR GetSize() const { return m_nCount; }
  BOOL IsEmpty() const { return m_nCount == 0 ? TRUE : FALSE; }
  UINT GetHashTableSize() const { return m_nHashTableSize; }

  // Sets the number of buckets: 1 to INT_MAX (0, or a negative int passed
  // in, is refused and the table keeps its size). The framework
  // expects an empty map here; a map that already holds entries keeps them,
  // redistributed over the new buckets. bAllocNow is accepted for
  // compatibility; the buckets are made at once or at the first insertion.
  void InitHashTable(UINT nHashSize, BOOL bAllocNow = TRUE) {
    (void)bAllocNow;
    bool ok = nHashSize > 0 && nHashSize <= static_cast<UINT>(INT_MAX);
    assert(ok && "hash table size must be positive");
    if (!ok) return;
    if (m_nCount == 0) {
      m_nHashTableSize = nHashSize;
      m_buckets.clear();
      return;
    }
    std::vector<INT_PTR> buckets;
    try {
      buckets.assign(nHashSize, kNone);
    } catch (const std::exception&) {
      return;  // keep the current table
    }
    m_nHashTableSize = nHashSize;
    for (size_t i = 0; i < m_nodes.size(); ++i) {
      Node& n = m_nodes[i];
      if (!n.used) continue;
      UINT b = n.hash % nHashSize;
      n.next = buckets[b];
      buckets[b] = static_cast<INT_PTR>(i);
    }
    m_buckets.swap(buckets);
  }

  // Copies the value of key into rValue and returns TRUE; FALSE (rValue
  // unchanged) when the key is absent.
  BOOL Lookup(ARG_KEY key, VALUE& rValue) const {
    UINT hash;
    INT_PTR i = Find(key, hash);
    if (i == kNone) return FALSE;
    rValue = m_nodes[Idx(i)].value;
    return TRUE;
  }

  // The value stored under key; a missing key is added first with a
  // default value (null, 0, empty).
  VALUE& operator[](ARG_KEY key) {
    UINT hash;
    INT_PTR i = Find(key, hash);
    if (i == kNone) i = NewNode(key, hash);
    if (i == kNone) {
      // Out of memory: nothing was added; hand out a spare value.
      m_spare = VALUE();
      return m_spare;
    }
    return m_nodes[Idx(i)].value;
  }

  // Stores newValue under key, replacing any value the key had.
  void SetAt(ARG_KEY key, ARG_VALUE newValue) { (*this)[key] = newValue; }

  // Removes the entry of key; TRUE when there was one.
  BOOL RemoveKey(ARG_KEY key) {
    if (m_buckets.empty()) return FALSE;
    UINT hash = HashKey<ARG_KEY>(key);
    INT_PTR* link = &m_buckets[hash % m_nHashTableSize];
    while (*link != kNone) {
      Node& n = m_nodes[Idx(*link)];
      if (n.hash == hash && n.key == key) {
        INT_PTR victim = *link;
        *link = n.next;
        FreeNode(victim);
        return TRUE;
      }
      link = &n.next;
    }
    return FALSE;
  }

  // Removes every entry. The bucket count stays as it was.
  void RemoveAll() {
    m_nodes.clear();
    m_buckets.clear();
    m_free = kNone;
    m_nCount = 0;
  }

  POSITION GetStartPosition() const { return m_nCount == 0 ? nullptr : BEFORE_START_POSITION; }

  // Delivers the entry at rNextPosition and advances it (null after the
  // last entry). See the top of this file for what a walk tolerates.
  void GetNextAssoc(POSITION& rNextPosition, KEY& rKey, VALUE& rValue) const {
    NextAssoc(rNextPosition, rKey, rValue);
  }

 protected:
  // GetNextAssoc that tells whether an entry was delivered: false for a
  // null or stale position, which is then set to null.
  bool NextAssoc(POSITION& rNextPosition, KEY& rKey, VALUE& rValue) const {
    INT_PTR i;
    if (rNextPosition == BEFORE_START_POSITION) {
      i = FirstFrom(0);
    } else {
      uintptr_t raw = reinterpret_cast<uintptr_t>(rNextPosition);
      i = static_cast<INT_PTR>(raw) - 1;
      bool valid = raw != 0 && static_cast<size_t>(i) < m_nodes.size() && m_nodes[Idx(i)].used;
      assert(valid && "stale or null POSITION passed to GetNextAssoc");
      if (!valid) i = kNone;
    }
    if (i == kNone) {
      rNextPosition = nullptr;
      return false;
    }
    const Node& n = m_nodes[Idx(i)];
    rKey = n.key;
    rValue = n.value;
    INT_PTR next = n.next != kNone ? n.next : FirstFrom(n.hash % m_nHashTableSize + 1);
    rNextPosition = next == kNone ? nullptr : reinterpret_cast<POSITION>(static_cast<uintptr_t>(next) + 1);
    return true;
  }

 private:
  static constexpr INT_PTR kNone = -1;

  struct Node {
    KEY key{};
    VALUE value{};
    UINT hash = 0;
    INT_PTR next = kNone;  // next entry of the bucket, or next free node
    bool used = false;
  };

  static size_t Idx(INT_PTR i) { return static_cast<size_t>(i); }

  // The node of key, or kNone; hash receives the key's hash either way.
  INT_PTR Find(ARG_KEY key, UINT& hash) const {
    hash = HashKey<ARG_KEY>(key);
    if (m_buckets.empty()) return kNone;
    for (INT_PTR i = m_buckets[hash % m_nHashTableSize]; i != kNone; i = m_nodes[Idx(i)].next) {
      const Node& n = m_nodes[Idx(i)];
      if (n.hash == hash && n.key == key) return i;
    }
    return kNone;
  }

  // First entry of the first non-empty bucket from bucket b on.
  INT_PTR FirstFrom(UINT b) const {
    for (; b < m_buckets.size(); ++b)
      if (m_buckets[b] != kNone) return m_buckets[b];
    return kNone;
  }

  // Adds key at the head of its bucket; kNone when memory ran out.
  INT_PTR NewNode(ARG_KEY key, UINT hash) {
    try {
      if (m_buckets.empty()) m_buckets.assign(m_nHashTableSize, kNone);
      INT_PTR i;
      if (m_free != kNone) {
        i = m_free;
        m_nodes[Idx(i)].key = KEY(key);
        m_free = m_nodes[Idx(i)].next;
      } else {
        m_nodes.emplace_back();
        i = static_cast<INT_PTR>(m_nodes.size()) - 1;
        try {
          m_nodes.back().key = KEY(key);
        } catch (...) {
          m_nodes.pop_back();
          throw;
        }
      }
      Node& n = m_nodes[Idx(i)];
      n.hash = hash;
      n.used = true;
      n.value = VALUE();
      INT_PTR& head = m_buckets[hash % m_nHashTableSize];
      n.next = head;
      head = i;
      ++m_nCount;
      return i;
    } catch (const std::exception&) {
      return kNone;
    }
  }

  // Releases what a removed node holds and puts it on the free list.
  void FreeNode(INT_PTR i) {
    Node& n = m_nodes[Idx(i)];
    n.key = KEY();
    n.value = VALUE();
    n.used = false;
    n.next = m_free;
    m_free = i;
    --m_nCount;
  }

  std::deque<Node> m_nodes;       // entries and free nodes; never move
  std::vector<INT_PTR> m_buckets;  // first node of each bucket; empty until needed
  INT_PTR m_free = kNone;          // first free node
  INT_PTR m_nCount = 0;
  UINT m_nHashTableSize = 17;
  VALUE m_spare{};
};

// A map from a CString key (compared exactly, case-sensitively) to an untyped
// pointer; the base of the library's typed owning maps.
class SUNDRY_EXPORT CMapStringToPtr : public CMap<CString, const char*, void*, void*> {
 public:
  explicit CMapStringToPtr(INT_PTR nBlockSize = 10);
  ~CMapStringToPtr() override;
};

// A typed view of a pointer map: BASE_CLASS is CMapStringToPtr (or another
// CMap whose values are void*), KEY its key type as the caller sees it and
// VALUE a pointer type. The map does not own what the pointers point to;
// owning maps derive from it and delete their values.
template <class BASE_CLASS, class KEY, class VALUE>
class SUNDRY_EXPORT CTypedPtrMap : public BASE_CLASS {
  static_assert(std::is_pointer_v<VALUE>, "CTypedPtrMap holds pointers");
  using ArgKey = typename BASE_CLASS::BASE_ARG_KEY;
  using BaseKey = typename BASE_CLASS::BASE_KEY;
  using BaseValue = typename BASE_CLASS::BASE_VALUE;

 public:
  explicit CTypedPtrMap(INT_PTR nBlockSize = 10) : BASE_CLASS(nBlockSize) {}

  BOOL Lookup(ArgKey key, VALUE& rValue) const {
    BaseValue v = nullptr;
    if (!BASE_CLASS::Lookup(key, v)) return FALSE;
    rValue = static_cast<VALUE>(v);
    return TRUE;
  }
  // The value as a VALUE& over the stored void* (see CTypedPtrArray).
  VALUE& operator[](ArgKey key) { return reinterpret_cast<VALUE&>(BASE_CLASS::operator[](key)); }
  void SetAt(ArgKey key, VALUE newValue) { BASE_CLASS::SetAt(key, Untyped(newValue)); }
  BOOL RemoveKey(ArgKey key) { return BASE_CLASS::RemoveKey(key); }
  void GetNextAssoc(POSITION& rPosition, KEY& rKey, VALUE& rValue) const {
    // A stale position delivers nothing and leaves the outputs untouched.
    BaseValue v = nullptr;
    if constexpr (std::is_same_v<KEY, BaseKey>) {
      if (!BASE_CLASS::NextAssoc(rPosition, rKey, v)) return;
    } else {
      BaseKey k{};
      if (!BASE_CLASS::NextAssoc(rPosition, k, v)) return;
      rKey = static_cast<KEY>(k);
    }
    rValue = static_cast<VALUE>(v);
  }

 private:
  static BaseValue Untyped(VALUE p) { return const_cast<void*>(static_cast<const void*>(p)); }
};
