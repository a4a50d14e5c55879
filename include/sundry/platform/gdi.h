#pragma once
// GDI bitmaps, device contexts and regions, the display's metrics, movable
// memory blocks, and the few window, tooltip and notification-area calls of
// the display helpers (CSundry).
//
// On Windows these are the system's own (gdi32, user32, comctl32, shell32,
// kernel32). On Linux the library stands in for them:
//
// - A bitmap is a device-independent bitmap held in memory: 32 bits per
//   pixel (bytes blue, green, red, unused) or 24 bits (blue, green, red),
//   rows padded to 4 bytes, stored bottom row first for a positive height
//   and top row first for a negative one, as Windows lays out a DIB section.
// - A memory device context (CreateCompatibleDC) holds one selected bitmap
//   at a time; a bitmap can be selected into one context only, as on
//   Windows. BitBlt copies between two such contexts with SRCCOPY, changing
//   the pixel format where the two bitmaps differ.
// - A region is a list of rectangles sorted top to bottom, then left to
//   right, in bands: every rectangle of a band has the band's top and
//   bottom, the rectangles of a band neither touch nor overlap, and bands do
//   not overlap. ExtCreateRegion accepts rectangles in any order and brings
//   them into that form.
// - The screen context (GetDC(NULL), CreateDCA("DISPLAY", ...)) answers
//   GetDeviceCaps for the X display named by $DISPLAY when one can be opened
//   (libX11 is loaded at run time, so the library does not need it): the
//   depth of its default screen for BITSPIXEL, and for LOGPIXELSX/LOGPIXELSY
//   the desktop's logical resolution, the "Xft.dpi" resource, rounded, or 96
//   when that is not set. Without a display the answers are 24 bits and 96
//   dots per inch. The environment variable SUNDRY_LOGPIXELS, when it holds
//   a whole number from 1 to 10000, is the resolution instead, display or
//   not: the way to try a high-resolution screen without one.
// - Windows, tooltips, notification-area icons and string resources do not
//   exist: CreateWindowExA, DestroyWindow, SetWindowPos, GetWindowRect,
//   GetClientRect, MapWindowPoints, SendMessageTimeoutA, Shell_NotifyIconA,
//   InitCommonControlsEx and LoadStringA fail with
//   ERROR_CALL_NOT_IMPLEMENTED (their results: null, FALSE or 0 as
//   documented below).
//
// GDI handles are valid in every thread of the process; the object table is
// thread-safe, but one object serves one thread at a time, as on Windows.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#if defined(_WIN32)
#include <commctrl.h>
#include <shellapi.h>
#else

#include <cstddef>

struct HDC__;
typedef HDC__* HDC;
typedef void* HGDIOBJ;
struct HBITMAP__;
typedef HBITMAP__* HBITMAP;
struct HRGN__;
typedef HRGN__* HRGN;
struct HICON__;
typedef HICON__* HICON;
struct HMENU__;
typedef HMENU__* HMENU;
typedef void* HINSTANCE;
typedef HANDLE HGLOBAL;
typedef uintptr_t UINT_PTR;
typedef intptr_t LRESULT;
typedef DWORD COLORREF;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;

typedef POINT* LPPOINT;

