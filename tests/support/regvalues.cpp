#include "support/regvalues.h"

#include <gtest/gtest.h>

namespace sundry::test {

RegistryValuesKept::RegistryValuesKept(HKEY root, std::string path) : m_root(root), m_path(std::move(path)) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(m_root, m_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  m_existed = true;
  m_values = read(key);
  RegCloseKey(key);
}

RegistryValuesKept::~RegistryValuesKept() {
  if (!m_existed) {
    RegDeleteTreeA(m_root, m_path.c_str());
    return;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExA(m_root, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot put back the values of " << m_path;
    return;
  }
  for (const Value& now : read(key)) RegDeleteValueA(key, now.name.c_str());
  for (const Value& v : m_values)
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, v.name.c_str(), 0, v.type,
                                            reinterpret_cast<const BYTE*>(v.data.data()),
                                            static_cast<DWORD>(v.data.size())))
        << m_path << "\\" << v.name;
  RegCloseKey(key);
}

std::vector<RegistryValuesKept::Value> RegistryValuesKept::read(HKEY key) {
  std::vector<Value> values;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD nameLength = sizeof name, type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    Value v{std::string(name, nameLength), type, std::string(size, '\0')};
    DWORD got = size;
    if (RegQueryValueExA(key, v.name.c_str(), nullptr, &v.type, reinterpret_cast<BYTE*>(v.data.data()), &got) ==
        ERROR_SUCCESS) {
      v.data.resize(got);
      values.push_back(std::move(v));
    }
  }
  return values;
}

}  // namespace sundry::test
