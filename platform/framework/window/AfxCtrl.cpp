// Control classes: static, button, bitmap button, list view, rich edit.

#include <sundry/platform/AfxCtrl.h>

#include <mutex>
#include <vector>

namespace {

void InitCommonControlsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES |
                                                                 ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    ::InitCommonControlsEx(&init);
  });
}

}  // namespace

// ---------------------------------------------------------------------------
BOOL CStatic::Create(LPCSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
  return CreateEx(0, "STATIC", lpszText, dwStyle, rect, pParentWnd, nID);
}

HBITMAP CStatic::SetBitmap(HBITMAP hBitmap) {
  return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hBitmap)));
}

HBITMAP CStatic::GetBitmap() const {
  return reinterpret_cast<HBITMAP>(SendMessage(STM_GETIMAGE, IMAGE_BITMAP, 0));
}

// ---------------------------------------------------------------------------
BOOL CButton::Create(LPCSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
  return CreateEx(0, "BUTTON", lpszCaption, dwStyle, rect, pParentWnd, nID);
}

void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CButton::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* pResult) {
  if (message != WM_DRAWITEM) return FALSE;
  DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
  *pResult = TRUE;
  return TRUE;
}

BOOL CBitmapButton::LoadBitmaps(UINT nIDBitmapResource, UINT nIDBitmapResourceSel, UINT nIDBitmapResourceFocus,
                                UINT nIDBitmapResourceDisabled) {
  m_bitmap.DeleteObject();
  m_bitmapSel.DeleteObject();
  m_bitmapFocus.DeleteObject();
  m_bitmapDisabled.DeleteObject();
  if (!m_bitmap.LoadBitmap(nIDBitmapResource)) return FALSE;
  BOOL all = TRUE;
  if (nIDBitmapResourceSel != 0 && !m_bitmapSel.LoadBitmap(nIDBitmapResourceSel)) all = FALSE;
  if (nIDBitmapResourceFocus != 0 && !m_bitmapFocus.LoadBitmap(nIDBitmapResourceFocus)) all = FALSE;
  if (nIDBitmapResourceDisabled != 0 && !m_bitmapDisabled.LoadBitmap(nIDBitmapResourceDisabled)) all = FALSE;
  return all;
}

void CBitmapButton::SizeToContent() {
  BITMAP info{};
  if (m_bitmap.GetBitmap(&info) == 0) return;
  SetWindowPos(nullptr, 0, 0, info.bmWidth, info.bmHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CBitmapButton::DrawItem(LPDRAWITEMSTRUCT lpDIS) {
  if (lpDIS == nullptr) return;
  const CBitmap* chosen = &m_bitmap;
  if ((lpDIS->itemState & ODS_SELECTED) && m_bitmapSel.m_hObject) chosen = &m_bitmapSel;
  else if ((lpDIS->itemState & ODS_FOCUS) && m_bitmapFocus.m_hObject) chosen = &m_bitmapFocus;
  else if ((lpDIS->itemState & ODS_DISABLED) && m_bitmapDisabled.m_hObject) chosen = &m_bitmapDisabled;
  if (chosen->m_hObject == nullptr) return;
  HDC memory = ::CreateCompatibleDC(lpDIS->hDC);
  if (memory == nullptr) return;
  HGDIOBJ old = ::SelectObject(memory, chosen->m_hObject);
  if (old != nullptr && old != HGDI_ERROR) {
    const RECT& r = lpDIS->rcItem;
    ::BitBlt(lpDIS->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, old);
  }
  ::DeleteDC(memory);
}

// ---------------------------------------------------------------------------
BOOL CListCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
  InitCommonControlsOnce();
  return CreateEx(0, WC_LISTVIEWA, "", dwStyle, rect, pParentWnd, nID);
}

int CListCtrl::InsertColumn(int nCol, LPCSTR lpszColumnHeading, int nFormat, int nWidth, int nSubItem) {
  LVCOLUMNA column{};
  column.mask = LVCF_FMT | LVCF_TEXT;
  column.fmt = nFormat;
  column.pszText = const_cast<LPSTR>(lpszColumnHeading ? lpszColumnHeading : "");
  if (nWidth >= 0) {
    column.mask |= LVCF_WIDTH;
    column.cx = nWidth;
  }
  if (nSubItem >= 0) {
    column.mask |= LVCF_SUBITEM;
    column.iSubItem = nSubItem;
  }
  return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(nCol), reinterpret_cast<LPARAM>(&column)));
}

