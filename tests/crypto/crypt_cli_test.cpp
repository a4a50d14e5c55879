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

}  // namespace
