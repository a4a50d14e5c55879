// CEncrypt: AES-256-CBC with PKCS #7 padding and Base64 text, on Crypto++.
//
// Every operation runs one Crypto++ pipeline on the caller's thread. Crypto++
// reports bad input (a cipher text that is not a whole number of blocks, bad
// padding) and exhausted memory by throwing; each operation catches
// everything at its own boundary and turns it into the result 3 with an
// empty output, so no exception leaves the library.

#include <sundry/crypto/Encrypt.h>

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/misc.h>
#include <cryptopp/modes.h>
#include <cryptopp/rijndael.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

using CryptoPP::byte;

constexpr int kOk = 0;
constexpr int kFailed = 3;

constexpr size_t kKeyLength = 32;    // AES-256
constexpr size_t kBlockLength = 16;  // AES block
constexpr int kBase64LineLength = 72;

// The initialisation vector of every message: "QJQ" and 13 zero bytes.
constexpr byte kIV[kBlockLength] = {'Q', 'J', 'Q'};

// The default key is built from this phrase. Key byte j is the complement of
// (phrase byte j OR phrase byte 2j), so bytes 0 to 62 take part.
constexpr char kKeyPhrase[] = "Sundry keeps one phrase so every peer can read what others wrote";
static_assert(sizeof(kKeyPhrase) == 65, "the phrase has 64 characters");

struct KeyBytes {
  byte bytes[kKeyLength];
};

KeyBytes BuildDefaultKey() {
  KeyBytes key;
  for (size_t j = 0; j < kKeyLength; ++j) {
    const auto a = static_cast<unsigned char>(kKeyPhrase[j]);
    const auto b = static_cast<unsigned char>(kKeyPhrase[2 * j]);
    key.bytes[j] = static_cast<byte>(~(a | b));
  }
  return key;
}

// Built on first use and kept for the life of the process. A function-local
// static is initialised exactly once: a thread that asks while another is
// building it waits, so no reader ever sees a half-built key.
const byte* DefaultKey() {
  static const KeyBytes key = BuildDefaultKey();
  return key.bytes;
}

// Base64 text length for n bytes: 4 characters per started group of 3, and
// one line feed per started line of 72 characters.
size_t Base64TextLength(size_t n) {
  const size_t chars = (n + 2) / 3 * 4;
  return chars + (chars + kBase64LineLength - 1) / kBase64LineLength;
}

// A sink over the caller's buffer that never writes past its end but counts
// every byte it is given. Crypto++'s ArraySink keeps the bounds; unlike it,
// this sink never reports itself blocked when full, so the decoder runs to
// the end of the text and the full decoded length is known.
class BoundedArraySink : public CryptoPP::ArraySink {
 public:
  BoundedArraySink(byte* buffer, size_t size) : CryptoPP::ArraySink(buffer, size) {}

  size_t Put2(const byte* data, size_t length, int /*messageEnd*/, bool /*blocking*/) override {
    m_seen += length;
    const size_t n = std::min(length, AvailableSize());
    if (n != 0 && data != nullptr) {
      std::memcpy(m_buf + m_total, data, n);
      m_total += n;
    }
    return 0;
  }

  // No direct access to the buffer: every byte goes through Put2 and is
  // counted there.
  byte* CreatePutSpace(size_t& size) override {
    return CryptoPP::BufferedTransformation::CreatePutSpace(size);
  }

  CryptoPP::lword DecodedLength() const { return m_seen; }

 private:
  CryptoPP::lword m_seen = 0;
};

// Wipes a key copy when it goes out of scope.
struct ScratchWiper {
  unsigned char (&scratch)[kKeyLength];
  ~ScratchWiper() { CryptoPP::SecureWipeBuffer(scratch, kKeyLength); }
};

}  // namespace

namespace sundry::crypto::internal {
const char* DefaultKeyPhrase() { return kKeyPhrase; }
}  // namespace sundry::crypto::internal

const unsigned char* CEncrypt::GetKey(const char* key, unsigned char (&scratch)[32]) {
  if (key == nullptr || key[0] == '\0') return DefaultKey();
  const size_t n = strnlen(key, kKeyLength);
  if (n == kKeyLength) return reinterpret_cast<const unsigned char*>(key);
  std::memcpy(scratch, key, n);
  std::memset(scratch + n, 0, kKeyLength - n);
  return scratch;
}

