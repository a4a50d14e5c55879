#pragma once
// The controls' common answer to a tooltip that asks for its text.

#include <sundry/platform/AfxCtrl.h>
#include <sundry/platform/CString.h>

namespace sundry::controls {

// Answers a WM_NOTIFY of code TTN_NEEDTEXTA with `text`: the asking tooltip
// wraps at 300 pixels, so long tips take several lines. True when lParam
// was such a request (the window procedure then returns 0); false for any
// other notification.
inline bool AnswerTooltipRequest(LPARAM lParam, const CString& text) {
  if (lParam == 0) return false;
  auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
  if (info->hdr.code != TTN_NEEDTEXTA) return false;
  ::SendMessageA(info->hdr.hwndFrom, TTM_SETMAXTIPWIDTH, 0, 300);
  info->lpszText = const_cast<char*>(text.GetString());
  return true;
}

}  // namespace sundry::controls
