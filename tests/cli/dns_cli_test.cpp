// sundry dns, run as a user would, on a resolver file of its own.

#include "support/testutil.h"


namespace {

using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::TempDir;
using sundry::test::WriteFile;

TEST(DnsCommand, ShowSetClearAndRefuse) {
  TempDir dir;
  const std::string file = dir.file("resolv.conf");
  const std::string cli = "SUNDRY_RESOLV_CONF=" + file + " " + SUNDRY_CLI_PATH + " dns ";
  ASSERT_TRUE(WriteFile(file, "nameserver 192.0.2.1\nsearch a.example b.example\n"));
  std::string out;
  EXPECT_EQ(0, RunCommand(cli + "show", &out));
  EXPECT_EQ("a.example\nb.example\n", out);

  EXPECT_EQ(0, RunCommand(cli + "set corp.example lab.example", &out));
  EXPECT_EQ("nameserver 192.0.2.1\nsearch corp.example lab.example\n", ReadFile(file));
  EXPECT_EQ(0, RunCommand(cli + "show", &out));
  EXPECT_EQ("corp.example\nlab.example\n", out);

  // A suffix with a line feed would add a resolver line: refused, file kept.
  EXPECT_EQ(1, RunCommand(cli + "set ok.example \"$(printf 'x\\nnameserver 6.6.6.6')\" 2>/dev/null", &out));
  EXPECT_EQ(1, RunCommand(cli + "set 'a b' 2>/dev/null", &out));
  EXPECT_EQ("nameserver 192.0.2.1\nsearch corp.example lab.example\n", ReadFile(file));

  EXPECT_EQ(0, RunCommand(cli + "set", &out));
  EXPECT_EQ("nameserver 192.0.2.1\n", ReadFile(file));
  EXPECT_EQ(0, RunCommand(cli + "show", &out));
  EXPECT_EQ("", out);
}

}  // namespace
