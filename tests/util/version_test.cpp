// CSundry's file versions from version resources (the PE fixtures of
// tests/data/pe), and the time-stamp fallback.

#include "support/testutil.h"

#include <sundry/util/Sundry.h>

#include <cstring>
#include <string>

namespace {

using sundry::test::ReadFile;
using sundry::test::ScopedEnv;
using sundry::test::WriteFile;

const std::string kDir = std::string(SUNDRY_TEST_DATA_DIR) + "/pe/";
const std::string kDll32 = kDir + "ver-5.1.2600.2180-pe32.dll";
const std::string kNoResources = kDir + "nores-pe32.exe";

std::string versionText(const std::string& path) {
  CString text("stale");
  return CSundry::GetFileVersion(path.c_str(), text) ? text.str() : "<failed: " + text.str() + ">";
}

TEST(FileVersion, ReadsTheFixedInformationOfPe32AndPe32Plus) {
  const struct { std::string path; unsigned long major, minor, build; const char* text; } files[] = {
      {kDll32, 5, 1, 2600u * 65536u + 2180u, "05.01.170395780"},
      {kDir + "ver-1.2.345.6-pe64.exe", 1, 2, 345u * 65536u + 6u, "01.02.22609926"}};
  for (const auto& f : files) {
    unsigned long major = 9, minor = 9, build = 9;
    EXPECT_EQ(1, CSundry::GetFileVersion(f.path.c_str(), major, minor, build));
    EXPECT_EQ(f.major, major);
    EXPECT_EQ(f.minor, minor);
    EXPECT_EQ(f.build, build);
    EXPECT_EQ(f.text, versionText(f.path));
  }
  // Windows-style separators name the same file.
  std::string backslashed = kDll32;
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  EXPECT_EQ("05.01.170395780", versionText(backslashed));
}

TEST(FileVersion, DamagedOrMissingVersionsFallBackToTheTimeStamp) {
  sundry::test::TempDir dir;
  ScopedEnv tz("TZ", "UTC0");
  const std::string path = dir.file("file"), fixedSignature = "\xBD\x04\xEF\xFE";
  const std::string good = ReadFile(kDll32);
  const size_t fixed = good.find(fixedSignature);
  ASSERT_NE(std::string::npos, fixed);
  // Build numbers from 32768 on put the low double word above 2^31.
  std::string big = good;
  std::memcpy(&big[fixed + 12], "\x01\x00\xFF\xFF", 4);  // dwFileVersionLS
  ASSERT_TRUE(WriteFile(path, big));
  EXPECT_EQ("05.01.4294901761", versionText(path));

  const time_t stamp = 1706745599;  // 2024-01-31 23:59:59 UTC
  std::string noFixed = good;
  noFixed[fixed] = 0;  // a block without its fixed information
  for (const std::string& data : {ReadFile(kNoResources), ReadFile(kDir + "rcdata-only-pe64.exe"), noFixed,
                                  std::string("just text\n")}) {
    ASSERT_TRUE(WriteFile(path, data));
    ASSERT_TRUE(sundry::test::SetFileTimes(path, stamp, stamp));
    unsigned long major = 7, minor = 7, build = 7;
    EXPECT_EQ(0, CSundry::GetFileVersion(path.c_str(), major, minor, build)) << data.size();
    EXPECT_EQ(0u, major + minor + build);
    EXPECT_EQ("20240131235959", versionText(path)) << data.size();
  }
  // The stamp is in local time.
  ScopedEnv est("TZ", "EST5");
  CString text;
  EXPECT_EQ(1, CSundry::GetFileTimeStamp(path.c_str(), text));
  EXPECT_STREQ("20240131185959", text);
  // A missing file has neither.
  EXPECT_EQ("<failed: >", versionText(dir.file("absent.dll")));
}

}  // namespace
