#pragma once
// The geometry of a list control that hides its scroll bars by growing its
// window past them and clipping the window back to the visible part. No
// window is involved. Built on every platform.

#include <sundry/export.h>

#include <cstdint>

namespace sundry::controls {

// Which bars to hide.
inline constexpr int kHideHorizontal = 0;
inline constexpr int kHideVertical = 1;
inline constexpr int kHideBoth = 3;

// The window's new size and its clip rectangle, from (0, 0) to
// (clipRight, clipBottom). With clip false the bars value is none of the
// three above: the window keeps its size and loses its region.
struct ScrollBarLayout {
  bool clip = false;
  int windowWidth = 0;
  int windowHeight = 0;
  int clipRight = 0;
  int clipBottom = 0;
};

// From the client size, the vertical bar's width (SM_CXVSCROLL) and the
// height of its arrow (SM_CYVSCROLL): the window grows by the bar width
// unless only the horizontal bar is hidden and by the arrow height unless
// only the vertical one is; the clip rectangle cuts 2 pixels off the client
// size on the side of each hidden bar.
SUNDRY_EXPORT ScrollBarLayout HideScrollBarsLayout(int clientWidth, int clientHeight, int barWidth,
                                                   int arrowHeight, int bars);

// The window style bits the bars stand for: WS_HSCROLL (0x100000),
// WS_VSCROLL (0x200000), both, or none for another bars value.
SUNDRY_EXPORT std::uint32_t ScrollStylesFor(int bars);

}  // namespace sundry::controls
