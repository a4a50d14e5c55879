// sundry proxy: the browser's proxy settings of a connection.
//
//   sundry proxy show    [--connection NAME] [--saved [--save KEY] | --ini FILE]
//   sundry proxy switch  --template KEY [--save KEY] [--connection NAME]
//   sundry proxy restore [--save KEY] [--connection NAME]
//   sundry proxy save    [--save KEY] [--ini FILE] [--connection NAME]
//   sundry proxy load    [--save KEY] [--ini FILE] [--connection NAME]
//   sundry proxy on | off [--connection NAME]
//   sundry proxy demo    [--data DIR]
//
// The connection defaults to the local network ("DefaultConnectionSettings");
// KEY is ROOT\path (HKCU\Software\..., HKEY_LOCAL_MACHINE\...). The saved
// copy lives in the registry under --save KEY (default
// HKCU\Software\Sundry\Saved Proxy), or with --ini in that INI file, in the
// section named after the key. --browser ie|mozilla overrides the browser
// found through the http handler. The registry is the store the library
// uses (SUNDRY_REGISTRY); the Mozilla profile is found below the
// application-data folder (SUNDRY_APPDATA, else the XDG configuration
// folder).
//
// "demo" runs the whole road on a fresh temporary store and application-data
// folder, never the user's: it imports the shipped template and browser
// settings, switches connections over, shows the settings before and after,
// restores them and checks that the browser's record and prefs.js are back
// byte for byte. It exits 0 only when everything came back.

#include "commands.h"

#include <sundry/platform/error.h>
#include <sundry/platform/process.h>
#include <sundry/platform/registry.h>
#include <sundry/proxy/Proxy.h>
#include <sundry/registry/RegFile.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sundry::cli::Failure;
using sundry::cli::kFailed;
using sundry::cli::kUsage;

