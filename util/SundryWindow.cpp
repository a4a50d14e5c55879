// CSundry: regions cut from bitmaps, tooltips, notification-area balloons
// and the display's depth and resolution.

#include <sundry/platform/error.h>
#include <sundry/platform/gdi.h>
#include <sundry/util/Sundry.h>

#include <cstdlib>
#include <cstring>

namespace {

// The rectangles of a region under construction, in a movable memory block
// that starts with the region-data header ExtCreateRegion reads. Room grows
// by doubling, so a bitmap of a million runs costs some twenty moves, not
// ten thousand.
class RectBlock {
 public:
  RectBlock() = default;
  RectBlock(const RectBlock&) = delete;
  RectBlock& operator=(const RectBlock&) = delete;
  ~RectBlock() {
    if (handle_ == nullptr) return;
    if (data_ != nullptr) GlobalUnlock(handle_);
    GlobalFree(handle_);
  }

  bool Init(DWORD room) {
    handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, Bytes(room));
    if (handle_ == nullptr || !Lock()) return false;
    room_ = room;
    data_->rdh.dwSize = sizeof(RGNDATAHEADER);
    data_->rdh.iType = RDH_RECTANGLES;
    return true;
  }

  // Makes room for one more rectangle. False when the block cannot grow:
  // it is then left as it was, still owned here.
  bool Reserve() {
    if (count_ < room_) return true;
    if (room_ > kMaxRoom / 2) return false;
    const DWORD room = room_ * 2;
    GlobalUnlock(handle_);
    data_ = nullptr;
    rects_ = nullptr;
    HGLOBAL grown = GlobalReAlloc(handle_, Bytes(room), GMEM_MOVEABLE);
    if (grown != nullptr) {
      handle_ = grown;
      room_ = room;
    }
    return Lock() && grown != nullptr;
  }

  RECT* rects() { return rects_; }
  DWORD count() const { return count_; }
  void set_count(DWORD count) { count_ = count; }

  // A region of the rectangles held, with bound as their bounding box.
  HRGN MakeRegion(const RECT& bound) {
    data_->rdh.nCount = count_;
    data_->rdh.nRgnSize = count_ * sizeof(RECT);
    data_->rdh.rcBound = bound;
    return ExtCreateRegion(nullptr, static_cast<DWORD>(Bytes(count_)), data_);
  }

 private:
  // Keeps the block's size within what a DWORD byte count can tell.
  static constexpr DWORD kMaxRoom = (0xFFFFFFFFu - sizeof(RGNDATAHEADER)) / sizeof(RECT);

  static size_t Bytes(DWORD room) { return sizeof(RGNDATAHEADER) + size_t{room} * sizeof(RECT); }

  bool Lock() {
    data_ = static_cast<RGNDATA*>(GlobalLock(handle_));
    rects_ = data_ != nullptr ? reinterpret_cast<RECT*>(data_->Buffer) : nullptr;
    return data_ != nullptr;
  }

  HGLOBAL handle_ = nullptr;
  RGNDATA* data_ = nullptr;
  RECT* rects_ = nullptr;
  DWORD room_ = 0;
  DWORD count_ = 0;
};

// Inclusive bounds of one stored byte of a pixel, as the low bound and the
// width of the range: a byte b is inside when b - low, taken unsigned, is
// at most the width.
struct ByteRange {
  unsigned low;
  unsigned width;
};

ByteRange RangeOfByte(unsigned long transparent, unsigned long tolerance, int k) {
  const unsigned low = (transparent >> (8 * k)) & 0xFFu;
  const unsigned high = low + ((tolerance >> (8 * k)) & 0xFFu);
  return {low, (high > 255u ? 255u : high) - low};
}

