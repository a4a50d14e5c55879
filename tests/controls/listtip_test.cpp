// The list control's tooltip text: column order, separators, the length cap
// and the copy rule of the column order.

#include <sundry/controls/core/ListTipText.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace sundry::controls {
namespace {

struct TipOrder {
  int order[kTipColumnCount];
  int modes[kTipColumnCount];
  TipOrder() {
    std::fill(std::begin(order), std::end(order), -1);
    std::fill(std::begin(modes), std::end(modes), 0);
  }
};

std::string Build(const TipOrder& tip, const std::function<std::string(int)>& text) {
  char out[kTipTextSize];
  std::memset(out, 'x', sizeof out);
  if (!AssembleTipText(tip.order, tip.modes, text, out)) return "<none>";
  EXPECT_EQ(out[kTipTextSize - 1], '\0');
  return out;
}

std::string Cell(int column) { return std::string(1, static_cast<char>('a' + column)); }

TEST(ListTipText, CopyKeepsTenColumnsStopsAtTheEndMarkAndLeavesTheRest) {
  TipOrder tip;
  int twelve[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  int twelveModes[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(CopyTipColumnOrder(twelve, twelveModes, tip.order, tip.modes), 10);
  EXPECT_EQ(tip.order[9], 9);
  EXPECT_EQ(tip.modes[9], 1);

  int two[] = {5, 6, -1, 7};
  int twoModes[] = {0, 1, 1, 1};
  EXPECT_EQ(CopyTipColumnOrder(two, twoModes, tip.order, tip.modes), 2);
  EXPECT_EQ(tip.order[0], 5);
  EXPECT_EQ(tip.order[1], 6);
  EXPECT_EQ(tip.order[2], 2) << "entries past the copied ones keep their values";
  EXPECT_EQ(tip.modes[0], 0);
  EXPECT_EQ(tip.modes[2], 1);

  int none[] = {-1, 3};
  TipOrder before = tip;
  EXPECT_EQ(CopyTipColumnOrder(none, twoModes, tip.order, tip.modes), 0);
  EXPECT_EQ(CopyTipColumnOrder(nullptr, twoModes, tip.order, tip.modes), 0);
  EXPECT_TRUE(std::equal(std::begin(tip.order), std::end(tip.order), std::begin(before.order)));
  EXPECT_TRUE(std::equal(std::begin(tip.modes), std::end(tip.modes), std::begin(before.modes)));

  int one[] = {4, -1};
  EXPECT_EQ(CopyTipColumnOrder(one, nullptr, tip.order, tip.modes), 1);
  EXPECT_EQ(tip.modes[0], 0) << "no modes given: a blank";
}

TEST(ListTipText, ColumnsInTheirOrderWithLineBreaksOrBlanks) {
  TipOrder tip;
  tip.order[0] = 0;
  tip.order[1] = 2;
  tip.modes[0] = tip.modes[1] = kTipLineBreak;
  EXPECT_EQ(Build(tip, Cell), "a\r\nc\r\n");
  tip.modes[0] = tip.modes[1] = 0;
  EXPECT_EQ(Build(tip, Cell), "a c") << "no blank after the last column";
  tip.order[0] = 2;
  tip.order[1] = 0;
  tip.order[2] = 1;
  tip.modes[0] = kTipLineBreak;
  EXPECT_EQ(Build(tip, Cell), "c\r\na b");
  for (int k = 0; k < kTipColumnCount; ++k) tip.order[k] = k;  // no end mark at all
  std::fill(std::begin(tip.modes), std::end(tip.modes), 0);
  EXPECT_EQ(Build(tip, Cell), "a b c d e f g h i j");
  EXPECT_EQ(Build(TipOrder(), Cell), "<none>");
}

TEST(ListTipText, TextIsCutAt511Characters) {
  TipOrder tip;
  tip.order[0] = 0;
  tip.order[1] = 1;
  tip.modes[1] = kTipLineBreak;
  std::string tip0 = Build(tip, [](int column) { return std::string(300, 'a' + column); });
  ASSERT_EQ(tip0.size(), kTipTextSize - 1);
  EXPECT_EQ(tip0.substr(299, 3), "a b");
  EXPECT_EQ(tip0.back(), 'b');
}

}  // namespace
}  // namespace sundry::controls
