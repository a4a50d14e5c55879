// The list control's tooltip text.

#include <sundry/controls/core/ListTipText.h>

#include <cstring>

namespace sundry::controls {

int CopyTipColumnOrder(const int* columns, const int* modes, int order[kTipColumnCount],
                       int separators[kTipColumnCount]) {
  if (columns == nullptr) return 0;
  int count = 0;
  while (count < kTipColumnCount && columns[count] != -1) ++count;
  for (int i = 0; i < count; ++i) {
    order[i] = columns[i];
    separators[i] = modes != nullptr ? modes[i] : 0;
  }
  return count;
}

bool AssembleTipText(const int order[kTipColumnCount], const int separators[kTipColumnCount],
                     const std::function<std::string(int column)>& columnText, char out[kTipTextSize]) {
  if (order[0] == -1) return false;
  std::size_t used = 0;
  auto append = [&](const char* text, std::size_t length) {
    std::size_t room = kTipTextSize - 1 - used;
    if (length > room) length = room;
    std::memcpy(out + used, text, length);
    used += length;
  };
  for (int k = 0; k < kTipColumnCount && order[k] != -1; ++k) {
    std::string text = columnText ? columnText(order[k]) : std::string();
    append(text.data(), text.size());
    bool last = k + 1 == kTipColumnCount || order[k + 1] == -1;
    if (separators[k] == kTipLineBreak)
      append("\r\n", 2);
    else if (!last)
      append(" ", 1);
  }
  std::memset(out + used, 0, kTipTextSize - used);
  return true;
}

}  // namespace sundry::controls
