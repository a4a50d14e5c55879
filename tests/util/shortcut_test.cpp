// Shortcut files: written by CSundry, read back byte by byte against the
// MS-SHLLINK layout and by an independent reader (lnkinfo of liblnk-utils);
// removal and its log lines; special folders and their XDG mapping.

#include "support/testutil.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/file.h>
#include <sundry/platform/shell.h>
#include <sundry/platform/shelllink.h>
#include <sundry/util/Sundry.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using sundry::test::ReadFile;
using sundry::test::ScopedEnv;
using sundry::test::TempDir;
using sundry::test::WriteFile;

// The debug log goes to a file of this process unless the environment
// names one already; the tests read their lines back from it.
sundry::test::DebugLogToFile g_log("shortcut-test");

bool logHas(const std::string& text) {
  return ReadFile(sundry::test::DebugLogFile()).find(text) != std::string::npos;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

uint32_t rd32(const std::string& d, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, d.data() + at, 4);
  return v;
}

std::string q(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The fields lnkinfo prints ("Local path", "Description", ...), or an
// empty map when lnkinfo fails.
std::vector<std::pair<std::string, std::string>> lnkinfo(const std::string& path) {
  std::string out;
  if (sundry::test::RunCommand("lnkinfo -c windows-1252 " + q(path) + " 2>/dev/null", &out) != 0) return {};
  std::vector<std::pair<std::string, std::string>> fields;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    const size_t b = line.find_first_not_of('\t');
    const size_t e = line.find_last_not_of("\t ", colon - 1);
    fields.emplace_back(line.substr(b, e - b + 1), line.substr(colon + 2));
  }
  return fields;
}

std::string field(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& name) {
  for (const auto& [k, v] : fields)
    if (k == name) return v;
  return "<absent>";
}

bool haveLnkinfo() { return sundry::test::RunCommand("command -v lnkinfo >/dev/null 2>&1") == 0; }

class ShortcutTest : public ::testing::Test {
 protected:
  TempDir m_dir;
};

TEST_F(ShortcutTest, WritesTheShellLinkLayout) {
  // A target that does not exist, in Windows form; the link folder ends in
  // a backslash already.
  ASSERT_EQ(1, CSundry::ShortcutCreate("D:\\Prog", "app.exe", nullptr, (m_dir.path() + "\\").c_str()));
  const std::string lnk = ReadFile(m_dir.file("app.exe.LNK"));
  ASSERT_GE(lnk.size(), 76u);
  EXPECT_EQ(0x4Cu, rd32(lnk, 0));
  EXPECT_EQ(std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16), lnk.substr(4, 16));
  // HasLinkInfo, HasName, HasWorkingDir, IsUnicode; no arguments.
  EXPECT_EQ(0x02u | 0x04u | 0x10u | 0x80u, rd32(lnk, 0x14));
  EXPECT_EQ(0u, rd32(lnk, 0x18));  // no attributes: the target is not there
  EXPECT_EQ(1u, rd32(lnk, 0x3C));  // SW_SHOWNORMAL
  // LinkInfo: the local base path, in the ANSI code page.
  const size_t info = 76;
  const uint32_t infoSize = rd32(lnk, info);
  ASSERT_LE(info + infoSize, lnk.size());
  EXPECT_EQ(1u, rd32(lnk, info + 8));  // VolumeIDAndLocalBasePath
  EXPECT_STREQ("D:\\Prog\\app.exe", lnk.c_str() + info + rd32(lnk, info + 16));
  // StringData: description, then working directory, as counted UTF-16.
  size_t at = info + infoSize;
  auto next = [&]() {
    const size_t n = static_cast<unsigned char>(lnk[at]) | static_cast<unsigned char>(lnk[at + 1]) << 8;
    std::string text;
    for (size_t i = 0; i < n; ++i) text += lnk[at + 2 + 2 * i];
    at += 2 + 2 * n;
    return text;
  };
  EXPECT_EQ("Shortcut to app.exe", next());
  EXPECT_EQ("D:\\Prog", next());
  EXPECT_EQ(std::string(4, '\0'), lnk.substr(at));  // the terminal block, and nothing after
}

