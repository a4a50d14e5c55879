// CDib: bitmap resources as DIB sections with their palette.

#include "controls/Dib.h"

#include <cstring>
#include <vector>

CDib::CDib() { std::memset(&m_bitmapInfo, 0, sizeof m_bitmapInfo); }

CDib::~CDib() {
  if (m_hDrawDib != nullptr) ::DrawDibClose(m_hDrawDib);
}

BOOL CDib::Load(HINSTANCE instance, UINT resourceId) {
  if (m_hObject != nullptr) return FALSE;
  HANDLE image = ::LoadImageA(instance, MAKEINTRESOURCEA(resourceId), IMAGE_BITMAP, 0, 0,
                              LR_CREATEDIBSECTION | LR_DEFAULTSIZE);
  if (image == nullptr) return FALSE;
  if (!Attach(image)) {
    ::DeleteObject(image);
    return FALSE;
  }
  if (GetBitmap(&m_bitmapInfo) != static_cast<int>(sizeof(BITMAP))) {
    DeleteObject();
    return FALSE;
  }
  RebuildPalette();
  return TRUE;
}

BOOL CDib::RebuildPalette() {
  m_palette.DeleteObject();
  RGBQUAD table[256];
  UINT colours = 0;
  HDC screen = ::GetDC(nullptr);
  HDC memory = screen ? ::CreateCompatibleDC(screen) : nullptr;
  if (memory != nullptr) {
    HGDIOBJ old = ::SelectObject(memory, m_hObject);
    if (old != nullptr && old != HGDI_ERROR) {
      colours = ::GetDIBColorTable(memory, 0, 256, table);
      ::SelectObject(memory, old);
    }
    ::DeleteDC(memory);
  }
  BOOL made = FALSE;
  if (colours == 0) {
    made = screen != nullptr && m_palette.CreateHalftonePalette(screen);
  } else {
    try {
      std::vector<BYTE> storage(sizeof(LOGPALETTE) + colours * sizeof(PALETTEENTRY));
      auto* palette = reinterpret_cast<LOGPALETTE*>(storage.data());
      palette->palVersion = 0x300;
      palette->palNumEntries = static_cast<WORD>(colours);
      for (UINT i = 0; i < colours; ++i) {
        palette->palPalEntry[i].peRed = table[i].rgbRed;
        palette->palPalEntry[i].peGreen = table[i].rgbGreen;
        palette->palPalEntry[i].peBlue = table[i].rgbBlue;
        palette->palPalEntry[i].peFlags = 0;
      }
      made = m_palette.CreatePalette(palette);
    } catch (...) {
      made = FALSE;
    }
  }
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return made;
}
