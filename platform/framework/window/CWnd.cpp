// CWnd: the window object, the map from handles to objects, subclassing and
// message-map dispatch.

#include <sundry/platform/CWnd.h>

#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

// The window property that keeps a subclassed window's original procedure,
// so that a message arriving when no object holds the window (between
// Detach and the restore, or on another thread's race) still reaches it.
constexpr const char* kSuperProp = "Sundry.CWnd.Super";

std::mutex& PermanentLock() {
  static std::mutex lock;
  return lock;
}
std::unordered_map<HWND, CWnd*>& PermanentMap() {
  static std::unordered_map<HWND, CWnd*> map;
  return map;
}
std::unordered_map<HWND, std::unique_ptr<CWnd>>& TempMap() {
  thread_local std::unordered_map<HWND, std::unique_ptr<CWnd>> map;
  return map;
}

}  // namespace

// Access to the private state of CWnd for the window procedure.
struct CWndInternals {
  static void SetTemporary(CWnd* wnd) { wnd->m_bTemporary = true; }
  static CWnd::Current& Current(CWnd* wnd) { return wnd->m_current; }
};

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (m_hWnd != nullptr && !m_bTemporary) {
    HWND hWnd = Detach();
    if (::IsWindow(hWnd)) ::DestroyWindow(hWnd);
  }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  if (hWnd == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(PermanentLock());
  auto it = PermanentMap().find(hWnd);
  return it == PermanentMap().end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (hWnd == nullptr) return nullptr;
  if (CWnd* wnd = FromHandlePermanent(hWnd)) return wnd;
  try {
    auto& temps = TempMap();
    auto it = temps.find(hWnd);
    if (it != temps.end()) return it->second.get();
    auto wnd = std::make_unique<CWnd>();
    wnd->m_hWnd = hWnd;
    CWndInternals::SetTemporary(wnd.get());
    CWnd* result = wnd.get();
    temps.emplace(hWnd, std::move(wnd));
    return result;
  } catch (...) {
    return nullptr;
  }
}

void CWnd::DeleteTempMap() {
  auto& temps = TempMap();
  for (auto& entry : temps) entry.second->m_hWnd = nullptr;
  temps.clear();
}

BOOL CWnd::Attach(HWND hWnd) {
  if (hWnd == nullptr || m_hWnd != nullptr || m_bTemporary) return FALSE;
  try {
    std::lock_guard<std::mutex> guard(PermanentLock());
    if (!PermanentMap().emplace(hWnd, this).second) return FALSE;
  } catch (...) {
    return FALSE;
  }
  m_hWnd = hWnd;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hWnd = m_hWnd;
  if (hWnd == nullptr || m_bTemporary) return nullptr;
  if (m_pfnSuper != nullptr) {
    if (::IsWindow(hWnd)) {
      ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
      ::RemovePropA(hWnd, kSuperProp);
    }
    m_pfnSuper = nullptr;
  }
  {
    std::lock_guard<std::mutex> guard(PermanentLock());
    auto it = PermanentMap().find(hWnd);
    if (it != PermanentMap().end() && it->second == this) PermanentMap().erase(it);
  }
  m_hWnd = nullptr;
  return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
  if (!::IsWindow(hWnd)) return FALSE;
  if (!Attach(hWnd)) return FALSE;
  if (!::SetPropA(hWnd, kSuperProp,
                  reinterpret_cast<HANDLE>(::GetWindowLongPtrA(hWnd, GWLP_WNDPROC)))) {
    Detach();
    return FALSE;
  }
  ::SetLastError(0);
  LONG_PTR old = ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc));
  if (old == 0 && ::GetLastError() != 0) {
    ::RemovePropA(hWnd, kSuperProp);
    Detach();
    return FALSE;
  }
  m_pfnSuper = reinterpret_cast<WNDPROC>(old);
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
  if (pParent == nullptr || pParent->m_hWnd == nullptr) return FALSE;
  HWND hCtl = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
  return hCtl != nullptr && SubclassWindow(hCtl);
}

HWND CWnd::UnsubclassWindow() { return Detach(); }

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                    const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam) {
  if (m_hWnd != nullptr || m_bTemporary) return FALSE;
  HMENU idOrMenu = (dwStyle & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)) : nullptr;
  HWND hWnd = ::CreateWindowExA(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top,
                                pParentWnd ? pParentWnd->m_hWnd : nullptr, idOrMenu, AfxGetInstanceHandle(),
                                lpParam);
  if (hWnd == nullptr) return FALSE;
  if (!SubclassWindow(hWnd)) {
    ::DestroyWindow(hWnd);
    return FALSE;
  }
  return TRUE;
}