// What GetObjectA tells of a bitmap.
struct BITMAP {
  LONG bmType;        // 0
  LONG bmWidth;       // pixels
  LONG bmHeight;      // pixels, always positive
  LONG bmWidthBytes;  // bytes of one row, a multiple of 4
  WORD bmPlanes;      // 1
  WORD bmBitsPixel;   // 24 or 32
  LPVOID bmBits;      // the pixels
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER has Windows' layout");

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct RGNDATAHEADER {
  DWORD dwSize;    // sizeof(RGNDATAHEADER), 32
  DWORD iType;     // RDH_RECTANGLES
  DWORD nCount;    // rectangles in Buffer
  DWORD nRgnSize;  // bytes of Buffer, or 0
  RECT rcBound;
};
static_assert(sizeof(RGNDATAHEADER) == 32, "RGNDATAHEADER has Windows' layout");

struct RGNDATA {
  RGNDATAHEADER rdh;
  char Buffer[1];  // nCount RECTs
};
typedef RGNDATA* LPRGNDATA;

struct XFORM {
  float eM11, eM12, eM21, eM22, eDx, eDy;
};

struct DEVMODEA;  // display settings, sysinfo.h

#define BI_RGB 0u
#define DIB_RGB_COLORS 0u
#define SRCCOPY 0x00CC0020u
#define RDH_RECTANGLES 1u

// CombineRgn modes and the region kinds GetRgnBox reports.
#define RGN_AND 1
#define RGN_OR 2
#define RGN_XOR 3
#define RGN_DIFF 4
#define RGN_COPY 5
#define ERROR 0
#define NULLREGION 1
#define SIMPLEREGION 2
#define COMPLEXREGION 3

// GetDeviceCaps indexes.
#define BITSPIXEL 12
#define PLANES 14
#define LOGPIXELSX 88
#define LOGPIXELSY 90

// GlobalAlloc flags.
#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)

// Windows and tooltips.
#define WS_POPUP 0x80000000u
#define WS_EX_TOPMOST 0x00000008u
#define CW_USEDEFAULT ((int)0x80000000)
#define HWND_TOPMOST ((HWND)(LONG_PTR)-1)
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOACTIVATE 0x0010u
#define SMTO_ABORTIFHUNG 0x0002u
#define WM_USER 0x0400u
#define TOOLTIPS_CLASSA "tooltips_class32"
#define TTS_ALWAYSTIP 0x01u
#define TTS_NOPREFIX 0x02u
#define TTF_IDISHWND 0x0001u
#define TTF_SUBCLASS 0x0010u
#define TTM_ADDTOOLA (WM_USER + 4)
#define TTM_DELTOOLA (WM_USER + 5)
#define TTM_GETTOOLINFOA (WM_USER + 8)
#define TTM_GETTOOLCOUNT (WM_USER + 13)
#define TTM_ENUMTOOLSA (WM_USER + 14)
#define ICC_BAR_CLASSES 0x00000004u
#define ICC_WIN95_CLASSES 0x000000FFu

// A tool of a tooltip control.
struct TTTOOLINFOA {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  LPSTR lpszText;
  LPARAM lParam;
  void* lpReserved;
};
typedef TTTOOLINFOA TOOLINFOA;
typedef TTTOOLINFOA* LPTOOLINFOA;
// The record without its last field, the size every version of the common
// controls accepts.
#define TTTOOLINFOA_V2_SIZE (offsetof(TTTOOLINFOA, lParam) + sizeof(LPARAM))

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};

// A notification-area icon and its balloon.
#define NIM_ADD 0x00000000u
#define NIM_MODIFY 0x00000001u
#define NIM_DELETE 0x00000002u
#define NIF_MESSAGE 0x00000001u
#define NIF_ICON 0x00000002u
#define NIF_TIP 0x00000004u
#define NIF_INFO 0x00000010u
#define NIIF_NONE 0x00000000u
#define NIIF_INFO 0x00000001u
#define NIIF_WARNING 0x00000002u
#define NIIF_ERROR 0x00000003u

struct NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  CHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  CHAR szInfoTitle[64];
  DWORD dwInfoFlags;
  GUID guidItem;
  HICON hBalloonIcon;
};
typedef NOTIFYICONDATAA* PNOTIFYICONDATAA;
// The record up to the balloon's fields, the form that carries a balloon.
#define NOTIFYICONDATAA_V2_SIZE offsetof(NOTIFYICONDATAA, guidItem)

