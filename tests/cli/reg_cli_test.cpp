// The reg and demo commands of the sundry tool, run as a user would run
// them, against a store in a scratch directory.

#include "support/testutil.h"

#include <memory>
#include <string>

namespace {

using sundry::test::ReadFile;
using sundry::test::WriteFile;

std::string q(const std::string& s) { return sundry::test::ShellQuote(s); }

class RegCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_store = m_dir.file("registry.db");
    m_env = std::make_unique<sundry::test::ScopedEnv>("SUNDRY_REGISTRY", m_store.c_str());
  }

  struct Result {
    int status;
    std::string out;
    std::string err;
  };

  // Runs `sundry ARGS` (in directory dir when given); input, when given, is
  // piped to its stdin, else stdin is empty.
  Result run(const std::string& args, const char* input = nullptr, const char* dir = nullptr) {
    std::string errFile = m_dir.file("stderr.txt");
    std::string cmd = std::string(SUNDRY_CLI_PATH) + " " + args + " 2>" + q(errFile);
    cmd = input ? "printf '%s' " + q(input) + " | " + cmd : cmd + " </dev/null";
    if (dir) cmd = "cd " + q(dir) + " && " + cmd;
    Result r;
    r.status = sundry::test::RunCommand(cmd, &r.out);
    r.err = ReadFile(errFile);
    return r;
  }
  // Runs a command that must succeed and returns its stdout.
  std::string ok(const std::string& args, const char* input = nullptr) {
    Result r = run(args, input);
    EXPECT_EQ(0, r.status) << args << "\n" << r.err;
    return r.out;
  }

  sundry::test::TempDir m_dir;
  std::string m_store;
  std::unique_ptr<sundry::test::ScopedEnv> m_env;
};

const std::string kKey = R"('HKCU\Software\Cli')";

TEST_F(RegCliTest, AddAndQueryInRegStyle) {
  EXPECT_EQ("The operation completed successfully.\n", ok("reg add " + kKey + " /v Text /d 'hello world'"));
  ok("reg add " + kKey + " /v Count /t REG_DWORD /d 0x2a");
  ok("reg add " + kKey + " /v List /t REG_MULTI_SZ /d 'a;b;c' /s ';'");
  ok("reg add " + kKey + " /v Blob /t REG_BINARY /d 00ff10");
  ok("reg add " + kKey + " /v Big /t REG_QWORD /d 18446744073709551615");
  ok("reg add " + kKey + " /ve /d dflt");
  ok(R"(reg add 'HKEY_CURRENT_USER\Software\Cli\Sub')");

  EXPECT_EQ(
      "\nHKEY_CURRENT_USER\\Software\\Cli\n"
      "    Text    REG_SZ    hello world\n"
      "    Count    REG_DWORD    0x2a\n"
      "    List    REG_MULTI_SZ    a\\0b\\0c\n"
      "    Blob    REG_BINARY    00FF10\n"
      "    Big    REG_QWORD    0xffffffffffffffff\n"
      "    (Default)    REG_SZ    dflt\n"
      "\nHKEY_CURRENT_USER\\Software\\Cli\\Sub\n",
      ok("reg query " + kKey));
  EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\Cli\n    Count    REG_DWORD    0x2a\n",
            ok("reg query " + kKey + " /v COUNT"));
  EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\Cli\n    (Default)    REG_SZ    dflt\n",
            ok("reg query " + kKey + " --default-value"));

  ok(R"(reg add 'HKCU\Software\Cli\Sub' /v Count /t REG_DWORD /d 7)");
  std::string all = ok("reg query " + kKey + " /s /v count");
  EXPECT_NE(std::string::npos, all.find("HKEY_CURRENT_USER\\Software\\Cli\\Sub\n    Count    REG_DWORD    0x7\n"));
  EXPECT_NE(std::string::npos, all.find("End of search: 2 match(es) found.")) << all;

  Result missing = run("reg query " + kKey + " /v Nothing");
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(std::string::npos, missing.err.find("The system cannot find the file specified.")) << missing.err;
  EXPECT_EQ(1, run(R"(reg query 'HKCU\Software\Nowhere')").status);
}

