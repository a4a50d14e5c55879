// Browser detection, and the Netscape/Mozilla preference file prefs.js:
// finding the profile, reading the proxy preferences and writing a new file.
//
// A preference line reads user_pref("network.proxy.NAME", VALUE); where
// VALUE is a number or a quoted text. Only lines that begin with
// m_StrNsPrefProxy are read or replaced; every other line is kept.

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

namespace {

using sundry::platform::FileStream;

const char kHandlerKey[] = "http\\shell\\open\\command";
const char kProfilePath[] = "\\Mozilla\\Profiles\\default\\";
const size_t kPrefixLength = 25;  // user_pref("network.proxy.
// The longest preference name read after the prefix.
const size_t kMaxName = 127;
// The most digits read for a number.
const size_t kMaxDigits = 7;

unsigned low32(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

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

bool hasProxyPrefix(std::string_view line, const CString& prefix) {
  return line.size() >= kPrefixLength && std::memcmp(line.data(), prefix.GetString(), kPrefixLength) == 0;
}

std::string_view skipSpace(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  return s;
}

// A number value: blanks, then 1 to 7 digits. False when there is no digit.
bool readDigits(std::string_view s, std::string& out) {
  s = skipSpace(s);
  size_t n = 0;
  while (n < s.size() && n < kMaxDigits && s[n] >= '0' && s[n] <= '9') ++n;
  if (n == 0) return false;
  out.assign(s.data(), n);
  return true;
}

// A text value: blanks, a double quote, at least one character other than
// a double quote, and the closing quote. False for anything else.
bool readQuoted(std::string_view s, std::string& out) {
  s = skipSpace(s);
  if (s.empty() || s.front() != '"') return false;
  s.remove_prefix(1);
  size_t close = s.find('"');
  if (close == std::string_view::npos || close == 0) return false;
  out.assign(s.data(), close);
  return true;
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

CProxy::eBROWSER CProxy::determineBrowser() {
  CDebugLog log("CProxy::determineBrowser");
  CRegistryValue handler;
  int retries = 0;
  BOOL read = handler.initialize(HKEY_CLASSES_ROOT, kHandlerKey, "", "", 0, 0);
  while (!read && retries < 3) {
    ++retries;
    read = handler.initialize(HKEY_CLASSES_ROOT, kHandlerKey, "", "", 0, 0);
  }
  CString command = read ? handler.getCString(0) : CString();
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
  const CString path = m_StrNsDirectory + (mode == 0 ? "\\prefs.js" : "\\prefs.scm");
  if (mode == 1) {
    closeNetscapeFile(1);
    // Not committed here: the writer's move with write-through commits the
    // file before it takes the name prefs.js.
    m_pNsWriteFile = sundry::platform::StreamOpen(sundry::platform::NativePath(path).c_str(), "wt");
    m_StrNsWriteFile = path;
  } else {
    // A running browser would write its own prefs.js over ours on exit.
    CStringArray browsers;
    browsers.Add("netscp6.exe");
    browsers.Add("netscp.exe");
    CSundry::KillProcessByExeName(browsers);
    closeNetscapeFile(0);
    m_pNsReadFile = sundry::platform::StreamOpen(sundry::platform::NativePath(path).c_str(), "rt");
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

BOOL CProxy::parseProxyDataNs(FileStream* file) {
  CDebugLog log("CProxy::parseProxyDataNs");
  std::string content;
  if (file == nullptr || !readStream(file, content)) {
    log.Report("$$ERROR$$", "Read failed: %lu", static_cast<unsigned long>(GetLastError()));
    return 0;
  }
  return parsePrefsText(content.data(), content.size());
}

BOOL CProxy::parsePrefsText(const char* text, size_t length) {
  m_bEnabled = 0;
  m_bScriptEnabled = 0;
  BOOL result = 0;
  LineReader lines(std::string_view(text, length));
  std::string_view line;
  while (lines.next(line)) {
    if (!hasProxyPrefix(line, m_StrNsPrefProxy)) continue;
    // The name: up to 127 characters before a double quote, then the quote
    // and a comma. A line of another form is passed over.
    std::string_view rest = line.substr(kPrefixLength);
    const size_t quote = rest.find('"');
    if (quote == 0 || quote == std::string_view::npos || quote > kMaxName || quote + 1 >= rest.size() ||
        rest[quote + 1] != ',')
      continue;
    CString name(rest.data(), static_cast<int>(quote));
    name.MakeLower();
    const std::string_view value = rest.substr(quote + 2);
    std::string text;

    if (name == "type") {
      if (!readDigits(value, text)) continue;
      const long type = std::atol(text.c_str());
      // Type 0 is the browser's "no proxy": it leaves the switch off.
      m_bEnabled = type != 0 ? 1 : 0;
      m_bAutoDetect = type == 2 ? 1 : 0;
    } else if (name == "no_proxies_on") {
      if (!readQuoted(value, text)) continue;
      m_StrExceptions = text;
      m_StrExceptions.Replace(',', ';');
    } else if (name == "autoconfig_url") {
      if (!readQuoted(value, text)) continue;
      m_StrScript = text;
      if (!m_StrScript.IsEmpty()) m_bScriptEnabled = 1;
    } else if (name == "socks_version") {
      if (!readDigits(value, text)) continue;
      m_dwSocksVersion = static_cast<DWORD>(std::atol(text.c_str()));
    } else {
      CString protocol = name;
      const int port = protocol.Find("_port");
      const bool isPort = port >= 0;
      if (isPort) {
        protocol.Delete(port, 5);
        if (!readDigits(value, text)) continue;
      } else if (!readQuoted(value, text)) {
        continue;
      }
      CProxyProtocol* entry = entryFor(protocol);
      if (entry == nullptr) continue;
      entry->setProxy(protocol, isPort ? nullptr : text.c_str(), isPort ? text.c_str() : nullptr);
      result = 1;
    }
  }
  return result;
}

BOOL CProxy::writeNewNSPrefsFile() {
  CDebugLog log("CProxy::writeNewNSPrefsFile");
  if (m_pNsReadFile == nullptr) openNetscapeFile(0);
  if (m_pNsWriteFile == nullptr) openNetscapeFile(1);
  log.Report("Status", "0x%08X, 0x%08X", low32(m_pNsReadFile), low32(m_pNsWriteFile));
  if (m_pNsWriteFile == nullptr) {
    closeNetscapeFile(0);
    // An open that failed half-way may have left the file behind.
    if (!m_StrNsWriteFile.IsEmpty()) DeleteFileA(m_StrNsWriteFile);
    return 0;
  }
  if (m_pNsReadFile == nullptr && GetFileAttributesA(m_StrNsReadFile) != INVALID_FILE_ATTRIBUTES) {
    // prefs.js is there but could not be read: a new file in its place
    // would lose every other preference of the user.
    log.Report("$$ERROR$$", "Cannot read %s", m_StrNsReadFile.GetString());
    closeNetscapeFile(1);
    DeleteFileA(m_StrNsWriteFile);
    return 0;
  }

  std::string out;
  std::string eol = "\n";
  try {
    if (m_pNsReadFile != nullptr) {
      log.Report("Status", "Prefs.js & Prefs.scm open");
      std::string content;
      const bool read = readStream(m_pNsReadFile, content);
      closeNetscapeFile(0);
      if (!read) {
        // Half a file would lose the user's other preferences: keep prefs.js.
        log.Report("$$ERROR$$", "Read failed: %lu", static_cast<unsigned long>(GetLastError()));
        closeNetscapeFile(1);
        DeleteFileA(m_StrNsWriteFile);
        return 0;
      }
      const size_t firstFeed = content.find('\n');
      if (firstFeed != std::string::npos && firstFeed > 0 && content[firstFeed - 1] == '\r') eol = "\r\n";
      out.reserve(content.size() + 1024);
      LineReader lines(content);
      std::string_view line;
      while (lines.next(line)) {
        if (hasProxyPrefix(line, m_StrNsPrefProxy)) continue;
        out.append(line.data(), line.size());
        out += '\n';
      }
      // prefs.js stays where it is until the new file replaces it in one
      // step below, so a crash in between leaves the old preferences.
    } else {
      out = "# Mozilla User Preferences\n// This is a generated file!\n\n";
    }

    CString pref;
    auto add = [&]() {
      out.append(pref.GetString(), static_cast<size_t>(pref.GetLength()));
      out += eol;
    };
    if (m_bEnabled == 1) {
      pref.Format(m_StrNsPrefPortFmt, "type", "", static_cast<unsigned long>(m_bAutoDetect == 1 ? 2 : 1));
      add();
    }
    if (!m_StrScript.IsEmpty()) {
      pref.Format(m_StrNsPrefAddrFmt, "autoconfig_url", m_StrScript.GetString());
      add();
    }
    if (!m_StrExceptions.IsEmpty()) {
      m_StrExceptions.Replace(';', ',');
      pref.Format(m_StrNsPrefAddrFmt, "no_proxies_on", m_StrExceptions.GetString());
      add();
    }
    if (m_dwSocksVersion != 5) {
      pref.Format(m_StrNsPrefPortFmt, "socks_version", "", static_cast<unsigned long>(m_dwSocksVersion));
      add();
    }
    CProxyProtocol* all = nullptr;
    if (m_Protocols.Lookup(CProxyProtocol::m_StrProtocolNames[5], all) && all != nullptr) {
      for (const char* name : {"http", "ssl", "ftp", "gopher"}) {
        pref.Format(m_StrNsPrefAddrFmt, name, all->getProxy().GetString());
        add();
        pref.Format(m_StrNsPrefPortFmt, name, "_port", static_cast<unsigned long>(all->getPort()));
        add();
      }
    } else {
      CStringArray names;
      sortedProtocolNames(names);
      for (INT_PTR i = 0; i < names.GetSize(); ++i) {
        CProxyProtocol* entry = nullptr;
        m_Protocols.Lookup(names[i], entry);
        CString name = entry->getProtocol();
        if (name == "https") name = "ssl";
        pref.Format(m_StrNsPrefAddrFmt, name.GetString(), entry->getProxy().GetString());
        add();
        pref.Format(m_StrNsPrefPortFmt, name.GetString(), "_port", static_cast<unsigned long>(entry->getPort()));
        add();
      }
    }
  } catch (const std::bad_alloc&) {
    log.Report("$$ERROR$$", "Out of memory");
    closeNetscapeFile(0);
    closeNetscapeFile(1);
    DeleteFileA(m_StrNsWriteFile);
    return 0;
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
  const BOOL copied = CopyFileA(m_StrNsWriteFile, m_StrNsWriteFile + ".bak", FALSE);
  log.Report("Status", "File Copied: %s", copied ? "TRUE" : "FALSE");
  const BOOL renamed =
      MoveFileExA(m_StrNsWriteFile, m_StrNsReadFile, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  log.Report("Status", "File Renamed: %s", renamed ? "TRUE" : "FALSE");
  return renamed ? 1 : 0;
}