BOOL CWnd::DestroyWindow() {
  if (m_hWnd == nullptr || m_bTemporary) return FALSE;
  HWND hWnd = m_hWnd;
  BOOL ok = ::DestroyWindow(hWnd);
  // A window that was attached but not subclassed never saw WM_NCDESTROY.
  if (ok && m_hWnd == hWnd) Detach();
  return ok;
}

LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = FromHandlePermanent(hWnd);
  if (wnd == nullptr || wnd->m_pfnSuper == nullptr) {
    auto super = reinterpret_cast<WNDPROC>(::GetPropA(hWnd, kSuperProp));
    return super ? ::CallWindowProcA(super, hWnd, message, wParam, lParam)
                 : ::DefWindowProcA(hWnd, message, wParam, lParam);
  }
  Current saved = wnd->m_current;
  wnd->m_current.msg = MSG{};
  wnd->m_current.msg.hwnd = hWnd;
  wnd->m_current.msg.message = message;
  wnd->m_current.msg.wParam = wParam;
  wnd->m_current.msg.lParam = lParam;
  wnd->m_current.defaultResult = 0;
  LRESULT result = 0;
  try {
    result = wnd->WindowProc(message, wParam, lParam);
  } catch (...) {
    result = 0;
  }
  wnd->m_current = saved;
  if (message == WM_NCDESTROY && wnd->m_hWnd == hWnd) {
    wnd->Detach();
    wnd->PostNcDestroy();
  }
  return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
  return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  switch (message) {
    case WM_COMMAND:
      if (OnCommand(wParam, lParam)) {
        *pResult = 0;
        return TRUE;
      }
      break;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (lParam != 0 && OnNotify(wParam, lParam, &result)) {
        *pResult = result;
        return TRUE;
      }
      break;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item != nullptr && item->CtlType != ODT_MENU) {
        CWnd* child = FromHandlePermanent(item->hwndItem);
        if (child != nullptr && child != this && child->OnChildNotify(message, wParam, lParam, pResult))
          return TRUE;
      }
      break;
    }
    default:
      break;
  }
  for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
       map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn != nullptr; ++entry) {
      if (entry->nMessage == message) {
        *pResult = entry->pfn(this, wParam, lParam);
        return TRUE;
      }
    }
  }
  return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper != nullptr) return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
  m_current.defaultResult = DefWindowProc(m_current.msg.message, m_current.msg.wParam, m_current.msg.lParam);
  return m_current.defaultResult;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
  LRESULT ignored = 0;
  return child != nullptr && child != this && child->OnChildNotify(WM_COMMAND, wParam, lParam, &ignored);
}

BOOL CWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header == nullptr) return FALSE;
  CWnd* child = FromHandlePermanent(header->hwndFrom);
  return child != nullptr && child != this && child->OnChildNotify(WM_NOTIFY, wParam, lParam, pResult);
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

void CWnd::OnSetFocus(CWnd*) { Default(); }
void CWnd::OnMouseMove(UINT, CPoint) { Default(); }
void CWnd::OnNcCalcSize(BOOL, NCCALCSIZE_PARAMS*) { Default(); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, entries};
  return &map;
}
const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE)); }
DWORD CWnd::GetExStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_EXSTYLE)); }

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
  DWORD style = GetStyle();
  DWORD newStyle = (style & ~dwRemove) | dwAdd;
  if (newStyle == style) return FALSE;
  ::SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>(newStyle));
  if (nFlags != 0)
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
  return TRUE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::PostMessageA(m_hWnd, message, wParam, lParam);
}
void CWnd::GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
void CWnd::GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
  return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : nullptr, x, y, cx, cy, nFlags);
}
BOOL CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
  return ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}
int CWnd::SetWindowRgn(HRGN hRgn, BOOL bRedraw) { return ::SetWindowRgn(m_hWnd, hRgn, bRedraw); }
int CWnd::GetWindowRgn(HRGN hRgn) const { return ::GetWindowRgn(m_hWnd, hRgn); }
BOOL CWnd::IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
void CWnd::SetWindowText(LPCSTR lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }
CString CWnd::GetWindowText() const {
  CString text;
  int length = ::GetWindowTextLengthA(m_hWnd);
  if (length > 0) {
    int got = ::GetWindowTextA(m_hWnd, text.GetBuffer(length), length + 1);
    text.ReleaseBuffer(got > 0 ? got : 0);
  }
  return text;
}
BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }
void CWnd::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
void CWnd::ScreenToClient(LPPOINT lpPoint) const { ::ScreenToClient(m_hWnd, lpPoint); }
void CWnd::ClientToScreen(LPPOINT lpPoint) const { ::ClientToScreen(m_hWnd, lpPoint); }
UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse) { return ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr); }
BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
