// CSundry's display helpers over the Linux stand-in: the resolution and
// depth of the X display or of the configured screen, failures of the
// screen context and of memory, and windows that do not exist here.

#include "support/testutil.h"

#include <sundry/util/Sundry.h>

#include "platform/posix/display.h"
#include "platform/winapi/gdi_internal.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using sundry::test::ScopedEnv;

namespace {

TEST(DisplayStandIn, TheFactorFollowsTheConfiguredResolution) {
  ScopedEnv display("DISPLAY", "");
  {
    ScopedEnv dpi("SUNDRY_LOGPIXELS", "120");
    EXPECT_DOUBLE_EQ(0.8, CSundry::GetDPIScaleFactor(0));
    EXPECT_DOUBLE_EQ(0.8, CSundry::GetDPIScaleFactor(-3));
    EXPECT_DOUBLE_EQ(1.25, CSundry::GetDPIScaleFactor(1));
    EXPECT_DOUBLE_EQ(1.25, CSundry::GetDPIScaleFactor(2));
  }
  {
    ScopedEnv dpi("SUNDRY_LOGPIXELS", "96");
    EXPECT_EQ(1.0, CSundry::GetDPIScaleFactor(0));
    EXPECT_EQ(1.0, CSundry::GetDPIScaleFactor(1));
  }
  // No display and nothing configured: 96 dpi and 24 bits.
  ScopedEnv none("SUNDRY_LOGPIXELS", "");
  EXPECT_EQ(1.0, CSundry::GetDPIScaleFactor(0));
  EXPECT_EQ(24, CSundry::GetDisplayDepth());
}

TEST(DisplayStandIn, NoScreenContextGivesTheFactorOne) {
  ScopedEnv dpi("SUNDRY_LOGPIXELS", "120");
  sundry::platform::SetScreenContextFails(true);
  const double shrink = CSundry::GetDPIScaleFactor(0), grow = CSundry::GetDPIScaleFactor(1);
  const int depth = CSundry::GetDisplayDepth();
  sundry::platform::SetScreenContextFails(false);
  EXPECT_EQ(1.0, shrink);
  EXPECT_EQ(1.0, grow);
  EXPECT_EQ(0, depth);
}

TEST(DisplayStandIn, XftDpiIsReadFromTheResourceText) {
  using sundry::platform::posix::DpiFromResources;
  EXPECT_EQ(120, DpiFromResources("Xft.antialias:\t1\nXft.dpi:\t120\nXft.hinting:\t1\n"));
  EXPECT_EQ(144, DpiFromResources("Xft.dpi: 143.8"));
  EXPECT_EQ(0, DpiFromResources("Xft.antialias:\t1\n"));
  EXPECT_EQ(0, DpiFromResources("Xft.dpi:\tlarge\n"));
  EXPECT_EQ(0, DpiFromResources("Xft.dpi:\t0\n"));
  EXPECT_EQ(0, DpiFromResources(nullptr));
}

// An Xvfb server of the given depth on a display of its own, for one test.
class Xvfb {
 public:
  explicit Xvfb(int depth) {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(fds[1], 3);
      const int quiet = open("/dev/null", O_WRONLY);
      if (quiet >= 0) dup2(quiet, 2);
      const std::string screen = "64x64x" + std::to_string(depth);
      // -noreset: the root window's settings stay when a client leaves.
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
            "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    m_pipe = fds[0];
    // The number ends with a line feed; the pipe stays open while the
    // server runs, so no late write of it fails.
    std::string number;
    char c;
    while (m_pid > 0 && read(m_pipe, &c, 1) == 1 && c != '\n') number += c;
    if (!number.empty()) m_display = ":" + number;
  }
  ~Xvfb() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_pipe >= 0) close(m_pipe);
  }
  const std::string& display() const { return m_display; }

 private:
  pid_t m_pid = -1;
  int m_pipe = -1;
  std::string m_display;
};

