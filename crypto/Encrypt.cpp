// CEncrypt: AES-256-CBC with PKCS #7 padding and Base64 text.
//
// The cipher runs straight over the message's bytes: one key schedule per
// message, Crypto++'s CBC mode over all whole blocks in one call and the
// padded last block by hand, into the result string's own memory or, for a
// string handed over, in that string's memory. Base64 goes through the
// family's own table-driven encoder and decoder (crypto/Base64.h); the
// cipher does not depend on them.
//
// Crypto++ reports exhausted memory by throwing, as does std::string; each
// operation catches everything at its own boundary and turns it into the
// result 3 with an empty output, so no exception leaves the library.

#include <sundry/crypto/Encrypt.h>

#include "crypto/Base64.h"
#include "crypto/Cbc.h"

#include <cryptopp/misc.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace sundry::crypto::internal {
namespace {

// The default key is built from this phrase. Key byte j is the complement of
// (phrase byte j OR phrase byte 2j), so bytes 0 to 62 take part.
constexpr char kKeyPhrase[] = "Sundry keeps one phrase so every peer can read what others wrote";
static_assert(sizeof(kKeyPhrase) == 65, "the phrase has 64 characters");

struct KeyBytes {
  unsigned char bytes[kKeyLength];
};

KeyBytes BuildDefaultKey() {
  KeyBytes key;
  for (size_t j = 0; j < kKeyLength; ++j) {
    const auto a = static_cast<unsigned char>(kKeyPhrase[j]);
    const auto b = static_cast<unsigned char>(kKeyPhrase[2 * j]);
    key.bytes[j] = static_cast<unsigned char>(~(a | b));
  }
  return key;
}

// Built on first use and kept for the life of the process. A function-local
// static is initialised exactly once: a thread that asks while another is
// building it waits, so no reader ever sees a half-built key.
const unsigned char* DefaultKey() {
  static const KeyBytes key = BuildDefaultKey();
  return key.bytes;
}

}  // namespace

const char* DefaultKeyPhrase() { return kKeyPhrase; }

const unsigned char* ResolveKey(const char* key, unsigned char (&scratch)[kKeyLength]) {
  if (key == nullptr || key[0] == '\0') return DefaultKey();
  const size_t n = strnlen(key, kKeyLength);
  if (n == kKeyLength) return reinterpret_cast<const unsigned char*>(key);
  std::memcpy(scratch, key, n);
  std::memset(scratch + n, 0, kKeyLength - n);
  return scratch;
}

size_t PaddingLength(const unsigned char* lastBlock) {
  const size_t pad = lastBlock[kBlockLength - 1];
  if (pad == 0 || pad > kBlockLength) return 0;
  for (size_t i = kBlockLength - pad; i < kBlockLength; ++i)
    if (lastBlock[i] != pad) return 0;
  return pad;
}

void Pad(unsigned char* block, size_t n) {
  std::memset(block + n, static_cast<int>(kBlockLength - n), kBlockLength - n);
}

}  // namespace sundry::crypto::internal

namespace {

using namespace sundry::crypto::internal;

constexpr int kOk = 0;
constexpr int kFailed = 3;

unsigned char* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(s.data()); }

// Wipes a key copy when it goes out of scope.
struct ScratchWiper {
  unsigned char (&scratch)[kKeyLength];
  ~ScratchWiper() { CryptoPP::SecureWipeBuffer(scratch, kKeyLength); }
};

// Encrypts plain into cipher's memory: resizing without emptying cipher
// first spares the zero fill of the bytes it holds already, all of which
// are overwritten. plain and cipher are distinct objects.
int EncryptInto(const std::string& plain, const unsigned char* keyBytes, std::string& cipher) {
  try {
    const size_t n = plain.size();
    const size_t whole = n - n % kBlockLength;
    CbcEncryption cbc(keyBytes, kKeyLength, kIV);
    cipher.resize(whole + kBlockLength);
    cbc.ProcessData(Bytes(cipher), reinterpret_cast<const unsigned char*>(plain.data()), whole);
    unsigned char last[kBlockLength];
    std::memcpy(last, plain.data() + whole, n - whole);
    Pad(last, n - whole);
    cbc.ProcessData(Bytes(cipher) + whole, last, kBlockLength);
    CryptoPP::SecureWipeBuffer(last, kBlockLength);
    return kOk;
  } catch (...) {
    cipher.clear();
    return kFailed;
  }
}

