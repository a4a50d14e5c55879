// CSundry's shortcut files on every platform: what cannot be saved, names
// that are not plain names, removal and its log lines.

#include "support/testutil.h"

#include <sundry/util/Sundry.h>

#include <filesystem>
#include <string>

namespace {

using sundry::test::Exists;
using sundry::test::WriteFile;

// The debug log goes to a file of this process unless the environment
// names one already; the tests read their lines back from it.
sundry::test::DebugLogToFile g_log("shortcut-test");

class ShortcutTest : public ::testing::Test {
 protected:
  sundry::test::TempDir m_dir;
};

TEST_F(ShortcutTest, FailuresSaveNothing) {
  // A missing folder, a link path longer than MAX_PATH, no target file.
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", "a.exe", nullptr, m_dir.file("missing").c_str()));
  const std::string deep = m_dir.path() + "/" + std::string(250 - m_dir.path().size(), 'd');
  ASSERT_TRUE(std::filesystem::create_directory(deep));
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", "abcdefgh.exe", nullptr, deep.c_str()));
  EXPECT_FALSE(Exists(deep + "/abcdefgh.exe.LNK"));
  for (const char* name : {"", static_cast<const char*>(nullptr)})
    EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", name, nullptr, m_dir.path().c_str()));
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", "a.exe", nullptr, static_cast<const char*>(nullptr)));
}

// A target name that is a path would reach outside the folder given: it is
// refused by both calls and nothing outside the folder is made or removed.
TEST_F(ShortcutTest, TargetNamesThatAreNotPlainNamesAreRefused) {
  const std::string folder = m_dir.file("links");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  for (const char* name : {"../esc", "..\\esc", "sub/x.exe", "..", "."}) {
    EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", name, nullptr, folder.c_str())) << name;
  }
  EXPECT_FALSE(Exists(m_dir.file("esc.LNK")));
  ASSERT_TRUE(WriteFile(m_dir.file("keep.LNK"), "x"));
  EXPECT_EQ(0, CSundry::ShortcutRemove(folder.c_str(), "../keep"));
  EXPECT_TRUE(Exists(m_dir.file("keep.LNK")));
}

TEST_F(ShortcutTest, RemoveDeletesAndLogsItsOutcome) {
  ASSERT_EQ(1, CSundry::ShortcutCreate("C:\\Prog", "gone.exe", nullptr, m_dir.path().c_str()));
  sundry::test::LogTail log;
  EXPECT_EQ(1, CSundry::ShortcutRemove(m_dir.path().c_str(), "gone.exe"));
  EXPECT_FALSE(Exists(m_dir.file("gone.exe.LNK")));
  EXPECT_EQ(0, CSundry::ShortcutRemove(m_dir.path().c_str(), "gone.exe"));
  // A folder of that name is not a shortcut file.
  ASSERT_TRUE(std::filesystem::create_directory(m_dir.file("dir.exe.LNK")));
  EXPECT_EQ(0, CSundry::ShortcutRemove((m_dir.path() + "\\").c_str(), "dir.exe"));
  EXPECT_TRUE(Exists(m_dir.file("dir.exe.LNK")));

  if (sundry::test::DebugLogFile().empty()) GTEST_SKIP() << "SUNDRY_LOG does not name a file";
  const std::string removal = "CSundry::ShortcutRemove Shortcut removal: Removal of " + m_dir.path();
  EXPECT_TRUE(log.has(removal + "\\gone.exe.LNK Successful")) << log.text();
  EXPECT_TRUE(log.has(removal + "\\gone.exe.LNK Failed!")) << log.text();
  EXPECT_TRUE(log.has(removal + "\\dir.exe.LNK Failed!")) << log.text();
}

}  // namespace
