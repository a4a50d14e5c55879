#include <sundry/controls/RTFHelper.h>
#include <sundry/util/Sundry.h>

#include <string>

using sundry::controls::RtfMacros;
using sundry::controls::RtfStreamCursor;

namespace {

// The search flags of EM_FINDTEXTEX (commdlg.h, which is not included
// because it turns FindText into a macro).
constexpr DWORD kFindDown = 0x1;       // FR_DOWN: from the start of the range to its end
constexpr DWORD kFindWholeWord = 0x2;  // FR_WHOLEWORD
constexpr DWORD kFindMatchCase = 0x4;  // FR_MATCHCASE

constexpr unsigned long kKeepBackground = 0xFFFFFFFFul;
// A string resource holds at most 65535 UTF-16 units; in a double-byte
// code page that is at most twice as many bytes.
constexpr int kMaxStringBytes = 2 * 65535 + 1;

}  // namespace

DWORD CALLBACK CRTFHelper::rchTextInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
  return sundry::controls::RtfStreamIn(cookie, buffer, size, done);
}

BOOL CRTFHelper::loadFullString(HINSTANCE instance, unsigned int stringId, CString* text) {
  if (!instance) instance = AfxGetResourceHandle();
  // LoadStringA cuts the string to the buffer and says how much it copied:
  // a copy that fills the buffer may have been cut, so grow and ask again.
  for (int room = 512;; room *= 2) {
    char* buffer = text->GetBufferSetLength(room);
    const int n = ::LoadStringA(instance, stringId, buffer, room);
    if (n <= 0) {
      text->ReleaseBuffer(0);
      return FALSE;
    }
    if (n < room - 1 || room >= kMaxStringBytes) {
      text->ReleaseBuffer(n);
      return TRUE;
    }
  }
}

BOOL CRTFHelper::loadRTFControl(const char* text, CRichEditCtrl& control, unsigned long background,
                                int backgroundIsColour) {
  std::string stream;
  if (!m_macros.Expand(text ? text : "", &stream)) return FALSE;
  RtfStreamCursor cursor{stream.data(), stream.size(), 0};
  EDITSTREAM es{};
  es.dwCookie = reinterpret_cast<DWORD_PTR>(&cursor);
  es.dwError = 0;
  es.pfnCallback = &CRTFHelper::rchTextInCallback;
  control.StreamIn(SF_RTF, es);
  if (es.dwError != 0) return FALSE;
  if (background != kKeepBackground) {
    const COLORREF colour = backgroundIsColour ? static_cast<COLORREF>(background)
                                               : ::GetSysColor(static_cast<int>(background));
    control.SetBackgroundColor(FALSE, colour);
  }
  return TRUE;
}

BOOL CRTFHelper::loadRTFControl(unsigned int stringId, CRichEditCtrl& control, unsigned long background,
                                int backgroundIsColour) {
  CString text;
  if (stringId != 0 && !loadFullString(m_hResource, stringId, &text)) return FALSE;
  return loadRTFControl(text.GetString(), control, background, backgroundIsColour);
}

BOOL CRTFHelper::updateRTFControl(const char* word, CRichEditCtrl& control, const char* replacement) {
  if (!word || !*word) return FALSE;
  FINDTEXTEXA find{};
  find.chrg.cpMin = 0;
  find.chrg.cpMax = -1;
  find.lpstrText = word;
  if (control.FindText(kFindDown | kFindWholeWord | kFindMatchCase, &find) < 0) return FALSE;
  control.SendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&find.chrgText));
  control.ReplaceSel(replacement ? replacement : "", FALSE);
  return TRUE;
}

BOOL CRTFHelper::updateRTFControl(const char* word, CRichEditCtrl& control, unsigned int stringId) {
  CString replacement;
  if (stringId != 0 && !loadFullString(m_hResource, stringId, &replacement)) return FALSE;
  return updateRTFControl(word, control, replacement.GetString());
}

BOOL CRTFHelper::set96dpiFontSizes(int size0, int size1, int size2, int size3, int size4, int size5, int size6,
                                   int macroSwitch, int scaleMode) {
  const int sizes[RtfMacros::kFontSlots] = {size0, size1, size2, size3, size4, size5, size6};
  const double scale = scaleMode == 0 ? 1.0 : CSundry::GetDPIScaleFactor(scaleMode);
  return m_macros.SetFontSizes(sizes, macroSwitch, scale) ? TRUE : FALSE;
}

void CRTFHelper::setTextColor(unsigned long colour) { m_macros.SetTextColor(static_cast<DWORD>(colour)); }
