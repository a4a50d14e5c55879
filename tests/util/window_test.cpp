// CSundry's bitmap regions: each region checked pixel by pixel against the
// colour range applied to the bitmap's own pixels.

#include <gtest/gtest.h>
#include <sundry/util/Sundry.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A 32-bit DIB section with direct access to its pixels (0x00RRGGBB, blue
// stored first), top row first unless bottomUp.
class Dib {
 public:
  Dib(int width, int height, bool bottomUp = false, int bits = 32) : m_width(width), m_height(height), m_bits(bits) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = bottomUp ? height : -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bits);
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    m_pixels = static_cast<uint8_t*>(pixels);
    m_stride = ((width * bits + 31) / 32) * 4;
    m_bottomUp = bottomUp;
  }
  ~Dib() {
    if (m_bitmap != nullptr) DeleteObject(m_bitmap);
  }
  Dib(const Dib&) = delete;
  Dib& operator=(const Dib&) = delete;

  HBITMAP handle() const { return m_bitmap; }
  int width() const { return m_width; }
  int height() const { return m_height; }
  void set(int x, int y, uint32_t rgb) {
    uint8_t* p = m_pixels + (m_bottomUp ? m_height - 1 - y : y) * m_stride + x * (m_bits / 8);
    p[0] = rgb & 0xFF;
    p[1] = (rgb >> 8) & 0xFF;
    p[2] = (rgb >> 16) & 0xFF;
  }
  uint32_t get(int x, int y) const {
    const uint8_t* p = m_pixels + (m_bottomUp ? m_height - 1 - y : y) * m_stride + x * (m_bits / 8);
    return p[0] | (p[1] << 8) | (p[2] << 16);
  }

 private:
  int m_width, m_height, m_bits, m_stride = 0;
  bool m_bottomUp = false;
  HBITMAP m_bitmap = nullptr;
  uint8_t* m_pixels = nullptr;
};

// Whether a stored pixel (0x00RRGGBB, blue is stored byte 0) lies in the
// range: stored byte k against byte k of transparent and tolerance.
bool InRange(uint32_t pixel, unsigned long transparent, unsigned long tolerance) {
  for (int k = 0; k < 3; ++k) {
    const unsigned value = (pixel >> (8 * k)) & 0xFF;
    const unsigned low = (transparent >> (8 * k)) & 0xFF;
    const unsigned high = std::min(255u, low + static_cast<unsigned>((tolerance >> (8 * k)) & 0xFF));
    if (value < low || value > high) return false;
  }
  return true;
}

// Compares the region with the range, pixel by pixel, and checks that
// nothing around the bitmap belongs to it; the bounding box is that of the
// opaque pixels.
void ExpectRegionMatches(HRGN region, const Dib& dib, unsigned long transparent, unsigned long tolerance) {
  ASSERT_NE(nullptr, region);
  RECT expected{dib.width(), dib.height(), 0, 0};
  int mismatches = 0;
  for (int y = -1; y <= dib.height(); ++y)
    for (int x = -1; x <= dib.width(); ++x) {
      const bool inside = x >= 0 && y >= 0 && x < dib.width() && y < dib.height();
      const bool opaque = inside && !InRange(dib.get(x, y), transparent, tolerance);
      if (opaque) {
        expected = RECT{std::min<LONG>(expected.left, x), std::min<LONG>(expected.top, y),
                        std::max<LONG>(expected.right, x + 1), std::max<LONG>(expected.bottom, y + 1)};
      }
      if ((PtInRegion(region, x, y) != FALSE) != opaque && ++mismatches <= 5)
        ADD_FAILURE() << "pixel (" << x << "," << y << ") opaque " << opaque;
    }
  EXPECT_EQ(0, mismatches);
  RECT box;
  const int kind = GetRgnBox(region, &box);
  if (expected.right == 0) {
    EXPECT_EQ(NULLREGION, kind);
  } else {
    EXPECT_NE(NULLREGION, kind);
    EXPECT_EQ(expected.left, box.left);
    EXPECT_EQ(expected.top, box.top);
    EXPECT_EQ(expected.right, box.right);
    EXPECT_EQ(expected.bottom, box.bottom);
  }
}

