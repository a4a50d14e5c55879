// CSundry's tooltips, balloons and screen resolution against the real
// user32, comctl32 and shell32 (under Wine on a private X display).

#include "support/testutil.h"

#include <sundry/util/Sundry.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A plain top-level window away from the screen's corner, with a child.
class Windows {
 public:
  Windows() {
    parent = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 130, 90, 320, 240, nullptr,
                             nullptr, nullptr, nullptr);
    child = CreateWindowExA(0, "STATIC", "child", WS_CHILD | WS_VISIBLE, 20, 30, 50, 40, parent, nullptr, nullptr,
                            nullptr);
  }
  ~Windows() {
    if (parent != nullptr) DestroyWindow(parent);
  }
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;
  HWND parent = nullptr;
  HWND child = nullptr;
};

// The one tool of a tooltip, read back as the control holds it.
bool OnlyTool(HWND tooltip, TOOLINFOA* info) {
  static char text[256];
  std::memset(info, 0, sizeof *info);
  info->cbSize = TTTOOLINFOA_V2_SIZE;
  info->lpszText = text;
  return SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0) == 1 &&
         SendMessageA(tooltip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(info)) != 0;
}

TEST(TooltipWindow, TheToolCoversTheChildInTheParentsClientCoordinates) {
  Windows w;
  ASSERT_NE(nullptr, w.child);
  char text[] = "child tip";
  HWND tooltip = CSundry::CreateTooltip(w.parent, text, w.child);
  ASSERT_NE(nullptr, tooltip);
  TOOLINFOA info;
  ASSERT_TRUE(OnlyTool(tooltip, &info));
  EXPECT_EQ(w.parent, info.hwnd);
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(w.parent), info.uId);
  EXPECT_NE(0u, info.uFlags & TTF_SUBCLASS);
  EXPECT_STREQ("child tip", info.lpszText);
  // Where the child lies in the parent's client area, not on the screen.
  EXPECT_EQ(20, info.rect.left);
  EXPECT_EQ(30, info.rect.top);
  EXPECT_EQ(70, info.rect.right);
  EXPECT_EQ(70, info.rect.bottom);
  EXPECT_NE(0, GetWindowLongA(tooltip, GWL_EXSTYLE) & WS_EX_TOPMOST);
  DestroyWindow(tooltip);
}

TEST(TooltipWindow, WithoutAToolWindowTheToolIsTheWholeClientArea) {
  Windows w;
  ASSERT_NE(nullptr, w.parent);
  char text[] = "parent tip";
  HWND tooltip = CSundry::CreateTooltip(w.parent, text, nullptr);
  ASSERT_NE(nullptr, tooltip);
  TOOLINFOA info;
  ASSERT_TRUE(OnlyTool(tooltip, &info));
  RECT client;
  GetClientRect(w.parent, &client);
  EXPECT_EQ(client.left, info.rect.left);
  EXPECT_EQ(client.top, info.rect.top);
  EXPECT_EQ(client.right, info.rect.right);
  EXPECT_EQ(client.bottom, info.rect.bottom);
  EXPECT_GT(client.right, 0);
  DestroyWindow(tooltip);
}

TEST(TooltipWindow, NoParentWindowGivesNoTooltip) {
  char text[] = "tip";
  // A handle of no window: the tooltip can be made, its tool cannot.
  HWND stale;
  {
    Windows w;
    stale = w.parent;
  }
  EXPECT_EQ(nullptr, CSundry::CreateTooltip(stale, text, nullptr));
}

NOTIFYICONDATAA Icon(HWND window, UINT id) {
  NOTIFYICONDATAA icon;
  std::memset(&icon, 0, sizeof icon);
  icon.cbSize = NOTIFYICONDATAA_V2_SIZE;
  icon.hWnd = window;
  icon.uID = id;
  icon.uFlags = NIF_ICON | NIF_TIP;
  icon.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  std::strcpy(icon.szTip, "sundry test");
  return icon;
}

