#include "support/testutil.h"

#include "platform/posix/error.h"

#include <sundry/platform/error.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

TEST(FormatMessage, WritesSystemTextWithLineEnd) {
  char buf[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           buf, sizeof buf, nullptr);
  EXPECT_STREQ("The system cannot find the file specified.\r\n", buf);
  EXPECT_EQ(std::strlen(buf), n);
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buf, sizeof buf, nullptr);
  EXPECT_STREQ("Access is denied.\r\n", buf);
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_KEY_DELETED, 0x400, buf, sizeof buf, nullptr);
  EXPECT_STREQ("Illegal operation attempted on a registry key that has been marked for deletion.\r\n", buf);
}

TEST(FormatMessage, EveryTextFitsTheLibrarysBuffer) {
  // The registry classes keep their error text in 256 bytes.
#define CHECK_FITS(name, num, text) EXPECT_LT(std::strlen(text) + 3, 256u) << #name;
  SUNDRY_ERROR_TABLE(CHECK_FITS)
#undef CHECK_FITS
}

TEST(FormatMessage, TruncatesSafelyAndFails) {
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  SetLastError(0);
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, buf, 10, nullptr));
  EXPECT_WIN32(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_STREQ("The syste", buf);
  EXPECT_EQ('x', buf[10]);  // nothing written past the given size
}

TEST(FormatMessage, RefusesUnknownCodesAndBadArguments) {
  char buf[64] = "untouched";
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 99999, 0, buf, sizeof buf, nullptr));
  EXPECT_WIN32(ERROR_MR_MID_NOT_FOUND, GetLastError());
  EXPECT_STREQ("untouched", buf);
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, nullptr, 10, nullptr));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "x", 2, 0, buf, sizeof buf, nullptr));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen = 12345;
  std::thread([&] { seen = GetLastError(); SetLastError(ERROR_BADDB); }).join();
  EXPECT_EQ(0u, seen);
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
}

TEST(ErrnoTranslation, MapsCommonFailures) {
  struct { int err; DWORD code; } cases[] = {
      {ENOENT, ERROR_FILE_NOT_FOUND}, {EACCES, ERROR_ACCESS_DENIED}, {ENOSPC, ERROR_DISK_FULL},
      {EEXIST, ERROR_ALREADY_EXISTS}, {EBADF, ERROR_INVALID_HANDLE}, {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE}, {EIO, ERROR_IO_DEVICE}};
  for (auto& c : cases) {
    EXPECT_WIN32(c.code, sundry::platform::SetLastErrorFromErrno(c.err)) << std::strerror(c.err);
    EXPECT_WIN32(c.code, GetLastError());
    EXPECT_NE(nullptr, sundry::platform::ErrorText(c.code));
  }
}

}  // namespace