// The rectangles of a region.
std::vector<RECT> Rects(HRGN region) {
  const DWORD size = GetRegionData(region, 0, nullptr);
  std::vector<uint8_t> data(size);
  auto* rgn = reinterpret_cast<RGNDATA*>(data.data());
  if (size == 0 || GetRegionData(region, size, rgn) == 0) return {};
  const RECT* first = reinterpret_cast<const RECT*>(rgn->Buffer);
  return std::vector<RECT>(first, first + rgn->rdh.nCount);
}

struct Region {
  explicit Region(HRGN h) : handle(h) {}
  ~Region() {
    if (handle != nullptr) DeleteObject(handle);
  }
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;
  HRGN handle;
};

// The first row of a region as text: '1' for each pixel inside, '0' outside.
std::string FirstRow(const Region& region, int width) {
  std::string row;
  for (int x = 0; x < width; ++x) row += PtInRegion(region.handle, x, 0) ? '1' : '0';
  return row;
}

TEST(BitmapToRegion, RandomBitmapsMatchAPixelScan) {
  std::mt19937 random(20240517);
  // Few colours, so that runs of both kinds have all lengths; some lie just
  // inside and just outside the range.
  const unsigned long transparent = 0x00306090, tolerance = 0x00100804;
  const uint32_t palette[] = {0x00906030, 0x00306090, 0x00346898, 0x00356898, 0x00346899,
                              0x002F6090, 0x00FFFFFF, 0x00000000, 0x00406090};
  const int sizes[][2] = {{1, 1}, {1, 17}, {17, 1}, {31, 23}, {64, 40}, {200, 3}};
  for (const auto& size : sizes) {
    for (int denseOpaque = 0; denseOpaque < 2; ++denseOpaque) {
      Dib dib(size[0], size[1]);
      ASSERT_NE(nullptr, dib.handle());
      for (int y = 0; y < dib.height(); ++y)
        for (int x = 0; x < dib.width(); ++x) {
          // Runs: keep the colour of the left neighbour now and then.
          const bool keep = x > 0 && random() % 3 == 0;
          dib.set(x, y, keep ? dib.get(x - 1, y) : palette[random() % (denseOpaque ? 9 : 3)]);
        }
      Region region(CSundry::BitmapToRegion(dib.handle(), transparent, tolerance));
      SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " dense " << denseOpaque);
      ExpectRegionMatches(region.handle, dib, transparent, tolerance);
    }
  }
}

TEST(BitmapToRegion, ACheckerboardOfManyRunsIsTheirExactUnion) {
  // 2,500 one-pixel runs, more than any fixed batch of rectangles.
  Dib dib(100, 50);
  for (int y = 0; y < dib.height(); ++y)
    for (int x = 0; x < dib.width(); ++x) dib.set(x, y, (x + y) % 2 ? 0x00FF00FF : 0x00123456);
  Region region(CSundry::BitmapToRegion(dib.handle(), 0x00FF00FF, 0));
  ExpectRegionMatches(region.handle, dib, 0x00FF00FF, 0);
  EXPECT_EQ(2500u, Rects(region.handle).size());
}

TEST(BitmapToRegion, RowsWithTheSameRunsShareOneBand) {
  // A filled square, and below it two columns.
  Dib dib(20, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool square = y >= 2 && y < 10 && x >= 3 && x < 13;
      const bool column = y >= 10 && y < 18 && ((x >= 3 && x < 5) || (x >= 9 && x < 13));
      dib.set(x, y, square || column ? 0x00808080 : 0);
    }
  Region region(CSundry::BitmapToRegion(dib.handle(), 0, 0x00101010));
  ExpectRegionMatches(region.handle, dib, 0, 0x00101010);
  const std::vector<RECT> rects = Rects(region.handle);
  ASSERT_EQ(3u, rects.size());
  EXPECT_EQ((std::vector<LONG>{3, 2, 13, 10}), (std::vector<LONG>{rects[0].left, rects[0].top, rects[0].right, rects[0].bottom}));
  EXPECT_EQ((std::vector<LONG>{9, 10, 13, 18}), (std::vector<LONG>{rects[2].left, rects[2].top, rects[2].right, rects[2].bottom}));
}

