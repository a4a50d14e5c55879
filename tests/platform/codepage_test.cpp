// Decoding UTF-16LE and UTF-8 one character at a time.

#include <sundry/platform/codepage.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;
using namespace sundry::platform;

namespace {

// Every (code point, position after it) the decoder gives until the end.
template <class Decode>
std::vector<std::pair<char32_t, size_t>> DecodeAll(const std::string& bytes, Decode decode) {
  std::vector<std::pair<char32_t, size_t>> out;
  for (size_t pos = 0; pos < bytes.size();) {
    char32_t cp = decode(bytes, &pos);
    out.emplace_back(cp, pos);
  }
  return out;
}

TEST(UnicodeDecoding, Utf16LE) {
  // 'A', the euro sign, U+1F600 as a surrogate pair, a high surrogate
  // followed by 'B', a lone low surrogate, an odd last byte.
  const std::string bytes = "A\0"s "\xAC\x20"s "\x3D\xD8\x00\xDE"s "\x3D\xD8"s "B\0"s "\x00\xDC"s "x"s;
  const std::vector<std::pair<char32_t, size_t>> expected = {
      {U'A', 2}, {0x20AC, 4}, {0x1F600, 8}, {kInvalidCodePoint, 10}, {U'B', 12}, {kInvalidCodePoint, 14},
      {kInvalidCodePoint, 15}};
  EXPECT_EQ(expected, DecodeAll(bytes, DecodeUtf16LE));
}

TEST(UnicodeDecoding, Utf8) {
  // e acute, the euro sign, U+1F600; then broken: an overlong '/', a
  // surrogate, a code point past U+10FFFF, a lone continuation byte, a
  // sequence cut short by 'x' (which is read next).
  const std::string bytes = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"s "\xC0\xAF"s "\xED\xA0\x80"s "\xF4\x90\x80\x80"s
                            "\x80"s "\xE2\x82x"s;
  const std::vector<std::pair<char32_t, size_t>> expected = {
      {0xE9, 2}, {0x20AC, 5}, {0x1F600, 9}, {kInvalidCodePoint, 11}, {kInvalidCodePoint, 14},
      {kInvalidCodePoint, 18}, {kInvalidCodePoint, 19}, {kInvalidCodePoint, 21}, {U'x', 22}};
  EXPECT_EQ(expected, DecodeAll(bytes, DecodeUtf8));
  EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9\xE2\x82\xAC"));
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_FALSE(IsValidUtf8("ok \xC0\xAF"));
}

}  // namespace
