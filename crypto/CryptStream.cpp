// Streaming forms of CEncrypt's operations. The cipher streams keep the
// bytes of a block begun (and, decrypting, the last whole block) in a
// small buffer and pass every run of whole blocks to Crypto++'s CBC mode in
// one call; the Base64 streams keep the bytes of a line begun, or the
// decoder's few bits, between pieces.

#include <sundry/crypto/CryptStream.h>

#include "crypto/Base64.h"
#include "crypto/Cbc.h"

#include <cryptopp/misc.h>

#include <cstring>
#include <algorithm>

namespace sundry::crypto {

using namespace internal;

namespace {

template <class Impl, class... Args>
Impl* NewImpl(Args&&... args) noexcept {
  try {
    return new Impl(args...);
  } catch (...) {
    return nullptr;
  }
}

// The same from a key text, resolved as the whole-message functions do; the
// resolved key does not outlive the call.
template <class Impl>
Impl* NewImplFromText(const char* key) noexcept {
  unsigned char scratch[kKeyLength];
  Impl* impl = NewImpl<Impl>(ResolveKey(key, scratch));
  CryptoPP::SecureWipeBuffer(scratch, kKeyLength);
  return impl;
}

}  // namespace

// ---------------------------------------------------------------------------

struct EncryptStream::Impl {
  explicit Impl(const unsigned char* key) : cbc(key, kKeyLength, kIV) {}
  ~Impl() { CryptoPP::SecureWipeBuffer(block, kBlockLength); }
  CbcEncryption cbc;
  unsigned char block[kBlockLength] = {};
  size_t have = 0;  // bytes of the block begun
};

EncryptStream::EncryptStream(const char* key) noexcept : m_impl(NewImplFromText<Impl>(key)) {}

EncryptStream::EncryptStream(const unsigned char (&key)[32]) noexcept : m_impl(NewImpl<Impl>(key)) {}

EncryptStream::~EncryptStream() { delete m_impl; }

size_t EncryptStream::Update(const void* in, size_t n, void* out) noexcept {
  if (m_impl == nullptr || n == 0) return 0;
  auto* src = static_cast<const unsigned char*>(in);
  auto* dst = static_cast<unsigned char*>(out);
  Impl& s = *m_impl;
  size_t written = 0;
  if (s.have != 0) {
    const size_t take = std::min(n, kBlockLength - s.have);
    std::memcpy(s.block + s.have, src, take);
    s.have += take;
    src += take;
    n -= take;
    if (s.have < kBlockLength) return 0;
    s.cbc.ProcessData(dst, s.block, kBlockLength);
    s.have = 0;
    written = kBlockLength;
  }
  const size_t whole = n - n % kBlockLength;
  if (whole != 0) s.cbc.ProcessData(dst + written, src, whole);
  s.have = n - whole;
  std::memcpy(s.block, src + whole, s.have);
  return written + whole;
}

size_t EncryptStream::Final(void* out) noexcept {
  if (m_impl == nullptr) return 0;
  Impl& s = *m_impl;
  Pad(s.block, s.have);
  s.cbc.ProcessData(static_cast<unsigned char*>(out), s.block, kBlockLength);
  s.cbc.Resynchronize(kIV);
  s.have = 0;
  return kBlockLength;
}

// ---------------------------------------------------------------------------

struct DecryptStream::Impl {
  explicit Impl(const unsigned char* key) : cbc(key, kKeyLength, kIV) {}
  ~Impl() { CryptoPP::SecureWipeBuffer(held, sizeof held); }
  CbcDecryption cbc;
  // Cipher bytes not yet decrypted: the last whole block seen and the bytes
  // of a block begun after it, at most 31.
  unsigned char held[2 * kBlockLength] = {};
  size_t have = 0;
};

DecryptStream::DecryptStream(const char* key) noexcept : m_impl(NewImplFromText<Impl>(key)) {}

DecryptStream::DecryptStream(const unsigned char (&key)[32]) noexcept : m_impl(NewImpl<Impl>(key)) {}

DecryptStream::~DecryptStream() { delete m_impl; }

// A whole block may be decrypted once another whole block follows it; the
// last whole block and the bytes after it stay held.
size_t DecryptStream::Update(const void* in, size_t n, void* out) noexcept {
  if (m_impl == nullptr || n == 0) return 0;
  auto* src = static_cast<const unsigned char*>(in);
  auto* dst = static_cast<unsigned char*>(out);
  Impl& s = *m_impl;
  size_t written = 0;
  if (s.have != 0) {
    // Complete the held bytes to a block boundary.
    const size_t take = std::min(n, (kBlockLength - s.have % kBlockLength) % kBlockLength);
    std::memcpy(s.held + s.have, src, take);
    s.have += take;
    src += take;
    n -= take;
    if (s.have % kBlockLength != 0) return 0;  // the input ran out first
    if (n >= kBlockLength) {
      // A whole block follows: everything held may go.
      s.cbc.ProcessData(dst, s.held, s.have);
      written = s.have;
      s.have = 0;
    } else {
      if (s.have == 2 * kBlockLength) {
        s.cbc.ProcessData(dst, s.held, kBlockLength);
        std::memcpy(s.held, s.held + kBlockLength, kBlockLength);
        written = kBlockLength;
        s.have = kBlockLength;
      }
      std::memcpy(s.held + s.have, src, n);
      s.have += n;
      return written;
    }
  }
  const size_t rest = n % kBlockLength;
  const size_t keep = n >= kBlockLength ? kBlockLength + rest : n;
  const size_t now = n - keep;
  if (now != 0) s.cbc.ProcessData(dst + written, src, now);
  std::memcpy(s.held, src + now, keep);
  s.have = keep;
  return written + now;
}

bool DecryptStream::Final(void* out, size_t& written) noexcept {
  written = 0;
  if (m_impl == nullptr) return false;
  Impl& s = *m_impl;
  bool ok = false;
  if (s.have == kBlockLength) {
    unsigned char last[kBlockLength];
    s.cbc.ProcessData(last, s.held, kBlockLength);
    const size_t pad = PaddingLength(last);
    if (pad != 0) {
      written = kBlockLength - pad;
      std::memcpy(out, last, written);
      ok = true;
    }
    CryptoPP::SecureWipeBuffer(last, kBlockLength);
  }
  s.cbc.Resynchronize(kIV);
  s.have = 0;
  return ok;
}

// ---------------------------------------------------------------------------

size_t Base64EncodeStream::Update(const void* in, size_t n, char* out) noexcept {
  if (n == 0) return 0;
  auto* src = static_cast<const unsigned char*>(in);
  char* end = out;
  m_total += n;
  if (m_have != 0) {
    const size_t take = std::min(n, kLineBytes - m_have);
    std::memcpy(m_line + m_have, src, take);
    m_have += take;
    src += take;
    n -= take;
    if (m_have < kLineBytes) return 0;
    end = EncodeLines(m_line, kLineBytes, end);
    m_have = 0;
  }
  const size_t whole = n - n % kLineBytes;
  end = EncodeLines(src, whole, end);
  m_have = n - whole;
  std::memcpy(m_line, src + whole, m_have);
  return static_cast<size_t>(end - out);
}

size_t Base64EncodeStream::Final(char* out) noexcept {
  const size_t n = static_cast<size_t>(EncodeLastLine(m_line, m_have, out) - out);
  m_have = 0;
  m_total = 0;
  return n;
}

// ---------------------------------------------------------------------------

bool Base64DecodeStream::Update(const char* in, size_t n, void* out, size_t& written) noexcept {
  Base64Decoder decoder(Base64Decoder::State{m_bits, m_count, m_padded, m_failed, m_total});
  written = decoder.Put(in, n, static_cast<unsigned char*>(out), UpdateRoom(n));
  const Base64Decoder::State& s = decoder.state();
  m_bits = s.bits;
  m_count = s.count;
  m_padded = s.padded;
  m_failed = s.failed;
  m_total = s.total;
  return !m_failed;
}

size_t Base64DecodeStream::Final(void* out) noexcept {
  Base64Decoder decoder(Base64Decoder::State{m_bits, m_count, m_padded, m_failed, m_total});
  const size_t n = decoder.Finish(static_cast<unsigned char*>(out), kFinalRoom);
  m_bits = 0;
  m_count = 0;
  m_total = decoder.total();
  return n;
}

}  // namespace sundry::crypto
