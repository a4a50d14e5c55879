// Registry editor files: decoding, parsing, writing, and the store side of
// import and export.

#include <sundry/registry/RegFile.h>

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/file.h>
#include <sundry/platform/registry.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace sundry::registry {

namespace {

constexpr const char kHeader4[] = "REGEDIT4";
constexpr const char kHeader5[] = "Windows Registry Editor Version 5.00";
constexpr size_t kLineWidth = 80;  // widest line the writer makes, where it can

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

bool fail(RegFileError* err, int line, LONG code, std::string reason) {
  if (err) {
    err->line = line;
    err->code = code;
    err->reason = std::move(reason);
  }
  return false;
}

// A name or path as messages show it: control characters as \r, \n, \t or
// \xHH, and a long one cut, so that a message stays one short line.
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

// ---------------------------------------------------------------------------
// Windows-1252 <-> Unicode.

// The Windows-1252 byte of a code point; false when the code page has none.
bool toAnsi(char32_t cp, char* out) { return sundry::platform::UnicodeToAnsi(cp, out); }

std::string describeCodePoint(char32_t cp) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

constexpr char32_t kInvalid = 0xFFFFFFFFu;  // marks a broken encoding sequence

// Decodes UTF-16LE code units from bytes [pos, end): one code point per call.
char32_t nextUtf16(std::string_view s, size_t& pos) {
  auto unit = [&](size_t at) {
    return static_cast<char32_t>(static_cast<unsigned char>(s[at]) |
                                 (static_cast<unsigned char>(s[at + 1]) << 8));
  };
  if (pos + 1 >= s.size()) {  // a dangling odd byte
    pos = s.size();
    return kInvalid;
  }
  char32_t u = unit(pos);
  pos += 2;
  if (u >= 0xD800 && u <= 0xDBFF) {
    if (pos + 1 < s.size()) {
      char32_t low = unit(pos);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        pos += 2;
        return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      }
    }
    return kInvalid;
  }
  if (u >= 0xDC00 && u <= 0xDFFF) return kInvalid;
  return u;
}

