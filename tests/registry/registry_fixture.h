#pragma once
// A fresh registry store for each test, and helpers that write test data
// straight through the registry functions.

#include "support/testutil.h"

#include <sundry/platform/registry.h>

#include "platform/winapi/registry_internal.h"

#include <string>

namespace sundry::test {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sundry::platform::RegistryResetForTesting();
    m_env = std::make_unique<ScopedEnv>("SUNDRY_REGISTRY", m_dir.file("registry.db").c_str());
    m_baseHandles = sundry::platform::RegistryOpenHandleCount();
  }
  void TearDown() override {
    sundry::platform::RegistryResetForTesting();
    m_env.reset();
  }

  // Creates a key below HKEY_CURRENT_USER (and its parents).
  static void makeKey(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_WIN32(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                nullptr, &key, nullptr));
    RegCloseKey(key);
  }
  static void setRaw(const std::string& path, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_WIN32(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                nullptr, &key, nullptr));
    EXPECT_WIN32(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
  }
  static void setText(const std::string& path, const char* name, const std::string& text) {
    setRaw(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }
  static void setNumber(const std::string& path, const char* name, DWORD number) {
    setRaw(path, name, REG_DWORD, &number, 4);
  }
  // The raw stored bytes of a value; returns the result code.
  static LONG queryRaw(const std::string& path, const char* name, DWORD* type, std::string* data) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD size = 0;
    rc = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
      data->assign(size, '\0');
      rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data->data()), &size);
    }
    RegCloseKey(key);
    return rc;
  }
  static bool keyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  DWORD openHandles() const { return sundry::platform::RegistryOpenHandleCount() - m_baseHandles; }

  TempDir m_dir;
  std::unique_ptr<ScopedEnv> m_env;
  DWORD m_baseHandles = 0;
};

}  // namespace sundry::test
