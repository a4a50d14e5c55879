// Store files that are not registry stores, or are damaged, are refused with
// a registry error code and left exactly as they were.

#include "registry/registry_fixture.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <string>

using namespace sundry::platform;
using sundry::test::ReadFile;
using sundry::test::ScopedEnv;
using sundry::test::WriteFile;

namespace {

class RegistryStoreFileTest : public sundry::test::RegistryTest {
 protected:

  // The code every kind of call gives for the store now configured; all of
  // them must agree.
  LONG CodeOfEveryCall() {
    HKEY h = nullptr;
    LONG open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &h);
    EXPECT_EQ(nullptr, h);
    DWORD v = 1;
    EXPECT_WIN32(open, RegSetValueExA(HKEY_CURRENT_USER, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));
    EXPECT_WIN32(open, RegCreateKeyExA(HKEY_CURRENT_USER, "New", 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr));
    EXPECT_WIN32(open, RegConnectRegistryA(nullptr, HKEY_USERS, &h));
    EXPECT_EQ(0u, RegistryOpenHandleCount());
    return open;
  }

  const std::string m_file = m_dir.file("registry.db");
};

TEST_F(RegistryStoreFileTest, FilesThatAreNotRegistryStoresAreRefusedUntouched) {
  // A text file, an empty file, a file shorter than a database header.
  for (const std::string& contents : {std::string("this is not a database\n", 23), std::string(),
                                      std::string("SQLite format 3\0", 16)}) {
    ASSERT_TRUE(WriteFile(m_file, contents));
    RegistryResetForTesting();
    EXPECT_WIN32(ERROR_BADDB, CodeOfEveryCall());
    EXPECT_EQ(contents, ReadFile(m_file));
  }
}

TEST_F(RegistryStoreFileTest, AnotherProgramsSqliteDatabaseIsRefusedUntouched) {
  // A WAL database whose last change is still in its log: opening it with
  // SQLite would fold the log into the file, so it must not be opened.
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(m_file.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE keys(id, name);", nullptr, nullptr,
                                    nullptr));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA wal_autocheckpoint=0;"
                                        "INSERT INTO keys VALUES(1, 'x');",
                                    nullptr, nullptr, nullptr));
  ASSERT_EQ(SQLITE_OK, sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr));
  sqlite3_close(db);
  const std::string before = ReadFile(m_file);
  const std::string wal = ReadFile(m_file + "-wal");
  ASSERT_FALSE(before.empty());
  ASSERT_FALSE(wal.empty());
  EXPECT_WIN32(ERROR_BADDB, CodeOfEveryCall());
  RegistryResetForTesting();
  EXPECT_EQ(before, ReadFile(m_file));
  EXPECT_EQ(wal, ReadFile(m_file + "-wal"));
}

TEST_F(RegistryStoreFileTest, ADamagedStoreGivesRegistryCorruptAndIsNotRewritten) {
  // A real store with enough keys and values to fill several pages.
  for (int i = 0; i < 20; ++i) setRaw("Software\\Data", "v" + std::to_string(i), REG_BINARY, std::string(3000, 'b'));
  RegistryResetForTesting();  // the last connection closing folds the log into the file

  // Overwrite every page but the first (which keeps the store's marks).
  std::string bytes = ReadFile(m_file);
  ASSERT_GT(bytes.size(), 8192u);
  for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5 ^ (i * 7));
  ASSERT_TRUE(WriteFile(m_file, bytes));
  EXPECT_WIN32(ERROR_REGISTRY_CORRUPT, CodeOfEveryCall());
  RegistryResetForTesting();
  EXPECT_EQ(bytes, ReadFile(m_file));
}

TEST_F(RegistryStoreFileTest, AStoreThatCannotBeOpenedGivesRegistryIoFailed) {
  // A directory where the file should be, and a path below a plain file.
  ASSERT_EQ(0, mkdir(m_file.c_str(), 0700));
  EXPECT_WIN32(ERROR_REGISTRY_IO_FAILED, CodeOfEveryCall());
  ASSERT_TRUE(WriteFile(m_dir.file("plain"), "x"));
  ScopedEnv below("SUNDRY_REGISTRY", (m_dir.file("plain") + "/registry.db").c_str());
  RegistryResetForTesting();
  EXPECT_WIN32(ERROR_REGISTRY_IO_FAILED, CodeOfEveryCall());
  EXPECT_EQ("x", ReadFile(m_dir.file("plain")));
}

TEST_F(RegistryStoreFileTest, AFailedOpenIsRetriedOnceTheFileIsUsable) {
  ASSERT_TRUE(WriteFile(m_file, "garbage"));
  EXPECT_WIN32(ERROR_BADDB, CodeOfEveryCall());
  ASSERT_EQ(0, unlink(m_file.c_str()));
  HKEY h = nullptr;
  EXPECT_WIN32(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &h));
  RegCloseKey(h);
}

}  // namespace
