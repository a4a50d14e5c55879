// CSundry's finding and ending of programs by executable name, over real
// Windows processes (copies of the test sleeper under names of their own).

#include "support/child.h"
#include "support/testutil.h"

#include <sundry/util/Sundry.h>

#include <cctype>
#include <chrono>
#include <string>

namespace {

using sundry::test::SleepingChild;

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

int find(const std::string& name) {
  CString exe(name.c_str());
  return CSundry::FindProcessByExeName(exe);
}

TEST(Processes, FoundAndEndedByTheirExeNameIgnoringCase) {
  sundry::test::TempDir dir;
  const std::string tag = std::to_string(GetCurrentProcessId());
  const std::string a = "sundry-kill-a-" + tag + ".exe", b = "sundry-kill-b-" + tag + ".exe",
                    bystander = "sundry-kill-c-" + tag + ".exe";
  SleepingChild a1(dir.path(), a), a2(dir.path(), a), b1(dir.path(), b), c1(dir.path(), bystander);
  ASSERT_TRUE(a1.started() && a2.started() && b1.started() && c1.started());
  for (const std::string& asked : {a, upper(a)}) EXPECT_EQ(1, find(asked)) << asked;
  // Only the whole name: not a part of it, nor another ending.
  const std::string stem = a.substr(0, a.size() - 4);
  for (const std::string& asked : {stem.substr(0, stem.size() - 1) + ".exe", "x" + a, stem + ".com", std::string()})
    EXPECT_EQ(0, find(asked)) << asked;

  CString none(("sundry-no-such-program-" + tag + ".exe").c_str());
  EXPECT_EQ(1, CSundry::KillProcessByExeName(none));  // nothing matched: still success
  CStringArray names;
  names.Add(CString(upper(a).c_str()));
  names.Add(CString(b.c_str()));
  EXPECT_EQ(1, CSundry::KillProcessByExeName(names));
  for (SleepingChild* ended : {&a1, &a2, &b1}) EXPECT_TRUE(ended->endedByOtherWithin(std::chrono::seconds(10)));
  EXPECT_TRUE(c1.running());
  EXPECT_EQ(0, find(a));
  EXPECT_EQ(1, find(bystander));
}

// The caller carries a listed name too: it goes on to end the others.
TEST(Processes, TheCallerIsNeverEndedByItsOwnName) {
  char self[MAX_PATH] = {};
  ASSERT_NE(0u, GetModuleFileNameA(nullptr, self, sizeof self));
  std::string name = self;
  name = name.substr(name.find_last_of("\\/") + 1);
  sundry::test::TempDir dir;
  const std::string other = "sundry-kill-d-" + std::to_string(GetCurrentProcessId()) + ".exe";
  SleepingChild child(dir.path(), other);
  ASSERT_TRUE(child.started());
  CStringArray names;
  names.Add(CString(name.c_str()));
  names.Add(CString(other.c_str()));
  EXPECT_EQ(1, CSundry::KillProcessByExeName(names));
  EXPECT_TRUE(child.endedByOtherWithin(std::chrono::seconds(10)));
}

}  // namespace
