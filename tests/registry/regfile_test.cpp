// .reg files: the writer's layout, parsing of both formats and encodings,
// refusal of malformed files, and import/export against a real store.

#include "registry/registry_fixture.h"

#include <sundry/registry/RegFile.h>

#include <string>
#include <vector>

namespace {

using namespace sundry::registry;
using namespace std::string_literals;
using sundry::test::Utf16;

std::string crlf(std::initializer_list<const char*> lines) {
  std::string out;
  for (const char* l : lines) out += std::string(l) + "\r\n";
  return out;
}

std::vector<std::string> splitCrlf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(text.size(), start) << "text does not end with CRLF";
  return lines;
}

RegFileValue value(std::string name, DWORD type, std::string data) {
  RegFileValue v;
  v.name = std::move(name);
  v.type = type;
  v.data = std::move(data);
  return v;
}

RegFileContents parseOk(const std::string& bytes) {
  RegFileContents c;
  RegFileError err;
  EXPECT_TRUE(ParseRegFile(bytes, &c, &err)) << err.Text();
  return c;
}

std::string formatOk(const RegFileContents& c) {
  std::string text;
  RegFileError err;
  EXPECT_TRUE(FormatRegFile(c, &text, &err)) << err.Text();
  return text;
}

// ---------------------------------------------------------------------------
// Writing.

TEST(RegFileFormat, WritesTheRegedit4Layout) {
  RegFileContents c;
  RegFileKey k;
  k.root = HKEY_CURRENT_USER;
  k.path = "Software\\T";
  k.values = {
      value("", REG_SZ, "def\0"s),
      value("Say \"hi\" \\o/", REG_SZ, "C:\\dir \"x\"\0"s),
      value("N", REG_DWORD, "\x2a\0\0\x80"s),
      value("B", REG_BINARY, "\x01\x02\xff"s),
      value("E", REG_EXPAND_SZ, "%A%\0"s),
      value("M", REG_MULTI_SZ, "a\0b\0\0"s),
      value("Q", REG_QWORD, "\1\0\0\0\0\0\0\0"s),
      value("NoTerm", REG_SZ, "ab"),
      value("Inner0", REG_SZ, "a\0b\0"s),
      value("Lines", REG_SZ, "a\r\nb\0"s),
      value("Short", REG_DWORD, "\x01\x02"),
      value("Empty", REG_BINARY, ""),
      value("None", REG_NONE, ""),
  };
  RegFileValue del;
  del.name = "Del";
  del.remove = true;
  k.values.push_back(del);
  c.keys.push_back(k);
  RegFileKey gone;
  gone.root = HKEY_LOCAL_MACHINE;
  gone.path = "Software\\Gone";
  gone.remove = true;
  c.keys.push_back(gone);
  RegFileKey rootKey;
  rootKey.root = HKEY_CLASSES_ROOT;
  c.keys.push_back(rootKey);

  EXPECT_EQ(crlf({"REGEDIT4",
                  "",
                  "[HKEY_CURRENT_USER\\Software\\T]",
                  "@=\"def\"",
                  "\"Say \\\"hi\\\" \\\\o/\"=\"C:\\\\dir \\\"x\\\"\"",
                  "\"N\"=dword:8000002a",
                  "\"B\"=hex:01,02,ff",
                  "\"E\"=hex(2):25,41,25,00",
                  "\"M\"=hex(7):61,00,62,00,00",
                  "\"Q\"=hex(b):01,00,00,00,00,00,00,00",
                  "\"NoTerm\"=hex(1):61,62",
                  "\"Inner0\"=hex(1):61,00,62,00",
                  "\"Lines\"=hex(1):61,0d,0a,62,00",
                  "\"Short\"=hex(4):01,02",
                  "\"Empty\"=hex:",
                  "\"None\"=hex(0):",
                  "\"Del\"=-",
                  "",
                  "[-HKEY_LOCAL_MACHINE\\Software\\Gone]",
                  "",
                  "[HKEY_CLASSES_ROOT]",
                  ""}),
            formatOk(c));
}

