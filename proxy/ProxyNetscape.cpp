// Browser detection, and the Netscape/Mozilla preference file prefs.js:
// finding the profile, reading the proxy preferences and rewriting them.
//
// A preference line reads user_pref("network.proxy.NAME", VALUE); where
// VALUE is a number or a quoted text with the escapes of a JavaScript
// string (\" \\ \n ...). Only lines that begin with m_StrNsPrefProxy are
// read, and of those only the preferences the model holds: the proxy type,
// the script address, the exceptions, the SOCKS version and host and port
// of the protocols Mozilla has a proxy for. A rewrite changes just those
// lines, in place, and adds or removes them one by one; every other line,
// network.proxy lines of other names included, stays byte for byte, so a
// file written as the browser writes it comes back the same when the
// settings come back the same.

#include <sundry/diag/DebugLog.h>
#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/file.h>
#include <sundry/platform/fileops.h>
#include <sundry/platform/shell.h>
#include <sundry/proxy/Proxy.h>
#include <sundry/registry/RegistryValue.h>
#include <sundry/util/Sundry.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

using sundry::platform::FileStream;

const char kHandlerKey[] = "http\\shell\\open\\command";
const char kProfilePath[] = "\\Mozilla\\Profiles\\default\\";
const size_t kPrefixLength = 25;  // user_pref("network.proxy.
// The longest preference name read after the prefix.
const size_t kMaxName = 127;
// The most digits read for a number.
const size_t kMaxDigits = 7;
// The protocols Mozilla keeps a proxy for, by the names of its preferences.
const char* const kMozillaProtocols[] = {"http", "ssl", "ftp", "gopher", "socks"};
const size_t kProtocolCount = sizeof kMozillaProtocols / sizeof kMozillaProtocols[0];
// A prefs.js made new is readable by its owner alone, as the browser makes it.
const DWORD kNewPrefsMode = 0600;

unsigned low32(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The index of a Mozilla protocol name in kMozillaProtocols, or -1.
int mozillaProtocol(std::string_view name) {
  for (size_t i = 0; i < kProtocolCount; ++i)
    if (name == std::string_view(kMozillaProtocols[i])) return static_cast<int>(i);
  return -1;
}

// The lines of a preference file as the reader sees them: white space and
// empty lines before a line are skipped, and a line runs to its line feed
// (a carriage return before it stays part of the line). The last line needs
// no line feed.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : m_text(text) {}
  bool next(std::string_view& line) {
    while (m_pos < m_text.size() && isSpace(m_text[m_pos])) ++m_pos;
    if (m_pos >= m_text.size()) return false;
    size_t end = m_text.find('\n', m_pos);
    if (end == std::string_view::npos) end = m_text.size();
    line = m_text.substr(m_pos, end - m_pos);
    m_pos = end;
    return true;
  }

 private:
  std::string_view m_text;
  size_t m_pos = 0;
};

// Where a line's text starts after its leading white space.
size_t textStart(std::string_view line) {
  size_t at = 0;
  while (at < line.size() && isSpace(line[at])) ++at;
  return at;
}

// A proxy preference line: its name after the prefix, lower-cased, and the
// offset in the line where its value text begins (right after the comma).
struct ProxyPref {
  CString name;
  size_t valueAt = 0;
};

// The name is up to 127 characters before a double quote, then the quote
// and a comma. False for a line of another form.
bool splitProxyPref(std::string_view line, const CString& prefix, ProxyPref* out) {
  const size_t at = textStart(line);
  if (line.size() - at < kPrefixLength || std::memcmp(line.data() + at, prefix.GetString(), kPrefixLength) != 0)
    return false;
  const std::string_view rest = line.substr(at + kPrefixLength);
  const size_t quote = rest.find('"');
  if (quote == 0 || quote == std::string_view::npos || quote > kMaxName || quote + 1 >= rest.size() ||
      rest[quote + 1] != ',')
    return false;
  out->name = CString(rest.data(), static_cast<int>(quote));
  out->name.MakeLower();
  out->valueAt = at + kPrefixLength + quote + 2;
  return true;
}

