// GDI stand-in: bitmaps held in memory, memory device contexts, banded
// rectangle regions, the screen's metrics from the X display, movable
// memory blocks; windows, tooltips, notification icons and string resources
// that do not exist here.

#include "platform/winapi/gdi_internal.h"

#include <sundry/platform/error.h>
#include <sundry/platform/gdi.h>

#include "platform/posix/display.h"
#include "platform/posix/error.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <strings.h>
#include <unordered_set>
#include <vector>

namespace sundry::platform {

namespace {

enum class Kind { Bitmap, Region, MemoryDC, ScreenDC, Memory };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Kind kind;
};

struct Context;

struct Bitmap : Object {
  Bitmap() : Object(Kind::Bitmap) {}
  ~Bitmap() override { std::free(pixels); }
  LONG width = 0;
  LONG height = 0;  // always positive
  WORD bitsPerPixel = 32;
  bool bottomUp = false;
  LONG stride = 0;  // bytes of a row, a multiple of 4
  BYTE* pixels = nullptr;
  Context* selectedIn = nullptr;
  bool stock = false;  // the placeholder of new memory contexts, never deleted

  BYTE* Row(LONG y) const { return pixels + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride; }
};

struct Context : Object {
  explicit Context(Kind k) : Object(k) {}
  Bitmap* selected = nullptr;  // memory contexts only
  int depth = 24;              // screen contexts: what GetDeviceCaps answers
  int dpi = 96;
};

struct Region : Object {
  Region() : Object(Kind::Region) {}
  std::vector<RECT> rects;  // banded, see gdi.h
  RECT box{0, 0, 0, 0};
};

struct Memory : Object {
  Memory() : Object(Kind::Memory) {}
  ~Memory() override { std::free(data); }
  void* data = nullptr;
  size_t size = 0;
  int locks = 0;
};

// Every live object, by its handle (its address). One lock guards the table
// and the objects' links (a bitmap and the context it is selected into).
std::mutex g_lock;
std::unordered_set<Object*>* g_objects = new std::unordered_set<Object*>;  // never destroyed: outlives static users
std::atomic<bool> g_reallocFails{false};
std::atomic<bool> g_screenFails{false};

Bitmap& StockBitmap() {
  static Bitmap* stock = [] {
    auto* b = new Bitmap;
    b->width = b->height = 1;
    b->stride = 4;
    b->pixels = static_cast<BYTE*>(std::calloc(1, 4));
    b->stock = true;
    return b;
  }();
  return *stock;
}

template <class T>
T* Find(const void* handle, Kind kind) {
  auto* object = static_cast<Object*>(const_cast<void*>(handle));
  if (handle == nullptr || g_objects->count(object) == 0 || object->kind != kind) return nullptr;
  return static_cast<T*>(object);
}

template <class T>
T* Enter(std::unique_ptr<T> object) {
  g_objects->insert(object.get());
  return object.release();
}

void Remove(Object* object) {
  g_objects->erase(object);
  delete object;
}

// The resolution asked for through the environment, or 0.
int ConfiguredDpi() {
  const char* text = std::getenv("SUNDRY_LOGPIXELS");
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value >= 1 && value <= 10000 ? static_cast<int>(value) : 0;
}

HDC NewScreenContext() {
  if (g_screenFails) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }
  const posix::DisplayFacts facts = posix::ReadDisplayFacts();
  const int configured = ConfiguredDpi();
  return posix::OrOutOfMemory<HDC>(nullptr, [&] {
    auto dc = std::make_unique<Context>(Kind::ScreenDC);
    dc->depth = facts.depth;
    dc->dpi = configured != 0 ? configured : facts.dpi != 0 ? facts.dpi : 96;
    std::lock_guard<std::mutex> hold(g_lock);
    return reinterpret_cast<HDC>(Enter(std::move(dc)));
  });
}

