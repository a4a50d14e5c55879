// Windows-1252 case mapping and conversion, and Unicode decoding.

#include <sundry/platform/codepage.h>

#include <array>

namespace {

struct CaseTables {
  std::array<unsigned char, 256> upper;
  std::array<unsigned char, 256> lower;
  constexpr CaseTables() : upper(), lower() {
    for (int i = 0; i < 256; ++i) upper[i] = lower[i] = static_cast<unsigned char>(i);
    auto pair = [this](int u, int l) {
      upper[l] = static_cast<unsigned char>(u);
      lower[u] = static_cast<unsigned char>(l);
    };
    for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
    // Latin-1 letters: 0xC0-0xDE and 0xE0-0xFE, except the signs at 0xD7/0xF7.
    for (int c = 0xC0; c <= 0xDE; ++c)
      if (c != 0xD7) pair(c, c + 32);
    pair(0x8A, 0x9A);  // S caron
    pair(0x8C, 0x9C);  // OE ligature
    pair(0x8E, 0x9E);  // Z caron
    pair(0x9F, 0xFF);  // Y diaeresis
  }
};

constexpr CaseTables kTables;

}  // namespace

namespace sundry::platform {

unsigned char AnsiToUpper(unsigned char c) { return kTables.upper[c]; }
unsigned char AnsiToLower(unsigned char c) { return kTables.lower[c]; }

int AnsiCompareNoCase(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    int d = static_cast<int>(kTables.upper[*x]) - static_cast<int>(kTables.upper[*y]);
    if (d != 0 || *x == 0) return d;
  }
}

int AnsiCompareNoCase(const char* a, size_t na, const char* b, size_t nb) {
  size_t n = na < nb ? na : nb;
  for (size_t i = 0; i < n; ++i) {
    int d = static_cast<int>(kTables.upper[static_cast<unsigned char>(a[i])]) -
            static_cast<int>(kTables.upper[static_cast<unsigned char>(b[i])]);
    if (d != 0) return d;
  }
  return na < nb ? -1 : (na > nb ? 1 : 0);
}

namespace {

constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

}  // namespace

char32_t AnsiToUnicode(unsigned char c) { return c >= 0x80 && c <= 0x9F ? kHigh1252[c - 0x80] : c; }

bool UnicodeToAnsi(char32_t cp, char* out) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    *out = static_cast<char>(cp);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kHigh1252[i] == cp) {
      *out = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

std::u16string WideFromAnsi(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char ch : text) wide.push_back(static_cast<char16_t>(AnsiToUnicode(static_cast<unsigned char>(ch))));
  return wide;
}

std::string AnsiFromWide(std::u16string_view text) {
  std::string ansi;
  ansi.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    char out = '?';
    if (!UnicodeToAnsi(c, &out)) out = '?';
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
    ansi.push_back(out);
  }
  return ansi;
}

char32_t DecodeUtf16LE(std::string_view bytes, size_t* pos) {
  auto unit = [&](size_t at) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  size_t& at = *pos;
  if (at + 1 >= bytes.size()) {  // a dangling odd byte
    at = bytes.size();
    return kInvalidCodePoint;
  }
  char32_t u = unit(at);
  at += 2;
  if (u >= 0xD800 && u <= 0xDBFF) {
    if (at + 1 < bytes.size()) {
      char32_t low = unit(at);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        at += 2;
        return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      }
    }
    return kInvalidCodePoint;
  }
  if (u >= 0xDC00 && u <= 0xDFFF) return kInvalidCodePoint;
  return u;
}

char32_t DecodeUtf8(std::string_view bytes, size_t* pos) {
  size_t& at = *pos;
  unsigned char c = static_cast<unsigned char>(bytes[at++]);
  if (c < 0x80) return c;
  int extra;
  char32_t cp;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    return kInvalidCodePoint;
  }
  for (int i = 0; i < extra; ++i) {
    if (at >= bytes.size() || (static_cast<unsigned char>(bytes[at]) & 0xC0) != 0x80) return kInvalidCodePoint;
    cp = (cp << 6) | (static_cast<unsigned char>(bytes[at++]) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalidCodePoint;
  return cp;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size())
    if (DecodeUtf8(bytes, &pos) == kInvalidCodePoint) return false;
  return true;
}

}  // namespace sundry::platform

// On Windows these are the C run-time's own.
#if !defined(_WIN32)
extern "C" unsigned char* _mbsupr(unsigned char* str) {
  if (str == nullptr) return nullptr;
  for (unsigned char* p = str; *p; ++p) *p = kTables.upper[*p];
  return str;
}

extern "C" int _mbscmp(const unsigned char* a, const unsigned char* b) {
  for (;; ++a, ++b) {
    int d = static_cast<int>(*a) - static_cast<int>(*b);
    if (d != 0 || *a == 0) return d;
  }
}

extern "C" int _mbsicmp(const unsigned char* a, const unsigned char* b) {
  return sundry::platform::AnsiCompareNoCase(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b));
}

extern "C" int _mbsnbicmp(const unsigned char* a, const unsigned char* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    int d = static_cast<int>(kTables.upper[a[i]]) - static_cast<int>(kTables.upper[b[i]]);
    if (d != 0 || a[i] == 0) return d;
  }
  return 0;
}
#endif  // !_WIN32
