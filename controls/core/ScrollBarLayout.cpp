// The hidden-scroll-bar list's window size and clip rectangle.

#include <sundry/controls/core/ScrollBarLayout.h>

namespace sundry::controls {

ScrollBarLayout HideScrollBarsLayout(int clientWidth, int clientHeight, int barWidth, int arrowHeight, int bars) {
  ScrollBarLayout layout;
  layout.windowWidth = clientWidth;
  layout.windowHeight = clientHeight;
  if (bars != kHideHorizontal && bars != kHideVertical && bars != kHideBoth) return layout;
  layout.clip = true;
  if (bars != kHideHorizontal) layout.windowWidth += barWidth;
  if (bars != kHideVertical) layout.windowHeight += arrowHeight;
  layout.clipRight = bars == kHideHorizontal ? clientWidth : clientWidth - 2;
  layout.clipBottom = bars == kHideVertical ? clientHeight : clientHeight - 2;
  return layout;
}

std::uint32_t ScrollStylesFor(int bars) {
  switch (bars) {
    case kHideHorizontal: return 0x100000u;
    case kHideVertical: return 0x200000u;
    case kHideBoth: return 0x300000u;
    default: return 0;
  }
}

}  // namespace sundry::controls