TEST(RegFileFormat, WrapsHexListsWithinEightyColumns) {
  std::string bytes;
  for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<char>(i * 7));
  for (const std::string& name : {std::string("Blob"), std::string(150, 'n')}) {
    RegFileContents c;
    RegFileKey k;
    k.root = HKEY_CURRENT_USER;
    k.path = "W";
    k.values = {value(name, REG_BINARY, bytes)};
    c.keys.push_back(k);
    std::string text = formatOk(c);
    std::vector<std::string> lines = splitCrlf(text);
    // REGEDIT4, blank, [key], the value's lines, blank.
    ASSERT_GT(lines.size(), 5u);
    size_t first = 3, last = lines.size() - 2;
    EXPECT_EQ(0u, lines[first].find("\"" + name + "\"=hex:"));
    for (size_t i = first; i <= last; ++i) {
      if (name.size() < 60) {
        EXPECT_LE(lines[i].size(), 80u) << lines[i];
      }
      if (i > first) {
        EXPECT_EQ(0u, lines[i].find("  ")) << lines[i];
      }
      if (i < last) {
        EXPECT_EQ('\\', lines[i].back()) << lines[i];
      }
      if (i > first && i < last) {
        EXPECT_EQ(',', lines[i][lines[i].size() - 2]) << lines[i];
        EXPECT_EQ(2u + 25 * 3 + 1, lines[i].size()) << "25 bytes per full line";
      }
    }
    EXPECT_NE(',', lines[last].back());
    RegFileContents back = parseOk(text);
    ASSERT_EQ(1u, back.keys.size());
    ASSERT_EQ(1u, back.keys[0].values.size());
    EXPECT_EQ(bytes, back.keys[0].values[0].data);
    EXPECT_EQ(name, back.keys[0].values[0].name);
  }
}

TEST(RegFileFormat, RefusesNamesThatCannotBeWritten) {
  RegFileError err;
  std::string text = "old";
  RegFileContents c;
  RegFileKey k;
  k.root = HKEY_CURRENT_USER;
  k.path = "A\nB";
  c.keys.push_back(k);
  EXPECT_FALSE(FormatRegFile(c, &text, &err));
  EXPECT_EQ(ERROR_INVALID_DATA, err.code);
  EXPECT_TRUE(text.empty());

  c.keys[0].path = "A";
  c.keys[0].values = {value("x\ry", REG_SZ, "v\0"s)};
  EXPECT_FALSE(FormatRegFile(c, &text, &err));

  c.keys[0].values.clear();
  c.keys[0].root = HKEY_PERFORMANCE_DATA;
  EXPECT_FALSE(FormatRegFile(c, &text, &err));
}

// Every type and every byte survives writing and reading back, and the
// second write gives the same text.
TEST(RegFileFormat, EveryValueRoundTripsThroughText) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string datas[] = {"", "\0"s, "text\0"s, "a\"b\\c\0"s, "\xe9t\xe9\0"s, "\1\2\3\4", all, "x\0"s + all};
  const DWORD types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                         REG_MULTI_SZ, REG_QWORD, 0x12345678u, 0xFFFFFFFFu};
  RegFileContents c;
  RegFileKey k;
  k.root = HKEY_USERS;
  k.path = "S-1\\Caf\xe9 ] [x]\\\"q\"";
  int n = 0;
  for (DWORD t : types)
    for (const std::string& d : datas) {
      std::string name = n == 0 ? "" : "v" + std::to_string(n) + (n % 3 == 0 ? " \"\\@\xe9" : "");
      k.values.push_back(value(name, t, d));
      ++n;
    }
  k.values.push_back(value("@", REG_SZ, "at\0"s));
  c.keys.push_back(k);

  std::string text = formatOk(c);
  RegFileContents back = parseOk(text);
  ASSERT_EQ(1u, back.keys.size());
  EXPECT_EQ(HKEY_USERS, back.keys[0].root);
  EXPECT_EQ(k.path, back.keys[0].path);
  ASSERT_EQ(k.values.size(), back.keys[0].values.size());
  for (size_t i = 0; i < k.values.size(); ++i) {
    const RegFileValue& a = k.values[i];
    const RegFileValue& b = back.keys[0].values[i];
    EXPECT_EQ(a.name, b.name) << i;
    EXPECT_EQ(a.type, b.type) << a.name;
    EXPECT_EQ(a.data, b.data) << a.name;
    EXPECT_FALSE(b.remove);
  }
  EXPECT_EQ(text, formatOk(back));
}

// ---------------------------------------------------------------------------
// Reading.