constexpr char kDefaultSave[] = "HKEY_CURRENT_USER\\Software\\Sundry\\Saved Proxy";
constexpr char kConnections[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

struct Options {
  std::string connection, templateKey, saveKey = kDefaultSave, ini, browser, data;
  bool saved = false;
};

struct Key {
  HKEY root = nullptr;
  std::string path;
};

Key parseKey(const std::string& text, const char* what) {
  Key k;
  if (!sundry::registry::ParseKeyPath(text, &k.root, &k.path) || k.path.empty())
    throw Failure{std::string("not a registry key for ") + what + ": " + text, kUsage};
  return k;
}

const char* browserName(CProxy::eBROWSER b) {
  switch (b) {
    case CProxy::BROWSER_IE: return "Internet Explorer";
    case CProxy::BROWSER_NETSCAPE: return "Netscape/Mozilla";
    case CProxy::BROWSER_UNSUPPORTED: return "unsupported";
    default: return "undetermined";
  }
}

void printSettings(CProxy& p, const char* indent) {
  std::printf("%sManual proxy:  %s\n", indent, p.getEnabled() ? "on" : "off");
  std::printf("%sProxies:       %s\n", indent, p.proxyText().IsEmpty() ? "(none)" : p.proxyText().GetString());
  std::printf("%sExceptions:    %s\n", indent, p.getExceptions().IsEmpty() ? "(none)" : p.getExceptions().GetString());
  std::printf("%sBypass local:  %s\n", indent, p.getBypassLocal() ? "yes" : "no");
  std::printf("%sAuto-detect:   %s\n", indent, p.getAutoDetect() ? "on" : "off");
  std::printf("%sScript:        %s%s%s\n", indent, p.getScriptEnabled() ? "on" : "off",
              p.getScript().IsEmpty() ? "" : " ", p.getScript().GetString());
  std::printf("%sSOCKS version: %lu\n", indent, static_cast<unsigned long>(p.getSocksVersion()));
}

// A CProxy for the connection, with the browser found or forced.
void prepare(CProxy& p, const Options& o) {
  p.setConnectoid(o.connection.empty() ? nullptr : o.connection.c_str());
  const Key save = parseKey(o.saveKey, "--save");
  p.setSaveRegistryName(save.root, save.path.c_str(), nullptr);
  if (!o.templateKey.empty()) {
    const Key t = parseKey(o.templateKey, "--template");
    p.setGetRegistryName(t.root, t.path.c_str());
  }
  if (o.browser.empty()) {
    // Finding Netscape/Mozilla also finds its profile.
    if (p.getBrowser() == CProxy::BROWSER_NETSCAPE) p.setBrowser(CProxy::BROWSER_NETSCAPE);
  } else if (o.browser == "ie") {
    p.setBrowser(CProxy::BROWSER_IE);
  } else if (o.browser == "mozilla" || o.browser == "netscape") {
    p.setBrowser(CProxy::BROWSER_NETSCAPE);
  } else {
    throw Failure{"--browser must be ie or mozilla: " + o.browser, kUsage};
  }
}

CProxy::eBROWSER requireBrowser(CProxy& p) {
  CProxy::eBROWSER b = p.getBrowser();
  if (b != CProxy::BROWSER_IE && b != CProxy::BROWSER_NETSCAPE)
    throw Failure{"the default browser is neither Internet Explorer nor Netscape/Mozilla "
                  "(set HKEY_CLASSES_ROOT\\http\\shell\\open\\command or give --browser)",
                  kFailed};
  return b;
}

void show(const Options& o) {
  CProxy p;
  prepare(p, o);
  std::printf("Connection:    %s\n", p.getConnectoid().GetString());
  if (!o.ini.empty()) {
    if (!p.loadSavedProxies(o.ini.c_str())) throw Failure{"no saved copy readable in " + o.ini, kFailed};
    std::printf("Saved copy:    %s [%s]\n", o.ini.c_str(), o.saveKey.c_str());
  } else if (o.saved) {
    if (!p.loadSavedProxies()) throw Failure{"no saved copy readable under " + o.saveKey, kFailed};
    std::printf("Saved copy:    %s\n", o.saveKey.c_str());
  } else {
    CProxy::eBROWSER b = requireBrowser(p);
    std::printf("Browser:       %s\n", browserName(b));
    if (b == CProxy::BROWSER_NETSCAPE)
      std::printf("Profile:       %s\n",
                  p.getNetscapeDirectory().IsEmpty() ? "(none found)" : p.getNetscapeDirectory().GetString());
    // A read that finds no proxy entry is still a reading of the settings.
    p.getBrowserProxies();
  }
  printSettings(p, "");
}

void run(const std::string& command, const Options& o) {
  CProxy p;
  prepare(p, o);
  BOOL ok = 0;
  std::string what;
  if (command == "switch") {
    if (o.templateKey.empty()) throw Failure{"switch needs --template KEY", kUsage};
    requireBrowser(p);
    ok = p.replaceBrowserWithHOLM();
    what = "switch the browser over to " + o.templateKey;
  } else if (command == "restore") {
    requireBrowser(p);
    ok = p.savedSettingsToBrowser();
    what = "restore the saved copy from " + o.saveKey;
  } else if (command == "save") {
    requireBrowser(p);
    p.getBrowserProxies();
    if (o.ini.empty()) {
      ok = p.saveToRegistry();
    } else {
      CString file = o.ini.c_str();
      ok = p.saveToINIFile(file);
    }
    what = "save the browser's settings to " + (o.ini.empty() ? o.saveKey : o.ini);
  } else if (command == "load") {
    requireBrowser(p);
    ok = o.ini.empty() ? p.loadSavedProxies() : p.loadSavedProxies(o.ini.c_str());
    if (ok) ok = p.setBrowserProxies();
    what = "load the saved copy from " + (o.ini.empty() ? o.saveKey : o.ini) + " into the browser";
  } else if (command == "on" || command == "off") {
    requireBrowser(p);
    ok = p.useBrowserProxies(command == "on" ? 1 : 0);
    what = "turn the browser's proxy " + command + " (it may be so already, or have no settings)";
  }
  if (!ok) throw Failure{"could not " + what + " for " + p.getConnectoid().GetString(), kFailed};
  std::printf("%s: done for %s\n", command.c_str(), p.getConnectoid().GetString());
}

// ---------------------------------------------------------------------------
// The demonstration.

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure{"cannot read " + path, kFailed};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The shipped files: --data, else data/proxy below the current directory,
// else beside the build directory that holds the executable.
std::string findData(const std::string& given) {
  std::error_code ec;
  if (!given.empty()) {
    if (!fs::is_directory(given, ec)) throw Failure{"no such directory: " + given, kFailed};
    return given;
  }
  const std::string relative = "data/proxy";
  std::string found = sundry::cli::FindDataPath(relative + "/template.reg");
  if (!found.empty()) return fs::path(found).parent_path().string();
  throw Failure{"cannot find " + relative + "; run from the source tree or give --data DIR", kFailed};
}

// A scratch directory for the store and the application data, removed with
// everything in it at the end. The registry goes back to the store it used,
// and the application-data folder, which the library takes from the
// environment alone, to the one the environment named.
class Scratch {
 public:
  Scratch() : m_path(sundry::cli::MakeScratchFolder("sundry-proxy-demo")) {
    std::error_code ec;
    fs::create_directories(file("appdata"), ec);
    if (sundry::platform::RegistryUseStore(file("registry.db").c_str()) != ERROR_SUCCESS) {
      fs::remove_all(m_path, ec);
      throw Failure{"cannot switch the registry to a temporary store", kFailed};
    }
    char appData[4096];
    const DWORD n = GetEnvironmentVariableA(kAppDataVariable, appData, sizeof appData);
    m_hadAppData = n > 0 && n < sizeof appData;
    if (m_hadAppData) m_appData = appData;
    SetEnvironmentVariableA(kAppDataVariable, file("appdata").c_str());
  }
  ~Scratch() {
    sundry::platform::RegistryUseStore(nullptr);
    SetEnvironmentVariableA(kAppDataVariable, m_hadAppData ? m_appData.c_str() : nullptr);
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  static constexpr char kAppDataVariable[] = "SUNDRY_APPDATA";
  std::string m_path;
  bool m_hadAppData = false;
  std::string m_appData;
};

// Imports a .reg file; returns its first key.
Key importFile(const std::string& path) {
  const std::string bytes = readAll(path);
  sundry::registry::RegFileContents contents;
  sundry::registry::RegFileError err;
  if (!sundry::registry::ParseRegFile(bytes, &contents, &err) ||
      sundry::registry::ApplyRegFile(contents, &err) != 0)
    throw Failure{path + ": " + err.Text(), kFailed};
  Key first;
  for (const auto& k : contents.keys)
    if (!k.remove) {
      first.root = k.root;
      first.path = k.path;
      break;
    }
  return first;
}

// The raw bytes of a value; false when there is none.
bool rawValue(HKEY root, const std::string& key, const char* name, std::string* out) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != 0) return false;
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(h, name, nullptr, &type, nullptr, &size);
  if (rc == 0) {
    out->assign(size, '\0');
    rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(out->data()), &size);
    out->resize(size);
  }
  RegCloseKey(h);
  return rc == 0;
}