TEST_F(ShortcutTest, LnkinfoReadsWhatWasWritten) {
  if (!haveLnkinfo()) GTEST_SKIP() << "lnkinfo (Debian package liblnk-utils) is not installed";
  const std::string prog = m_dir.file("Prog");
  ASSERT_EQ(0, ::mkdir(prog.c_str(), 0755));
  ASSERT_TRUE(WriteFile(prog + "/caf\xE9.exe", std::string(1234, 'x')));
  const struct timeval times[2] = {{1700000000, 0}, {1706745599, 0}};
  ASSERT_EQ(0, ::utimes((prog + "/caf\xE9.exe").c_str(), times));

  ASSERT_EQ(1, CSundry::ShortcutCreate(prog.c_str(), "caf\xE9.exe", "-x \"a b\" \x80", m_dir.path().c_str()));
  const std::string path = m_dir.file("caf\xE9.exe.LNK");
  const auto f = lnkinfo(path);
  ASSERT_FALSE(f.empty()) << "lnkinfo could not read " << path;
  std::string windowsProg = prog;
  for (char& c : windowsProg)
    if (c == '/') c = '\\';
  // lnkinfo prints UTF-8.
  EXPECT_EQ(windowsProg + "\\caf\xC3\xA9.exe", field(f, "Local path"));
  EXPECT_EQ(windowsProg, field(f, "Working directory"));
  EXPECT_EQ("Shortcut to caf\xC3\xA9.exe", field(f, "Description"));
  EXPECT_EQ("-x \"a b\" \xE2\x82\xAC", field(f, "Command line arguments"));
  EXPECT_EQ("1234 bytes", field(f, "File size"));
  EXPECT_EQ("Jan 31, 2024 23:59:59.000000000 UTC", field(f, "Modification time"));
  EXPECT_EQ("Fixed (3)", field(f, "Drive type"));
  EXPECT_EQ("0x00000020", field(f, "File attribute flags"));
}

TEST_F(ShortcutTest, EmptyArgumentsAreNotStoredAndAShortcutIsReplaced) {
  const std::string folder = m_dir.path();
  ASSERT_EQ(1, CSundry::ShortcutCreate("/opt/tool/", "run", "--first", folder.c_str()));
  const std::string first = ReadFile(m_dir.file("run.LNK"));
  EXPECT_EQ(0x20u, rd32(first, 0x14) & 0x20u);
  ASSERT_EQ(1, CSundry::ShortcutCreate("/opt/tool/", "run", "", folder.c_str()));
  const std::string second = ReadFile(m_dir.file("run.LNK"));
  EXPECT_EQ(0u, rd32(second, 0x14) & 0x20u);
  // "/opt/tool/" already ends in a separator of its own: none is added.
  EXPECT_STREQ("\\opt\\tool\\\\run", second.c_str() + 76 + rd32(second, 76 + 16));
  // Only the shortcut is left in the folder: no file beside it.
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  ASSERT_NE(nullptr, d);
  while (struct dirent* e = ::readdir(d))
    if (e->d_name[0] != '.' || std::strlen(e->d_name) > 2) names.push_back(e->d_name);
  ::closedir(d);
  EXPECT_EQ(std::vector<std::string>{"run.LNK"}, names);
}

DWORD failWrites(sundry::platform::FileOperation op, void*) {
  return op == sundry::platform::FileOperation::Write ? DWORD{ERROR_DISK_FULL} : DWORD{0};
}

