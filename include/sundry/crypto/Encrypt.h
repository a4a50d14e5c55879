#pragma once
// CEncrypt: symmetric encryption of byte strings and binary blocks, and the
// Base64 text form of binary blocks.
//
// Cipher: AES with a 256-bit key in CBC mode, PKCS #7 padding (1 to 16
// bytes, always present) and one fixed initialisation vector, "QJQ" followed
// by 13 zero bytes, for every message. The same plain text and key therefore
// always give the same cipher text, n plain bytes give 16 * (n / 16 + 1)
// cipher bytes, and the cipher text is raw bytes (not Base64).
//
// Key text: a null pointer or an empty text selects the built-in default
// key, so that data written by one caller can be read by another without
// any key handling. Otherwise the key is the first 32 bytes of the text. The
// text is read up to its terminating zero and never further: a text shorter
// than 32 bytes is padded with zero bytes to 32, which gives the same key as
// a 32-byte buffer holding the text and zeros after it. Bytes that follow a
// zero byte inside the first 32 are therefore not part of the key.
//
// Base64 text form: the standard alphabet with "=" padding; a line feed
// follows every 72 characters, and the text always ends with one line feed
// (no second one when the last line is exactly 72 characters long).
// Decoding skips every character outside the 64-character alphabet. An
// "=" ends the text: a text with alphabet characters after its padding (two
// texts run together, say) is refused instead of being decoded into bytes
// that were never encoded.
//
// Memory: Encrypt and Decrypt read a string argument where it is and write
// the result into the result string's own memory, overwriting the bytes it
// holds (a result string reused from call to call is not allocated again).
// A string handed over with std::move is theirs to use: Decrypt works in
// its memory, as does Encrypt when it has room for the padding (capacity at
// least 16 past the size), and the result takes that memory over. Either
// way the result is the same; the input and the result string may be the
// same object.
//
// For data too large to hold in memory, <sundry/crypto/CryptStream.h> gives
// the same operations piece by piece.
//
// Every operation is static, returns 0 for success and 3 for failure, never
// throws and never logs. Apart from the default key, which is built once on
// first use and may be asked for by several threads at once, there is no
// shared state.

#include <sundry/export.h>
#include <sundry/platform/wintypes.h>

#include <string>

class SUNDRY_EXPORT CEncrypt {
 public:
  CEncrypt() = default;
  CEncrypt(const CEncrypt&) = default;
  CEncrypt& operator=(const CEncrypt&) = default;

  // Empties cipher, then fills it with the cipher text of plain (any bytes,
  // zero bytes included). Returns 0; 3 only when memory runs out, with
  // cipher empty.
  static int Encrypt(const std::string& plain, const char* key, std::string& cipher);
  static int Encrypt(std::string&& plain, const char* key, std::string& cipher);

  // Empties plain, then fills it with the plain text of cipher. Returns 0 on
  // success. Returns 3 with plain empty when cipher is not a whole number of
  // 16-byte blocks (an empty cipher included) or its padding is wrong after
  // decryption, which is what a wrong key or damaged cipher text gives in all
  // but about one case in 256; those rare cases decrypt to wrong bytes.
  static int Decrypt(const std::string& cipher, const char* key, std::string& plain);
  static int Decrypt(std::string&& cipher, const char* key, std::string& plain);

  // Encrypt and Decrypt with the 32 key bytes as they stand, zero bytes
  // included: for binary keys, which a key text cannot carry past its first
  // zero byte. Results as for Encrypt and Decrypt.
  static int EncryptWithKey(const std::string& plain, const unsigned char (&key)[32], std::string& cipher);
  static int EncryptWithKey(std::string&& plain, const unsigned char (&key)[32], std::string& cipher);
  static int DecryptWithKey(const std::string& cipher, const unsigned char (&key)[32], std::string& plain);
  static int DecryptWithKey(std::string&& cipher, const unsigned char (&key)[32], std::string& plain);

  // Encodes the length bytes at data as Base64 text (line feeds included)
  // and encrypts that text with Encrypt into cipher. Returns 3 and leaves
  // cipher untouched when there is nothing to encode (length 0 or data
  // null); otherwise the result of Encrypt.
  static int EncryptBinary(const void* data, ULONG length, const char* key, std::string& cipher);

  // Decrypts cipher with Decrypt and decodes the resulting text into buffer
  // with Base64DecodeStringToBytes, whose rules and result apply: on entry
  // length is the size of buffer, on return the full decoded length. When
  // the decryption fails, nothing is written, length is set to 0 and the
  // result is 3.
  static int DecryptBinary(std::string cipher, const char* key, void* buffer, ULONG& length);

  // Empties text and fills it with the Base64 text form of the length bytes
  // at data. Returns 0 when text is not empty; 3 with text empty when
  // length is 0 or data is null.
  static int Base64EncodeBytesToString(const void* data, ULONG length, std::string& text);

  // Decodes text into buffer. On entry length is the size of buffer; at
  // most that many bytes are written, whatever the text (a null buffer
  // counts as size 0, so a null buffer asks for the length only). On return
  // length is the full decoded length, larger than the buffer size when the
  // buffer was too small; the caller detects the cut by comparing the two.
  // A decoded length beyond the range of ULONG is reported as 0xFFFFFFFF.
  // Returns 0 when the decoded length is greater than 0, else 3; also 3,
  // with length 0 and nothing written, when alphabet characters follow the
  // "=" padding.
  static int Base64DecodeStringToBytes(std::string text, void* buffer, ULONG& length);

 private:
  // The 32 AES key bytes for a caller's key text: the default key when key
  // is null or empty, the text itself when its first 32 bytes hold no zero,
  // else the text padded with zeros in scratch. The result points into one
  // of the three and is valid while scratch is.
  static const unsigned char* GetKey(const char* key, unsigned char (&scratch)[32]);
};

namespace sundry::crypto::internal {
// The 64-character phrase the default key is built from. Not exported; the
// library's own tests use it to check the key-building rule.
const char* DefaultKeyPhrase();
}  // namespace sundry::crypto::internal
