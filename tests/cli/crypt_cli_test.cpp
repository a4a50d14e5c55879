// sundry crypt, run as a user would: the same bytes as the library, key
// files as text or as raw bytes, refusals that write nothing, and streams:
// inputs of any size, through pipes that deliver a byte at a time.

#include "support/testutil.h"

#include <sundry/crypto/Encrypt.h>

#include <cstdio>
#include <sys/wait.h>

namespace {

using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::TempDir;
using sundry::test::WriteFile;

class CryptCommand : public ::testing::Test {
 protected:
  // Runs "sundry crypt ARGS < in > out" and returns the exit status.
  int Crypt(const std::string& args, const std::string& in, const std::string& out) {
    return RunCommand(std::string(SUNDRY_CLI_PATH) + " crypt " + args + " < " + dir.file(in) + " > " +
                      dir.file(out) + " 2> " + dir.file("err"));
  }
  std::string Out(const std::string& name) { return ReadFile(dir.file(name)); }
  // Runs "sundry crypt ARGS > out" with in written to its standard input
  // one byte per write; returns the exit status.
  int Trickle(const std::string& args, const std::string& in, const std::string& out) {
    FILE* p = popen((std::string(SUNDRY_CLI_PATH) + " crypt " + args + " > " + dir.file(out) + " 2> " +
                     dir.file("err")).c_str(), "w");
    if (p == nullptr) return -1;
    setvbuf(p, nullptr, _IONBF, 0);
    for (char c : in) std::fputc(c, p);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Cli() const { return SUNDRY_CLI_PATH; }
  std::string KeyFile(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(WriteFile(dir.file(name), bytes));
    return " --key-file " + dir.file(name);
  }

  TempDir dir;
  const std::string plain = std::string("plain\0text\n", 11) + std::string(300, '\xfe');
  void SetUp() override { ASSERT_TRUE(WriteFile(dir.file("p"), plain)); }
};

TEST_F(CryptCommand, AgreesWithTheLibraryBothWays) {
  const std::string keyed = KeyFile("key", "my secret\n");  // the line end is not key
  for (const std::string& args : {std::string(), keyed}) {
    std::string viaLib, viaLibText;
    CEncrypt::Encrypt(plain, args.empty() ? nullptr : "my secret", viaLib);
    CEncrypt::Base64EncodeBytesToString(viaLib.data(), viaLib.size(), viaLibText);
    // Each step reads the file an earlier one wrote.
    const struct { std::string args, in, out, expected; } steps[] = {
        {"encrypt" + args, "p", "c", viaLib},          {"decrypt" + args, "c", "back", plain},
        {"encrypt --base64" + args, "p", "c64", viaLibText}, {"decrypt --base64" + args, "c64", "back", plain},
        {"b64decode", "c64", "bytes", viaLib},         {"b64encode", "bytes", "text", viaLibText}};
    for (const auto& step : steps) {
      ASSERT_EQ(0, Crypt(step.args, step.in, step.out)) << step.args;
      EXPECT_EQ(step.expected, Out(step.out)) << step.args;
    }
  }
}

TEST_F(CryptCommand, FailsWithAMessageAndNoOutput) {
  const std::string key = KeyFile("key", "one key");
  ASSERT_EQ(0, Crypt("encrypt" + key, "p", "c"));
  ASSERT_TRUE(WriteFile(dir.file("cut"), Out("c").substr(0, Out("c").size() - 1)));
  EXPECT_EQ(1, Crypt("decrypt" + KeyFile("other", "another key"), "c", "back"));
  EXPECT_EQ("", Out("back"));
  EXPECT_NE(std::string::npos, Out("err").find("cannot decrypt")) << Out("err");
  EXPECT_EQ(1, Crypt("decrypt" + key, "cut", "back"));
  EXPECT_EQ("", Out("back"));
  // An empty key text would silently mean the default key.
  for (const char* empty : {"\n", ""}) {
    EXPECT_EQ(1, Crypt("encrypt" + KeyFile("blank", empty), "p", "c2"));
    EXPECT_NE(std::string::npos, Out("err").find("holds no key")) << Out("err");
    EXPECT_EQ("", Out("c2"));
  }
}

// A binary key file is used byte for byte: a zero byte inside it does not
// end the key, and every byte of the 32 counts.
TEST_F(CryptCommand, BinaryKeyFileIsUsedAsItStands) {
  unsigned char raw[32];
  for (int i = 0; i < 32; ++i) raw[i] = static_cast<unsigned char>(i == 2 ? 0 : 'A' + i);
  const std::string bytes(reinterpret_cast<const char*>(raw), 32);
  std::string flipped = bytes, expected, weak;
  flipped[31] ^= 1;
  ASSERT_EQ(0, CEncrypt::EncryptWithKey(plain, raw, expected));
  ASSERT_EQ(0, Crypt("encrypt" + KeyFile("bin", bytes + "trailing bytes are not key"), "p", "c"));
  EXPECT_EQ(expected, Out("c"));
  CEncrypt::Encrypt(plain, "AB", weak);
  EXPECT_NE(weak, Out("c")) << "the key stopped at its first zero byte";
  ASSERT_EQ(0, Crypt("encrypt" + KeyFile("flipped", flipped), "p", "c2"));
  EXPECT_NE(Out("c"), Out("c2"));
}

// Two Base64 texts run together are refused, as coreutils refuses them,
// instead of decoding into bytes that were never encoded.
TEST_F(CryptCommand, DataAfterBase64PaddingIsRefused) {
  ASSERT_TRUE(WriteFile(dir.file("joined"), "aGVsbG8=aGVsbG8=") && WriteFile(dir.file("padded"), "aGVsbG8=\n=\n"));
  EXPECT_EQ(1, Crypt("b64decode", "joined", "out"));
  EXPECT_EQ("", Out("out"));
  ASSERT_EQ(0, Crypt("b64decode", "padded", "out"));
  EXPECT_EQ("hello", Out("out"));
}

TEST_F(CryptCommand, EmptyAndOneBlockInputs) {
  std::string empty, oneBlock;
  CEncrypt::Encrypt("", nullptr, empty);
  CEncrypt::Encrypt(std::string(16, 'b'), nullptr, oneBlock);
  ASSERT_TRUE(WriteFile(dir.file("none"), "") && WriteFile(dir.file("16"), std::string(16, 'b')) &&
              WriteFile(dir.file("c0"), empty));
  ASSERT_EQ(0, Crypt("encrypt", "none", "c"));
  EXPECT_EQ(empty, Out("c"));
  ASSERT_EQ(0, Crypt("encrypt", "16", "c"));
  EXPECT_EQ(oneBlock, Out("c"));
  ASSERT_EQ(0, Crypt("decrypt", "c0", "back"));  // one block of padding only
  EXPECT_EQ("", Out("back"));
  EXPECT_EQ(1, Crypt("decrypt", "none", "back"));
  EXPECT_NE(std::string::npos, Out("err").find("cannot decrypt")) << Out("err");
  EXPECT_EQ(1, Crypt("b64encode", "none", "t"));
  EXPECT_NE(std::string::npos, Out("err").find("the input is empty")) << Out("err");
  EXPECT_EQ(1, Crypt("b64decode", "none", "t"));
  EXPECT_EQ(1, Crypt("decrypt --base64", "none", "t"));
}

TEST_F(CryptCommand, PipesThatDeliverOneByteAtATime) {
  std::string cipher, text;
  CEncrypt::Encrypt(plain, nullptr, cipher);
  CEncrypt::Base64EncodeBytesToString(cipher.data(), cipher.size(), text);
  ASSERT_EQ(0, Trickle("encrypt", plain, "c"));
  EXPECT_EQ(cipher, Out("c"));
  ASSERT_EQ(0, Trickle("decrypt --base64", text, "back"));
  EXPECT_EQ(plain, Out("back"));
  ASSERT_EQ(0, Trickle("b64decode", text, "bytes"));
  EXPECT_EQ(cipher, Out("bytes"));
  // Cut short on a pipe: refused, and nothing of it written.
  EXPECT_EQ(1, Trickle("decrypt", cipher.substr(0, cipher.size() - 5), "back"));
  EXPECT_EQ("", Out("back"));
  EXPECT_NE(std::string::npos, Out("err").find("cannot decrypt")) << Out("err");
}

// Cut cipher texts on a pipe: one of 1 MiB, all of which the command holds
// back, writes nothing; from a longer one what was written is a true prefix
// of the plain text without its last block, and the message says that it
// is incomplete.
TEST_F(CryptCommand, LongCutCipherTextSaysTheOutputIsIncomplete) {
  std::string big(3 << 20, '\0'), cipher;
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
  CEncrypt::Encrypt(big, nullptr, cipher);
  ASSERT_TRUE(WriteFile(dir.file("c"), cipher));
  auto cutTo = [&](size_t n) {
    return RunCommand("head -c " + std::to_string(n) + " " + dir.file("c") + " | " + Cli() + " crypt decrypt > " +
                      dir.file("back") + " 2> " + dir.file("err"));
  };
  EXPECT_EQ(1, cutTo(1 << 20));
  EXPECT_EQ("", Out("back"));
  EXPECT_EQ(std::string::npos, Out("err").find("incomplete")) << Out("err");
  EXPECT_EQ(1, cutTo(cipher.size() - 16));
  const std::string back = Out("back");
  EXPECT_GT(back.size(), 0u);
  EXPECT_LE(back.size() + 16, big.size());
  EXPECT_EQ(big.substr(0, back.size()), back);
  EXPECT_NE(std::string::npos, Out("err").find("incomplete")) << Out("err");
}

// A 1 GiB stream, never held in memory, checked by size and digest:
// encrypted as openssl does, decrypted back, in flat memory.
TEST_F(CryptCommand, GigabyteStreamsThroughInFlatMemory) {
  if (RunCommand("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is not installed";
#if defined(__SANITIZE_ADDRESS__)
  const long long size = 64ll << 20;  // the instrumented build is slower
#else
  const long long size = 1ll << 30;
#endif
  const std::string gen = "{ openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f -iv 0 -in /dev/zero "
                          "2>/dev/null || true; } | head -c " + std::to_string(size);
  const std::string key = "0123456789abcdefghijklmnopqrstuv", keyFile = KeyFile("key", key);
  std::string hex;
  for (unsigned char c : key) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
  const std::string timed = RunCommand("test -x /usr/bin/time") == 0 ? "/usr/bin/time -f %M -o " : "";
  auto measured = [&](const char* peakFile) { return timed.empty() ? std::string() : timed + peakFile + " "; };
  // The digests and the size are taken by readers of named pipes that tee
  // feeds, so nothing of the stream lands on disk. openssl decrypting the
  // cipher text to the plain text shows that it is the cipher text openssl
  // writes: with a fixed vector the cipher is one-to-one.
  const std::string script = "cd " + dir.path() + " && mkfifo p1 p2 p3 || exit 1\n"
      "$sha < p1 > plain.sha &\nwc -c < p3 > cipher.size &\n"
      "openssl enc -d -aes-256-cbc -K " + hex + " -iv 514a5100000000000000000000000000 < p2 | $sha > openssl.sha &\n" +
      gen + " | tee p1 | " + measured("enc.peak") + Cli() + " crypt encrypt" + keyFile + " | tee p2 p3 | " +
      measured("dec.peak") + Cli() + " crypt decrypt" + keyFile + " | $sha > back.sha || exit 1\nwait";
  ASSERT_EQ(0, RunCommand("bash -c 'set -o pipefail\nsha=\"openssl dgst -sha256 -r\"\n" + script + "'"));
  EXPECT_EQ(std::to_string(size + 16) + "\n", Out("cipher.size"));
  EXPECT_EQ(64u, Out("plain.sha").find(' ')) << "a SHA-256 digest in hex: " << Out("plain.sha");
  EXPECT_EQ(Out("plain.sha"), Out("back.sha"));
  EXPECT_EQ(Out("plain.sha"), Out("openssl.sha"));
#if !defined(__SANITIZE_ADDRESS__)
  for (const char* peak : {"enc.peak", "dec.peak"}) {
    if (timed.empty()) continue;
    EXPECT_LT(std::stol(Out(peak)), 32 << 10) << peak << " KiB";
  }
#endif
}

}  // namespace