TEST_F(ShortcutTest, FailuresSaveNothing) {
  // A missing folder, a link path longer than MAX_PATH, no target file.
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", "a.exe", nullptr, m_dir.file("missing").c_str()));
  const std::string deep = m_dir.path() + "/" + std::string(250 - m_dir.path().size(), 'd');
  ASSERT_EQ(0, ::mkdir(deep.c_str(), 0755));
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", "abcdefgh.exe", nullptr, deep.c_str()));
  EXPECT_FALSE(exists(deep + "/abcdefgh.exe.LNK"));
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", "", nullptr, m_dir.path().c_str()));
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", nullptr, nullptr, m_dir.path().c_str()));
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", "a.exe", nullptr, static_cast<const char*>(nullptr)));

  // A failing write keeps the shortcut that was there.
  ASSERT_EQ(1, CSundry::ShortcutCreate("C:\\old", "a.exe", nullptr, m_dir.path().c_str()));
  const std::string before = ReadFile(m_dir.file("a.exe.LNK"));
  sundry::platform::SetFileFaultHook(failWrites, nullptr);
  const int rc = CSundry::ShortcutCreate("C:\\new", "a.exe", nullptr, m_dir.path().c_str());
  sundry::platform::SetFileFaultHook(nullptr, nullptr);
  EXPECT_EQ(0, rc);
  EXPECT_EQ(before, ReadFile(m_dir.file("a.exe.LNK")));

  sundry::platform::ShellLinkFields fields{};
  fields.path = "C:\\x.exe";
  EXPECT_FALSE(sundry::platform::SaveShellLinkA(&fields, m_dir.file("none/x.lnk").c_str()));
  EXPECT_WIN32(ERROR_PATH_NOT_FOUND, GetLastError());
}

// A target name that is a path would reach outside the folder given: it is
// refused by both calls and nothing outside the folder is made or removed.
TEST_F(ShortcutTest, TargetNamesThatAreNotPlainNamesAreRefused) {
  const std::string folder = m_dir.file("links");
  ASSERT_EQ(0, ::mkdir(folder.c_str(), 0755));
  for (const char* name : {"../esc", "..\\esc", "sub/x.exe", "..", "."}) {
    EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\", name, nullptr, folder.c_str())) << name;
  }
  EXPECT_FALSE(exists(m_dir.file("esc.LNK")));
  ASSERT_TRUE(WriteFile(m_dir.file("keep.LNK"), "x"));
  EXPECT_EQ(0, CSundry::ShortcutRemove(folder.c_str(), "../keep"));
  EXPECT_TRUE(exists(m_dir.file("keep.LNK")));

  const std::string cli = SUNDRY_CLI_PATH;
  EXPECT_NE(0, sundry::test::RunCommand(cli + " shortcut create " + q(m_dir.path()) + " ../../esc --folder " + q(folder) +
                                       " 2>/dev/null"));
  EXPECT_FALSE(exists(m_dir.file("esc.LNK")));
}

TEST_F(ShortcutTest, RemoveDeletesAndLogsItsOutcome) {
  ASSERT_EQ(1, CSundry::ShortcutCreate("C:\\Prog", "gone.exe", nullptr, m_dir.path().c_str()));
  const std::string shortcut = m_dir.path() + "\\gone.exe.LNK";
  EXPECT_EQ(1, CSundry::ShortcutRemove(m_dir.path().c_str(), "gone.exe"));
  EXPECT_FALSE(exists(m_dir.file("gone.exe.LNK")));
  EXPECT_EQ(0, CSundry::ShortcutRemove(m_dir.path().c_str(), "gone.exe"));
  // A folder of that name is not a shortcut file.
  ASSERT_EQ(0, ::mkdir(m_dir.file("dir.exe.LNK").c_str(), 0755));
  EXPECT_EQ(0, CSundry::ShortcutRemove((m_dir.path() + "\\").c_str(), "dir.exe"));
  EXPECT_TRUE(exists(m_dir.file("dir.exe.LNK")));

  if (sundry::test::DebugLogFile().empty()) GTEST_SKIP() << "SUNDRY_LOG does not name a file";
  EXPECT_TRUE(logHas("CSundry::ShortcutRemove Shortcut removal: Removal of " + shortcut + " Successful\n"));
  EXPECT_TRUE(logHas("CSundry::ShortcutRemove Shortcut removal: Removal of " + shortcut + " Failed!\n"));
  EXPECT_TRUE(logHas("Removal of " + m_dir.path() + "\\dir.exe.LNK Failed!\n"));
}

