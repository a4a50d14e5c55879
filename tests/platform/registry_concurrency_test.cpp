// Several processes and threads on one store: nothing lost, no failure.

#include <sundry/platform/registry.h>

#include "platform/winapi/registry_internal.h"
#include "support/testutil.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace sundry::platform;
using sundry::test::ScopedEnv;
using sundry::test::TempDir;

namespace {

constexpr int kThreads = 3;
constexpr int kWrites = 25;

// One writer: creates the shared key (all writers race for it), writes its
// own values and the shared one, and returns how many calls failed.
int Writer(const std::string& tag) {
  int failures = 0;
  for (int i = 0; i < kWrites; ++i) {
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Shared\\Key", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                        nullptr) != ERROR_SUCCESS) {
      ++failures;
      continue;
    }
    const std::string mine = tag + "-" + std::to_string(i);
    if (RegSetValueExA(h, mine.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(mine.c_str()),
                       static_cast<DWORD>(mine.size() + 1)) != ERROR_SUCCESS)
      ++failures;
    if (RegSetValueExA(h, "shared", 0, REG_SZ, reinterpret_cast<const BYTE*>(mine.c_str()),
                       static_cast<DWORD>(mine.size() + 1)) != ERROR_SUCCESS)
      ++failures;
    DWORD size = 0;
    if (RegQueryValueExA(h, "shared", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) ++failures;
    if (RegCloseKey(h) != ERROR_SUCCESS) ++failures;
  }
  return failures;
}

int RunThreads(const std::string& process) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] { failures += Writer(process + "t" + std::to_string(t)); });
  for (std::thread& t : threads) t.join();
  return failures;
}

TEST(RegistryConcurrencyTest, ProcessesAndThreadsLoseNothing) {
  TempDir dir;
  ScopedEnv env("SUNDRY_REGISTRY", dir.file("registry.db").c_str());
  RegistryResetForTesting();
  // Neither process has created the store yet: both race to create it too.
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(RunThreads("child") == 0 ? 0 : 1);
  EXPECT_EQ(0, RunThreads("parent"));
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "calls failed in the other process";

  RegistryResetForTesting();
  HKEY h = nullptr;
  ASSERT_WIN32(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Shared\\Key", 0, KEY_READ, &h));
  DWORD values = 0, subKeys = 0;
  ASSERT_WIN32(ERROR_SUCCESS, RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                               nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(2 * kThreads * kWrites + 1), values);
  char buf[64];
  for (const char* process : {"parent", "child"})
    for (int t = 0; t < kThreads; ++t)
      for (int i = 0; i < kWrites; ++i) {
        const std::string mine = std::string(process) + "t" + std::to_string(t) + "-" + std::to_string(i);
        DWORD size = sizeof buf;
        ASSERT_WIN32(ERROR_SUCCESS,
                     RegQueryValueExA(h, mine.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
        EXPECT_EQ(mine, std::string(buf));
      }
  // The shared value holds the last complete write of one of the writers.
  DWORD size = sizeof buf;
  ASSERT_WIN32(ERROR_SUCCESS, RegQueryValueExA(h, "shared", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
  const std::string last(buf);
  EXPECT_TRUE(last.size() > 3 && last.substr(last.size() - 3) == "-" + std::to_string(kWrites - 1)) << last;
  RegCloseKey(h);
  RegistryResetForTesting();
}

}  // namespace