namespace {

int EncryptWithKeyBytes(const std::string& plain, const byte* keyBytes, std::string& cipher) {
  cipher.clear();
  try {
    CryptoPP::Rijndael::Encryption aes(keyBytes, kKeyLength);
    CryptoPP::CBC_Mode_ExternalCipher::Encryption cbc(aes, kIV);
    cipher.reserve((plain.size() / kBlockLength + 1) * kBlockLength);
    CryptoPP::StreamTransformationFilter filter(cbc, new CryptoPP::StringSink(cipher),
                                                CryptoPP::StreamTransformationFilter::PKCS_PADDING);
    filter.Put(reinterpret_cast<const byte*>(plain.data()), plain.size());
    filter.MessageEnd();  // adds the padding and flushes the last block
    return kOk;
  } catch (...) {
    cipher.clear();
    return kFailed;
  }
}

int DecryptWithKeyBytes(const std::string& cipher, const byte* keyBytes, std::string& plain) {
  plain.clear();
  try {
    CryptoPP::Rijndael::Decryption aes(keyBytes, kKeyLength);
    CryptoPP::CBC_Mode_ExternalCipher::Decryption cbc(aes, kIV);
    plain.reserve(cipher.size());
    CryptoPP::StringSource source(
        cipher, true,
        new CryptoPP::StreamTransformationFilter(cbc, new CryptoPP::StringSink(plain),
                                                 CryptoPP::StreamTransformationFilter::PKCS_PADDING));
    return kOk;
  } catch (...) {
    // Wrong length or bad padding: what was decrypted so far is not the
    // plain text, so none of it is handed out.
    CryptoPP::SecureWipeBuffer(plain.data(), plain.size());
    plain.clear();
    return kFailed;
  }
}

bool isBase64Letter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Padding ends a Base64 text: letters after an "=" would be decoded as the
// continuation of the padded group and turn into bytes that were never
// encoded, so such a text is refused.
bool hasDataAfterPadding(const std::string& text) {
  const size_t pad = text.find('=');
  if (pad == std::string::npos) return false;
  for (size_t i = pad + 1; i < text.size(); ++i)
    if (isBase64Letter(static_cast<unsigned char>(text[i]))) return true;
  return false;
}

}  // namespace

int CEncrypt::Encrypt(std::string plain, const char* key, std::string& cipher) {
  unsigned char scratch[kKeyLength];
  ScratchWiper wiper{scratch};
  return EncryptWithKeyBytes(plain, GetKey(key, scratch), cipher);
}

int CEncrypt::Decrypt(std::string cipher, const char* key, std::string& plain) {
  unsigned char scratch[kKeyLength];
  ScratchWiper wiper{scratch};
  return DecryptWithKeyBytes(cipher, GetKey(key, scratch), plain);
}

int CEncrypt::EncryptWithKey(std::string plain, const unsigned char (&key)[32], std::string& cipher) {
  return EncryptWithKeyBytes(plain, key, cipher);
}

int CEncrypt::DecryptWithKey(std::string cipher, const unsigned char (&key)[32], std::string& plain) {
  return DecryptWithKeyBytes(cipher, key, plain);
}

int CEncrypt::EncryptBinary(const void* data, ULONG length, const char* key, std::string& cipher) {
  std::string text;
  if (Base64EncodeBytesToString(data, length, text) != kOk) return kFailed;
  return Encrypt(std::move(text), key, cipher);
}

int CEncrypt::DecryptBinary(std::string cipher, const char* key, void* buffer, ULONG& length) {
  std::string text;
  if (Decrypt(std::move(cipher), key, text) != kOk) {
    length = 0;
    return kFailed;
  }
  return Base64DecodeStringToBytes(std::move(text), buffer, length);
}

int CEncrypt::Base64EncodeBytesToString(const void* data, ULONG length, std::string& text) {
  text.clear();
  // Crypto++ writes a lone line feed for no input; an empty block has no
  // text form.
  if (length == 0 || data == nullptr) return kFailed;
  try {
    text.reserve(Base64TextLength(length));
    CryptoPP::Base64Encoder encoder(new CryptoPP::StringSink(text), true, kBase64LineLength);
    encoder.Put(static_cast<const byte*>(data), length);
    encoder.MessageEnd();
  } catch (...) {
    text.clear();
    return kFailed;
  }
  return text.empty() ? kFailed : kOk;
}

int CEncrypt::Base64DecodeStringToBytes(std::string text, void* buffer, ULONG& length) {
  const size_t capacity = buffer != nullptr ? length : 0;
  if (hasDataAfterPadding(text)) {
    length = 0;
    return kFailed;
  }
  CryptoPP::lword decoded = 0;
  try {
    auto* sink = new BoundedArraySink(static_cast<byte*>(buffer), capacity);
    CryptoPP::Base64Decoder decoder(sink);  // owns sink
    decoder.Put(reinterpret_cast<const byte*>(text.data()), text.size());
    decoder.MessageEnd();
    decoded = sink->DecodedLength();
  } catch (...) {
    length = 0;
    return kFailed;
  }
  constexpr CryptoPP::lword kMax = std::numeric_limits<ULONG>::max();
  length = static_cast<ULONG>(std::min(decoded, kMax));
  return decoded > 0 ? kOk : kFailed;
}
