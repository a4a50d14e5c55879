// CSundry::BitmapToRegion on a 1920x1080 bitmap, beside the yardstick: a
// plain scan of the same pixels into a vector of run rectangles.
//
//   Region/FewRuns        four opaque runs per row, their ends moving from
//                         row to row so no two rows share a band; aim < 30 ms
//   Region/Checkerboard   one-pixel squares, 1,036,800 runs; aim < 1.5 s
//   Scan/FewRuns, Scan/Checkerboard
//                         the yardstick: the runs of the pixels already in
//                         memory pushed into a std::vector<RECT> whose room
//                         is kept from one iteration to the next
//
// Compare Region with Scan of the same image within one run.

#include <benchmark/benchmark.h>
#include <sundry/util/Sundry.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr uint32_t kKey = 0x00FF00FF;

// The image, top row first, 0x00RRGGBB.
std::vector<uint32_t> Image(bool checkerboard) {
  std::vector<uint32_t> pixels(size_t{kWidth} * kHeight, kKey);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      bool opaque;
      if (checkerboard) {
        opaque = (x + y) % 2 == 0;
      } else {
        const int shift = static_cast<int>(40 * std::sin(y / 37.0));
        opaque = false;
        for (int run = 0; run < 4; ++run) {
          const int left = 100 + run * 450 + shift, right = left + 300 + (y % 7);
          opaque = opaque || (x >= left && x < right);
        }
      }
      if (opaque) pixels[size_t{kWidth} * y + x] = 0x00336699;
    }
  return pixels;
}

HBITMAP Bitmap(const std::vector<uint32_t>& pixels) {
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) std::memcpy(bits, pixels.data(), pixels.size() * 4);
  return bitmap;
}

void Region(benchmark::State& state) {
  const std::vector<uint32_t> pixels = Image(state.range(0) != 0);
  HBITMAP bitmap = Bitmap(pixels);
  size_t rects = 0;
  for (auto _ : state) {
    HRGN region = CSundry::BitmapToRegion(bitmap, kKey, 0);
    if (region == nullptr) {
      state.SkipWithError("no region");
      break;
    }
    rects = GetRegionData(region, 0, nullptr);
    DeleteObject(region);
  }
  state.counters["rects"] = static_cast<double>((rects - sizeof(RGNDATAHEADER)) / sizeof(RECT));
  DeleteObject(bitmap);
}

void Scan(benchmark::State& state) {
  const std::vector<uint32_t> pixels = Image(state.range(0) != 0);
  std::vector<RECT> rects;
  for (auto _ : state) {
    rects.clear();
    for (int y = 0; y < kHeight; ++y) {
      const uint32_t* row = pixels.data() + size_t{kWidth} * y;
      int x = 0;
      while (x < kWidth) {
        while (x < kWidth && (row[x] & 0xFFFFFF) == kKey) ++x;
        const int start = x;
        while (x < kWidth && (row[x] & 0xFFFFFF) != kKey) ++x;
        if (x > start) rects.push_back(RECT{start, y, x, y + 1});
      }
    }
    benchmark::DoNotOptimize(rects.data());
  }
  state.counters["rects"] = static_cast<double>(rects.size());
}

BENCHMARK(Region)->ArgName("checkerboard")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Scan)->ArgName("checkerboard")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
