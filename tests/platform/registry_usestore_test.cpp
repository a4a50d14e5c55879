// RegistryUseStore: which store file the registry functions of the process
// use, in place of the one the environment names.

#include "registry/registry_fixture.h"

#include <unistd.h>

#include <string>

using namespace sundry::platform;

namespace {

// The fixture's store is the one the environment names.
class RegistryUseStoreTest : public sundry::test::RegistryTest {
 protected:
  // Whether HKCU\Software\Chosen exists in the store in use.
  static LONG Probe() {
    HKEY h = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Chosen", 0, KEY_READ, &h);
    if (rc == ERROR_SUCCESS) RegCloseKey(h);
    return rc;
  }

  const std::string m_envFile = m_dir.file("registry.db");
  const std::string m_chosen = m_dir.file("chosen.db");
};

TEST_F(RegistryUseStoreTest, TheChosenFileWinsOverTheEnvironmentUntilNullGoesBack) {
  ASSERT_WIN32(0, RegistryUseStore(m_chosen.c_str()));
  EXPECT_EQ(m_chosen, RegistryStorePath());
  makeKey("Software\\Chosen");
  EXPECT_EQ(0, access(m_chosen.c_str(), F_OK));
  EXPECT_NE(0, access(m_envFile.c_str(), F_OK)) << "the environment's store was opened";

  ASSERT_WIN32(0, RegistryUseStore(nullptr));
  EXPECT_EQ(m_envFile, RegistryStorePath());
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, Probe());
  ASSERT_WIN32(0, RegistryUseStore(m_chosen.c_str()));
  EXPECT_WIN32(0, Probe());
  ASSERT_WIN32(0, RegistryUseStore(""));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, Probe());

  // The test reset forgets the choice as well.
  ASSERT_WIN32(0, RegistryUseStore(m_chosen.c_str()));
  RegistryResetForTesting();
  EXPECT_EQ(m_envFile, RegistryStorePath());
}

TEST_F(RegistryUseStoreTest, OpenHandlesAndTransactionsKeepTheStoreInUse) {
  HKEY h = nullptr;
  ASSERT_WIN32(0, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Kept", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                                  nullptr));
  EXPECT_WIN32(ERROR_BUSY, RegistryUseStore(m_chosen.c_str()));
  EXPECT_EQ(m_envFile, RegistryStorePath());
  DWORD v = 7;
  EXPECT_WIN32(0, RegSetValueExA(h, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4)) << "the handle still works";
  RegCloseKey(h);

  ASSERT_WIN32(0, RegistryBeginTransaction());
  EXPECT_WIN32(ERROR_BUSY, RegistryUseStore(m_chosen.c_str()));
  ASSERT_WIN32(0, RegistryRollbackTransaction());
  EXPECT_WIN32(0, RegistryUseStore(m_chosen.c_str()));
}

TEST_F(RegistryUseStoreTest, AFileThatCannotBeUsedIsReportedByTheNextCall) {
  ASSERT_TRUE(sundry::test::WriteFile(m_dir.file("plain"), "x"));
  ASSERT_WIN32(0, RegistryUseStore((m_dir.file("plain") + "/registry.db").c_str()));
  EXPECT_WIN32(ERROR_REGISTRY_IO_FAILED, Probe());
  ASSERT_WIN32(0, RegistryUseStore(m_chosen.c_str()));
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, Probe());
}

}  // namespace
