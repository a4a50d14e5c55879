// Win32 file functions: directory search, copy, move, delete, attributes.

#include "support/testutil.h"

#include <sundry/platform/fileops.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace sundry::test;

class FileOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(m_dir.file("Profiles/b.SLT"));
    std::filesystem::create_directories(m_dir.file("Profiles/A.slt"));
    ASSERT_TRUE(WriteFile(m_dir.file("Profiles/c.slt"), "12345"));
    ASSERT_TRUE(WriteFile(m_dir.file("Profiles/.hidden.slt"), ""));
    ASSERT_TRUE(WriteFile(m_dir.file("Profiles/notes.txt"), "x"));
  }
  // Every name a search delivers, in order.
  std::vector<std::string> search(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    EXPECT_WIN32(ERROR_NO_MORE_FILES, GetLastError());
    EXPECT_TRUE(FindClose(h));
    return names;
  }
  TempDir m_dir;
};

TEST_F(FileOpsTest, SearchesMatchPatternsWithoutRegardToCaseInNameOrder) {
  const std::string dir = m_dir.path() + "\\Profiles\\";
  EXPECT_EQ((std::vector<std::string>{".hidden.slt", "A.slt", "b.SLT", "c.slt"}), search(dir + "*.slt"));
  EXPECT_EQ((std::vector<std::string>{"notes.txt"}), search(dir + "?otes.*"));
  EXPECT_EQ((std::vector<std::string>{".", "..", ".hidden.slt", "A.slt", "b.SLT", "c.slt", "notes.txt"}),
            search(m_dir.path() + "/Profiles/*.*"));
  EXPECT_EQ((std::vector<std::string>{"c.slt"}), search(dir + "C.SLT"));

  // What a search tells of each entry.
  ASSERT_EQ(0, chmod(m_dir.file("Profiles/c.slt").c_str(), 0444));
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((dir + "c*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_STREQ("c.slt", data.cFileName);
  EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, data.dwFileAttributes);
  EXPECT_EQ(5u, data.nFileSizeLow);
  EXPECT_EQ(0u, data.nFileSizeHigh);
  // 100-ns ticks since 1601: a time of this century is above 1.26e17.
  EXPECT_GT(static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32, 126000000000000000ull);
  EXPECT_FALSE(FindNextFileA(h, &data));
  EXPECT_WIN32(ERROR_NO_MORE_FILES, GetLastError());
  EXPECT_TRUE(FindClose(h));
  // A closed or made-up handle is refused, not followed.
  EXPECT_FALSE(FindClose(h));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());
  int stranger = 0;
  EXPECT_FALSE(FindNextFileA(&stranger, &data));
  EXPECT_WIN32(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA(dir.c_str()));
  EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, GetFileAttributesA((dir + ".hidden.slt").c_str()));
}

