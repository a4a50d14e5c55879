#pragma once
// Base64 text of the encryption family: the standard alphabet with "="
// padding, 72 characters and one line feed per line, and a decoder that
// skips every character outside the alphabet. Internal to the library; the
// public forms are CEncrypt's Base64 operations and the streams of
// <sundry/crypto/CryptStream.h>.

#include <cstddef>
#include <cstdint>

namespace sundry::crypto::internal {

// One line of text is 72 characters, the Base64 form of 54 bytes, and a
// line feed.
constexpr size_t kLineBytes = 54;
constexpr size_t kLineChars = 72;
constexpr size_t kLineText = kLineChars + 1;

// Length of the whole text form of n bytes: 4 characters per started group
// of 3, one line feed per started line. 0 for 0 bytes.
constexpr uint64_t Base64TextLength(uint64_t n) {
  const uint64_t chars = (n + 2) / 3 * 4;
  return chars + (chars + kLineChars - 1) / kLineChars;
}

// Writes the text of n bytes, n a multiple of 54, as n / 54 whole lines
// (73 characters each, line feed included). Returns the end of the text.
char* EncodeLines(const unsigned char* in, size_t n, char* out);

// Writes the last, shorter line for n bytes (n below 54): the characters,
// "=" padding and one line feed; nothing when n is 0. Returns the end.
char* EncodeLastLine(const unsigned char* in, size_t n, char* out);

// Decoder state carried from one piece of text to the next. Characters
// outside the alphabet are skipped; the first "=" ends the data, and an
// alphabet character after it sets failed and stops the decoding there.
class Base64Decoder {
 public:
  // The whole state, for a holder that keeps it elsewhere between pieces.
  struct State {
    uint32_t bits = 0;
    unsigned count = 0;  // characters in the group begun, 0 to 3
    bool padded = false;
    bool failed = false;
    uint64_t total = 0;
  };

  Base64Decoder() = default;
  explicit Base64Decoder(const State& state) : m_state(state) {}
  const State& state() const { return m_state; }

  // Decodes the n characters at in. Of the bytes they complete, the first
  // cap are written to out and the rest only counted. Returns the number
  // written. Nothing is decoded once failed is set.
  size_t Put(const char* in, size_t n, unsigned char* out, size_t cap);

  // Ends the text: a last group of 2 or 3 characters gives 1 or 2 bytes,
  // written while cap allows; a lone character gives none. Returns the
  // number written. total() then counts the whole text; Reset starts a
  // new one.
  size_t Finish(unsigned char* out, size_t cap);

  bool failed() const { return m_state.failed; }
  // Every byte decoded so far, written or not.
  uint64_t total() const { return m_state.total; }

  void Reset() { m_state = State(); }

 private:
  State m_state;
};

}  // namespace sundry::crypto::internal
