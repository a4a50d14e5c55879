#include "registry/registry_fixture.h"

#include <sundry/registry/RegistryKey.h>

#include <set>
#include <string>

namespace {

using sundry::test::RegistryTest;

class RegistryKeyTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    // Tree\A (values x, Y), Tree\A\A1\Deep, Tree\b, and a value on Tree.
    setText("Software\\Tree", "Top", "t");
    setText("Software\\Tree\\A", "x", "1");
    setNumber("Software\\Tree\\A", "Y", 2);
    makeKey("Software\\Tree\\A\\A1\\Deep");
    makeKey("Software\\Tree\\b");
  }
};

std::set<std::string> childNames(CRegistryKey& key) {
  std::set<std::string> names;
  CRegistryKey* child = nullptr;
  for (BOOL ok = key.getFirstSubKey(child); ok; ok = key.getNextSubKey(child))
    names.insert(child->getLastKeyLevel().GetString());
  return names;
}

TEST_F(RegistryKeyTest, DepthControlsHowFarTheTreeIsLoaded) {
  CRegistryKey none;
  ASSERT_TRUE(none.initialize(HKEY_CURRENT_USER, "Software\\Tree", 0, TRUE, FALSE, FALSE));
  EXPECT_EQ(0, none.getSubKeyCount());
  EXPECT_EQ(1, none.getValueCount());

  CRegistryKey negative;
  ASSERT_TRUE(negative.initialize(HKEY_CURRENT_USER, "Software\\Tree", -3, FALSE, FALSE, FALSE));
  EXPECT_EQ(0, negative.getSubKeyCount());
  EXPECT_EQ(0, negative.getValueCount());

  CRegistryKey one;
  ASSERT_TRUE(one.initialize(HKEY_CURRENT_USER, "Software\\Tree", 1, TRUE, FALSE, FALSE));
  EXPECT_EQ((std::set<std::string>{"A", "b"}), childNames(one));
  CRegistryKey* a = nullptr;
  ASSERT_TRUE(one.getSubKeyByName("a", a));
  EXPECT_EQ(2, a->getValueCount());   // children carry their values
  EXPECT_EQ(0, a->getSubKeyCount());  // but no grandchildren
  EXPECT_STREQ("Software\\Tree\\A", (*a)(""));

  const DWORD before = openHandles();
  CRegistryKey deep;
  ASSERT_TRUE(deep.initialize(HKEY_CURRENT_USER, "Software\\Tree", 3, FALSE, FALSE, FALSE));
  ASSERT_TRUE(deep.getSubKeyByName("A", a));
  CRegistryKey* a1 = nullptr;
  ASSERT_TRUE(a->getSubKeyByName("a1", a1));
  CRegistryKey* d = nullptr;
  ASSERT_TRUE(a1->getSubKeyByName("DEEP", d));
  EXPECT_TRUE(d->exists());
  EXPECT_EQ("Deep", std::string(d->getLastKeyLevel()));
  // One open handle per key (Tree, A, A1, Deep, b) plus the shared
  // connection of the top key.
  EXPECT_OPEN_HANDLES(before + 6u);
}

TEST_F(RegistryKeyTest, LookUpsIgnoreCaseAndChildrenKeepTheirOwn) {
  CRegistryKey key;
  ASSERT_TRUE(key.initialize(HKEY_CURRENT_USER, "Software\\Tree\\A", 0, TRUE, FALSE, FALSE));
  CRegistryValue* v = nullptr;
  ASSERT_TRUE(key.getValueByName("y", v));
  EXPECT_EQ("Y", std::string(v->getValueName()));
  EXPECT_EQ(2u, v->getDWORD());
  EXPECT_EQ(9, v->getState());
  EXPECT_FALSE(key.getValueByName("z", v));
  EXPECT_EQ(nullptr, v);
  EXPECT_TRUE(key == "Software\\Tree\\A");
  EXPECT_FALSE(key == "SOFTWARE\\TREE\\A");
  EXPECT_TRUE(key != "software\\tree\\a");
}