TEST_F(FileOpsTest, CopyMoveAndDeleteDoWhatIsAskedOnly) {
  const std::string src = m_dir.file("src.txt"), dst = m_dir.file("dst.txt");
  ASSERT_TRUE(WriteFile(src, "content"));
  ASSERT_EQ(0, chmod(src.c_str(), 0640));
  ASSERT_TRUE(CopyFileA(src.c_str(), (m_dir.path() + "\\dst.txt").c_str(), TRUE));
  EXPECT_EQ("content", ReadFile(dst));
  struct stat st;
  ASSERT_EQ(0, stat(dst.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
  ASSERT_TRUE(WriteFile(src, "newer"));
  EXPECT_FALSE(CopyFileA(src.c_str(), dst.c_str(), TRUE));
  EXPECT_WIN32(ERROR_FILE_EXISTS, GetLastError());
  EXPECT_EQ("content", ReadFile(dst));
  EXPECT_TRUE(CopyFileA(src.c_str(), dst.c_str(), FALSE));
  EXPECT_EQ("newer", ReadFile(dst));

  EXPECT_FALSE(MoveFileExA(src.c_str(), dst.c_str(), 0));
  EXPECT_WIN32(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_TRUE(MoveFileExA(src.c_str(), (m_dir.path() + "\\dst.txt").c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_FALSE(std::filesystem::exists(src));
  EXPECT_TRUE(MoveFileExA(dst.c_str(), src.c_str(), MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ("newer", ReadFile(src));

  // Failures, each with its code, nothing changed or left beside, and a
  // failed search's output untouched.
  const std::string none = m_dir.file("none"), noDir = m_dir.file("no/f"), profiles = m_dir.file("Profiles");
  WIN32_FIND_DATAA data, before;
  std::memset(&data, 0x5a, sizeof data);
  before = data;
  auto found = [&](const char* pattern) { return FindFirstFileA(pattern, &data) != INVALID_HANDLE_VALUE; };
  const std::pair<std::function<bool()>, DWORD> failures[] = {
      {[&] { return CopyFileA(none.c_str(), dst.c_str(), FALSE); }, ERROR_FILE_NOT_FOUND},
      {[&] { return CopyFileA(src.c_str(), noDir.c_str(), FALSE); }, ERROR_PATH_NOT_FOUND},
      {[&] { return CopyFileA(profiles.c_str(), dst.c_str(), FALSE); }, ERROR_ACCESS_DENIED},
      {[&] { return CopyFileA(src.c_str(), profiles.c_str(), FALSE); }, ERROR_ACCESS_DENIED},
      {[&] { return MoveFileExA(none.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING); }, ERROR_FILE_NOT_FOUND},
      {[&] { return MoveFileExA(src.c_str(), noDir.c_str(), 0); }, ERROR_PATH_NOT_FOUND},
      {[&] { return MoveFileExA(src.c_str(), profiles.c_str(), MOVEFILE_REPLACE_EXISTING); }, ERROR_ACCESS_DENIED},
      {[&] { return MoveFileExA(src.c_str(), dst.c_str(), 0x100); }, ERROR_INVALID_PARAMETER},
      {[&] { return DeleteFileA(none.c_str()); }, ERROR_FILE_NOT_FOUND},
      {[&] { return DeleteFileA(noDir.c_str()); }, ERROR_PATH_NOT_FOUND},
      {[&] { return DeleteFileA(profiles.c_str()); }, ERROR_ACCESS_DENIED},
      {[&] { return GetFileAttributesA(none.c_str()) != INVALID_FILE_ATTRIBUTES; }, ERROR_FILE_NOT_FOUND},
      {[&] { return found((profiles + "/*.none").c_str()); }, ERROR_FILE_NOT_FOUND},
      {[&] { return found((m_dir.path() + "/Missing/*").c_str()); }, ERROR_PATH_NOT_FOUND},
      {[&] { return found((profiles + "/notes.txt/*").c_str()); }, ERROR_PATH_NOT_FOUND},
      {[&] { return found(nullptr); }, ERROR_INVALID_PARAMETER},
  };
  for (size_t i = 0; i < sizeof failures / sizeof failures[0]; ++i) {
    EXPECT_FALSE(failures[i].first()) << i;
    EXPECT_WIN32(failures[i].second, GetLastError()) << i;
  }
  EXPECT_EQ(0, std::memcmp(&before, &data, sizeof data));
  EXPECT_EQ("newer", ReadFile(src));
  EXPECT_TRUE(DeleteFileA(src.c_str()));
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(m_dir.path())) names.push_back(e.path().filename());
  EXPECT_EQ((std::vector<std::string>{"Profiles"}), names);
}

// The permission bits and owner of a path (links followed).
std::string accessOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "(none)";
  return std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
}

TEST_F(FileOpsTest, CopyFileAccessGivesTheModelsModeAndOwner) {
  const std::string model = m_dir.file("model"), file = m_dir.file("file");
  ASSERT_TRUE(WriteFile(model, "m"));
  ASSERT_TRUE(WriteFile(file, "f"));
  ASSERT_EQ(0, chmod(model.c_str(), 0600));
  ASSERT_EQ(0, chmod(file.c_str(), 0644));
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown(model.c_str(), 1234, 1235));
  }
  EXPECT_TRUE(sundry::platform::CopyFileAccess(model.c_str(), file.c_str(), 0644));
  EXPECT_EQ(accessOf(model), accessOf(file));
  // No model: the mode given, the owner unchanged.
  EXPECT_TRUE(sundry::platform::CopyFileAccess(m_dir.file("none").c_str(), file.c_str(), 0640));
  EXPECT_EQ(0640u, std::stoul(accessOf(file)));
  // A link in place of the file, or a directory for either, is refused.
  std::filesystem::create_symlink(model, m_dir.file("link"));
  EXPECT_FALSE(sundry::platform::CopyFileAccess(file.c_str(), m_dir.file("link").c_str(), 0600));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(sundry::platform::CopyFileAccess(m_dir.file("Profiles").c_str(), file.c_str(), 0600));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(sundry::platform::CopyFileAccess(model.c_str(), m_dir.file("no/file").c_str(), 0600));
  EXPECT_WIN32(ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(FileOpsTest, ReplaceKeepingAccessWritesThroughLinksAndKeepsModeAndOwner) {
  // The target is a link to a private file of another user; the new file
  // is world-readable and ours.
  const std::string real = m_dir.file("real"), link = m_dir.file("link"), fresh = m_dir.file("fresh");
  ASSERT_TRUE(WriteFile(real, "old"));
  ASSERT_EQ(0, chmod(real.c_str(), 0600));
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown(real.c_str(), 1234, 1235));
  }
  const std::string before = accessOf(real);
  std::filesystem::create_symlink("real", link);
  ASSERT_TRUE(WriteFile(fresh, "new"));
  ASSERT_EQ(0, chmod(fresh.c_str(), 0644));
  ASSERT_TRUE(sundry::platform::ReplaceFileKeepingAccess(fresh.c_str(), (m_dir.path() + "\\link").c_str()));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ("new", ReadFile(real));
  EXPECT_EQ(before, accessOf(real));
  EXPECT_FALSE(std::filesystem::exists(fresh));

  // A target not there yet gets the new file's own access.
  ASSERT_TRUE(WriteFile(fresh, "first"));
  ASSERT_EQ(0, chmod(fresh.c_str(), 0640));
  ASSERT_TRUE(sundry::platform::ReplaceFileKeepingAccess(fresh.c_str(), m_dir.file("made").c_str()));
  EXPECT_EQ("first", ReadFile(m_dir.file("made")));
  EXPECT_EQ(0640u, std::stoul(accessOf(m_dir.file("made"))));

  // On another file system the content is copied into place.
  if (std::filesystem::is_directory("/dev/shm")) {
    const std::string far = "/dev/shm/sundry-fileops-" + std::to_string(getpid());
    ASSERT_TRUE(WriteFile(far, "far"));
    ASSERT_EQ(0, chmod(far.c_str(), 0604));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(far, link);
    ASSERT_TRUE(WriteFile(fresh, "near"));
    EXPECT_TRUE(sundry::platform::ReplaceFileKeepingAccess(fresh.c_str(), link.c_str()));
    EXPECT_EQ("near", ReadFile(far));
    EXPECT_EQ(0604u, std::stoul(accessOf(far)));
    EXPECT_FALSE(std::filesystem::exists(fresh));
    std::vector<std::string> left;
    for (auto& e : std::filesystem::directory_iterator("/dev/shm"))
      if (e.path().filename().string().find(".~sundry-") == 0) left.push_back(e.path());
    EXPECT_TRUE(left.empty());
    std::filesystem::remove(far);
  }

  // Refused, and nothing changes: a directory, a link that names nothing,
  // a missing source.
  ASSERT_TRUE(WriteFile(fresh, "x"));
  EXPECT_FALSE(sundry::platform::ReplaceFileKeepingAccess(fresh.c_str(), m_dir.file("Profiles").c_str()));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, GetLastError());
  std::filesystem::remove(link);
  std::filesystem::create_symlink(m_dir.file("nowhere"), link);
  EXPECT_FALSE(sundry::platform::ReplaceFileKeepingAccess(fresh.c_str(), link.c_str()));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ("x", ReadFile(fresh));
  EXPECT_FALSE(sundry::platform::ReplaceFileKeepingAccess(m_dir.file("none").c_str(), real.c_str()));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ("new", ReadFile(real));
}

}  // namespace
