// CVELAStatic.

#include <sundry/controls/VELAStatic.h>
#include "controls/TooltipAnswer.h"

BEGIN_MESSAGE_MAP(CVELAStatic, CStatic)
ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

CVELAStatic::CVELAStatic() = default;
CVELAStatic::~CVELAStatic() = default;

int CVELAStatic::loadBitmap(UINT bitmapId) {
  if (bitmapId == m_uBitmapId) return 1;
  if (bitmapId == 0) {
    m_iNothingToShow = 1;
    CWnd::ShowWindow(SW_HIDE);
    m_uBitmapId = 0;
    return 1;
  }
  HINSTANCE instance = AfxFindResourceHandle(MAKEINTRESOURCEA(bitmapId), RT_BITMAP);
  HBITMAP bitmap = ::LoadBitmapA(instance, MAKEINTRESOURCEA(bitmapId));
  if (bitmap == nullptr) return 0;  // keeps the picture, the id and the flag it had
  // The control owns the new bitmap once it is set; the one it showed until
  // now comes back and is deleted only then, never while shown.
  HBITMAP previous = SetBitmap(bitmap);
  if (previous != nullptr && previous != bitmap) ::DeleteObject(previous);
  m_iNothingToShow = 0;
  m_uBitmapId = bitmapId;
  CWnd::ShowWindow(SW_SHOW);
  return 1;
}

int CVELAStatic::ShowWindow(int command) {
  if (m_iNothingToShow != 0 && command == SW_SHOW) command = SW_HIDE;
  return CWnd::ShowWindow(command);
}

LRESULT CVELAStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY && sundry::controls::AnswerTooltipRequest(lParam, m_strToolTip)) return 0;
  return CStatic::WindowProc(message, wParam, lParam);
}
