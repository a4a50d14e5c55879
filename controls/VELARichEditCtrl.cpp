#include <sundry/controls/VELARichEditCtrl.h>
#include "controls/TooltipAnswer.h"

BEGIN_MESSAGE_MAP(CVELARichEditCtrl, CRichEditCtrl)
  ON_WM_SETFOCUS()
END_MESSAGE_MAP()

BOOL CVELARichEditCtrl::initialize(HINSTANCE instance, unsigned int stringId, int fontSize,
                                   unsigned long background, int backgroundIsColour, unsigned long textColour) {
  m_rtf.setResource(instance);
  if (fontSize != -1) m_rtf.set96dpiFontSizes(fontSize, -1, -1, -1, -1, -1, -1, 1, 1);
  return loadRTFControl(stringId, background, backgroundIsColour, textColour);
}

BOOL CVELARichEditCtrl::initialize(HINSTANCE instance, const char* text, int fontSize, unsigned long background,
                                   int backgroundIsColour, unsigned long textColour) {
  m_rtf.setResource(instance);
  if (fontSize != -1) m_rtf.set96dpiFontSizes(fontSize, -1, -1, -1, -1, -1, -1, 1, 1);
  return loadRTFControl(text, background, backgroundIsColour, textColour);
}

BOOL CVELARichEditCtrl::loadRTFControl(unsigned int stringId, unsigned long background, int backgroundIsColour,
                                       unsigned long textColour) {
  m_rtf.setTextColor(textColour);
  return m_rtf.loadRTFControl(stringId, *this, background, backgroundIsColour);
}

BOOL CVELARichEditCtrl::loadRTFControl(const char* text, unsigned long background, int backgroundIsColour,
                                       unsigned long textColour) {
  m_rtf.setTextColor(textColour);
  return m_rtf.loadRTFControl(text, *this, background, backgroundIsColour);
}

void CVELARichEditCtrl::OnSetFocus(CWnd* /*pOldWnd*/) {
  if (GetStyle() & WS_TABSTOP) return;
  const HWND parent = ::GetParent(m_hWnd);
  if (!parent) return;
  const HWND target = ::GetNextDlgTabItem(parent, m_hWnd, FALSE);
  if (target && target != m_hWnd) ::PostMessageA(parent, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

LRESULT CVELARichEditCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY && sundry::controls::AnswerTooltipRequest(lParam, m_strToolTip)) return 0;
  return CRichEditCtrl::WindowProc(message, wParam, lParam);
}
