#pragma once
// The window framework: thin C++ classes over the real Win32 window API.
//
// A CWnd wraps one window handle. A window is "permanent" while it is
// attached (Attach, SubclassWindow, CreateEx, a dialog's creation): the
// object is then found from the handle (FromHandlePermanent), and when it is
// also subclassed its messages go to WindowProc, which looks the message up
// in the class's message map (a table per class, chained to the base class's
// table) and otherwise passes it to the window's original procedure
// (DefWindowProc). A handler that wants the original behaviour as well calls
// Default(). WM_COMMAND and WM_NOTIFY go to the virtual OnCommand and
// OnNotify first; WM_DRAWITEM, and WM_COMMAND/WM_NOTIFY from a child that is
// itself a permanent window, are offered to that child (OnChildNotify).
//
// The object of any other window handle (GetFocus, GetParent, GetDlgItem of a
// control nobody attached) is a temporary one kept per thread and reused for
// the same handle; DeleteTempMap frees them.
//
// Windows only; no C++ exception leaves a window procedure.

#if !defined(_WIN32)
#error "The window framework exists in the Windows build only"
#endif

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>
#include <sundry/platform/CString.h>

#include <commctrl.h>

class CWnd;

// A point and a rectangle with the Win32 layouts.
class CPoint : public POINT {
 public:
  CPoint() { x = 0; y = 0; }
  CPoint(int initX, int initY) { x = initX; y = initY; }
  CPoint(POINT p) { x = p.x; y = p.y; }  // NOLINT: implicit like the Win32 record
  bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
};

class CRect : public RECT {
 public:
  CRect() { left = top = right = bottom = 0; }
  CRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
  CRect(const RECT& r) { left = r.left; top = r.top; right = r.right; bottom = r.bottom; }  // NOLINT
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsRectEmpty() const { return right <= left || bottom <= top; }
  bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  CPoint TopLeft() const { return CPoint(left, top); }
  operator LPRECT() { return this; }              // NOLINT
  operator const RECT*() const { return this; }   // NOLINT
  bool operator==(const CRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// One message map entry: the message and a function that unpacks its
// parameters and calls the typed handler of the class that declared it.
struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  LRESULT (*pfn)(CWnd* target, WPARAM wParam, LPARAM lParam);
};

// A class's message map: its entries (ended by a zero message with no
// function) and the function that gives the base class's map (null for CWnd).
struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define afx_msg

#define DECLARE_MESSAGE_MAP()                           \
 protected:                                             \
  static const AFX_MSGMAP* GetThisMessageMap();         \
  const AFX_MSGMAP* GetMessageMap() const override;     \
                                                        \
 private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                           \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }      \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                      \
    using ThisClass [[maybe_unused]] = theClass;                                         \
    using TheBaseClass = baseClass;                                                      \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                \
      {0, nullptr}};                                                                     \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, _messageEntries}; \
    return &messageMap;                                                                  \
  }

// The entries. Handlers with no result return what Default() gave when they
// called it, else 0.
#define ON_WM_SETFOCUS()                                                                 \
  {WM_SETFOCUS, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT {                              \
     w->BeginHandler();                                                                  \
     static_cast<ThisClass*>(w)->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wp))); \
     return w->HandlerResult();                                                          \
   }},
#define ON_WM_MOUSEMOVE()                                                                \
  {WM_MOUSEMOVE, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                          \
     w->BeginHandler();                                                                  \
     static_cast<ThisClass*>(w)->OnMouseMove(static_cast<UINT>(wp),                      \
         CPoint(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))));        \
     return w->HandlerResult();                                                          \
   }},
#define ON_WM_NCCALCSIZE()                                                               \
  {WM_NCCALCSIZE, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                         \
     w->BeginHandler();                                                                  \
     static_cast<ThisClass*>(w)->OnNcCalcSize(static_cast<BOOL>(wp),                     \
         reinterpret_cast<NCCALCSIZE_PARAMS*>(lp));                                      \
     return w->HandlerResult();                                                          \
   }},
#define ON_WM_DESTROY()                                                                  \
  {WM_DESTROY, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {                                  \
     w->BeginHandler();                                                                  \
     static_cast<ThisClass*>(w)->OnDestroy();                                            \
     return w->HandlerResult();                                                          \
   }},
#define ON_WM_TIMER()                                                                    \
  {WM_TIMER, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT {                                 \
     w->BeginHandler();                                                                  \
     static_cast<ThisClass*>(w)->OnTimer(static_cast<UINT_PTR>(wp));                     \
     return w->HandlerResult();                                                          \
   }},
// Any message to a handler LRESULT Fn(WPARAM, LPARAM).
#define ON_MESSAGE(message, memberFxn)                                                   \
  {message, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                               \
     return (static_cast<ThisClass*>(w)->*(memberFxn))(wp, lp);                          \
   }},

