// sundry proc, file, shortcut and device, run as a user would.

#include "platform/fake_sysfs.h"
#include "platform/sleepers.h"

#include <cctype>

namespace {

using sundry::test::Exists;
using sundry::test::RunCommand;

const std::string kCli = SUNDRY_CLI_PATH;

using UtilCommand = sundry::test::SleeperTest;

// The tool never ends itself, even when it carries a listed name: a copy of
// the tool asked to end itself and another program ends the other one and
// lives to report both.
TEST_F(UtilCommand, ProcFindsAndKillsButNeverItself) {
  const std::string tool = "sundry-self-" + std::to_string(::getpid());
  ASSERT_TRUE(sundry::test::WriteFile(m_dir.file(tool), sundry::test::ReadFile(SUNDRY_CLI_PATH)));
  ::chmod(m_dir.file(tool).c_str(), 0755);
  const std::string victim = program("victim"), cli = m_dir.file(tool);
  std::string upper = victim;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const pid_t pid = start(victim);
  std::string out;
  EXPECT_EQ(0, RunCommand(cli + " proc find " + upper + ".exe", &out));
  EXPECT_EQ(upper + ".exe: running\n", out);
  EXPECT_NE(0, RunCommand(cli + " proc find " + victim + " " + victim + "-absent 2>/dev/null", &out));
  EXPECT_EQ(victim + ": running\n" + victim + "-absent: not running\n", out);
  EXPECT_EQ(0, RunCommand(cli + " proc kill " + tool + " " + victim + " " + victim + "-absent", &out));
  EXPECT_EQ(tool + ": ended, except this tool itself\n" + victim + ": ended\n" + victim + "-absent: not running\n", out);
  EXPECT_TRUE(reapedKilled(pid));
}

TEST_F(UtilCommand, FileVersionPrintsTheVersionOrTheStamp) {
  const std::string pe = std::string(SUNDRY_TEST_DATA_DIR) + "/pe/";
  std::string out;
  EXPECT_EQ(0, RunCommand(kCli + " file version " + pe + "ver-5.1.2600.2180-pe32.dll", &out));
  EXPECT_EQ("05.01.170395780\n", out);
  EXPECT_EQ(0, RunCommand("TZ=UTC0 " + kCli + " file version " + pe + "nores-pe32.exe", &out));
  EXPECT_EQ(15u, out.size()) << out;  // YYYYMMDDhhmmss
  EXPECT_NE(0, RunCommand(kCli + " file version /nonexistent/x.dll 2>/dev/null", &out));
  EXPECT_EQ("", out);
}

// Shortcuts in special folders by name; a target name that is a path is
// refused and makes nothing outside the folder. (Scratch paths need no
// quoting for the shell.)
TEST_F(UtilCommand, ShortcutsBySpecialFolderNameAndNoEscape) {
  const std::string desktop = m_dir.file("Desktop"), links = m_dir.file("links");
  ASSERT_EQ(0, ::mkdir(desktop.c_str(), 0755));
  ASSERT_EQ(0, ::mkdir(links.c_str(), 0755));
  const std::string cli = "HOME=" + m_dir.path() + " XDG_CONFIG_HOME= " + kCli;
  EXPECT_EQ(0, RunCommand(cli + " shortcut create 'C:\\Prog' tool.exe --special desktop --args -q"));
  EXPECT_TRUE(Exists(desktop + "/tool.exe.LNK"));
  EXPECT_EQ(0, RunCommand(cli + " shortcut remove tool.exe --special desktop"));
  EXPECT_FALSE(Exists(desktop + "/tool.exe.LNK"));
  EXPECT_NE(0, RunCommand(cli + " shortcut remove tool.exe --folder " + desktop + " 2>/dev/null"));
  EXPECT_EQ(2, RunCommand(cli + " shortcut remove tool.exe 2>/dev/null"));  // no folder given
  EXPECT_EQ(2, RunCommand(cli + " shortcut remove tool.exe --special attic 2>/dev/null"));
  EXPECT_NE(0, RunCommand(cli + " shortcut create " + m_dir.path() + " ../../esc --folder " + links +
                          " 2>/dev/null"));
  EXPECT_FALSE(Exists(m_dir.file("esc.LNK")));
}

TEST_F(UtilCommand, DeviceLooksUpByClassNameOrGuid) {
  sundry::test::FakeSysfs sysfs;
  const std::string cli = "SUNDRY_SYSFS_ROOT=" + sysfs.root() + " " + kCli;
  std::string out;
  EXPECT_EQ(0, RunCommand(cli + " device ports USB", &out));
  EXPECT_EQ("USB-Serial Controller (ttyUSB0)\n", out);
  EXPECT_EQ(0, RunCommand(cli + " device '{4d36e972-E325-11CE-BFC1-08002BE10318}'", &out));
  EXPECT_EQ("Network Adapter (eth0)\n", out);
  EXPECT_EQ(1, RunCommand(cli + " device modem Nothing 2>/dev/null", &out));
  EXPECT_EQ(2, RunCommand(cli + " device '{not-a-guid}' 2>/dev/null", &out));
}

}  // namespace
