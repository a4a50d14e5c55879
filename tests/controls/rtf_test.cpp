// The RTF loader's macro language, font-size slots and stream feeding.
#include <gtest/gtest.h>
#include <sundry/controls/RtfCore.h>

#include <random>
#include <string>
#include <vector>

using sundry::controls::RtfMacros;
using sundry::controls::RtfStreamCursor;
using sundry::controls::RtfStreamIn;

namespace {

std::string expand(const RtfMacros& m, std::string_view text) {
  std::string out = "junk";
  EXPECT_TRUE(m.Expand(text, &out));
  return out;
}

RtfMacros withSizes(std::initializer_list<int> list, int macroSwitch = 1, double scale = 1.0) {
  int sizes[RtfMacros::kFontSlots];
  std::copy(list.begin(), list.end(), sizes);
  RtfMacros m;
  EXPECT_TRUE(m.SetFontSizes(sizes, macroSwitch, scale));
  return m;
}

// Every piece the control would ask for, of the given sizes in turn.
std::vector<std::string> pieces(const std::string& text, std::vector<LONG> sizes) {
  RtfStreamCursor cursor{text.data(), text.size(), 0};
  std::vector<std::string> out;
  for (size_t i = 0;; ++i) {
    const LONG size = sizes[i % sizes.size()];
    std::string buffer(static_cast<size_t>(size) + 8, '#');
    LONG done = -1;
    EXPECT_EQ(0u, RtfStreamIn(reinterpret_cast<DWORD_PTR>(&cursor), reinterpret_cast<BYTE*>(buffer.data()), size, &done));
    EXPECT_GE(done, 0);
    EXPECT_LE(done, size);
    EXPECT_EQ(std::string(8, '#'), buffer.substr(static_cast<size_t>(size)));  // nothing past the piece
    if (done == 0) break;
    out.push_back(buffer.substr(0, static_cast<size_t>(done)));
  }
  return out;
}

}  // namespace

TEST(RtfMacros, MacrosOffAddTheHeaderAndKeepTheBraces) {
  RtfMacros m;
  EXPECT_EQ("{\\rtf1 plain \\b text\\b0}", expand(m, "plain \\b text\\b0"));
  EXPECT_EQ("{\\rtf1 group}", expand(m, "{group}"));
  EXPECT_EQ("{\\rtf1\\ansi whole}", expand(m, "{\\rtf1\\ansi whole}"));
  EXPECT_EQ("{\\rtf1 }", expand(m, ""));
  // A switch other than 1 leaves the font macros alone.
  RtfMacros two = withSizes({20, -1, -1, -1, -1, -1, -1}, 2);
  EXPECT_EQ("{\\rtf1 a %fs0%}", expand(two, "a %fs0%"));
}

TEST(RtfMacros, SlotZeroGoesAfterTheHeader) {
  RtfMacros m = withSizes({20, -1, -1, -1, -1, -1, -1});
  EXPECT_EQ("{\\rtf1 \\fs20 hello}", expand(m, "hello"));
  EXPECT_EQ("{\\rtf1 \\fs20 a}", expand(m, "{a}"));
  EXPECT_EQ("{\\rtf1 \\fs20 }", expand(m, ""));
  EXPECT_EQ("{\\rtf1 \\fs20 x}", expand(m, "{\\rtf1 x}"));
  EXPECT_EQ("{\\rtf1\\fs20 \\ansi x}", expand(m, "{\\rtf1\\ansi x}"));
  EXPECT_EQ("{\\rtf\\fs20 {\\b x}}", expand(m, "{\\rtf{\\b x}}"));
  EXPECT_EQ("{\\rtf-1 \\fs20 x}", expand(m, "{\\rtf-1 x}"));
  // "\rtfx" is another control word, not the header.
  EXPECT_EQ("{\\rtf1 \\fs20 \\rtfx y}", expand(m, "{\\rtfx y}"));
}

TEST(RtfMacros, FontMacrosReplaceSlotBySlotInOrder) {
  RtfMacros m = withSizes({10, 12, 14, 16, 18, 20, 22});
  EXPECT_EQ("{\\rtf1 \\fs10 a\\fs22 b\\fs16 c%fs7%d%fs}", expand(m, "%fs0%a%fs6%b%fs3%c%fs7%d%fs"));
  // The text has its own brace: no slot 0 is added, the header goes inside.
  EXPECT_EQ("{\\rtf1 \\fs12 x}", expand(m, "{%fs1%x}"));
  // Slot 0's pass runs first, so "%fs1" before it is no longer a macro.
  EXPECT_EQ("{\\rtf1 %fs1\\fs10 }", expand(m, "%fs1%fs0%"));
}

TEST(RtfMacros, ColourMacrosFollowTheLastColour) {
  RtfMacros m;
  EXPECT_EQ("{\\rtf1 0 0 0 %red}", expand(m, "%red% %green% %blue% %red"));
  m.SetTextColor(0x00FF8000);
  EXPECT_EQ("0", m.Red());
  EXPECT_EQ("128", m.Green());
  EXPECT_EQ("255", m.Blue());
  m.SetTextColor(0xAA0102FE);  // the top byte is no colour
  EXPECT_EQ("{\\rtf1 \\red254\\green2\\blue1;}", expand(m, "\\red%red%\\green%green%\\blue%blue%;"));
  // Red is replaced before green: "%red%" inside "%green%red%" goes first.
  EXPECT_EQ("{\\rtf1 %green254}", expand(m, "%green%red%"));
}

