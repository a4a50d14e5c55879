// The animated static over a real static control: frames on its own timer,
// stopping, the picture tables with real bitmaps, and bitmaps freed.
#include <gtest/gtest.h>
#include <sundry/controls/KoAnimatedStatic.h>

#include <tlhelp32.h>

#include <chrono>
#include <vector>

#include "rtf_animation_resources.h"
#include "support/testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

// Handles messages for `ms` milliseconds, calling `watch` after each round.
template <class Watch>
void pump(int ms, Watch&& watch) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  do {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
      watch();
    }
    ::Sleep(1);
  } while (Clock::now() < end);
}
void pump(int ms) {
  pump(ms, [] {});
}

int threadCount() {
  HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int n = 0;
  for (BOOL ok = ::Thread32First(snap, &entry); ok; ok = ::Thread32Next(snap, &entry))
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++n;
  ::CloseHandle(snap);
  return n;
}

class AnimatedStaticWin : public ::testing::Test {
 protected:
  void SetUp() override {
    parent = ::CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 200, nullptr,
                               nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, parent);
    ASSERT_TRUE(anim.Create("", WS_CHILD | WS_VISIBLE | SS_BITMAP, CRect(10, 10, 50, 50), CWnd::FromHandle(parent)));
  }
  void TearDown() override {
    anim.DestroyWindow();
    ::DestroyWindow(parent);
  }
  void loadFrames() {
    for (UINT id : {IDB_ANIM_FRAME0, IDB_ANIM_FRAME1, IDB_ANIM_FRAME2}) ASSERT_GE(anim.setAnimationBitmap(id, -1, module), 0);
  }
  HINSTANCE module = ::GetModuleHandleA(nullptr);
  HWND parent = nullptr;
  CKoAnimatedStatic anim;
};

}  // namespace

TEST_F(AnimatedStaticWin, FramesFollowTheCycleRateAndStopDead) {
  loadFrames();
  anim.setCycleRate(100);
  const HBITMAP before = anim.GetBitmap();
  std::vector<std::pair<double, HBITMAP>> shown;
  const auto start = Clock::now();
  ASSERT_TRUE(anim.animateStart());
  pump(1050, [&] {
    if (anim.GetBitmap() != (shown.empty() ? before : shown.back().second))
      shown.emplace_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count(), anim.GetBitmap());
  });
  ASSERT_GE(shown.size(), 5u);
  EXPECT_LE(shown.size(), 11u);
  EXPECT_GE(shown[0].first, 90.0);  // the first frame after one cycle
  // Frames 0, 1, 2 and round again, one per cycle.
  for (size_t i = 3; i < shown.size(); ++i) EXPECT_EQ(shown[i - 3].second, shown[i].second) << i;
  EXPECT_NE(shown[0].second, shown[1].second);
  EXPECT_NE(shown[1].second, shown[2].second);
  const double mean = (shown.back().first - shown.front().first) / (shown.size() - 1);
  EXPECT_GT(mean, 85.0);
  EXPECT_LT(mean, 200.0);  // a loaded machine may be late

  anim.animateStop();
  const HBITMAP last = anim.GetBitmap();
  int changes = 0;
  pump(400, [&] { changes += anim.GetBitmap() != last; });
  EXPECT_EQ(0, changes);
  EXPECT_FALSE(::KillTimer(anim.m_hWnd, CKoAnimatedStatic::kAnimationTimer));  // no timer left
}

TEST_F(AnimatedStaticWin, ThousandStartsAndStopsLeaveNothingRunning) {
  loadFrames();
  anim.setCycleRate(10);
  const int threads = threadCount();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(anim.animateStart());
    if (i % 100 == 0) pump(15);
    ASSERT_TRUE(anim.animateStart());  // a second start restarts the one animation
    anim.animateStop();
  }
  EXPECT_EQ(threads, threadCount());
  EXPECT_FALSE(::KillTimer(anim.m_hWnd, CKoAnimatedStatic::kAnimationTimer));
  const HBITMAP last = anim.GetBitmap();
  int changes = 0;
  pump(100, [&] { changes += anim.GetBitmap() != last; });
  EXPECT_EQ(0, changes);
}