// A home of its own with the XDG variables cleared.
class SpecialFolderTest : public ::testing::Test {
 protected:
  std::string home() const { return m_home.path(); }
  std::string path(int csidl, HRESULT* hr = nullptr) {
    char buf[MAX_PATH];
    std::memset(buf, 0, sizeof buf);
    const HRESULT r = SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf);
    if (hr) *hr = r;
    return r == S_OK || r == S_FALSE ? std::string(buf) : "<failed>";
  }

  TempDir m_home;
  ScopedEnv m_homeVar{"HOME", m_home.path().c_str()};
  ScopedEnv m_config{"XDG_CONFIG_HOME", nullptr};
  ScopedEnv m_data{"XDG_DATA_HOME", nullptr};
  ScopedEnv m_appdata{"SUNDRY_APPDATA", nullptr};
};

TEST_F(SpecialFolderTest, MapsEachFolderIdThroughTheXdgRules) {
  const std::string h = home();
  EXPECT_EQ(h + "/Desktop", path(CSIDL_DESKTOP));
  EXPECT_EQ(h + "/Desktop", path(CSIDL_DESKTOPDIRECTORY));
  EXPECT_EQ(h + "/Documents", path(CSIDL_PERSONAL));
  EXPECT_EQ(h + "/.config", path(CSIDL_APPDATA));
  EXPECT_EQ(h + "/.local/share", path(CSIDL_LOCAL_APPDATA));
  EXPECT_EQ(h + "/.local/share/applications", path(CSIDL_PROGRAMS));
  EXPECT_EQ(h + "/.config/autostart", path(CSIDL_STARTUP));

  ScopedEnv config("XDG_CONFIG_HOME", (h + "/cfg").c_str());
  ScopedEnv data("XDG_DATA_HOME", (h + "/data").c_str());
  EXPECT_EQ(h + "/cfg", path(CSIDL_APPDATA));
  EXPECT_EQ(h + "/cfg/autostart", path(CSIDL_STARTUP));
  EXPECT_EQ(h + "/data", path(CSIDL_LOCAL_APPDATA));
  EXPECT_EQ(h + "/data/applications", path(CSIDL_PROGRAMS));
  {
    ScopedEnv appdata("SUNDRY_APPDATA", (h + "/app").c_str());
    EXPECT_EQ(h + "/app", path(CSIDL_APPDATA));
    EXPECT_EQ(h + "/cfg/autostart", path(CSIDL_STARTUP));
  }
  // Relative values do not count.
  ScopedEnv relative("XDG_CONFIG_HOME", "cfg");
  ScopedEnv relativeApp("SUNDRY_APPDATA", "app");
  EXPECT_EQ(h + "/.config", path(CSIDL_APPDATA));

  // The user directories file of the (default) config folder.
  ASSERT_EQ(0, ::mkdir((h + "/.config").c_str(), 0700));
  ASSERT_TRUE(WriteFile(h + "/.config/user-dirs.dirs",
                        "# written by xdg-user-dirs-update\n"
                        "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
                        "XDG_DOCUMENTS_DIR=\"/srv/docs/My \\\"Files\\\"\"\n"
                        "XDG_DOWNLOAD_DIR=\"$HOME/T\xC3\xA9l\xC3\xA9\"\n"));
  EXPECT_EQ(h + "/Bureau", path(CSIDL_DESKTOPDIRECTORY));
  EXPECT_EQ("/srv/docs/My \"Files\"", path(CSIDL_PERSONAL));
}