// Decodes one UTF-8 sequence; kInvalid for a malformed or overlong one.
char32_t nextUtf8(std::string_view s, size_t& pos) {
  unsigned char c = static_cast<unsigned char>(s[pos++]);
  if (c < 0x80) return c;
  int extra;
  char32_t cp;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    return kInvalid;
  }
  for (int i = 0; i < extra; ++i) {
    if (pos >= s.size() || (static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80) return kInvalid;
    cp = (cp << 6) | (static_cast<unsigned char>(s[pos++]) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalid;
  return cp;
}

bool isValidUtf8(std::string_view s) {
  size_t pos = 0;
  while (pos < s.size())
    if (nextUtf8(s, pos) == kInvalid) return false;
  return true;
}

enum class Encoding { Ansi, Utf8, Utf16 };

// One line of the file, converted to Windows-1252. A character the code page
// cannot hold (or a broken sequence, or a zero character) is kept as a zero
// byte, and the first such character is remembered: the line is refused
// unless it turns out to be a comment.
struct Line {
  std::string text;
  int number = 0;
  bool bad = false;
  std::string badWhat;
};

std::vector<Line> splitLines(std::string_view bytes, Encoding enc) {
  std::vector<Line> lines;
  lines.push_back(Line{{}, 1, false, {}});
  size_t pos = 0;
  while (pos < bytes.size()) {
    char32_t cp;
    if (enc == Encoding::Utf16)
      cp = nextUtf16(bytes, pos);
    else if (enc == Encoding::Utf8)
      cp = nextUtf8(bytes, pos);
    else
      cp = static_cast<unsigned char>(bytes[pos++]);
    Line& line = lines.back();
    if (cp == U'\n') {
      if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
      lines.push_back(Line{{}, line.number + 1, false, {}});
      continue;
    }
    char ch = 0;
    if (cp == 0 || cp == kInvalid || (enc != Encoding::Ansi && !toAnsi(cp, &ch))) {
      if (!line.bad) {
        line.bad = true;
        if (cp == 0)
          line.badWhat = "zero character in the text";
        else if (cp == kInvalid)
          line.badWhat = enc == Encoding::Utf16 ? "invalid UTF-16 text" : "invalid UTF-8 text";
        else
          line.badWhat = "character " + describeCodePoint(cp) + " is not in the Windows-1252 code page";
      }
      line.text.push_back('\0');
      continue;
    }
    line.text.push_back(enc == Encoding::Ansi ? static_cast<char>(cp) : ch);
  }
  Line& last = lines.back();
  if (!last.text.empty() && last.text.back() == '\r') last.text.pop_back();
  return lines;
}

// ---------------------------------------------------------------------------
// Parsing.

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (sundry::platform::AnsiToLower(static_cast<unsigned char>(s[i])) !=
        sundry::platform::AnsiToLower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

class Parser {
 public:
  Parser(std::vector<Line> lines, RegFileFormat format, RegFileContents* out, RegFileError* err)
      : m_lines(std::move(lines)), m_format(format), m_out(out), m_err(err) {}

  bool run() {
    for (m_index = 1; m_index < m_lines.size(); ++m_index) {
      const Line& line = m_lines[m_index];
      std::string_view s = trim(line.text);
      if (s.empty() || s.front() == ';') continue;
      if (line.bad) return error(line.number, line.badWhat);
      bool ok;
      if (s.front() == '[')
        ok = section(s, line.number);
      else if (s.front() == '"' || s.front() == '@')
        ok = value(s, line.number);
      else
        ok = error(line.number, "unexpected text; expected a [key] line or a value line");
      if (!ok) return false;
    }
    return true;
  }

 private:
  bool error(int line, std::string reason) { return fail(m_err, line, ERROR_INVALID_DATA, std::move(reason)); }

  bool section(std::string_view s, int lineNo) {
    if (s.back() != ']') return error(lineNo, "missing closing ']' of the key name");
    std::string_view path = s.substr(1, s.size() - 2);
    RegFileKey key;
    key.line = lineNo;
    if (!path.empty() && path.front() == '-') {
      key.remove = true;
      path.remove_prefix(1);
    }
    if (path.empty()) return error(lineNo, "empty key name");
    if (!ParseKeyPath(path, &key.root, &key.path))
      return error(lineNo, "invalid key name \"" + shown(path) + "\": unknown root key or empty path component");
    if (!keyPathFits(key, lineNo)) return false;
    if (key.remove && key.path.empty()) return error(lineNo, "a root key cannot be deleted");
    m_out->keys.push_back(std::move(key));
    return true;
  }

  // The limits of the store, checked here so that a file that breaks one
  // is refused before anything is applied.
  bool keyPathFits(const RegFileKey& key, int lineNo) {
    LONG rc = sundry::platform::RegistryCheckKeyPath(key.root, key.path.c_str());
    if (rc == ERROR_SUCCESS) return true;
    if (rc == ERROR_FILENAME_EXCED_RANGE)
      return error(lineNo, "key path deeper than " + std::to_string(sundry::platform::kRegMaxKeyDepth) +
                               " levels or longer than " + std::to_string(sundry::platform::kRegMaxKeyPathLength) +
                               " characters");
    if (rc != ERROR_INVALID_PARAMETER) return fail(m_err, lineNo, rc, "invalid key name: " + codeText(rc));
    for (size_t start = 0; start < key.path.size();) {
      size_t end = key.path.find('\\', start);
      if (end == std::string::npos) end = key.path.size();
      if (end - start > sundry::platform::kRegMaxKeyNameLength)
        return error(lineNo, "key name component longer than " +
                                 std::to_string(sundry::platform::kRegMaxKeyNameLength) + " characters");
      start = end + 1;
    }
    return error(lineNo, "control character in the key name \"" + shown(key.path) + "\"");
  }

  bool valueNameFits(const std::string& name, int lineNo) {
    if (sundry::platform::RegistryCheckValueName(name.c_str()) == ERROR_SUCCESS) return true;
    if (name.size() > sundry::platform::kRegMaxValueNameLength)
      return error(lineNo, "value name \"" + shown(name) + "\" longer than " +
                               std::to_string(sundry::platform::kRegMaxValueNameLength) + " characters");
    return error(lineNo, "control character in the value name \"" + shown(name) + "\"");
  }

  // A quoted string starting at s[pos] == '"'; handles the \\ and \" escapes.
  bool quoted(std::string_view s, size_t& pos, std::string* text, int lineNo, const char* what) {
    ++pos;
    while (pos < s.size()) {
      char c = s[pos++];
      if (c == '"') return true;
      if (c == '\\') {
        if (pos >= s.size()) break;
        char e = s[pos++];
        if (e != '\\' && e != '"')
          return error(lineNo, std::string("invalid escape sequence \"\\") + e + "\" in the " + what);
        text->push_back(e);
      } else {
        text->push_back(c);
      }
    }
    return error(lineNo, std::string("missing closing quote of the ") + what);
  }

  bool value(std::string_view s, int lineNo) {
    if (m_out->keys.empty()) return error(lineNo, "value line before the first [key] line");
    RegFileKey& key = m_out->keys.back();
    if (key.remove) return error(lineNo, "value line in a key deletion section");
    RegFileValue v;
    v.line = lineNo;
    size_t pos = 0;
    if (s.front() == '@') {
      pos = 1;
    } else if (!quoted(s, pos, &v.name, lineNo, "value name") || !valueNameFits(v.name, lineNo)) {
      return false;
    }
    while (pos < s.size() && isBlank(s[pos])) ++pos;
    if (pos >= s.size() || s[pos] != '=') return error(lineNo, "missing '=' after the value name");
    ++pos;
    while (pos < s.size() && isBlank(s[pos])) ++pos;
    std::string_view data = s.substr(pos);

    if (data == "-") {
      v.remove = true;
    } else if (!data.empty() && data.front() == '"') {
      size_t p = 0;
      if (!quoted(data, p, &v.data, lineNo, "string value")) return false;
      if (p != data.size()) return error(lineNo, "unexpected text after the closing quote");
      v.type = REG_SZ;
      v.data.push_back('\0');
    } else if (startsWithNoCase(data, "dword:")) {
      std::string_view digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) return error(lineNo, "dword value needs 1 to 8 hex digits");
      DWORD n = 0;
      for (char c : digits) {
        int d = hexDigit(c);
        if (d < 0) return error(lineNo, "invalid hex digit in the dword value");
        n = (n << 4) | static_cast<DWORD>(d);
      }
      v.type = REG_DWORD;
      for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    } else if (startsWithNoCase(data, "hex")) {
      if (!hexValue(data.substr(3), lineNo, &v)) return false;
    } else {
      return error(lineNo, "unrecognised value data; expected \"text\", dword:, hex: or -");
    }
    key.values.push_back(std::move(v));
    return true;
  }

  // "hex:..." or "hex(N):..." after the word "hex"; the byte list may go on
  // over lines that end in a backslash.
  bool hexValue(std::string_view rest, int lineNo, RegFileValue* v) {
    DWORD type = REG_BINARY;
    if (!rest.empty() && rest.front() == '(') {
      size_t close = rest.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9)
        return error(lineNo, "invalid value type in hex(...)");
      type = 0;
      for (char c : rest.substr(1, close - 1)) {
        int d = hexDigit(c);
        if (d < 0) return error(lineNo, "invalid value type in hex(...)");
        type = (type << 4) | static_cast<DWORD>(d);
      }
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') return error(lineNo, "missing ':' after hex");
    rest.remove_prefix(1);

    // Gather the byte list with the line each piece came from.
    struct Piece {
      std::string_view text;
      int line;
    };
    std::vector<Piece> pieces;
    std::string_view piece = rest;
    int pieceLine = lineNo;
    for (;;) {
      piece = trim(piece);
      bool more = !piece.empty() && piece.back() == '\\';
      if (more) piece.remove_suffix(1);
      pieces.push_back(Piece{piece, pieceLine});
      if (!more || m_index + 1 >= m_lines.size()) break;
      const Line& next = m_lines[m_index + 1];
      if (trim(next.text).empty()) break;  // the blank line ends the section
      ++m_index;
      if (next.bad) return error(next.number, next.badWhat);
      piece = next.text;
      pieceLine = next.number;
    }

    std::string bytes;
    bool expectByte = true;  // at the start, and after each comma; a trailing comma is fine
    for (const Piece& p : pieces) {
      size_t i = 0;
      while (i < p.text.size()) {
        char c = p.text[i];
        if (isBlank(c)) {
          ++i;
        } else if (c == ',') {
          if (expectByte) return error(p.line, "missing byte before ',' in the hex list");
          expectByte = true;
          ++i;
        } else {
          if (!expectByte) return error(p.line, "missing ',' between bytes in the hex list");
          int hi = hexDigit(c);
          if (hi < 0) return error(p.line, std::string("invalid character '") + c + "' in the hex list");
          int value = hi;
          ++i;
          if (i < p.text.size() && hexDigit(p.text[i]) >= 0) {
            value = value * 16 + hexDigit(p.text[i]);
            ++i;
            if (i < p.text.size() && hexDigit(p.text[i]) >= 0)
              return error(p.line, "a byte in the hex list has more than two digits");
          }
          bytes.push_back(static_cast<char>(value));
          expectByte = false;
        }
      }
    }
    if (m_format == RegFileFormat::Version5 &&
        (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
      std::string ansi;
      if (!utf16ToAnsi(bytes, &ansi, lineNo)) return false;
      bytes.swap(ansi);
    }
    v->type = type;
    v->data = std::move(bytes);
    return true;
  }

  // Version 5 files hold the string types as UTF-16LE; the store is narrow.
  bool utf16ToAnsi(const std::string& bytes, std::string* out, int lineNo) {
    if (bytes.size() % 2 != 0) return error(lineNo, "UTF-16 string data has an odd number of bytes");
    size_t pos = 0;
    while (pos < bytes.size()) {
      char32_t cp = nextUtf16(bytes, pos);
      char ch;
      if (cp == kInvalid) return error(lineNo, "invalid UTF-16 text in the string data");
      if (!toAnsi(cp, &ch))
        return error(lineNo, "character " + describeCodePoint(cp) + " in the string data is not in the Windows-1252 code page");
      out->push_back(ch);
    }
    return true;
  }

  std::vector<Line> m_lines;
  RegFileFormat m_format;
  RegFileContents* m_out;
  RegFileError* m_err;
  size_t m_index = 0;
};

bool parseImpl(std::string_view bytes, RegFileContents* out, RegFileError* err) {
  Encoding enc = Encoding::Ansi;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    enc = Encoding::Utf16;
    bytes.remove_prefix(2);
  } else if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
             static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
    enc = Encoding::Utf8;
    bytes.remove_prefix(3);
  }
  std::vector<Line> lines = splitLines(bytes, enc);
  std::string_view header = trim(lines[0].text);
  RegFileFormat format;
  if (!lines[0].bad && header == kHeader4) {
    format = RegFileFormat::Regedit4;
  } else if (!lines[0].bad && header == kHeader5) {
    format = RegFileFormat::Version5;
    // Version 5 text without a byte order mark: UTF-8 when it reads as
    // UTF-8, else the ANSI code page.
    if (enc == Encoding::Ansi && isValidUtf8(bytes)) lines = splitLines(bytes, Encoding::Utf8);
  } else {
    return fail(err, 1, ERROR_NOT_REGISTRY_FILE,
                std::string("not a registry editor file: the first line must be \"") + kHeader4 + "\" or \"" +
                    kHeader5 + "\"");
  }
  out->format = format;
  Parser parser(std::move(lines), format, out, err);
  return parser.run();
}

// ---------------------------------------------------------------------------
// Writing.

bool hasLineBreakOrZero(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void appendQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// A REG_SZ that can be written as "text": one terminating zero at the end,
// none inside, no line breaks.
bool isPlainString(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  return !hasLineBreakOrZero(data.substr(0, data.size() - 1));
}

void appendHex(std::string& out, size_t lineStart, const RegFileValue& v) {
  char buf[32];
  if (v.type == REG_BINARY)
    out += "hex:";
  else {
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
    out += buf;
  }
  size_t n = v.data.size();
  for (size_t i = 0; i < n; ++i) {
    bool last = i + 1 == n;
    size_t col = out.size() - lineStart;
    // A byte takes "xx," and must leave room for the continuation backslash;
    // the last one takes "xx" alone.
    size_t need = last ? 2 : 4;
    if (col + need > kLineWidth && col > 2) {
      out += "\\\r\n  ";
      lineStart = out.size() - 2;
    }
    std::snprintf(buf, sizeof buf, last ? "%02x" : "%02x,", static_cast<unsigned char>(v.data[i]));
    out += buf;
  }
}

bool formatImpl(const RegFileContents& contents, std::string* text, RegFileError* err) {
  std::string out = std::string(kHeader4) + "\r\n\r\n";
  for (const RegFileKey& key : contents.keys) {
    const char* root = RootKeyName(key.root);
    if (root == nullptr) return fail(err, key.line, ERROR_INVALID_DATA, "unknown root key");
    if (hasLineBreakOrZero(key.path))
      return fail(err, key.line, ERROR_INVALID_DATA,
                  "key name \"" + shown(key.path) + "\" cannot be written to a .reg file (line break or zero byte)");
    out += key.remove ? "[-" : "[";
    out += root;
    if (!key.path.empty()) {
      out += '\\';
      out += key.path;
    }
    out += "]\r\n";
    for (const RegFileValue& v : key.values) {
      if (hasLineBreakOrZero(v.name))
        return fail(err, v.line, ERROR_INVALID_DATA,
                    "value name \"" + shown(v.name) + "\" in key \"" + shown(key.path) +
                        "\" cannot be written to a .reg file (line break or zero byte)");
      size_t lineStart = out.size();
      if (v.name.empty())
        out += '@';
      else
        appendQuoted(out, v.name);
      out += '=';
      if (v.remove) {
        out += '-';
      } else if (v.type == REG_SZ && isPlainString(v.data)) {
        appendQuoted(out, std::string_view(v.data).substr(0, v.data.size() - 1));
      } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v.data[i]);
        char buf[24];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(n));
        out += buf;
      } else {
        appendHex(out, lineStart, v);
      }
      out += "\r\n";
    }
    out += "\r\n";
  }
  text->swap(out);
  return true;
}