int EncryptWithKeyBytes(const std::string& plain, const unsigned char* keyBytes, std::string& cipher) {
  if (&plain == &cipher) return EncryptInto(std::string(plain), keyBytes, cipher);
  return EncryptInto(plain, keyBytes, cipher);
}

// Encrypts in plain's own memory when it has room for the padding and hands
// that memory over to cipher.
int EncryptWithKeyBytes(std::string&& plain, const unsigned char* keyBytes, std::string& cipher) {
  const size_t n = plain.size();
  const size_t total = n - n % kBlockLength + kBlockLength;
  if (&plain == &cipher || plain.capacity() < total) return EncryptWithKeyBytes(std::as_const(plain), keyBytes, cipher);
  try {
    CbcEncryption cbc(keyBytes, kKeyLength, kIV);
    plain.resize(total);  // within the capacity: no allocation, no copy
    Pad(Bytes(plain) + total - kBlockLength, n % kBlockLength);
    cbc.ProcessData(Bytes(plain), Bytes(plain), total);
    cipher = std::move(plain);
    return kOk;
  } catch (...) {
    cipher.clear();
    return kFailed;
  }
}

// Decrypts n bytes of cipher text at in into plain, which has room for
// them and may be where they are, then checks and cuts the padding.
int DecryptInPlace(const unsigned char* in, size_t n, const unsigned char* keyBytes, std::string& plain) {
  CbcDecryption cbc(keyBytes, kKeyLength, kIV);
  cbc.ProcessData(Bytes(plain), in, n);
  const size_t pad = PaddingLength(Bytes(plain) + n - kBlockLength);
  if (pad == 0) {
    // Wrong key or damaged cipher text: what was decrypted is not the
    // plain text, so none of it is handed out.
    CryptoPP::SecureWipeBuffer(Bytes(plain), n);
    plain.clear();
    return kFailed;
  }
  plain.resize(n - pad);
  return kOk;
}

int DecryptWithKeyBytes(std::string&& cipher, const unsigned char* keyBytes, std::string& plain);

int DecryptWithKeyBytes(const std::string& cipher, const unsigned char* keyBytes, std::string& plain) {
  if (&cipher == &plain) return DecryptWithKeyBytes(std::string(cipher), keyBytes, plain);
  const size_t n = cipher.size();
  if (n == 0 || n % kBlockLength != 0) {
    plain.clear();
    return kFailed;
  }
  try {
    plain.resize(n);  // its bytes are all overwritten: no need to empty it first
    return DecryptInPlace(reinterpret_cast<const unsigned char*>(cipher.data()), n, keyBytes, plain);
  } catch (...) {
    plain.clear();
    return kFailed;
  }
}

// Decrypts in cipher's own memory (CBC decryption reads each cipher block
// before its plain text overwrites it) and hands that memory over to plain.
int DecryptWithKeyBytes(std::string&& cipher, const unsigned char* keyBytes, std::string& plain) {
  if (&cipher == &plain) return DecryptWithKeyBytes(std::as_const(cipher), keyBytes, plain);
  plain.clear();
  const size_t n = cipher.size();
  if (n == 0 || n % kBlockLength != 0) return kFailed;
  try {
    if (DecryptInPlace(Bytes(cipher), n, keyBytes, cipher) != kOk) return kFailed;
    plain = std::move(cipher);
    return kOk;
  } catch (...) {
    plain.clear();
    return kFailed;
  }
}