// Appends the runs of opaque pixels of the 32-bit image (rows top row first
// at pitch bytes apart, as the caller orders them) to block, one band per
// stretch of rows that share the same runs. False when memory runs out.
bool ScanRuns(const BYTE* topRow, long pitch, LONG width, LONG height, const ByteRange range[3], RectBlock& block,
              RECT& bound) {
  DWORD bandStart = 0;  // the last band: its rectangles are [bandStart, rowStart)
  bool haveBand = false;
  for (LONG y = 0; y < height; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(topRow + y * pitch);
    const DWORD rowStart = block.count();
    LONG x = 0;
    while (x < width) {
      // Step over transparent pixels, then take the run of opaque ones.
      const auto transparentAt = [&](LONG i) {
        const uint32_t p = row[i];
        return (p & 0xFFu) - range[0].low <= range[0].width && ((p >> 8) & 0xFFu) - range[1].low <= range[1].width &&
               ((p >> 16) & 0xFFu) - range[2].low <= range[2].width;
      };
      while (x < width && transparentAt(x)) ++x;
      if (x == width) break;
      const LONG x0 = x;
      while (x < width && !transparentAt(x)) ++x;
      if (!block.Reserve()) return false;
      block.rects()[block.count()] = RECT{x0, y, x, y + 1};
      block.set_count(block.count() + 1);
      if (x0 < bound.left) bound.left = x0;
      if (x > bound.right) bound.right = x;
    }
    const DWORD rowEnd = block.count();
    if (rowEnd == rowStart) {
      haveBand = false;
      continue;
    }
    if (bound.top > y) bound.top = y;
    bound.bottom = y + 1;
    // A row whose runs are those of the band just above joins that band.
    RECT* rects = block.rects();
    bool same = haveBand && rowStart - bandStart == rowEnd - rowStart;
    for (DWORD i = 0; same && i < rowEnd - rowStart; ++i)
      same = rects[bandStart + i].left == rects[rowStart + i].left &&
             rects[bandStart + i].right == rects[rowStart + i].right;
    if (same) {
      for (DWORD i = bandStart; i < rowStart; ++i) rects[i].bottom = y + 1;
      block.set_count(rowStart);
    } else {
      bandStart = rowStart;
      haveBand = true;
    }
  }
  return true;
}

}  // namespace

HRGN CSundry::BitmapToRegion(HBITMAP bitmap, unsigned long transparent, unsigned long tolerance) {
  if (bitmap == nullptr) return nullptr;
  BITMAP source;
  if (GetObjectA(bitmap, sizeof source, &source) != static_cast<int>(sizeof source) || source.bmWidth <= 0 ||
      source.bmHeight == 0)
    return nullptr;
  const LONG width = source.bmWidth;
  const LONG height = source.bmHeight < 0 ? -source.bmHeight : source.bmHeight;

  HDC memDC = CreateCompatibleDC(nullptr);
  if (memDC == nullptr) return nullptr;

  // A copy of the bitmap as 32-bit pixels, bottom row first.
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ memOld = dib != nullptr ? SelectObject(memDC, dib) : nullptr;
  HDC srcDC = memOld != nullptr ? CreateCompatibleDC(memDC) : nullptr;
  // Selecting fails when the bitmap is selected into another context: its
  // pixels cannot be read then.
  HGDIOBJ srcOld = srcDC != nullptr ? SelectObject(srcDC, bitmap) : nullptr;
  BITMAP copy;
  HRGN region = nullptr;
  if (srcOld != nullptr && bits != nullptr && BitBlt(memDC, 0, 0, width, height, srcDC, 0, 0, SRCCOPY) &&
      GdiFlush() && GetObjectA(dib, sizeof copy, &copy) == static_cast<int>(sizeof copy)) {
    const long pitch = (static_cast<long>(copy.bmWidthBytes) + 3) & ~3L;
    const ByteRange range[3] = {RangeOfByte(transparent, tolerance, 0), RangeOfByte(transparent, tolerance, 1),
                                RangeOfByte(transparent, tolerance, 2)};
    // Rows are stored bottom row first: the top row is the last one.
    const BYTE* topRow = static_cast<const BYTE*>(bits) + (height - 1) * pitch;
    RectBlock block;
    RECT bound{0x7FFFFFFF, 0x7FFFFFFF, 0, 0};
    if (block.Init(height < 100 ? 100 : static_cast<DWORD>(height)) &&
        ScanRuns(topRow, -pitch, width, height, range, block, bound)) {
      if (block.count() == 0) bound = RECT{0, 0, 0, 0};
      region = block.MakeRegion(bound);
    }
  }
  if (srcOld != nullptr) SelectObject(srcDC, srcOld);
  if (srcDC != nullptr) DeleteDC(srcDC);
  if (memOld != nullptr) SelectObject(memDC, memOld);
  if (dib != nullptr) DeleteObject(dib);
  DeleteDC(memDC);
  return region;
}