// The browser's settings now, read by a CProxy of their own.
void showBrowser(const char* connection, CProxy::eBROWSER kind, const char* when) {
  CProxy p;
  p.setConnectoid(connection);
  p.setBrowser(kind);
  std::printf("  %s:\n", when);
  if (kind == CProxy::BROWSER_IE) {
    std::string raw;
    if (!rawValue(HKEY_CURRENT_USER, kConnections, p.getConnectoid(), &raw)) {
      std::printf("    (no record for this connection)\n");
      return;
    }
    std::printf("    Record:        %zu bytes\n", raw.size());
  }
  p.getBrowserProxies();
  printSettings(p, "    ");
}

std::string proxyLines(const std::string& prefs) {
  std::string out;
  std::istringstream in(prefs);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(CProxy::m_StrNsPrefProxy.GetString(), 0) == 0) out += "    " + line + "\n";
  return out.empty() ? "    (no proxy preferences)\n" : out;
}

void demo(const Options& o) {
  const std::string data = findData(o.data);
  Scratch scratch;
  std::printf("Temporary registry store: %s\n", scratch.file("registry.db").c_str());
  std::printf("Temporary application data: %s\n", scratch.file("appdata").c_str());

  const Key tmpl = importFile(data + "/template.reg");
  const Key save{HKEY_CURRENT_USER, "Software\\Sundry\\Saved Proxy"};
  std::printf("Imported the template %s\\%s from %s/template.reg\n", sundry::registry::RootKeyName(tmpl.root),
              tmpl.path.c_str(), data.c_str());
  int failures = 0;

  // Internet Explorer: the handler names it; three connections.
  importFile(data + "/browser-ie.reg");
  const char* connections[] = {"_LAN_", "Office", "Hotel"};
  for (const char* name : connections) {
    CProxy p;
    p.setConnectoid(name);
    p.setGetRegistryName(tmpl.root, tmpl.path.c_str());
    p.setSaveRegistryName(save.root, save.path.c_str(), nullptr);
    std::printf("\n== Internet Explorer, connection %s ==\n", p.getConnectoid().GetString());
    if (p.getBrowser() != CProxy::BROWSER_IE) throw Failure{"the browser was not found to be Internet Explorer"};
    std::string before;
    const bool had = rawValue(HKEY_CURRENT_USER, kConnections, p.getConnectoid(), &before);
    showBrowser(name, CProxy::BROWSER_IE, "Before");
    if (p.replaceBrowserWithHOLM() != 1) {
      std::printf("  Switch-over FAILED\n");
      ++failures;
      continue;
    }
    showBrowser(name, CProxy::BROWSER_IE, "Switched over");
    std::string saved;
    if (rawValue(save.root, save.path, p.getConnectoid(), &saved))
      std::printf("    Saved copy:    %zu bytes in HKCU\\%s\n", saved.size(), save.path.c_str());
    // A connection without a record was given one from "NONE" first: that
    // record is what the saved copy holds and the restore brings back.
    std::string none;
    if (!had && rawValue(tmpl.root, tmpl.path, "NONE", &none) && none == saved) before = saved;

    CProxy r;
    r.setConnectoid(name);
    r.setSaveRegistryName(save.root, save.path.c_str(), nullptr);
    r.setBrowser(CProxy::BROWSER_IE);
    const BOOL restored = r.savedSettingsToBrowser();
    std::string after;
    const bool has = rawValue(HKEY_CURRENT_USER, kConnections, p.getConnectoid(), &after);
    showBrowser(name, CProxy::BROWSER_IE, "Restored");
    const bool same = restored == 1 && has && before == after;
    const bool gone = !rawValue(save.root, save.path, p.getConnectoid(), &saved);
    std::printf("  Record back byte for byte%s: %s; saved copy deleted: %s\n",
                had ? "" : " (the one made from \"NONE\" at the switch-over)", same ? "yes" : "NO",
                gone ? "yes" : "NO");
    if (!same || !gone) ++failures;
  }

  // Netscape/Mozilla: the handler names it; the profile holds prefs.js.
  importFile(data + "/browser-mozilla.reg");
  const std::string profile = scratch.file("appdata/Mozilla/Profiles/default/k3x9q2ab.slt");
  fs::create_directories(profile);
  const std::string prefsPath = profile + "/prefs.js";
  const std::string before = readAll(data + "/prefs.js");
  {
    std::ofstream out(prefsPath, std::ios::binary);
    out << before;
    if (!out) throw Failure{"cannot write " + prefsPath, kFailed};
  }
  // The browser keeps prefs.js readable by its owner alone.
  fs::permissions(prefsPath, fs::perms::owner_read | fs::perms::owner_write);
  {
    CProxy p;
    p.setConnectoid("_LAN_");
    p.setGetRegistryName(tmpl.root, tmpl.path.c_str());
    p.setSaveRegistryName(save.root, save.path.c_str(), nullptr);
    std::printf("\n== Netscape/Mozilla, connection %s ==\n", p.getConnectoid().GetString());
    if (p.getBrowser() != CProxy::BROWSER_NETSCAPE) throw Failure{"the browser was not found to be Netscape/Mozilla"};
    p.setBrowser(CProxy::BROWSER_NETSCAPE);  // finds the profile
    std::printf("  Profile: %s\n", p.getNetscapeDirectory().GetString());
    std::printf("  Before, prefs.js (%zu bytes) proxy lines:\n%s", before.size(), proxyLines(before).c_str());
    const BOOL switched = p.replaceBrowserWithHOLM();
    const std::string during = readAll(prefsPath);
    std::printf("  Switched over (%s), prefs.js proxy lines:\n%s", switched == 1 ? "done" : "FAILED",
                proxyLines(during).c_str());
    CProxy r;
    r.setConnectoid("_LAN_");
    r.setSaveRegistryName(save.root, save.path.c_str(), nullptr);
    r.setBrowser(CProxy::BROWSER_NETSCAPE);
    const BOOL restored = r.savedSettingsToBrowser();
    const std::string after = readAll(prefsPath);
    std::printf("  Restored, prefs.js proxy lines:\n%s", proxyLines(after).c_str());
    std::string saved;
    const bool gone = !rawValue(save.root, save.path, r.getConnectoid(), &saved);
    const bool same = switched == 1 && restored == 1 && before == after;
    std::error_code ec;
    const bool modeKept = fs::status(prefsPath, ec).permissions() == (fs::perms::owner_read | fs::perms::owner_write);
    std::printf("  prefs.js back byte for byte: %s; mode 0600 kept: %s; saved copy deleted: %s\n", same ? "yes" : "NO",
                modeKept ? "yes" : "NO", gone ? "yes" : "NO");
    if (!same || !modeKept || !gone) ++failures;
  }

  std::printf("\n%s\n", failures == 0 ? "Every connection came back byte for byte."
                                      : "Some settings did not come back; see above.");
  std::fflush(stdout);
  if (failures != 0) throw Failure{std::to_string(failures) + " round trip(s) failed", kFailed};
}