// ---------------------------------------------------------------------------
// The store side.

// An open key handle, closed when it goes out of scope.
class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (m_h) RegCloseKey(m_h);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  KeyHandle(KeyHandle&& other) noexcept : m_h(other.m_h) { other.m_h = nullptr; }
  HKEY get() const { return m_h; }
  HKEY* put() { return &m_h; }

 private:
  HKEY m_h = nullptr;
};

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

// Whether a sub-key path names a key below its root: one that is not all
// backslashes (a lone backslash below HKEY_CLASSES_ROOT names the root).
bool namesSubKey(std::string_view path) { return path.find_first_not_of('\\') != std::string_view::npos; }

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
  for (const RegFileKey& key : contents.keys) {
    if (RootKeyName(key.root) == nullptr) {
      fail(err, key.line, ERROR_INVALID_PARAMETER, "unknown root key");
      return ERROR_INVALID_PARAMETER;
    }
    if (key.remove) {
      // The sub-tree goes in one piece, or not at all when any key of it
      // may not be deleted.
      LONG rc = namesSubKey(key.path) ? RegDeleteTreeA(key.root, key.path.c_str())
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

// Runs fn, turning an escaping exception (out of memory, in practice) into a
// Win32 code, so that none crosses the library boundary.
template <typename Fn>
LONG guarded(RegFileError* err, Fn fn) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    fail(err, 0, ERROR_NOT_ENOUGH_MEMORY, codeText(ERROR_NOT_ENOUGH_MEMORY));
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    fail(err, 0, ERROR_INTERNAL_ERROR, codeText(ERROR_INTERNAL_ERROR));
    return ERROR_INTERNAL_ERROR;
  }
}

}  // namespace

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

bool ParseRegFile(std::string_view bytes, RegFileContents* out, RegFileError* err) {
  RegFileContents parsed;
  LONG rc = guarded(err, [&]() -> LONG { return parseImpl(bytes, &parsed, err) ? ERROR_SUCCESS : ERROR_INVALID_DATA; });
  if (out) *out = RegFileContents{};
  if (rc != ERROR_SUCCESS) return false;
  if (out) *out = std::move(parsed);
  return true;
}

bool FormatRegFile(const RegFileContents& contents, std::string* text, RegFileError* err) {
  text->clear();
  LONG rc = guarded(err, [&]() -> LONG { return formatImpl(contents, text, err) ? ERROR_SUCCESS : ERROR_INVALID_DATA; });
  return rc == ERROR_SUCCESS;
}

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

LONG DeleteRegistryTree(HKEY root, const char* subKey) {
  return guarded(nullptr, [&]() -> LONG {
    if (RootKeyName(root) == nullptr) return ERROR_INVALID_PARAMETER;
    if (subKey == nullptr || !namesSubKey(subKey)) return ERROR_ACCESS_DENIED;
    return RegDeleteTreeA(root, subKey);
  });
}

}  // namespace sundry::registry
