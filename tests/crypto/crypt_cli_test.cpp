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

  TempDir dir;
  const std::string plain = std::string("plain\0text\n", 11) + std::string(300, '\xfe');
};

TEST_F(CryptCommand, AgreesWithTheLibraryBothWays) {
  ASSERT_TRUE(WriteFile(dir.file("p"), plain) && WriteFile(dir.file("key"), "my secret\n"));
  for (std::string args : {"", " --key-file KEY"}) {
    if (!args.empty()) args.replace(args.find("KEY"), 3, dir.file("key"));  // line end is not key
    std::string viaLib, viaLibText;
    CEncrypt::Encrypt(plain, args.empty() ? nullptr : "my secret", viaLib);
    CEncrypt::Base64EncodeBytesToString(viaLib.data(), viaLib.size(), viaLibText);

    ASSERT_EQ(0, Crypt("encrypt" + args, "p", "c"));
    EXPECT_EQ(viaLib, Out("c"));
    ASSERT_EQ(0, Crypt("decrypt" + args, "c", "back"));
    EXPECT_EQ(plain, Out("back"));
    ASSERT_EQ(0, Crypt("encrypt --base64" + args, "p", "c64"));
    EXPECT_EQ(viaLibText, Out("c64"));
    ASSERT_EQ(0, Crypt("decrypt --base64" + args, "c64", "back"));
    EXPECT_EQ(plain, Out("back"));
    ASSERT_EQ(0, Crypt("b64decode", "c64", "bytes"));
    EXPECT_EQ(viaLib, Out("bytes"));
    ASSERT_EQ(0, Crypt("b64encode", "bytes", "text"));
    EXPECT_EQ(viaLibText, Out("text"));
  }
}

TEST_F(CryptCommand, FailsWithAMessageAndNoOutput) {
  ASSERT_TRUE(WriteFile(dir.file("p"), plain) && WriteFile(dir.file("key"), "one key") &&
              WriteFile(dir.file("other"), "another key") && WriteFile(dir.file("blank"), "\n"));
  ASSERT_EQ(0, Crypt("encrypt --key-file " + dir.file("key"), "p", "c"));
  const std::string c = Out("c");
  ASSERT_TRUE(WriteFile(dir.file("cut"), c.substr(0, c.size() - 1)));

  EXPECT_EQ(1, Crypt("decrypt --key-file " + dir.file("other"), "c", "back"));
  EXPECT_EQ("", Out("back"));
  EXPECT_NE(std::string::npos, Out("err").find("cannot decrypt")) << Out("err");
  EXPECT_EQ(1, Crypt("decrypt --key-file " + dir.file("key"), "cut", "back"));
  EXPECT_EQ("", Out("back"));
  // An empty key text would silently mean the default key.
  EXPECT_EQ(1, Crypt("encrypt --key-file " + dir.file("blank"), "p", "c2"));
  EXPECT_NE(std::string::npos, Out("err").find("holds no key")) << Out("err");
  EXPECT_EQ("", Out("c2"));
}

// A binary key file is used byte for byte: a zero byte inside it does not
// end the key, and every byte of the 32 counts.
TEST_F(CryptCommand, BinaryKeyFileIsUsedAsItStands) {
  unsigned char raw[32];
  for (int i = 0; i < 32; ++i) raw[i] = static_cast<unsigned char>(i == 2 ? 0 : 'A' + i);
  const std::string bytes(reinterpret_cast<const char*>(raw), 32);
  std::string flipped = bytes;
  flipped[31] ^= 1;
  ASSERT_TRUE(WriteFile(dir.file("p"), plain) && WriteFile(dir.file("bin"), bytes + "trailing bytes are not key") &&
              WriteFile(dir.file("flipped"), flipped) && WriteFile(dir.file("empty"), ""));
  std::string expected, weak;
  ASSERT_EQ(0, CEncrypt::EncryptWithKey(plain, raw, expected));
  ASSERT_EQ(0, Crypt("encrypt --key-file " + dir.file("bin"), "p", "c"));
  EXPECT_EQ(expected, Out("c"));
  CEncrypt::Encrypt(plain, "AB", weak);
  EXPECT_NE(weak, Out("c")) << "the key stopped at its first zero byte";
  ASSERT_EQ(0, Crypt("encrypt --key-file " + dir.file("flipped"), "p", "c2"));
  EXPECT_NE(Out("c"), Out("c2"));
  EXPECT_EQ(1, Crypt("encrypt --key-file " + dir.file("empty"), "p", "c3"));
  EXPECT_EQ("", Out("c3"));
}

// Two Base64 texts run together are refused, as coreutils refuses them,
// instead of decoding into bytes that were never encoded.
TEST_F(CryptCommand, DataAfterBase64PaddingIsRefused) {
  ASSERT_TRUE(WriteFile(dir.file("joined"), "aGVsbG8=aGVsbG8=") && WriteFile(dir.file("padded"), "aGVsbG8=\n=\n"));
  EXPECT_EQ(1, Crypt("b64decode", "joined", "out"));
  EXPECT_EQ("", Out("out"));
  ASSERT_EQ(0, Crypt("b64decode", "padded", "out"));
  EXPECT_EQ("hello", Out("out"));
  unsigned char buf[16];
  ULONG length = sizeof buf;
  EXPECT_EQ(3, CEncrypt::Base64DecodeStringToBytes("aGVsbG8=aGVsbG8=", buf, length));
  EXPECT_EQ(0u, length);
}

}  // namespace
