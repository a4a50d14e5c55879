// The streaming forms against CEncrypt's whole-message results, whatever
// the pieces; the decrypting stream's hold-back and refusals; the Base64
// decoder against Crypto++'s on noisy text; CEncrypt's reuse of the strings
// it is given.

#include "support/testutil.h"

#include <sundry/crypto/CryptStream.h>
#include <sundry/crypto/Encrypt.h>

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include <random>
#include <string>
#include <vector>

namespace {

using sundry::crypto::Base64DecodeStream;
using sundry::crypto::Base64EncodeStream;
using sundry::crypto::DecryptStream;
using sundry::crypto::EncryptStream;

const char kKey[] = "0123456789abcdefghijklmnopqrstuv";

std::string Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Piece sizes: fixed ones, then random ones up to 200.
std::vector<size_t> Pieces(size_t kind, size_t total) {
  std::vector<size_t> sizes;
  std::mt19937 rng(static_cast<unsigned>(kind));
  const size_t fixed[] = {1, 15, 16, 17, 53, 54, 55, 4096};
  for (size_t done = 0; done < total;) {
    size_t n = kind < std::size(fixed) ? fixed[kind] : rng() % 200;
    n = std::min(n, total - done);
    sizes.push_back(n);  // a zero-length piece now and then, too
    done += n;
  }
  return sizes;
}
constexpr size_t kPieceKinds = 11;

// Runs in through a stream piece by piece; update(in, n, out) and
// final(out) return what they wrote. 2n + 80 is room enough for any stream.
template <class Update, class Final>
std::string Stream(const std::string& in, size_t kind, Update update, Final final) {
  std::string out;
  size_t at = 0;
  for (size_t n : Pieces(kind, in.size())) {
    std::string piece(2 * n + 80, '\0');
    piece.resize(update(in.data() + at, n, piece.data()));
    out += piece;
    at += n;
  }
  std::string last(80, '\0');
  last.resize(final(last.data()));
  return out + last;
}

TEST(CryptStream, GivesTheWholeMessageResultWhateverThePieces) {
  for (size_t size : {0, 1, 15, 16, 17, 53, 54, 55, 108, 5000}) {
    const std::string plain = Random(size, static_cast<unsigned>(size));
    std::string cipher, text;
    ASSERT_EQ(0, CEncrypt::Encrypt(plain, kKey, cipher));
    CEncrypt::Base64EncodeBytesToString(plain.data(), static_cast<ULONG>(size), text);
    for (size_t kind = 0; kind < kPieceKinds; ++kind) {
      EncryptStream enc(kKey);
      DecryptStream dec(kKey);
      Base64EncodeStream b64enc;
      Base64DecodeStream b64dec;
      ASSERT_TRUE(enc.ok() && dec.ok());
      bool verified = false;
      EXPECT_EQ(cipher, Stream(plain, kind, [&](auto* in, size_t n, char* out) { return enc.Update(in, n, out); },
                               [&](char* out) { return enc.Final(out); }))
          << size << " " << kind;
      EXPECT_EQ(plain, Stream(cipher, kind, [&](auto* in, size_t n, char* out) { return dec.Update(in, n, out); },
                              [&](char* out) {
                                size_t n = 0;
                                verified = dec.Final(out, n);
                                return n;
                              }))
          << size << " " << kind;
      EXPECT_TRUE(verified);
      EXPECT_EQ(text, Stream(plain, kind,
                             [&](auto* in, size_t n, char* out) { return b64enc.Update(in, n, out); },
                             [&](char* out) { return b64enc.Final(out); }))
          << size << " " << kind;
      EXPECT_EQ(plain, Stream(text, kind,
                              [&](auto* in, size_t n, char* out) {
                                size_t w = 0;
                                EXPECT_TRUE(b64dec.Update(in, n, out, w));
                                return w;
                              },
                              [&](char* out) { return b64dec.Final(out); }))
          << size << " " << kind;
    }
  }
}

TEST(CryptStream, DecryptHoldsBackTheLastBlockAndRefusesBadEnds) {
  const std::string plain = Random(100, 1);
  std::string cipher;  // 112 bytes
  ASSERT_EQ(0, CEncrypt::Encrypt(plain, kKey, cipher));
  DecryptStream dec(kKey);
  std::string out(cipher.size() + 15, '\0');
  // However the cipher text comes, the last block stays held until Final.
  EXPECT_EQ(96u, dec.Update(cipher.data(), cipher.size(), out.data()));
  EXPECT_EQ(plain.substr(0, 96), out.substr(0, 96));
  size_t n = 99;
  ASSERT_TRUE(dec.Final(out.data(), n));
  EXPECT_EQ(plain.substr(96), out.substr(0, n));

  std::string flipped = cipher;
  flipped[cipher.size() - 17] ^= 1;  // the padding of the last block changes
  const std::string bad[] = {"", cipher.substr(0, 15), cipher.substr(0, 111), cipher + "x", cipher.substr(0, 96),
                             flipped};
  for (const std::string& c : bad) {
    size_t written = 0;
    for (char byte : c) written += dec.Update(&byte, 1, out.data());
    EXPECT_LE(written + 16, std::max<size_t>(c.size(), 16)) << c.size();
    n = 99;
    EXPECT_FALSE(dec.Final(out.data(), n)) << c.size();
    EXPECT_EQ(0u, n);
  }
  DecryptStream wrongKey("another key");
  EXPECT_EQ(96u, wrongKey.Update(cipher.data(), cipher.size(), out.data()));
  EXPECT_FALSE(wrongKey.Final(out.data(), n));
  // After a refusal the stream takes a new message.
  EXPECT_EQ(96u, dec.Update(cipher.data(), cipher.size(), out.data()));
  EXPECT_TRUE(dec.Final(out.data() + 96, n));
  EXPECT_EQ(plain, out.substr(0, 96 + n));
}

// Crypto++'s decoder skips what is outside the alphabet exactly as ours
// must; texts with noise anywhere, ends cut at every length of the last
// group, and no padding that letters follow.
TEST(Base64, DecoderAgreesWithCryptoPpOnNoisyText) {
  std::mt19937 rng(7);
  const std::string noise(" \t\r\n*-_.!\x80\xff\0", 12);
  for (int round = 0; round < 300; ++round) {
    std::string clean;
    const std::string data = Random(1 + rng() % 300, round);
    CEncrypt::Base64EncodeBytesToString(data.data(), static_cast<ULONG>(data.size()), clean);
    clean.resize(clean.size() - rng() % 6);  // cut the padding or more
    std::string text;
    for (char c : clean) {
      if (rng() % 8 == 0) text += noise[rng() % noise.size()];
      text += c;
    }
    std::string expected;
    CryptoPP::StringSource(text, true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(expected)));
    std::vector<char> buf(text.size() + 3);
    ULONG len = static_cast<ULONG>(buf.size());
    EXPECT_EQ(expected.empty() ? 3 : 0, CEncrypt::Base64DecodeStringToBytes(text, buf.data(), len));
    EXPECT_EQ(expected, std::string(buf.data(), len)) << text;
    // And the stream, a character at a time.
    Base64DecodeStream stream;
    std::string streamed;
    for (char c : text) {
      char out[4];
      size_t w = 0;
      ASSERT_TRUE(stream.Update(&c, 1, out, w));
      streamed.append(out, w);
    }
    char out[2];
    streamed.append(out, stream.Final(out));
    EXPECT_EQ(expected, streamed);
    EXPECT_EQ(expected.size(), stream.total());
  }
  Base64DecodeStream joined;
  char out[16];
  size_t w = 0;
  EXPECT_FALSE(joined.Update("aGk=aGk=", 8, out, w));
  EXPECT_TRUE(joined.failed());
}

