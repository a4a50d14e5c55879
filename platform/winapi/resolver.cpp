// The resolver configuration file: its search list read by the C library's
// rules, and rewritten line-exactly and atomically.

#include "platform/posix/error.h"
#include "platform/posix/fileio.h"
#include "platform/posix/sysroot.h"

#include <sundry/platform/error.h>
#include <sundry/platform/sysinfo.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using sundry::platform::posix::OrOutOfMemory;

// A line of the file, by byte offsets; end excludes the line feed.
struct Line {
  size_t begin, end;
};

std::vector<Line> splitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back({pos, nl});
    pos = nl + 1;
  }
  return lines;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The keyword the line begins with, as the resolver matches it: the word
// and then a blank or a tab.
bool keyword(const std::string& text, const Line& l, const char* word) {
  const size_t n = std::char_traits<char>::length(word);
  return l.end - l.begin > n && text.compare(l.begin, n, word) == 0 && isBlank(text[l.begin + n]);
}

bool isListLine(const std::string& text, const Line& l) {
  return keyword(text, l, "search") || keyword(text, l, "domain");
}

// The names of a search or domain line; empty when the line has none (the
// resolver then ignores it).
std::vector<std::string> namesOf(const std::string& text, const Line& l) {
  std::vector<std::string> names;
  const bool domain = keyword(text, l, "domain");
  size_t pos = l.begin + 6;
  while (pos < l.end) {
    while (pos < l.end && isBlank(text[pos])) ++pos;
    if (pos == l.end) break;
    const size_t start = pos;
    while (pos < l.end && !isBlank(text[pos])) ++pos;
    names.push_back(text.substr(start, pos - start));
    if (domain) break;
  }
  return names;
}

// The index of the line that decides the list, or -1.
long decidingLine(const std::string& text, const std::vector<Line>& lines, std::vector<std::string>* names) {
  long found = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& l = lines[i];
    if (l.begin == l.end || text[l.begin] == '#' || text[l.begin] == ';') continue;
    if (!isListLine(text, l)) continue;
    std::vector<std::string> n = namesOf(text, l);
    if (n.empty()) continue;
    found = static_cast<long>(i);
    if (names != nullptr) *names = std::move(n);
  }
  return found;
}

DWORD readFile(const std::string& path, std::string* text) {
  if (sundry::platform::posix::ReadWholeFile(path, text)) return ERROR_SUCCESS;
  return GetLastError();
}

std::string realPath(const std::string& path) {
  std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

// The manager whose runtime folder the link at path points into, if any.
bool managedBy(const std::string& path, const std::vector<std::string>& suffixes, std::string* manager,
               std::string* command) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  const std::string target = realPath(path);
  std::string list;
  for (const std::string& s : suffixes) list += (list.empty() ? "" : " ") + s;
  std::string commaList;
  for (const std::string& s : suffixes) commaList += (commaList.empty() ? "" : ",") + s;
  const struct {
    const char* folder;
    const char* name;
    std::string command;
  } kManagers[] = {
      {"/run/systemd/resolve", "systemd-resolved", "resolvectl domain INTERFACE " + (list.empty() ? "\"\"" : list)},
      {"/run/NetworkManager", "NetworkManager",
       "nmcli connection modify CONNECTION ipv4.dns-search \"" + commaList + "\""},
      {"/run/resolvconf", "resolvconf", "resolvconf (the interface's \"search\" entry)"},
  };
  for (const auto& m : kManagers) {
    const std::string folder = realPath(sundry::platform::posix::SystemPath(m.folder)) + "/";
    if (target.compare(0, folder.size(), folder) == 0) {
      *manager = m.name;
      *command = m.command;
      return true;
    }
  }
  return false;
}

bool validName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (c <= ' ' || c == 0x7F || c == '#' || c == ';') return false;
  return true;
}

std::string newContent(const std::string& old, const std::vector<std::string>& suffixes) {
  const std::vector<Line> lines = splitLines(old);
  std::string line = "search";
  for (const std::string& s : suffixes) line += " " + s;
  if (suffixes.empty()) {
    // Every list line goes, with its line feed.
    std::string out;
    size_t pos = 0;
    for (const Line& l : lines) {
      if (isListLine(old, l)) {
        out.append(old, pos, l.begin - pos);
        pos = l.end < old.size() ? l.end + 1 : l.end;
      }
    }
    out.append(old, pos, std::string::npos);
    return out;
  }
  const long at = decidingLine(old, lines, nullptr);
  if (at < 0) {
    std::string out = old;
    if (!out.empty() && out.back() != '\n') out += '\n';
    return out + line + "\n";
  }
  const Line& l = lines[static_cast<size_t>(at)];
  return old.substr(0, l.begin) + line + old.substr(l.end);
}

// Rewrites the file in place: for a file that cannot be replaced by a
// rename (a bind mount). Shorter content is cut to its length afterwards.
bool rewriteInPlace(const std::string& path, const std::string& content) {
  using namespace sundry::platform::posix;
  UniqueFd fd = OpenFile(path, O_WRONLY);
  if (!fd) return false;
  if (WriteAll(fd.get(), content.data(), content.size(), 0, path) != content.size()) return false;
  if (RetryOnEintr([&] { return ::ftruncate(fd.get(), static_cast<off_t>(content.size())); }) != 0) {
    SetLastErrorFromErrno(errno, "ftruncate", path.c_str());
    return false;
  }
  return SyncFile(fd.get(), false, path);
}

}  // namespace

namespace sundry::platform {

std::string ResolverConfPath() {
  const char* path = std::getenv("SUNDRY_RESOLV_CONF");
  if (path != nullptr && path[0] != '\0') return path;
  return posix::SystemPath("/etc/resolv.conf");
}

DWORD ReadResolverSearchList(std::vector<std::string>* suffixes) {
  return OrOutOfMemory<DWORD>(ERROR_NOT_ENOUGH_MEMORY, [&]() -> DWORD {
    suffixes->clear();
    std::string text;
    const DWORD rc = readFile(ResolverConfPath(), &text);
    if (rc != ERROR_SUCCESS) return rc;
    decidingLine(text, splitLines(text), suffixes);
    return ERROR_SUCCESS;
  });
}

DWORD WriteResolverSearchList(const std::vector<std::string>& suffixes, std::string* manager, std::string* command) {
  return OrOutOfMemory<DWORD>(ERROR_NOT_ENOUGH_MEMORY, [&]() -> DWORD {
    for (const std::string& s : suffixes)
      if (!validName(s)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
      }
    const std::string path = ResolverConfPath();
    if (managedBy(path, suffixes, manager, command)) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return ERROR_NOT_SUPPORTED;
    }
    std::string old;
    DWORD rc = readFile(path, &old);
    if (rc == ERROR_FILE_NOT_FOUND) old.clear();
    else if (rc != ERROR_SUCCESS) return rc;
    const std::string content = newContent(old, suffixes);
    if (content == old && rc == ERROR_SUCCESS) return ERROR_SUCCESS;
    posix::Placement how;
    how.createMode = 0644;
    auto fill = [&](int fd, const std::string& name) {
      return posix::WriteAll(fd, content.data(), content.size(), 0, name) == content.size();
    };
    DWORD commitError = ERROR_SUCCESS;
    if (posix::PutFileInPlace(path, how, fill, nullptr, &commitError)) return ERROR_SUCCESS;
    rc = GetLastError();
    if (rc == ERROR_BUSY && rewriteInPlace(realPath(path), content)) return ERROR_SUCCESS;
    return GetLastError() != ERROR_SUCCESS ? GetLastError() : rc;
  });
}

}  // namespace sundry::platform