TEST_F(AnimatedStaticWin, RatesAndNothingToShow) {
  EXPECT_EQ(100u, anim.getCycleRate());
  anim.setCycleRate(0);
  anim.setCycleRate(-5);
  EXPECT_EQ(100u, anim.getCycleRate());
  EXPECT_EQ(-1, anim.setAnimationBitmap(IDB_ANIM_MISSING, -1, module));
  EXPECT_FALSE(anim.animateStart());
  anim.ShowWindow(SW_SHOW);
  EXPECT_FALSE(::IsWindowVisible(anim.m_hWnd));
  ASSERT_EQ(0, anim.setRestStateBitmap(IDB_ANIM_FRAME1, -1, module));
  anim.showRestStateBitmap(0);
  anim.ShowWindow(SW_SHOW);
  EXPECT_TRUE(::IsWindowVisible(anim.m_hWnd));
  for (int bad : {-1, 1, 8}) {
    anim.showRestStateBitmap(bad);
    anim.ShowWindow(SW_SHOW);
    EXPECT_FALSE(::IsWindowVisible(anim.m_hWnd)) << bad;
  }
}

TEST_F(AnimatedStaticWin, AFailedLoadKeepsThePictureAndAReplacedOneIsDeleted) {
  ASSERT_EQ(3, anim.setRestStateBitmap(IDB_ANIM_FRAME2, 3, module));
  anim.showRestStateBitmap(3);
  const HBITMAP shown = anim.GetBitmap();
  EXPECT_EQ(-1, anim.setRestStateBitmap(IDB_ANIM_MISSING, 3, module));
  EXPECT_EQ(shown, anim.GetBitmap());
  EXPECT_EQ(OBJ_BITMAP, static_cast<int>(::GetObjectType(shown)));
  // The control stops showing the replaced picture before it is deleted.
  EXPECT_EQ(3, anim.setRestStateBitmap(IDB_ANIM_FRAME0, 3, module));
  EXPECT_EQ(0u, ::GetObjectType(shown));
  EXPECT_EQ(nullptr, anim.GetBitmap());
}

TEST_F(AnimatedStaticWin, TheDestructorFreesEveryBitmap) {
  const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  std::vector<HBITMAP> bitmaps;
  {
    CKoAnimatedStatic other;
    ASSERT_TRUE(other.Create("", WS_CHILD | WS_VISIBLE | SS_BITMAP, CRect(60, 10, 90, 40), CWnd::FromHandle(parent)));
    for (int i = 0; i < 8; ++i) ASSERT_EQ(i, other.setRestStateBitmap(IDB_ANIM_FRAME1, -1, module));
    for (int i = 0; i < 16; ++i) ASSERT_EQ(i, other.setAnimationBitmap(IDB_ANIM_FRAME0, -1, module));
    for (int i = 0; i < 8; ++i) bitmaps.push_back(other.getRestStateBitmap(i));
    for (int i = 0; i < 16; ++i) bitmaps.push_back(other.getAnimationBitmap(i));
    // Destroyed while animating and showing one of them.
    other.setCycleRate(10);
    ASSERT_TRUE(other.animateStart());
    pump(50);
    for (HBITMAP b : bitmaps) EXPECT_EQ(OBJ_BITMAP, static_cast<int>(::GetObjectType(b)));
    if (gdiBefore != 0) {
      EXPECT_EQ(gdiBefore + 24, ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS));
    }
  }
  for (HBITMAP b : bitmaps) EXPECT_EQ(0u, ::GetObjectType(b));
  // Wine reports no GDI object count (0); where it does, it is back.
  if (gdiBefore != 0) {
    EXPECT_EQ(gdiBefore, ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS));
  }
}

TEST(AnimatedStaticCount, EachControlIsCounted) {
  const int before = CKoAnimatedStatic::g_eventID;
  { CKoAnimatedStatic a, b; }
  EXPECT_EQ(before + 2, CKoAnimatedStatic::g_eventID);
}
