// Helpers the command families share: scratch folders, the tool's data
// files, the terminal check.

#include "commands.h"

#include <sundry/platform/process.h>

#include <cstdio>
#include <filesystem>
#include <string>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace sundry::cli {

std::string MakeScratchFolder(const std::string& stem) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) throw Failure{"cannot find the temporary folder: " + ec.message(), kFailed};
  const std::string prefix = (base / stem).string() + "-" + std::to_string(GetCurrentProcessId()) + "-";
  for (int n = 0; n < 100; ++n) {
    const std::string path = prefix + std::to_string(n);
    if (fs::create_directory(path, ec)) {
      fs::permissions(path, fs::perms::owner_all, ec);
      return path;
    }
  }
  throw Failure{"cannot create a temporary folder in " + base.string(), kFailed};
}

std::string FindDataPath(const std::string& relative) {
  std::error_code ec;
  if (fs::exists(relative, ec)) return relative;
  char exe[4096];
  const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  if (n == 0 || n >= sizeof exe) return std::string();
  for (fs::path dir = fs::path(exe).parent_path(); !dir.empty() && dir != dir.root_path();
       dir = dir.parent_path()) {
    fs::path candidate = dir / relative;
    if (fs::exists(candidate, ec)) return candidate.string();
  }
  return std::string();
}

bool IsTerminal(std::FILE* stream) {
#if defined(_WIN32)
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

bool StdinIsTerminal() { return IsTerminal(stdin); }

}  // namespace sundry::cli