TEST(Encrypt, ReusesTheStringsItIsGivenWithoutLeavingOldBytes) {
  const std::string plain = Random(1000, 3);
  std::string expected;
  ASSERT_EQ(0, CEncrypt::Encrypt(plain, kKey, expected));
  // A string handed over with room for the padding is encrypted in place.
  std::string roomy = plain;
  roomy.reserve(2000);
  const char* memory = roomy.data();
  std::string cipher(5000, 'x');  // a longer result string of an earlier call
  ASSERT_EQ(0, CEncrypt::Encrypt(std::move(roomy), kKey, cipher));
  EXPECT_EQ(expected, cipher);
  EXPECT_EQ(memory, cipher.data());
  cipher.assign(5000, 'x');
  ASSERT_EQ(0, CEncrypt::Encrypt(plain, kKey, cipher));
  EXPECT_EQ(expected, cipher);
  std::string back(3000, 'y');
  ASSERT_EQ(0, CEncrypt::Decrypt(expected, kKey, back));
  EXPECT_EQ(plain, back);
  // The argument and the result may be one string.
  std::string same = plain;
  ASSERT_EQ(0, CEncrypt::Encrypt(same, kKey, same));
  EXPECT_EQ(expected, same);
  ASSERT_EQ(0, CEncrypt::Decrypt(same, kKey, same));
  EXPECT_EQ(plain, same);
  ASSERT_EQ(0, CEncrypt::Encrypt(std::move(same), kKey, same));
  EXPECT_EQ(expected, same);
  // A refused cipher text leaves no stale bytes behind either.
  back.assign(3000, 'y');
  EXPECT_EQ(3, CEncrypt::Decrypt(expected.substr(16), "another key", back));
  EXPECT_EQ("", back);
}

}  // namespace
