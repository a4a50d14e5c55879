// Special folders and their XDG mapping, shell-link saving, and the ANSI
// code page of the shell's file formats.

#include "support/testutil.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/shell.h>
#include <sundry/platform/shelllink.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

namespace {

using sundry::test::ScopedEnv;

// A home of its own with the XDG variables cleared.
class SpecialFolder : public ::testing::Test {
 protected:
  std::string path(int csidl, HRESULT* hr = nullptr) {
    char buf[MAX_PATH] = "";
    const HRESULT r = SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf);
    if (hr) *hr = r;
    return r == S_OK || r == S_FALSE ? std::string(buf) : "<failed>";
  }

  sundry::test::TempDir m_home;
  const std::string h = m_home.path();
  ScopedEnv m_homeVar{"HOME", h.c_str()}, m_config{"XDG_CONFIG_HOME", nullptr}, m_data{"XDG_DATA_HOME", nullptr},
      m_appdata{"SUNDRY_APPDATA", nullptr};
};

TEST_F(SpecialFolder, MapsEachFolderIdThroughTheXdgRules) {
  const struct { int id; std::string path; } defaults[] = {
      {CSIDL_DESKTOP, h + "/Desktop"},          {CSIDL_DESKTOPDIRECTORY, h + "/Desktop"},
      {CSIDL_PERSONAL, h + "/Documents"},       {CSIDL_APPDATA, h + "/.config"},
      {CSIDL_LOCAL_APPDATA, h + "/.local/share"}, {CSIDL_PROGRAMS, h + "/.local/share/applications"},
      {CSIDL_STARTUP, h + "/.config/autostart"}};
  for (const auto& f : defaults) EXPECT_EQ(f.path, path(f.id)) << f.id;

  ScopedEnv config("XDG_CONFIG_HOME", (h + "/cfg").c_str()), data("XDG_DATA_HOME", (h + "/data").c_str());
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
  ScopedEnv relative("XDG_CONFIG_HOME", "cfg"), relativeApp("SUNDRY_APPDATA", "app");
  EXPECT_EQ(h + "/.config", path(CSIDL_APPDATA));

  // The user directories file of the (default) config folder.
  ASSERT_EQ(0, ::mkdir((h + "/.config").c_str(), 0700));
  ASSERT_TRUE(sundry::test::WriteFile(h + "/.config/user-dirs.dirs",
                                      "# written by xdg-user-dirs-update\n"
                                      "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
                                      "XDG_DOCUMENTS_DIR=\"/srv/docs/My \\\"Files\\\"\"\n"
                                      "XDG_DOWNLOAD_DIR=\"$HOME/T\xC3\xA9l\xC3\xA9\"\n"));
  EXPECT_EQ(h + "/Bureau", path(CSIDL_DESKTOPDIRECTORY));
  EXPECT_EQ("/srv/docs/My \"Files\"", path(CSIDL_PERSONAL));
}

TEST_F(SpecialFolder, ReportsMissingFoldersAndCreatesThemOnRequest) {
  HRESULT hr = 0;
  const std::string startup = path(CSIDL_STARTUP, &hr);
  EXPECT_EQ(S_FALSE, hr);
  char buf[MAX_PATH];
  EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, buf, CSIDL_STARTUP, FALSE));
  EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, buf, CSIDL_STARTUP, TRUE));
  EXPECT_EQ(startup, buf);
  struct stat st;
  ASSERT_EQ(0, ::stat(startup.c_str(), &st));
  EXPECT_EQ(static_cast<mode_t>(S_IFDIR | 0700), st.st_mode & (S_IFMT | 0777));
  EXPECT_EQ(startup, path(CSIDL_STARTUP, &hr));
  EXPECT_EQ(S_OK, hr);

  EXPECT_EQ(E_INVALIDARG, SHGetFolderPathA(nullptr, 0x3F, nullptr, SHGFP_TYPE_CURRENT, buf));
  // A folder that cannot be made: its parent is a file.
  ASSERT_TRUE(sundry::test::WriteFile(h + "/Documents", "not a folder"));
  std::strcpy(buf, "untouched");
  EXPECT_EQ(E_FAIL, SHGetFolderPathA(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, 0, buf));
  EXPECT_STREQ("untouched", buf);

  sundry::platform::ShellLinkFields fields{};
  fields.path = "C:\\x.exe";
  EXPECT_FALSE(sundry::platform::SaveShellLinkA(&fields, (h + "/none/x.lnk").c_str()));
  EXPECT_WIN32(ERROR_PATH_NOT_FOUND, GetLastError());
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
