// The framework collections: arrays of strings and pointers, and the hash
// maps the registry tree, the proxy list and the string map are built on.

#include <gtest/gtest.h>
#include <sundry/platform/Collections.h>

#include <map>
#include <set>
#include <string>

namespace {

std::string Join(const CStringArray& a) {
  std::string out;
  for (INT_PTR i = 0; i < a.GetSize(); ++i) out += (i ? "," : "") + a[i].str();
  return out;
}

// ---------------------------------------------------------------------------
// Arrays

TEST(CStringArray, Editing) {
  CStringArray a, b;
  EXPECT_EQ(0, a.Add("b"));  // Add gives the new index
  EXPECT_EQ(1, a.Add(CString("d")));
  a.InsertAt(0, "a");
  a.InsertAt(2, "c", 2);
  EXPECT_EQ("a,b,c,c,d", Join(a));
  EXPECT_EQ(4, a.GetUpperBound());
  a.RemoveAt(2, 2);
  a.InsertAt(5, "z");  // past the end: the gap holds empty strings
  EXPECT_EQ("a,b,d,,,z", Join(a));
  a.RemoveAt(3, 2);
  a.ElementAt(3) += "!";
  EXPECT_EQ(4, a.Append(a));  // Append gives the old size; an array may append itself
  b.Copy(a);
  a.RemoveAll();
  b.SetSize(2);
  b.SetSize(4, 16);
  b.SetAtGrow(6, "g");
  EXPECT_EQ("a,b,,,,,g", Join(b));
  b.RemoveAt(2, 4);
  b.InsertAt(1, &b);  // an array into itself
  b.InsertAt(7, &b);  // and past its end
  EXPECT_EQ("a,a,b,g,b,g,,a,a,b,g,b,g", Join(b));
}

TEST(CStringArray, ElementsPassedFromTheSameArray) {
  // Adding or inserting an element of the array itself must copy it before
  // the storage moves (run under AddressSanitizer to see the difference).
  CStringArray a;
  a.Add("seed-string-longer-than-any-small-buffer");
  for (int i = 0; i < 200; ++i) a.Add(a[0]);
  a.InsertAt(0, a[a.GetUpperBound()], 50);
  a.SetAtGrow(1000, a[0]);
  EXPECT_EQ(1001, a.GetSize());
  EXPECT_EQ(a[0], a[250]);
  EXPECT_EQ(a[0], a[1000]);
  EXPECT_TRUE(a[999].IsEmpty());
}

TEST(CStringArray, OutOfRangeIsRefused) {
  CStringArray a;
  a.Add("only");
  EXPECT_DEBUG_DEATH(a.SetAt(1, "x"), "out of range");
  EXPECT_DEBUG_DEATH(EXPECT_TRUE(a.GetAt(5).IsEmpty()), "out of range");
  EXPECT_DEBUG_DEATH(a[7] = "written", "out of range");  // goes to the spare element
  EXPECT_DEBUG_DEATH(EXPECT_TRUE(a[7].IsEmpty()), "out of range");
  EXPECT_DEBUG_DEATH(a.RemoveAt(0, 2), "out of range");
  EXPECT_DEBUG_DEATH(a.InsertAt(-1, "x"), "out of range");
  EXPECT_DEBUG_DEATH(a.SetAtGrow(-1, "x"), "out of range");
  EXPECT_DEBUG_DEATH(a.SetSize(-1), "out of range");
  EXPECT_EQ("only", Join(a));
  // A size beyond what the array can ever hold is refused, not thrown.
  CPtrArray p;
  p.Add(nullptr);
  p.SetSize(INTPTR_MAX / 2);
  EXPECT_EQ(1, p.GetSize());
  p.InsertAt(0, nullptr, INTPTR_MAX / 2);
  EXPECT_EQ(1, p.GetSize());
}

struct Item {
  int value;
};

TEST(CTypedPtrArray, TypedAccess) {
  Item items[120];
  CTypedPtrArray<CPtrArray, Item*> a;
  a.SetSize(99);  // empty slots, overwritten from index 0 and grown past 99
  for (int i = 0; i < 120; ++i) {
    items[i].value = i;
    a.SetAtGrow(i, &items[i]);
  }
  EXPECT_EQ(120, a.GetSize());
  EXPECT_EQ(119, a.GetAt(119)->value);
  Item extra{-1};
  Item* p = &extra;
  std::swap(a.ElementAt(7), p);  // ElementAt is a real reference
  EXPECT_EQ(-1, a[7]->value);
  EXPECT_EQ(7, p->value);
}

// ---------------------------------------------------------------------------
// Maps

// The shape of the process-wide handle table: CString keys passed as
// const char*, HKEY values, 11 buckets.
using KeyMap = CMap<CString, const char*, HKEY, HKEY>;

HKEY H(uintptr_t v) { return reinterpret_cast<HKEY>(v); }

TEST(CMap, SetLookupReplaceRemove) {
  KeyMap m(10);
  m.InitHashTable(11);
  EXPECT_EQ(11u, m.GetHashTableSize());
  HKEY out = H(0x55);
  EXPECT_FALSE(m.Lookup("missing", out));
  EXPECT_EQ(H(0x55), out);  // a miss leaves the value alone
  m.SetAt("a", H(1));
  m.SetAt("a", H(2));  // replaces
  EXPECT_EQ(1, m.GetCount());
  EXPECT_TRUE(m.Lookup("a", out));
  EXPECT_EQ(H(2), out);
  EXPECT_EQ(nullptr, m["new"]);  // operator[] adds a default value
  EXPECT_EQ(2, m.GetCount());
  EXPECT_TRUE(m.RemoveKey("a"));
  EXPECT_FALSE(m.RemoveKey("a"));
  EXPECT_FALSE(m.Lookup("a", out));
  m.RemoveAll();
  EXPECT_EQ(nullptr, m.GetStartPosition());
  EXPECT_EQ(11u, m.GetHashTableSize());
}

TEST(CMap, WalkVisitsEveryEntryOnceAndEndsWithNull) {
  KeyMap m;
  m.InitHashTable(11);
  const int n = 500;  // many entries per bucket
  for (int i = 0; i < n; ++i) m.SetAt(("k" + std::to_string(i)).c_str(), H(i + 1));
  for (int i = 0; i < n; i += 3) m.RemoveKey(("k" + std::to_string(i)).c_str());  // leaves free nodes
  for (int i = 0; i < n; i += 6) m.SetAt(("k" + std::to_string(i)).c_str(), H(i + 1));  // reuses them
  std::map<std::string, uintptr_t> seen;
  POSITION pos = m.GetStartPosition();
  int steps = 0;
  while (pos != nullptr && steps++ <= n) {
    CString key;
    HKEY value = nullptr;
    m.GetNextAssoc(pos, key, value);
    EXPECT_TRUE(seen.emplace(key.str(), reinterpret_cast<uintptr_t>(value)).second) << key;
  }
  EXPECT_EQ(static_cast<size_t>(m.GetCount()), seen.size());
  for (auto& [key, value] : seen) EXPECT_EQ("k" + std::to_string(value - 1), key);
}

TEST(CMap, RemovingTheDeliveredEntryKeepsTheWalkGoing) {
  KeyMap m;
  m.InitHashTable(7);
  for (int i = 0; i < 100; ++i) m.SetAt(("v" + std::to_string(i)).c_str(), H(i));
  std::set<std::string> seen;
  POSITION pos = m.GetStartPosition();
  while (pos != nullptr) {
    CString key;
    HKEY value;
    m.GetNextAssoc(pos, key, value);
    seen.insert(key.str());
    EXPECT_TRUE(m.RemoveKey(key));
  }
  EXPECT_EQ(100u, seen.size());
  EXPECT_TRUE(m.IsEmpty());
}

TEST(CMap, StalePositionsEndTheWalk) {
  KeyMap m;
  for (int i = 0; i < 10; ++i) m.SetAt(std::to_string(i).c_str(), H(i + 100));
  POSITION pos = m.GetStartPosition();
  CString key("untouched");
  HKEY value = H(7);
  m.GetNextAssoc(pos, key, value);
  ASSERT_NE(nullptr, pos);
  m.RemoveAll();  // pos now names nothing
  key = "untouched";
  value = H(7);
  EXPECT_DEBUG_DEATH(
      {
        m.GetNextAssoc(pos, key, value);
        EXPECT_EQ(nullptr, pos);
        EXPECT_EQ("untouched", key);
        EXPECT_EQ(H(7), value);
      },
      "stale");
}

TEST(CMap, RehashingKeepsEntries) {
  KeyMap m;
  for (int i = 0; i < 40; ++i) m.SetAt(std::to_string(i).c_str(), H(i));
  m.InitHashTable(257);
  EXPECT_EQ(257u, m.GetHashTableSize());
  EXPECT_EQ(40, m.GetCount());
  for (int i = 0; i < 40; ++i) {
    HKEY v = nullptr;
    EXPECT_TRUE(m.Lookup(std::to_string(i).c_str(), v));
    EXPECT_EQ(H(i), v);
  }
  EXPECT_DEBUG_DEATH(m.InitHashTable(0), "positive");
  EXPECT_DEBUG_DEATH(m.InitHashTable(static_cast<UINT>(-5)), "positive");  // a negative int size
  EXPECT_EQ(257u, m.GetHashTableSize());
  EXPECT_EQ(40, m.GetCount());
}

TEST(CMap, ReferencesFromOperatorBracketSurviveGrowth) {
  CMap<int, int, CString, const CString&> m;
  CString& first = m[1];
  first = "one";
  for (int i = 2; i < 5000; ++i) m[i] = "x";
  EXPECT_EQ("one", first);
  first = "uno";
  CString v;
  EXPECT_TRUE(m.Lookup(1, v));
  EXPECT_EQ("uno", v);
}

TEST(HashKey, StringsHashByTheirBytes) {
  // hash = hash * 33 + byte, from 0.
  EXPECT_EQ(0u, HashKey<const char*>(""));
  EXPECT_EQ(0u, HashKey<const char*>(nullptr));
  EXPECT_EQ(97u * 33 + 98, HashKey<const char*>("ab"));
  EXPECT_EQ(0xE9u, HashKey<const char*>("\xE9"));  // bytes are unsigned
  EXPECT_EQ(HashKey<const char*>("Software\\Key"), HashKey<const CString&>(CString("Software\\Key")));
  EXPECT_NE(HashKey<const CString&>(CString("a\0b", 3)), HashKey<const CString&>(CString("a")));
  EXPECT_EQ(0x1234u, HashKey<HKEY>(H(0x12345)));
}

// The owning maps of the library (registry children, proxy list, string
// map) are typed maps over CMapStringToPtr whose keys are case-sensitive.
using ItemMap = CTypedPtrMap<CMapStringToPtr, CString, Item*>;

TEST(CTypedPtrMap, TypedAndCaseSensitive) {
  ItemMap m(10);
  m.InitHashTable(257);
  m.SetAt("Key", new Item{1});
  m.SetAt(CString("KEY"), new Item{2});
  EXPECT_EQ(2, m.GetCount());
  Item* it = nullptr;
  EXPECT_TRUE(m.Lookup("KEY", it));
  EXPECT_EQ(2, it->value);
  EXPECT_FALSE(m.Lookup("key", it));
  EXPECT_EQ(2, it->value);  // unchanged by the miss
  Item*& slot = m["new"];
  EXPECT_EQ(nullptr, slot);
  slot = new Item{3};
  EXPECT_TRUE(m.Lookup("new", it));
  EXPECT_EQ(3, it->value);

  // The owning maps' RemoveAll: take the first entry, delete it, remove
  // its key (LeakSanitizer checks that every value went).
  int sum = 0;
  while (!m.IsEmpty()) {
    POSITION pos = m.GetStartPosition();
    CString key;
    Item* value = nullptr;
    m.GetNextAssoc(pos, key, value);
    sum += value->value;
    delete value;
    ASSERT_TRUE(m.RemoveKey(key));
  }
  EXPECT_EQ(6, sum);
}

}  // namespace
