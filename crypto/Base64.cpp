// Base64 encoder and decoder of the encryption family.
//
// The encoder turns 3 bytes into 4 characters through a table of character
// pairs, two lookups per group, and writes a whole 72-character line at a
// time. The decoder takes groups of 4 alphabet characters at a time while
// the text allows and falls back to one character at a time at line feeds,
// other skipped characters and the padding.

#include "crypto/Base64.h"

#include <array>
#include <cstring>

namespace sundry::crypto::internal {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of each 12-bit value, first character in byte 0.
constexpr std::array<char, 2 * 4096> MakePairs() {
  std::array<char, 2 * 4096> t{};
  for (unsigned v = 0; v < 4096; ++v) {
    t[2 * v] = kAlphabet[v >> 6];
    t[2 * v + 1] = kAlphabet[v & 63];
  }
  return t;
}
constexpr std::array<char, 2 * 4096> kPairs = MakePairs();

// Character classes for decoding: 0 to 63 the value of an alphabet
// character, kPad for "=", kSkip for everything else.
constexpr unsigned char kPad = 0x40;
constexpr unsigned char kSkip = 0x80;
constexpr std::array<unsigned char, 256> MakeValues() {
  std::array<unsigned char, 256> t{};
  for (auto& v : t) v = kSkip;
  for (unsigned i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  t['='] = kPad;
  return t;
}
constexpr std::array<unsigned char, 256> kValues = MakeValues();

inline char* EncodeGroup(const unsigned char* in, char* out) {
  const uint32_t v = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
  std::memcpy(out, &kPairs[2 * (v >> 12)], 2);
  std::memcpy(out + 2, &kPairs[2 * (v & 0xfff)], 2);
  return out + 4;
}

}  // namespace

char* EncodeLines(const unsigned char* in, size_t n, char* out) {
  for (size_t line = 0; line < n / kLineBytes; ++line) {
    for (size_t g = 0; g < kLineBytes / 3; ++g, in += 3) out = EncodeGroup(in, out);
    *out++ = '\n';
  }
  return out;
}

char* EncodeLastLine(const unsigned char* in, size_t n, char* out) {
  if (n == 0) return out;
  size_t i = 0;
  for (; i + 3 <= n; i += 3) out = EncodeGroup(in + i, out);
  if (i < n) {
    const unsigned char rest[3] = {in[i], static_cast<unsigned char>(i + 1 < n ? in[i + 1] : 0), 0};
    EncodeGroup(rest, out);
    out[3] = '=';
    if (i + 1 == n) out[2] = '=';
    out += 4;
  }
  *out++ = '\n';
  return out;
}

size_t Base64Decoder::Put(const char* in, size_t n, unsigned char* out, size_t cap) {
  const auto* p = reinterpret_cast<const unsigned char*>(in);
  const unsigned char* const end = p + n;
  size_t w = 0;
  auto emit = [&](uint32_t v) {
    if (w + 3 <= cap) {
      out[w] = static_cast<unsigned char>(v >> 16);
      out[w + 1] = static_cast<unsigned char>(v >> 8);
      out[w + 2] = static_cast<unsigned char>(v);
      w += 3;
    } else {
      for (int shift = 16; shift >= 0 && w < cap; shift -= 8) out[w++] = static_cast<unsigned char>(v >> shift);
    }
    m_state.total += 3;
  };
  if (m_state.failed) return 0;
  while (p < end) {
    // Whole groups of four alphabet characters.
    if (m_state.count == 0 && !m_state.padded) {
      while (end - p >= 4) {
        const unsigned a = kValues[p[0]], b = kValues[p[1]], c = kValues[p[2]], d = kValues[p[3]];
        if ((a | b | c | d) >= 64) break;
        emit(a << 18 | b << 12 | c << 6 | d);
        p += 4;
      }
      if (p == end) break;
    }
    // One character: the end of a line, a skipped one, padding, or the
    // start of a group that the text splits.
    const unsigned v = kValues[*p++];
    if (v == kPad) {
      m_state.padded = true;
    } else if (v < 64) {
      if (m_state.padded) {
        m_state.failed = true;
        return w;
      }
      m_state.bits = m_state.bits << 6 | v;
      if (++m_state.count == 4) {
        emit(m_state.bits);
        m_state.bits = 0;
        m_state.count = 0;
      }
    }
  }
  return w;
}

size_t Base64Decoder::Finish(unsigned char* out, size_t cap) {
  unsigned char last[2];
  size_t n = 0;
  if (!m_state.failed && m_state.count == 2) {
    last[0] = static_cast<unsigned char>(m_state.bits >> 4);
    n = 1;
  } else if (!m_state.failed && m_state.count == 3) {
    last[0] = static_cast<unsigned char>(m_state.bits >> 10);
    last[1] = static_cast<unsigned char>(m_state.bits >> 2);
    n = 2;
  }
  m_state.total += n;
  const size_t w = n < cap ? n : cap;
  if (w != 0) std::memcpy(out, last, w);
  m_state.bits = 0;
  m_state.count = 0;
  return w;
}

}  // namespace sundry::crypto::internal
