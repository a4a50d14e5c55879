// CSundry's shortcuts as the shell itself reads them back (IShellLinkA
// loaded through IPersistFile), and in the real special folders.

#include "support/testutil.h"

#include <sundry/util/Sundry.h>

#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <string>

namespace {

using sundry::test::Exists;

struct Link {
  std::string path, arguments, directory, description;
};

// Loads a shortcut file with the shell's link object; false when it cannot.
bool ReadLink(const std::string& file, Link* out) {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkA* link = nullptr;
  IPersistFile* persist = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link));
  if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
  const std::wstring wide(file.begin(), file.end());  // the test paths are ASCII
  if (SUCCEEDED(hr)) hr = persist->Load(wide.c_str(), STGM_READ);
  char text[4 * MAX_PATH];
  auto take = [&](HRESULT got, std::string* into) {
    if (SUCCEEDED(hr)) hr = got;
    if (SUCCEEDED(hr)) *into = text;
  };
  if (SUCCEEDED(hr)) take(link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH), &out->path);
  if (SUCCEEDED(hr)) take(link->GetArguments(text, sizeof text), &out->arguments);
  if (SUCCEEDED(hr)) take(link->GetWorkingDirectory(text, sizeof text), &out->directory);
  if (SUCCEEDED(hr)) take(link->GetDescription(text, sizeof text), &out->description);
  if (persist) persist->Release();
  if (link) link->Release();
  if (SUCCEEDED(init)) CoUninitialize();
  return SUCCEEDED(hr);
}

class ShellLinkTest : public ::testing::Test {
 protected:
  sundry::test::TempDir m_dir;
};

TEST_F(ShellLinkTest, TheShellReadsBackWhatWasSavedAndAShortcutIsReplaced) {
  ASSERT_EQ(1, CSundry::ShortcutCreate("C:\\Prog", "app.exe", "-x \"a b\"", m_dir.path().c_str()));
  Link link;
  ASSERT_TRUE(ReadLink(m_dir.file("app.exe.LNK"), &link));
  EXPECT_EQ("C:\\Prog\\app.exe", link.path);
  EXPECT_EQ("-x \"a b\"", link.arguments);
  EXPECT_EQ("C:\\Prog", link.directory);
  EXPECT_EQ("Shortcut to app.exe", link.description);

  // A second shortcut replaces the first, and leaves no file beside it.
  ASSERT_EQ(1, CSundry::ShortcutCreate("D:\\Other\\", "app.exe", "", m_dir.path().c_str()));
  Link second;
  ASSERT_TRUE(ReadLink(m_dir.file("app.exe.LNK"), &second));
  EXPECT_EQ("D:\\Other\\app.exe", second.path);
  EXPECT_EQ("", second.arguments);
  EXPECT_EQ(1u, sundry::test::DirEntries(m_dir.path()));
}

// The desktop of the user running the tests: the shortcut it gets is
// removed again.
TEST_F(ShellLinkTest, ShortcutsOnTheRealDesktop) {
  char desktop[MAX_PATH];
  ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop));
  const std::string name = "sundry-test-" + std::to_string(GetCurrentProcessId()) + ".exe";
  const std::string file = std::string(desktop) + "\\" + name + ".LNK";
  ASSERT_FALSE(Exists(file));
  ASSERT_EQ(1, CSundry::ShortcutCreate("C:\\Prog", name.c_str(), "-v", CSIDL_DESKTOPDIRECTORY));
  Link link;
  EXPECT_TRUE(ReadLink(file, &link));
  EXPECT_EQ("C:\\Prog\\" + name, link.path);
  EXPECT_EQ(1, CSundry::ShortcutRemove(CSIDL_DESKTOPDIRECTORY, name.c_str()));
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(0, CSundry::ShortcutRemove(CSIDL_DESKTOPDIRECTORY, name.c_str()));
  // No such folder.
  EXPECT_EQ(0, CSundry::ShortcutCreate("C:\\Prog", name.c_str(), "-v", 0x3F));
  EXPECT_EQ(0, CSundry::ShortcutRemove(0x3F, name.c_str()));
}

}  // namespace