TEST_F(RegCliTest, SwitchesLongOptionsAndOddData) {
  // Slash switches in any case, long options, and data that looks like a switch.
  ok("reg add " + kKey + " /V a /T reg_sz /D -dash /F");
  ok("reg add " + kKey + " --value b --data=/f --force");
  ok("reg add " + kKey + " /v c /d /f /f");
  ok("reg add " + kKey + " /v empty /d ''");
  ok("reg add " + kKey + " --value n --type REG_DWORD_BIG_ENDIAN --data 258");
  EXPECT_EQ(
      "\nHKEY_CURRENT_USER\\Software\\Cli\n"
      "    a    REG_SZ    -dash\n"
      "    b    REG_SZ    /f\n"
      "    c    REG_SZ    /f\n"
      "    empty    REG_SZ    \n"
      "    n    REG_DWORD_BIG_ENDIAN    0x102\n\n",
      ok("reg QUERY " + kKey));
  std::string text = ok("reg export " + kKey + " -");
  EXPECT_NE(std::string::npos, text.find("\"n\"=hex(5):00,00,01,02\r\n")) << text;

  // Usage errors end with status 2 and change nothing.
  const char* usage[] = {
      "reg",
      "reg add",
      "reg add 'HKXX\\Software'",
      "reg add 'HKCU\\Software\\Cli' /v x /t REG_WHATEVER /d 1",
      "reg add 'HKCU\\Software\\Cli' /v x /t REG_DWORD /d 4294967296",
      "reg add 'HKCU\\Software\\Cli' /v x /t REG_DWORD /d 12abc",
      "reg add 'HKCU\\Software\\Cli' /v x /t REG_BINARY /d 0g",
      "reg add 'HKCU\\Software\\Cli' /v x /t REG_MULTI_SZ /d 'a\\0\\0b'",
      "reg add 'HKCU\\Software\\Cli' /v x /ve /d 1",
      "reg delete 'HKCU\\Software\\Cli' /v x /va",
      "reg query 'HKCU\\Software\\Cli' /z",
      "reg export 'HKCU\\Software\\Cli'",
  };
  for (const char* args : usage) {
    Result r = run(args);
    EXPECT_EQ(2, r.status) << args << "\n" << r.out << r.err;
  }
  EXPECT_EQ(text, ok("reg export " + kKey + " -"));
}

TEST_F(RegCliTest, ConfirmationsGuardOverwritesAndDeletes) {
  ok("reg add " + kKey + " /v v /d one");
  Result r = run("reg add " + kKey + " /v v /d two");  // no answer on stdin
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("The operation was canceled by the user.")) << r.err;
  EXPECT_NE(std::string::npos, ok("reg query " + kKey + " /v v").find("one"));
  ok("reg add " + kKey + " /v v /d two", "yes\n");
  EXPECT_NE(std::string::npos, ok("reg query " + kKey + " /v v").find("two"));
  ok("reg add " + kKey + " /v v /d three /f");
  EXPECT_NE(std::string::npos, ok("reg query " + kKey + " /v v").find("three"));

  ok("reg add " + kKey + " /v w /d x");
  ok("reg add " + kKey + " /ve /d d");
  ok(R"(reg add 'HKCU\Software\Cli\A\B' /v deep /d 1)");
  EXPECT_EQ(1, run("reg delete " + kKey + " /v v", "no\n").status);
  ok("reg delete " + kKey + " /v v", "y\n");
  EXPECT_EQ(1, run("reg query " + kKey + " /v v").status);
  EXPECT_EQ(1, run("reg delete " + kKey + " /v v /f").status);  // already gone
  ok("reg delete " + kKey + " /ve /f");
  EXPECT_EQ(1, run("reg query " + kKey + " /ve").status);
  ok("reg delete " + kKey + " /va /f");
  EXPECT_EQ("\nHKEY_CURRENT_USER\\Software\\Cli\n\nHKEY_CURRENT_USER\\Software\\Cli\\A\n", ok("reg query " + kKey));

  EXPECT_EQ(1, run("reg delete " + kKey).status);  // not confirmed
  EXPECT_EQ(0, run(R"(reg query 'HKCU\Software\Cli\A\B')").status);
  ok("reg delete " + kKey + " /f");
  EXPECT_EQ(1, run("reg query " + kKey).status);
  EXPECT_EQ(1, run("reg delete " + kKey + " /f").status);
  EXPECT_EQ(1, run("reg delete HKCU /f").status);
  EXPECT_EQ(0, run("reg query HKCU").status);
}

TEST_F(RegCliTest, ExportImportThroughFiles) {
  ok("reg add " + kKey + " /v s /d 'C:\\dir \"q\"'");
  ok(R"(reg add 'HKCU\Software\Cli\Sub' /v n /t REG_DWORD /d 1)");
  const std::string file = m_dir.file("out.reg");
  ok("reg export " + kKey + " " + q(file));
  const std::string text = ReadFile(file);
  EXPECT_EQ(0u, text.find("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Cli]\r\n")) << text;
  EXPECT_EQ(text, ok("reg export " + kKey + " -"));

  ok("reg add " + kKey + " /v later /d 1");
  EXPECT_EQ(1, run("reg export " + kKey + " " + q(file)).status);  // exists, not confirmed
  EXPECT_EQ(text, ReadFile(file));
  ok("reg delete " + kKey + " /f");
  EXPECT_EQ("The operation completed successfully.\n", ok("reg import " + q(file)));
  ok("reg export " + kKey + " " + q(file) + " /y");
  EXPECT_EQ(text, ReadFile(file));

  Result missing = run("reg import " + q(m_dir.file("nope.reg")));
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(std::string::npos, missing.err.find("nope.reg")) << missing.err;
}

