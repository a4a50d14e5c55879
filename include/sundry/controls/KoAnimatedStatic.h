#pragma once
// CKoAnimatedStatic: a static picture control (SS_BITMAP) that cycles
// through up to 16 bitmaps at a fixed rate (an animation), or shows one of
// up to 8 still bitmaps (rest states).
//
// The frames are driven by a timer of the control's own window: WM_TIMER
// arrives on the thread that owns the window, which shows the next frame
// (STM_SETIMAGE). No other thread is involved, so stopping never waits for
// anyone and no frame is shown after animateStop returns. The first frame
// shows one cycle after animateStart, and each frame is shown for one cycle
// (the system raises a rate below 10 ms to 10 ms). A second animateStart
// restarts the one animation at frame 0.
//
// The control owns the bitmaps it loaded: a bitmap replaced or cleared is
// deleted (after the control stops showing it), and the destructor deletes
// every bitmap left in both tables. The table rules (appending, refused
// indexes, a failed load changing nothing) are those of
// sundry/controls/AnimationCore.h. Windows only.

#include <sundry/controls/AnimationCore.h>
#include <sundry/platform/AfxCtrl.h>
#include <sundry/platform/CString.h>

class SUNDRY_EXPORT CKoAnimatedStatic : public CStatic {
 public:
  static constexpr int kAnimationSlots = 16;
  static constexpr int kRestStateSlots = 8;
  static constexpr UINT kDefaultCycleRate = 100;  // milliseconds
  static constexpr UINT_PTR kAnimationTimer = 0x4B6F;

  // Counts the controls constructed in the process.
  static int g_eventID;

  CKoAnimatedStatic();
  ~CKoAnimatedStatic() override;

  // Loads bitmap resource bitmapId of `instance` into frame `index`, or
  // after the highest frame when index is negative. The slot used, or -1
  // (index 16 or more, the table full, the bitmap not loaded: nothing
  // changed).
  int setAnimationBitmap(unsigned int bitmapId, int index, HINSTANCE instance);
  // The same for the rest states (8 slots).
  int setRestStateBitmap(unsigned int bitmapId, int index, HINSTANCE instance);
  // Delete the bitmap of one slot (the highest slot stays), or of every
  // slot for -1.
  void clearAnimationBitmap(int index);
  void clearRestStateBitmap(int index);
  // The bitmap in a slot (still the control's), or null.
  HBITMAP getAnimationBitmap(int index) const { return static_cast<HBITMAP>(m_frames.At(index)); }
  HBITMAP getRestStateBitmap(int index) const { return static_cast<HBITMAP>(m_restStates.At(index)); }

  // The time each frame is shown, in milliseconds; 0 or less is refused
  // (the rate stays). 100 until set. A running animation takes the new
  // rate at once.
  void setCycleRate(int milliseconds);
  UINT getCycleRate() const { return m_nCycleRate; }

  // Starts (or restarts at frame 0) the animation. With no frame loaded, or
  // no window, nothing starts: FALSE, and with no frame the control has
  // nothing to show (ShowWindow(SW_SHOW) hides it).
  BOOL animateStart();
  // Stops the animation; the frame on display stays.
  void animateStop();
  BOOL isAnimating() const { return m_bAnimating; }
  // Stops the animation and shows rest state `index`; an index that names
  // no bitmap leaves the control with nothing to show.
  void showRestStateBitmap(int index);

  void setToolTip(const char* text) { m_strToolTip = text; }
  char* getToolTip() { return m_strToolTip.GetBuffer(); }

  // Hides instead of showing (SW_SHOW) while there is nothing to show.
  int ShowWindow(int command);

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  afx_msg void OnTimer(UINT_PTR nIDEvent);
  DECLARE_MESSAGE_MAP()

 private:
  static void releaseBitmap(void* control, void* bitmap);
  int setBitmap(sundry::controls::AnimationSlots& table, unsigned int bitmapId, int index, HINSTANCE instance);

  int m_bNothingToShow = 0;
  BOOL m_bAnimating = FALSE;
  UINT m_nCycleRate = kDefaultCycleRate;
  CString m_strToolTip;
  sundry::controls::AnimationSlots m_restStates;
  sundry::controls::AnimationSlots m_frames;
  sundry::controls::AnimationFrames m_cursor;
};