TEST_F(SpecialFolderTest, ReportsMissingFoldersAndCreatesThemOnRequest) {
  HRESULT hr = 0;
  const std::string startup = path(CSIDL_STARTUP, &hr);
  EXPECT_EQ(S_FALSE, hr);
  char buf[MAX_PATH];
  EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, buf, CSIDL_STARTUP, FALSE));
  EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, buf, CSIDL_STARTUP, TRUE));
  EXPECT_EQ(startup, buf);
  struct stat st;
  ASSERT_EQ(0, ::stat(startup.c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  EXPECT_EQ(startup, path(CSIDL_STARTUP, &hr));
  EXPECT_EQ(S_OK, hr);

  EXPECT_EQ(E_INVALIDARG, SHGetFolderPathA(nullptr, 0x3F, nullptr, SHGFP_TYPE_CURRENT, buf));
  // A folder that cannot be made: its parent is a file.
  ASSERT_TRUE(WriteFile(home() + "/Documents", "not a folder"));
  std::strcpy(buf, "untouched");
  EXPECT_EQ(E_FAIL, SHGetFolderPathA(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, 0, buf));
  EXPECT_STREQ("untouched", buf);
}

TEST_F(SpecialFolderTest, ShortcutsInSpecialFolders) {
  const std::string desktop = home() + "/Desktop";
  // The desktop does not exist yet: nothing is saved there.
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\Prog", "app.exe", "-v", CSIDL_DESKTOPDIRECTORY));
  EXPECT_EQ(0, CSundry::ShortcutRemove(CSIDL_DESKTOPDIRECTORY, "app.exe"));
  ASSERT_EQ(0, ::mkdir(desktop.c_str(), 0755));
  EXPECT_EQ(1, CSundry::ShortcutCreate("C:\\Prog", "app.exe", "-v", CSIDL_DESKTOPDIRECTORY));
  EXPECT_TRUE(exists(desktop + "/app.exe.LNK"));
  EXPECT_EQ(1, CSundry::ShortcutRemove(CSIDL_DESKTOPDIRECTORY, "app.exe"));
  EXPECT_FALSE(exists(desktop + "/app.exe.LNK"));
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\Prog", "app.exe", "-v", 0x3F));
  EXPECT_EQ(0, CSundry::ShortcutRemove(0x3F, "app.exe"));

  // The command line, by special-folder name.
  const std::string cli = std::string("HOME=") + q(home()) + " " + SUNDRY_CLI_PATH;
  EXPECT_EQ(0, sundry::test::RunCommand(cli + " shortcut create 'C:\\Prog' tool.exe --special desktop --args -q"));
  EXPECT_TRUE(exists(desktop + "/tool.exe.LNK"));
  EXPECT_EQ(0, sundry::test::RunCommand(cli + " shortcut remove tool.exe --special desktop"));
  EXPECT_FALSE(exists(desktop + "/tool.exe.LNK"));
  EXPECT_NE(0, sundry::test::RunCommand(cli + " shortcut remove tool.exe --folder " + q(desktop) + " 2>/dev/null"));
  EXPECT_EQ(2, sundry::test::RunCommand(cli + " shortcut remove tool.exe 2>/dev/null"));
}

TEST(AnsiText, EveryByteRoundTripsThroughUtf16) {
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  const std::u16string wide = sundry::platform::WideFromAnsi(all);
  ASSERT_EQ(all.size(), wide.size());
  EXPECT_EQ(u'\u20AC', wide[0x80 - 1]);
  EXPECT_EQ(u'\u0178', wide[0x9F - 1]);
  EXPECT_EQ(u'\u00E9', wide[0xE9 - 1]);
  EXPECT_EQ(all, sundry::platform::AnsiFromWide(wide));
  // Characters outside the code page become one "?" each, also a pair of
  // surrogates.
  EXPECT_EQ("a?b?", sundry::platform::AnsiFromWide(u"a\u4E2Db\U0001F600"));
}

}  // namespace