HWND CSundry::CreateTooltip(HWND parent, char* text, HWND tool) {
  // The tooltip class is registered by the common controls library.
  INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  InitCommonControlsEx(&classes);
  HWND tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, nullptr,
                                 nullptr);
  if (tooltip == nullptr) return nullptr;
  SetWindowPos(tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  // The tool's rectangle is in the client coordinates of the window whose
  // mouse messages the tooltip watches: the parent.
  RECT area{0, 0, 0, 0};
  if (tool != nullptr) {
    if (GetWindowRect(tool, &area)) MapWindowPoints(nullptr, parent, reinterpret_cast<LPPOINT>(&area), 2);
  } else {
    GetClientRect(parent, &area);
  }
  TOOLINFOA info;
  std::memset(&info, 0, sizeof info);
  // Without its last field the record is one every version of the common
  // controls accepts.
  info.cbSize = TTTOOLINFOA_V2_SIZE;
  info.uFlags = TTF_SUBCLASS;
  info.hwnd = parent;
  info.uId = reinterpret_cast<UINT_PTR>(parent);
  info.rect = area;
  info.lpszText = text;
  DWORD_PTR added = 0;
  if (SendMessageTimeoutA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info), SMTO_ABORTIFHUNG, 2500,
                          &added) == 0 ||
      added == 0) {
    DestroyWindow(tooltip);
    return nullptr;
  }
  return tooltip;
}

void CSundry::CreateTooltipBalloon(HWND window, const char* title, const char* text, unsigned long timeout,
                                   unsigned long infoFlags, unsigned int iconId) {
  NOTIFYICONDATAA icon;
  std::memset(&icon, 0, sizeof icon);
  // The record up to the balloon's fields.
  icon.cbSize = NOTIFYICONDATAA_V2_SIZE;
  icon.hWnd = window;
  icon.uID = iconId;
  icon.uFlags = NIF_INFO;
  if (text != nullptr) lstrcpynA(icon.szInfo, text, sizeof icon.szInfo);
  if (title != nullptr) lstrcpynA(icon.szInfoTitle, title, sizeof icon.szInfoTitle);
  icon.uTimeout = static_cast<UINT>(timeout);
  icon.dwInfoFlags = static_cast<DWORD>(infoFlags);
  // Only an icon the caller added gets the balloon; adding one here would
  // leave a new icon behind on every call.
  Shell_NotifyIconA(NIM_MODIFY, &icon);
}

void CSundry::CreateTooltipBalloon(HWND window, unsigned int titleId, unsigned int textId, unsigned long timeout,
                                   unsigned long infoFlags, unsigned int iconId) {
  NOTIFYICONDATAA sizes;  // the balloon's buffers, so nothing loaded is cut twice
  char title[sizeof sizes.szInfoTitle];
  char text[sizeof sizes.szInfo];
  // A null module is the calling program's own.
  const bool haveTitle = titleId != 0 && LoadStringA(nullptr, titleId, title, sizeof title) > 0;
  const bool haveText = textId != 0 && LoadStringA(nullptr, textId, text, sizeof text) > 0;
  CreateTooltipBalloon(window, haveTitle ? title : nullptr, haveText ? text : nullptr, timeout, infoFlags, iconId);
}

int CSundry::GetDisplayDepth() {
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (display == nullptr) return 0;
  const int bits = GetDeviceCaps(display, BITSPIXEL);
  DeleteDC(display);
  return bits;
}

double CSundry::GetDPIScaleFactor(int scaleMode) {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 1.0;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi <= 0 || dpi == 96) return 1.0;
  return scaleMode >= 1 ? dpi / 96.0 : 96.0 / dpi;
}