TEST(BitmapToRegion, TheLowestByteOfTheColourBoundsThePixelsBlue) {
  // A COLORREF's lowest byte is red, but it is compared with the first
  // stored byte of a pixel, its blue: 0x000000FF cuts away pure blue and
  // keeps pure red. Callers use colours whose red and blue match.
  Dib dib(3, 1);
  dib.set(0, 0, 0x000000FF);  // blue
  dib.set(1, 0, 0x00FF0000);  // red
  dib.set(2, 0, 0x00FF00FF);  // magenta
  Region red(CSundry::BitmapToRegion(dib.handle(), 0x000000FF, 0));
  ASSERT_NE(nullptr, red.handle);
  EXPECT_EQ("011", FirstRow(red, 3));
  Region magenta(CSundry::BitmapToRegion(dib.handle(), 0x00FF00FF, 0));
  ASSERT_NE(nullptr, magenta.handle);
  EXPECT_EQ("110", FirstRow(magenta, 3));
}

TEST(BitmapToRegion, BoundsStopAt255) {
  // 0xF0 + 0x20 passes 255: the range is 0xF0..0xFF, not an empty or
  // wrapped one.
  Dib dib(4, 1);
  dib.set(0, 0, 0x00FFFFFF);
  dib.set(1, 0, 0x00F0F0F0);
  dib.set(2, 0, 0x00EFF0F0);
  dib.set(3, 0, 0x000F0F0F);
  Region region(CSundry::BitmapToRegion(dib.handle(), 0x00F0F0F0, 0x00202020));
  ASSERT_NE(nullptr, region.handle);
  EXPECT_EQ("0011", FirstRow(region, 4));
}

TEST(BitmapToRegion, SmallestAndEmptyCases) {
  Dib one(1, 1);
  one.set(0, 0, 0x00FFFFFF);
  Region single(CSundry::BitmapToRegion(one.handle(), 0, 0));
  ASSERT_NE(nullptr, single.handle);
  RECT box;
  EXPECT_EQ(SIMPLEREGION, GetRgnBox(single.handle, &box));
  EXPECT_EQ(0, box.left);
  EXPECT_EQ(0, box.top);
  EXPECT_EQ(1, box.right);
  EXPECT_EQ(1, box.bottom);

  // All of the transparent colour: a region, empty.
  Dib blank(40, 30);
  Region empty(CSundry::BitmapToRegion(blank.handle(), 0, 0));
  ASSERT_NE(nullptr, empty.handle);
  EXPECT_EQ(NULLREGION, GetRgnBox(empty.handle, &box));

  EXPECT_EQ(nullptr, CSundry::BitmapToRegion(nullptr, 0, 0));
  // A handle that is no bitmap.
  EXPECT_EQ(nullptr, CSundry::BitmapToRegion(reinterpret_cast<HBITMAP>(single.handle), 0, 0));
}

TEST(BitmapToRegion, RowOrderAndDepthOfTheSourceDoNotMatter) {
  std::mt19937 random(7);
  Dib topDown(23, 9), bottomUp(23, 9, true), deep24(23, 9, false, 24);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 23; ++x) {
      const uint32_t colour = random() % 2 ? 0x00C0C0C0 : 0x00000000;
      topDown.set(x, y, colour);
      bottomUp.set(x, y, colour);
      deep24.set(x, y, colour);
    }
  for (const Dib* dib : {&topDown, &bottomUp, &deep24}) {
    Region region(CSundry::BitmapToRegion(dib->handle(), 0, 0));
    ExpectRegionMatches(region.handle, *dib, 0, 0);
  }
}

TEST(BitmapToRegion, ABitmapSelectedIntoAContextGivesNoRegion) {
  // Its pixels cannot be copied while another context holds it: no region
  // rather than one made of something else.
  Dib dib(8, 8);
  for (int y = 0; y < 8; ++y) dib.set(y, y, 0x00FFFFFF);
  HDC holder = CreateCompatibleDC(nullptr);
  ASSERT_NE(nullptr, holder);
  HGDIOBJ old = SelectObject(holder, dib.handle());
  ASSERT_NE(nullptr, old);
  EXPECT_EQ(nullptr, CSundry::BitmapToRegion(dib.handle(), 0, 0));
  SelectObject(holder, old);
  DeleteDC(holder);
  Region region(CSundry::BitmapToRegion(dib.handle(), 0, 0));
  ExpectRegionMatches(region.handle, dib, 0, 0);
}

}  // namespace
