// The geometry of the list control that hides its scroll bars.

#include <sundry/controls/core/ScrollBarLayout.h>

#include <gtest/gtest.h>

namespace sundry::controls {
namespace {

TEST(ScrollBarLayout, WindowGrowsPastTheHiddenBarsAndIsClippedBack) {
  // Client 200 x 100, bar 17 wide, arrow 15 high.
  ScrollBarLayout h = HideScrollBarsLayout(200, 100, 17, 15, kHideHorizontal);
  EXPECT_TRUE(h.clip);
  EXPECT_EQ(h.windowWidth, 200);
  EXPECT_EQ(h.windowHeight, 115);
  EXPECT_EQ(h.clipRight, 200);
  EXPECT_EQ(h.clipBottom, 98);

  ScrollBarLayout v = HideScrollBarsLayout(200, 100, 17, 15, kHideVertical);
  EXPECT_EQ(v.windowWidth, 217);
  EXPECT_EQ(v.windowHeight, 100);
  EXPECT_EQ(v.clipRight, 198);
  EXPECT_EQ(v.clipBottom, 100);

  ScrollBarLayout both = HideScrollBarsLayout(200, 100, 17, 15, kHideBoth);
  EXPECT_EQ(both.windowWidth, 217);
  EXPECT_EQ(both.windowHeight, 115);
  EXPECT_EQ(both.clipRight, 198);
  EXPECT_EQ(both.clipBottom, 98);

  for (int other : {2, -1, 4}) {
    ScrollBarLayout none = HideScrollBarsLayout(200, 100, 17, 15, other);
    EXPECT_FALSE(none.clip) << other;
    EXPECT_EQ(none.windowWidth, 200) << other;
    EXPECT_EQ(none.windowHeight, 100) << other;
  }
}

TEST(ScrollBarLayout, StylesOfTheBars) {
  EXPECT_EQ(ScrollStylesFor(kHideHorizontal), 0x100000u);
  EXPECT_EQ(ScrollStylesFor(kHideVertical), 0x200000u);
  EXPECT_EQ(ScrollStylesFor(kHideBoth), 0x300000u);
  EXPECT_EQ(ScrollStylesFor(2), 0u);
}

}  // namespace
}  // namespace sundry::controls
