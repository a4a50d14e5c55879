// INI profile files: GetPrivateProfileStringA and WritePrivateProfileStringA.

#include "support/testutil.h"

#include <sundry/platform/profile.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

using namespace sundry::test;

class ProfileTest : public ::testing::Test {
 protected:
  std::string get(const char* section, const char* key, const char* dflt = "none", DWORD size = 256) {
    char buf[256];
    std::memset(buf, 'X', sizeof buf);
    m_result = GetPrivateProfileStringA(section, key, dflt, buf, size, m_ini.c_str());
    m_error = GetLastError();
    return std::string(buf, m_result);
  }
  // Names listed by a null section or key, "|"-joined. Each name ends in a
  // zero, the list in one more; a list cut to the buffer ends in two.
  std::string list(const char* section, DWORD size = 256) {
    char buf[256];
    std::memset(buf, 'X', sizeof buf);
    m_result = GetPrivateProfileStringA(section, nullptr, "ignored", buf, size, m_ini.c_str());
    std::string s;
    for (DWORD i = 0; i < m_result; ++i) s += buf[i] == '\0' ? '|' : buf[i];
    EXPECT_EQ('\0', buf[m_result]);
    EXPECT_EQ('\0', m_result + 2 == size ? buf[m_result + 1] : m_result > 0 ? buf[m_result - 1] : '\0');
    return s;
  }
  BOOL put(const char* section, const char* key, const char* value) {
    BOOL ok = WritePrivateProfileStringA(section, key, value, m_ini.c_str());
    m_error = GetLastError();
    return ok;
  }
  std::string content() const { return ReadFile(m_ini); }

  TempDir m_dir;
  std::string m_ini = m_dir.file("test.ini");
  DWORD m_result = 0;
  DWORD m_error = 0;
};

const char kSample[] =
    "; settings\r\n"
    "[Saved]\r\n"
    "Work = hex:3C,00, \r\n"
    "Quoted=\"  padded  \"\r\n"
    "Single='x'\r\n"
    "Half=\"open\r\n"
    ";Hidden=1\r\n"
    "NoEquals\r\n"
    "\r\n"
    "[ Other ]\r\n"
    "work=second\r\n"
    "[saved]\r\n"
    "Late=1\r\n";

TEST_F(ProfileTest, ReadsValuesWithoutRegardToCaseDefaultsAndCutTexts) {
  EXPECT_EQ("00", get("S", "K", "00   "));  // no file; trailing blanks go
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, m_error);
  ASSERT_TRUE(WriteFile(m_ini, kSample));
  EXPECT_EQ("hex:3C,00,", get("SAVED", "work"));
  EXPECT_WIN32(ERROR_SUCCESS, m_error);
  const struct {
    const char *section, *key, *dflt;
    DWORD size;
    const char* expected;
  } cases[] = {
      {"Saved", "Quoted", "none", 256, "  padded  "}, {"Saved", "Single", "none", 256, "x"},
      {"Saved", "Half", "none", 256, "\"open"},      {"Saved", "NoEquals", "none", 256, ""},
      {"other", "WORK", "none", 256, "second"},
      {"Saved", ";Hidden", "none", 256, "none"},  // a comment is no key
      {"Saved", "Late", "none", 256, "none"},     // the first of two sections of one name counts
      {"Nope", "K", "dflt", 256, "dflt"},         {"Saved", "Nope", nullptr, 256, ""},
      {"Saved", "Work", "", 5, "hex:"},           // cut to the size less one
      {"Saved", "Work", "", 1, ""},               {"Saved", "Nope", "dflt", 4, "dfl"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, get(c.section, c.key, c.dflt, c.size)) << c.key;
  char buf[4] = "abc";
  EXPECT_EQ(0u, GetPrivateProfileStringA("Saved", "Work", "", buf, 0, m_ini.c_str()));
  EXPECT_STREQ("abc", buf);
  EXPECT_EQ(0u, GetPrivateProfileStringA("Saved", "Work", "", nullptr, 10, m_ini.c_str()));
  EXPECT_EQ(2u, GetPrivateProfileStringA("S", "K", "dd", buf, sizeof buf, nullptr));
  EXPECT_STREQ("dd", buf);
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());

  EXPECT_EQ("Saved|Other|saved|", list(nullptr));
  EXPECT_EQ("Work|Quoted|Single|Half|NoEquals|", list("saved"));
  EXPECT_EQ("Saved|Ot", list(nullptr, 10));  // cut lists give size - 2
  EXPECT_EQ(8u, m_result);
  EXPECT_EQ("", list("Missing"));
}

TEST_F(ProfileTest, WritingChangesOnlyTheLinesConcernedInTheFilesForm) {
  ASSERT_TRUE(put("HKEY_CURRENT_USER\\Software\\S", "Work", "hex:3C,"));
  ASSERT_TRUE(put("Second", "A", ""));
  EXPECT_EQ("[HKEY_CURRENT_USER\\Software\\S]\r\nWork=hex:3C,\r\n[Second]\r\nA=\r\n", content());
  EXPECT_EQ("hex:3C,", get("hkey_current_user\\software\\s", "WORK"));

  ASSERT_TRUE(WriteFile(m_ini, "; keep me\n[A]\nx = 1\n\n[B]\ny=2"));
  ASSERT_TRUE(put("a", "X", "changed"));
  EXPECT_EQ("; keep me\n[A]\nX=changed\n\n[B]\ny=2", content());
  // A new key goes after the section's last entry; the file keeps LF ends
  // and a last line without one is ended first.
  for (const char* section : {"A", "B", "C"}) ASSERT_TRUE(put(section, "k", "v"));
  EXPECT_EQ("; keep me\n[A]\nX=changed\nk=v\n\n[B]\ny=2\nk=v\n[C]\nk=v\n", content());

  // Null values and keys delete; deleting what is not there makes no file.
  ASSERT_TRUE(WriteFile(m_ini, "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n[a]\r\nq=4\r\n"));
  ASSERT_TRUE(put("A", "x", nullptr));
  EXPECT_EQ("[A]\r\ny=2\r\n[B]\r\nz=3\r\n[a]\r\nq=4\r\n", content());
  ASSERT_TRUE(put("a", nullptr, nullptr));  // every section of the name
  ASSERT_TRUE(put("B", "none", nullptr));
  EXPECT_EQ("[B]\r\nz=3\r\n", content());
  const std::string other = m_dir.file("other.ini");
  EXPECT_TRUE(WritePrivateProfileStringA("S", "K", nullptr, other.c_str()));
  EXPECT_FALSE(std::filesystem::exists(other));
}

TEST_F(ProfileTest, WhatTheFileCouldNotHoldIsRefused) {
  ASSERT_TRUE(WriteFile(m_ini, "[A]\nx=1\n"));
  struct Case {
    const char *section, *key, *value;
  } cases[] = {
      {nullptr, "k", "v"}, {"A", "k", "v\r\n[B]"}, {"A\n", "k", "v"}, {"A]", "k", "v"},
      {"A", "k=1", "v"},   {"A", "[k", "v"},       {"A", ";k", "v"},  {"A", "k\n", "v"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(put(c.section, c.key, c.value)) << (c.key ? c.key : "");
    EXPECT_WIN32(ERROR_INVALID_PARAMETER, m_error);
  }
  EXPECT_EQ("[A]\nx=1\n", content());
  EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "v", nullptr));
  EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "v", m_dir.file("no/such/dir.ini").c_str()));
  EXPECT_WIN32(ERROR_PATH_NOT_FOUND, GetLastError());
}

}  // namespace
