#include "registry/registry_fixture.h"

#include <sundry/registry/RegistryKeysFiltered.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// Allocation failure on demand: this test executable's operator new fails
// the n-th allocation after FailAllocation(n), once.
namespace {
long g_allocationsLeft = -1;  // -1: never fail
bool g_allocationFailed = false;
void FailAllocation(long n) {
  g_allocationFailed = false;
  g_allocationsLeft = n;
}
bool StopFailing() {
  g_allocationsLeft = -1;
  return g_allocationFailed;
}
}  // namespace

// These functions are the allocator's pair: malloc behind new, free behind
// delete (GCC cannot see that the two belong together).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
  if (g_allocationsLeft >= 0 && g_allocationsLeft-- == 0) {
    g_allocationFailed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using sundry::test::RegistryTest;

class FilteredSearchTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    setText("Software\\S\\FOOD", "Kind", "ABC");
    setRaw("Software\\S\\bar", "Kind", REG_SZ, "", 0);  // empty text without terminator
    setNumber("Software\\S\\bar", "Num", 5);
    setText("Software\\S\\BARN", "Kind", "abcdef");
    setRaw("Software\\S\\BARN\\Inner", "Kind", REG_BINARY, nullptr, 0);
  }
  static std::vector<std::string> paths(CRegistryKeysFiltered& found) {
    std::vector<std::string> out;
    for (int i = 0; i < found.getCount(); ++i) out.push_back(found.GetAt(i)->getSubKey().GetString());
    return out;
  }
  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
};

TEST_F(FilteredSearchTest, WithoutFiltersEveryKeyMatchesInPreOrder) {
  CRegistryKeysFiltered found;
  ASSERT_TRUE(found.initialize(HKEY_CURRENT_USER, "Software\\S", TRUE));
  auto p = paths(found);
  ASSERT_EQ(5u, p.size());
  EXPECT_EQ("Software\\S", p[0]);  // the top key first
  // A key comes before its descendants.
  auto barn = std::find(p.begin(), p.end(), "Software\\S\\BARN");
  auto inner = std::find(p.begin(), p.end(), "Software\\S\\BARN\\Inner");
  ASSERT_NE(p.end(), barn);
  ASSERT_NE(p.end(), inner);
  EXPECT_EQ(barn + 1, inner);
  // Matches are open, loaded keys of their own.
  EXPECT_TRUE(found.GetAt(1)->exists());
  EXPECT_EQ(1, found.GetAt(inner - p.begin())->getValueCount());
}

TEST_F(FilteredSearchTest, KeyFiltersAreAlternatives) {
  CRegistryKeysFiltered found;
  found.setKeyFilter(*"Foo", CRegistryKeysFiltered::ePREFIX);
  found.setKeyFilter(*"bar", CRegistryKeysFiltered::eEQUAL);
  ASSERT_TRUE(found.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));
  EXPECT_EQ((std::vector<std::string>{"Software\\S\\FOOD", "Software\\S\\bar"}), sorted(paths(found)));

  CRegistryKeysFiltered none;
  none.setKeyFilter(*"bar", CRegistryKeysFiltered::eNONE);
  EXPECT_FALSE(none.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));
  EXPECT_EQ(0, none.getCount());
}

TEST_F(FilteredSearchTest, StringValueFilters) {
  {
    CRegistryKeysFiltered exists;  // data null: the value must only be readable
    exists.setValueFilter("kind", static_cast<const char*>(nullptr), CRegistryKeysFiltered::eEQUAL,
                          CRegistryKeysFiltered::eEQUAL);
    exists.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE);
    // The empty REG_BINARY reads, the empty REG_SZ does not.
    EXPECT_EQ((std::vector<std::string>{"Software\\S\\BARN", "Software\\S\\BARN\\Inner", "Software\\S\\FOOD"}),
              sorted(paths(exists)));
  }
  {
    CRegistryKeysFiltered prefix;
    prefix.setValueFilter("Kind", "abcdef", CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::ePREFIX);
    prefix.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE);
    EXPECT_EQ((std::vector<std::string>{"Software\\S\\BARN", "Software\\S\\FOOD"}), sorted(paths(prefix)));
  }
  {
    CRegistryKeysFiltered exact;
    exact.setValueFilter("Kind", "abc", CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::eEQUAL);
    EXPECT_FALSE(exact.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));  // case-sensitive: ABC differs
  }
  {
    CRegistryKeysFiltered badName;
    badName.setValueFilter("Kind", "ABC", CRegistryKeysFiltered::ePREFIX, CRegistryKeysFiltered::eEQUAL);
    EXPECT_FALSE(badName.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));
  }
}

TEST_F(FilteredSearchTest, NumberFiltersAndAllValueFiltersMustPass) {
  setText("Software\\S\\bar", "Kind", "x");
  unsigned long five = 5, six = 6;
  CRegistryKeysFiltered both;
  both.setValueFilter("Num", &five, CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::eEQUAL);
  both.setValueFilter("Kind", "x", CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::eEQUAL);
  both.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE);
  EXPECT_EQ((std::vector<std::string>{"Software\\S\\bar"}), paths(both));

  CRegistryKeysFiltered wrong;
  wrong.setValueFilter("Num", &six, CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::eEQUAL);
  EXPECT_FALSE(wrong.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));
  CRegistryKeysFiltered prefix;
  prefix.setValueFilter("Num", &five, CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::ePREFIX);
  EXPECT_FALSE(prefix.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));
}

