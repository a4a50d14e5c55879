// The framework collections: arrays of strings and pointers, and the hash
// maps the registry tree, the proxy list and the string map are built on.

#include <gtest/gtest.h>
#include <sundry/platform/Collections.h>

#include <map>
#include <string>

namespace {

std::string Join(const CStringArray& a) {
  std::string out;
  for (INT_PTR i = 0; i < a.GetSize(); ++i) out += (i ? "," : "") + a[i].str();
  return out;
}

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
  // Adding or inserting an element of the array itself must copy it before
  // the storage moves (the sanitizer build sees the difference).
  CStringArray s;
  s.Add("seed-string-longer-than-any-small-buffer");
  for (int i = 0; i < 200; ++i) s.Add(s[0]);
  s.InsertAt(0, s[s.GetUpperBound()], 50);
  s.SetAtGrow(1000, s[0]);
  EXPECT_EQ(1001, s.GetSize());
  EXPECT_EQ(s[0], s[250]);
  EXPECT_EQ(s[0], s[1000]);
  EXPECT_TRUE(s[999].IsEmpty());
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
  p.InsertAt(0, nullptr, INTPTR_MAX / 2);
  EXPECT_EQ(1, p.GetSize());
}

// The shape of the process-wide handle table: CString keys passed as
// const char*, HKEY values.
using KeyMap = CMap<CString, const char*, HKEY, HKEY>;

HKEY H(uintptr_t v) { return reinterpret_cast<HKEY>(v); }
std::string K(int i) { return "k" + std::to_string(i); }

TEST(CMap, SetLookupReplaceRemoveRehash) {
  KeyMap m(10);
  m.InitHashTable(11);
  HKEY out = H(0x55);
  EXPECT_FALSE(m.Lookup("missing", out));
  EXPECT_EQ(H(0x55), out);  // a miss leaves the value alone
  m.SetAt("a", H(1));
  m.SetAt("a", H(2));  // replaces
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
  // A new bucket count keeps the entries; an impossible one is refused.
  for (int i = 0; i < 40; ++i) m.SetAt(K(i).c_str(), H(i));
  m.InitHashTable(257);
  EXPECT_DEBUG_DEATH(m.InitHashTable(0), "positive");
  EXPECT_DEBUG_DEATH(m.InitHashTable(static_cast<UINT>(-5)), "positive");  // a negative int size
  EXPECT_EQ(257u, m.GetHashTableSize());
  EXPECT_EQ(40, m.GetCount());
  for (int i = 0; i < 40; ++i) EXPECT_TRUE(m.Lookup(K(i).c_str(), out) && out == H(i)) << i;
}

TEST(CMap, WalkVisitsEveryEntryOnceAndMayRemoveWhatItDelivered) {
  KeyMap m;
  m.InitHashTable(11);
  const int n = 500;  // many entries per bucket
  for (int i = 0; i < n; ++i) m.SetAt(K(i).c_str(), H(i + 1));
  for (int i = 0; i < n; i += 3) m.RemoveKey(K(i).c_str());  // leaves free nodes
  for (int i = 0; i < n; i += 6) m.SetAt(K(i).c_str(), H(i + 1));  // reuses them
  const INT_PTR count = m.GetCount();
  std::map<std::string, uintptr_t> seen;
  POSITION pos = m.GetStartPosition();
  for (int steps = 0; pos != nullptr && steps <= n; ++steps) {
    CString key;
    HKEY value = nullptr;
    m.GetNextAssoc(pos, key, value);
    EXPECT_TRUE(seen.emplace(key.str(), reinterpret_cast<uintptr_t>(value)).second) << key;
    EXPECT_TRUE(m.RemoveKey(key));  // as the owning maps' RemoveAll does
  }
  EXPECT_EQ(static_cast<size_t>(count), seen.size());
  for (auto& [key, value] : seen) EXPECT_EQ(K(static_cast<int>(value - 1)), key);
  EXPECT_TRUE(m.IsEmpty());
}

TEST(CMap, StalePositionsEndTheWalk) {
  KeyMap m;
  for (int i = 0; i < 10; ++i) m.SetAt(K(i).c_str(), H(i + 100));
  POSITION pos = m.GetStartPosition();
  CString key;
  HKEY value;
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
  // hash = hash * 33 + byte, from 0: it decides the order of every walk.
  EXPECT_EQ(0u, HashKey<const char*>(nullptr));
  EXPECT_EQ(97u * 33 + 98, HashKey<const char*>("ab"));
  EXPECT_EQ(0xE9u, HashKey<const char*>("\xE9"));  // bytes are unsigned
  EXPECT_EQ(HashKey<const char*>("Software\\Key"), HashKey<const CString&>(CString("Software\\Key")));
  EXPECT_NE(HashKey<const CString&>(CString("a\0b", 3)), HashKey<const CString&>(CString("a")));
  EXPECT_EQ(0x1234u, HashKey<HKEY>(H(0x12345)));
}

// The typed views over the pointer containers hand out references into
// the storage, and the owning maps' keys are case-sensitive.
TEST(TypedPointerContainers, ReferencesAndCaseSensitiveKeys) {
  int values[3] = {0, 1, 2};
  CTypedPtrArray<CPtrArray, int*> a;
  a.SetAtGrow(7, &values[0]);
  int* p = &values[1];
  std::swap(a.ElementAt(7), p);
  EXPECT_EQ(&values[1], a[7]);
  EXPECT_EQ(&values[0], p);

  CTypedPtrMap<CMapStringToPtr, CString, int*> m;
  m.SetAt("Key", &values[1]);
  m["KEY"] = &values[2];
  int* it = nullptr;
  EXPECT_TRUE(m.Lookup("KEY", it));
  EXPECT_EQ(&values[2], it);
  EXPECT_FALSE(m.Lookup("key", it));
  EXPECT_EQ(&values[2], it);  // unchanged by the miss
  EXPECT_EQ(2, m.GetCount());
}

}  // namespace
