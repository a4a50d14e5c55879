// Import: parsed contents applied to the store in one transaction, from
// bytes or from a file; and deleting whole key trees.

#include "registry/RegFileInternal.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/file.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace sundry::registry {

using namespace regfile;

namespace {

// Whether a sub-key path names a key below its root: one that is not all
// backslashes (a lone backslash below HKEY_CLASSES_ROOT names the root).
bool namesSubKey(std::string_view path) { return path.find_first_not_of('\\') != std::string_view::npos; }

// Whether deleting the tree at path below root may go ahead: not a root key
// itself, and not a tree that holds the key behind HKEY_CLASSES_ROOT
// (HKEY_LOCAL_MACHINE\SOFTWARE\Classes). The Linux registry store refuses
// such trees itself; the Windows registry would delete them for an
// administrator, so the check is made here, before the registry is asked.
bool mayDeleteTree(HKEY root, std::string_view path) {
  if (!namesSubKey(path)) return false;
  if (root != HKEY_LOCAL_MACHINE) return true;
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  auto is = [](std::string_view part, const char* name) {
    return sundry::platform::AnsiCompareNoCase(part.data(), part.size(), name, std::strlen(name)) == 0;
  };
  if (parts.empty() || !is(parts[0], "SOFTWARE")) return true;
  return parts.size() > 2 || (parts.size() == 2 && !is(parts[1], "Classes"));
}

// Writes a value's bytes exactly as the file gave them.
LONG setValueExactly(HKEY h, const RegFileValue& v) {
  return RegSetValueExA(h, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                        static_cast<DWORD>(v.data.size()));
}

std::string keyDisplayName(const RegFileKey& key) {
  std::string s = RootKeyName(key.root) ? RootKeyName(key.root) : "?";
  if (!key.path.empty()) s += "\\" + key.path;
  return shown(s);
}

LONG applyImpl(const RegFileContents& contents, RegFileError* err) {
  // A deletion that will be refused is found before anything is written,
  // so the file changes nothing also where the registry has no
  // transactions to undo the sections before it.
  for (const RegFileKey& key : contents.keys) {
    if (key.remove && RootKeyName(key.root) != nullptr && !mayDeleteTree(key.root, key.path)) {
      fail(err, key.line, ERROR_ACCESS_DENIED,
           "cannot delete " + keyDisplayName(key) + ": " + codeText(ERROR_ACCESS_DENIED));
      return ERROR_ACCESS_DENIED;
    }
  }
  for (const RegFileKey& key : contents.keys) {
    if (RootKeyName(key.root) == nullptr) {
      fail(err, key.line, ERROR_INVALID_PARAMETER, "unknown root key");
      return ERROR_INVALID_PARAMETER;
    }
    if (key.remove) {
      // The sub-tree goes in one piece, or not at all when any key of it
      // may not be deleted.
      LONG rc = mayDeleteTree(key.root, key.path) ? RegDeleteTreeA(key.root, key.path.c_str())
                                                  : static_cast<LONG>(ERROR_ACCESS_DENIED);
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        fail(err, key.line, rc, "cannot delete " + keyDisplayName(key) + ": " + codeText(rc));
        return rc;
      }
      continue;
    }
    KeyHandle h;
    LONG rc;
    if (key.path.empty())
      rc = RegOpenKeyExA(key.root, nullptr, 0, KEY_ALL_ACCESS, h.put());
    else
      rc = RegCreateKeyExA(key.root, key.path.c_str(), 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, h.put(), nullptr);
    if (rc != ERROR_SUCCESS) {
      fail(err, key.line, rc, "cannot create " + keyDisplayName(key) + ": " + codeText(rc));
      return rc;
    }
    for (const RegFileValue& v : key.values) {
      if (v.remove) {
        rc = RegDeleteValueA(h.get(), v.name.c_str());
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
      } else if (v.data.size() > 0xFFFFFFFFu) {
        rc = ERROR_INVALID_PARAMETER;
      } else {
        rc = setValueExactly(h.get(), v);
      }
      if (rc != ERROR_SUCCESS) {
        std::string what = v.name.empty() ? "the default value" : "value \"" + shown(v.name) + "\"";
        fail(err, v.line, rc, "cannot " + std::string(v.remove ? "delete " : "set ") + what + " of " +
                                  keyDisplayName(key) + ": " + codeText(rc));
        return rc;
      }
    }
  }
  return ERROR_SUCCESS;
}

// Reads the whole file at path; false with the last error set on failure.
bool readWholeFile(const char* path, std::string* bytes) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  sundry::platform::FileStream* stream = sundry::platform::StreamOpen(path, "rb");
  if (stream == nullptr) return false;
  char buf[65536];
  for (;;) {
    size_t n = sundry::platform::StreamRead(stream, buf, sizeof buf);
    bytes->append(buf, n);
    if (n < sizeof buf) break;
  }
  DWORD readError = GetLastError();
  bool ok = readError == ERROR_HANDLE_EOF || readError == ERROR_SUCCESS;
  sundry::platform::StreamClose(stream);
  if (!ok) SetLastError(readError);
  return ok;
}

}  // namespace

LONG ApplyRegFile(const RegFileContents& contents, RegFileError* err) {
  return guarded(err, [&]() -> LONG {
    // One transaction: the file is applied whole or, on a failure or if the
    // process dies first, not at all.
    struct Transaction {
      bool open = false;
      ~Transaction() {
        if (open) sundry::platform::RegistryRollbackTransaction();
      }
    } transaction;
    LONG rc = sundry::platform::RegistryBeginTransaction();
    if (rc != ERROR_SUCCESS) {
      fail(err, 0, rc, "cannot start a registry transaction: " + codeText(rc));
      return rc;
    }
    transaction.open = true;
    rc = applyImpl(contents, err);
    if (rc != ERROR_SUCCESS) return rc;
    transaction.open = false;
    rc = sundry::platform::RegistryCommitTransaction();
    if (rc != ERROR_SUCCESS) fail(err, 0, rc, "cannot commit the changes: " + codeText(rc));
    return rc;
  });
}

LONG ImportRegFile(std::string_view bytes, RegFileError* err) {
  RegFileError local;
  if (err == nullptr) err = &local;
  RegFileContents contents;
  if (!ParseRegFile(bytes, &contents, err)) return err->code;
  return ApplyRegFile(contents, err);
}

LONG ImportRegFileFromPath(const char* path, RegFileError* err) {
  RegFileError local;
  if (err == nullptr) err = &local;
  return guarded(err, [&]() -> LONG {
    std::string bytes;
    if (!readWholeFile(path, &bytes)) {
      LONG rc = static_cast<LONG>(GetLastError());
      fail(err, 0, rc, std::string("cannot read ") + (path ? path : "(null)") + ": " + codeText(rc));
      return rc;
    }
    return ImportRegFile(bytes, err);
  });
}

LONG DeleteRegistryTree(HKEY root, const char* subKey) {
  return guarded(nullptr, [&]() -> LONG {
    if (RootKeyName(root) == nullptr) return ERROR_INVALID_PARAMETER;
    if (subKey == nullptr || !mayDeleteTree(root, subKey)) return ERROR_ACCESS_DENIED;
    return RegDeleteTreeA(root, subKey);
  });
}

}  // namespace sundry::registry
