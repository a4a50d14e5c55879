// INI profile files: the whole file is read, split into lines that remember
// what they are, changed line by line and written back in one durable
// replacement.

#include "platform/posix/fileio.h"
#include "platform/posix/files.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/file.h>
#include <sundry/platform/profile.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

using sundry::platform::AnsiCompareNoCase;
using sundry::platform::posix::NativePath;
using sundry::platform::posix::ReadWholeFile;

enum class LineKind { Other, Section, Key };

struct Line {
  std::string text;  // the line as in the file, without its line end
  std::string eol;   // "\r\n", "\n", or "" for a last line without one
  LineKind kind = LineKind::Other;
  std::string name;   // section or key name, blanks trimmed
  std::string value;  // a key's value, blanks and quotes removed
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool sameName(const std::string& a, const char* b) {
  return AnsiCompareNoCase(a.data(), a.size(), b, std::strlen(b)) == 0;
}

void classify(Line& line) {
  std::string_view t = trim(line.text);
  if (t.empty() || t.front() == ';') return;
  if (t.front() == '[') {
    t.remove_prefix(1);
    size_t close = t.find(']');
    if (close != std::string_view::npos) t = t.substr(0, close);
    line.kind = LineKind::Section;
    line.name = std::string(trim(t));
    return;
  }
  line.kind = LineKind::Key;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) {
    line.name = std::string(t);
    return;
  }
  line.name = std::string(trim(t.substr(0, eq)));
  std::string_view v = trim(t.substr(eq + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v.remove_prefix(1);
    v.remove_suffix(1);
  }
  line.value = std::string(v);
}

std::vector<Line> splitLines(const std::string& content) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t nl = content.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = content.substr(pos);
      pos = content.size();
    } else {
      size_t end = nl;
      if (end > pos && content[end - 1] == '\r') --end;
      line.text = content.substr(pos, end - pos);
      line.eol = content.substr(end, nl + 1 - end);
      pos = nl + 1;
    }
    classify(line);
    lines.push_back(std::move(line));
  }
  return lines;
}

// The line end a file uses: that of its first line, CR LF for a new file.
std::string lineEndOf(const std::vector<Line>& lines) {
  for (const Line& l : lines)
    if (!l.eol.empty()) return l.eol;
  return "\r\n";
}

// Index of the first line of section `name`, or -1.
long findSection(const std::vector<Line>& lines, const char* name, size_t from = 0) {
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i].kind == LineKind::Section && sameName(lines[i].name, name)) return static_cast<long>(i);
  return -1;
}

// One past the last line of the section that starts at `header`.
size_t sectionEnd(const std::vector<Line>& lines, size_t header) {
  size_t i = header + 1;
  while (i < lines.size() && lines[i].kind != LineKind::Section) ++i;
  return i;
}

// Copies a list of names, each zero-terminated, with a final zero; cut to
// nSize with two closing zeros when it does not fit.
DWORD copyList(const std::vector<std::string>& names, LPSTR out, DWORD nSize) {
  std::string list;
  for (const std::string& n : names) {
    list += n;
    list += '\0';
  }
  if (list.size() + 1 <= nSize) {
    if (!list.empty()) std::memcpy(out, list.data(), list.size());
    out[list.size()] = '\0';
    if (list.empty() && nSize > 1) out[1] = '\0';
    return static_cast<DWORD>(list.size());
  }
  if (nSize < 2) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(out, list.data(), nSize - 2);
  out[nSize - 2] = '\0';
  out[nSize - 1] = '\0';
  return nSize - 2;
}

DWORD copyText(std::string_view text, LPSTR out, DWORD nSize) {
  size_t n = std::min<size_t>(text.size(), nSize - 1);
  if (n > 0) std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return static_cast<DWORD>(n);
}

bool hasLineBreak(const char* s) { return s != nullptr && std::strpbrk(s, "\r\n") != nullptr; }

}  // namespace

