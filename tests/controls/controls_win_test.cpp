// The dialog and control family as real windows under user32/comctl32.

#include <sundry/controls/VELABitmapBtn.h>
#include <sundry/controls/VELADialog.h>
#include <sundry/controls/VELAListCtrl.h>
#include <sundry/controls/VELAListCtrlHiddenSB.h>
#include <sundry/controls/VELAStatic.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_resources.h"

namespace {

constexpr UINT kFinish = WM_APP + 10;
constexpr INT_PTR kStillOpen = 77;

void Pump(HWND dialog = nullptr) {
  MSG msg;
  for (int round = 0; round < 3; ++round) {
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog != nullptr && ::IsDialogMessageA(dialog, &msg)) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    ::Sleep(10);
  }
}

// A visible top-level window to hold the controls.
struct Host {
  CWnd wnd;
  Host() {
    static const bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = ::DefWindowProcA;
      wc.hInstance = ::GetModuleHandleA(nullptr);
      wc.lpszClassName = "SundryControlsHost";
      wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
      return ::RegisterClassA(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    HWND h = ::CreateWindowExA(0, "SundryControlsHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 500, 400,
                               nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    EXPECT_TRUE(wnd.SubclassWindow(h));
  }
};

// ---------------------------------------------------------------------------
// OK and Cancel modes, run modally: keys are posted before the dialog's own
// loop starts, then a message that ends it with kStillOpen if it is still
// open.
class CModesDialog : public CVELADialog {
 public:
  CModesDialog(int okMode, int cancelMode, bool valid, UINT key)
      : CVELADialog(IDD_MODES), m_ok(okMode), m_cancel(cancelMode), m_valid(valid), m_key(key) {}
  int validations = 0;

  BOOL OnInitDialog() override {
    CVELADialog::OnInitDialog();
    setOKMode(m_ok);
    setCancelMode(m_cancel);
    ::PostMessageA(::GetDlgItem(m_hWnd, IDC_NEXT), WM_KEYDOWN, m_key, 1);
    PostMessage(kFinish);
    return TRUE;
  }
  void DoDataExchange(CDataExchange* dx) override {
    if (!dx->m_bSaveAndValidate) return;
    ++validations;
    if (!m_valid) dx->Fail();
  }
  afx_msg LRESULT OnFinish(WPARAM, LPARAM) {
    EndDialog(static_cast<int>(kStillOpen));
    return 0;
  }

 private:
  int m_ok, m_cancel;
  bool m_valid;
  UINT m_key;
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CModesDialog, CVELADialog)
ON_MESSAGE(kFinish, &CModesDialog::OnFinish)
END_MESSAGE_MAP()

TEST(VELADialog, EnterAndEscapeFollowTheModes) {
  {
    CModesDialog d(0, 0, true, VK_RETURN);
    EXPECT_EQ(d.DoModal(), kStillOpen) << "OK mode 0 ignores Enter";
    EXPECT_EQ(d.validations, 0);
    EXPECT_EQ(d.m_hWnd, nullptr);
  }
  {
    CModesDialog d(1, 0, true, VK_RETURN);
    EXPECT_EQ(d.DoModal(), IDOK);
    EXPECT_EQ(d.validations, 1);
  }
  {
    CModesDialog d(1, 1, false, VK_RETURN);
    EXPECT_EQ(d.DoModal(), kStillOpen) << "a failed validation keeps it open";
    EXPECT_EQ(d.validations, 1);
  }
  {
    CModesDialog d(1, 0, true, VK_ESCAPE);
    EXPECT_EQ(d.DoModal(), kStillOpen) << "Cancel mode 0 ignores Escape";
  }
  {
    CModesDialog d(0, 1, true, VK_ESCAPE);
    EXPECT_EQ(d.DoModal(), IDCANCEL);
    EXPECT_EQ(d.validations, 0);
  }
}

// ---------------------------------------------------------------------------
class CFocusDialog : public CVELADialog {
 public:
  explicit CFocusDialog(UINT id) : CVELADialog(id) {}
  int moves = 0;
  afx_msg LRESULT OnNextCtl(WPARAM, LPARAM) {
    ++moves;
    return Default();
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CFocusDialog, CVELADialog)
ON_MESSAGE(WM_NEXTDLGCTL, &CFocusDialog::OnNextCtl)
END_MESSAGE_MAP()

TEST(VELADialog, FocusLeavesAControlThatIsNotATabStop) {
  CFocusDialog d(IDD_MODES);
  ASSERT_TRUE(d.Create(IDD_MODES));
  d.ShowWindow(SW_SHOW);
  ::SetActiveWindow(d.m_hWnd);
  Pump(d.m_hWnd);
  HWND plain = ::GetDlgItem(d.m_hWnd, IDC_PLAIN);
  HWND next = ::GetDlgItem(d.m_hWnd, IDC_NEXT);
  ::SetFocus(plain);
  ASSERT_EQ(::GetFocus(), plain);
  d.SendMessage(WM_SETFOCUS, reinterpret_cast<WPARAM>(plain));
  Pump(d.m_hWnd);
  EXPECT_EQ(::GetFocus(), next);
  EXPECT_EQ(d.moves, 1);

  // A tab stop keeps the focus.
  d.SendMessage(WM_SETFOCUS, reinterpret_cast<WPARAM>(next));
  Pump(d.m_hWnd);
  EXPECT_EQ(::GetFocus(), next);
  EXPECT_EQ(d.moves, 1);
  d.DestroyWindow();
}

TEST(VELADialog, NoOtherTabStopMeansNoMove) {
  CFocusDialog d(IDD_LONE);
  ASSERT_TRUE(d.Create(IDD_LONE));
  d.ShowWindow(SW_SHOW);
  Pump(d.m_hWnd);
  HWND plain = ::GetDlgItem(d.m_hWnd, IDC_PLAIN);
  ::SetFocus(plain);
  d.SendMessage(WM_SETFOCUS, reinterpret_cast<WPARAM>(plain));
  Pump(d.m_hWnd);
  EXPECT_EQ(::GetFocus(), plain);
  EXPECT_EQ(d.moves, 0) << "no focus move to the window that has it";
  d.DestroyWindow();
}

// ---------------------------------------------------------------------------
std::string ToolText(HWND tooltip, HWND list) {
  char buffer[512] = {};
  TOOLINFOA info{};
  info.cbSize = sizeof info;
  info.hwnd = list;
  info.uId = reinterpret_cast<UINT_PTR>(list);
  info.lpszText = buffer;
  ::SendMessageA(tooltip, TTM_GETTEXTA, sizeof buffer, reinterpret_cast<LPARAM>(&info));
  return buffer;
}

void FillList(CListCtrl& list, const char* prefix) {
  for (int c = 0; c < 3; ++c) list.InsertColumn(c, "col", LVCFMT_LEFT, 60);
  for (int r = 0; r < 3; ++r) {
    std::string row = std::to_string(r);
    list.InsertItem(r, (prefix + std::string("a") + row).c_str());
    list.SetItemText(r, 1, (prefix + std::string("b") + row).c_str());
    list.SetItemText(r, 2, (prefix + std::string("c") + row).c_str());
  }
}

void MoveOver(CListCtrl& list, int row, int column) {
  CRect r;
  if (row >= 0) {
    ASSERT_TRUE(list.GetItemRect(row, &r, LVIR_BOUNDS));
  } else {  // below the last row
    ASSERT_TRUE(list.GetItemRect(list.GetItemCount() - 1, &r, LVIR_BOUNDS));
    int height = r.Height();
    r.top += 3 * height;
    r.bottom += 3 * height;
  }
  int x = 5 + 60 * column;
  int y = (r.top + r.bottom) / 2;
  list.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
}

TEST(VELAListCtrl, TipShowsTheChosenColumnsOfTheRowUnderTheMouse) {
  Host host;
  CVELAListCtrl list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 300, 200), &host.wnd, 10));
  FillList(list, "");
  list.setToolTip("start");
  ASSERT_NE(list.getToolTipWindow(), nullptr);
  HWND tip = list.getToolTipWindow();
  EXPECT_EQ(ToolText(tip, list.m_hWnd), "start");