TEST_F(RegistryKeyTest, WalksFollowTheirCursorRules) {
  CRegistryKey leaf;
  ASSERT_TRUE(leaf.initialize(HKEY_CURRENT_USER, "Software\\Tree\\b", 1, TRUE, FALSE, FALSE));
  CRegistryKey* k = reinterpret_cast<CRegistryKey*>(&leaf);
  EXPECT_FALSE(leaf.getFirstSubKey(k));
  EXPECT_EQ(nullptr, k);  // the sub-key walk clears its out-parameter
  CRegistryValue sentinel;
  CRegistryValue* v = &sentinel;
  EXPECT_FALSE(leaf.getFirstValue(v));
  EXPECT_EQ(&sentinel, v);  // the value walk leaves it as it was

  CRegistryKey top;
  ASSERT_TRUE(top.initialize(HKEY_CURRENT_USER, "Software\\Tree", 1, TRUE, FALSE, FALSE));
  // Single value: getLast from a fresh cursor delivers it.
  ASSERT_TRUE(top.getLastValue(v));
  EXPECT_EQ("Top", std::string(v->getValueName()));
  EXPECT_FALSE(top.getNextValue(v));
  // Two children: last ends on the walk's last element, then next fails and
  // last starts over.
  CRegistryKey* first = nullptr;
  CRegistryKey* second = nullptr;
  ASSERT_TRUE(top.getFirstSubKey(first));
  ASSERT_TRUE(top.getNextSubKey(second));
  EXPECT_FALSE(top.getNextSubKey(k));
  CRegistryKey* last = nullptr;
  ASSERT_TRUE(top.getLastSubKey(last));
  EXPECT_EQ(second, last);
  EXPECT_FALSE(top.getNextSubKey(k));
  ASSERT_TRUE(top.getLastSubKey(last));
  EXPECT_EQ(second, last);
}

TEST_F(RegistryKeyTest, RemoveSubKeyDeletesTheChildNotTheKey) {
  CRegistryKey top;
  ASSERT_TRUE(top.initialize(HKEY_CURRENT_USER, "Software\\Tree", 1, FALSE, FALSE, FALSE));
  CRegistryKey* b = nullptr;
  ASSERT_TRUE(top.getSubKeyByName("B", b));
  DWORD before = openHandles();
  EXPECT_TRUE(top.removeSubKey(b));
  EXPECT_EQ(1, top.getSubKeyCount());
  EXPECT_OPEN_HANDLES(before - 1);
  EXPECT_TRUE(keyExists("Software\\Tree\\b"));
  CRegistryKey stranger;
  EXPECT_FALSE(top.removeSubKey(&stranger));
  EXPECT_EQ(1, top.getSubKeyCount());
}

TEST_F(RegistryKeyTest, ReinitializeRebuildsAndCreatedKeysAreNotRead) {
  CRegistryKey top;
  ASSERT_TRUE(top.initialize(HKEY_CURRENT_USER, "Software\\Tree", 0, TRUE, FALSE, FALSE));
  EXPECT_EQ(0, top.getSubKeyCount());
  ASSERT_TRUE(top.reInitialize(1, FALSE));
  EXPECT_EQ(2, top.getSubKeyCount());
  EXPECT_EQ(1, top.getValueCount());

  CRegistryKey made;
  ASSERT_TRUE(made.initialize(HKEY_CURRENT_USER, "Software\\Tree\\New", 2, TRUE, TRUE, FALSE));
  EXPECT_TRUE(made.isCreated());
  EXPECT_EQ(0, made.getSubKeyCount());
  EXPECT_TRUE(keyExists("Software\\Tree\\New"));
  setText("Software\\Tree\\New", "v", "1");
  ASSERT_TRUE(made.reInitialize(1, FALSE));
  EXPECT_EQ(0, made.getValueCount());  // a key this object created is never read
}

TEST_F(RegistryKeyTest, TreeAtARootFormsChildPathsWithoutALeadingSeparator) {
  CRegistryKey root;
  ASSERT_TRUE(root.initialize(HKEY_CURRENT_USER, "", 2, FALSE, FALSE, FALSE));
  EXPECT_EQ("", std::string(root.getLastKeyLevel()));
  CRegistryKey* software = nullptr;
  ASSERT_TRUE(root.getSubKeyByName("software", software));
  EXPECT_EQ("Software", std::string(software->getSubKey()));
  EXPECT_TRUE(software->exists());
  CRegistryKey* tree = nullptr;
  ASSERT_TRUE(software->getSubKeyByName("TREE", tree));
  EXPECT_EQ("Software\\Tree", std::string(tree->getSubKey()));
}

TEST_F(RegistryKeyTest, OverlongNamesAreRefusedNotTruncated) {
  CRegistryKey top;
  ASSERT_TRUE(top.initialize(HKEY_CURRENT_USER, "Software\\Tree", 1, TRUE, FALSE, FALSE));
  // 300 characters whose first 255 would not match anyway, and a name that
  // starts like a real child.
  std::string longName = "A" + std::string(299, 'x');
  CRegistryKey* k = nullptr;
  CRegistryValue* v = nullptr;
  EXPECT_FALSE(top.getSubKeyByName(longName.c_str(), k));
  EXPECT_EQ(nullptr, k);
  EXPECT_FALSE(top.getValueByName(std::string(256, 'T').c_str(), v));
  EXPECT_TRUE(top.getSubKeyByName(std::string("A").c_str(), k));
}

