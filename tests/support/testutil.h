#pragma once
// Shared test support: Win32 result assertions that print code names,
// scratch directories and environment overrides.

#include <gtest/gtest.h>
#include <sundry/platform/error.h>

#include <string>

namespace sundry::test {

// "ERROR_FILE_NOT_FOUND (2)" or "code 12345".
std::string Win32CodeName(long code);

::testing::AssertionResult Win32CodeEquals(const char* expectedExpr, const char* actualExpr,
                                           long expected, long actual);

// A fresh directory under $TMPDIR, removed with everything in it when the
// object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Sets an environment variable for the lifetime of the object and restores
// the former value (or its absence) afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::string m_old;
  bool m_hadOld;
};

// Reads a whole file into a string; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Writes a whole file; returns false on failure.
bool WriteFile(const std::string& path, const std::string& contents);

// Runs a shell command line and returns its exit status; stdout goes to *out
// when out is given.
int RunCommand(const std::string& command, std::string* out = nullptr);

}  // namespace sundry::test

// Compares Win32 result codes and prints their names on failure.
#define EXPECT_WIN32(expected, actual) \
  EXPECT_PRED_FORMAT2(::sundry::test::Win32CodeEquals, static_cast<long>(expected), static_cast<long>(actual))
#define ASSERT_WIN32(expected, actual) \
  ASSERT_PRED_FORMAT2(::sundry::test::Win32CodeEquals, static_cast<long>(expected), static_cast<long>(actual))