TEST_F(RegCliTest, MalformedImportIsRefusedWithItsLine) {
  const std::string file = m_dir.file("bad.reg");
  ASSERT_TRUE(WriteFile(file,
                        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Half]\r\n\"a\"=\"1\"\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Cli]\r\n\"b\"=dword:xyz\r\n"));
  Result r = run("reg import " + q(file));
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("line 7:")) << r.err;
  EXPECT_EQ(1, run(R"(reg query 'HKCU\Software\Half')").status);
  EXPECT_EQ(1, run("reg query " + kKey).status);
}

TEST_F(RegCliTest, RefusedDeleteChangesNothing) {
  ok(R"(reg add 'HKCR\.txt' /ve /d textfile /f)");
  ok(R"(reg add 'HKLM\SOFTWARE\Aaa' /f)");
  Result r = run(R"(reg delete 'HKLM\SOFTWARE\Classes' --force)");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Access is denied")) << r.err;
  EXPECT_NE(std::string::npos, ok(R"(reg query 'HKCR\.txt')").find("textfile"));
  EXPECT_EQ(1, run(R"(reg delete 'HKLM\SOFTWARE' /f)").status);
  EXPECT_EQ(0, run(R"(reg query 'HKLM\SOFTWARE\Aaa')").status);
}

TEST_F(RegCliTest, ControlCharactersNeitherEnterNamesNorReachTheTerminal) {
  // A carriage return in a key or value name is refused, so exports keep
  // working.
  Result r = run("reg add " + q("HKCU\\Software\\Cli\\a\rb") + " /f");
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("HKEY_CURRENT_USER\\Software\\Cli\\a\\rb")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find('\r'));
  EXPECT_EQ(2, run("reg add " + kKey + " /v " + q("x\ny") + " /d 1 /f").status);
  // Data may hold any bytes; query shows control characters escaped.
  ok("reg add " + kKey + " /v Text /d " + q("one\r\ntwo\x1b[31m\ttab") + " /f");
  ok("reg add " + kKey + " /v Multi /t REG_MULTI_SZ /d " + q("a\x07" "b\\0c"));
  for (const char* args : {" /s", " /v Text", ""}) {
    std::string out = ok("reg query " + kKey + args);
    EXPECT_EQ(std::string::npos, out.find_first_of("\r\x1b\t\x07")) << args;
    if (std::string(args) != " /v Text") {
      EXPECT_NE(std::string::npos, out.find("    REG_MULTI_SZ    a\\x07b\\0c"));
    }
    EXPECT_NE(std::string::npos, out.find("    Text    REG_SZ    one\\r\\ntwo\\x1b[31m\\ttab\n")) << out;
  }
  std::string exported = ok("reg export " + kKey + " -");
  EXPECT_NE(std::string::npos, exported.find("[HKEY_CURRENT_USER\\Software\\Cli]\r\n"));
}

TEST_F(RegCliTest, DemoRoundTripsTheSample) {
  // From the source tree with the default sample and a temporary store,
  // leaving the store named by SUNDRY_REGISTRY alone.
  Result r = run("demo", nullptr, SUNDRY_SOURCE_DIR);
  ASSERT_EQ(0, r.status) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find("(temporary)"));
  EXPECT_NE(std::string::npos, r.out.find("    Greeting    REG_SZ    Hello from the embedded registry\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\nREGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Sundry Demo]\r\n"));
  EXPECT_NE(std::string::npos, r.out.find("Round trip:"));
  EXPECT_FALSE(sundry::test::Exists(m_store)) << "the demo touched the store named by SUNDRY_REGISTRY";

  // A given sample, a kept store and the export in a file.
  const std::string store = m_dir.file("kept.db"), out = m_dir.file("demo.reg");
  r = run("demo --file " + q(std::string(SUNDRY_SOURCE_DIR) + "/data/sample.reg") + " --store " + q(store) +
          " --out " + q(out));
  ASSERT_EQ(0, r.status) << r.out << r.err;
  EXPECT_EQ(std::string::npos, r.out.find("REGEDIT4"));
  sundry::test::ScopedEnv kept("SUNDRY_REGISTRY", store.c_str());
  EXPECT_EQ(ReadFile(out), ok(R"(reg export 'HKCU\Software\Sundry Demo' -)"));

  ASSERT_TRUE(WriteFile(m_dir.file("broken.reg"), "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"a\"=\r\n"));
  Result bad = run("demo --file " + q(m_dir.file("broken.reg")));
  EXPECT_EQ(1, bad.status);
  EXPECT_NE(std::string::npos, bad.err.find("line 3:")) << bad.err;
}

}  // namespace