extern "C" {

// --- Device contexts --------------------------------------------------------

// A memory context with no bitmap of its own (a 1x1 placeholder is selected,
// as on Windows). hdc may be null (the screen), the screen context or
// another memory context. Null with ERROR_INVALID_HANDLE for any other hdc,
// ERROR_NOT_ENOUGH_MEMORY when it cannot be made.
SUNDRY_EXPORT HDC CreateCompatibleDC(HDC hdc);

// The screen context for the driver "DISPLAY" (any case); device, port and
// mode must be null. Null with ERROR_INVALID_PARAMETER for any other driver.
// Deleted with DeleteDC.
SUNDRY_EXPORT HDC CreateDCA(LPCSTR pszDriver, LPCSTR pszDevice, LPCSTR pszPort, const DEVMODEA* pdm);

// Deletes a context made by CreateCompatibleDC or CreateDCA. The bitmap
// selected into it is released from it (not deleted). FALSE with
// ERROR_INVALID_HANDLE for any other handle.
SUNDRY_EXPORT BOOL DeleteDC(HDC hdc);

// The screen context for hWnd null; released with ReleaseDC. Windows do not
// exist: null with ERROR_CALL_NOT_IMPLEMENTED for any other hWnd.
SUNDRY_EXPORT HDC GetDC(HWND hWnd);

// Releases a context of GetDC: 1, or 0 for any other handle.
SUNDRY_EXPORT int ReleaseDC(HWND hWnd, HDC hDC);

// BITSPIXEL, PLANES, LOGPIXELSX and LOGPIXELSY of a context (see the top of
// this file for the screen's values; a memory context answers with its
// bitmap's depth for BITSPIXEL and 96 for the resolution). 0 for any
// other index; 0 with ERROR_INVALID_HANDLE for a handle that is not a
// context.
SUNDRY_EXPORT int GetDeviceCaps(HDC hdc, int index);

// --- Bitmaps ----------------------------------------------------------------

// A DIB section of the header's size and depth: biSize at least 40, 24 or 32
// bits, BI_RGB, one plane, a width above 0 and a height other than 0 (see
// the top for the row order), the pixels zeroed. *ppvBits (when ppvBits is
// given) receives the pixels, which stay valid until the bitmap is deleted.
// hdc and offset are ignored; hSection must be null. usage must be
// DIB_RGB_COLORS. Null with ERROR_INVALID_PARAMETER for anything else,
// ERROR_NOT_ENOUGH_MEMORY when the pixels (at most 2^31 bytes) cannot be had;
// *ppvBits is then null.
SUNDRY_EXPORT HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                       HANDLE hSection, DWORD offset);

// A bitmap of 24 or 32 bits per pixel and one plane, top row first, filled
// from lpBits (rows padded to 2 bytes, as Windows reads them) or zeroed
// when lpBits is null. Null with ERROR_INVALID_PARAMETER for other depths
// or sizes, ERROR_NOT_ENOUGH_MEMORY as CreateDIBSection.
SUNDRY_EXPORT HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits);

// Selects a bitmap into a memory context and returns the bitmap it held.
// Null, with the context unchanged, when hdc is not a memory context or h
// not a bitmap (ERROR_INVALID_HANDLE) or when the bitmap is selected into
// another context already (ERROR_INVALID_PARAMETER). Regions and other
// objects are not supported (ERROR_INVALID_HANDLE).
SUNDRY_EXPORT HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);

// Copies a bitmap's description (BITMAP) into pv and returns the bytes
// written; with pv null returns sizeof(BITMAP). 0 with ERROR_INVALID_HANDLE
// for a handle that is not a bitmap, with ERROR_INVALID_PARAMETER when c is
// smaller than sizeof(BITMAP).
SUNDRY_EXPORT int GetObjectA(HANDLE h, int c, LPVOID pv);

// Deletes a bitmap or a region. FALSE (nothing deleted) for a bitmap that is
// selected into a context, as on Windows, and with ERROR_INVALID_HANDLE for
// any other handle.
SUNDRY_EXPORT BOOL DeleteObject(HGDIOBJ ho);

// Copies the cx x cy pixels at (x1, y1) of hdcSrc's bitmap to (x, y) of
// hdc's bitmap; only SRCCOPY. Pixels outside either bitmap are left out.
// FALSE with ERROR_INVALID_HANDLE when either is not a memory context,
// ERROR_INVALID_PARAMETER for another rop or a negative size.
SUNDRY_EXPORT BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);

// Ends the batching of drawing calls, so that pixels drawn are in the
// bitmap's memory: TRUE. (Nothing is batched here.)
SUNDRY_EXPORT BOOL GdiFlush(void);

// --- Regions ----------------------------------------------------------------

