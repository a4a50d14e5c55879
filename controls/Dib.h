#pragma once
// CDib: a bitmap resource loaded as a device-independent section, with a
// palette of its colour table (or the screen's halftone palette when it has
// none). Internal to the library.

#include <sundry/platform/CGdiObject.h>

#include <vfw.h>

class CDib : public CBitmap {
 public:
  CDib();
  ~CDib() override;

  static const char* GetRuntimeClassName() { return "CDib"; }

  // FALSE when the image does not load, cannot be attached (the object
  // holds a bitmap already) or its BITMAP record cannot be read; nothing is
  // kept then.
  BOOL Load(HINSTANCE instance, UINT resourceId);

  const BITMAP& GetBitmapInfo() const { return m_bitmapInfo; }
  CPalette& GetPalette() { return m_palette; }

 private:
  BOOL RebuildPalette();

  BITMAP m_bitmapInfo;
  CPalette m_palette;
  HDRAWDIB m_hDrawDib = nullptr;
};
