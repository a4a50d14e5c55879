#pragma once
// The values of one registry key, taken when the object is made and put
// back when it goes: values added meanwhile are deleted, changed or deleted
// ones written again, and a key that was not there is deleted with what is
// below it. For tests that write to keys of the real registry on Windows.

#include <sundry/platform/registry.h>

#include <string>
#include <vector>

namespace sundry::test {

class RegistryValuesKept {
 public:
  RegistryValuesKept(HKEY root, std::string path);
  ~RegistryValuesKept();
  RegistryValuesKept(const RegistryValuesKept&) = delete;
  RegistryValuesKept& operator=(const RegistryValuesKept&) = delete;

 private:
  struct Value {
    std::string name;
    DWORD type;
    std::string data;
  };
  static std::vector<Value> read(HKEY key);
  HKEY m_root;
  std::string m_path;
  bool m_existed = false;
  std::vector<Value> m_values;
};

}  // namespace sundry::test