// A region of the union of the rectangles of lpData (dwSize 32,
// RDH_RECTANGLES, rdh.nCount rectangles within the nCount bytes), in any order;
// empty ones are skipped, and no rectangles make an empty region. lpx must
// be null. Null with ERROR_INVALID_PARAMETER for a bad record,
// ERROR_NOT_ENOUGH_MEMORY when the region cannot be held. Rectangles that
// already form bands as described at the top are taken over in one pass.
SUNDRY_EXPORT HRGN ExtCreateRegion(const XFORM* lpx, DWORD nCount, const RGNDATA* lpData);

// Writes the region's bands as an RGNDATA record of nCount bytes
// (rcBound the bounding box, nRgnSize the bytes of the rectangles) and
// returns nCount. With lpRgnData null returns the size needed; 0 with
// ERROR_INSUFFICIENT_BUFFER when nCount is smaller than that, with
// ERROR_INVALID_HANDLE for a handle that is not a region.
SUNDRY_EXPORT DWORD GetRegionData(HRGN hrgn, DWORD nCount, LPRGNDATA lpRgnData);

// The region's bounding box into *lprc (all 0 when empty) and its kind:
// NULLREGION, SIMPLEREGION (one rectangle) or COMPLEXREGION. ERROR with
// ERROR_INVALID_HANDLE for a handle that is not a region.
SUNDRY_EXPORT int GetRgnBox(HRGN hrgn, LPRECT lprc);

// TRUE when the pixel (x, y) lies in the region (the left and top edges of
// a rectangle belong to it, the right and bottom ones do not).
SUNDRY_EXPORT BOOL PtInRegion(HRGN hrgn, int x, int y);

// --- Movable memory ---------------------------------------------------------

// A block of dwBytes bytes (zeroed with GMEM_ZEROINIT); null with
// ERROR_NOT_ENOUGH_MEMORY. GMEM_FIXED and GMEM_MOVEABLE both give a handle
// that GlobalLock turns into the address.
SUNDRY_EXPORT HGLOBAL GlobalAlloc(UINT uFlags, size_t dwBytes);

// Resizes a block, keeping its contents, and returns its handle (which may
// differ from hMem). Null with ERROR_NOT_ENOUGH_MEMORY, the block then
// unchanged and still owned by the caller; with ERROR_INVALID_HANDLE for
// any other handle. Addresses from GlobalLock are invalid afterwards.
SUNDRY_EXPORT HGLOBAL GlobalReAlloc(HGLOBAL hMem, size_t dwBytes, UINT uFlags);

// The block's address; null with ERROR_INVALID_HANDLE.
SUNDRY_EXPORT LPVOID GlobalLock(HGLOBAL hMem);

// Ends a GlobalLock. FALSE with the last error ERROR_SUCCESS when no lock
// is left, as Windows reports it.
SUNDRY_EXPORT BOOL GlobalUnlock(HGLOBAL hMem);

// Frees a block; null on success, hMem with ERROR_INVALID_HANDLE otherwise.
SUNDRY_EXPORT HGLOBAL GlobalFree(HGLOBAL hMem);

// Copies at most iMaxLength - 1 characters of lpString2 to lpString1 and
// terminates it; returns lpString1 (null when either is null or iMaxLength
// is 0 or less).
SUNDRY_EXPORT LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);

// --- Windows, tooltips, notification area, string resources ---------------
// None exists on this platform: every call below fails with
// ERROR_CALL_NOT_IMPLEMENTED.

// Null.
SUNDRY_EXPORT HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                                   int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                   HINSTANCE hInstance, LPVOID lpParam);
// FALSE.
SUNDRY_EXPORT BOOL DestroyWindow(HWND hWnd);
// FALSE.
SUNDRY_EXPORT BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
// FALSE.
SUNDRY_EXPORT BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
// FALSE.
SUNDRY_EXPORT BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
// 0.
SUNDRY_EXPORT int MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints);
// 0, *lpdwResult (when given) set to 0.
SUNDRY_EXPORT LRESULT SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags,
                                          UINT uTimeout, DWORD_PTR* lpdwResult);
// FALSE.
SUNDRY_EXPORT BOOL Shell_NotifyIconA(DWORD dwMessage, PNOTIFYICONDATAA lpData);
// FALSE.
SUNDRY_EXPORT BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce);
// 0; the buffer (when given with cchBufferMax above 0) holds an empty
// string.
SUNDRY_EXPORT int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
}

#endif  // _WIN32
