// CVELAListCtrl.

#include <sundry/controls/VELAListCtrl.h>
#include <sundry/util/Sundry.h>

#include <algorithm>
#include <cstring>
#include <string>

using sundry::controls::kTipTextSize;

BEGIN_MESSAGE_MAP(CVELAListCtrl, CListCtrl)
ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

CVELAListCtrl::CVELAListCtrl() {
  std::memset(&m_toolInfo, 0, sizeof m_toolInfo);
  std::memset(m_szPrevText, 0, sizeof m_szPrevText);
  std::memset(m_szToolTip, 0, sizeof m_szToolTip);
  std::fill(std::begin(m_iOrder), std::end(m_iOrder), -1);
  std::fill(std::begin(m_iModes), std::end(m_iModes), 0);
}

CVELAListCtrl::~CVELAListCtrl() {
  if (m_hToolTip != nullptr && ::IsWindow(m_hToolTip)) ::DestroyWindow(m_hToolTip);
}

void CVELAListCtrl::setToolTip(const char* text) {
  std::memset(m_szToolTip, 0, sizeof m_szToolTip);
  if (text != nullptr) std::strncpy(m_szToolTip, text, sizeof m_szToolTip - 1);
  if (m_hToolTip != nullptr && ::IsWindow(m_hToolTip)) ::DestroyWindow(m_hToolTip);
  m_hToolTip = nullptr;
  if (m_hWnd != nullptr) m_hToolTip = CSundry::CreateTooltip(m_hWnd, m_szToolTip, nullptr);
}

void CVELAListCtrl::setTTSubItemOrder(int* columns, int* modes) {
  sundry::controls::CopyTipColumnOrder(columns, modes, m_iOrder, m_iModes);
}

void CVELAListCtrl::updateToolText() {
  if (m_hToolTip == nullptr || m_hWnd == nullptr) return;
  ::SendMessageA(m_hToolTip, TTM_SETMAXTIPWIDTH, 0, 300);
  std::memset(&m_toolInfo, 0, sizeof m_toolInfo);
  m_toolInfo.cbSize = sizeof m_toolInfo;
  m_toolInfo.hwnd = m_hWnd;
  m_toolInfo.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
  m_toolInfo.hinst = nullptr;
  // The previous text, into a buffer whose size the tooltip is told.
  std::memset(m_szPrevText, 0, sizeof m_szPrevText);
  m_toolInfo.lpszText = m_szPrevText;
  ::SendMessageA(m_hToolTip, TTM_GETTEXTA, sizeof m_szPrevText, reinterpret_cast<LPARAM>(&m_toolInfo));
  m_szPrevText[sizeof m_szPrevText - 1] = '\0';
  m_toolInfo.lpszText = m_szToolTip;
  ::SendMessageA(m_hToolTip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&m_toolInfo));
}

void CVELAListCtrl::buildToolTip(int row) {
  bool built = false;
  try {
    built = sundry::controls::AssembleTipText(
        m_iOrder, m_iModes, [this, row](int column) { return GetItemText(row, column).str(); }, m_szToolTip);
  } catch (...) {
    built = false;
  }
  if (built) updateToolText();
}

void CVELAListCtrl::OnMouseMove(UINT, CPoint point) {
  LVHITTESTINFO hit{};
  hit.pt = point;
  SubItemHitTest(&hit);
  int row = hit.iItem;
  if (row == m_iLastRow) return;
  if ((hit.flags & (LVHT_ONITEMICON | LVHT_ONITEMLABEL | LVHT_ONITEMSTATEICON)) == 0) {
    // Off the rows: the tool shows nothing rather than the last row's tip.
    std::memset(m_szToolTip, 0, sizeof m_szToolTip);
    updateToolText();
  } else {
    buildToolTip(row);
  }
  m_iLastRow = row;
}
