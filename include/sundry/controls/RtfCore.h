#pragma once
// The window-free part of the RTF loader: the macro language, the font-size
// slots and the feeding of a text to a rich edit control in pieces.
//
// RtfMacros holds what a load uses: seven font-size slots, the font-macro
// switch and the three colour strings. Expand turns a caller's text into the
// stream a rich edit control is given:
//
//  1. Font macros on (the switch is exactly 1):
//     - a text that contains "%fs" has every "%fs0%" replaced by slot 0, then
//       every "%fs1%" by slot 1, and so on up to "%fs6%" (one pass per slot,
//       in that order; "%fs7%" is no macro);
//     - any other text gets slot 0 right after its header (below).
//  2. The header. Rich edit controls take a stream only when it begins with
//     "{\rtf", so every text is made to begin so:
//     - a text that begins with "{\rtf" plus a non-letter keeps its header;
//       slot 0, when it is inserted, goes after the header's control word
//       "\rtfN" and the blank that may end it;
//     - a text that begins with any other "{" has "\rtf1 " (and slot 0)
//       inserted after that brace, which stays the document's outer brace;
//     - any other text becomes "{\rtf1 " + (slot 0) + text + "}".
//  3. Every "%red%", then every "%green%", then every "%blue%" is replaced by
//     the colour string that SetTextColor set ("0" until then).
//
// The empty text thus streams as "{\rtf1 }", or "{\rtf1 \fs20 }" with the
// macros on and slot 0 at 20.
//
// No function here throws: a failed allocation is reported as false.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace sundry::controls {

class SUNDRY_EXPORT RtfMacros {
 public:
  static constexpr int kFontSlots = 7;
  // The largest font size a slot takes, in half-points (RTF numbers are
  // signed 16-bit).
  static constexpr int kMaxFontSize = 32767;

  RtfMacros() = default;

  // Fills the seven slots with "\fs<n> " where n is the integer part of
  // scale * size + 0.25, size being sizes[i], or sizes[0] where sizes[i] is
  // -1; the macro switch becomes macroSwitch. Refused (false, nothing
  // changed) when a size is 0 or less, when a scaled size comes out below 1
  // or above kMaxFontSize, or when the scale is not a positive number.
  bool SetFontSizes(const int (&sizes)[kFontSlots], int macroSwitch, double scale) noexcept;

  // Splits a 0x00BBGGRR colour into the decimal colour strings: red bits 0-7,
  // green bits 8-15, blue bits 16-23.
  void SetTextColor(DWORD colour) noexcept;

  // The stream for `text` (see the top of this file) in *out; false when
  // memory ran out (*out is then empty).
  bool Expand(std::string_view text, std::string* out) const noexcept;

  const std::string& FontSlot(int i) const noexcept;
  int MacroSwitch() const noexcept { return m_macroSwitch; }
  const std::string& Red() const noexcept { return m_red; }
  const std::string& Green() const noexcept { return m_green; }
  const std::string& Blue() const noexcept { return m_blue; }

 private:
  std::string m_fontSlots[kFontSlots];
  int m_macroSwitch = 0;
  std::string m_red = "0";
  std::string m_green = "0";
  std::string m_blue = "0";
};

// A text handed to a rich edit control piece by piece: the stream record's
// cookie points at one of these. The text is not copied; it must outlive
// the stream.
struct RtfStreamCursor {
  const char* data = nullptr;
  size_t size = 0;
  size_t offset = 0;  // bytes handed over so far
};

// The logic of the stream-in callback: copies the next piece of the text of
// the cursor at `cookie` into `buffer`, at most `size` bytes, stores the
// count in *done and moves the cursor past it. A count of 0 (nothing left,
// a null cookie, a size of 0 or less) ends the stream. Returns 0, or 1 (an
// error the control stores in the stream record) when done is null.
DWORD RtfStreamIn(DWORD_PTR cookie, BYTE* buffer, LONG size, LONG* done) noexcept;

}  // namespace sundry::controls
