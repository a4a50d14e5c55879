// Writing .reg files: the REGEDIT4 text of parsed or exported contents.

#include "registry/RegFileInternal.h"

#include "platform/framework/coding.h"

#include <cstdio>

namespace sundry::registry {

using namespace regfile;

namespace {

using sundry::platform::DecodeFixed32;

constexpr size_t kLineWidth = 80;  // widest line the writer makes, where it can

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
        char buf[24];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(DecodeFixed32(v.data.data())));
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

}  // namespace

bool FormatRegFile(const RegFileContents& contents, std::string* text, RegFileError* err) {
  text->clear();
  LONG rc = guarded(err, [&]() -> LONG { return formatImpl(contents, text, err) ? ERROR_SUCCESS : ERROR_INVALID_DATA; });
  return rc == ERROR_SUCCESS;
}

}  // namespace sundry::registry