extern "C" {

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName) {
  if (lpReturnedString == nullptr || nSize == 0) return 0;
  std::string_view dflt = lpDefault != nullptr ? std::string_view(lpDefault) : std::string_view();
  while (!dflt.empty() && dflt.back() == ' ') dflt.remove_suffix(1);
  const bool listing = lpAppName == nullptr || lpKeyName == nullptr;
  auto useDefault = [&](DWORD code) {
    DWORD n = listing ? copyList({}, lpReturnedString, nSize) : copyText(dflt, lpReturnedString, nSize);
    SetLastError(code);
    return n;
  };
  if (lpFileName == nullptr || *lpFileName == '\0') return useDefault(ERROR_INVALID_PARAMETER);

  std::string content;
  std::vector<Line> lines;
  try {
    if (!ReadWholeFile(NativePath(lpFileName), &content)) {
      DWORD err = GetLastError();
      return useDefault(err == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : err);
    }
    lines = splitLines(content);

    if (lpAppName == nullptr) {
      std::vector<std::string> names;
      for (const Line& l : lines)
        if (l.kind == LineKind::Section) names.push_back(l.name);
      DWORD n = copyList(names, lpReturnedString, nSize);
      SetLastError(ERROR_SUCCESS);
      return n;
    }
    long header = findSection(lines, lpAppName);
    if (header < 0) return useDefault(ERROR_FILE_NOT_FOUND);
    const size_t end = sectionEnd(lines, static_cast<size_t>(header));
    if (lpKeyName == nullptr) {
      std::vector<std::string> names;
      for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
        if (lines[i].kind == LineKind::Key) names.push_back(lines[i].name);
      DWORD n = copyList(names, lpReturnedString, nSize);
      SetLastError(ERROR_SUCCESS);
      return n;
    }
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
      if (lines[i].kind == LineKind::Key && sameName(lines[i].name, lpKeyName)) {
        DWORD n = copyText(lines[i].value, lpReturnedString, nSize);
        SetLastError(ERROR_SUCCESS);
        return n;
      }
    }
    return useDefault(ERROR_FILE_NOT_FOUND);
  } catch (const std::bad_alloc&) {
    return useDefault(ERROR_NOT_ENOUGH_MEMORY);
  }
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
  if (lpAppName == nullptr || lpFileName == nullptr || *lpFileName == '\0' || hasLineBreak(lpAppName) ||
      std::strchr(lpAppName, ']') != nullptr || hasLineBreak(lpKeyName) || hasLineBreak(lpString)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lpKeyName != nullptr) {
    std::string_view key = trim(lpKeyName);
    if (std::strchr(lpKeyName, '=') != nullptr || (!key.empty() && (key.front() == '[' || key.front() == ';'))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  try {
    const std::string path = NativePath(lpFileName);
    std::string content;
    bool exists = ReadWholeFile(path, &content);
    if (!exists) {
      DWORD err = GetLastError();
      if (err != ERROR_FILE_NOT_FOUND) {
        SetLastError(err);
        return FALSE;
      }
      content.clear();
    }
    std::vector<Line> lines = splitLines(content);
    const std::string eol = lineEndOf(lines);
    bool changed = false;

    if (lpKeyName == nullptr) {
      // Delete every section of that name with its lines.
      for (long h = findSection(lines, lpAppName); h >= 0; h = findSection(lines, lpAppName, static_cast<size_t>(h))) {
        size_t end = sectionEnd(lines, static_cast<size_t>(h));
        lines.erase(lines.begin() + h, lines.begin() + static_cast<long>(end));
        changed = true;
      }
    } else {
      long header = findSection(lines, lpAppName);
      long keyLine = -1;
      size_t insertAt = lines.size();
      if (header >= 0) {
        size_t end = sectionEnd(lines, static_cast<size_t>(header));
        insertAt = static_cast<size_t>(header) + 1;
        for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
          if (!trim(lines[i].text).empty()) insertAt = i + 1;
          if (keyLine < 0 && lines[i].kind == LineKind::Key && sameName(lines[i].name, lpKeyName))
            keyLine = static_cast<long>(i);
        }
      }
      if (lpString == nullptr) {
        if (keyLine >= 0) {
          lines.erase(lines.begin() + keyLine);
          changed = true;
        }
      } else {
        Line entry;
        entry.text = std::string(lpKeyName) + "=" + lpString;
        entry.eol = eol;
        classify(entry);
        if (keyLine >= 0) {
          if (lines[static_cast<size_t>(keyLine)].text != entry.text) {
            entry.eol = lines[static_cast<size_t>(keyLine)].eol.empty() ? eol : lines[static_cast<size_t>(keyLine)].eol;
            lines[static_cast<size_t>(keyLine)] = entry;
            changed = true;
          }
        } else {
          if (header < 0) {
            if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = eol;
            Line section;
            section.text = std::string("[") + lpAppName + "]";
            section.eol = eol;
            classify(section);
            lines.push_back(section);
            insertAt = lines.size();
          }
          // The line before the new one must end, or the two would run
          // together.
          if (insertAt > 0 && lines[insertAt - 1].eol.empty()) lines[insertAt - 1].eol = eol;
          lines.insert(lines.begin() + static_cast<long>(insertAt), entry);
          changed = true;
        }
      }
    }
    if (!changed) {
      SetLastError(ERROR_SUCCESS);
      return TRUE;
    }
    std::string out;
    out.reserve(content.size() + 64);
    for (const Line& l : lines) {
      out += l.text;
      out += l.eol;
    }
    if (!sundry::platform::ReplaceFileDurably(path.c_str(), out.data(), out.size())) {
      DWORD err = GetLastError();
      if (err == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
      return FALSE;
    }
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

}  // extern "C"
