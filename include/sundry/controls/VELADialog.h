#pragma once
// CVELADialog: a dialog whose OK and Cancel (buttons, Enter, Escape) are
// ignored until a derived class turns them on, and which passes the focus
// on from a control that is not a tab stop. Windows build only.

#include <sundry/platform/CWnd.h>

class SUNDRY_EXPORT CVELADialog : public CDialog {
 public:
  explicit CVELADialog(UINT templateId, CWnd* parent = nullptr);
  explicit CVELADialog(const char* templateName, CWnd* parent = nullptr);
  ~CVELADialog() override;

  INT_PTR DoModal() override;
  // The handle is kept for derived classes; this class does not use it.
  void setResourceHandle(HINSTANCE instance) { m_hResource = instance; }
  void setResourceHandle() {}

  // Mode 0 (the start): ignored. Otherwise OnOK validates (UpdateData) and
  // ends the dialog only when that succeeds; OnCancel ends it.
  void OnOK() override;
  void OnCancel() override;

  // When the window with the focus lacks WS_TABSTOP (the dialog itself
  // included), the focus goes to the next tab item after it, if that is
  // another window (WM_NEXTDLGCTL with its handle, posted).
  afx_msg void OnSetFocus(CWnd* oldWnd);
  void OnDestroy();

 protected:
  void setOKMode(int mode) { m_iOKMode = mode; }
  void setCancelMode(int mode) { m_iCancelMode = mode; }

  HINSTANCE m_hResource = nullptr;
  int m_iOKMode = 0;
  int m_iCancelMode = 0;

  DECLARE_MESSAGE_MAP()
};
