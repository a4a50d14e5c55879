#pragma once
// CVELARichEditCtrl: a rich edit control filled from RTF by its own
// CRTFHelper, with a tooltip text and a focus rule for read-only panes.
//
// Focus: a control without WS_TABSTOP does not keep the keyboard focus. When
// it gets the focus it asks its parent dialog to move it to the dialog's
// next tab stop (WM_NEXTDLGCTL with that window's handle, posted) - only
// when that is another window, so a dialog with no other tab stop leaves
// the focus where it is instead of bouncing it. The focus message is not
// passed on to the rich edit's own handling, whatever the style.
//
// Tooltips: asked for its text (TTN_NEEDTEXTA), the control sets the
// asking tooltip's maximum width to 300 pixels and answers with its
// tooltip text. Windows only.

#include <sundry/controls/RTFHelper.h>

class SUNDRY_EXPORT CVELARichEditCtrl : public CRichEditCtrl {
 public:
  CVELARichEditCtrl() = default;
  ~CVELARichEditCtrl() override = default;

  // Set the resource instance; unless fontSize is -1, make every font slot
  // that size (scaled up to the screen, macros on); then load the text with
  // the colours given. The result is loadRTFControl's.
  BOOL initialize(HINSTANCE instance, unsigned int stringId, int fontSize, unsigned long background,
                  int backgroundIsColour, unsigned long textColour);
  BOOL initialize(HINSTANCE instance, const char* text, int fontSize, unsigned long background,
                  int backgroundIsColour, unsigned long textColour);

  // setTextColor(textColour), then the helper's load into this control.
  BOOL loadRTFControl(unsigned int stringId, unsigned long background, int backgroundIsColour,
                      unsigned long textColour);
  BOOL loadRTFControl(const char* text, unsigned long background, int backgroundIsColour, unsigned long textColour);

  BOOL updateRTFControl(const char* word, const char* replacement) {
    return m_rtf.updateRTFControl(word, *this, replacement);
  }
  BOOL updateRTFControl(const char* word, unsigned int stringId) { return m_rtf.updateRTFControl(word, *this, stringId); }
  BOOL set96dpiFontSizes(int size0, int size1, int size2, int size3, int size4, int size5, int size6,
                         int macroSwitch, int scaleMode) {
    return m_rtf.set96dpiFontSizes(size0, size1, size2, size3, size4, size5, size6, macroSwitch, scaleMode);
  }
  void setResource(HINSTANCE instance) { m_rtf.setResource(instance); }
  CRTFHelper& helper() { return m_rtf; }

  void setToolTip(const char* text) { m_strToolTip = text; }
  char* getToolTip() { return m_strToolTip.GetBuffer(); }

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  afx_msg void OnSetFocus(CWnd* pOldWnd);
  DECLARE_MESSAGE_MAP()

 private:
  CRTFHelper m_rtf;
  CString m_strToolTip;
};
