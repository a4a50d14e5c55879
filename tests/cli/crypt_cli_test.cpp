// sundry crypt, run as a user would: the same bytes as the library, key
// files as text or as raw bytes, and refusals that write nothing.

#include "support/testutil.h"

#include <sundry/crypto/Encrypt.h>

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

}  // namespace