TEST_F(FilteredSearchTest, EmptyTextFilterMatchesEmptyValue) {
  setText("Software\\S\\bar", "Kind", "");  // stored as a lone terminator: readable, empty text
  CRegistryKeysFiltered found;
  found.setValueFilter("Kind", "", CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::eNONE);
  found.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE);
  // The empty REG_BINARY value reads as an empty text too.
  EXPECT_EQ((std::vector<std::string>{"Software\\S\\BARN\\Inner", "Software\\S\\bar"}), sorted(paths(found)));
}

TEST_F(FilteredSearchTest, OverlongFilterNamesMatchNothing) {
  // A key whose name is the first 255 characters of the filter's name must
  // not be matched by a truncated copy of it. Key paths hold at most 255
  // characters, so such a key sits right below a root.
  std::string name255(255, 'k');
  makeKey(name255);
  std::string longName = name255 + "EXTRA";
  CRegistryKeysFiltered found;
  EXPECT_FALSE(found.setKeyFilter(*longName.c_str(), CRegistryKeysFiltered::ePREFIX));
  EXPECT_FALSE(found.initialize(HKEY_CURRENT_USER, "", FALSE));

  CRegistryKeysFiltered fits;
  EXPECT_TRUE(fits.setKeyFilter(*name255.c_str(), CRegistryKeysFiltered::eEQUAL));
  EXPECT_TRUE(fits.initialize(HKEY_CURRENT_USER, "", FALSE));
  EXPECT_EQ(1, fits.getCount());

  CRegistryKeysFiltered value;
  EXPECT_FALSE(value.setValueFilter(std::string(300, 'v').c_str(), static_cast<const char*>(nullptr),
                                    CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::eEQUAL));
  EXPECT_FALSE(value.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));
}

TEST_F(FilteredSearchTest, CountsRestartAndMatchesAreReleased) {
  CRegistryKeysFiltered found;
  ASSERT_TRUE(found.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));
  EXPECT_EQ(5, found.getCount());
  if (countsHandles()) {
    EXPECT_GT(openHandles(), 0u);
  }
  found.RemoveAll();
  EXPECT_EQ(0, found.getCount());
  EXPECT_OPEN_HANDLES(0u);
  ASSERT_TRUE(found.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));
  ASSERT_TRUE(found.initialize(HKEY_CURRENT_USER, "Software\\S", FALSE));  // without RemoveAll
  EXPECT_EQ(5, found.getCount());
  found.RemoveAll();
  EXPECT_OPEN_HANDLES(0u);  // nothing of the first search leaked
}

TEST_F(FilteredSearchTest, FilterCopiesOwnTheirData) {
  CValFilter a;
  a.m_DataType = REG_SZ;
  a.m_DataLen = 3;
  a.m_pData = new unsigned char[5]{'a', 'b', 'c', 0, 0};
  CValFilter b;
  b = a;
  CValFilter c(a);
  EXPECT_NE(a.m_pData, b.m_pData);
  EXPECT_EQ(0, std::memcmp(b.m_pData, "abc", 4));
  EXPECT_EQ(0, std::memcmp(c.m_pData, "abc", 4));
}  // each frees its own buffer once (checked under the sanitizers)

TEST_F(FilteredSearchTest, RunningOutOfMemoryLeaksNothingAndThrowsNothing) {
  // As a caller does: a filter that could not be set stops the search.
  auto search = [](CRegistryKeysFiltered& found) {
    return found.setKeyFilter(*"b", CRegistryKeysFiltered::ePREFIX) &&
           found.setValueFilter("Kind", "abc", CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::ePREFIX) &&
           (found.initialize(HKEY_CURRENT_USER, "Software\\S", TRUE), true);
  };
  std::vector<std::string> expected;
  {
    CRegistryKeysFiltered found;
    ASSERT_TRUE(search(found));
    expected = paths(found);
    ASSERT_FALSE(expected.empty());
  }
  // Every allocation of setting the filters and searching fails in turn.
  for (long n = 0;; ++n) {
    bool failed = false;
    {
      CRegistryKeysFiltered found;
      FailAllocation(n);
      try {
        search(found);
        failed = StopFailing();
      } catch (...) {
        failed = StopFailing();
        ADD_FAILURE() << "an exception left the search, allocation " << n;
      }
      ASSERT_LE(static_cast<size_t>(found.getCount()), expected.size()) << "allocation " << n;
      for (int i = 0; i < found.getCount(); ++i) {
        ASSERT_NE(nullptr, found.GetAt(i)) << "allocation " << n;
        EXPECT_NE(expected.end(), std::find(expected.begin(), expected.end(), found.GetAt(i)->getSubKey().GetString()));
      }
      if (!failed) {
        EXPECT_EQ(expected, paths(found));
      }
    }
    if (countsHandles()) {
      ASSERT_EQ(0u, openHandles()) << "a key handle leaked at allocation " << n;
    }
    if (!failed) {  // the whole run passed without reaching allocation n
      EXPECT_GT(n, 50) << "allocations were not made to fail";
      break;
    }
  }
}

}  // namespace
