// CSundry: shortcut files named after their target, in a folder or a
// special folder.

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/fileops.h>
#include <sundry/platform/shell.h>
#include <sundry/platform/shelllink.h>
#include <sundry/util/Sundry.h>

#include <cstring>

namespace {

// folder, a backslash unless it ends with one, then name.
CString joinPath(const char* folder, const char* name) {
  CString path(folder);
  if (path.IsEmpty() || path[path.GetLength() - 1] != '\\') path += '\\';
  path += name;
  return path;
}

// A target file name is a name, not a path: one with a separator, or "." or
// "..", would put the shortcut (or remove a file) outside the folder given.
bool isPlainName(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  for (const char* p = name; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/') return false;
  return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

CString shortcutPath(const char* linkFolder, const char* targetFile) {
  return joinPath(linkFolder, targetFile) + ".LNK";
}

}  // namespace

int CSundry::ShortcutCreate(const char* targetDir, const char* targetFile, const char* arguments,
                            const char* linkFolder) {
  if (targetDir == nullptr || !isPlainName(targetFile) || linkFolder == nullptr) return 0;
  const CString targetPath = joinPath(targetDir, targetFile);
  const CString description = CString("Shortcut to ") + targetFile;
  const CString linkPath = shortcutPath(linkFolder, targetFile);
  // The shortcut's path is handed on in a buffer of MAX_PATH characters; a
  // longer one cannot be saved (rather than saved cut short).
  if (linkPath.GetLength() >= MAX_PATH) return 0;
  sundry::platform::ShellLinkFields link{};
  link.path = targetPath;
  link.workingDirectory = targetDir;
  link.arguments = arguments != nullptr && *arguments != '\0' ? arguments : nullptr;
  link.description = description;
  return sundry::platform::SaveShellLinkA(&link, linkPath) ? 1 : 0;
}

int CSundry::ShortcutCreate(const char* targetDir, const char* targetFile, const char* arguments, int folderId) {
  char folder[MAX_PATH];
  if (SHGetFolderPathA(nullptr, folderId, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return 0;
  return ShortcutCreate(targetDir, targetFile, arguments, folder);
}

int CSundry::ShortcutRemove(const char* linkFolder, const char* targetFile) {
  CDebugLog log("CSundry::ShortcutRemove", "%s", "");
  int result = 0;
  const CString linkPath = shortcutPath(linkFolder, targetFile != nullptr ? targetFile : "");
  if (linkFolder != nullptr && isPlainName(targetFile)) result = DeleteFileA(linkPath) ? 1 : 0;
  log.Report("Shortcut removal", "Removal of %s %s", linkPath.GetString(), result ? "Successful" : "Failed!");
  return result;
}

int CSundry::ShortcutRemove(int folderId, const char* targetFile) {
  char folder[MAX_PATH];
  if (SHGetFolderPathA(nullptr, folderId, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return 0;
  return ShortcutRemove(folder, targetFile);
}
