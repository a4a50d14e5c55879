// sundry reg: query, add, delete, import and export registry keys and
// values, in the manner of the Windows reg command.
//
//   sundry reg query  KEY [/v NAME | /ve] [/s]
//   sundry reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEP] [/f]
//   sundry reg delete KEY [/v NAME | /ve | /va] [/f]
//   sundry reg import FILE
//   sundry reg export KEY FILE [/y]
//
// KEY is ROOT\path with a long (HKEY_CURRENT_USER) or short (HKCU) root
// name, optionally after \\machine\. The switches are accepted in any case,
// and each has a long form (--value, --default-value, --recurse, --type,
// --data, --separator, --force, --all-values, --yes).

#include "commands.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>
#include <sundry/registry/RegFile.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>


namespace sundry::cli::regtool {

// The "    name    REG_TYPE    data" line that query prints for a value.
std::string ValueLine(const sundry::registry::RegFileValue& v);

// Text as the tool shows it on a terminal: control characters as \r, \n,
// \t or \xHH (the way REG_MULTI_SZ separators already show as \0), so that
// what a name or a value holds can neither break the output's lines nor
// send commands to the terminal.
std::string Printable(std::string_view text);

namespace {

using sundry::registry::RegFileContents;
using sundry::registry::RegFileError;
using sundry::registry::RegFileKey;
using sundry::registry::RegFileValue;

// A key named on the command line.
struct KeyPath {
  HKEY root = nullptr;
  std::string path;     // below the root
  std::string display;  // ROOT\path with the root's long name, printable
};

const char* TypeText(DWORD type);
bool ParseTypeName(const std::string& text, DWORD* type);
std::string DataText(DWORD type, const std::string& data);
KeyPath ParseKeyArgument(const std::string& text);

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

struct TypeName {
  DWORD type;
  const char* name;
};

constexpr TypeName kTypes[] = {
    {REG_NONE, "REG_NONE"},
    {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, "REG_LINK"},
    {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_RESOURCE_LIST, "REG_RESOURCE_LIST"},
    {REG_FULL_RESOURCE_DESCRIPTOR, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {REG_RESOURCE_REQUIREMENTS_LIST, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {REG_QWORD, "REG_QWORD"},
};

[[noreturn]] void usage(const std::string& message) { throw Failure{message, kUsage}; }

[[noreturn]] void failed(const std::string& what, LONG code) {
  const char* text = sundry::platform::ErrorText(static_cast<DWORD>(code));
  throw Failure{what + ": " + (text ? text : "error " + std::to_string(code)), kFailed};
}

// Asks a yes/no question on stderr and reads the answer from stdin; no
// answer (end of input) is a no, and a no cancels the command.
void confirm(const std::string& question) {
  std::fprintf(stderr, "%s (Yes/No)? ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) answer.clear();
  if (!StdinIsTerminal()) std::fputc('\n', stderr);  // the answer was not echoed
  answer = lower(answer);
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
  if (answer != "y" && answer != "yes") {
    failed("nothing changed", ERROR_CANCELLED);
  }
}

// An open key handle, closed when it goes out of scope.
struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h) RegCloseKey(h);
  }
};

void printSuccess() { std::printf("The operation completed successfully.\n"); }

// ---------------------------------------------------------------------------
// query

void runQuery(const std::string& keyText, const std::string& valueName, bool defaultValue, bool recurse) {
  KeyPath key = ParseKeyArgument(keyText);
  bool oneValue = defaultValue || !valueName.empty();
  RegFileContents tree;
  LONG rc = sundry::registry::ReadRegistryTree(key.root, key.path.c_str(), &tree, recurse ? -1 : 1);
  if (rc != ERROR_SUCCESS) failed(key.display, rc);

  std::string wanted = defaultValue ? std::string() : valueName;
  auto matches = [&](const RegFileValue& v) {
    return !oneValue || sundry::platform::AnsiCompareNoCase(v.name.data(), v.name.size(), wanted.data(),
                                                              wanted.size()) == 0;
  };
  auto keyName = [](const RegFileKey& k) {
    std::string s = sundry::registry::RootKeyName(k.root);
    return Printable(k.path.empty() ? s : s + "\\" + k.path);
  };

  if (!recurse) {
    const RegFileKey& top = tree.keys.front();
    std::string out = "\n" + keyName(top) + "\n";
    bool found = false;
    for (const RegFileValue& v : top.values)
      if (matches(v)) {
        out += ValueLine(v) + "\n";
        found = true;
      }
    if (oneValue && !found)
      failed(keyName(top) + (defaultValue ? " (Default)" : " value \"" + Printable(valueName) + "\""),
             ERROR_FILE_NOT_FOUND);
    if (!oneValue) {
      out += "\n";
      for (size_t i = 1; i < tree.keys.size(); ++i) out += keyName(tree.keys[i]) + "\n";
    }
    std::fputs(out.c_str(), stdout);
    return;
  }

  // Recursive: every key with what matches in it, then a count.
  std::string out;
  size_t count = 0;
  for (const RegFileKey& k : tree.keys) {
    std::string lines;
    size_t hits = 0;
    for (const RegFileValue& v : k.values)
      if (matches(v)) {
        lines += ValueLine(v) + "\n";
        ++hits;
      }
    if (oneValue && hits == 0) continue;
    out += "\n" + keyName(k) + "\n" + lines;
    count += oneValue ? hits : hits + 1;
  }
  out += "\nEnd of search: " + std::to_string(count) + " match(es) found.\n";
  std::fputs(out.c_str(), stdout);
}

// ---------------------------------------------------------------------------
// add

bool parseNumber(const std::string& text, unsigned long long max, unsigned long long* out) {
  std::string s = text;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s = s.substr(2);
  }
  if (s.empty()) return false;
  unsigned long long n = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (n > (max - static_cast<unsigned long long>(d)) / static_cast<unsigned long long>(base)) return false;
    n = n * static_cast<unsigned long long>(base) + static_cast<unsigned long long>(d);
  }
  *out = n;
  return true;
}

