#include "support/testutil.h"

#include <sundry/diag/DebugLog.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The log reads SUNDRY_LOG once, on first use; point it at a file of this
// process before any test runs.
sundry::test::DebugLogToFile g_logToFile("debuglog-test");

// Each test reads only the lines written since it began, so the tests hold
// when run again in the same process (--gtest_repeat) against one file.
class DebugLog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (sundry::test::DebugLogFile().empty()) GTEST_SKIP() << "SUNDRY_LOG does not name a file";
  }

  std::vector<std::string> linesContaining(const std::string& needle) const {
    std::istringstream in(m_tail.text());
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();  // Windows ends lines with CR LF
      if (line.find(needle) != std::string::npos) out.push_back(line);
    }
    return out;
  }

  // The one line holding needle without its "[thread] " prefix: the
  // indentation and the entry.
  std::string entryOf(const std::string& needle) const {
    const std::vector<std::string> lines = linesContaining(needle);
    if (lines.size() != 1) return std::to_string(lines.size()) + " lines hold " + needle;
    const size_t pos = lines[0].find("] ");
    return pos == std::string::npos ? lines[0] : lines[0].substr(pos + 2);
  }

  sundry::test::LogTail m_tail;
};

TEST_F(DebugLog, WritesScopesReportsAndNesting) {
  {
    CDebugLog outer("CLogDB::create", "filename = \"%s\", reclen = %d", "a.log", 64);
    outer.Report("Status", "%s", "outer-mark");
    {
      CDebugLog inner("CLogDB::getNextRecord");
      inner.Report("Return", "rVal = %d", 7);
    }
    outer.Report("Note", "after-inner");
  }
  EXPECT_EQ("CLogDB::create Enter: filename = \"a.log\", reclen = 64", entryOf("CLogDB::create Enter"));
  EXPECT_EQ("  CLogDB::create Status: outer-mark", entryOf("outer-mark"));
  EXPECT_EQ("    CLogDB::getNextRecord Return: rVal = 7", entryOf("rVal = 7"));
  // Depth is back to the outer scope's after the inner one closed.
  EXPECT_EQ("  CLogDB::create Note: after-inner", entryOf("after-inner"));
}

TEST_F(DebugLog, CopiesCloseWithoutUnbalancingTheDepth) {
  {
    CDebugLog a("Copy::outer");
    {
      CDebugLog b(a);
      CDebugLog c("Copy::other");
      c = a;
    }  // b and c close: both restore the depth a opened at
    a.Report("Status", "copy-mark");
  }
  CDebugLog d("Copy::next");
  d.Report("Status", "next-mark");
  EXPECT_EQ("  Copy::outer Status: copy-mark", entryOf("copy-mark"));
  EXPECT_EQ("  Copy::next Status: next-mark", entryOf("next-mark"));
}

TEST_F(DebugLog, SeveralThreadsWriteWholeLines) {
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      CDebugLog scope("Threads::run");
      for (int i = 0; i < kLines; ++i) scope.Report("Status", "thread-line %d/%d end", t, i);
    });
  for (auto& th : threads) th.join();
  auto lines = linesContaining("thread-line ");
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
  for (const auto& l : lines) EXPECT_NE(std::string::npos, l.find(" end")) << l;
}

TEST_F(DebugLog, OverlongAndEmptyTextsAreSafe) {
  std::string huge(10000, 'x');
  {
    CDebugLog s("Long::text", "%s", "");
    s.Report("Status", "%s", huge.c_str());
    s.Report(nullptr, nullptr);
  }
  auto lines = linesContaining("Long::text Status: xxxx");
  ASSERT_EQ(1u, lines.size());
  EXPECT_LT(lines[0].size(), huge.size());
}

}  // namespace
