// CVELADialog.

#include <sundry/controls/VELADialog.h>

BEGIN_MESSAGE_MAP(CVELADialog, CDialog)
ON_WM_SETFOCUS()
END_MESSAGE_MAP()

CVELADialog::CVELADialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}
CVELADialog::CVELADialog(const char* templateName, CWnd* parent) : CDialog(templateName, parent) {}
CVELADialog::~CVELADialog() = default;

INT_PTR CVELADialog::DoModal() { return CDialog::DoModal(); }

void CVELADialog::OnOK() {
  if (m_iOKMode == 0) return;
  CDialog::OnOK();  // validates with UpdateData(TRUE) and ends only when that succeeds
}

void CVELADialog::OnCancel() {
  if (m_iCancelMode == 0) return;
  CDialog::OnCancel();
}

void CVELADialog::OnSetFocus(CWnd*) {
  HWND focus = ::GetFocus();
  if (focus == nullptr || m_hWnd == nullptr) return;
  if (::GetWindowLongA(focus, GWL_STYLE) & WS_TABSTOP) return;
  // The dialog itself holding the focus starts the search from its end, so
  // the first tab item comes next.
  HWND from = (focus != m_hWnd && ::IsChild(m_hWnd, focus)) ? focus : nullptr;
  HWND next = ::GetNextDlgTabItem(m_hWnd, from, FALSE);
  // Only a different window: moving the focus to where it is would bring
  // this message back.
  if (next != nullptr && next != focus) PostMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
}

void CVELADialog::OnDestroy() { CDialog::OnDestroy(); }