int CListCtrl::InsertItem(int nItem, LPCSTR lpszItem) {
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.iItem = nItem;
  item.pszText = const_cast<LPSTR>(lpszItem ? lpszItem : "");
  return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCSTR lpszText) {
  LVITEMA item{};
  item.iSubItem = nSubItem;
  item.pszText = const_cast<LPSTR>(lpszText ? lpszText : "");
  return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTA, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
  try {
    // The control cuts the text to the buffer; grow it until the text fits.
    for (int size = 256; size <= (1 << 20); size *= 2) {
      std::vector<char> buffer(static_cast<size_t>(size), '\0');
      LVITEMA item{};
      item.iSubItem = nSubItem;
      item.pszText = buffer.data();
      item.cchTextMax = size;
      int got = static_cast<int>(
          SendMessage(LVM_GETITEMTEXTA, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
      if (got < size - 1) return CString(item.pszText, got < 0 ? 0 : got);
    }
  } catch (...) {
  }
  return CString();
}

int CListCtrl::GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
BOOL CListCtrl::DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }

BOOL CListCtrl::GetItemRect(int nItem, LPRECT lpRect, UINT nCode) const {
  if (lpRect == nullptr) return FALSE;
  lpRect->left = static_cast<LONG>(nCode);
  return static_cast<BOOL>(SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(lpRect)));
}

DWORD CListCtrl::SetExtendedStyle(DWORD dwNewStyle) {
  return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(dwNewStyle)));
}

int CListCtrl::SubItemHitTest(LPLVHITTESTINFO pInfo) {
  return static_cast<int>(SendMessage(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(pInfo)));
}

// ---------------------------------------------------------------------------
LPCSTR CRichEditCtrl::ClassName() {
  static std::once_flag once;
  static HMODULE library = nullptr;
  // Loaded once and kept for the life of the process: the class it
  // registers must outlive every control made from it.
  std::call_once(once, [] { library = ::LoadLibraryA("riched20.dll"); });
  return library != nullptr ? RICHEDIT_CLASSA : nullptr;
}

BOOL CRichEditCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
  LPCSTR className = ClassName();
  if (className == nullptr) return FALSE;
  return CreateEx(0, className, "", dwStyle, rect, pParentWnd, nID);
}

long CRichEditCtrl::StreamIn(int nFormat, EDITSTREAM& es) {
  return static_cast<long>(SendMessage(EM_STREAMIN, static_cast<WPARAM>(nFormat), reinterpret_cast<LPARAM>(&es)));
}

long CRichEditCtrl::StreamOut(int nFormat, EDITSTREAM& es) {
  return static_cast<long>(SendMessage(EM_STREAMOUT, static_cast<WPARAM>(nFormat), reinterpret_cast<LPARAM>(&es)));
}

COLORREF CRichEditCtrl::SetBackgroundColor(BOOL bSysColor, COLORREF cr) {
  return static_cast<COLORREF>(SendMessage(EM_SETBKGNDCOLOR, static_cast<WPARAM>(bSysColor), static_cast<LPARAM>(cr)));
}

long CRichEditCtrl::GetTextLength() const { return static_cast<long>(SendMessage(WM_GETTEXTLENGTH)); }

void CRichEditCtrl::SetSel(long nStartChar, long nEndChar) {
  CHARRANGE range{nStartChar, nEndChar};
  SendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

void CRichEditCtrl::GetSel(long& nStartChar, long& nEndChar) const {
  CHARRANGE range{0, 0};
  SendMessage(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
  nStartChar = range.cpMin;
  nEndChar = range.cpMax;
}

void CRichEditCtrl::ReplaceSel(LPCSTR lpszNewText, BOOL bCanUndo) {
  SendMessage(EM_REPLACESEL, static_cast<WPARAM>(bCanUndo), reinterpret_cast<LPARAM>(lpszNewText ? lpszNewText : ""));
}

long CRichEditCtrl::FindText(DWORD dwFlags, FINDTEXTEXA* pFindText) const {
  return static_cast<long>(SendMessage(EM_FINDTEXTEX, dwFlags, reinterpret_cast<LPARAM>(pFindText)));
}

BOOL CRichEditCtrl::SetReadOnly(BOOL bReadOnly) {
  return static_cast<BOOL>(SendMessage(EM_SETREADONLY, static_cast<WPARAM>(bReadOnly)));
}

DWORD CRichEditCtrl::GetSelectionCharFormat(CHARFORMATA& cf) const {
  cf.cbSize = sizeof(cf);
  return static_cast<DWORD>(SendMessage(EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf)));
}

DWORD CRichEditCtrl::GetDefaultCharFormat(CHARFORMATA& cf) const {
  cf.cbSize = sizeof(cf);
  return static_cast<DWORD>(SendMessage(EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf)));
}

DWORD CRichEditCtrl::SetEventMask(DWORD dwEventMask) {
  return static_cast<DWORD>(SendMessage(EM_SETEVENTMASK, 0, static_cast<LPARAM>(dwEventMask)));
}