// A bitmap of the given shape with zeroed pixels; null with the last error
// set.
std::unique_ptr<Bitmap> NewBitmap(LONG width, LONG height, WORD bitsPerPixel, bool bottomUp) {
  const long long stride = ((static_cast<long long>(width) * bitsPerPixel + 31) / 32) * 4;
  if (stride * height > 0x80000000LL) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto bitmap = std::make_unique<Bitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bitsPerPixel = bitsPerPixel;
  bitmap->bottomUp = bottomUp;
  bitmap->stride = static_cast<LONG>(stride);
  bitmap->pixels = static_cast<BYTE*>(std::calloc(static_cast<size_t>(stride * height), 1));
  if (bitmap->pixels == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return bitmap;
}

// Joins each band with the one above it when they touch and hold the same
// spans, so that a region has one form only.
void Coalesce(std::vector<RECT>& rects) {
  std::vector<RECT> out;
  out.reserve(rects.size());
  size_t lastBand = 0;  // start of the last band in out
  for (size_t i = 0; i < rects.size();) {
    size_t j = i;
    while (j < rects.size() && rects[j].top == rects[i].top) ++j;
    const size_t lastCount = out.size() - lastBand;
    bool same = !out.empty() && out.back().bottom == rects[i].top && lastCount == j - i;
    for (size_t k = 0; same && k < lastCount; ++k)
      same = out[lastBand + k].left == rects[i + k].left && out[lastBand + k].right == rects[i + k].right;
    if (same) {
      for (size_t k = lastBand; k < out.size(); ++k) out[k].bottom = rects[i].bottom;
    } else {
      lastBand = out.size();
      out.insert(out.end(), rects.begin() + static_cast<long>(i), rects.begin() + static_cast<long>(j));
    }
    i = j;
  }
  rects.swap(out);
}

// True when the non-empty rectangles already lie in bands.
bool Banded(const std::vector<RECT>& rects) {
  for (size_t i = 1; i < rects.size(); ++i) {
    const RECT& a = rects[i - 1];
    const RECT& b = rects[i];
    const bool sameBand = a.top == b.top && a.bottom == b.bottom && a.right < b.left;
    if (!sameBand && b.top < a.bottom) return false;
  }
  return true;
}

// The bands of the union of any rectangles: a sweep from top to bottom over
// the rectangles' top and bottom edges.
std::vector<RECT> Union(std::vector<RECT> rects) {
  std::vector<LONG> edges;
  edges.reserve(rects.size() * 2);
  for (const RECT& r : rects) {
    edges.push_back(r.top);
    edges.push_back(r.bottom);
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  std::sort(rects.begin(), rects.end(), [](const RECT& a, const RECT& b) { return a.top < b.top; });
  std::vector<RECT> out, active;
  std::vector<std::pair<LONG, LONG>> spans;
  size_t next = 0;
  for (size_t e = 0; e + 1 < edges.size(); ++e) {
    const LONG top = edges[e], bottom = edges[e + 1];
    active.erase(std::remove_if(active.begin(), active.end(), [&](const RECT& r) { return r.bottom <= top; }),
                 active.end());
    while (next < rects.size() && rects[next].top <= top) active.push_back(rects[next++]);
    spans.clear();
    for (const RECT& r : active) spans.emplace_back(r.left, r.right);
    std::sort(spans.begin(), spans.end());
    for (size_t i = 0; i < spans.size();) {
      LONG left = spans[i].first, right = spans[i].second;
      // Spans that overlap or touch become one.
      for (++i; i < spans.size() && spans[i].first <= right; ++i) right = std::max(right, spans[i].second);
      out.push_back(RECT{left, top, right, bottom});
    }
  }
  return out;
}

void BoundingBox(Region& region) {
  region.box = RECT{0, 0, 0, 0};
  if (region.rects.empty()) return;
  region.box = RECT{region.rects.front().left, region.rects.front().top, region.rects.front().right,
                    region.rects.back().bottom};
  for (const RECT& r : region.rects) {
    region.box.left = std::min(region.box.left, r.left);
    region.box.right = std::max(region.box.right, r.right);
  }
}

void ReadPixel(const Bitmap& b, LONG x, LONG y, BYTE out[4]) {
  const BYTE* p = b.Row(y) + static_cast<size_t>(x) * (b.bitsPerPixel / 8);
  out[0] = p[0];
  out[1] = p[1];
  out[2] = p[2];
  out[3] = b.bitsPerPixel == 32 ? p[3] : 0;
}

void WritePixel(Bitmap& b, LONG x, LONG y, const BYTE in[4]) {
  BYTE* p = b.Row(y) + static_cast<size_t>(x) * (b.bitsPerPixel / 8);
  p[0] = in[0];
  p[1] = in[1];
  p[2] = in[2];
  if (b.bitsPerPixel == 32) p[3] = in[3];
}

}  // namespace

void SetGlobalReAllocFails(bool fails) { g_reallocFails = fails; }
void SetScreenContextFails(bool fails) { g_screenFails = fails; }

std::size_t GdiObjectCount() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_objects->size();
}

}  // namespace sundry::platform