TEST_F(RegistryKeyTest, PathsLongerThanTheLimitAreLeftOut) {
  if (sundry::test::UnderWine()) GTEST_SKIP() << "Wine refuses key paths this long (ERROR_MORE_DATA)";
  // A chain of keys whose full path passes 255 characters.
  std::string path = "Software\\Long";
  for (int i = 0; i < 30; ++i) path += "\\" + std::string(9, static_cast<char>('a' + i % 26));
  makeKey(path);
  CRegistryKey top;
  // Errors of children do not reach the parent's result.
  EXPECT_TRUE(top.initialize(HKEY_CURRENT_USER, "Software\\Long", 40, FALSE, FALSE, FALSE));
  // Walk down as far as the tree goes: no loaded key's path is over the
  // limit, and the failure was recorded somewhere below.
  CRegistryKey* k = &top;
  int levels = 0;
  while (k->getSubKeyCount() > 0) {
    CRegistryKey* child = nullptr;
    ASSERT_TRUE(k->getFirstSubKey(child));
    EXPECT_LE(child->getSubKey().GetLength(), 255);
    k = child;
    ++levels;
  }
  EXPECT_GT(levels, 20);
  EXPECT_LT(levels, 30);
  EXPECT_WIN32(ERROR_FILENAME_EXCED_RANGE, k->getLastError());
}

TEST_F(RegistryKeyTest, CoordinatesAreValidatedBeforeAnyConnection) {
  CRegistryKey k;
  EXPECT_FALSE(k.initialize("server", HKEY_CURRENT_USER, "Software", 1, FALSE, FALSE, FALSE));
  EXPECT_FALSE(k.exists());
  EXPECT_OPEN_HANDLES(0u);
  EXPECT_FALSE(k.initialize(nullptr, HKEY_PERFORMANCE_DATA, "Software", 1, FALSE, FALSE, FALSE));

  CRegistryKey remote;
  EXPECT_FALSE(remote.initialize("otherhost", HKEY_LOCAL_MACHINE, "Software", 0, FALSE, FALSE, FALSE));
  EXPECT_WIN32(ERROR_BAD_NETPATH, remote.getLastError());
  EXPECT_EQ("\\\\otherhost", std::string(remote.getMachine()));
  EXPECT_EQ("\\\\otherhost\\HKEY_LOCAL_MACHINE", std::string(remote.getRootKeyName()));

  CRegistryKey local;
  if (!sundry::test::UnderWine()) {  // Wine's RegConnectRegistryA refuses "\\."
    EXPECT_TRUE(local.initialize("\\\\.", HKEY_LOCAL_MACHINE, "", 0, FALSE, FALSE, FALSE));
    EXPECT_EQ("\\\\.", std::string(local.getMachine()));
  }
  CRegistryKey plain;
  EXPECT_TRUE(plain.initialize(nullptr, HKEY_CURRENT_USER, "Software", 0, FALSE, FALSE, FALSE));
  EXPECT_EQ("\\HKEY_CURRENT_USER", std::string(plain.getRootKeyName()));
  EXPECT_EQ("Software", std::string(plain.getLastKeyLevel()));
}

TEST_F(RegistryKeyTest, RemoveKeyDeletesALeafAndRecordsFailures) {
  CRegistryKey deep;
  ASSERT_TRUE(deep.initialize(HKEY_CURRENT_USER, "Software\\Tree\\A\\A1\\Deep", 0, FALSE, FALSE, FALSE));
  EXPECT_TRUE(deep.removeKey());
  EXPECT_FALSE(keyExists("Software\\Tree\\A\\A1\\Deep"));
  CRegistryKey parent;
  ASSERT_TRUE(parent.initialize(HKEY_CURRENT_USER, "Software\\Tree\\A", 0, FALSE, FALSE, FALSE));
  EXPECT_FALSE(parent.removeKey());  // has a sub-key
  EXPECT_WIN32(ERROR_ACCESS_DENIED, parent.getLastError());
}

// Fills the process-wide handle table the way a derived class may.
class HandleTableUser : public CRegistryBase {
 public:
  static void add(const char* path, HKEY key) { m_KeyCollection.SetAt(path, key); }
  static INT_PTR count() { return m_KeyCollection.GetCount(); }
};

TEST_F(RegistryKeyTest, CloseAllRegistriesClosesAndEmptiesTheTable) {
  EXPECT_TRUE(CRegistryBase::CloseAllRegistries());
  HKEY a = nullptr, b = nullptr;
  ASSERT_WIN32(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tree", 0, KEY_READ, &a));
  ASSERT_WIN32(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tree\\A", 0, KEY_READ, &b));
  HandleTableUser::add("Software\\Tree", a);
  HandleTableUser::add("Software\\Tree\\A", b);
  EXPECT_OPEN_HANDLES(2u);
  EXPECT_TRUE(CRegistryBase::CloseAllRegistries());
  EXPECT_OPEN_HANDLES(0u);
  EXPECT_EQ(0, HandleTableUser::count());
  HandleTableUser::add("stale", a);  // already closed
  EXPECT_FALSE(CRegistryBase::CloseAllRegistries());
  EXPECT_EQ(0, HandleTableUser::count());
}

}  // namespace
