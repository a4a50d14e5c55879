#pragma once
// Control classes of the window framework over the system's control window
// classes: a static, a button and an owner-drawn bitmap button, a list view
// and a rich edit control (RichEdit 2.0, "RichEdit20A"). Each Create makes
// the control as a child of its parent and subclasses it. Windows only.

#include <sundry/platform/CWnd.h>
#include <sundry/platform/CGdiObject.h>

#include <richedit.h>

class SUNDRY_EXPORT CStatic : public CWnd {
 public:
  BOOL Create(LPCSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID = 0xffff);
  // STM_SETIMAGE / STM_GETIMAGE with IMAGE_BITMAP; SetBitmap returns the
  // bitmap shown before (now the caller's to delete).
  HBITMAP SetBitmap(HBITMAP hBitmap);
  HBITMAP GetBitmap() const;
};

class SUNDRY_EXPORT CButton : public CWnd {
 public:
  BOOL Create(LPCSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
  // Called for WM_DRAWITEM when the parent is a framework window; an
  // owner-drawn button class overrides it.
  virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};

// An owner-drawn button (BS_OWNERDRAW) that paints one of four bitmaps:
// pressed (selected), focused, disabled, else the normal one; a missing
// state bitmap falls back to the normal one.
class SUNDRY_EXPORT CBitmapButton : public CButton {
 public:
  // Loads the bitmaps by resource id (0 = none) from the module that
  // AfxFindResourceHandle names. FALSE when the normal one does not load.
  BOOL LoadBitmaps(UINT nIDBitmapResource, UINT nIDBitmapResourceSel = 0, UINT nIDBitmapResourceFocus = 0,
                   UINT nIDBitmapResourceDisabled = 0);
  // Resizes the button to its normal bitmap.
  void SizeToContent();
  void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

 protected:
  CBitmap m_bitmap;
  CBitmap m_bitmapSel;
  CBitmap m_bitmapFocus;
  CBitmap m_bitmapDisabled;
};

class SUNDRY_EXPORT CListCtrl : public CWnd {
 public:
  BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
  int InsertColumn(int nCol, LPCSTR lpszColumnHeading, int nFormat = LVCFMT_LEFT, int nWidth = -1,
                   int nSubItem = -1);
  int InsertItem(int nItem, LPCSTR lpszItem);
  BOOL SetItemText(int nItem, int nSubItem, LPCSTR lpszText);
  // The whole text of an item's column, however long.
  CString GetItemText(int nItem, int nSubItem) const;
  int GetItemCount() const;
  BOOL DeleteAllItems();
  BOOL GetItemRect(int nItem, LPRECT lpRect, UINT nCode) const;
  DWORD SetExtendedStyle(DWORD dwNewStyle);
  // LVM_SUBITEMHITTEST: the row, with pInfo's flags, item and sub-item set.
  int SubItemHitTest(LPLVHITTESTINFO pInfo);
};

class SUNDRY_EXPORT CRichEditCtrl : public CWnd {
 public:
  // Loads riched20.dll (once per process) and makes a "RichEdit20A" window.
  BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
  // The class name, after loading the library that registers it (null when
  // the library does not load).
  static LPCSTR ClassName();
  long StreamIn(int nFormat, EDITSTREAM& es);
  long StreamOut(int nFormat, EDITSTREAM& es);
  // bSysColor nonzero: the system's window colour; else cr. Returns the
  // previous colour.
  COLORREF SetBackgroundColor(BOOL bSysColor, COLORREF cr);
  long GetTextLength() const;
  void SetSel(long nStartChar, long nEndChar);
  void GetSel(long& nStartChar, long& nEndChar) const;
  void ReplaceSel(LPCSTR lpszNewText, BOOL bCanUndo = FALSE);
  // EM_FINDTEXTEX: the start of the match, or -1.
  long FindText(DWORD dwFlags, FINDTEXTEXA* pFindText) const;
  BOOL SetReadOnly(BOOL bReadOnly = TRUE);
  DWORD GetSelectionCharFormat(CHARFORMATA& cf) const;
  DWORD GetDefaultCharFormat(CHARFORMATA& cf) const;
  DWORD SetEventMask(DWORD dwEventMask);
};