// The bytes the registry holds for /d DATA of the given type.
std::string valueBytes(DWORD type, const std::string& data, const std::string& separator) {
  std::string bytes;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (data.find('\0') != std::string::npos) usage("the data holds a zero character");
      return data + std::string(1, '\0');
    case REG_MULTI_SZ: {
      if (separator.empty()) usage("the separator is empty");
      if (data.empty()) return std::string(1, '\0');
      size_t start = 0;
      for (;;) {
        size_t end = data.find(separator, start);
        std::string item = data.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (item.empty()) usage("REG_MULTI_SZ data has an empty string between separators");
        bytes += item;
        bytes.push_back('\0');
        if (end == std::string::npos) break;
        start = end + separator.size();
      }
      bytes.push_back('\0');
      return bytes;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
      unsigned long long n = 0;
      unsigned long long max = type == REG_QWORD ? ~0ULL : 0xFFFFFFFFULL;
      if (!data.empty() && !parseNumber(data, max, &n))
        usage("invalid number \"" + data + "\" for " + TypeText(type) + " (decimal or 0x hex)");
      int width = type == REG_QWORD ? 8 : 4;
      for (int i = 0; i < width; ++i) {
        int shift = type == REG_DWORD_BIG_ENDIAN ? 8 * (width - 1 - i) : 8 * i;
        bytes.push_back(static_cast<char>((n >> shift) & 0xFF));
      }
      return bytes;
    }
    default: {
      if (data.size() % 2 != 0) usage("binary data needs an even number of hex digits");
      for (size_t i = 0; i < data.size(); i += 2) {
        unsigned long long b;
        if (!parseNumber("0x" + data.substr(i, 2), 0xFF, &b)) usage("invalid hex digits in \"" + data + "\"");
        bytes.push_back(static_cast<char>(b));
      }
      return bytes;
    }
  }
}