TEST(RtfMacros, FontSizeSlotsAndScale) {
  RtfMacros m = withSizes({20, -1, -1, -1, -1, -1, -1}, 1, 1.0);
  for (int i = 0; i < RtfMacros::kFontSlots; ++i) EXPECT_EQ("\\fs20 ", m.FontSlot(i)) << i;
  EXPECT_EQ(1, m.MacroSwitch());
  EXPECT_EQ("\\fs25 ", withSizes({20, -1, -1, -1, -1, -1, -1}, 1, 1.25).FontSlot(3));
  EXPECT_EQ("\\fs16 ", withSizes({20, -1, -1, -1, -1, -1, -1}, 1, 0.8).FontSlot(0));
  RtfMacros mixed = withSizes({8, 9, -1, 11, -1, 13, 14}, 0, 1.5);
  EXPECT_EQ("\\fs12 \\fs13 \\fs12 \\fs16 \\fs12 \\fs19 \\fs21 ",
            mixed.FontSlot(0) + mixed.FontSlot(1) + mixed.FontSlot(2) + mixed.FontSlot(3) + mixed.FontSlot(4) +
                mixed.FontSlot(5) + mixed.FontSlot(6));
  EXPECT_EQ(0, mixed.MacroSwitch());
  EXPECT_EQ("", m.FontSlot(7));
}

TEST(RtfMacros, SizesOfZeroOrLessAreRefusedAndChangeNothing) {
  RtfMacros m = withSizes({20, -1, -1, -1, -1, -1, -1}, 1);
  const struct {
    int sizes[RtfMacros::kFontSlots];
    double scale;
  } refused[] = {
      {{0, -1, -1, -1, -1, -1, -1}, 1.0},     {{-1, -1, -1, -1, -1, -1, -1}, 1.0},
      {{20, 20, 20, -2, 20, 20, 20}, 1.0},    {{20, 20, 20, 20, 20, 20, 0}, 1.0},
      {{1, -1, -1, -1, -1, -1, -1}, 0.5},     {{20, -1, -1, -1, -1, -1, -1}, 0.0},
      {{20, -1, -1, -1, -1, -1, -1}, -1.25},  {{40000, -1, -1, -1, -1, -1, -1}, 1.0},
      {{30000, -1, -1, -1, -1, -1, -1}, 1.25}, {{20, -1, -1, -1, -1, -1, -1}, std::numeric_limits<double>::quiet_NaN()},
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(m.SetFontSizes(r.sizes, 0, r.scale)) << r.sizes[0] << " x " << r.scale;
    EXPECT_EQ("\\fs20 ", m.FontSlot(0));
    EXPECT_EQ("\\fs20 ", m.FontSlot(6));
    EXPECT_EQ(1, m.MacroSwitch());
  }
  // The largest size still taken.
  EXPECT_EQ("\\fs32767 ", withSizes({32767, -1, -1, -1, -1, -1, -1}).FontSlot(0));
}

TEST(RtfStream, PiecesOfAnySizeGiveTheWholeText) {
  std::string text(10000, 'x');
  std::mt19937 rng(17);
  for (char& c : text) c = static_cast<char>('a' + rng() % 26);

  const auto fixed = pieces(text, {4096});
  ASSERT_EQ(3u, fixed.size());
  EXPECT_EQ(4096u, fixed[0].size());
  EXPECT_EQ(4096u, fixed[1].size());
  EXPECT_EQ(1808u, fixed[2].size());
  EXPECT_EQ(text, fixed[0] + fixed[1] + fixed[2]);

  for (const std::vector<LONG>& sizes : {std::vector<LONG>{1}, {7, 4096, 3}, {9999}, {10000}, {20000}}) {
    std::string joined;
    for (const auto& p : pieces(text, sizes)) joined += p;
    EXPECT_EQ(text, joined) << sizes[0];
  }
  EXPECT_TRUE(pieces("", {4096}).empty());
}

TEST(RtfStream, OddArgumentsEndTheStreamOrReportAnError) {
  char buffer[16];
  LONG done = 99;
  EXPECT_EQ(0u, RtfStreamIn(0, reinterpret_cast<BYTE*>(buffer), 16, &done));
  EXPECT_EQ(0, done);
  const std::string text = "abc";
  RtfStreamCursor cursor{text.data(), text.size(), 0};
  done = 99;
  EXPECT_EQ(0u, RtfStreamIn(reinterpret_cast<DWORD_PTR>(&cursor), reinterpret_cast<BYTE*>(buffer), 0, &done));
  EXPECT_EQ(0, done);
  EXPECT_EQ(0u, cursor.offset);
  EXPECT_EQ(1u, RtfStreamIn(reinterpret_cast<DWORD_PTR>(&cursor), reinterpret_cast<BYTE*>(buffer), 16, nullptr));
  EXPECT_EQ(0u, cursor.offset);
}