// A value as it stands in a line: a number or a text (decoded), and the
// bytes it takes, from begin to just past its end.
struct PrefValue {
  unsigned long number = 0;
  std::string text;
  size_t begin = 0;
  size_t end = 0;
};

// A number: blanks, then digits, of which the first 7 count. False when
// there is no digit.
bool readNumber(std::string_view s, PrefValue* v) {
  size_t at = 0;
  while (at < s.size() && isSpace(s[at])) ++at;
  size_t n = 0;
  while (at + n < s.size() && s[at + n] >= '0' && s[at + n] <= '9') ++n;
  if (n == 0) return false;
  v->number = std::strtoul(std::string(s.substr(at, n < kMaxDigits ? n : kMaxDigits)).c_str(), nullptr, 10);
  v->begin = at;
  v->end = at + n;
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// n hexadecimal digits at s[at]; -1 when they are not there.
long hexNumber(std::string_view s, size_t at, size_t n) {
  if (at + n > s.size()) return -1;
  long v = 0;
  for (size_t i = 0; i < n; ++i) {
    const int d = hexDigit(s[at + i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

void appendUtf8(std::string& out, unsigned long c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A text: blanks, then a string in double or single quotes with the escapes
// of a JavaScript string; \x and \u give the character of that number in
// UTF-8, as the browser's file is. False for an unclosed string, a broken
// escape or a zero character, which a text of the model cannot hold.
bool readText(std::string_view s, PrefValue* v) {
  size_t at = 0;
  while (at < s.size() && isSpace(s[at])) ++at;
  if (at >= s.size() || (s[at] != '"' && s[at] != '\'')) return false;
  const char quote = s[at];
  v->begin = at;
  v->text.clear();
  for (size_t i = at + 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == quote) {
      v->end = i + 1;
      return v->text.find('\0') == std::string::npos;
    }
    if (c != '\\') {
      v->text += c;
      continue;
    }
    if (++i >= s.size()) return false;
    long code = -1;  // a character given by its number
    switch (s[i]) {
      case 'n': v->text += '\n'; break;
      case 'r': v->text += '\r'; break;
      case 't': v->text += '\t'; break;
      case 'b': v->text += '\b'; break;
      case 'f': v->text += '\f'; break;
      case 'v': v->text += '\v'; break;
      case 'x':
        code = hexNumber(s, i + 1, 2);
        if (code < 0) return false;
        i += 2;
        break;
      case 'u':
        code = hexNumber(s, i + 1, 4);
        if (code < 0 || (code >= 0xDC00 && code <= 0xDFFF)) return false;
        i += 4;
        if (code >= 0xD800 && code < 0xDC00) {
          // A pair of surrogates stands for one character beyond 0xFFFF.
          const long low = i + 2 < s.size() && s[i + 1] == '\\' && s[i + 2] == 'u' ? hexNumber(s, i + 3, 4) : -1;
          if (low < 0xDC00 || low > 0xDFFF) return false;
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          i += 6;
        }
        break;
      default: v->text += s[i]; break;  // \" \' \\ and any other character stand for themselves
    }
    if (code >= 0) appendUtf8(v->text, static_cast<unsigned long>(code));
  }
  return false;
}

// A text as the browser writes it in a quoted string.
std::string quoteText(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c; break;
    }
  }
  return out + "\"";
}

// Reads the whole stream from its start. False with the last error set
// when a read fails.
bool readStream(FileStream* file, std::string& out) {
  if (!sundry::platform::StreamSeek(file, 0, FILE_BEGIN)) return false;
  out.clear();
  char buf[16 * 1024];
  for (;;) {
    size_t n = sundry::platform::StreamRead(file, buf, sizeof buf);
    out.append(buf, n);
    if (n < sizeof buf) return GetLastError() == ERROR_HANDLE_EOF;
  }
}

}  // namespace

CProxy::eBROWSER CProxy::getBrowser() {
  if (m_eBrowser == BROWSER_UNDETERMINED || m_eBrowser == BROWSER_UNSUPPORTED) m_eBrowser = determineBrowser();
  return m_eBrowser;
}

BOOL CProxy::setBrowser(eBROWSER kind) {
  BOOL result = 1;
  if (kind == BROWSER_UNDETERMINED) {
    m_eBrowser = determineBrowser();
    if (m_eBrowser == BROWSER_UNSUPPORTED) result = 0;
  } else {
    m_eBrowser = kind;
  }
  if (m_eBrowser == BROWSER_NETSCAPE) determineNetscapeDirectory();
  return result;
}

BOOL CProxy::readHttpHandlerCommand(CString& command) {
  CRegistryValue handler;
  const BOOL read = handler.initialize(HKEY_CLASSES_ROOT, kHandlerKey, "", "", 0, 0);
  command = read ? handler.getCString(0) : CString();
  return read;
}

CProxy::eBROWSER CProxy::determineBrowser() {
  CDebugLog log("CProxy::determineBrowser");
  int retries = 0;
  CString command;
  BOOL read = readHttpHandlerCommand(command);
  while (!read && retries < 3) {
    ++retries;
    read = readHttpHandlerCommand(command);
  }
  CString lower = command;
  lower.MakeLower();
  eBROWSER kind = BROWSER_UNSUPPORTED;
  if (lower.Find("iexplore") >= 0) kind = BROWSER_IE;
  else if (lower.Find("netsc") >= 0) kind = BROWSER_NETSCAPE;
  log.Report("Browser!!!", "%d [%d] == %s", static_cast<int>(kind), retries, command.GetString());
  return kind;
}

BOOL CProxy::determineNetscapeDirectory() {
  CDebugLog log("CProxy::determineNetscapeDirectory");
  char folder[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, TRUE)) {
    log.Report("Error", "No application-data folder");
    m_StrNsDirectory.Empty();
    return 0;
  }
  m_StrNsDirectory = CString(folder) + kProfilePath;
  WIN32_FIND_DATAA found;
  bool isDirectory = false;
  HANDLE search = FindFirstFileA(m_StrNsDirectory + "*.slt", &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        isDirectory = true;
        break;
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  if (!isDirectory) {
    log.Report("Status", "No profile in %s", m_StrNsDirectory.GetString());
    m_StrNsDirectory.Empty();
    return 0;
  }
  m_StrNsDirectory += found.cFileName;
  log.Report("Status", "%s", m_StrNsDirectory.GetString());
  return 1;
}

int CProxy::openNetscapeFile(int mode) {
  if (m_StrNsDirectory.IsEmpty()) determineNetscapeDirectory();
  if (m_StrNsDirectory.IsEmpty()) return 0;
  const CString path = m_StrNsDirectory + (mode == 1 ? "\\prefs.scm" : "\\prefs.js");
  if (mode == 1) {
    closeNetscapeFile(1);
    // Whatever stands at the name (a file left by a crash, a link placed
    // there) is taken away, so the open cannot write through it elsewhere.
    DeleteFileA(path);
    // Not committed here: the writer's move commits the file before it
    // takes the name prefs.js.
    m_pNsWriteFile = sundry::platform::StreamOpen(path, "wt");
    m_StrNsWriteFile = path;
  } else {
    // Mode 0 reads for a rewrite: a running browser would write its own
    // prefs.js over ours when it ends, so it is ended first. Mode 2 only
    // reads and leaves the browser alone.
    if (mode == 0) {
      CStringArray browsers;
      browsers.Add("netscp6.exe");
      browsers.Add("netscp.exe");
      CSundry::KillProcessByExeName(browsers);
    }
    closeNetscapeFile(0);
    m_pNsReadFile = sundry::platform::StreamOpen(path, "rt");
    m_StrNsReadFile = path;
  }
  return 0;
}

void CProxy::closeNetscapeFile(int mode) {
  FileStream*& file = mode == 0 ? m_pNsReadFile : m_pNsWriteFile;
  if (file != nullptr) {
    sundry::platform::StreamClose(file);
    file = nullptr;
  }
}

BOOL CProxy::parseProxyDataNs(FileStream* file, bool* read) {
  CDebugLog log("CProxy::parseProxyDataNs");
  if (read != nullptr) *read = false;
  std::string content;
  if (file == nullptr || !readStream(file, content)) {
    log.Report("$$ERROR$$", "Read failed: %lu", static_cast<unsigned long>(GetLastError()));
    return 0;
  }
  if (read != nullptr) *read = true;
  return parsePrefsText(content.data(), content.size());
}

BOOL CProxy::readNetscapeSettings(bool endBrowser, bool* readable) {
  CDebugLog log("CProxy::readNetscapeSettings", "%d", endBrowser ? 1 : 0);
  *readable = false;
  openNetscapeFile(endBrowser ? 0 : 2);
  if (m_pNsReadFile == nullptr) {
    // A profile without prefs.js has no settings of its own: that is a
    // reading too. A prefs.js that is there but cannot be opened is not.
    if (!m_StrNsDirectory.IsEmpty() && GetFileAttributesA(m_StrNsReadFile) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND) {
      *readable = true;
      parsePrefsText("", 0);
    }
    log.Report("Status", "No file %s", m_StrNsReadFile.GetString());
    return 0;
  }
  log.Report("Status", "File Open");
  const BOOL result = parseProxyDataNs(m_pNsReadFile, readable);
  if (!*readable) closeNetscapeFile(0);
  return result;
}

BOOL CProxy::parsePrefsText(const char* text, size_t length) {
  m_bEnabled = 0;
  m_bScriptEnabled = 0;
  BOOL result = 0;
  LineReader lines(std::string_view(text, length));
  std::string_view line;
  while (lines.next(line)) {
    ProxyPref pref;
    if (!splitProxyPref(line, m_StrNsPrefProxy, &pref)) continue;
    const std::string_view value = line.substr(pref.valueAt);
    PrefValue v;
    const CString& name = pref.name;
    // A value of another form is passed over, as is an empty text.
    if (name == "type") {
      if (!readNumber(value, &v)) continue;
      // Type 0 is the browser's "no proxy": it leaves the switch off.
      m_bEnabled = v.number != 0 ? 1 : 0;
      m_bAutoDetect = v.number == 2 ? 1 : 0;
    } else if (name == "no_proxies_on") {
      if (!readText(value, &v) || v.text.empty()) continue;
      m_StrExceptions = v.text.c_str();
      m_StrExceptions.Replace(',', ';');
    } else if (name == "autoconfig_url") {
      if (!readText(value, &v) || v.text.empty()) continue;
      m_StrScript = v.text.c_str();
      m_bScriptEnabled = 1;
    } else if (name == "socks_version") {
      if (!readNumber(value, &v)) continue;
      m_dwSocksVersion = static_cast<DWORD>(v.number);
    } else {
      // The host or port of a protocol Mozilla knows; other names (such
      // as share_proxy_settings or backup.ssl) are not the model's.
      CString protocol = name;
      const bool isPort = protocol.GetLength() > 5 && protocol.Right(5) == "_port";
      if (isPort) protocol = protocol.Left(protocol.GetLength() - 5);
      if (mozillaProtocol(protocol.GetString()) < 0) continue;
      if (isPort ? !readNumber(value, &v) : (!readText(value, &v) || v.text.empty())) continue;
      CProxyProtocol* entry = entryFor(protocol);
      if (entry == nullptr) continue;
      const std::string port = std::to_string(v.number);
      entry->setProxy(protocol, isPort ? nullptr : v.text.c_str(), isPort ? port.c_str() : nullptr);
      result = 1;
    }
  }
  return result;
}

namespace {

// A preference of the model and the value the model gives it.
struct Wanted {
  CString name;  // after the prefix
  bool isNumber = false;
  unsigned long number = 0;
  std::string text;
  // The value is the one the browser takes when the line is absent, so
  // no line needs to be written for it.
  bool isDefault = false;
  // A line of this name was met in the old file.
  bool present = false;
};

Wanted wantNumber(const char* name, unsigned long value, unsigned long absent) {
  Wanted w;
  w.name = name;
  w.isNumber = true;
  w.number = value;
  w.isDefault = value == absent;
  return w;
}

Wanted wantText(const char* name, const char* value) {
  Wanted w;
  w.name = name;
  w.text = value;
  w.isDefault = w.text.empty();
  return w;
}

std::string valueText(const Wanted& w) { return w.isNumber ? std::to_string(w.number) : quoteText(w.text); }

// The name of a user_pref line with its closing quote, "" for any other
// line: the browser writes its lines sorted by this text.
std::string sortKey(std::string_view line) {
  static const char kUserPref[] = "user_pref(\"";
  const size_t at = textStart(line) + sizeof kUserPref - 1;
  if (at > line.size() || line.compare(at - (sizeof kUserPref - 1), sizeof kUserPref - 1, kUserPref) != 0) return "";
  const size_t quote = line.find('"', at);
  return quote == std::string_view::npos ? "" : std::string(line.substr(at, quote - at + 1));
}

// The line end of a line: "\r\n", "\n", or "" for a last line without one.
std::string_view lineEnd(std::string_view line) {
  if (line.empty() || line.back() != '\n') return "";
  return line.size() >= 2 && line[line.size() - 2] == '\r' ? "\r\n" : "\n";
}

// The file's proxy preferences brought in line with the model: a line
// whose value the model shares stays as it is; one it does not is changed
// in place, or removed when the model has no value for it; a preference
// the model sets that has no line gets one where the browser would put it
// in its sorted file, in the file's own spacing and line ends.
std::string rewritePrefs(const std::string& content, std::vector<Wanted>& wanted, const CString& prefix) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < content.size();) {
    const size_t feed = content.find('\n', at);
    const size_t end = feed == std::string::npos ? content.size() : feed + 1;
    lines.push_back(content.substr(at, end - at));
    at = end;
  }
  const size_t firstFeed = content.find('\n');
  const std::string eol = firstFeed != std::string::npos && firstFeed > 0 && content[firstFeed - 1] == '\r' ? "\r\n" : "\n";
  // The browser writes a blank after the comma; a file whose lines have
  // none gets none either.
  bool spaced = false;
  bool styleFound = false;
  for (const std::string& line : lines) {
    ProxyPref pref;
    if (splitProxyPref(line, prefix, &pref)) {
      spaced = pref.valueAt < line.size() && line[pref.valueAt] == ' ';
      styleFound = true;
      break;
    }
  }
  for (size_t i = 0; i < lines.size() && !styleFound; ++i) {
    const std::string key = sortKey(lines[i]);
    if (key.empty()) continue;
    const size_t comma = lines[i].find(key) + key.size();
    spaced = comma + 1 < lines[i].size() && lines[i][comma] == ',' && lines[i][comma + 1] == ' ';
    styleFound = true;
  }
  auto newLine = [&](const Wanted& w) {
    return std::string(prefix.GetString()) + w.name.GetString() + "\"," + (spaced ? " " : "") + valueText(w) + ");";
  };

  std::vector<std::string> out;
  out.reserve(lines.size() + wanted.size());
  for (std::string& line : lines) {
    ProxyPref pref;
    Wanted* w = nullptr;
    if (splitProxyPref(line, prefix, &pref)) {
      for (Wanted& c : wanted)
        if (c.name == pref.name) w = &c;
    }
    if (w == nullptr) {
      out.push_back(std::move(line));
      continue;
    }
    w->present = true;
    const std::string_view value = std::string_view(line).substr(pref.valueAt);
    PrefValue v;
    const bool readable = w->isNumber ? readNumber(value, &v) : readText(value, &v);
    if (readable && (w->isNumber ? v.number == w->number : v.text == w->text)) {
      out.push_back(std::move(line));
    } else if (w->isDefault) {
      // A value the model contradicts goes; a line it cannot read is kept.
      if (!readable) out.push_back(std::move(line));
    } else if (readable) {
      line.replace(pref.valueAt + v.begin, v.end - v.begin, valueText(*w));
      out.push_back(std::move(line));
    } else {
      out.push_back(line.substr(0, textStart(line)) + newLine(*w) + std::string(lineEnd(line)));
    }
  }

  // Where a new line goes: among the network.proxy lines (all user_pref
  // lines when there are none) before the first that sorts after it, when
  // they are sorted as the browser sorts them; after the last of them when
  // they are not (a file written in another order); at the end when there
  // are none.
  auto isProxyLine = [&](const std::string& line) {
    const size_t at = textStart(line);
    return line.size() - at >= kPrefixLength && line.compare(at, kPrefixLength, prefix.GetString()) == 0;
  };
  for (const Wanted& w : wanted) {
    if (w.present || w.isDefault) continue;
    const std::string line = newLine(w);
    const std::string key = sortKey(line);
    bool anyProxy = false;
    for (const std::string& l : out) anyProxy = anyProxy || (isProxyLine(l) && !sortKey(l).empty());
    std::vector<size_t> candidates;
    bool sorted = true;
    for (size_t i = 0; i < out.size(); ++i) {
      const std::string k = sortKey(out[i]);
      if (k.empty() || (anyProxy && !isProxyLine(out[i]))) continue;
      if (!candidates.empty() && sortKey(out[candidates.back()]) > k) sorted = false;
      candidates.push_back(i);
    }
    size_t at = out.size();
    if (!candidates.empty()) {
      at = candidates.back() + 1;
      if (sorted) {
        for (size_t i : candidates) {
          if (sortKey(out[i]) > key) {
            at = i;
            break;
          }
        }
      }
    }
    if (at == out.size() && !out.empty() && lineEnd(out.back()).empty()) out.back() += eol;
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), line + eol);
  }

  std::string text;
  text.reserve(content.size() + 1024);
  for (const std::string& line : out) text += line;
  return text;
}

}  // namespace

