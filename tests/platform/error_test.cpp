// Win32 error codes: message texts, the per-thread last error, and the
// translation of errno values.

#include "support/testutil.h"

#if !defined(_WIN32)
#include "platform/posix/error.h"
#endif

#include <sundry/platform/error.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

TEST(FormatMessage, WritesSystemTextWithLineEnd) {
  if (sundry::test::UnderWine()) GTEST_SKIP() << "Wine's system message texts are its own";
  const struct { DWORD code, language; const char* text; } cases[] = {
      {2, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), "The system cannot find the file specified.\r\n"},
      {5, 0, "Access is denied.\r\n"},
      {ERROR_KEY_DELETED, 0x400, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"}};
  for (const auto& c : cases) {
    char buf[256];
    EXPECT_EQ(std::strlen(c.text), FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, c.code, c.language, buf,
                                                  sizeof buf, nullptr));
    EXPECT_STREQ(c.text, buf);
  }
  // The registry classes keep their error text in 256 bytes.
#define CHECK_FITS(name, num, text) EXPECT_LT(std::strlen(text) + 3, 256u) << #name;
  SUNDRY_ERROR_TABLE(CHECK_FITS)
#undef CHECK_FITS
}

TEST(FormatMessage, TruncatesSafelyAndRefusesBadArguments) {
  if (sundry::test::UnderWine()) GTEST_SKIP() << "Wine's system message texts are its own";
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, buf, 10, nullptr));
  EXPECT_WIN32(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_STREQ("The syste", buf);
  EXPECT_EQ('x', buf[10]);  // nothing written past the given size
  std::strcpy(buf, "untouched");
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 99999, 0, buf, sizeof buf, nullptr));
  EXPECT_WIN32(ERROR_MR_MID_NOT_FOUND, GetLastError());
  EXPECT_STREQ("untouched", buf);
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, nullptr, 10, nullptr));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "x", 2, 0, buf, sizeof buf, nullptr));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(LastError, IsPerThreadAndTranslatedFromErrno) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen = 12345;
  std::thread([&] {
    seen = GetLastError();
    SetLastError(ERROR_BADDB);
  }).join();
  EXPECT_EQ(0u, seen);
#if !defined(_WIN32)  // on Windows, starting and joining a thread set the last error themselves
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
#endif
#if !defined(_WIN32)  // the POSIX port's translation of errno
  const struct { int err; DWORD code; } cases[] = {
      {ENOENT, ERROR_FILE_NOT_FOUND}, {EACCES, ERROR_ACCESS_DENIED}, {ENOSPC, ERROR_DISK_FULL},
      {EEXIST, ERROR_ALREADY_EXISTS}, {EBADF, ERROR_INVALID_HANDLE}, {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE}, {EIO, ERROR_IO_DEVICE}};
  for (const auto& c : cases) {
    EXPECT_WIN32(c.code, sundry::platform::SetLastErrorFromErrno(c.err)) << std::strerror(c.err);
    EXPECT_WIN32(c.code, GetLastError());
    EXPECT_NE(nullptr, sundry::platform::ErrorText(c.code));
  }
#endif
}

}  // namespace