  int columns[] = {0, 2, -1};
  int lineBreaks[] = {1, 1};
  list.setTTSubItemOrder(columns, lineBreaks);
  MoveOver(list, 0, 0);
  EXPECT_EQ(ToolText(tip, list.m_hWnd), "a0\r\nc0\r\n");
  EXPECT_EQ(::SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0), 300);

  int blanks[] = {0, 0};
  int reversed[] = {2, 1, -1};
  list.setTTSubItemOrder(reversed, blanks);
  MoveOver(list, 1, 2);  // over a sub-item of the row
  EXPECT_EQ(ToolText(tip, list.m_hWnd), "c1 b1");

  // Leaving the rows empties the tool's text, not only the list's copy.
  MoveOver(list, -1, 0);
  EXPECT_EQ(ToolText(tip, list.m_hWnd), "");
  EXPECT_STREQ(list.getToolTip(), "");
  MoveOver(list, 2, 0);
  EXPECT_EQ(ToolText(tip, list.m_hWnd), "c2 b2");
}

TEST(VELAListCtrl, EachListRemembersItsOwnRow) {
  Host host;
  CVELAListCtrl first, second;
  ASSERT_TRUE(first.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 240, 150), &host.wnd, 11));
  ASSERT_TRUE(second.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 160, 240, 310), &host.wnd, 12));
  FillList(first, "x");
  FillList(second, "y");
  int columns[] = {0, -1};
  int modes[] = {0};
  for (CVELAListCtrl* list : {&first, &second}) {
    list->setToolTip("none");
    list->setTTSubItemOrder(columns, modes);
  }
  MoveOver(first, 1, 0);
  MoveOver(second, 1, 0);  // the same row index in another list
  EXPECT_EQ(ToolText(first.getToolTipWindow(), first.m_hWnd), "xa1");
  EXPECT_EQ(ToolText(second.getToolTipWindow(), second.m_hWnd), "ya1");
}

