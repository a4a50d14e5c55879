#include "support/testutil.h"

#include <sundry/platform/file.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

using namespace sundry::platform;
using sundry::test::ReadFile;
using sundry::test::TempDir;
using sundry::test::WriteFile;

namespace {

// Fails the n-th system call of one kind with a chosen code while it lives.
struct FaultOnCall {
  FileOperation operation;
  int countdown;
  DWORD code;
  FaultOnCall(FileOperation op, int n, DWORD c) : operation(op), countdown(n), code(c) {
    SetFileFaultHook(&FaultOnCall::hook, this);
  }
  ~FaultOnCall() { SetFileFaultHook(nullptr, nullptr); }
  static DWORD hook(FileOperation op, void* context) {
    auto* self = static_cast<FaultOnCall*>(context);
    return op == self->operation && --self->countdown == 0 ? self->code : DWORD{0};
  }
};

size_t entries(const std::string& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(StreamOpen, ModeStringsAndWhatCannotBeOpened) {
  TempDir dir;
  const std::string path = dir.file("f");
  EXPECT_EQ(nullptr, StreamOpen(path.c_str(), "r+bc"));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  for (const char* bad : {"", "q", "rr", "r++", "wbb", "rbt", "rcn", "rx", "r+bz"}) {
    EXPECT_EQ(nullptr, StreamOpen(path.c_str(), bad)) << bad;
    EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError()) << bad;
  }
  for (const char* good : {"w", "w+bc", "wb+", "r", "r+bc", "rtn", "a", "a+b", "abc"})
    EXPECT_TRUE(StreamClose(StreamOpen(path.c_str(), good))) << good;
  EXPECT_EQ(nullptr, StreamOpen(path.c_str(), "wx"));
  EXPECT_WIN32(ERROR_ALREADY_EXISTS, GetLastError());
  for (const char* mode : {"r", "r+b"}) {
    EXPECT_EQ(nullptr, StreamOpen(dir.path().c_str(), mode));
    EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  }
}

TEST(Stream, BufferedReadsSeeTheStreamsOwnWrites) {
  TempDir dir;
  const std::string path = dir.file("f");
  std::string content(200000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_TRUE(WriteFile(path, content));

  FileStream* s = StreamOpen(path.c_str(), "r+b");
  char buf[16];
  ASSERT_EQ(16u, StreamRead(s, buf, 16));  // fills the buffer
  ASSERT_TRUE(StreamSeek(s, 1000, FILE_BEGIN));
  ASSERT_EQ(5u, StreamWrite(s, "HELLO", 5));
  ASSERT_TRUE(StreamSeek(s, -7, FILE_CURRENT));
  ASSERT_EQ(9u, StreamRead(s, buf, 9));
  EXPECT_EQ(content.substr(998, 2) + "HELLO" + content.substr(1005, 2), std::string(buf, 9));
  std::string big(150000, '\0');  // larger than the buffer, from inside it
  ASSERT_TRUE(StreamSeek(s, 30000, FILE_BEGIN));
  ASSERT_EQ(big.size(), StreamRead(s, big.data(), big.size()));
  EXPECT_EQ(content.substr(30000, big.size()), big);

  ASSERT_TRUE(StreamSeek(s, -3, FILE_END));
  EXPECT_EQ(3u, StreamRead(s, buf, 10));
  EXPECT_WIN32(ERROR_HANDLE_EOF, GetLastError());
  ASSERT_TRUE(StreamSeek(s, 4, FILE_END));  // a gap of zero bytes
  ASSERT_EQ(2u, StreamWrite(s, "ZZ", 2));
  EXPECT_FALSE(StreamSeek(s, -200007, FILE_CURRENT));
  EXPECT_WIN32(ERROR_NEGATIVE_SEEK, GetLastError());
  EXPECT_EQ(200006, StreamTell(s));
  EXPECT_TRUE(StreamClose(s));
  EXPECT_EQ(content.substr(0, 1000) + "HELLO" + content.substr(1005) + std::string(4, '\0') + "ZZ", ReadFile(path));

  // Appending ignores the position; a read-only stream refuses writes.
  s = StreamOpen(path.c_str(), "a");
  ASSERT_TRUE(StreamSeek(s, 0, FILE_BEGIN));
  ASSERT_EQ(1u, StreamWrite(s, "!", 1));
  EXPECT_EQ(200007, StreamTell(s));
  StreamClose(s);
  s = StreamOpen(path.c_str(), "r");
  EXPECT_EQ(0u, StreamWrite(s, "x", 1));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  StreamClose(s);
  EXPECT_EQ('!', ReadFile(path).back());
}

TEST(Stream, FailedCommitIsReportedAndStaysPending) {
  TempDir dir;
  FileStream* s = StreamOpen(dir.file("f").c_str(), "w+bc");
  ASSERT_EQ(4u, StreamWrite(s, "abcd", 4));
  {
    FaultOnCall fault(FileOperation::Sync, 1, ERROR_IO_DEVICE);
    EXPECT_FALSE(StreamFlush(s));
    EXPECT_WIN32(ERROR_IO_DEVICE, GetLastError());
    EXPECT_TRUE(StreamFlush(s));
  }
  EXPECT_TRUE(StreamClose(s));
  EXPECT_FALSE(StreamClose(nullptr));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());
}

TEST(GetCurrentDirectory, SizesAsWin32) {
  char expected[4096], buf[4096];
  ASSERT_NE(nullptr, getcwd(expected, sizeof expected));
  const DWORD length = static_cast<DWORD>(std::strlen(expected));
  EXPECT_EQ(length, GetCurrentDirectoryA(sizeof buf, buf));
  EXPECT_STREQ(expected, buf);
  buf[0] = 'x';
  EXPECT_EQ(length + 1, GetCurrentDirectoryA(length, buf));  // no room for the terminator
  EXPECT_EQ('x', buf[0]);
}

TEST(ReplaceFileDurably, ReplacesWholeOrNotAtAll) {
  TempDir dir;
  const std::string path = dir.file("prefs.js");
  ASSERT_TRUE(ReplaceFileDurably(path.c_str(), "first", 5));
  ASSERT_EQ(0, chmod(path.c_str(), 0640));
  const std::string link = dir.file("link");
  ASSERT_EQ(0, symlink(path.c_str(), link.c_str()));
  ASSERT_TRUE(ReplaceFileDurably(link.c_str(), "second", 6));
  EXPECT_EQ("second", ReadFile(path));
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  ASSERT_EQ(0, lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  const std::string big(100000, 'n');
  for (FileOperation op : {FileOperation::Open, FileOperation::Write, FileOperation::Sync, FileOperation::Rename}) {
    FaultOnCall fault(op, 1, ERROR_DISK_FULL);
    EXPECT_FALSE(ReplaceFileDurably(path.c_str(), big.data(), big.size()));
    EXPECT_WIN32(ERROR_DISK_FULL, GetLastError());
    EXPECT_EQ("second", ReadFile(path));
    EXPECT_EQ(2u, entries(dir.path())) << "a file beside was left behind";
  }
  {
    FaultOnCall fault(FileOperation::Sync, 2, ERROR_IO_DEVICE);  // the directory's commit
    EXPECT_FALSE(ReplaceFileDurably(path.c_str(), "third", 5));
  }
  EXPECT_EQ("third", ReadFile(path));
  EXPECT_FALSE(ReplaceFileDurably(dir.file("missing/x").c_str(), "x", 1));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_FALSE(ReplaceFileDurably(dir.path().c_str(), "x", 1));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
}

}  // namespace
