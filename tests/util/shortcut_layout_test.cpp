// CSundry's shortcut files as the Linux port writes them: byte by byte
// against the MS-SHLLINK layout and read back by an independent reader
// (lnkinfo of liblnk-utils); a failing write; the special folders below
// $HOME.

#include "support/testutil.h"

#include <sundry/platform/shell.h>
#include <sundry/util/Sundry.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using sundry::test::Exists;
using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::ScopedEnv;
using sundry::test::ShellQuote;
using sundry::test::WriteFile;

uint32_t rd32(const std::string& d, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, d.data() + at, 4);
  return v;
}

class ShortcutFileTest : public ::testing::Test {
 protected:
  sundry::test::TempDir m_dir;
};

TEST_F(ShortcutFileTest, WritesTheShellLinkLayoutAndReplacesAShortcut) {
  // A target that does not exist, in Windows form; the link folder ends in
  // a backslash already.
  ASSERT_EQ(1, CSundry::ShortcutCreate("D:\\Prog", "app.exe", nullptr, (m_dir.path() + "\\").c_str()));
  const std::string lnk = ReadFile(m_dir.file("app.exe.LNK"));
  ASSERT_GE(lnk.size(), 76u);
  EXPECT_EQ(0x4Cu, rd32(lnk, 0));
  EXPECT_EQ(std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16), lnk.substr(4, 16));
  EXPECT_EQ(0x02u | 0x04u | 0x10u | 0x80u, rd32(lnk, 0x14));  // LinkInfo, name, working dir, Unicode
  EXPECT_EQ(0u, rd32(lnk, 0x18));  // no attributes: the target is not there
  EXPECT_EQ(1u, rd32(lnk, 0x3C));  // SW_SHOWNORMAL
  // LinkInfo: the local base path, in the ANSI code page.
  const uint32_t infoSize = rd32(lnk, 76);
  ASSERT_LE(76 + infoSize, lnk.size());
  EXPECT_EQ(1u, rd32(lnk, 76 + 8));  // VolumeIDAndLocalBasePath
  EXPECT_STREQ("D:\\Prog\\app.exe", lnk.c_str() + 76 + rd32(lnk, 76 + 16));
  // StringData (description, working directory: read back by lnkinfo
  // below), then the terminal block, and nothing after.
  EXPECT_EQ(std::string(4, '\0'), lnk.substr(lnk.size() - 4));
  EXPECT_EQ(76 + infoSize + 2 + 2 * 19 + 2 + 2 * 7 + 4, lnk.size());

  // Empty arguments are not stored; a second shortcut replaces the first
  // and leaves no file beside it.
  ASSERT_EQ(1, CSundry::ShortcutCreate("/opt/tool/", "run", "--first", m_dir.path().c_str()));
  EXPECT_EQ(0x20u, rd32(ReadFile(m_dir.file("run.LNK")), 0x14) & 0x20u);
  ASSERT_EQ(1, CSundry::ShortcutCreate("/opt/tool/", "run", "", m_dir.path().c_str()));
  const std::string second = ReadFile(m_dir.file("run.LNK"));
  EXPECT_EQ(0u, rd32(second, 0x14) & 0x20u);
  // Only a backslash ends a folder: one is added after "/".
  EXPECT_STREQ("\\opt\\tool\\\\run", second.c_str() + 76 + rd32(second, 76 + 16));
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(m_dir.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"app.exe.LNK", "run.LNK"}), names);
}

TEST_F(ShortcutFileTest, LnkinfoReadsWhatWasWritten) {
  if (RunCommand("command -v lnkinfo >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "lnkinfo (Debian package liblnk-utils) is not installed";
  const std::string prog = m_dir.file("Prog"), exe = prog + "/caf\xE9.exe";
  ASSERT_EQ(0, ::mkdir(prog.c_str(), 0755));
  ASSERT_TRUE(WriteFile(exe, std::string(1234, 'x')));
  const struct timeval times[2] = {{1700000000, 0}, {1706745599, 0}};
  ASSERT_EQ(0, ::utimes(exe.c_str(), times));
  ASSERT_EQ(1, CSundry::ShortcutCreate(prog.c_str(), "caf\xE9.exe", "-x \"a b\" \x80", m_dir.path().c_str()));
  std::string out;
  ASSERT_EQ(0, RunCommand("lnkinfo -c windows-1252 " + ShellQuote(m_dir.file("caf\xE9.exe.LNK")) + " 2>/dev/null", &out));
  std::string windowsProg = prog;
  for (char& c : windowsProg) c = c == '/' ? '\\' : c;
  // "<tab>Name<tabs>: value" lines; lnkinfo prints UTF-8.
  const std::pair<const char*, std::string> fields[] = {
      {"Local path", windowsProg + "\\caf\xC3\xA9.exe"}, {"Working directory", windowsProg},
      {"Description", "Shortcut to caf\xC3\xA9.exe"},   {"Command line arguments", "-x \"a b\" \xE2\x82\xAC"},
      {"File size", "1234 bytes"}, {"Modification time", "Jan 31, 2024 23:59:59.000000000 UTC"},
      {"Drive type", "Fixed (3)"}, {"File attribute flags", "0x00000020"}};
  for (const auto& [name, value] : fields) {
    const size_t line = out.find(std::string("\t") + name + "\t");
    ASSERT_NE(std::string::npos, line) << name << " missing in\n" << out;
    const size_t colon = out.find(": ", line) + 2;
    EXPECT_EQ(value, out.substr(colon, out.find('\n', colon) - colon)) << name;
  }
}

TEST_F(ShortcutFileTest, AFailingWriteKeepsTheShortcutThatWasThere) {
  ASSERT_EQ(1, CSundry::ShortcutCreate("C:\\old", "a.exe", nullptr, m_dir.path().c_str()));
  const std::string before = ReadFile(m_dir.file("a.exe.LNK"));
  {
    sundry::test::FileFault fault({sundry::test::FileFault::Op::Write}, 1, ERROR_DISK_FULL, true);
    EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\new", "a.exe", nullptr, m_dir.path().c_str()));
  }
  EXPECT_EQ(before, ReadFile(m_dir.file("a.exe.LNK")));
}

TEST_F(ShortcutFileTest, ShortcutsInSpecialFolders) {
  ScopedEnv home("HOME", m_dir.path().c_str()), config("XDG_CONFIG_HOME", nullptr);
  const std::string desktop = m_dir.file("Desktop");
  // The desktop does not exist yet: nothing is saved there.
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\Prog", "app.exe", "-v", CSIDL_DESKTOPDIRECTORY));
  EXPECT_EQ(0, CSundry::ShortcutRemove(CSIDL_DESKTOPDIRECTORY, "app.exe"));
  ASSERT_EQ(0, ::mkdir(desktop.c_str(), 0755));
  EXPECT_EQ(1, CSundry::ShortcutCreate("C:\\Prog", "app.exe", "-v", CSIDL_DESKTOPDIRECTORY));
  EXPECT_TRUE(Exists(desktop + "/app.exe.LNK"));
  EXPECT_EQ(1, CSundry::ShortcutRemove(CSIDL_DESKTOPDIRECTORY, "app.exe"));
  EXPECT_FALSE(Exists(desktop + "/app.exe.LNK"));
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\Prog", "app.exe", "-v", 0x3F));
  EXPECT_EQ(0, CSundry::ShortcutRemove(0x3F, "app.exe"));
}

}  // namespace