TEST(RegFileParse, ReadsVersion5Utf16AndConvertsToAnsi) {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"; comment with a snowman \u2603 is fine\r\n"
      u"[HKEY_CURRENT_USER\\Software\\Caf\u00e9]\r\n"
      u"\"\u00c9t\u00e9\"=\"5 \u20ac\"\r\n"
      u"\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      u"\"List\"=hex(7):61,00,00,00,e9,00,00,00,\\\r\n"
      u"  00,00\r\n"
      u"\"Raw\"=hex:01,00\r\n"
      u"\"Gone\"=-\r\n"
      u"\r\n"
      u"[-HKEY_CURRENT_USER\\Software\\Old]\r\n";
  RegFileContents c = parseOk(Utf16(text));
  EXPECT_EQ(RegFileFormat::Version5, c.format);
  ASSERT_EQ(2u, c.keys.size());
  EXPECT_EQ("Software\\Caf\xe9", c.keys[0].path);
  ASSERT_EQ(5u, c.keys[0].values.size());
  EXPECT_EQ("\xc9t\xe9", c.keys[0].values[0].name);
  EXPECT_EQ("5 \x80\0"s, c.keys[0].values[0].data);
  EXPECT_EQ(REG_EXPAND_SZ, c.keys[0].values[1].type);
  EXPECT_EQ("%A%\0"s, c.keys[0].values[1].data);
  EXPECT_EQ("a\0\xe9\0\0"s, c.keys[0].values[2].data);
  EXPECT_EQ("\x01\x00"s, c.keys[0].values[3].data);  // binary is not text: kept as is
  EXPECT_TRUE(c.keys[0].values[4].remove);
  EXPECT_TRUE(c.keys[1].remove);
  EXPECT_EQ("Software\\Old", c.keys[1].path);
  EXPECT_EQ(12, c.keys[1].line);
}

TEST(RegFileParse, Version5TextMayBeUtf8OrAnsi) {
  const std::string body = "\r\n[HKEY_CURRENT_USER\\Caf\xc3\xa9]\r\n\"K\"=\"\xe2\x82\xac\"\r\n";
  const std::string header = "Windows Registry Editor Version 5.00\r\n";
  for (const std::string& bytes : {"\xEF\xBB\xBF" + header + body, header + body}) {
    RegFileContents c = parseOk(bytes);
    ASSERT_EQ(1u, c.keys.size());
    EXPECT_EQ("Caf\xe9", c.keys[0].path);
    EXPECT_EQ("\x80\0"s, c.keys[0].values.at(0).data);
  }
  // Not valid UTF-8: taken as ANSI bytes.
  RegFileContents ansi = parseOk(header + "\r\n[HKEY_CURRENT_USER\\Caf\xe9]\r\n");
  EXPECT_EQ("Caf\xe9", ansi.keys.at(0).path);
  // REGEDIT4 is ANSI: bytes that happen to read as UTF-8 stay as they are.
  RegFileContents r4 = parseOk("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Caf\xc3\xa9]\r\n");
  EXPECT_EQ("Caf\xc3\xa9", r4.keys.at(0).path);
}

TEST(RegFileParse, AcceptsLenientSpellings) {
  RegFileContents c = parseOk(
      "REGEDIT4\n"
      "; a comment\n"
      "\n"
      "  [HKCU\\Software\\L\\]   \n"
      "\"a\" = \"x\"\n"
      "\"b\"=DWORD:A\n"
      "\"c\"=HEX:1,0A, ff ,\\\n"
      "\n"
      "@=hex(B):\n"
      "[hkey_local_machine\\X]");
  ASSERT_EQ(2u, c.keys.size());
  EXPECT_EQ(HKEY_CURRENT_USER, c.keys[0].root);
  EXPECT_EQ("Software\\L", c.keys[0].path);
  ASSERT_EQ(4u, c.keys[0].values.size());
  EXPECT_EQ("x\0"s, c.keys[0].values[0].data);
  EXPECT_EQ("\x0a\0\0\0"s, c.keys[0].values[1].data);
  EXPECT_EQ("\x01\x0a\xff"s, c.keys[0].values[2].data);
  EXPECT_EQ(REG_QWORD, c.keys[0].values[3].type);
  EXPECT_EQ("", c.keys[0].values[3].name);
  EXPECT_EQ(HKEY_LOCAL_MACHINE, c.keys[1].root);
}