// ---------------------------------------------------------------------------
TEST(VELABitmapBtn, ShapeBitmapCutsTheWindow) {
  Host host;
  CVELABitmapBtn button;
  ASSERT_TRUE(button.Create("", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, CRect(0, 0, 40, 24), &host.wnd, 20));
  HINSTANCE self = ::GetModuleHandleA(nullptr);
  EXPECT_NE(button.LoadBitmaps(IDB_UP, IDB_DOWN, 0, 0, IDB_SHAPE, self), 0);
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(button.GetWindowRgn(region), ERROR);
  EXPECT_TRUE(::PtInRegion(region, 10, 4));
  EXPECT_TRUE(::PtInRegion(region, 29, 19));
  EXPECT_TRUE(::PtInRegion(region, 2, 2)) << "17 from black on every channel stays";
  EXPECT_FALSE(::PtInRegion(region, 9, 3)) << "16 from black is cut";
  EXPECT_FALSE(::PtInRegion(region, 30, 10));
  EXPECT_FALSE(::PtInRegion(region, 0, 0));

  // A shape that does not load: 0, and the window keeps its region.
  EXPECT_EQ(button.LoadBitmaps(IDB_UP, 0, 0, 0, IDB_MISSING, self), 0);
  ASSERT_NE(button.GetWindowRgn(region), ERROR);
  EXPECT_TRUE(::PtInRegion(region, 10, 4));
  EXPECT_FALSE(::PtInRegion(region, 0, 0));
  ::DeleteObject(region);

  // No window to take the region: 0.
  CVELABitmapBtn unmade;
  EXPECT_EQ(unmade.LoadBitmaps(IDB_UP, 0, 0, 0, IDB_SHAPE, self), 0);

  // Under the mouse it takes the focus.
  button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(12, 6));
  EXPECT_EQ(::GetFocus(), button.m_hWnd);
  button.setToolTip(std::string(200, 'q').c_str());
  EXPECT_EQ(std::string(button.getToolTip()), std::string(127, 'q'));
}

// ---------------------------------------------------------------------------
TEST(VELAStatic, PicturesAndTheNothingToShowRule) {
  Host host;
  CVELAStatic picture;
  ASSERT_TRUE(picture.Create("", WS_CHILD | SS_BITMAP, CRect(0, 0, 32, 32), &host.wnd, 30));
  EXPECT_EQ(picture.loadBitmap(IDB_PICTURE_A), 1);
  EXPECT_TRUE(picture.IsWindowVisible());
  HBITMAP first = picture.GetBitmap();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(picture.loadBitmap(IDB_PICTURE_A), 1);
  EXPECT_EQ(picture.GetBitmap(), first) << "the same id is not loaded again";

  EXPECT_EQ(picture.loadBitmap(IDB_PICTURE_B), 1);
  HBITMAP second = picture.GetBitmap();
  EXPECT_NE(second, first);
  EXPECT_EQ(::GetObjectType(first), 0u) << "the replaced bitmap is deleted";

  EXPECT_EQ(picture.loadBitmap(IDB_MISSING), 0);
  EXPECT_EQ(picture.getBitmapId(), static_cast<UINT>(IDB_PICTURE_B)) << "a failed load keeps the id";
  EXPECT_EQ(picture.GetBitmap(), second);

  EXPECT_EQ(picture.loadBitmap(0), 1);
  EXPECT_FALSE(picture.IsWindowVisible());
  picture.ShowWindow(SW_SHOW);
  EXPECT_FALSE(picture.IsWindowVisible()) << "nothing to show";
  EXPECT_EQ(picture.loadBitmap(IDB_PICTURE_A), 1);
  EXPECT_TRUE(picture.IsWindowVisible());
  picture.ShowWindow(SW_HIDE);
  picture.ShowWindow(SW_SHOW);
  EXPECT_TRUE(picture.IsWindowVisible());
}