TEST(TooltipBalloon, AnIconIdOfZeroAddsNoIcon) {
  Windows w;
  ASSERT_NE(nullptr, w.parent);
  NOTIFYICONDATAA own = Icon(w.parent, 7);
  if (!Shell_NotifyIconA(NIM_ADD, &own)) GTEST_SKIP() << "this session has no notification area";
  CSundry::CreateTooltipBalloon(w.parent, "Title", "Text of the balloon", 3000, NIIF_INFO, 7);
  CSundry::CreateTooltipBalloon(w.parent, "Title", "Text", 3000, NIIF_WARNING, 0);
  CSundry::CreateTooltipBalloon(w.parent, 0u, 0u, 3000, NIIF_WARNING, 0);
  // Only the icon added above exists: there is no icon 0 to remove.
  NOTIFYICONDATAA zero = Icon(w.parent, 0);
  EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &zero));
  EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &own));
}

// The resolution is read when a process starts: a child process of this
// program reports the factors under a resolution set in the user's desktop
// settings, into the file the variable names.
const char kChildVariable[] = "SUNDRY_TEST_DPI_CHILD";

TEST(DpiFactor, ChildReportsTheFactors) {
  const char* report = std::getenv(kChildVariable);
  if (report == nullptr) GTEST_SKIP() << "runs as the child of ResolutionOfTheDesktopSettings";
  // A program that declares itself aware of the resolution is told the
  // real one rather than being scaled by the system.
  SetProcessDPIAware();
  FILE* out = std::fopen(report, "w");
  ASSERT_NE(nullptr, out);
  std::fprintf(out, "%.4f %.4f", CSundry::GetDPIScaleFactor(0), CSundry::GetDPIScaleFactor(1));
  std::fclose(out);
}

// What the child wrote, or "" when it did not run.
std::string RunChild(const char* filter) {
  char program[MAX_PATH], folder[MAX_PATH], report[MAX_PATH];
  if (GetModuleFileNameA(nullptr, program, sizeof program) == 0 || GetTempPathA(sizeof folder, folder) == 0 ||
      GetTempFileNameA(folder, "dpi", 0, report) == 0)
    return "";
  std::string command = std::string("\"") + program + "\" --gtest_filter=" + filter;
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  SetEnvironmentVariableA(kChildVariable, report);
  const BOOL started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  std::string text;
  if (started) {
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (FILE* in = std::fopen(report, "r")) {
      char line[64] = {};
      if (std::fgets(line, sizeof line, in) != nullptr) text = line;
      std::fclose(in);
    }
  }
  DeleteFileA(report);
  return text;
}

TEST(DpiFactor, ResolutionOfTheDesktopSettings) {
  if (!sundry::test::UnderWine())
    GTEST_SKIP() << "changes the desktop's resolution setting; run under Wine only";
  HKEY desktop;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &desktop, nullptr));
  DWORD old = 0, size = sizeof old, type = 0;
  const bool hadOld = RegQueryValueExA(desktop, "LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&old), &size) ==
                      ERROR_SUCCESS && type == REG_DWORD;
  std::string factors[2];
  const DWORD dpis[2] = {120, 96};
  for (int i = 0; i < 2; ++i) {
    RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpis[i]), sizeof dpis[i]);
    factors[i] = RunChild("DpiFactor.ChildReportsTheFactors");
  }
  if (hadOld)
    RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof old);
  else
    RegDeleteValueA(desktop, "LogPixels");
  RegCloseKey(desktop);
  EXPECT_EQ("0.8000 1.2500", factors[0]);
  EXPECT_EQ("1.0000 1.0000", factors[1]);
}

TEST(DpiFactor, TheDisplayHasADepth) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(nullptr, screen);
  const int bits = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(bits, CSundry::GetDisplayDepth());
  EXPECT_GE(bits, 16);
}

}  // namespace
