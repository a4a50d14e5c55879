// Registry editor files: the names of the root keys, and the errors and
// messages the reading, writing, export and import code share.

#include "registry/RegFileInternal.h"

#include <sundry/platform/codepage.h>

#include <cstdio>
#include <cstring>

namespace sundry::registry {

namespace {

struct RootName {
  HKEY key;
  const char* longName;
  const char* shortName;  // null when the root has none
};

const RootName kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_USERS, "HKEY_USERS", "HKU"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"},
    {HKEY_DYN_DATA, "HKEY_DYN_DATA", nullptr},
};

bool equalNoCase(std::string_view a, const char* b) {
  return sundry::platform::AnsiCompareNoCase(a.data(), a.size(), b, std::strlen(b)) == 0;
}

}  // namespace

namespace regfile {

bool fail(RegFileError* err, int line, LONG code, std::string reason) {
  if (err) {
    err->line = line;
    err->code = code;
    err->reason = std::move(reason);
  }
  return false;
}

std::string shown(std::string_view name) {
  constexpr size_t kShown = 80;
  std::string out;
  for (size_t i = 0; i < name.size() && i < kShown; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (name.size() > kShown) out += "... (" + std::to_string(name.size()) + " characters)";
  return out;
}

std::string codeText(LONG code) {
  const char* text = sundry::platform::ErrorText(static_cast<DWORD>(code));
  if (text) return text;
  return "error " + std::to_string(code);
}


}  // namespace regfile

std::string RegFileError::Text() const {
  try {
    if (line > 0) return "line " + std::to_string(line) + ": " + reason;
    return reason;
  } catch (...) {
    return std::string();
  }
}

const char* RootKeyName(HKEY root) {
  for (const RootName& r : kRoots)
    if (r.key == root) return r.longName;
  return nullptr;
}

bool ParseKeyPath(std::string_view text, HKEY* root, std::string* subKey) {
  size_t slash = text.find('\\');
  std::string_view rootText = text.substr(0, slash);
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
  const RootName* found = nullptr;
  for (const RootName& r : kRoots)
    if (equalNoCase(rootText, r.longName) || (r.shortName && equalNoCase(rootText, r.shortName))) found = &r;
  if (found == nullptr) return false;
  if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  if (!rest.empty() && (rest.front() == '\\' || rest.find("\\\\") != std::string_view::npos)) return false;
  try {
    subKey->assign(rest);
  } catch (...) {
    return false;
  }
  *root = found->key;
  return true;
}

}  // namespace sundry::registry
