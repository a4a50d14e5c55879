// GDI object wrappers.

#include <sundry/platform/CGdiObject.h>
#include <sundry/platform/CWnd.h>

CGdiObject::~CGdiObject() { DeleteObject(); }

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
  if (hObject == nullptr || m_hObject != nullptr) return FALSE;
  m_hObject = hObject;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ handle = m_hObject;
  m_hObject = nullptr;
  return handle;
}

BOOL CGdiObject::DeleteObject() {
  if (m_hObject == nullptr) return FALSE;
  return ::DeleteObject(Detach());
}

int CGdiObject::GetObject(int nCount, LPVOID lpObject) const {
  if (m_hObject == nullptr) return 0;
  return ::GetObjectA(m_hObject, nCount, lpObject);
}

BOOL CBitmap::LoadBitmap(UINT nIDResource) { return LoadBitmap(MAKEINTRESOURCEA(nIDResource)); }

BOOL CBitmap::LoadBitmap(LPCSTR lpszResourceName) {
  if (m_hObject != nullptr) return FALSE;
  HINSTANCE instance = AfxFindResourceHandle(lpszResourceName, RT_BITMAP);
  HBITMAP bitmap = ::LoadBitmapA(instance, lpszResourceName);
  return bitmap != nullptr && Attach(bitmap);
}

BOOL CBitmap::CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight) {
  if (m_hObject != nullptr) return FALSE;
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, nWidth, nHeight);
  return bitmap != nullptr && Attach(bitmap);
}

int CBitmap::GetBitmap(BITMAP* pBitMap) const { return GetObject(sizeof(BITMAP), pBitMap); }

BOOL CPalette::CreatePalette(const LOGPALETTE* lpLogPalette) {
  if (m_hObject != nullptr || lpLogPalette == nullptr) return FALSE;
  HPALETTE palette = ::CreatePalette(lpLogPalette);
  return palette != nullptr && Attach(palette);
}

BOOL CPalette::CreateHalftonePalette(HDC hdc) {
  if (m_hObject != nullptr) return FALSE;
  HPALETTE palette = ::CreateHalftonePalette(hdc);
  return palette != nullptr && Attach(palette);
}