void runAdd(const std::string& keyText, const std::string& valueName, bool defaultValue, const std::string& typeText,
            const std::string* data, const std::string& separator, bool force) {
  KeyPath key = ParseKeyArgument(keyText);
  DWORD type = REG_SZ;
  if (!typeText.empty() && !ParseTypeName(typeText, &type)) usage("invalid value type \"" + typeText + "\"");
  // Without /v or /ve, a type or data given sets the default value.
  bool setValue = defaultValue || !valueName.empty() || !typeText.empty() || data != nullptr;
  std::string bytes = setValue ? valueBytes(type, data ? *data : std::string(), separator) : std::string();
  // The store's rules for names, checked before anything is made.
  auto cut = [](const std::string& text) { return text.size() > 80 ? text.substr(0, 80) + "..." : text; };
  switch (sundry::platform::RegistryCheckKeyPath(key.root, key.path.c_str())) {
    case ERROR_SUCCESS:
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      usage("invalid key name \"" + cut(key.display) + "\": deeper than " +
            std::to_string(sundry::platform::kRegMaxKeyDepth) + " levels or longer than " +
            std::to_string(sundry::platform::kRegMaxKeyPathLength) + " characters");
    default:
      usage("invalid key name \"" + cut(key.display) + "\": a name holds a control character or is longer than " +
            std::to_string(sundry::platform::kRegMaxKeyNameLength) + " characters");
  }
  if (setValue && !defaultValue && sundry::platform::RegistryCheckValueName(valueName.c_str()) != ERROR_SUCCESS)
    usage("invalid value name \"" + cut(Printable(valueName)) + "\": it holds a control character or is longer than " +
          std::to_string(sundry::platform::kRegMaxValueNameLength) + " characters");

  Key h;
  LONG rc;
  if (key.path.empty())
    rc = RegOpenKeyExA(key.root, nullptr, 0, KEY_ALL_ACCESS, &h.h);
  else
    rc = RegCreateKeyExA(key.root, key.path.c_str(), 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, &h.h, nullptr);
  if (rc != ERROR_SUCCESS) failed(key.display, rc);
  if (setValue) {
    const char* name = defaultValue ? "" : valueName.c_str();
    if (!force && RegQueryValueExA(h.h, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      confirm("Value " + (*name ? std::string(name) : std::string("(Default)")) + " exists, overwrite");
    rc = RegSetValueExA(h.h, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
    if (rc != ERROR_SUCCESS) failed(key.display, rc);
  }
  printSuccess();
}

// ---------------------------------------------------------------------------
// delete

void runDelete(const std::string& keyText, const std::string& valueName, bool defaultValue, bool allValues,
               bool force) {
  KeyPath key = ParseKeyArgument(keyText);
  if (!defaultValue && valueName.empty() && !allValues) {
    if (key.path.empty()) failed(key.display + ": a root key cannot be deleted", ERROR_ACCESS_DENIED);
    Key probe;
    LONG rc = RegOpenKeyExA(key.root, key.path.c_str(), 0, KEY_READ, &probe.h);
    if (rc != ERROR_SUCCESS) failed(key.display, rc);
    if (!force) confirm("Permanently delete the registry key " + key.display);
    rc = sundry::registry::DeleteRegistryTree(key.root, key.path.c_str());
    if (rc != ERROR_SUCCESS) failed(key.display, rc);
    printSuccess();
    return;
  }
  Key h;
  LONG rc = RegOpenKeyExA(key.root, key.path.empty() ? nullptr : key.path.c_str(), 0, KEY_ALL_ACCESS, &h.h);
  if (rc != ERROR_SUCCESS) failed(key.display, rc);
  if (allValues) {
    if (!force) confirm("Delete all values under the registry key " + key.display);
    RegFileContents tree;
    rc = sundry::registry::ReadRegistryTree(key.root, key.path.c_str(), &tree, 0);
    if (rc != ERROR_SUCCESS) failed(key.display, rc);
    for (const RegFileValue& v : tree.keys.front().values) {
      rc = RegDeleteValueA(h.h, v.name.c_str());
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        failed(key.display + " value \"" + Printable(v.name) + "\"", rc);
    }
  } else {
    const char* name = defaultValue ? "" : valueName.c_str();
    std::string shown = *name ? "value \"" + Printable(valueName) + "\"" : std::string("(Default)");
    if (RegQueryValueExA(h.h, name, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      failed(key.display + " " + shown, ERROR_FILE_NOT_FOUND);
    if (!force) confirm("Delete the registry value " + (*name ? Printable(valueName) : std::string("(Default)")));
    rc = RegDeleteValueA(h.h, name);
    if (rc != ERROR_SUCCESS) failed(key.display + " " + shown, rc);
  }
  printSuccess();
}

// ---------------------------------------------------------------------------
// import and export

void runImport(const std::string& file) {
  RegFileError err;
  LONG rc;
  if (file == "-") {
    std::string bytes((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    rc = sundry::registry::ImportRegFile(bytes, &err);
  } else {
    rc = sundry::registry::ImportRegFileFromPath(file.c_str(), &err);
  }
  if (rc != ERROR_SUCCESS) {
    std::string where = err.line > 0 ? file + ": " : std::string();
    throw Failure{where + err.Text(), kFailed};
  }
  printSuccess();
}

void runExport(const std::string& keyText, const std::string& file, bool yes) {
  KeyPath key = ParseKeyArgument(keyText);
  RegFileError err;
  if (file == "-") {
    std::string text;
    if (sundry::registry::ExportRegFile(key.root, key.path.c_str(), &text, &err) != ERROR_SUCCESS)
      throw Failure{err.Text(), kFailed};
    std::fwrite(text.data(), 1, text.size(), stdout);
    return;
  }
  std::error_code ec;
  if (!yes && std::filesystem::exists(file, ec)) confirm("File " + file + " already exists. Overwrite");
  if (sundry::registry::ExportRegFileToPath(key.root, key.path.c_str(), file.c_str(), &err) != ERROR_SUCCESS)
    throw Failure{err.Text(), kFailed};
  printSuccess();
}

// ---------------------------------------------------------------------------
// Command line.

// Windows-style switches of each sub-command and the long options they stand
// for; true marks a switch followed by an argument.
struct Switch {
  const char* slash;
  const char* option;
  bool takesArgument;
};

const std::map<std::string, std::vector<Switch>>& switchTable() {
  static const std::map<std::string, std::vector<Switch>> table = {
      {"query", {{"/v", "--value", true}, {"/ve", "--default-value", false}, {"/s", "--recurse", false}}},
      {"add",
       {{"/v", "--value", true},
        {"/ve", "--default-value", false},
        {"/t", "--type", true},
        {"/d", "--data", true},
        {"/s", "--separator", true},
        {"/f", "--force", false}}},
      {"delete",
       {{"/v", "--value", true},
        {"/ve", "--default-value", false},
        {"/va", "--all-values", false},
        {"/f", "--force", false}}},
      {"export", {{"/y", "--yes", false}}},
      {"import", {}},
  };
  return table;
}

void rewriteSwitches(std::vector<std::string>& args) {
  if (args.empty()) return;
  if (args[0] == "/?") args[0] = "--help";
  auto it = switchTable().find(lower(args[0]));
  if (it == switchTable().end()) return;
  args[0] = it->first;
  std::vector<std::string> out{args[0]};
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const Switch* sw = nullptr;
    bool longForm = false;
    if (a == "/?") {
      out.push_back("--help");
      continue;
    }
    for (const Switch& s : it->second) {
      if (lower(a) == s.slash) sw = &s;
      if (a == s.option) sw = &s, longForm = true;
    }
    if (sw == nullptr) {
      out.push_back(a);
    } else if (sw->takesArgument && i + 1 < args.size()) {
      // Joined with '=' so that an argument starting with '-' or '/' is
      // taken as the argument, not as a switch; an empty one cannot be
      // joined and follows on its own.
      const std::string& arg = args[++i];
      if (arg.empty()) {
        out.push_back(sw->option);
        out.push_back(arg);
      } else {
        out.push_back(std::string(sw->option) + "=" + arg);
      }
    } else if (!longForm || !sw->takesArgument) {
      out.push_back(sw->option);
    } else {
      out.push_back(a);
    }
  }
  args.swap(out);
}

// Runs a command body; anything that escapes other than a Failure becomes
// one, so the tool always ends with a message and a status.
template <typename Fn>
void guard(Fn fn) {
  try {
    fn();
  } catch (const Failure&) {
    throw;
  } catch (const std::exception& e) {
    throw Failure{e.what(), kFailed};
  }
}

void setup(CLI::App& app) {
  CLI::App* reg = app.add_subcommand("reg", "Query and change the registry; import and export .reg files");
  reg->require_subcommand(1);

  struct Options {
    std::string key, value, type, data, separator = "\\0", file;
    bool defaultValue = false, recurse = false, force = false, allValues = false, yes = false;
  };
  auto o = std::make_shared<Options>();

  CLI::App* query = reg->add_subcommand("query", "Show a key's values and sub-keys (KEY [/v NAME | /ve] [/s])");
  query->add_option("key", o->key, "Key, e.g. HKCU\\Software\\Example")->required();
  auto* qv = query->add_option("--value", o->value, "Only the value of this name (/v)");
  auto* qve = query->add_flag("--default-value", o->defaultValue, "Only the default value (/ve)");
  qv->excludes(qve);
  query->add_flag("--recurse", o->recurse, "All sub-keys and their values (/s)");
  query->callback([o] { guard([&] { runQuery(o->key, o->value, o->defaultValue, o->recurse); }); });

  CLI::App* add = reg->add_subcommand("add", "Create a key or set a value (KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEP] [/f])");
  add->add_option("key", o->key, "Key to create or to hold the value")->required();
  auto* av = add->add_option("--value", o->value, "Name of the value to set (/v)");
  auto* ave = add->add_flag("--default-value", o->defaultValue, "Set the default value (/ve)");
  av->excludes(ave);
  add->add_option("--type", o->type, "Value type, REG_SZ by default (/t)");
  auto* ad = add->add_option("--data", o->data, "Value data (/d)");
  add->add_option("--separator", o->separator, "Separator of REG_MULTI_SZ strings, \\0 by default (/s)");
  add->add_flag("--force", o->force, "Overwrite an existing value without asking (/f)");
  add->callback([o, ad] {
    guard([&] {
      runAdd(o->key, o->value, o->defaultValue, o->type, ad->count() ? &o->data : nullptr, o->separator, o->force);
    });
  });

  CLI::App* del = reg->add_subcommand("delete", "Delete a key with its sub-tree, or values (KEY [/v NAME | /ve | /va] [/f])");
  del->add_option("key", o->key, "Key to delete or holding the values")->required();
  auto* dv = del->add_option("--value", o->value, "Delete the value of this name (/v)");
  auto* dve = del->add_flag("--default-value", o->defaultValue, "Delete the default value (/ve)");
  auto* dva = del->add_flag("--all-values", o->allValues, "Delete every value of the key (/va)");
  dv->excludes(dve)->excludes(dva);
  dve->excludes(dva);
  del->add_flag("--force", o->force, "Delete without asking (/f)");
  del->callback([o] { guard([&] { runDelete(o->key, o->value, o->defaultValue, o->allValues, o->force); }); });

  CLI::App* imp = reg->add_subcommand("import", "Apply a .reg file to the registry (FILE, - for stdin)");
  imp->add_option("file", o->file, ".reg file (REGEDIT4 or version 5)")->required();
  imp->callback([o] { guard([&] { runImport(o->file); }); });

  CLI::App* exp = reg->add_subcommand("export", "Write a key and its sub-tree to a .reg file (KEY FILE [/y])");
  exp->add_option("key", o->key, "Key to export")->required();
  exp->add_option("file", o->file, "Output file (- for stdout)")->required();
  exp->add_flag("--yes", o->yes, "Overwrite an existing file without asking (/y)");
  exp->callback([o] { guard([&] { runExport(o->key, o->file, o->yes); }); });
}

const char* TypeText(DWORD type) {
  for (const TypeName& t : kTypes)
    if (t.type == type) return t.name;
  static thread_local char buf[32];
  std::snprintf(buf, sizeof buf, "REG_0x%x", static_cast<unsigned>(type));
  return buf;
}

bool ParseTypeName(const std::string& text, DWORD* type) {
  std::string t = lower(text);
  if (t == "reg_dword_little_endian") t = "reg_dword";
  for (const TypeName& n : kTypes)
    if (t == lower(n.name)) {
      *type = n.type;
      return true;
    }
  return false;
}

std::string DataText(DWORD type, const std::string& data) {
  char buf[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return data.substr(0, data.find('\0'));
    case REG_MULTI_SZ: {
      // Strings joined by the two characters \0, as reg shows them.
      std::string out;
      size_t start = 0;
      while (start < data.size()) {
        size_t end = data.find('\0', start);
        if (end == start) break;  // the list's terminating empty string
        if (!out.empty()) out += "\\0";
        out += data.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos) break;
        start = end + 1;
      }
      return out;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
      size_t width = type == REG_QWORD ? 8 : 4;
      if (data.size() != width) break;
      unsigned long long n = 0;
      for (size_t i = 0; i < width; ++i) {
        size_t at = type == REG_DWORD_BIG_ENDIAN ? i : width - 1 - i;
        n = (n << 8) | static_cast<unsigned char>(data[at]);
      }
      std::snprintf(buf, sizeof buf, "0x%llx", n);
      return buf;
    }
    default:
      break;
  }
  std::string out;
  for (char c : data) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
    out += buf;
  }
  return out;
}

KeyPath ParseKeyArgument(const std::string& text) {
  std::string rest = text;
  if (rest.size() > 2 && rest[0] == '\\' && rest[1] == '\\') {
    // \\machine\ROOT\path: the store serves the local machine only, which
    // the connection confirms (or refuses with ERROR_BAD_NETPATH).
    size_t slash = rest.find('\\', 2);
    if (slash == std::string::npos) usage("invalid key name \"" + text + "\"");
    std::string machine = rest.substr(0, slash);
    rest = rest.substr(slash + 1);
    HKEY root;
    std::string path;
    if (!sundry::registry::ParseKeyPath(rest, &root, &path)) usage("invalid key name \"" + text + "\"");
    if (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS)
      usage("invalid key name \"" + text + "\": only HKLM and HKU can be reached on another machine");
    HKEY connection = nullptr;
    LONG rc = RegConnectRegistryA(machine.c_str(), root, &connection);
    if (rc != ERROR_SUCCESS) failed(machine, rc);
    RegCloseKey(connection);
  }
  KeyPath key;
  if (!sundry::registry::ParseKeyPath(rest, &key.root, &key.path))
    usage("invalid key name \"" + text + "\": expected ROOT\\path with a root such as HKCU or HKEY_LOCAL_MACHINE");
  key.display = sundry::registry::RootKeyName(key.root);
  if (!key.path.empty()) key.display += "\\" + key.path;
  key.display = Printable(key.display);
  return key;
}

}  // namespace

// Also used by the demo command (declared there).
std::string ValueLine(const RegFileValue& v) {
  return "    " + (v.name.empty() ? std::string("(Default)") : Printable(v.name)) + "    " + TypeText(v.type) +
         "    " + Printable(DataText(v.type, v.data));
}

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != 0x7F) {
      out += ch;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace sundry::cli::regtool

SUNDRY_CLI_FAMILY("reg", 20, sundry::cli::regtool::setup);
SUNDRY_CLI_ARG_REWRITER("reg", sundry::cli::regtool::rewriteSwitches);
