#include <sundry/controls/RtfCore.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace sundry::controls {

namespace {

constexpr std::string_view kHeader = "{\\rtf";
constexpr std::string_view kNewHeader = "{\\rtf1 ";

// Replaces every occurrence of `from` by `to`, left to right, each search
// going on after the previous replacement. The text is copied only when
// the macro occurs and its replacement is longer; a replacement no longer
// than the macro (the colours) is made in place.
void replaceAll(std::string* text, std::string_view from, std::string_view to) {
  size_t pos = text->find(from);
  if (pos == std::string::npos) return;
  if (to.size() <= from.size()) {
    char* data = text->data();
    size_t write = pos;
    size_t read = pos;
    while (pos != std::string::npos) {
      std::memmove(data + write, data + read, pos - read);
      write += pos - read;
      std::memcpy(data + write, to.data(), to.size());
      write += to.size();
      read = pos + from.size();
      pos = text->find(from, read);
    }
    std::memmove(data + write, data + read, text->size() - read);
    text->resize(write + text->size() - read);
    return;
  }
  std::string out;
  out.reserve(text->size() + text->size() / from.size() * (to.size() - from.size()));
  size_t done = 0;
  while (pos != std::string::npos) {
    out.append(*text, done, pos - done);
    out.append(to);
    done = pos + from.size();
    pos = text->find(from, done);
  }
  out.append(*text, done, std::string::npos);
  text->swap(out);
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Where the header's control word "\rtfN" (and the blank ending it) ends,
// or 0 when the text has no header of its own.
size_t headerEnd(std::string_view text) {
  if (text.substr(0, kHeader.size()) != kHeader) return 0;
  size_t i = kHeader.size();
  if (i < text.size() && isLetter(text[i])) return 0;  // "{\rtfx..." is another word
  if (i < text.size() && text[i] == '-') ++i;
  while (i < text.size() && isDigit(text[i])) ++i;
  if (i < text.size() && text[i] == ' ') ++i;
  return i;
}

// The text with a header, `fontWords` placed right after it.
void withHeader(std::string_view text, std::string_view fontWords, std::string* out) {
  out->clear();
  if (size_t end = headerEnd(text)) {
    out->reserve(text.size() + fontWords.size());
    out->append(text.substr(0, end)).append(fontWords).append(text.substr(end));
  } else if (!text.empty() && text[0] == '{') {
    out->reserve(text.size() + kNewHeader.size() + fontWords.size());
    out->append(kNewHeader).append(fontWords).append(text.substr(1));
  } else {
    out->reserve(text.size() + kNewHeader.size() + fontWords.size() + 1);
    out->append(kNewHeader).append(fontWords).append(text).push_back('}');
  }
}

}  // namespace

bool RtfMacros::SetFontSizes(const int (&sizes)[kFontSlots], int macroSwitch, double scale) noexcept {
  if (!(scale > 0.0) || !std::isfinite(scale)) return false;
  int scaled[kFontSlots];
  for (int i = 0; i < kFontSlots; ++i) {
    const int size = sizes[i] == -1 && i > 0 ? sizes[0] : sizes[i];
    if (size <= 0) return false;
    const double value = scale * size + 0.25;
    if (value < 1.0 || value >= kMaxFontSize + 1.0) return false;
    scaled[i] = static_cast<int>(value);
  }
  for (int i = 0; i < kFontSlots; ++i) {
    // "\fs32767 " fits the string's own small buffer: no allocation.
    char word[16];
    const int n = std::snprintf(word, sizeof word, "\\fs%d ", scaled[i]);
    m_fontSlots[i].assign(word, static_cast<size_t>(n));
  }
  m_macroSwitch = macroSwitch;
  return true;
}

void RtfMacros::SetTextColor(DWORD colour) noexcept {
  char part[4];
  std::snprintf(part, sizeof part, "%d", static_cast<int>(colour & 0xFF));
  m_red = part;
  std::snprintf(part, sizeof part, "%d", static_cast<int>(colour >> 8 & 0xFF));
  m_green = part;
  std::snprintf(part, sizeof part, "%d", static_cast<int>(colour >> 16 & 0xFF));
  m_blue = part;
}

const std::string& RtfMacros::FontSlot(int i) const noexcept {
  static const std::string none;
  return i >= 0 && i < kFontSlots ? m_fontSlots[i] : none;
}

bool RtfMacros::Expand(std::string_view text, std::string* out) const noexcept {
  try {
    if (m_macroSwitch == 1 && text.find("%fs") != std::string_view::npos) {
      std::string work(text);
      for (int i = 0; i < kFontSlots; ++i) {
        char macro[8] = {'%', 'f', 's', static_cast<char>('0' + i), '%', 0};
        replaceAll(&work, macro, m_fontSlots[i]);
      }
      withHeader(work, {}, out);
    } else {
      withHeader(text, m_macroSwitch == 1 ? std::string_view(m_fontSlots[0]) : std::string_view(), out);
    }
    replaceAll(out, "%red%", m_red);
    replaceAll(out, "%green%", m_green);
    replaceAll(out, "%blue%", m_blue);
    return true;
  } catch (const std::bad_alloc&) {
    out->clear();
    out->shrink_to_fit();
    return false;
  }
}

DWORD RtfStreamIn(DWORD_PTR cookie, BYTE* buffer, LONG size, LONG* done) noexcept {
  if (!done) return 1;
  *done = 0;
  auto* cursor = reinterpret_cast<RtfStreamCursor*>(cookie);
  if (!cursor || size <= 0 || !buffer || cursor->offset >= cursor->size) return 0;
  size_t n = cursor->size - cursor->offset;
  if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
  std::memcpy(buffer, cursor->data + cursor->offset, n);
  cursor->offset += n;
  *done = static_cast<LONG>(n);
  return 0;
}

}  // namespace sundry::controls