TEST(RegFileParse, RefusesMalformedFilesWithTheLineAtFault) {
  const std::string k = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\M]\r\n\"ok\"=\"fine\"\r\n";
  // A comment that Windows-1252 cannot hold is no fault.
  const std::u16string v5 = u"Windows Registry Editor Version 5.00\r\n; \u2603\r\n[HKEY_CURRENT_USER\\S]\r\n";
  parseOk(Utf16(v5));
  struct Case {
    const char* what;
    std::string text;
    int line;
    LONG code;
  } cases[] = {
      {"empty file", "", 1, ERROR_NOT_REGISTRY_FILE},
      {"unknown header", "REGEDIT5\r\n", 1, ERROR_NOT_REGISTRY_FILE},
      {"UTF-16 without BOM", "R\0E\0G\0"s, 1, ERROR_NOT_REGISTRY_FILE},
      {"value before a key", "REGEDIT4\r\n\"a\"=\"b\"\r\n", 2, ERROR_INVALID_DATA},
      {"stray text", k + "what is this\r\n", 5, ERROR_INVALID_DATA},
      {"unknown root", k + "[HKEY_NOWHERE\\X]\r\n", 5, ERROR_INVALID_DATA},
      {"empty component", k + "[HKEY_CURRENT_USER\\A\\\\B]\r\n", 5, ERROR_INVALID_DATA},
      {"missing bracket", k + "[HKEY_CURRENT_USER\\A\r\n", 5, ERROR_INVALID_DATA},
      {"deleting a root", k + "[-HKEY_CURRENT_USER]\r\n", 5, ERROR_INVALID_DATA},
      {"long component", k + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\r\n", 5, ERROR_INVALID_DATA},
      {"unterminated name", k + "\"a=\"b\"\r\n", 5, ERROR_INVALID_DATA},
      {"unterminated string", k + "\"a\"=\"b\r\n", 5, ERROR_INVALID_DATA},
      {"bad escape", k + "\"a\"=\"C:\\dir\"\r\n", 5, ERROR_INVALID_DATA},
      {"text after string", k + "\"a\"=\"b\" x\r\n", 5, ERROR_INVALID_DATA},
      {"missing equals", k + "\"a\" \"b\"\r\n", 5, ERROR_INVALID_DATA},
      {"unknown data", k + "\"a\"=word:1\r\n", 5, ERROR_INVALID_DATA},
      {"long dword", k + "\"a\"=dword:123456789\r\n", 5, ERROR_INVALID_DATA},
      {"bad dword digit", k + "\"a\"=dword:12g4\r\n", 5, ERROR_INVALID_DATA},
      {"bad hex type", k + "\"a\"=hex(zz):00\r\n", 5, ERROR_INVALID_DATA},
      {"three-digit byte", k + "\"a\"=hex:001\r\n", 5, ERROR_INVALID_DATA},
      {"double comma", k + "\"a\"=hex:00,,01\r\n", 5, ERROR_INVALID_DATA},
      {"bad byte on a continuation line", k + "\"a\"=hex:00,01,\\\r\n  02,0x\r\n", 6, ERROR_INVALID_DATA},
      {"value in a deletion", k + "[-HKEY_CURRENT_USER\\Z]\r\n\"a\"=\"b\"\r\n", 6, ERROR_INVALID_DATA},
      {"zero byte in ANSI text", k + "\"a\"=\"b\0c\"\r\n"s, 5, ERROR_INVALID_DATA},
      {"character outside Windows-1252", Utf16(v5 + u"\"Snow\"=\"\u2603\"\r\n"), 4, ERROR_INVALID_DATA},
      {"the same in UTF-16 string data", Utf16(v5 + u"\"P\"=hex(2):03,26,00,00\r\n"), 4, ERROR_INVALID_DATA},
      {"odd UTF-16 string data", Utf16(v5 + u"\"P\"=hex(7):61,00,00\r\n"), 4, ERROR_INVALID_DATA},
      {"lone surrogate", Utf16(v5) + "\x00\xD8]\0"s, 4, ERROR_INVALID_DATA},
  };
  for (const Case& tc : cases) {
    RegFileContents c;
    c.keys.resize(3);  // must come back empty
    RegFileError err;
    EXPECT_FALSE(ParseRegFile(tc.text, &c, &err)) << tc.what;
    EXPECT_EQ(tc.line, err.line) << tc.what << ": " << err.Text();
    EXPECT_EQ(tc.code, err.code) << tc.what;
    EXPECT_EQ("line " + std::to_string(tc.line) + ": ", err.Text().substr(0, 7 + std::to_string(tc.line).size()))
        << tc.what;
    EXPECT_TRUE(c.keys.empty()) << tc.what;
  }
}