BOOL CProxy::writeNewNSPrefsFile() {
  CDebugLog log("CProxy::writeNewNSPrefsFile");
  // prefs.js is read afresh with the browser ended (openNetscapeFile(0)),
  // whatever an earlier read left open: the browser must not write its own
  // file over this one, and the lines kept must be the file's latest.
  closeNetscapeFile(0);
  openNetscapeFile(0);
  if (m_pNsReadFile == nullptr && !m_StrNsReadFile.IsEmpty() &&
      GetFileAttributesA(m_StrNsReadFile) != INVALID_FILE_ATTRIBUTES) {
    // prefs.js is there but could not be opened (no right to, a directory):
    // a new file in its place would lose every other preference of the user.
    log.Report("$$ERROR$$", "Cannot read %s", m_StrNsReadFile.GetString());
    return 0;
  }
  if (m_pNsWriteFile == nullptr) openNetscapeFile(1);
  log.Report("Status", "0x%08X, 0x%08X", low32(m_pNsReadFile), low32(m_pNsWriteFile));
  if (m_pNsWriteFile == nullptr) {
    closeNetscapeFile(0);
    // An open that failed half-way may have left the file behind.
    if (!m_StrNsWriteFile.IsEmpty()) DeleteFileA(m_StrNsWriteFile);
    return 0;
  }
  auto abandon = [&]() {
    closeNetscapeFile(0);
    closeNetscapeFile(1);
    DeleteFileA(m_StrNsWriteFile);
    return 0;
  };

  std::string out;
  try {
    std::string content;
    if (m_pNsReadFile != nullptr) {
      log.Report("Status", "Prefs.js & Prefs.scm open");
      const bool read = readStream(m_pNsReadFile, content);
      closeNetscapeFile(0);
      if (!read) {
        // Half a file would lose the user's other preferences: keep prefs.js.
        log.Report("$$ERROR$$", "Read failed: %lu", static_cast<unsigned long>(GetLastError()));
        return abandon();
      }
      // prefs.js stays where it is until the new file replaces it in one
      // step below, so a crash in between leaves the old preferences.
    } else {
      content = "# Mozilla User Preferences\n// This is a generated file!\n\n";
    }

    std::vector<Wanted> wanted;
    wanted.push_back(wantNumber("type", m_bEnabled == 1 ? (m_bAutoDetect == 1 ? 2 : 1) : 0, 0));
    wanted.push_back(wantText("autoconfig_url", m_StrScript));
    // The model keeps the commas the file has.
    m_StrExceptions.Replace(';', ',');
    wanted.push_back(wantText("no_proxies_on", m_StrExceptions));
    wanted.push_back(wantNumber("socks_version", m_dwSocksVersion, 5));
    // Host and port of each protocol Mozilla knows: "ALL" gives the four
    // it stands for, otherwise each entry its own (https is Mozilla's ssl).
    // An entry of a name Mozilla has no proxy for is not written.
    const CProxyProtocol* given[kProtocolCount] = {};
    CProxyProtocol* all = nullptr;
    if (m_Protocols.Lookup(CProxyProtocol::m_StrProtocolNames[5], all) && all != nullptr) {
      for (const char* name : {"http", "ssl", "ftp", "gopher"}) given[mozillaProtocol(name)] = all;
    } else {
      CStringArray names;
      sortedProtocolNames(names);
      for (INT_PTR i = 0; i < names.GetSize(); ++i) {
        CProxyProtocol* entry = nullptr;
        m_Protocols.Lookup(names[i], entry);
        CString name = entry->getProtocol();
        name.MakeLower();
        if (name == "https") name = "ssl";
        const int index = mozillaProtocol(name.GetString());
        if (index < 0) {
          log.Report("Status", "No Mozilla proxy for %s", entry->getProtocol().GetString());
        } else if (given[index] == nullptr) {
          given[index] = entry;
        }
      }
    }
    for (size_t i = 0; i < kProtocolCount; ++i) {
      const CProxyProtocol* entry = given[i];
      const CString host = entry != nullptr ? entry->getProxy() : CString();
      wanted.push_back(wantText(kMozillaProtocols[i], host));
      const CString port = CString(kMozillaProtocols[i]) + "_port";
      wanted.push_back(wantNumber(port, entry != nullptr ? entry->getPort() : 0, 0));
    }
    out = rewritePrefs(content, wanted, m_StrNsPrefProxy);
  } catch (const std::bad_alloc&) {
    log.Report("$$ERROR$$", "Out of memory");
    return abandon();
  }

  // The new file is never more readable than prefs.js, nor anyone else's,
  // from before its first byte is written.
  if (!sundry::platform::CopyFileAccess(m_StrNsReadFile, m_StrNsWriteFile, kNewPrefsMode)) {
    log.Report("$$ERROR$$", "Cannot give %s the access of %s: %lu", m_StrNsWriteFile.GetString(),
               m_StrNsReadFile.GetString(), static_cast<unsigned long>(GetLastError()));
    return abandon();
  }
  // Write and commit the new file; a new file that did not reach the disk
  // whole never replaces prefs.js.
  bool written = sundry::platform::StreamWrite(m_pNsWriteFile, out.data(), out.size()) == out.size();
  DWORD error = written ? 0 : GetLastError();
  if (!sundry::platform::StreamClose(m_pNsWriteFile) && written) {
    written = false;
    error = GetLastError();
  }
  m_pNsWriteFile = nullptr;
  log.Report("Status", "File Written: %s", written ? "TRUE" : "FALSE");
  if (!written) {
    DeleteFileA(m_StrNsWriteFile);
    SetLastError(error);
    return 0;
  }
  const CString backup = m_StrNsWriteFile + ".bak";
  BOOL copied = CopyFileA(m_StrNsWriteFile, backup, FALSE);
  if (copied && !sundry::platform::CopyFileAccess(m_StrNsReadFile, backup, kNewPrefsMode)) {
    DeleteFileA(backup);
    copied = FALSE;
  }
  log.Report("Status", "File Copied: %s", copied ? "TRUE" : "FALSE");
  // Through a link to the file it names, keeping that file's access.
  const BOOL renamed = sundry::platform::ReplaceFileKeepingAccess(m_StrNsWriteFile, m_StrNsReadFile);
  log.Report("Status", "File Renamed: %s", renamed ? "TRUE" : "FALSE");
  if (!renamed) DeleteFileA(m_StrNsWriteFile);
  return renamed ? 1 : 0;
}
