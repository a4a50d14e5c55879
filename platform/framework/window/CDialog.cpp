// CDialog: dialogs from template resources, modal and modeless.

#include <sundry/platform/CWnd.h>

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEA(nIDTemplate)), m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::CDialog(LPCSTR lpszTemplateName, CWnd* pParentWnd)
    : m_lpszTemplateName(lpszTemplateName), m_pParentWnd(pParentWnd) {}

CDialog::CDialog() = default;

CDialog::~CDialog() = default;

INT_PTR CALLBACK CDialog::AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto* dialog = reinterpret_cast<CDialog*>(lParam);
  if (dialog == nullptr || dialog->m_hWnd != nullptr || !dialog->SubclassWindow(hWnd)) return TRUE;
  try {
    return dialog->OnInitDialog();
  } catch (...) {
    return TRUE;
  }
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd != nullptr || m_lpszTemplateName == nullptr) return -1;
  HINSTANCE instance = AfxFindResourceHandle(m_lpszTemplateName, RT_DIALOG);
  m_bModal = true;
  m_nModalResult = -1;
  INT_PTR result = ::DialogBoxParamA(instance, m_lpszTemplateName, m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr,
                                     &CDialog::AfxDlgProc, reinterpret_cast<LPARAM>(this));
  m_bModal = false;
  // The window is gone: WM_NCDESTROY detached it.
  if (m_hWnd != nullptr) Detach();
  return result;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
  m_nIDHelp = nIDTemplate;
  return Create(MAKEINTRESOURCEA(nIDTemplate), pParentWnd);
}

BOOL CDialog::Create(LPCSTR lpszTemplateName, CWnd* pParentWnd) {
  if (m_hWnd != nullptr || lpszTemplateName == nullptr) return FALSE;
  m_lpszTemplateName = lpszTemplateName;
  if (pParentWnd != nullptr) m_pParentWnd = pParentWnd;
  HINSTANCE instance = AfxFindResourceHandle(lpszTemplateName, RT_DIALOG);
  m_bModal = false;
  m_nModalResult = -1;
  HWND hWnd = ::CreateDialogParamA(instance, lpszTemplateName, m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr,
                                   &CDialog::AfxDlgProc, reinterpret_cast<LPARAM>(this));
  if (hWnd == nullptr) return FALSE;
  if (m_hWnd != hWnd) {  // not subclassed: refuse a window this object cannot drive
    ::DestroyWindow(hWnd);
    return FALSE;
  }
  return TRUE;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  if (m_hWnd != nullptr) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange exchange(this, bSaveAndValidate);
  DoDataExchange(&exchange);
  return !exchange.m_bFailed;
}

void CDialog::DoDataExchange(CDataExchange*) {}

CWnd* CDialog::GetNextDlgTabItem(CWnd* pWndCtl, BOOL bPrevious) const {
  return FromHandle(::GetNextDlgTabItem(m_hWnd, pWndCtl ? pWndCtl->m_hWnd : nullptr, bPrevious));
}

void CDialog::GotoDlgCtrl(CWnd* pWndCtrl) {
  if (pWndCtrl != nullptr && pWndCtrl->m_hWnd != nullptr)
    SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(pWndCtrl->m_hWnd), TRUE);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (CWnd::OnCommand(wParam, lParam)) return TRUE;
  UINT code = HIWORD(wParam);
  UINT id = LOWORD(wParam);
  // Buttons, Enter/Escape and accelerators (code 1) alike.
  if (code != BN_CLICKED && code != 1) return FALSE;
  if (id == IDOK) {
    OnOK();
    return TRUE;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return TRUE;
  }
  return FALSE;
}
