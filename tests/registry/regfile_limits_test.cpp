// .reg import is all or nothing: limits are checked while parsing, the file
// is applied in one transaction, and a refused tree deletion or a killed
// import leaves the store as it was.

#include "registry/registry_fixture.h"

#include <sundry/registry/RegFile.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>

namespace {

using namespace sundry::registry;
using sundry::test::Regedit4;
using sundry::test::RegistryTest;
using sundry::test::Version5;

#if !defined(_WIN32)
DWORD subKeyCount(const char* path) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &h) != ERROR_SUCCESS) return 0;
  DWORD count = 0;
  RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(h);
  return count;
}
#endif

using RegFileLimitsTest = RegistryTest;

TEST_F(RegFileLimitsTest, RefusedTreeDeletionChangesNothing) {
  makeKey("SOFTWARE\\Aaa", HKEY_LOCAL_MACHINE);
  makeKey(".txt", HKEY_CLASSES_ROOT);
  EXPECT_WIN32(ERROR_ACCESS_DENIED, DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, DeleteRegistryTree(HKEY_CLASSES_ROOT, "\\"));
  const std::string file = Regedit4(
      "[HKEY_CURRENT_USER\\Software\\First]\n"
      "\"a\"=dword:00000001\n"
      "\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
      "\n");
  RegFileError err;
  EXPECT_WIN32(ERROR_ACCESS_DENIED, ImportRegFile(file, &err));
  EXPECT_EQ(6, err.line) << err.Text();
  EXPECT_TRUE(keyExists("SOFTWARE\\Aaa", HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(keyExists(".txt", HKEY_CLASSES_ROOT));
  EXPECT_FALSE(keyExists("Software\\First")) << "the sections before the failure were applied";
}

TEST_F(RegFileLimitsTest, LimitsAreCheckedBeforeAnythingIsApplied) {
  const std::string first = "[HKEY_CURRENT_USER\\Software\\First]\n\"a\"=\"1\"\n\n";
  auto refused = [&](const std::string& file, int line, const std::string& words) {
    RegFileContents parsed;
    RegFileError err;
    EXPECT_FALSE(ParseRegFile(file, &parsed, &err)) << words;
    EXPECT_EQ(line, err.line) << err.Text();
    EXPECT_NE(std::string::npos, err.reason.find(words)) << err.Text();
    EXPECT_LT(err.Text().size(), 250u) << "the message echoes the whole name";
    EXPECT_NE(ERROR_SUCCESS, ImportRegFile(file, &err));
    EXPECT_FALSE(keyExists("Software\\First"));
  };

  // One key path 21,000 levels deep (42 KB of file).
  std::string deep = "[HKEY_CURRENT_USER\\Software\\First";
  for (int i = 0; i < 21000; ++i) deep += "\\a";
  refused(Version5(first + deep + "]\n\n"), 6, "deeper than 512 levels");
  // A value name one character over the limit, after a sound section.
  refused(Version5(first + "[HKEY_CURRENT_USER\\Software\\Second]\n\"" + std::string(16384, 'n') + "\"=\"x\"\n\n"), 7,
          "longer than 16383 characters");
  // Control characters in names: such keys could not be exported.
  refused(Regedit4(first + "[HKEY_CURRENT_USER\\Software\\a\rb]\n\n"), 6, "control character in the key name \"Software\\a\\rb\"");
  refused(Regedit4(first + "[HKEY_CURRENT_USER\\Software\\b]\n\"esc\x1b[2J\"=\"\"\n\n"), 7,
          "control character in the value name \"esc\\x1b[2J\"");

  // At the limits the file imports and exports.
  if (sundry::test::UnderWine()) return;  // Wine refuses key paths this deep (ERROR_MORE_DATA)
  std::string path = "Software\\Deep";
  for (int i = 2; i < 512; ++i) path += "\\k";
  RegFileError err;
  ASSERT_WIN32(0, ImportRegFile(Version5("[HKEY_CURRENT_USER\\" + path + "]\n\"" + std::string(16383, 'n') +
                                         "\"=dword:00000007\n\n"),
                                &err))
      << err.Text();
  std::string text;
  ASSERT_WIN32(0, ExportRegFile(HKEY_CURRENT_USER, "Software\\Deep", &text, &err)) << err.Text();
  RegFileContents back;
  ASSERT_TRUE(ParseRegFile(text, &back, &err)) << err.Text();
  ASSERT_EQ(511u, back.keys.size());
  EXPECT_EQ(path, back.keys.back().path);
}

#if !defined(_WIN32)  // kills a child process in the middle of an import
TEST_F(RegFileLimitsTest, KilledImportLeavesNoneOrAllOfTheFile) {
  constexpr DWORD kSections = 2000;
  std::string body;
  for (DWORD i = 0; i < kSections; ++i)
    body += "[HKEY_CURRENT_USER\\Software\\Bulk\\K" + std::to_string(i) + "]\n\"v\"=dword:" + std::to_string(i % 10) +
            "\n\n";
  const std::string file = Regedit4(body);
  makeKey("Software\\Other");  // the store is open here; children set it aside

  auto importInChild = [&]() -> pid_t {
    pid_t pid = fork();
    if (pid == 0) _exit(ImportRegFile(file, nullptr) == ERROR_SUCCESS ? 0 : 1);
    return pid;
  };
  // How long a whole import takes, to kill the next ones part-way.
  auto start = std::chrono::steady_clock::now();
  pid_t pid = importInChild();
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  sundry::platform::RegistryResetForTesting();
  ASSERT_EQ(kSections, subKeyCount("Software\\Bulk"));

  constexpr int kRounds = 6;
  for (int round = 1; round <= kRounds; ++round) {
    LONG rc = DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Bulk");
    ASSERT_TRUE(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) << rc;
    pid = importInChild();
    ASSERT_GT(pid, 0);
    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(whole * round / (kRounds + 1));
    struct timespec ts = {static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
    nanosleep(&ts, nullptr);
    kill(pid, SIGKILL);
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    sundry::platform::RegistryResetForTesting();  // a fresh connection reads what the file holds
    DWORD found = subKeyCount("Software\\Bulk");
    EXPECT_TRUE(found == 0 || found == kSections) << "round " << round << ": " << found << " of " << kSections;
  }
  EXPECT_TRUE(keyExists("Software\\Other"));
}
#endif

}  // namespace
