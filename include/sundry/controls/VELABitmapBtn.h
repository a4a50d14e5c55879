#pragma once
// CVELABitmapBtn: a bitmap button that takes the keyboard focus under the
// mouse and can take the shape of a bitmap. Windows build only.

#include <sundry/platform/AfxCtrl.h>

class SUNDRY_EXPORT CVELABitmapBtn : public CBitmapButton {
 public:
  CVELABitmapBtn();
  ~CVELABitmapBtn() override;

  // Keeps at most 127 characters.
  void setToolTip(const char* text);
  char* getToolTip() { return m_szToolTip; }

  using CBitmapButton::LoadBitmaps;
  // Loads the four state bitmaps by id (see CBitmapButton::LoadBitmaps);
  // their failure, or a shape of 0, gives their result. Otherwise loads
  // bitmap shape from instance and cuts the button's window to its pixels
  // that are not within 16 of black on every channel (no redraw). Returns
  // nonzero when the window took that region; 0 when the shape does not
  // load, yields no region or the window refuses it (the region is then
  // deleted, and the window keeps the region it had).
  int LoadBitmaps(UINT up, UINT down, UINT focus, UINT disabled, UINT shape, HINSTANCE instance);

  afx_msg void OnMouseMove(UINT flags, CPoint point);

 protected:
  char m_szToolTip[128];

  DECLARE_MESSAGE_MAP()
};
