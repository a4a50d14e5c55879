// sundry sysinfo, run as a user would: the report as a whole document that
// an independent reader (unrtf) reads to its end, names with RTF's special
// characters intact, fragments by name, plain text.

#include "support/testutil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::TempDir;
using sundry::test::WriteFile;

class SysinfoCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteFile(m_product.file("a}b{c\\d"), "brace"));
    ASSERT_TRUE(WriteFile(m_product.file("caf\xC3\xA9.txt"), "utf-8"));
    ASSERT_EQ(0, ::mkdir(m_product.file("sub").c_str(), 0755));
    ASSERT_TRUE(WriteFile(m_product.file("sub/z-last.txt"), "last"));
    ASSERT_EQ(0, ::symlink("..", m_product.file("sub/up").c_str()));  // a link back up the tree
  }
  TempDir m_dir, m_product;
  // The report reads the registry: a store of its own.
  const std::string m_cli = "SUNDRY_REGISTRY=" + m_dir.file("registry.db") + " " + SUNDRY_CLI_PATH + " sysinfo ";
};

// Braces balance and close only at the very end; every backslash starts
// something.
bool wellFormed(const std::string& doc) {
  int depth = 0;
  for (size_t i = 0; i < doc.size(); ++i) {
    if (doc[i] == '\\') ++i;
    else if (doc[i] == '{') ++depth;
    else if (doc[i] == '}' && (--depth < 0 || (depth == 0 && i + 1 != doc.size()))) return false;
  }
  return depth == 0;
}

TEST_F(SysinfoCommand, ReportFileSurvivesAnIndependentReader) {
  const std::string rtf = m_dir.file("report.rtf");
  ASSERT_EQ(0, RunCommand(m_cli + "report --product-dir " + m_product.path() + " -o " + rtf));
  std::string doc = ReadFile(rtf);
  ASSERT_EQ(0u, doc.find("{\\rtf1\\ansi"));
  ASSERT_EQ('\n', doc.back());
  doc.pop_back();
  EXPECT_TRUE(wellFormed(doc));
  if (RunCommand("command -v unrtf >/dev/null") != 0) GTEST_SKIP() << "unrtf is not installed";
  std::string out;
  ASSERT_EQ(0, RunCommand("unrtf --text " + rtf + " 2>/dev/null", &out));
  // A "}" from a file name would end the document: everything after it,
  // the last file included, would be lost.
  for (const char* expected : {"Network Adapters:", "Product Files:", "/a}b{c\\d", "/sub/z-last.txt"})
    EXPECT_NE(std::string::npos, out.find(expected)) << expected << " missing from\n" << out;
  EXPECT_EQ(std::string::npos, out.find("/sub/up/")) << out;  // the link is listed, not entered
}

TEST_F(SysinfoCommand, FragmentsAndPlainText) {
  std::string out;
  ASSERT_EQ(0, RunCommand(m_cli + "--fragment user --fragment windows-dir", &out));
  std::string user;
  ASSERT_EQ(0, RunCommand("id -un", &user));
  user.pop_back();
  EXPECT_EQ("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fmodern Courier New;}}\\f0\\fs20 " + user +
                "\\par\n/usr}\n",
            out);
  ASSERT_EQ(0, RunCommand(m_cli + "--text --fragment user --fragment temp-dir", &out));
  EXPECT_EQ(user + "\n/tmp/\n", out);
  EXPECT_EQ(2, RunCommand(m_cli + "--fragment nonsense 2>/dev/null", &out));
  ASSERT_EQ(0, RunCommand(m_cli + "--text", &out));
  EXPECT_EQ(0u, out.find("Time: ")) << out;
  EXPECT_NE(std::string::npos, out.find("\nNetwork Adapters:\n")) << out;
  ASSERT_EQ(0, RunCommand(m_cli + "report --text --product-dir " + m_product.path() + " -o " + m_dir.file("r.txt")));
  const std::string text = ReadFile(m_dir.file("r.txt"));
  EXPECT_NE(std::string::npos, text.find(m_product.path() + "/a}b{c\\d\n")) << text;
  EXPECT_NE(std::string::npos, text.find(m_product.path() + "/caf\xC3\xA9.txt\n")) << text;
}

}  // namespace
