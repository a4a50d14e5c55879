// CStringMap: owned and borrowed values, emptying, and its trace scope.
// That owned values are deleted, and only once, is checked by the
// AddressSanitizer build (leaks and double deletes fail it).

#include "support/child.h"
#include "support/testutil.h"

#include <sundry/util/StringMap.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Started again with SUNDRY_TEST_STRINGMAP_TRACE set, the program traces one
// removeAll and two destructors, and ends before any test runs.
[[maybe_unused]] const bool g_traceChild = [] {
  if (std::getenv("SUNDRY_TEST_STRINGMAP_TRACE") == nullptr) return false;
  {
    CStringMap empty;
    empty.removeAll();
    CStringMap filled;
    filled.SetAt("key", new CString("value"));
  }
  _exit(0);
}();

TEST(StringMap, OwnedValuesAreDeletedOnceEvenWhenShared) {
  CStringMap map;
  EXPECT_EQ(257u, map.GetHashTableSize());
  auto* shared = new CString("shared");
  map.SetAt("first", shared);
  map.SetAt("second", shared);
  map.SetAt("null", nullptr);
  map.removeAll();
  EXPECT_EQ(0, map.GetCount());
  // A crowded table: removing while walking must not skip entries.
  CStringMap small(1, 3);
  for (int i = 0; i < 3000; ++i) small.SetAt(CString("k" + std::to_string(i)), new CString("v"));
  small.removeAll();
  EXPECT_EQ(0, small.GetCount());
  small.SetAt("left for the destructor", new CString("x"));
}

TEST(StringMap, BorrowedValuesOutliveTheMap) {
  std::vector<std::unique_ptr<CString>> values;
  for (int i = 0; i < 20; ++i) values.push_back(std::make_unique<CString>("value " + std::to_string(i)));
  for (int owner : {0, 2}) {  // only exactly 1 owns
    CStringMap map(owner, 17);
    for (int i = 0; i < 20; ++i) map.SetAt(CString(std::to_string(i)), values[i].get());
    map.removeAll();
    EXPECT_EQ(0, map.GetCount());
    map.SetAt("late", values[0].get());
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ("value " + std::to_string(i), values[i]->str());
  EXPECT_EQ(17u, CStringMap(1, 0).GetHashTableSize());  // an unusable bucket count keeps the default
}

TEST(StringMap, RemoveAllTracesUnderItsOwnScopeNameOnly) {
  sundry::test::TempDir dir;
  const std::string self = sundry::test::SelfPath();
  ASSERT_FALSE(self.empty());
  {
    sundry::test::ScopedEnv trace("SUNDRY_TEST_STRINGMAP_TRACE", "1"), log("SUNDRY_LOG", dir.file("trace.log").c_str());
    ASSERT_EQ(0, sundry::test::RunAndWait(self));
  }
  std::istringstream in(sundry::test::ReadFile(dir.file("trace.log")));
  int enters = 0, leaves = 0, lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    enters += line.find("CSearchTokens::removeAll Enter:") != std::string::npos;
    leaves += line.find("CSearchTokens::removeAll Leave:") != std::string::npos;
  }
  EXPECT_EQ(3, enters);
  EXPECT_EQ(3, leaves);
  EXPECT_EQ(6, lines);  // nothing else is reported
}

}  // namespace
