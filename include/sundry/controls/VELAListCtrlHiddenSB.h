#pragma once
// CVELAListCtrlHiddenSB: a list view that hides its scroll bars, either at
// once (growing its window past them and clipping it back) or by dropping
// their style at every frame calculation; it also tells a window when the
// user finished resizing a column. Windows build only.

#include <sundry/platform/AfxCtrl.h>

class SUNDRY_EXPORT CVELAListCtrlHiddenSB : public CListCtrl {
 public:
  CVELAListCtrlHiddenSB();
  ~CVELAListCtrlHiddenSB() override;

  // action 1: hide now (bars 0 horizontal, 1 vertical, 3 both; another
  // value removes the window region); action 2: hide at every following
  // frame calculation; another action does nothing. Action 1 ends a
  // pending action 2.
  void HideScrollBars(int action, int bars);
  // After a column resize (HDN_ENDTRACK), message is posted to window with
  // both parameters 0, while window exists.
  void setParentInfo(CWnd* window, UINT message);

 protected:
  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
  afx_msg void OnNcCalcSize(BOOL calcValidRects, NCCALCSIZE_PARAMS* params);

  // A handle, not the object: the object may go while the window lives or
  // the other way round.
  HWND m_hNotifyWnd = nullptr;
  UINT m_uNotifyMessage = 0;
  int m_iPendingHide = 0;
  int m_iBars = 3;

  DECLARE_MESSAGE_MAP()
};
