#pragma once
// GDI object wrappers of the window framework: each owns one GDI handle and
// deletes it on destruction unless it was detached. Windows only.

#if !defined(_WIN32)
#error "The window framework exists in the Windows build only"
#endif

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

class SUNDRY_EXPORT CGdiObject {
 public:
  CGdiObject() = default;
  virtual ~CGdiObject();
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;

  HGDIOBJ m_hObject = nullptr;

  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  // FALSE when the object already holds a handle or hObject is null.
  BOOL Attach(HGDIOBJ hObject);
  HGDIOBJ Detach();
  // Deletes the handle held (FALSE when none or the system refuses).
  BOOL DeleteObject();
  // GetObjectA on the handle: bytes written, 0 on failure.
  int GetObject(int nCount, LPVOID lpObject) const;
};

class SUNDRY_EXPORT CBitmap : public CGdiObject {
 public:
  // Loads a bitmap resource from the module AfxFindResourceHandle names
  // (FALSE when the object holds a bitmap already or the load fails).
  BOOL LoadBitmap(UINT nIDResource);
  BOOL LoadBitmap(LPCSTR lpszResourceName);
  BOOL CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight);
  // The BITMAP record: bytes written, 0 on failure.
  int GetBitmap(BITMAP* pBitMap) const;
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }  // NOLINT
};

class SUNDRY_EXPORT CPalette : public CGdiObject {
 public:
  BOOL CreatePalette(const LOGPALETTE* lpLogPalette);
  BOOL CreateHalftonePalette(HDC hdc);
  operator HPALETTE() const { return static_cast<HPALETTE>(m_hObject); }  // NOLINT
};
