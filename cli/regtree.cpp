// sundry reg tree | find: a loaded key tree as an indented outline, and the
// filtered search over a sub-tree.
//
//   sundry reg tree KEY [--depth N] [--values]
//   sundry reg find KEY [--key NAME[*]]... [--value NAME[=DATA[*]]]... [--values]
//
// A --key filter matches a key's own name without regard to case; a
// trailing * makes it a prefix. All --value filters must pass: NAME alone
// asks that the value exist, NAME=TEXT that its text be TEXT (a trailing *:
// that the shorter of the two texts begin the other, ignoring case), and
// NAME=dword:N that it hold the number N.

#include "commands.h"

#include <sundry/platform/registry.h>
#include <sundry/registry/RegFile.h>
#include <sundry/registry/RegistryKeysFiltered.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace sundry::cli {
namespace regtool {
// Defined in reg.cpp: control characters escaped for the terminal.
std::string Printable(std::string_view text);
}  // namespace regtool

namespace {

using regtool::Printable;

struct TreeOptions {
  std::string key;
  int depth = 1;
  bool values = false;
  std::vector<std::string> keyFilters;
  std::vector<std::string> valueFilters;
};

void parseKey(const std::string& text, HKEY* root, std::string* subKey) {
  if (!sundry::registry::ParseKeyPath(text, root, subKey))
    throw Failure{"not a registry key path: " + Printable(text), kUsage};
}

std::string describe(const CRegistryValue& v) {
  char number[32];
  switch (v.getType()) {
    case REG_DWORD:
      std::snprintf(number, sizeof number, "0x%08x (%u)", static_cast<unsigned>(v.getDWORD()),
                    static_cast<unsigned>(v.getDWORD()));
      return std::string(number) + "  REG_DWORD";
    case REG_SZ:
      return "\"" + Printable(v.getCString(0).str()) + "\"  REG_SZ";
    case REG_EXPAND_SZ:
      return "\"" + Printable(v.getCString(0).str()) + "\"  REG_EXPAND_SZ";
    case REG_MULTI_SZ:
      return "\"" + Printable(v.getCString('|').str()) + "\"  REG_MULTI_SZ";
    default: {
      std::string hex;
      const auto* p = static_cast<const unsigned char*>(v.getBinary());
      for (DWORD i = 0; i < v.getSize() && i < 32; ++i) {
        std::snprintf(number, sizeof number, "%s%02x", i ? " " : "", p[i]);
        hex += number;
      }
      if (v.getSize() > 32) hex += " ...";
      std::snprintf(number, sizeof number, "  type %u, %u bytes", static_cast<unsigned>(v.getType()),
                    static_cast<unsigned>(v.getSize()));
      return hex + number;
    }
  }
}

void printTree(CRegistryKey& key, int indent, bool values) {
  const std::string pad(static_cast<size_t>(indent) * 2, ' ');
  if (values) {
    CRegistryValue* v = nullptr;
    for (BOOL ok = key.getFirstValue(v); ok; ok = key.getNextValue(v)) {
      std::string name = v->getValueName().IsEmpty() ? "(Default)" : Printable(v->getValueName().str());
      std::printf("%s  %s = %s\n", pad.c_str(), name.c_str(), describe(*v).c_str());
    }
  }
  CRegistryKey* child = nullptr;
  for (BOOL ok = key.getFirstSubKey(child); ok; ok = key.getNextSubKey(child)) {
    std::printf("%s  %s\n", pad.c_str(), Printable(child->getLastKeyLevel().str()).c_str());
    printTree(*child, indent + 1, values);
  }
}

void runTree(const TreeOptions& o) {
  HKEY root = nullptr;
  std::string subKey;
  parseKey(o.key, &root, &subKey);
  CRegistryKey key;
  if (!key.initialize(root, subKey.c_str(), static_cast<short>(o.depth), o.values, FALSE, FALSE) && !key.exists())
    throw Failure{Printable(o.key) + ": " + key.getErrorText()};
  std::printf("%s\n", Printable(o.key).c_str());
  printTree(key, 0, o.values);
}

void runFind(const TreeOptions& o) {
  HKEY root = nullptr;
  std::string subKey;
  parseKey(o.key, &root, &subKey);
  CRegistryKeysFiltered search;
  for (std::string f : o.keyFilters) {
    auto mode = CRegistryKeysFiltered::eEQUAL;
    if (!f.empty() && f.back() == '*') {
      f.pop_back();
      mode = CRegistryKeysFiltered::ePREFIX;
    }
    if (!search.setKeyFilter(*f.c_str(), mode)) throw Failure{"key name too long: " + f, kUsage};
  }
  std::vector<unsigned long> numbers;
  numbers.reserve(o.valueFilters.size());
  for (const std::string& f : o.valueFilters) {
    size_t eq = f.find('=');
    std::string name = f.substr(0, eq);
    BOOL ok;
    if (eq == std::string::npos) {
      ok = search.setValueFilter(name.c_str(), static_cast<const char*>(nullptr), CRegistryKeysFiltered::eEQUAL,
                                 CRegistryKeysFiltered::eEQUAL);
    } else {
      std::string data = f.substr(eq + 1);
      if (data.rfind("dword:", 0) == 0) {
        char* end = nullptr;
        numbers.push_back(std::strtoul(data.c_str() + 6, &end, 0));
        if (end == data.c_str() + 6 || *end != '\0') throw Failure{"not a number: " + data, kUsage};
        ok = search.setValueFilter(name.c_str(), &numbers.back(), CRegistryKeysFiltered::eEQUAL,
                                   CRegistryKeysFiltered::eEQUAL);
      } else {
        auto mode = CRegistryKeysFiltered::eEQUAL;
        if (!data.empty() && data.back() == '*') {
          data.pop_back();
          mode = CRegistryKeysFiltered::ePREFIX;
        }
        ok = search.setValueFilter(name.c_str(), data.c_str(), CRegistryKeysFiltered::eEQUAL, mode);
      }
    }
    if (!ok) throw Failure{"value name too long: " + name, kUsage};
  }
  search.initialize(root, subKey.c_str(), o.values);
  const char* rootName = sundry::registry::RootKeyName(root);
  for (int i = 0; i < search.getCount(); ++i) {
    CRegistryKey* match = search.GetAt(i);
    std::string path = rootName;
    if (!match->getSubKey().IsEmpty()) path += "\\" + std::string(match->getSubKey());
    std::printf("%s\n", Printable(path).c_str());
    if (o.values) printTree(*match, 0, true);
  }
  if (search.getCount() == 0) throw Failure{"no key matched", kFailed};
}

void setup(CLI::App& app) {
  // The reg family itself is set up earlier; these two commands join it.
  CLI::App* reg = nullptr;
  try {
    reg = app.get_subcommand("reg");
  } catch (const CLI::OptionNotFound&) {
    reg = app.add_subcommand("reg", "Registry store commands");
  }
  auto opts = std::make_shared<TreeOptions>();
  CLI::App* tree = reg->add_subcommand("tree", "Print a key tree as an indented outline");
  tree->add_option("KEY", opts->key, "Key path, e.g. HKCU\\Software\\Example")->required();
  tree->add_option("--depth", opts->depth, "Levels of sub-keys to load (default 1)");
  tree->add_flag("--values", opts->values, "List the values of each key");
  tree->callback([opts] { runTree(*opts); });

  CLI::App* find = reg->add_subcommand("find", "Search a sub-tree for keys that pass filters");
  find->add_option("KEY", opts->key, "Key path to search below")->required();
  find->add_option("--key", opts->keyFilters, "Key name filter, NAME or NAME* (any may match)");
  find->add_option("--value", opts->valueFilters, "Value filter, NAME, NAME=TEXT[*] or NAME=dword:N (all must pass)");
  find->add_flag("--values", opts->values, "Load and list the values of each match");
  find->callback([opts] { runFind(*opts); });
}

}  // namespace

SUNDRY_CLI_FAMILY("reg-tree", 1000, setup);

}  // namespace sundry::cli