TEST(RegFileParse, KeyPathsTakeLongAndShortRootNames) {
  HKEY root = nullptr;
  std::string path;
  ASSERT_TRUE(ParseKeyPath("hkcu\\Software\\X\\", &root, &path));
  EXPECT_EQ(HKEY_CURRENT_USER, root);
  EXPECT_EQ("Software\\X", path);
  ASSERT_TRUE(ParseKeyPath("HKEY_LOCAL_MACHINE", &root, &path));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, root);
  EXPECT_EQ("", path);
  for (const char* shortName : {"HKCR", "HKU", "HKCC"}) EXPECT_TRUE(ParseKeyPath(shortName, &root, &path));
  for (const char* bad : {"", "HKCU2\\X", "HKEY_PERFORMANCE_DATA", "HKCU\\\\X", "HKCU\\A\\\\B", "\\HKCU\\X"}) {
    root = HKEY_USERS;
    EXPECT_FALSE(ParseKeyPath(bad, &root, &path)) << bad;
    EXPECT_EQ(HKEY_USERS, root);
  }
}

// ---------------------------------------------------------------------------
// Import and export against the store.

class RegFileStoreTest : public sundry::test::RegistryTest {
 protected:
  static std::string exportText(HKEY root, const char* path) {
    std::string text;
    RegFileError err;
    EXPECT_WIN32(ERROR_SUCCESS, ExportRegFile(root, path, &text, &err)) << err.Text();
    return text;
  }
};

TEST_F(RegFileStoreTest, ExportImportExportIsByteIdentical) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  setRaw("Software\\RT", "", REG_SZ, "default\0"s);
  setRaw("Software\\RT", "Text", REG_SZ, "C:\\Path \"quoted\" \xe9\0"s);
  setRaw("Software\\RT", "NoTerminator", REG_SZ, "abc");
  setRaw("Software\\RT", "Empty", REG_SZ, "");
  setRaw("Software\\RT", "Number", REG_DWORD, "\x2a\0\0\0"s);
  setRaw("Software\\RT", "ShortNumber", REG_DWORD, "\x01");
  setRaw("Software\\RT", "Blob", REG_BINARY, all);
  setRaw("Software\\RT", "Expand", REG_EXPAND_SZ, "%PATH%;x\0"s);
  setRaw("Software\\RT", "Multi", REG_MULTI_SZ, "one\0two\0\0"s);
  setRaw("Software\\RT", "Odd type", 0x4242, "\xff");
  setRaw("Software\\RT\\Child \xc9t\xe9", "q", REG_QWORD, "\1\2\3\4\5\6\7\x08"s);
  setRaw("Software\\RT\\b\\c\\d", "deep", REG_SZ, "x\0"s);
  setRaw("Software\\RT\\Empty Key", "", REG_NONE, "");
  makeKey("Software\\RT\\No Values");

  std::string first = exportText(HKEY_CURRENT_USER, "Software\\RT");
  RegFileContents parsed = parseOk(first);
  EXPECT_EQ(7u, parsed.keys.size());

  useStore("second.db");
  EXPECT_FALSE(keyExists("Software\\RT"));
  RegFileError err;
  ASSERT_WIN32(ERROR_SUCCESS, ImportRegFile(first, &err)) << err.Text();
  // The same text again: every value came back with its type and bytes
  // (a string without its terminator is written as hex(1)).
  EXPECT_EQ(first, exportText(HKEY_CURRENT_USER, "Software\\RT"));
}

TEST_F(RegFileStoreTest, ExportTakesTheStoredCaseAndLimitsDepth) {
  setRaw("Software\\MixedCase\\Sub\\Deeper", "v", REG_SZ, "1\0"s);
  std::string text = exportText(HKEY_CURRENT_USER, "SOFTWARE\\mixedcase\\");
  EXPECT_EQ(0u, text.find("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\MixedCase]\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("[HKEY_CURRENT_USER\\Software\\MixedCase\\Sub\\Deeper]"));

  RegFileContents tree;
  ASSERT_WIN32(ERROR_SUCCESS, ReadRegistryTree(HKEY_CURRENT_USER, "software\\MIXEDCASE", &tree, 0));
  EXPECT_EQ(1u, tree.keys.size());
  ASSERT_WIN32(ERROR_SUCCESS, ReadRegistryTree(HKEY_CURRENT_USER, "software\\MIXEDCASE", &tree, 1));
  ASSERT_EQ(2u, tree.keys.size());
  EXPECT_EQ("Software\\MixedCase\\Sub", tree.keys[1].path);

  RegFileError err;
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, ExportRegFile(HKEY_CURRENT_USER, "Software\\Nothing", &text, &err));
  EXPECT_TRUE(text.empty());
  EXPECT_NE(std::string::npos, err.Text().find("HKEY_CURRENT_USER\\Software\\Nothing")) << err.Text();
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, ReadRegistryTree(HKEY_PERFORMANCE_DATA, "", &tree));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, ReadRegistryTree(HKEY_CURRENT_USER, "a\\\\b", &tree));
  EXPECT_TRUE(tree.keys.empty());
}

