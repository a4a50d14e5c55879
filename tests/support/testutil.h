#pragma once
// Shared test support: Win32 result assertions that print code names,
// scratch directories and environment overrides.

#include <gtest/gtest.h>
#include <sundry/platform/error.h>

#if !defined(_WIN32)
#include "platform/posix/fault.h"
#endif

#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

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

// Points the debug log at a file of this test process, unless SUNDRY_LOG
// names a destination already. Define one at namespace scope in a test file
// that reads logged lines back, so that it runs before any scope opens (the
// log reads SUNDRY_LOG once); the file is removed at exit.
class DebugLogToFile {
 public:
  explicit DebugLogToFile(const char* tag);
  ~DebugLogToFile();
  DebugLogToFile(const DebugLogToFile&) = delete;
  DebugLogToFile& operator=(const DebugLogToFile&) = delete;

 private:
  std::string m_path;
};

// The file the debug log writes to, or "" when SUNDRY_LOG names none.
std::string DebugLogFile();

// The debug-log lines written while an object of this class lived.
class LogTail {
 public:
  LogTail();
  std::string text() const;
  // Whether a line ends with the text given (lines end in "\r\n" on
  // Windows).
  bool has(const std::string& line) const {
    const std::string all = text();
    return all.find(line + "\n") != std::string::npos || all.find(line + "\r\n") != std::string::npos;
  }

 private:
  size_t m_start;
};

// Reads a whole file into a string; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Writes a whole file; returns false on failure.
bool WriteFile(const std::string& path, const std::string& contents);

// Whether the test runs under Wine, whose registry and message texts differ
// from Windows' in the places the tests name.
bool UnderWine();

// Runs a shell command line and returns its exit status; stdout goes to *out
// when out is given.
int RunCommand(const std::string& command, std::string* out = nullptr);
// Single-quotes a word for the shell.
std::string ShellQuote(const std::string& word);
// Whether the named mutex exists now, as CreateMutexA reports it.
bool MutexExists(const char* name);
// Whether something is at path (links followed).
bool Exists(const std::string& path);
// How many entries a directory holds.
size_t DirEntries(const std::string& dir);

// A lock that the processes of one test program share on this machine,
// held shared while the object lives, exclusive once asked. ctest runs the
// tests of a program side by side in processes of their own on Linux; on
// Windows a program is one ctest entry, whose tests run one after another,
// and the lock has nothing to keep apart.
class TestProgramLock {
 public:
  explicit TestProgramLock(const std::string& name);
  ~TestProgramLock();
  TestProgramLock(const TestProgramLock&) = delete;
  TestProgramLock& operator=(const TestProgramLock&) = delete;
  void exclusive();

 private:
  int m_fd = -1;
};

// Sets a file's last access and modification times (seconds since 1970).
bool SetFileTimes(const std::string& path, time_t accessed, time_t modified);

// Permission bits. Linux files have the mode bits; Windows files have only
// the read-only attribute, which stands for the write bits (a file without
// it reads as 0666, one with it as 0444).
bool SetFileMode(const std::string& path, unsigned mode);
// The permission bits of the file (links followed); 0xFFFF when it is not
// there.
unsigned FileMode(const std::string& path);
// Whether a file has the mode given, as far as the platform keeps modes:
// every bit on Linux, the owner's write bit on Windows.
::testing::AssertionResult HasFileMode(const std::string& path, unsigned mode);

#if !defined(_WIN32)
// While it lives, the n-th call of the chosen file operations fails with
// the code (and, when sticky, every later call of them too).
class FileFault {
 public:
  using Op = platform::posix::FileOperation;
  FileFault(std::initializer_list<Op> ops, int nth, DWORD code, bool sticky = false);
  ~FileFault();
  FileFault(const FileFault&) = delete;
  FileFault& operator=(const FileFault&) = delete;
  // Whether a call has been made to fail.
  bool fired() const { return m_fired; }

 private:
  static DWORD Hook(Op op, void* context);
  std::vector<Op> m_ops;
  int m_left;
  DWORD m_code;
  bool m_sticky, m_fired = false;
};

// Paths that are no regular file: a FIFO, a link to it, and (where this
// process may make one) a character device like /dev/null.
struct OddFiles {
  std::string fifo, link, device;
  explicit OddFiles(const TempDir& dir);
  std::vector<std::string> all() const;
  // Each is still what it was made as.
  void expectUnchanged() const;
};
#endif  // !_WIN32

}  // namespace sundry::test

// Compares Win32 result codes and prints their names on failure.
#define EXPECT_WIN32(expected, actual) \
  EXPECT_PRED_FORMAT2(::sundry::test::Win32CodeEquals, static_cast<long>(expected), static_cast<long>(actual))
#define ASSERT_WIN32(expected, actual) \
  ASSERT_PRED_FORMAT2(::sundry::test::Win32CodeEquals, static_cast<long>(expected), static_cast<long>(actual))