bool isBase64Letter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Padding ends a Base64 text: letters after an "=" would be the start of
// another text, bytes that were never encoded as part of this one.
bool hasDataAfterPadding(const std::string& text) {
  const size_t pad = text.find('=');
  if (pad == std::string::npos) return false;
  for (size_t i = pad + 1; i < text.size(); ++i)
    if (isBase64Letter(static_cast<unsigned char>(text[i]))) return true;
  return false;
}

}  // namespace

const unsigned char* CEncrypt::GetKey(const char* key, unsigned char (&scratch)[32]) {
  return ResolveKey(key, scratch);
}

int CEncrypt::Encrypt(const std::string& plain, const char* key, std::string& cipher) {
  unsigned char scratch[kKeyLength];
  ScratchWiper wiper{scratch};
  return EncryptWithKeyBytes(plain, GetKey(key, scratch), cipher);
}

int CEncrypt::Encrypt(std::string&& plain, const char* key, std::string& cipher) {
  unsigned char scratch[kKeyLength];
  ScratchWiper wiper{scratch};
  return EncryptWithKeyBytes(std::move(plain), GetKey(key, scratch), cipher);
}

int CEncrypt::Decrypt(const std::string& cipher, const char* key, std::string& plain) {
  unsigned char scratch[kKeyLength];
  ScratchWiper wiper{scratch};
  return DecryptWithKeyBytes(cipher, GetKey(key, scratch), plain);
}

int CEncrypt::Decrypt(std::string&& cipher, const char* key, std::string& plain) {
  unsigned char scratch[kKeyLength];
  ScratchWiper wiper{scratch};
  return DecryptWithKeyBytes(std::move(cipher), GetKey(key, scratch), plain);
}

int CEncrypt::EncryptWithKey(const std::string& plain, const unsigned char (&key)[32], std::string& cipher) {
  return EncryptWithKeyBytes(plain, key, cipher);
}

int CEncrypt::EncryptWithKey(std::string&& plain, const unsigned char (&key)[32], std::string& cipher) {
  return EncryptWithKeyBytes(std::move(plain), key, cipher);
}

int CEncrypt::DecryptWithKey(const std::string& cipher, const unsigned char (&key)[32], std::string& plain) {
  return DecryptWithKeyBytes(cipher, key, plain);
}

int CEncrypt::DecryptWithKey(std::string&& cipher, const unsigned char (&key)[32], std::string& plain) {
  return DecryptWithKeyBytes(std::move(cipher), key, plain);
}

int CEncrypt::EncryptBinary(const void* data, ULONG length, const char* key, std::string& cipher) {
  if (length == 0 || data == nullptr) return kFailed;
  std::string text;
  try {
    // Room for the padding too, so that Encrypt works in this memory.
    text.reserve(Base64TextLength(length) + kBlockLength);
  } catch (...) {
    return kFailed;
  }
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
  if (length == 0 || data == nullptr) return kFailed;
  try {
    text.resize(Base64TextLength(length));
  } catch (...) {
    text.clear();
    return kFailed;
  }
  const auto* in = static_cast<const unsigned char*>(data);
  const size_t whole = length - length % kLineBytes;
  char* end = EncodeLines(in, whole, text.data());
  end = EncodeLastLine(in + whole, length - whole, end);
  text.resize(static_cast<size_t>(end - text.data()));
  return kOk;
}

int CEncrypt::Base64DecodeStringToBytes(std::string text, void* buffer, ULONG& length) {
  // Refused before anything is written. The padding is at most a few
  // characters from the end, so this costs one quick search.
  if (hasDataAfterPadding(text)) {
    length = 0;
    return kFailed;
  }
  const size_t capacity = buffer != nullptr ? length : 0;
  auto* out = static_cast<unsigned char*>(buffer);
  Base64Decoder decoder;
  const size_t written = decoder.Put(text.data(), text.size(), out, capacity);
  decoder.Finish(out + written, capacity - written);
  constexpr uint64_t kMax = std::numeric_limits<ULONG>::max();
  length = static_cast<ULONG>(std::min(decoder.total(), kMax));
  return decoder.total() > 0 ? kOk : kFailed;
}
