#pragma once
// CRTFHelper: fills a rich edit control with rich text (RTF) from a string or
// a string resource, after expanding the colour macros (%red%, %green%,
// %blue%) and the font-size macros (%fs0% .. %fs6%) in it; it can replace a
// word of the loaded text later. The macro language and the header rule are
// described in sundry/controls/RtfCore.h: every text reaches the control
// beginning with "{\rtf", so the control takes it whether or not the caller
// wrote a header.
//
// Font sizes are given for a 96-dpi screen and may be scaled to the screen's
// resolution (CSundry::GetDPIScaleFactor).
//
// The text is handed to the control through a stream record of its own
// (EDITSTREAM, the cookie a pointer-sized value) and a callback that keeps
// an offset into the text. Windows only.

#include <sundry/controls/RtfCore.h>
#include <sundry/platform/AfxCtrl.h>
#include <sundry/platform/CString.h>

class SUNDRY_EXPORT CRTFHelper {
 public:
  CRTFHelper() = default;

  // Expands the macros in `text` (null: the empty text) and streams the
  // result into the control (SF_RTF), replacing its whole content; then,
  // unless `background` is 0xFFFFFFFF, sets the background colour: a
  // COLORREF when backgroundIsColour is non-zero, else a system colour index
  // (GetSysColor). TRUE when the control took the stream without an error
  // (the stream record's error field is 0); FALSE when it reported one or
  // memory ran out (the background is then left alone).
  BOOL loadRTFControl(const char* text, CRichEditCtrl& control, unsigned long background, int backgroundIsColour);
  // The same with string resource `stringId` of the resource instance (or,
  // when that is null, of AfxGetResourceHandle()), loaded whatever its
  // length; an id of 0 gives the empty text. FALSE also when the string
  // does not load.
  BOOL loadRTFControl(unsigned int stringId, CRichEditCtrl& control, unsigned long background,
                      int backgroundIsColour);

  // Replaces the first whole-word, case-sensitive occurrence of `word` in
  // the control's text, searching downwards from the start, by `replacement`
  // (null: the empty string); not undoable. FALSE when the word does not
  // occur (nothing changes).
  BOOL updateRTFControl(const char* word, CRichEditCtrl& control, const char* replacement);
  // The same, the replacement being string resource `stringId` (0: the empty
  // string); FALSE also when it does not load.
  BOOL updateRTFControl(const char* word, CRichEditCtrl& control, unsigned int stringId);

  // Fills the seven font-size slots (a size of -1 in slots 1-6 takes size0)
  // and the macro switch (only 1 turns the font macros on). scaleMode 0
  // keeps the sizes; other modes scale them by
  // CSundry::GetDPIScaleFactor(scaleMode). Sizes of 0 or less, or ones that
  // scale below 1 or above 32767 half-points, are refused: FALSE, and the
  // slots and the switch keep their values.
  BOOL set96dpiFontSizes(int size0, int size1, int size2, int size3, int size4, int size5, int size6,
                         int macroSwitch, int scaleMode);
  // Splits a 0x00BBGGRR colour into the %red%, %green% and %blue% values.
  void setTextColor(unsigned long colour);
  void setResource(HINSTANCE instance) { m_hResource = instance; }
  HINSTANCE getResource() const { return m_hResource; }
  const sundry::controls::RtfMacros& macros() const { return m_macros; }

  // The stream-in callback: `cookie` is a sundry::controls::RtfStreamCursor.
  static DWORD CALLBACK rchTextInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done);

  // String resource `stringId` of `instance` (null: AfxGetResourceHandle())
  // at its full length into *text; FALSE when it does not load.
  static BOOL loadFullString(HINSTANCE instance, unsigned int stringId, CString* text);

 private:
  HINSTANCE m_hResource = nullptr;
  sundry::controls::RtfMacros m_macros;
};