using namespace sundry::platform;

// --- Device contexts ----------------------------------------------------------

extern "C" HDC CreateCompatibleDC(HDC hdc) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (hdc != nullptr && Find<Context>(hdc, Kind::MemoryDC) == nullptr && Find<Context>(hdc, Kind::ScreenDC) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return posix::OrOutOfMemory<HDC>(nullptr, [&] {
    auto dc = std::make_unique<Context>(Kind::MemoryDC);
    dc->selected = &StockBitmap();
    return reinterpret_cast<HDC>(Enter(std::move(dc)));
  });
}

extern "C" HDC CreateDCA(LPCSTR pszDriver, LPCSTR pszDevice, LPCSTR pszPort, const DEVMODEA* pdm) {
  if (pszDriver == nullptr || strcasecmp(pszDriver, "DISPLAY") != 0 || pszDevice != nullptr || pszPort != nullptr ||
      pdm != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return NewScreenContext();
}

extern "C" BOOL DeleteDC(HDC hdc) {
  std::lock_guard<std::mutex> hold(g_lock);
  Context* dc = Find<Context>(hdc, Kind::MemoryDC);
  if (dc == nullptr) dc = Find<Context>(hdc, Kind::ScreenDC);
  if (dc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (dc->selected != nullptr && !dc->selected->stock) dc->selected->selectedIn = nullptr;
  Remove(dc);
  return TRUE;
}

extern "C" HDC GetDC(HWND hWnd) {
  if (hWnd != nullptr) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
  }
  return NewScreenContext();
}

extern "C" int ReleaseDC(HWND, HDC hDC) {
  std::lock_guard<std::mutex> hold(g_lock);
  Context* dc = Find<Context>(hDC, Kind::ScreenDC);
  if (dc == nullptr) return 0;
  Remove(dc);
  return 1;
}

extern "C" int GetDeviceCaps(HDC hdc, int index) {
  std::lock_guard<std::mutex> hold(g_lock);
  const Context* dc = Find<Context>(hdc, Kind::MemoryDC);
  if (dc == nullptr) dc = Find<Context>(hdc, Kind::ScreenDC);
  if (dc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const bool memory = dc->kind == Kind::MemoryDC;
  switch (index) {
    case BITSPIXEL: return memory ? dc->selected->bitsPerPixel : dc->depth;
    case PLANES: return 1;
    case LOGPIXELSX:
    case LOGPIXELSY: return memory ? 96 : dc->dpi;
    default: return 0;
  }
}

// --- Bitmaps ------------------------------------------------------------------

extern "C" HBITMAP CreateDIBSection(HDC, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                                    DWORD) {
  if (ppvBits != nullptr) *ppvBits = nullptr;
  if (pbmi == nullptr || pbmi->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) || usage != DIB_RGB_COLORS ||
      hSection != nullptr || pbmi->bmiHeader.biCompression != BI_RGB || pbmi->bmiHeader.biPlanes != 1 ||
      (pbmi->bmiHeader.biBitCount != 24 && pbmi->bmiHeader.biBitCount != 32) || pbmi->bmiHeader.biWidth <= 0 ||
      pbmi->bmiHeader.biHeight == 0 || pbmi->bmiHeader.biHeight == INT32_MIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const LONG height = pbmi->bmiHeader.biHeight;
  return posix::OrOutOfMemory<HBITMAP>(nullptr, [&]() -> HBITMAP {
    auto bitmap = NewBitmap(pbmi->bmiHeader.biWidth, height < 0 ? -height : height, pbmi->bmiHeader.biBitCount,
                            height > 0);
    if (bitmap == nullptr) return nullptr;
    void* bits = bitmap->pixels;
    std::lock_guard<std::mutex> hold(g_lock);
    HBITMAP handle = reinterpret_cast<HBITMAP>(Enter(std::move(bitmap)));
    if (ppvBits != nullptr) *ppvBits = bits;
    return handle;
  });
}

extern "C" HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits) {
  if (nWidth <= 0 || nHeight <= 0 || nPlanes != 1 || (nBitCount != 24 && nBitCount != 32)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return posix::OrOutOfMemory<HBITMAP>(nullptr, [&]() -> HBITMAP {
    auto bitmap = NewBitmap(nWidth, nHeight, static_cast<WORD>(nBitCount), false);
    if (bitmap == nullptr) return nullptr;
    if (lpBits != nullptr) {
      // The caller's rows are padded to 2 bytes.
      const size_t rowBytes = static_cast<size_t>(nWidth) * (nBitCount / 8);
      const size_t pitch = (rowBytes + 1) & ~size_t{1};
      for (LONG y = 0; y < nHeight; ++y)
        std::memcpy(bitmap->Row(y), static_cast<const BYTE*>(lpBits) + y * pitch, rowBytes);
    }
    std::lock_guard<std::mutex> hold(g_lock);
    return reinterpret_cast<HBITMAP>(Enter(std::move(bitmap)));
  });
}

extern "C" HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  std::lock_guard<std::mutex> hold(g_lock);
  Context* dc = Find<Context>(hdc, Kind::MemoryDC);
  Bitmap* bitmap = Find<Bitmap>(h, Kind::Bitmap);
  if (bitmap == nullptr && h == &StockBitmap()) bitmap = &StockBitmap();
  if (dc == nullptr || bitmap == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!bitmap->stock && bitmap->selectedIn != nullptr && bitmap->selectedIn != dc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Bitmap* old = dc->selected;
  if (!old->stock) old->selectedIn = nullptr;
  if (!bitmap->stock) bitmap->selectedIn = dc;
  dc->selected = bitmap;
  return old;
}

extern "C" int GetObjectA(HANDLE h, int c, LPVOID pv) {
  std::lock_guard<std::mutex> hold(g_lock);
  const Bitmap* bitmap = Find<Bitmap>(h, Kind::Bitmap);
  if (bitmap == nullptr && h == &StockBitmap()) bitmap = &StockBitmap();
  if (bitmap == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (pv == nullptr) return sizeof(BITMAP);
  if (c < static_cast<int>(sizeof(BITMAP))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  BITMAP info{0, bitmap->width, bitmap->height, bitmap->stride, 1, bitmap->bitsPerPixel, bitmap->pixels};
  std::memcpy(pv, &info, sizeof info);
  return sizeof info;
}

extern "C" BOOL DeleteObject(HGDIOBJ ho) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (ho != nullptr && ho == &StockBitmap()) return TRUE;
  if (Bitmap* bitmap = Find<Bitmap>(ho, Kind::Bitmap)) {
    if (bitmap->selectedIn != nullptr) return FALSE;
    Remove(bitmap);
    return TRUE;
  }
  if (Region* region = Find<Region>(ho, Kind::Region)) {
    Remove(region);
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

extern "C" BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
  std::lock_guard<std::mutex> hold(g_lock);
  Context* to = Find<Context>(hdc, Kind::MemoryDC);
  Context* from = Find<Context>(hdcSrc, Kind::MemoryDC);
  if (to == nullptr || from == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (rop != SRCCOPY || cx < 0 || cy < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Bitmap& dst = *to->selected;
  const Bitmap& src = *from->selected;
  // Clip the rectangle to both bitmaps, in long long so no sum overflows.
  long long left = 0, top = 0, right = cx, bottom = cy;
  left = std::max({left, -static_cast<long long>(x), -static_cast<long long>(x1)});
  top = std::max({top, -static_cast<long long>(y), -static_cast<long long>(y1)});
  right = std::min({right, static_cast<long long>(dst.width) - x, static_cast<long long>(src.width) - x1});
  bottom = std::min({bottom, static_cast<long long>(dst.height) - y, static_cast<long long>(src.height) - y1});
  if (&dst == &src || left >= right || top >= bottom) return TRUE;
  for (long long row = top; row < bottom; ++row) {
    const LONG dy = static_cast<LONG>(y + row), sy = static_cast<LONG>(y1 + row);
    if (dst.bitsPerPixel == src.bitsPerPixel) {
      const size_t bytes = dst.bitsPerPixel / 8;
      std::memcpy(dst.Row(dy) + (x + left) * bytes, src.Row(sy) + (x1 + left) * bytes,
                  static_cast<size_t>(right - left) * bytes);
      continue;
    }
    for (long long col = left; col < right; ++col) {
      BYTE pixel[4];
      ReadPixel(src, static_cast<LONG>(x1 + col), sy, pixel);
      WritePixel(dst, static_cast<LONG>(x + col), dy, pixel);
    }
  }
  return TRUE;
}

extern "C" BOOL GdiFlush(void) { return TRUE; }

// --- Regions ------------------------------------------------------------------

extern "C" HRGN ExtCreateRegion(const XFORM* lpx, DWORD nCount, const RGNDATA* lpData) {
  if (lpx != nullptr || lpData == nullptr || nCount < sizeof(RGNDATAHEADER) ||
      lpData->rdh.dwSize != sizeof(RGNDATAHEADER) || lpData->rdh.iType != RDH_RECTANGLES ||
      lpData->rdh.nCount > (nCount - sizeof(RGNDATAHEADER)) / sizeof(RECT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return posix::OrOutOfMemory<HRGN>(nullptr, [&] {
    auto region = std::make_unique<Region>();
    const RECT* in = reinterpret_cast<const RECT*>(lpData->Buffer);
    region->rects.reserve(lpData->rdh.nCount);
    for (DWORD i = 0; i < lpData->rdh.nCount; ++i) {
      RECT r;
      std::memcpy(&r, in + i, sizeof r);
      if (r.left < r.right && r.top < r.bottom) region->rects.push_back(r);
    }
    if (!Banded(region->rects)) region->rects = Union(std::move(region->rects));
    Coalesce(region->rects);
    BoundingBox(*region);
    std::lock_guard<std::mutex> hold(g_lock);
    return reinterpret_cast<HRGN>(Enter(std::move(region)));
  });
}

extern "C" DWORD GetRegionData(HRGN hrgn, DWORD nCount, LPRGNDATA lpRgnData) {
  std::lock_guard<std::mutex> hold(g_lock);
  const Region* region = Find<Region>(hrgn, Kind::Region);
  if (region == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const size_t rectBytes = region->rects.size() * sizeof(RECT);
  const size_t needed = sizeof(RGNDATAHEADER) + rectBytes;
  if (needed > 0xFFFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (lpRgnData == nullptr) return static_cast<DWORD>(needed);
  if (nCount < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  RGNDATAHEADER header{sizeof(RGNDATAHEADER), RDH_RECTANGLES, static_cast<DWORD>(region->rects.size()),
                       static_cast<DWORD>(rectBytes), region->box};
  std::memcpy(lpRgnData, &header, sizeof header);
  if (rectBytes != 0) std::memcpy(lpRgnData->Buffer, region->rects.data(), rectBytes);
  return nCount;
}

extern "C" int GetRgnBox(HRGN hrgn, LPRECT lprc) {
  std::lock_guard<std::mutex> hold(g_lock);
  const Region* region = Find<Region>(hrgn, Kind::Region);
  if (region == nullptr || lprc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return ERROR;
  }
  *lprc = region->box;
  return region->rects.empty() ? NULLREGION : region->rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

extern "C" BOOL PtInRegion(HRGN hrgn, int x, int y) {
  std::lock_guard<std::mutex> hold(g_lock);
  const Region* region = Find<Region>(hrgn, Kind::Region);
  if (region == nullptr) return FALSE;
  const std::vector<RECT>& rects = region->rects;
  // Bottoms never decrease along the list: the first rectangle below y
  // starts the band that may hold it.
  auto it = std::upper_bound(rects.begin(), rects.end(), y, [](int v, const RECT& r) { return v < r.bottom; });
  if (it == rects.end() || it->top > y) return FALSE;
  for (const LONG top = it->top; it != rects.end() && it->top == top && it->left <= x; ++it)
    if (x < it->right) return TRUE;
  return FALSE;
}

// --- Movable memory -----------------------------------------------------------

extern "C" HGLOBAL GlobalAlloc(UINT uFlags, size_t dwBytes) {
  return posix::OrOutOfMemory<HGLOBAL>(nullptr, [&]() -> HGLOBAL {
    auto block = std::make_unique<Memory>();
    block->data = (uFlags & GMEM_ZEROINIT) != 0 ? std::calloc(dwBytes ? dwBytes : 1, 1) : std::malloc(dwBytes ? dwBytes : 1);
    if (block->data == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    block->size = dwBytes;
    std::lock_guard<std::mutex> hold(g_lock);
    return Enter(std::move(block));
  });
}

extern "C" HGLOBAL GlobalReAlloc(HGLOBAL hMem, size_t dwBytes, UINT uFlags) {
  std::lock_guard<std::mutex> hold(g_lock);
  Memory* block = Find<Memory>(hMem, Kind::Memory);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* data = g_reallocFails ? nullptr : std::realloc(block->data, dwBytes ? dwBytes : 1);
  if (data == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if ((uFlags & GMEM_ZEROINIT) != 0 && dwBytes > block->size)
    std::memset(static_cast<BYTE*>(data) + block->size, 0, dwBytes - block->size);
  block->data = data;
  block->size = dwBytes;
  return hMem;
}

extern "C" LPVOID GlobalLock(HGLOBAL hMem) {
  std::lock_guard<std::mutex> hold(g_lock);
  Memory* block = Find<Memory>(hMem, Kind::Memory);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ++block->locks;
  return block->data;
}

extern "C" BOOL GlobalUnlock(HGLOBAL hMem) {
  std::lock_guard<std::mutex> hold(g_lock);
  Memory* block = Find<Memory>(hMem, Kind::Memory);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (block->locks > 0) --block->locks;
  if (block->locks > 0) return TRUE;
  SetLastError(ERROR_SUCCESS);
  return FALSE;
}

extern "C" HGLOBAL GlobalFree(HGLOBAL hMem) {
  std::lock_guard<std::mutex> hold(g_lock);
  Memory* block = Find<Memory>(hMem, Kind::Memory);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
  }
  Remove(block);
  return nullptr;
}

extern "C" LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
  if (lpString1 == nullptr || lpString2 == nullptr || iMaxLength <= 0) return nullptr;
  int i = 0;
  for (; i < iMaxLength - 1 && lpString2[i] != '\0'; ++i) lpString1[i] = lpString2[i];
  lpString1[i] = '\0';
  return lpString1;
}

// --- Windows, tooltips, notification area, string resources -----------------

namespace {
template <class R>
R NotImplemented(R result) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return result;
}
}  // namespace

extern "C" HWND CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
  return NotImplemented<HWND>(nullptr);
}
extern "C" BOOL DestroyWindow(HWND) { return NotImplemented<BOOL>(FALSE); }
extern "C" BOOL SetWindowPos(HWND, HWND, int, int, int, int, UINT) { return NotImplemented<BOOL>(FALSE); }
extern "C" BOOL GetWindowRect(HWND, LPRECT) { return NotImplemented<BOOL>(FALSE); }
extern "C" BOOL GetClientRect(HWND, LPRECT) { return NotImplemented<BOOL>(FALSE); }
extern "C" int MapWindowPoints(HWND, HWND, LPPOINT, UINT) { return NotImplemented<int>(0); }
extern "C" LRESULT SendMessageTimeoutA(HWND, UINT, WPARAM, LPARAM, UINT, UINT, DWORD_PTR* lpdwResult) {
  if (lpdwResult != nullptr) *lpdwResult = 0;
  return NotImplemented<LRESULT>(0);
}
extern "C" BOOL Shell_NotifyIconA(DWORD, PNOTIFYICONDATAA) { return NotImplemented<BOOL>(FALSE); }
extern "C" BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX*) { return NotImplemented<BOOL>(FALSE); }
extern "C" int LoadStringA(HINSTANCE, UINT, LPSTR lpBuffer, int cchBufferMax) {
  if (lpBuffer != nullptr && cchBufferMax > 0) lpBuffer[0] = '\0';
  return NotImplemented<int>(0);
}
