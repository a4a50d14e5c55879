// Export: key trees read from the store into RegFileContents, and written
// out as .reg text.

#include "registry/RegFileInternal.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/file.h>

#include <vector>

namespace sundry::registry {

using namespace regfile;

namespace {

constexpr int kMaxRetries = 16;  // growing a buffer for a value that keeps growing

LONG subKeyNames(HKEY h, std::vector<std::string>* names) {
  DWORD count = 0, maxLen = 0;
  LONG rc = RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &count, &maxLen, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<char> buf(maxLen + 1 > 256 ? maxLen + 1 : 256);
  for (DWORD index = 0;; ++index) {
    int tries = 0;
    for (;;) {
      DWORD cch = static_cast<DWORD>(buf.size());
      rc = RegEnumKeyExA(h, index, buf.data(), &cch, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_MORE_DATA && ++tries < kMaxRetries) {
        buf.resize(buf.size() * 2);
        continue;
      }
      if (rc == ERROR_SUCCESS) names->emplace_back(buf.data(), cch);
      break;
    }
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
  }
}

LONG readValues(HKEY h, std::vector<RegFileValue>* values) {
  DWORD maxName = 0, maxData = 0;
  LONG rc = RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                             &maxData, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<char> name(maxName + 1 > 256 ? maxName + 1 : 256);
  std::vector<BYTE> data(maxData > 0 ? maxData : 1);
  for (DWORD index = 0;; ++index) {
    int tries = 0;
    for (;;) {
      DWORD cch = static_cast<DWORD>(name.size());
      DWORD cb = static_cast<DWORD>(data.size());
      DWORD type = REG_NONE;
      rc = RegEnumValueA(h, index, name.data(), &cch, nullptr, &type, data.data(), &cb);
      if (rc == ERROR_MORE_DATA && ++tries < kMaxRetries) {
        // Either the name or the data did not fit: grow both.
        name.resize(name.size() * 2);
        data.resize(cb > data.size() ? cb : data.size() * 2);
        continue;
      }
      if (rc == ERROR_SUCCESS) {
        RegFileValue v;
        v.name.assign(name.data(), cch);
        v.type = type;
        v.data.assign(reinterpret_cast<const char*>(data.data()), cb);
        values->push_back(std::move(v));
      }
      break;
    }
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
  }
}

// Reads the key h (named path below root) and, depth levels down (negative:
// all), its sub-tree into out, parents before their sub-keys. The walk keeps
// its own stack of the keys on the way down, so any depth takes the same
// machine stack.
LONG readTree(HKEY h, HKEY root, const std::string& path, int depth, RegFileContents* out) {
  struct Level {
    KeyHandle owned;  // the key's handle; empty for the top, which the caller holds
    HKEY h;
    std::string path;
    int depth;  // levels still to read below this key
    std::vector<std::string> names;
    size_t next = 0;
  };
  std::vector<Level> stack;
  auto enter = [&](KeyHandle owned, HKEY key, std::string keyPath, int keyDepth) -> LONG {
    RegFileKey section;
    section.root = root;
    section.path = keyPath;
    LONG rc = readValues(key, &section.values);
    if (rc != ERROR_SUCCESS) return rc;
    out->keys.push_back(std::move(section));
    if (keyDepth == 0) return ERROR_SUCCESS;
    std::vector<std::string> names;
    rc = subKeyNames(key, &names);
    if (rc != ERROR_SUCCESS) return rc;
    stack.push_back(Level{std::move(owned), key, std::move(keyPath), keyDepth, std::move(names)});
    return ERROR_SUCCESS;
  };
  LONG rc = enter(KeyHandle(), h, path, depth);
  while (rc == ERROR_SUCCESS && !stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.names.size()) {
      stack.pop_back();
      continue;
    }
    const std::string name = level.names[level.next++];
    KeyHandle child;
    rc = RegOpenKeyExA(level.h, name.c_str(), 0, KEY_READ, child.put());
    if (rc != ERROR_SUCCESS) break;
    HKEY childKey = child.get();
    std::string childPath = level.path.empty() ? name : level.path + "\\" + name;
    int childDepth = level.depth < 0 ? level.depth : level.depth - 1;
    rc = enter(std::move(child), childKey, std::move(childPath), childDepth);
  }
  return rc;
}

// Opens subKey below root component by component, replacing each component
// with the name as the store keeps it.
LONG openCanonical(HKEY root, const std::string& subKey, KeyHandle* key, std::string* canonical) {
  LONG rc = RegOpenKeyExA(root, nullptr, 0, KEY_READ, key->put());
  if (rc != ERROR_SUCCESS) return rc;
  canonical->clear();
  size_t start = 0;
  while (start < subKey.size()) {
    size_t end = subKey.find('\\', start);
    if (end == std::string::npos) end = subKey.size();
    std::string part = subKey.substr(start, end - start);
    start = end + 1;
    std::vector<std::string> names;
    rc = subKeyNames(key->get(), &names);
    if (rc != ERROR_SUCCESS) return rc;
    const std::string* found = nullptr;
    for (const std::string& n : names)
      if (sundry::platform::AnsiCompareNoCase(n.data(), n.size(), part.data(), part.size()) == 0) found = &n;
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    KeyHandle child;
    rc = RegOpenKeyExA(key->get(), found->c_str(), 0, KEY_READ, child.put());
    if (rc != ERROR_SUCCESS) return rc;
    std::swap(*key->put(), *child.put());
    if (!canonical->empty()) *canonical += '\\';
    *canonical += *found;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG ReadRegistryTree(HKEY root, const char* subKey, RegFileContents* out, int maxDepth) {
  *out = RegFileContents{};
  LONG rc = guarded(nullptr, [&]() -> LONG {
    std::string_view path = subKey ? subKey : "";
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (RootKeyName(root) == nullptr ||
        (!path.empty() && (path.front() == '\\' || path.find("\\\\") != std::string_view::npos)))
      return ERROR_INVALID_PARAMETER;
    KeyHandle key;
    std::string canonical;
    LONG r = openCanonical(root, std::string(path), &key, &canonical);
    if (r != ERROR_SUCCESS) return r;
    return readTree(key.get(), root, canonical, maxDepth, out);
  });
  if (rc != ERROR_SUCCESS) *out = RegFileContents{};
  return rc;
}

LONG ExportRegFile(HKEY root, const char* subKey, std::string* text, RegFileError* err) {
  RegFileError local;
  if (err == nullptr) err = &local;
  text->clear();
  RegFileContents contents;
  LONG rc = ReadRegistryTree(root, subKey, &contents);
  if (rc != ERROR_SUCCESS) {
    std::string name = RootKeyName(root) ? RootKeyName(root) : "?";
    if (subKey && *subKey) name += std::string("\\") + subKey;
    fail(err, 0, rc, "cannot read " + shown(name) + ": " + codeText(rc));
    return rc;
  }
  if (!FormatRegFile(contents, text, err)) return err->code;
  return ERROR_SUCCESS;
}

LONG ExportRegFileToPath(HKEY root, const char* subKey, const char* path, RegFileError* err) {
  RegFileError local;
  if (err == nullptr) err = &local;
  return guarded(err, [&]() -> LONG {
    std::string text;
    LONG rc = ExportRegFile(root, subKey, &text, err);
    if (rc != ERROR_SUCCESS) return rc;
    if (path == nullptr || !sundry::platform::ReplaceFileDurably(path, text.data(), text.size())) {
      rc = path ? static_cast<LONG>(GetLastError()) : static_cast<LONG>(ERROR_INVALID_PARAMETER);
      fail(err, 0, rc, std::string("cannot write ") + (path ? path : "(null)") + ": " + codeText(rc));
      return rc;
    }
    return ERROR_SUCCESS;
  });
}

}  // namespace sundry::registry
