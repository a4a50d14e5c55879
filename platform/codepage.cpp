// Windows-1252 case mapping.

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

}  // namespace sundry::platform

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
