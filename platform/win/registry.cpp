// The library's own registry additions over the real Windows registry: the
// name checks, which follow the registry's documented limits, and the
// transaction calls.
//
// Windows applies registry writes one by one and the library opens no
// kernel transactions, so a transaction here is a bracket with nothing to
// undo: RegistryBeginTransaction and RegistryCommitTransaction succeed (every
// write in between is already in the registry) and
// RegistryRollbackTransaction gives ERROR_CALL_NOT_IMPLEMENTED, having
// undone nothing. A .reg import that fails half-way therefore keeps the keys
// it wrote before the failure, as regedit's own import does.

#include <sundry/platform/registry.h>

#include <windows.h>

#include <cstring>
#include <string_view>

namespace sundry::platform {

namespace {

thread_local int t_depth = 0;

// The root's name and, for HKEY_CLASSES_ROOT, the place its keys count at.
size_t RootPathLength(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return std::strlen("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
  if (root == HKEY_CURRENT_USER) return std::strlen("HKEY_CURRENT_USER");
  if (root == HKEY_LOCAL_MACHINE) return std::strlen("HKEY_LOCAL_MACHINE");
  if (root == HKEY_USERS) return std::strlen("HKEY_USERS");
  if (root == HKEY_CURRENT_CONFIG) return std::strlen("HKEY_CURRENT_CONFIG");
  if (root == HKEY_PERFORMANCE_DATA) return std::strlen("HKEY_PERFORMANCE_DATA");
  if (root == HKEY_DYN_DATA) return std::strlen("HKEY_DYN_DATA");
  return 0;
}

size_t RootDepth(HKEY root) { return root == HKEY_CLASSES_ROOT ? 2 : 0; }

bool HasControlCharacter(std::string_view name) {
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

}  // namespace

LONG RegistryCheckKeyPath(HKEY root, const char* subKey) {
  const size_t rootLength = RootPathLength(root);
  if (rootLength == 0) return ERROR_INVALID_HANDLE;
  std::string_view sub = subKey ? subKey : "";
  if (!sub.empty() && sub[0] == '\\') return ERROR_BAD_PATHNAME;
  size_t depth = RootDepth(root), length = rootLength;
  size_t start = 0;
  while (start <= sub.size()) {
    size_t end = sub.find('\\', start);
    if (end == std::string_view::npos) end = sub.size();
    std::string_view name = sub.substr(start, end - start);
    if (!name.empty()) {
      if (name.size() > kRegMaxKeyNameLength || HasControlCharacter(name)) return ERROR_INVALID_PARAMETER;
      ++depth;
      length += 1 + name.size();
    }
    start = end + 1;
  }
  if (depth > kRegMaxKeyDepth || length > kRegMaxKeyPathLength) return ERROR_FILENAME_EXCED_RANGE;
  return ERROR_SUCCESS;
}

LONG RegistryCheckValueName(const char* name) {
  std::string_view n = name ? name : "";
  if (n.size() > kRegMaxValueNameLength || HasControlCharacter(n)) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

LONG RegistryBeginTransaction() {
  ++t_depth;
  return ERROR_SUCCESS;
}

LONG RegistryCommitTransaction() {
  if (t_depth == 0) return ERROR_INVALID_FUNCTION;
  --t_depth;
  return ERROR_SUCCESS;
}

LONG RegistryRollbackTransaction() {
  if (t_depth == 0) return ERROR_INVALID_FUNCTION;
  --t_depth;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

// The real registry has no store file to choose.
LONG RegistryUseStore(const char*) { return ERROR_CALL_NOT_IMPLEMENTED; }

const char* RegistryStorePath() { return ""; }

}  // namespace sundry::platform
