// The window framework against the real user32: subclassing, message-map
// dispatch along the class chain, Default(), the handle map and reflection.

#include <sundry/platform/AfxCtrl.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT kAsk = WM_APP + 1;      // answered by the original procedure
constexpr UINT kCustom = WM_APP + 2;   // answered by a map entry

std::vector<UINT> g_originalSaw;

LRESULT CALLBACK OriginalProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_MOUSEMOVE || message == WM_SETFOCUS || message == kAsk || message == kCustom)
    g_originalSaw.push_back(message);
  if (message == kAsk) return 42;
  if (message == WM_MOUSEMOVE) return 7;
  return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

HWND MakePlainWindow() {
  static ATOM atom = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = OriginalProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "SundryFrameworkTest";
    return ::RegisterClassA(&wc);
  }();
  EXPECT_NE(atom, 0);
  HWND hWnd = ::CreateWindowExA(0, "SundryFrameworkTest", "t", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, ::GetModuleHandleA(nullptr), nullptr);
  EXPECT_NE(hWnd, nullptr) << "error " << ::GetLastError();
  return hWnd;
}

class CBaseProbe : public CWnd {
 public:
  std::vector<CPoint> moves;
  int focusCalls = 0;
  LRESULT defaultResult = -1;
  bool passMoveOn = false;
  afx_msg void OnMouseMove(UINT, CPoint point) {
    moves.push_back(point);
    if (passMoveOn) defaultResult = Default();
  }
  afx_msg void OnSetFocus(CWnd*) { ++focusCalls; }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CBaseProbe, CWnd)
ON_WM_MOUSEMOVE()
ON_WM_SETFOCUS()
END_MESSAGE_MAP()

// Adds one entry and overrides a handler of the base's map by its own entry.
class CDerivedProbe : public CBaseProbe {
 public:
  int derivedFocusCalls = 0;
  afx_msg LRESULT OnCustom(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }
  afx_msg void OnSetFocus(CWnd*) { ++derivedFocusCalls; }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CDerivedProbe, CBaseProbe)
ON_MESSAGE(kCustom, &CDerivedProbe::OnCustom)
ON_WM_SETFOCUS()
END_MESSAGE_MAP()

TEST(WindowFramework, SubclassedWindowRunsMapHandlersAndPassesTheRestOn) {
  g_originalSaw.clear();
  HWND hWnd = MakePlainWindow();
  ASSERT_NE(hWnd, nullptr);
  CDerivedProbe probe;
  ASSERT_TRUE(probe.SubclassWindow(hWnd));
  EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), &probe);
  EXPECT_FALSE(CDerivedProbe().SubclassWindow(hWnd)) << "one object per window";

  // A handler of the base class's map, with its point unpacked (negative
  // coordinates too), not passed on.
  EXPECT_EQ(::SendMessageA(hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, -3)), 0);
  ASSERT_EQ(probe.moves.size(), 1u);
  EXPECT_EQ(probe.moves[0], CPoint(5, -3));
  EXPECT_TRUE(g_originalSaw.empty());

  // Default() reaches the original procedure and its result is the message's.
  probe.passMoveOn = true;
  EXPECT_EQ(::SendMessageA(hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(1, 2)), 7);
  EXPECT_EQ(probe.defaultResult, 7);
  EXPECT_EQ(g_originalSaw, std::vector<UINT>{WM_MOUSEMOVE});

  // A message no map names goes to the original procedure.
  g_originalSaw.clear();
  EXPECT_EQ(::SendMessageA(hWnd, kAsk, 0, 0), 42);
  EXPECT_EQ(g_originalSaw, std::vector<UINT>{kAsk});

  // The derived map's entries come first.
  EXPECT_EQ(::SendMessageA(hWnd, kCustom, 3, 4), 7);
  ::SendMessageA(hWnd, WM_SETFOCUS, 0, 0);
  EXPECT_EQ(probe.derivedFocusCalls, 1);
  EXPECT_EQ(probe.focusCalls, 0);

  // Unsubclassed, the window is the original one again.
  g_originalSaw.clear();
  EXPECT_EQ(probe.UnsubclassWindow(), hWnd);
  EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
  EXPECT_EQ(::SendMessageA(hWnd, WM_MOUSEMOVE, 0, 0), 7);
  EXPECT_EQ(::SendMessageA(hWnd, kCustom, 3, 4), 0);
  EXPECT_EQ(probe.moves.size(), 2u);
  EXPECT_EQ(g_originalSaw, (std::vector<UINT>{WM_MOUSEMOVE, kCustom}));
  ::DestroyWindow(hWnd);
}

TEST(WindowFramework, DestroyingTheWindowDetachesTheObject) {
  CBaseProbe probe;
  HWND hWnd = MakePlainWindow();
  ASSERT_TRUE(probe.SubclassWindow(hWnd));
  ASSERT_TRUE(probe.DestroyWindow());
  EXPECT_EQ(probe.m_hWnd, nullptr);
  EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
  // A temporary object for a foreign handle is reused, not permanent.
  HWND other = MakePlainWindow();
  CWnd* temp = CWnd::FromHandle(other);
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(temp, CWnd::FromHandle(other));
  EXPECT_EQ(CWnd::FromHandlePermanent(other), nullptr);
  ::DestroyWindow(other);
  CWnd::DeleteTempMap();
}

// An owner-drawn button created under a framework parent gets WM_DRAWITEM
// back from its parent.
class CDrawCounter : public CButton {
 public:
  int draws = 0;
  void DrawItem(LPDRAWITEMSTRUCT) override { ++draws; }
};

TEST(WindowFramework, ParentReflectsDrawItemToItsControl) {
  CBaseProbe parent;
  ASSERT_TRUE(parent.SubclassWindow(MakePlainWindow()));
  CDrawCounter button;
  ASSERT_TRUE(button.Create("b", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, CRect(0, 0, 40, 20), &parent, 100));
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_BUTTON;
  item.CtlID = 100;
  item.hwndItem = button.m_hWnd;
  EXPECT_EQ(parent.SendMessage(WM_DRAWITEM, 100, reinterpret_cast<LPARAM>(&item)), TRUE);
  EXPECT_EQ(button.draws, 1);
  parent.DestroyWindow();
  EXPECT_EQ(button.m_hWnd, nullptr) << "the child went with its parent";
}

}  // namespace