TEST(DisplayStandIn, AnXDisplayGivesItsDepthAndDpi) {
  Xvfb server(16);
  if (server.display().empty()) GTEST_SKIP() << "Xvfb (package xvfb) is not available";
  ScopedEnv display("DISPLAY", server.display().c_str());
  ScopedEnv dpi("SUNDRY_LOGPIXELS", "");
  EXPECT_EQ(16, CSundry::GetDisplayDepth());
  EXPECT_EQ(1.0, CSundry::GetDPIScaleFactor(1));
  // The desktop's setting, as a session's settings daemon publishes it.
  const std::string set = "xprop -display " + server.display() +
                          " -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER 'Xft.dpi:\t120\n' 2>/dev/null";
  if (std::system(set.c_str()) != 0) GTEST_SKIP() << "xprop (package x11-utils) is not available";
  EXPECT_DOUBLE_EQ(1.25, CSundry::GetDPIScaleFactor(1));
  EXPECT_DOUBLE_EQ(0.8, CSundry::GetDPIScaleFactor(0));
}

TEST(DisplayStandIn, WindowsAndTheNotificationAreaDoNotExist) {
  char text[] = "tip";
  SetLastError(0);
  EXPECT_EQ(nullptr, CSundry::CreateTooltip(nullptr, text, nullptr));
  EXPECT_WIN32(ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
  SetLastError(0);
  CSundry::CreateTooltipBalloon(nullptr, "title", "text", 1000, NIIF_INFO, 1);
  EXPECT_WIN32(ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
  SetLastError(0);
  CSundry::CreateTooltipBalloon(nullptr, 1u, 2u, 1000, NIIF_INFO, 1);
  EXPECT_WIN32(ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
}

// A checkerboard: more runs than the first block of rectangles holds.
HBITMAP Checkerboard(int width, int height) {
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  auto* pixels = static_cast<uint32_t*>(bits);
  for (int i = 0; pixels != nullptr && i < width * height; ++i)
    pixels[i] = ((i % width) + (i / width)) % 2 ? 0x00FFFFFF : 0;
  return bitmap;
}

TEST(DisplayStandIn, EveryPathReleasesWhatItMade) {
  using sundry::platform::GdiObjectCount;
  HBITMAP bitmap = Checkerboard(64, 20);
  ASSERT_NE(nullptr, bitmap);
  const size_t before = GdiObjectCount();

  // The block of rectangles cannot grow: no region, nothing left behind.
  sundry::platform::SetGlobalReAllocFails(true);
  HRGN failed = CSundry::BitmapToRegion(bitmap, 0, 0);
  sundry::platform::SetGlobalReAllocFails(false);
  EXPECT_EQ(nullptr, failed);
  EXPECT_EQ(before, GdiObjectCount());

  // Selected elsewhere.
  HDC holder = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(holder, bitmap);
  EXPECT_EQ(nullptr, CSundry::BitmapToRegion(bitmap, 0, 0));
  SelectObject(holder, old);
  DeleteDC(holder);
  EXPECT_EQ(before, GdiObjectCount());

  // Success leaves the region only.
  HRGN region = CSundry::BitmapToRegion(bitmap, 0, 0);
  ASSERT_NE(nullptr, region);
  EXPECT_EQ(before + 1, GdiObjectCount());
  DeleteObject(region);
  DeleteObject(bitmap);
}

TEST(DisplayStandIn, RegionsFromRectanglesInAnyOrderAreBanded) {
  // Overlapping rectangles out of order become the bands of their union.
  struct {
    RGNDATAHEADER rdh;
    RECT rects[3];
  } data{{sizeof(RGNDATAHEADER), RDH_RECTANGLES, 3, 0, {0, 0, 0, 0}},
         {{5, 5, 10, 10}, {0, 0, 6, 6}, {2, 8, 4, 9}}};
  HRGN region = ExtCreateRegion(nullptr, sizeof data, reinterpret_cast<RGNDATA*>(&data));
  ASSERT_NE(nullptr, region);
  std::vector<uint8_t> out(GetRegionData(region, 0, nullptr));
  ASSERT_EQ(out.size(), GetRegionData(region, static_cast<DWORD>(out.size()), reinterpret_cast<RGNDATA*>(out.data())));
  const RECT* r = reinterpret_cast<const RECT*>(reinterpret_cast<RGNDATA*>(out.data())->Buffer);
  const std::vector<std::vector<LONG>> expected = {
      {0, 0, 6, 5}, {0, 5, 10, 6}, {5, 6, 10, 8}, {2, 8, 4, 9}, {5, 8, 10, 9}, {5, 9, 10, 10}};
  ASSERT_EQ(expected.size(), reinterpret_cast<RGNDATA*>(out.data())->rdh.nCount);
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(expected[i], (std::vector<LONG>{r[i].left, r[i].top, r[i].right, r[i].bottom})) << i;
  DeleteObject(region);
}

}  // namespace
