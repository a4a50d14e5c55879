// CVELAListCtrlHiddenSB.

#include <sundry/controls/VELAListCtrlHiddenSB.h>
#include <sundry/controls/core/ScrollBarLayout.h>

BEGIN_MESSAGE_MAP(CVELAListCtrlHiddenSB, CListCtrl)
ON_WM_NCCALCSIZE()
END_MESSAGE_MAP()

CVELAListCtrlHiddenSB::CVELAListCtrlHiddenSB() = default;
CVELAListCtrlHiddenSB::~CVELAListCtrlHiddenSB() = default;

void CVELAListCtrlHiddenSB::HideScrollBars(int action, int bars) {
  if (action == 1) {
    m_iPendingHide = 0;
    if (m_hWnd == nullptr) return;
    CRect client;
    GetClientRect(client);
    sundry::controls::ScrollBarLayout layout = sundry::controls::HideScrollBarsLayout(
        client.Width(), client.Height(), ::GetSystemMetrics(SM_CXVSCROLL), ::GetSystemMetrics(SM_CYVSCROLL), bars);
    if (!layout.clip) {
      SetWindowRgn(nullptr, TRUE);
      return;
    }
    SetWindowPos(nullptr, 0, 0, layout.windowWidth, layout.windowHeight, SWP_NOMOVE | SWP_NOZORDER);
    HRGN region = ::CreateRectRgn(0, 0, layout.clipRight, layout.clipBottom);
    if (region != nullptr && SetWindowRgn(region, TRUE) == 0) ::DeleteObject(region);
  } else if (action == 2) {
    m_iPendingHide = 1;
    m_iBars = bars;
  }
}

void CVELAListCtrlHiddenSB::setParentInfo(CWnd* window, UINT message) {
  m_hNotifyWnd = window != nullptr ? window->GetSafeHwnd() : nullptr;
  m_uNotifyMessage = message;
}

void CVELAListCtrlHiddenSB::OnNcCalcSize(BOOL, NCCALCSIZE_PARAMS*) {
  if (m_iPendingHide == 1) {
    DWORD styles = sundry::controls::ScrollStylesFor(m_iBars);
    if (styles != 0) ModifyStyle(styles, 0);
  }
  Default();
}

BOOL CVELAListCtrlHiddenSB::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  BOOL result = CListCtrl::OnNotify(wParam, lParam, pResult);
  auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header != nullptr && (header->code == HDN_ENDTRACKA || header->code == HDN_ENDTRACKW) &&
      m_hNotifyWnd != nullptr && ::IsWindow(m_hNotifyWnd))
    ::PostMessageA(m_hNotifyWnd, m_uNotifyMessage, 0, 0);
  return result;
}