TEST(VELAStatic, AnswersTheTooltipsRequestForText) {
  Host host;
  CVELAStatic picture;
  ASSERT_TRUE(picture.Create("", WS_CHILD | WS_VISIBLE | SS_BITMAP, CRect(0, 0, 32, 32), &host.wnd, 31));
  picture.setToolTip("the picture's tip");
  HWND tip = ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP, 0, 0, 0, 0, host.wnd.m_hWnd, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(tip, nullptr);
  NMTTDISPINFOA info{};
  info.hdr.hwndFrom = tip;
  info.hdr.code = TTN_NEEDTEXTA;
  EXPECT_EQ(picture.SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info)), 0);
  ASSERT_NE(info.lpszText, nullptr);
  EXPECT_STREQ(info.lpszText, "the picture's tip");
  EXPECT_EQ(::SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0), 300);
  ::DestroyWindow(tip);
}

// ---------------------------------------------------------------------------
TEST(VELAListCtrlHiddenSB, PendingHideDropsTheVerticalBarAtTheNextFrameCalculation) {
  Host host;
  CVELAListCtrlHiddenSB list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host.wnd, 40));
  list.InsertColumn(0, "c", LVCFMT_LEFT, 150);
  for (int i = 0; i < 30; ++i) list.InsertItem(i, "row");
  Pump();
  ASSERT_TRUE(list.GetStyle() & WS_VSCROLL) << "thirty rows need a vertical bar";

  list.HideScrollBars(2, 1);
  EXPECT_TRUE(list.GetStyle() & WS_VSCROLL) << "nothing changes before the frame is calculated";
  list.SetWindowPos(nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_FALSE(list.GetStyle() & WS_VSCROLL);
}

TEST(VELAListCtrlHiddenSB, HideNowGrowsAndClipsTheWindow) {
  Host host;
  CVELAListCtrlHiddenSB list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host.wnd, 41));
  CRect client;
  list.GetClientRect(client);
  list.HideScrollBars(1, 3);
  CRect window;
  list.GetWindowRect(window);
  EXPECT_EQ(window.Width(), client.Width() + ::GetSystemMetrics(SM_CXVSCROLL));
  EXPECT_EQ(window.Height(), client.Height() + ::GetSystemMetrics(SM_CYVSCROLL));
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_EQ(list.GetWindowRgn(region), SIMPLEREGION);
  RECT box;
  ::GetRgnBox(region, &box);
  EXPECT_EQ(CRect(box), CRect(0, 0, client.Width() - 2, client.Height() - 2));
  list.HideScrollBars(1, 7);
  EXPECT_EQ(list.GetWindowRgn(region), ERROR) << "another bars value removes the region";
  ::DeleteObject(region);
}

TEST(VELAListCtrlHiddenSB, ColumnResizeIsPostedWhileTheWindowLives) {
  Host host;
  Host other;
  CVELAListCtrlHiddenSB list;
  ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(0, 0, 200, 100), &host.wnd, 42));
  list.InsertColumn(0, "c", LVCFMT_LEFT, 150);
  constexpr UINT kResized = WM_APP + 33;
  list.setParentInfo(&other.wnd, kResized);
  HWND header = ListView_GetHeader(list.m_hWnd);
  HDITEMA item{};
  NMHEADERA notice{};
  notice.hdr.hwndFrom = header;
  notice.hdr.idFrom = ::GetDlgCtrlID(header);
  notice.hdr.code = HDN_ENDTRACKA;
  notice.pitem = &item;
  list.SendMessage(WM_NOTIFY, notice.hdr.idFrom, reinterpret_cast<LPARAM>(&notice));
  MSG msg;
  EXPECT_TRUE(::PeekMessageA(&msg, other.wnd.m_hWnd, kResized, kResized, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_EQ(msg.lParam, 0);

  HWND gone = other.wnd.m_hWnd;
  other.wnd.DestroyWindow();
  list.SendMessage(WM_NOTIFY, notice.hdr.idFrom, reinterpret_cast<LPARAM>(&notice));
  EXPECT_FALSE(::PeekMessageA(&msg, gone, kResized, kResized, PM_REMOVE));
  EXPECT_FALSE(::PeekMessageA(&msg, reinterpret_cast<HWND>(-1), kResized, kResized, PM_REMOVE))
      << "nothing posted to the thread either";
}

// ---------------------------------------------------------------------------
TEST(FrameworkResources, StringsLoadWhole) {
  CString text;
  ASSERT_TRUE(text.LoadString(IDS_LONG));
  EXPECT_EQ(text.GetLength(), 675);
  EXPECT_EQ(text.Right(15), CString("0044-long-text;"));
  EXPECT_FALSE(text.LoadString(IDS_LONG + 1));
  EXPECT_TRUE(text.IsEmpty());
}

}  // namespace
