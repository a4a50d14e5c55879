// Every write the registry acknowledged survives the writer being killed
// (SIGKILL) at any moment, and the store still opens afterwards.

#include <sundry/platform/registry.h>

#include "platform/winapi/registry_internal.h"
#include "support/testutil.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

using namespace sundry::platform;
using sundry::test::ScopedEnv;
using sundry::test::TempDir;

namespace {

// Runs in the child: writes values (and now and then creates a key) without
// end, reporting each write that returned ERROR_SUCCESS through the pipe.
[[noreturn]] void WriteUntilKilled(int round, int fd) {
  HKEY root = nullptr;
  std::string rootPath = "Software\\Round" + std::to_string(round);
  if (RegCreateKeyExA(HKEY_CURRENT_USER, rootPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                      nullptr) != ERROR_SUCCESS)
    _exit(2);
  for (uint32_t i = 0;; ++i) {
    HKEY target = root;
    if (i % 4 == 3) {
      // A new key per report, so that key creation is killed mid-way too.
      if (RegCreateKeyExA(root, ("k" + std::to_string(i)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &target, nullptr) != ERROR_SUCCESS)
        _exit(3);
    }
    uint32_t data = i * 2654435761u;
    if (RegSetValueExA(target, ("v" + std::to_string(i)).c_str(), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&data), 4) != ERROR_SUCCESS)
      _exit(4);
    if (target != root) RegCloseKey(target);
    if (write(fd, &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(5);
  }
}

TEST(RegistryDurabilityTest, AcknowledgedWritesSurviveSigkill) {
  TempDir dir;
  ScopedEnv env("SUNDRY_REGISTRY", dir.file("registry.db").c_str());
  RegistryResetForTesting();
  // Open the store in this process first: the children inherit an open
  // connection and must set it aside.
  HKEY probe = nullptr;
  ASSERT_WIN32(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &probe));

  std::mt19937 rng(20240611);
  size_t total = 0;
  for (int round = 0; round < 20; ++round) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      WriteUntilKilled(round, fds[1]);
    }
    close(fds[1]);
    // Let it run 5..60 ms, then kill it wherever it is.
    struct timespec ts = {0, static_cast<long>(5 + rng() % 56) * 1000000L};
    nanosleep(&ts, nullptr);
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself, status " << status;
    std::vector<uint32_t> acked;
    uint32_t i;
    while (read(fds[0], &i, sizeof i) == static_cast<ssize_t>(sizeof i)) acked.push_back(i);
    close(fds[0]);

    // A fresh connection sees every acknowledged write.
    RegistryResetForTesting();
    HKEY root = nullptr;
    std::string rootPath = "Software\\Round" + std::to_string(round);
    if (acked.empty()) continue;
    ASSERT_WIN32(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, rootPath.c_str(), 0, KEY_READ, &root));
    for (uint32_t n : acked) {
      HKEY target = root;
      if (n % 4 == 3) {
        ASSERT_WIN32(ERROR_SUCCESS, RegOpenKeyExA(root, ("k" + std::to_string(n)).c_str(), 0, KEY_READ, &target))
            << "round " << round << " write " << n;
      }
      uint32_t data = 0;
      DWORD size = 4, type = 0;
      ASSERT_WIN32(ERROR_SUCCESS, RegQueryValueExA(target, ("v" + std::to_string(n)).c_str(), nullptr, &type,
                                                   reinterpret_cast<BYTE*>(&data), &size))
          << "round " << round << " write " << n;
      EXPECT_EQ(REG_DWORD, type);
      EXPECT_EQ(n * 2654435761u, data);
      if (target != root) RegCloseKey(target);
    }
    RegCloseKey(root);
    total += acked.size();
  }
  EXPECT_GT(total, 20u) << "the writers hardly wrote anything before being killed";
  RegistryResetForTesting();
}

}  // namespace
