#pragma once
// CVELAStatic: a picture static with a tooltip text that hides itself while
// it has no picture. Windows build only.

#include <sundry/platform/AfxCtrl.h>

class SUNDRY_EXPORT CVELAStatic : public CStatic {
 public:
  CVELAStatic();
  ~CVELAStatic() override;

  // Shows bitmap resource bitmapId (found with AfxFindResourceHandle); the
  // bitmap shown before is deleted once replaced. The same id as now loads
  // nothing. Id 0 hides the control and sets the nothing-to-show flag.
  // Returns 1; 0 when the bitmap does not load (then nothing changes).
  int loadBitmap(UINT bitmapId);
  // SW_SHOW hides instead while there is nothing to show.
  int ShowWindow(int command);
  void setToolTip(const char* text) { m_strToolTip = text; }
  char* getToolTip() { return const_cast<char*>(m_strToolTip.GetString()); }
  UINT getBitmapId() const { return m_uBitmapId; }

  // Answers a tooltip's TTN_NEEDTEXTA with the tooltip text (the tip 300
  // pixels wide at most).
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  UINT m_uBitmapId = 0;
  int m_iNothingToShow = 0;
  CString m_strToolTip;

  DECLARE_MESSAGE_MAP()
};
