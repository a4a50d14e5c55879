// CEncrypt: AES-256-CBC against openssl, key rules, the default key built by
// concurrent first users, bad cipher texts, and Base64 against coreutils.

#include "support/testutil.h"

#include <sundry/crypto/Encrypt.h>

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>

#include <algorithm>
#include <cstring>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

namespace {

using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::TempDir;
using sundry::test::WriteFile;

const char kKeyA[] = "0123456789abcdefghijklmnopqrstuv";  // 32 bytes
const char kKeyB[] = "0123456789abcdefghijklmnopqrstuw";  // differs in byte 31 only

// Bytes 0..255 repeated: zero bytes included.
std::string Pattern(size_t n, unsigned seed = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed) & 0xff);
  return s;
}

std::string Hex(const std::string& bytes) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : bytes) s += {d[c >> 4], d[c & 15]};
  return s;
}

// The default key by its building rule, from the built-in phrase.
std::string DefaultKeyByRule() {
  const char* phrase = sundry::crypto::internal::DefaultKeyPhrase();
  EXPECT_EQ(64u, std::strlen(phrase));
  std::string key(32, '\0');
  for (size_t j = 0; j < 32; ++j) key[j] = static_cast<char>(~(phrase[j] | phrase[2 * j]));
  return key;
}

std::string Encrypted(const std::string& plain, const char* key) {
  std::string c = "stale";
  EXPECT_EQ(0, CEncrypt::Encrypt(plain, key, c));
  return c;
}

TEST(Encrypt, RoundTripsAnyBytesWithTheKeyRules) {
  for (size_t n : {0, 15, 16, 17, 1000}) {
    const std::string plain = Pattern(n);
    for (const char* key : {static_cast<const char*>(nullptr), kKeyA}) {
      const std::string cipher = Encrypted(plain, key);
      EXPECT_EQ(16 * (n / 16 + 1), cipher.size()) << n;
      std::string back = "stale";
      EXPECT_EQ(0, CEncrypt::Decrypt(cipher, key, back));
      EXPECT_EQ(plain, back) << n;
    }
  }
  const std::string p = Pattern(40);
  EXPECT_EQ(Encrypted(p, nullptr), Encrypted(p, ""));
  EXPECT_NE(Encrypted(p, kKeyA), Encrypted(p, kKeyB)) << "all 32 bytes are key";
  EXPECT_EQ(Encrypted(p, kKeyA), Encrypted(p, "0123456789abcdefghijklmnopqrstuvEXTRA"));
  // A short text is read only up to its zero (an exact-size heap copy lets
  // the sanitizer build catch any read past it); what follows a zero is not
  // key. The padding itself is checked against openssl below.
  std::unique_ptr<char[]> shortKey(new char[4]);
  std::memcpy(shortKey.get(), "abc", 4);
  EXPECT_EQ(Encrypted(p, shortKey.get()), Encrypted(p, "abc\0zzzzzzzzzzzzzzzzzzzzzzzzzzzz"));
}

