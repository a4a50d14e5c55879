// CVELABitmapBtn.

#include <sundry/controls/VELABitmapBtn.h>
#include <sundry/util/Sundry.h>

#include "controls/Dib.h"

#include <cstring>

BEGIN_MESSAGE_MAP(CVELABitmapBtn, CBitmapButton)
ON_WM_MOUSEMOVE()
END_MESSAGE_MAP()

CVELABitmapBtn::CVELABitmapBtn() { std::memset(m_szToolTip, 0, sizeof m_szToolTip); }
CVELABitmapBtn::~CVELABitmapBtn() = default;

void CVELABitmapBtn::setToolTip(const char* text) {
  std::memset(m_szToolTip, 0, sizeof m_szToolTip);
  if (text != nullptr) std::strncpy(m_szToolTip, text, sizeof m_szToolTip - 1);
}

void CVELABitmapBtn::OnMouseMove(UINT, CPoint) { SetFocus(); }

int CVELABitmapBtn::LoadBitmaps(UINT up, UINT down, UINT focus, UINT disabled, UINT shape, HINSTANCE instance) {
  BOOL loaded = CBitmapButton::LoadBitmaps(up, down, focus, disabled);
  if (!loaded || shape == 0) return loaded;
  CDib dib;
  if (!dib.Load(instance, shape)) return 0;
  // Pixels within 16 of black on every channel are cut away.
  HRGN region = CSundry::BitmapToRegion(static_cast<HBITMAP>(dib.m_hObject), 0, 0x101010);
  // A null region would remove the window's shape and still report success.
  if (region == nullptr) return 0;
  int result = SetWindowRgn(region, FALSE);
  if (result == 0) ::DeleteObject(region);  // refused: the region is still ours
  return result;
}
