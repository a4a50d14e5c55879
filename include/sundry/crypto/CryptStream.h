#pragma once
// Streaming forms of CEncrypt's operations, for data that does not fit in
// memory at once: the input is given piece by piece, in pieces of any size
// (one byte at a time included), and the output is the same bytes that
// CEncrypt gives for the whole input. Each class serves one message or
// text at a time and one thread at a time. The caller provides the output
// buffers, sized as each member states; in and out must not overlap.
// Nothing throws.

#include <sundry/export.h>

#include <cstddef>
#include <cstdint>

namespace sundry::crypto {

// AES-256-CBC with PKCS #7 padding and the fixed initialisation vector, as
// CEncrypt::Encrypt.
class SUNDRY_EXPORT EncryptStream {
 public:
  // key: as for CEncrypt::Encrypt (null or empty selects the default key).
  explicit EncryptStream(const char* key) noexcept;
  // The 32 key bytes as they stand, as CEncrypt::EncryptWithKey.
  explicit EncryptStream(const unsigned char (&key)[32]) noexcept;
  ~EncryptStream();
  EncryptStream(const EncryptStream&) = delete;
  EncryptStream& operator=(const EncryptStream&) = delete;

  // False when memory ran out while setting up; every call then writes
  // nothing.
  bool ok() const noexcept { return m_impl != nullptr; }

  // Encrypts the n bytes at in and writes the whole cipher blocks they
  // complete to out, which has room for n + 15 bytes. Returns the number
  // written, a multiple of 16.
  size_t Update(const void* in, size_t n, void* out) noexcept;

  // Ends the message: pads the bytes held back and writes the last block,
  // 16 bytes, to out. Returns 16. The stream then begins a new message.
  size_t Final(void* out) noexcept;

 private:
  struct Impl;
  Impl* m_impl;
};

// The reverse of EncryptStream, as CEncrypt::Decrypt. The last whole block
// is held back until Final, since only its padding shows whether the key
// and the cipher text were right; everything before it is written as it
// is decrypted and is not checked.
class SUNDRY_EXPORT DecryptStream {
 public:
  explicit DecryptStream(const char* key) noexcept;
  explicit DecryptStream(const unsigned char (&key)[32]) noexcept;
  ~DecryptStream();
  DecryptStream(const DecryptStream&) = delete;
  DecryptStream& operator=(const DecryptStream&) = delete;

  bool ok() const noexcept { return m_impl != nullptr; }

  // Decrypts the n cipher bytes at in and writes the plain text of the
  // blocks that are known not to be the last to out, which has room for
  // n + 15 bytes. Returns the number written, a multiple of 16.
  size_t Update(const void* in, size_t n, void* out) noexcept;

  // Ends the message. When the cipher text was a whole, non-zero number of
  // blocks and the last block's padding is right, writes the plain bytes of
  // the last block (0 to 15) to out, sets written and returns true.
  // Otherwise writes nothing, sets written to 0 and returns false: a wrong
  // key, damaged or cut-short cipher text (a wrong key gives right padding
  // about once in 256 tries and then wrong bytes). The stream then begins a
  // new message.
  bool Final(void* out, size_t& written) noexcept;

 private:
  struct Impl;
  Impl* m_impl;
};

// The Base64 text form of CEncrypt::Base64EncodeBytesToString: 72
// characters and a line feed per line, one line feed at the end.
class SUNDRY_EXPORT Base64EncodeStream {
 public:
  // Room that out needs for Update(in, n, out).
  static constexpr size_t UpdateRoom(size_t n) { return (n / 54 + 1) * 73; }
  // Room that out needs for Final.
  static constexpr size_t kFinalRoom = 73;

  // Encodes the n bytes at in and writes the whole lines they complete to
  // out. Returns the number of characters written.
  size_t Update(const void* in, size_t n, char* out) noexcept;

  // Ends the text: writes the last, shorter line with its line feed (none
  // when the bytes so far made whole lines). Returns the number written.
  // The stream then begins a new text.
  size_t Final(char* out) noexcept;

  // Bytes given to Update since the text began (Final begins a new one).
  uint64_t total() const noexcept { return m_total; }

 private:
  unsigned char m_line[54] = {};
  size_t m_have = 0;
  uint64_t m_total = 0;
};

// The decoder of CEncrypt::Base64DecodeStringToBytes: every character
// outside the 64-character alphabet is skipped, and the first "=" ends the
// data; an alphabet character after it is an error.
class SUNDRY_EXPORT Base64DecodeStream {
 public:
  // Room that out needs for Update(in, n, out, ...).
  static constexpr size_t UpdateRoom(size_t n) { return n / 4 * 3 + 3; }
  // Room that out needs for Final.
  static constexpr size_t kFinalRoom = 2;

  // Decodes the n characters at in, writes the bytes they complete to out
  // and sets written. Returns false, having decoded nothing past it, when an
  // alphabet character follows the padding; from then on every call fails.
  bool Update(const char* in, size_t n, void* out, size_t& written) noexcept;

  // Ends the text: writes the bytes of a last, partial group (0 to 2).
  // Returns the number written. The object serves one text.
  size_t Final(void* out) noexcept;

  // Bytes decoded so far, Final's included.
  uint64_t total() const noexcept { return m_total; }
  bool failed() const noexcept { return m_failed; }

 private:
  // The decoder's state, kept here so that the class needs no allocation:
  // the bits of the group begun and its number of characters, whether the
  // padding was seen.
  uint32_t m_bits = 0;
  unsigned m_count = 0;
  bool m_padded = false;
  bool m_failed = false;
  uint64_t m_total = 0;
};

}  // namespace sundry::crypto