TEST_F(RegFileStoreTest, MalformedFilesChangeNothing) {
  setRaw("Software\\Keep", "v", REG_SZ, "original\0"s);
  setRaw("Software\\Keep\\Sub", "w", REG_DWORD, "\1\0\0\0"s);
  const std::string before = exportText(HKEY_CURRENT_USER, "Software\\Keep");
  // Each file starts with sound sections that would change the store.
  const std::string sound = crlf({"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\Keep\\Sub]", "",
                                  "[HKEY_CURRENT_USER\\Software\\Keep]", "\"v\"=\"changed\"", "\"x\"=dword:1", "",
                                  "[HKEY_CURRENT_USER\\Software\\New]", "\"n\"=hex:01,02,\\", "  03"});
  const std::string faults[] = {"\"bad\"=hex:0g", "[HKEY_WHERE\\X]", "\"s\"=\"unterminated", "junk"};
  for (const std::string& fault : faults) {
    RegFileError err;
    EXPECT_WIN32(ERROR_INVALID_DATA, ImportRegFile(sound + fault + "\r\n", &err)) << fault;
    EXPECT_EQ(12, err.line) << fault << ": " << err.Text();
    EXPECT_EQ(before, exportText(HKEY_CURRENT_USER, "Software\\Keep")) << fault;
    EXPECT_FALSE(keyExists("Software\\New"));
  }
  // The same file without the fault applies all of it.
  RegFileError err;
  ASSERT_WIN32(ERROR_SUCCESS, ImportRegFile(sound, &err)) << err.Text();
  EXPECT_TRUE(keyExists("Software\\New"));
  EXPECT_FALSE(keyExists("Software\\Keep\\Sub"));
}

TEST_F(RegFileStoreTest, ImportAppliesDeletionsAndMerges) {
  setRaw("Software\\App", "Old", REG_SZ, "old\0"s);
  setRaw("Software\\App", "Kept", REG_SZ, "kept\0"s);
  setRaw("Software\\App", "Retyped", REG_SZ, "5\0"s);
  setRaw("Software\\App\\Sub\\Deep\\Deeper", "d", REG_SZ, "d\0"s);
  setRaw("Software\\App\\Other", "o", REG_SZ, "o\0"s);
  RegFileError err;
  ASSERT_WIN32(ERROR_SUCCESS,
               ImportRegFile(crlf({"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\App\\Sub]",
                                   "[-HKEY_CURRENT_USER\\Software\\Never\\Was]", "[HKEY_CURRENT_USER\\Software\\App]",
                                   "\"Old\"=-", "\"Missing\"=-", "\"Retyped\"=dword:00000005", "\"New\"=\"n\"",
                                   "[HKEY_CURRENT_USER]", "\"AtRoot\"=\"r\""}),
                             &err))
      << err.Text();
  EXPECT_FALSE(keyExists("Software\\App\\Sub"));
  EXPECT_TRUE(keyExists("Software\\App\\Other"));
  DWORD type = 0;
  std::string data;
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, queryRaw("Software\\App", "Old", &type, &data));
  EXPECT_WIN32(ERROR_SUCCESS, queryRaw("Software\\App", "Kept", &type, &data));
  ASSERT_WIN32(ERROR_SUCCESS, queryRaw("Software\\App", "Retyped", &type, &data));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ("\5\0\0\0"s, data);
  ASSERT_WIN32(ERROR_SUCCESS, queryRaw("", "AtRoot", &type, &data));
  EXPECT_EQ("r\0"s, data);
  EXPECT_WIN32(ERROR_FILE_NOT_FOUND, DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\App\\Sub"));
  EXPECT_WIN32(ERROR_ACCESS_DENIED, DeleteRegistryTree(HKEY_CURRENT_USER, ""));

  // Failures while applying name the entry's line.
  RegFileContents bad;
  bad.keys.resize(1);
  bad.keys[0].root = HKEY_PERFORMANCE_DATA;
  bad.keys[0].line = 7;
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, ApplyRegFile(bad, &err));
  EXPECT_EQ(7, err.line);
}

}  // namespace