class SUNDRY_EXPORT CWnd {
 public:
  CWnd();
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }  // NOLINT: as the framework does

  // The permanent object of a handle, else a temporary one (null for null).
  static CWnd* FromHandle(HWND hWnd);
  // The permanent object of a handle, or null.
  static CWnd* FromHandlePermanent(HWND hWnd);
  // Frees this thread's temporary objects.
  static void DeleteTempMap();

  // Makes the object permanent for hWnd (FALSE when the object already has a
  // window or hWnd already has an object). Detach undoes it and returns the
  // handle; a subclassed window gets its original procedure back first.
  BOOL Attach(HWND hWnd);
  HWND Detach();

  // Attach and route the window's messages through WindowProc; the original
  // procedure is kept and called by DefWindowProc. FALSE (nothing changed)
  // when the handle is not a window or attaching fails.
  BOOL SubclassWindow(HWND hWnd);
  BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
  HWND UnsubclassWindow();

  // Creates a window of a registered class and subclasses it. The creation
  // messages (WM_NCCREATE, WM_CREATE) reach the class's procedure only.
  virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                        const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
  virtual BOOL DestroyWindow();

  // Called after the window's last message (WM_NCDESTROY) once the object
  // no longer holds the handle.
  virtual void PostNcDestroy() {}

  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // TRUE with *pResult set when the message was handled here.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  // The original procedure (DefWindowProcA for a window not subclassed).
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Passes the message being handled to DefWindowProc and returns its result.
  LRESULT Default();

  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  // A message its parent got about this control: WM_COMMAND, WM_NOTIFY,
  // WM_DRAWITEM. TRUE with *pResult set when handled.
  virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

  // Handlers of the map entries above; each passes the message on.
  afx_msg void OnSetFocus(CWnd* pOldWnd);
  afx_msg void OnMouseMove(UINT nFlags, CPoint point);
  afx_msg void OnNcCalcSize(BOOL bCalcValidRects, NCCALCSIZE_PARAMS* lpncsp);
  afx_msg void OnDestroy();
  afx_msg void OnTimer(UINT_PTR nIDEvent);

  // Used by the map entries around a handler.
  void BeginHandler() { m_current.defaultResult = 0; }
  LRESULT HandlerResult() const { return m_current.defaultResult; }

  BOOL ShowWindow(int nCmdShow);
  BOOL IsWindowVisible() const;
  CWnd* SetFocus();
  static CWnd* GetFocus();
  CWnd* GetParent() const;
  CWnd* GetDlgItem(int nID) const;
  int GetDlgCtrlID() const;
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  // Removes then adds style bits; nFlags non-zero also calls SetWindowPos
  // with SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags.
  BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  void GetClientRect(LPRECT lpRect) const;
  void GetWindowRect(LPRECT lpRect) const;
  BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
  BOOL MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
  // The region belongs to the system when the call succeeds; the caller
  // keeps it (and deletes it) when it fails.
  int SetWindowRgn(HRGN hRgn, BOOL bRedraw);
  int GetWindowRgn(HRGN hRgn) const;
  BOOL IsWindow() const;
  void SetWindowText(LPCSTR lpszString);
  CString GetWindowText() const;
  BOOL EnableWindow(BOOL bEnable = TRUE);
  void Invalidate(BOOL bErase = TRUE);
  void UpdateWindow();
  void ScreenToClient(LPPOINT lpPoint) const;
  void ClientToScreen(LPPOINT lpPoint) const;
  UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
  BOOL KillTimer(UINT_PTR nIDEvent);

  // The message being handled (zero outside a handler).
  const MSG* GetCurrentMessage() const { return &m_current.msg; }

  // The procedure of every subclassed window.
  static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;

  WNDPROC m_pfnSuper = nullptr;  // the original procedure while subclassed

 private:
  struct Current {
    MSG msg{};
    LRESULT defaultResult = 0;
  } m_current;
  bool m_bTemporary = false;
  friend struct CWndInternals;
};

// Data exchange between a dialog and its members. A check that fails calls
// Fail(); UpdateData then returns FALSE.
class SUNDRY_EXPORT CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
      : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
  void Fail() { m_bFailed = TRUE; }
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  BOOL m_bFailed = FALSE;
};

// A dialog from a template resource (RT_DIALOG), found with
// AfxFindResourceHandle. DoModal runs it with DialogBoxParamA; Create makes
// it modeless. The dialog window is subclassed when it receives
// WM_INITDIALOG, so the class's message map sees every later message.
// IDOK and IDCANCEL commands (buttons, Enter and Escape) call OnOK and
// OnCancel, which validate (OnOK) and end the dialog.
class SUNDRY_EXPORT CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  explicit CDialog(LPCSTR lpszTemplateName, CWnd* pParentWnd = nullptr);
  CDialog();
  ~CDialog() override;

  // The result given to EndDialog, or -1 when the dialog could not be made.
  virtual INT_PTR DoModal();
  // Modeless: TRUE when the window was made (its OnInitDialog has run).
  BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  BOOL Create(LPCSTR lpszTemplateName, CWnd* pParentWnd = nullptr);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  // Ends a modal dialog with nResult; a modeless one is hidden (the result
  // is kept in m_nModalResult either way).
  void EndDialog(int nResult);
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
  virtual void DoDataExchange(CDataExchange* pDX);
  CWnd* GetNextDlgTabItem(CWnd* pWndCtl, BOOL bPrevious = FALSE) const;
  void GotoDlgCtrl(CWnd* pWndCtrl);

  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

  LPCSTR m_lpszTemplateName = nullptr;
  UINT m_nIDHelp = 0;
  CWnd* m_pParentWnd = nullptr;
  int m_nModalResult = -1;

  static INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool m_bModal = false;
};

// The module whose resources the framework loads (templates, bitmaps,
// strings). Starts as the program's module.
SUNDRY_EXPORT HINSTANCE AfxGetResourceHandle();
SUNDRY_EXPORT void AfxSetResourceHandle(HINSTANCE hInstResource);
SUNDRY_EXPORT HINSTANCE AfxGetInstanceHandle();
// The first of the resource module, the program and the library that holds
// the resource; the resource module when none does.
SUNDRY_EXPORT HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType);
