// Shell special folders over the XDG base and user directories, and the
// ANSI <-> UTF-16 conversion of the shell's file formats.
//
// Folder ids map through one table (kFolders). A folder comes from, in
// order: an environment variable naming it directly, a user directory of
// ~/.config/user-dirs.dirs (XDG_DESKTOP_DIR, XDG_DOCUMENTS_DIR), an XDG base
// directory variable with a sub-folder appended, or a default below $HOME.
// Environment values that are not absolute paths are ignored, as the XDG
// rules ask.

#include "platform/posix/error.h"
#include "platform/posix/files.h"

#include <sundry/platform/error.h>
#include <sundry/platform/shell.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct FolderRule {
  int csidl;
  const char* directVar;  // names the folder itself, or null
  const char* userDirKey;  // key in user-dirs.dirs, or null
  const char* baseVar;     // XDG base directory variable, or null
  const char* baseDefault;  // that base below $HOME when the variable is unset
  const char* subFolder;   // appended to the base ("" for the base itself)
};

// The one mapping of folder ids.
constexpr FolderRule kFolders[] = {
    {CSIDL_DESKTOP, nullptr, "XDG_DESKTOP_DIR", nullptr, "Desktop", ""},
    {CSIDL_DESKTOPDIRECTORY, nullptr, "XDG_DESKTOP_DIR", nullptr, "Desktop", ""},
    {CSIDL_PERSONAL, nullptr, "XDG_DOCUMENTS_DIR", nullptr, "Documents", ""},
    {CSIDL_APPDATA, "SUNDRY_APPDATA", nullptr, "XDG_CONFIG_HOME", ".config", ""},
    {CSIDL_LOCAL_APPDATA, nullptr, nullptr, "XDG_DATA_HOME", ".local/share", ""},
    {CSIDL_PROGRAMS, nullptr, nullptr, "XDG_DATA_HOME", ".local/share", "applications"},
    {CSIDL_STARTUP, nullptr, nullptr, "XDG_CONFIG_HOME", ".config", "autostart"},
};

const FolderRule* findRule(int csidl) {
  for (const FolderRule& r : kFolders)
    if (r.csidl == csidl) return &r;
  return nullptr;
}

// An environment variable holding an absolute path, else "".
std::string absoluteEnv(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && v[0] == '/' ? std::string(v) : std::string();
}

std::string homeDirectory() {
  std::string home = absoluteEnv("HOME");
  if (!home.empty()) return home;
  struct passwd pw, *found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr && pw.pw_dir != nullptr &&
      pw.pw_dir[0] == '/')
    return pw.pw_dir;
  return {};
}

std::string configHome(const std::string& home) {
  std::string dir = absoluteEnv("XDG_CONFIG_HOME");
  return dir.empty() ? home + "/.config" : dir;
}

// The value of key in user-dirs.dirs ("$HOME/..." or an absolute path in
// double quotes, a backslash quoting the next character), or "".
std::string userDir(const std::string& home, const char* key) {
  std::ifstream in(configHome(home) + "/user-dirs.dirs");
  std::string line;
  const std::string prefix = std::string(key) + "=\"";
  std::string result;
  while (std::getline(in, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    std::string value;
    size_t i = prefix.size();
    bool closed = false;
    for (; i < line.size(); ++i) {
      if (line[i] == '"') {
        closed = true;
        break;
      }
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      value += line[i];
    }
    if (!closed) continue;
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/'))
      result = home + value.substr(5);
    else if (!value.empty() && value[0] == '/')
      result = value;
    // A later line for the same key wins, as when the file is sourced.
  }
  return result;
}

std::string resolve(const FolderRule& rule) {
  if (rule.directVar != nullptr) {
    std::string direct = absoluteEnv(rule.directVar);
    if (!direct.empty()) return direct;
  }
  const std::string home = homeDirectory();
  if (rule.userDirKey != nullptr && !home.empty()) {
    std::string dir = userDir(home, rule.userDirKey);
    if (!dir.empty()) return dir;
  }
  std::string base = rule.baseVar != nullptr ? absoluteEnv(rule.baseVar) : std::string();
  if (base.empty()) {
    if (home.empty()) return {};
    base = home + "/" + rule.baseDefault;
  }
  if (rule.subFolder[0] != '\0') base += std::string("/") + rule.subFolder;
  return base;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p with mode 0700 for what it creates; false with the last error set.
bool createDirectories(const std::string& path) {
  if (sundry::platform::posix::MakeDirectories(path, 0700)) return true;
  sundry::platform::posix::SetLastErrorFromErrno(errno, "mkdir", path.c_str());
  return false;
}

}  // namespace

extern "C" HRESULT SHGetFolderPathA(HWND, int csidl, HANDLE, DWORD, LPSTR pszPath) {
  if (pszPath == nullptr) return E_INVALIDARG;
  const bool create = (csidl & CSIDL_FLAG_CREATE) != 0;
  const FolderRule* rule = findRule(csidl & 0xFF);
  if (rule == nullptr || (csidl & ~0xFFFF) != 0) return E_INVALIDARG;
  const std::string path = resolve(*rule);
  if (path.empty() || path.size() >= MAX_PATH) return E_FAIL;
  if (create && !createDirectories(path)) return E_FAIL;
  std::memcpy(pszPath, path.c_str(), path.size() + 1);
  return (csidl & CSIDL_FLAG_DONT_VERIFY) != 0 || isDirectory(path) ? S_OK : S_FALSE;
}

extern "C" BOOL SHGetSpecialFolderPathA(HWND hwndOwner, LPSTR lpszPath, int csidl, BOOL fCreate) {
  const int flags = fCreate ? CSIDL_FLAG_CREATE : 0;
  return SHGetFolderPathA(hwndOwner, csidl | flags, nullptr, SHGFP_TYPE_CURRENT, lpszPath) == S_OK ? TRUE : FALSE;
}