TEST(Encrypt, MatchesOpenSslByteForByte) {
  if (RunCommand("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is not installed";
  TempDir dir;
  const std::string iv = "514a5100000000000000000000000000";  // "QJQ" and 13 zeros
  const struct { const char* key; std::string hex; } keys[] = {
      {kKeyA, Hex(kKeyA)},
      {nullptr, Hex(DefaultKeyByRule())},
      {"abc", "616263" + std::string(58, '0')},  // a short text is padded with zero bytes
  };
  for (const auto& k : keys) {
    for (size_t n : {0, 16, 1001}) {
      const std::string plain = Pattern(n, 3), ours = Encrypted(plain, k.key);
      const std::string enc = "openssl enc -aes-256-cbc -K " + k.hex + " -iv " + iv;
      ASSERT_TRUE(WriteFile(dir.file("p"), plain) && WriteFile(dir.file("ours"), ours));
      ASSERT_EQ(0, RunCommand(enc + " -in " + dir.file("p") + " -out " + dir.file("c")));
      EXPECT_EQ(ReadFile(dir.file("c")), ours) << n;
      ASSERT_EQ(0, RunCommand(enc + " -d -in " + dir.file("ours") + " -out " + dir.file("back")));
      EXPECT_EQ(plain, ReadFile(dir.file("back")));
    }
  }
}

// Eight threads ask for the default key at once; returns how many of them
// got the cipher text of the key built by the rule.
int ConcurrentDefaultKeyUsers() {
  const std::string plain = Pattern(100), expected = Encrypted(plain, DefaultKeyByRule().c_str());
  std::vector<std::string> out(8);
  std::latch start(8);
  std::vector<std::thread> threads;
  for (auto& o : out) threads.emplace_back([&] { start.arrive_and_wait(); CEncrypt::Encrypt(plain, nullptr, o); });
  for (auto& t : threads) t.join();
  return static_cast<int>(std::count(out.begin(), out.end(), expected));
}

TEST(Encrypt, DefaultKeyIsBuiltSafelyByConcurrentFirstUse) {
  // The threadsafe style runs this test anew in a child process, where the
  // default key has not been built yet when the threads start.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(ConcurrentDefaultKeyUsers()), ::testing::ExitedWithCode(8), "");
}

TEST(Encrypt, DecryptReportsBadCipherTextAsFailure) {
  // A cipher text under kKeyA whose decrypted last block is as given,
  // padding bytes included.
  auto withLastBlock = [](const std::string& last) {
    const CryptoPP::byte iv[16] = {'Q', 'J', 'Q'};
    CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption cbc(reinterpret_cast<const CryptoPP::byte*>(kKeyA), 32, iv);
    std::string out;
    CryptoPP::StringSource(last, true, new CryptoPP::StreamTransformationFilter(
                                           cbc, new CryptoPP::StringSink(out),
                                           CryptoPP::StreamTransformationFilter::NO_PADDING));
    return out;
  };
  const std::string good = Encrypted("some plain text that spans blocks", kKeyA);  // 48 bytes
  const std::string bad[] = {
      "", good.substr(0, 15), good + "x", good.substr(0, 16),  // lengths, a cut
      withLastBlock(std::string(15, 'a') + '\0'),             // pad 0
      withLastBlock(std::string(15, 'a') + '\x11'),           // pad 17
      withLastBlock(std::string(13, 'a') + "\x02\x03\x03"),  // uneven pad
  };
  std::string plain;
  for (const std::string& c : bad) {
    plain = "stale";
    EXPECT_EQ(3, CEncrypt::Decrypt(c, kKeyA, plain)) << c.size();
    EXPECT_EQ("", plain);
  }
  EXPECT_EQ(3, CEncrypt::Decrypt(good, kKeyB, plain)) << "wrong key";
  EXPECT_EQ(0, CEncrypt::Decrypt(withLastBlock(std::string(13, 'a') + "\x03\x03\x03"), kKeyA, plain));
  EXPECT_EQ(std::string(13, 'a'), plain);
}

TEST(Base64, LineLayoutMatchesCoreutils) {
  std::string text = "stale";
  EXPECT_EQ(3, CEncrypt::Base64EncodeBytesToString("", 0, text));
  EXPECT_EQ("", text);
  // coreutils' base64 -w 72 writes the same layout: 72-character lines and
  // one line feed at the end, none extra after a full last line.
  TempDir dir;
  for (size_t n : {1, 2, 3, 54, 55, 108, 109, 5000}) {
    const std::string data = Pattern(n, 11);
    std::string expected;
    ASSERT_TRUE(WriteFile(dir.file("d"), data));
    ASSERT_EQ(0, RunCommand("base64 -w 72 " + dir.file("d"), &expected));
    EXPECT_EQ(0, CEncrypt::Base64EncodeBytesToString(data.data(), n, text));
    EXPECT_EQ(expected, text) << n;
  }
}

TEST(Base64, DecodeSkipsEverythingOutsideTheAlphabetAndNeverWritesPastTheBuffer) {
  char small[16];
  ULONG len = sizeof small;
  EXPECT_EQ(0, CEncrypt::Base64DecodeStringToBytes("  YW\r\nJj*ZA=\n=", small, len));
  EXPECT_EQ("abcd", std::string(small, len));
  // Nothing to decode, or data after the padding (two texts run together).
  for (const char* empty : {"", "====", "!@#$\n", "Q", "aGVsbG8=aGVsbG8="}) {
    len = sizeof small;
    EXPECT_EQ(3, CEncrypt::Base64DecodeStringToBytes(empty, small, len)) << empty;
    EXPECT_EQ(0u, len);
  }
  const std::string data = Pattern(100000, 1);
  std::string text;
  CEncrypt::Base64EncodeBytesToString(data.data(), data.size(), text);
  len = 100;  // a null buffer only asks for the length
  EXPECT_EQ(0, CEncrypt::Base64DecodeStringToBytes(text, nullptr, len));
  EXPECT_EQ(100000u, len);
  // Exact-size heap buffers, so the sanitizer build sees any write past
  // them; the guard byte shows it in the plain build.
  for (ULONG size : {0u, 1u, 4u, 99999u, 100000u}) {
    std::unique_ptr<char[]> buf(new char[size + 1]);
    buf[size] = 'G';
    len = size;
    EXPECT_EQ(0, CEncrypt::Base64DecodeStringToBytes(text, buf.get(), len));
    EXPECT_EQ(100000u, len);
    EXPECT_EQ(0, std::memcmp(buf.get(), data.data(), size));
    EXPECT_EQ('G', buf[size]) << size;
  }
}

TEST(EncryptBinary, RoundTripAndFailures) {
  const std::string block = Pattern(1000, 9);
  std::string cipher = "previous";
  EXPECT_EQ(3, CEncrypt::EncryptBinary(block.data(), 0, kKeyA, cipher));
  EXPECT_EQ("previous", cipher);
  ASSERT_EQ(0, CEncrypt::EncryptBinary(block.data(), 1000, kKeyA, cipher));
  // The cipher is the encrypted Base64 text of the block.
  std::string text, expectedText;
  ASSERT_EQ(0, CEncrypt::Decrypt(cipher, kKeyA, text));
  CEncrypt::Base64EncodeBytesToString(block.data(), 1000, expectedText);
  EXPECT_EQ(expectedText, text);

  std::vector<char> buf(1000, 'G');
  ULONG len = 10;  // too small: filled to its size, full length reported
  EXPECT_EQ(0, CEncrypt::DecryptBinary(cipher, kKeyA, buf.data(), len));
  EXPECT_EQ(1000u, len);
  EXPECT_EQ(block.substr(0, 10) + 'G', std::string(buf.data(), 11));
  EXPECT_EQ(0, CEncrypt::DecryptBinary(cipher, kKeyA, buf.data(), len));
  EXPECT_EQ(block, std::string(buf.data(), len));
  EXPECT_EQ(3, CEncrypt::DecryptBinary(cipher, kKeyB, buf.data(), len));
  EXPECT_EQ(0u, len);
}

}  // namespace
