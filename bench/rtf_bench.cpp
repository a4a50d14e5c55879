// RTF loader speed: 10 MiB of rich text made ready for a rich edit control.
//
//   LoadPath    the loader's own path without a window: macro expansion
//               (font-size slots, header, colours) and the stream callback
//               handing the result over in the control's 4096-byte pieces;
//               aim: under 1 s for 10 MiB
//   Yardstick   the fastest honest way to do the same work: one
//               std::string find/replace pass over the text and a memcpy
//               of each 4096-byte piece
//
// Compare the two times within one run.

#include <benchmark/benchmark.h>
#include <sundry/controls/RtfCore.h>

#include <cstring>
#include <string>

namespace {

constexpr size_t kTextSize = 10u << 20;
constexpr LONG kPiece = 4096;

// Body text as the loader's callers write it: a size macro, plain words,
// bold runs, a colour table entry and line breaks.
const std::string& sampleText() {
  static const std::string text = [] {
    const std::string line =
        "%fs1%Connection \\b established\\b0  at 57600 bit/s on COM1.\\par "
        "{\\cf1 %fs3%Signal quality: good} \\tab %fs0%Press \\i Disconnect\\i0  to end.\\par\r\n";
    std::string t = "{\\colortbl;\\red%red%\\green%green%\\blue%blue%;}";
    while (t.size() + line.size() < kTextSize) t += line;
    return t;
  }();
  return text;
}

void LoadPath(benchmark::State& state) {
  sundry::controls::RtfMacros macros;
  const int sizes[sundry::controls::RtfMacros::kFontSlots] = {20, 16, -1, 24, -1, -1, -1};
  macros.SetFontSizes(sizes, 1, 1.25);
  macros.SetTextColor(0x00FF8000);
  const std::string& text = sampleText();
  std::string expanded;
  char piece[kPiece];
  for (auto _ : state) {
    if (!macros.Expand(text, &expanded)) state.SkipWithError("out of memory");
    sundry::controls::RtfStreamCursor cursor{expanded.data(), expanded.size(), 0};
    LONG done = 0;
    size_t total = 0;
    do {
      sundry::controls::RtfStreamIn(reinterpret_cast<DWORD_PTR>(&cursor), reinterpret_cast<BYTE*>(piece), kPiece,
                                    &done);
      total += static_cast<size_t>(done);
    } while (done > 0);
    benchmark::DoNotOptimize(total);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void Yardstick(benchmark::State& state) {
  const std::string& text = sampleText();
  char piece[kPiece];
  for (auto _ : state) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    size_t done = 0;
    for (size_t pos = text.find("%fs1%"); pos != std::string::npos; pos = text.find("%fs1%", done)) {
      out.append(text, done, pos - done);
      out.append("\\fs20 ");
      done = pos + 5;
    }
    out.append(text, done, std::string::npos);
    size_t total = 0;
    for (size_t off = 0; off < out.size(); off += kPiece) {
      const size_t n = std::min<size_t>(kPiece, out.size() - off);
      std::memcpy(piece, out.data() + off, n);
      total += n;
    }
    benchmark::DoNotOptimize(total);
    benchmark::DoNotOptimize(piece);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

}  // namespace

BENCHMARK(LoadPath)->Unit(benchmark::kMillisecond);
BENCHMARK(Yardstick)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
