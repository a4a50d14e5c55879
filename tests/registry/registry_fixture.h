#pragma once
// A fresh registry store for each test, which must close every key handle
// it opens, and helpers that write test data straight through the registry
// functions.

#include "support/testutil.h"

#include <sundry/platform/registry.h>

#if defined(_WIN32)
#include <set>
#include <utility>
#include <vector>
#else
#include "platform/winapi/registry_internal.h"
#endif

#include <memory>
#include <string>

namespace sundry::test {

// .reg text as regedit writes it: CRLF line ends; version 5 in UTF-16LE
// with a byte order mark.
inline std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}
inline std::string Utf16(const std::u16string& text) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return out;
}
inline std::string Regedit4(const std::string& body) { return Crlf("REGEDIT4\n\n" + body); }
inline std::string Version5(const std::string& body) {
  const std::string text = Crlf("Windows Registry Editor Version 5.00\n\n" + body);
  std::u16string wide;
  for (char c : text) wide += static_cast<unsigned char>(c);
  return Utf16(wide);
}

#if defined(_WIN32)
// On Windows the tests run against the real registry (under Wine, the run's
// own prefix). There is one registry for every test: a test starts from
// what the previous ones left, and the keys a test adds below the places
// tests write to are deleted when it ends. Open handles are counted in the
// process's handle table, where Windows keeps registry keys.
class RegistryKeysSnapshot {
 public:
  RegistryKeysSnapshot() {
    for (const auto& place : places()) m_keys.push_back(subKeys(place.first, place.second));
  }
  // Deletes every key that was not there when the snapshot was taken.
  void removeNewKeys() const {
    size_t i = 0;
    for (const auto& place : places()) {
      for (const std::string& name : subKeys(place.first, place.second))
        if (!m_keys[i].count(name)) {
          const std::string path = place.second.empty() ? name : place.second + "\\" + name;
          RegDeleteTreeA(place.first, path.c_str());
        }
      ++i;
    }
  }

 private:
  static std::vector<std::pair<HKEY, std::string>> places() {
    return {{HKEY_CURRENT_USER, ""},          {HKEY_CURRENT_USER, "Software"}, {HKEY_LOCAL_MACHINE, ""},
            {HKEY_LOCAL_MACHINE, "SOFTWARE"}, {HKEY_CLASSES_ROOT, ""},         {HKEY_USERS, ""}};
  }
  static std::set<std::string> subKeys(HKEY root, const std::string& path) {
    std::set<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = sizeof name;
      if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.insert(name);
    }
    RegCloseKey(key);
    return names;
  }
  std::vector<std::set<std::string>> m_keys;
};

}  // namespace sundry::test

// The real registry keeps no connection to start afresh.
namespace sundry::platform {
inline void RegistryResetForTesting() {}
}  // namespace sundry::platform

namespace sundry::test {

inline DWORD ProcessHandleCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}
#endif

class RegistryTest : public ::testing::Test {
 protected:
#if defined(_WIN32)
  void SetUp() override {
    m_snapshot = std::make_unique<RegistryKeysSnapshot>();
    m_baseHandles = ProcessHandleCount();
  }
  void TearDown() override {
    if (countsHandles()) {
      EXPECT_EQ(0u, openHandles()) << "a test left a key handle open";
    }
    m_snapshot->removeNewKeys();
  }
  // The real registry is the only one.
  void useStore(const char*) { m_snapshot->removeNewKeys(); }
  std::unique_ptr<RegistryKeysSnapshot> m_snapshot;
#else
  void SetUp() override { useStore("registry.db"); }
  void TearDown() override {
    EXPECT_EQ(0u, openHandles()) << "a test left a key handle open";
    sundry::platform::RegistryResetForTesting();
    m_env.reset();
  }
  // Switches to a fresh store file in the test's directory.
  void useStore(const char* name) {
    sundry::platform::RegistryResetForTesting();
    m_env.reset();
    m_env = std::make_unique<ScopedEnv>("SUNDRY_REGISTRY", m_dir.file(name).c_str());
    m_baseHandles = sundry::platform::RegistryOpenHandleCount();
  }
#endif

  // Creates a key (and its parents).
  static void makeKey(const std::string& path, HKEY root = HKEY_CURRENT_USER) {
    HKEY key = nullptr;
    ASSERT_WIN32(ERROR_SUCCESS,
                 RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
  }
  // Stores exactly the bytes given, in a key made when missing.
  static void setRaw(const std::string& path, const char* name, DWORD type, const void* data, DWORD size,
                     HKEY root = HKEY_CURRENT_USER) {
    HKEY key = nullptr;
    ASSERT_WIN32(ERROR_SUCCESS,
                 RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_WIN32(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
  }
  static void setRaw(const std::string& path, const std::string& name, DWORD type, const std::string& bytes) {
    setRaw(path, name.c_str(), type, bytes.data(), static_cast<DWORD>(bytes.size()));
  }
  static void setText(const std::string& path, const char* name, const std::string& text,
                      HKEY root = HKEY_CURRENT_USER) {
    setRaw(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1), root);
  }
  static void setNumber(const std::string& path, const char* name, DWORD number) {
    setRaw(path, name, REG_DWORD, &number, 4);
  }
  // The raw stored bytes of a value below HKEY_CURRENT_USER; returns the
  // result code.
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
  static bool keyExists(const std::string& path, HKEY root = HKEY_CURRENT_USER) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
#if defined(_WIN32)
  DWORD openHandles() const { return ProcessHandleCount() - m_baseHandles; }
  // Wine's process has no handle count (it is always 0); Windows' always
  // has some handles open.
  bool countsHandles() const { return m_baseHandles != 0; }
#else
  bool countsHandles() const { return true; }
  DWORD openHandles() const { return sundry::platform::RegistryOpenHandleCount() - m_baseHandles; }
#endif

  TempDir m_dir;
  std::unique_ptr<ScopedEnv> m_env;
  DWORD m_baseHandles = 0;
};

}  // namespace sundry::test

// The count of key handles the test holds, where the platform can count them.
#define EXPECT_OPEN_HANDLES(n)                                          \
  do {                                                                  \
    if (countsHandles()) { EXPECT_EQ(static_cast<DWORD>(n), openHandles()); } \
  } while (0)
