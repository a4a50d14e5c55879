// Reading .reg files: the text decoded line by line into Windows-1252, then
// parsed into sections and values.

#include "registry/RegFileInternal.h"

#include "platform/framework/coding.h"

#include <sundry/platform/codepage.h>

#include <cstdio>
#include <vector>

namespace sundry::registry {

using namespace regfile;

namespace {

using sundry::platform::DecodeUtf16LE;
using sundry::platform::DecodeUtf8;
using sundry::platform::HexDigitValue;
using sundry::platform::IsValidUtf8;
using sundry::platform::kInvalidCodePoint;
using sundry::platform::PutFixed32;
using sundry::platform::UnicodeToAnsi;

// ---------------------------------------------------------------------------
// Decoding.

std::string describeCodePoint(char32_t cp) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
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
      cp = DecodeUtf16LE(bytes, &pos);
    else if (enc == Encoding::Utf8)
      cp = DecodeUtf8(bytes, &pos);
    else
      cp = static_cast<unsigned char>(bytes[pos++]);
    Line& line = lines.back();
    if (cp == U'\n') {
      if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
      lines.push_back(Line{{}, line.number + 1, false, {}});
      continue;
    }
    char ch = 0;
    if (cp == 0 || cp == kInvalidCodePoint || (enc != Encoding::Ansi && !UnicodeToAnsi(cp, &ch))) {
      if (!line.bad) {
        line.bad = true;
        if (cp == 0)
          line.badWhat = "zero character in the text";
        else if (cp == kInvalidCodePoint)
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
        int d = HexDigitValue(c);
        if (d < 0) return error(lineNo, "invalid hex digit in the dword value");
        n = (n << 4) | static_cast<DWORD>(d);
      }
      v.type = REG_DWORD;
      PutFixed32(&v.data, n);
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
        int d = HexDigitValue(c);
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
          int hi = HexDigitValue(c);
          if (hi < 0) return error(p.line, std::string("invalid character '") + c + "' in the hex list");
          int value = hi;
          ++i;
          if (i < p.text.size() && HexDigitValue(p.text[i]) >= 0) {
            value = value * 16 + HexDigitValue(p.text[i]);
            ++i;
            if (i < p.text.size() && HexDigitValue(p.text[i]) >= 0)
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
      char32_t cp = DecodeUtf16LE(bytes, &pos);
      char ch;
      if (cp == kInvalidCodePoint) return error(lineNo, "invalid UTF-16 text in the string data");
      if (!UnicodeToAnsi(cp, &ch))
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
    if (enc == Encoding::Ansi && IsValidUtf8(bytes)) lines = splitLines(bytes, Encoding::Utf8);
  } else {
    return fail(err, 1, ERROR_NOT_REGISTRY_FILE,
                std::string("not a registry editor file: the first line must be \"") + kHeader4 + "\" or \"" +
                    kHeader5 + "\"");
  }
  out->format = format;
  Parser parser(std::move(lines), format, out, err);
  return parser.run();
}

}  // namespace

bool ParseRegFile(std::string_view bytes, RegFileContents* out, RegFileError* err) {
  RegFileContents parsed;
  LONG rc = guarded(err, [&]() -> LONG { return parseImpl(bytes, &parsed, err) ? ERROR_SUCCESS : ERROR_INVALID_DATA; });
  if (out) *out = RegFileContents{};
  if (rc != ERROR_SUCCESS) return false;
  if (out) *out = std::move(parsed);
  return true;
}

}  // namespace sundry::registry