void setup(CLI::App& app) {
  CLI::App* proxy = app.add_subcommand("proxy", "Browser proxy settings: show, switch over and restore, saved copies");
  proxy->require_subcommand(1);
  auto o = std::make_shared<Options>();
  auto common = [&](CLI::App* c, bool saved) {
    c->add_option("--connection", o->connection, "Connection name (default: the local network)");
    c->add_option("--browser", o->browser, "ie or mozilla instead of the browser the http handler names");
    if (saved) {
      c->add_option("--save", o->saveKey, "Registry key of the saved copy (default: HKCU\\Software\\Sundry\\Saved Proxy)");
      c->add_option("--ini", o->ini, "Keep the saved copy in this INI file instead of the registry");
    }
  };
  auto action = [o](const std::string& name) {
    return [o, name] {
      try {
        if (name == "show") show(*o);
        else if (name == "demo") demo(*o);
        else run(name, *o);
      } catch (const Failure&) {
        throw;
      } catch (const std::exception& e) {
        throw Failure{e.what(), kFailed};
      }
    };
  };

  // The commands that act on the browser, each with the common options.
  const struct {
    const char* name;
    const char* description;
    bool saved;  // with --save and --ini
  } commands[] = {
      {"show", "Show the browser's settings, or a saved copy with --saved or --ini", true},
      {"switch", "Save the browser's settings and switch it to a template's", true},
      {"restore", "Put the saved copy back into the browser and delete it", true},
      {"save", "Save the browser's settings (registry, or INI file with --ini)", true},
      {"load", "Write a saved copy into the browser (the copy stays)", true},
      {"on", "Turn the browser's manual proxy on", false},
      {"off", "Turn the browser's manual proxy off", false},
  };
  CLI::App* c = nullptr;
  for (const auto& command : commands) {
    c = proxy->add_subcommand(command.name, command.description);
    common(c, command.saved);
    c->callback(action(command.name));
    if (command.name == std::string("show"))
      c->add_flag("--saved", o->saved, "Show the saved copy in the registry instead of the browser's settings");
    if (command.name == std::string("switch"))
      c->add_option("--template", o->templateKey, "Registry key of the template")->required();
  }

  c = proxy->add_subcommand("demo",
                            "The whole road on a temporary store: switch over, restore, check byte for byte");
  c->add_option("--data", o->data, "Folder of the shipped files (default: data/proxy)");
  c->callback(action("demo"));
}

}  // namespace

SUNDRY_CLI_FAMILY("proxy", 30, setup);
