#include <sundry/platform/codepage.h>
#include <sundry/sysinfo/RtfText.h>

#include <cstdio>
#include <cstdlib>

namespace sundry::sysinfo {

namespace {

// The UTF-8 sequence at text[i], its code point in *cp and length in *len;
// false when it is not a valid, shortest-form sequence.
bool utf8At(std::string_view text, size_t i, char32_t* cp, size_t* len) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  size_t n = c >= 0xC2 && c <= 0xDF ? 2 : (c & 0xF0) == 0xE0 ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return false;
  char32_t v = n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char cc = static_cast<unsigned char>(text[i + k]);
    if ((cc & 0xC0) != 0x80) return false;
    v = v << 6 | (cc & 0x3F);
  }
  if ((n == 3 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) || (n == 4 && (v < 0x10000 || v > 0x10FFFF)))
    return false;
  *cp = v;
  *len = n;
  return true;
}

void unit(std::string& out, unsigned u) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u%d?", static_cast<int>(static_cast<int16_t>(u)));
  out += buf;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string RtfEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c == '\t' || c == '\n' || (c >= 0x20 && c < 0x7F)) {
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x80) {
      out += '?';
      ++i;
    } else {
      char32_t cp;
      size_t len;
      if (!utf8At(text, i, &cp, &len)) {
        cp = sundry::platform::AnsiToUnicode(c);
        len = 1;
      }
      if (cp >= 0x10000) {
        unit(out, 0xD800 + ((cp - 0x10000) >> 10));
        unit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        unit(out, static_cast<unsigned>(cp));
      }
      i += len;
    }
  }
  return out;
}

std::string RtfDocument(std::string_view body) {
  std::string doc = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fmodern Courier New;}}\\f0\\fs20 ";
  doc.append(body);
  doc += "}";
  return doc;
}

std::string RtfBodyToText(std::string_view body) {
  std::string out;
  char32_t high = 0;
  for (size_t i = 0; i < body.size();) {
    const char c = body[i];
    if (c == '\n' || c == '\r' || c == '{' || c == '}') {
      ++i;
      continue;
    }
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= body.size()) break;
    const char next = body[i + 1];
    if (next == '\\' || next == '{' || next == '}') {
      out += next;
      i += 2;
      continue;
    }
    size_t j = i + 1;
    while (j < body.size() && ((body[j] >= 'a' && body[j] <= 'z') || (body[j] >= 'A' && body[j] <= 'Z'))) ++j;
    const std::string word(body.substr(i + 1, j - i - 1));
    size_t k = j;
    if (k < body.size() && (body[k] == '-' || (body[k] >= '0' && body[k] <= '9'))) {
      ++k;
      while (k < body.size() && body[k] >= '0' && body[k] <= '9') ++k;
    }
    const long number = k > j ? std::strtol(std::string(body.substr(j, k - j)).c_str(), nullptr, 10) : 0;
    if (k < body.size() && body[k] == ' ') ++k;  // the delimiting blank belongs to the word
    if (word == "par" || word == "line") out += '\n';
    else if (word == "tab") out += '\t';
    else if (word == "u") {
      const char32_t u = static_cast<char32_t>(static_cast<uint16_t>(static_cast<int16_t>(number)));
      if (k < body.size() && body[k] == '?') ++k;
      if (u >= 0xD800 && u <= 0xDBFF) {
        high = u;
      } else if (u >= 0xDC00 && u <= 0xDFFF && high) {
        appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
        high = 0;
      } else {
        appendUtf8(out, u);
      }
    } else if (word.empty() && j == i + 1) {
      ++k;  // a control symbol other than the escaped three: dropped
    }
    i = k;
  }
  return out;
}

}  // namespace sundry::sysinfo
