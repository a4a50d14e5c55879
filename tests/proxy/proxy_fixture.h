#pragma once
// Support for the proxy tests: a reach into CProxy's record codec, record
// bytes made by hand, a fresh registry store and application-data folder
// per test, and a Mozilla profile in it.

#include "registry/registry_fixture.h"

#include <sundry/proxy/Proxy.h>

#include "platform/framework/coding.h"
#include "support/appdata.h"
#include "support/child.h"
#include "support/regvalues.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// Friend of CProxy: the private record and preference codec.
class CProxyTestPeer {
 public:
  static BOOL build(CProxy& p) { return p.buildProxyDataIE(); }
  static std::string record(const CProxy& p) {
    return p.m_pData ? std::string(reinterpret_cast<const char*>(p.m_pData.get()), p.m_dwDataSize) : std::string();
  }
  // Parses from a heap block of exactly the record's size, so that a read
  // past its end is caught by the address sanitizer.
  static BOOL parse(CProxy& p, const std::string& record) {
    std::vector<unsigned char> block(record.begin(), record.end());
    return p.parseProxyDataIE(block.empty() ? nullptr : block.data(), static_cast<DWORD>(block.size()));
  }
  static BOOL parse(CProxy& p, const std::string& record, bool* complete) {
    std::vector<unsigned char> block(record.begin(), record.end());
    return p.parseRecord(block.data(), static_cast<DWORD>(block.size()), complete);
  }
  static BOOL parseHex(CProxy& p, const char* text) { return p.parseProxyData(text); }
  static BOOL parsePrefs(CProxy& p, const std::string& text) {
    std::vector<char> block(text.begin(), text.end());
    return p.parsePrefsText(block.data(), block.size());
  }
  // Sets the exceptions text as it is, without the merge of setExceptions.
  static void setRawExceptions(CProxy& p, const char* text) { p.m_StrExceptions = text; }
};

namespace sundry::test {

// A connection-settings record made byte by byte.
inline std::string MakeRecord(uint32_t counter, uint32_t flags, const std::string& proxies,
                              const std::string& exceptions = "", const std::string& script = "",
                              uint32_t version = 60) {
  std::string r;
  for (uint32_t word : {version, counter, flags}) platform::PutFixed32(&r, word);
  for (const std::string* text : {&proxies, &exceptions, &script}) {
    platform::PutFixed32(&r, static_cast<uint32_t>(text->size()));
    r += *text;
  }
  return r + std::string(24, '\0');
}

inline uint32_t RecordWord(const std::string& r, size_t at) { return platform::DecodeFixed32(r.data() + at); }

// The items of a proxy text, sorted: the list's own order is any stable
// order of its map, no part of what callers may rely on.
inline std::string Sorted(const CString& text) {
  std::vector<std::string> items;
  std::string item;
  for (std::istringstream in(text.GetString()); std::getline(in, item, ';');) items.push_back(item);
  std::sort(items.begin(), items.end());
  std::string out;
  for (const std::string& i : items) out += (out.empty() ? "" : ";") + i;
  return out;
}

// Every part of the model, for comparing a model before and after.
inline std::string Describe(CProxy& p) {
  return "enabled=" + std::to_string(p.getEnabled()) + " auto=" + std::to_string(p.getAutoDetect()) +
         " bypass=" + std::to_string(p.getBypassLocal()) + " script=" + std::to_string(p.getScriptEnabled()) +
         " version=" + std::to_string(p.getVersion()) + " count=" + std::to_string(p.getUpdateCount()) +
         " flags=" + std::to_string(p.getFlags()) + " socks=" + std::to_string(p.getSocksVersion()) + " url=[" +
         p.getScript().GetString() + "] exceptions=[" + p.getExceptions().GetString() + "] protocols=[" +
         Sorted(p.proxyText()) + "] record=" + std::to_string(CProxyTestPeer::record(p).size());
}

constexpr char kConnectionsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr char kTemplateKey[] = "Software\\Sundry\\Template";
constexpr char kSaveKey[] = "Software\\Sundry\\Saved";

// A fresh registry store and a fresh application-data folder.
//
// The tests of this program may run side by side (ctest -j), and every
// rewrite of a prefs.js ends all processes named like the browser. So each
// test shares a lock, and a test that watches such a process of its own
// takes it alone (aloneWithTheBrowser) before it starts one.
class ProxyTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    // The places of the real registry that the tests change on Windows.
    m_connections = std::make_unique<RegistryValuesKept>(HKEY_CURRENT_USER, kConnectionsKey);
    m_handler = std::make_unique<RegistryValuesKept>(HKEY_CLASSES_ROOT, "http\\shell\\open\\command");
    m_lock = std::make_unique<TestProgramLock>("proxy-tests");
    m_appDataFolder = std::make_unique<ScratchAppData>(m_dir);
    m_appData = m_appDataFolder->path();
  }
  void TearDown() override {
    m_appDataFolder.reset();
    m_lock.reset();
    m_handler.reset();
    m_connections.reset();
    RegistryTest::TearDown();
  }
  void aloneWithTheBrowser() { m_lock->exclusive(); }

  // Makes the profile Mozilla/Profiles/default/<name> below the
  // application-data folder; returns its path.
  std::string makeProfile(const std::string& name = "x1y2z3.slt") {
    std::string dir = m_appData + "/Mozilla/Profiles/default/" + name;
    std::filesystem::create_directories(dir);
    return dir;
  }
  // The browser's record of a connection; "" when it has none.
  static std::string browserRecord(const char* connection) {
    DWORD type = 0;
    std::string data;
    return queryRaw(kConnectionsKey, connection, &type, &data) == ERROR_SUCCESS ? data : std::string();
  }
  // The saved copy under kSaveKey; "(none)" when there is none.
  static std::string savedCopy(const char* name) {
    DWORD type = 0;
    std::string data;
    return queryRaw(kSaveKey, name, &type, &data) == ERROR_SUCCESS ? data : "(none)";
  }
  static bool hasValue(const char* key, const char* name) {
    DWORD type = 0;
    std::string data;
    return queryRaw(key, name, &type, &data) == ERROR_SUCCESS;
  }
  static void setBinary(const char* key, const char* name, const std::string& data) {
    setRaw(key, name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  }
  // Names the default browser in HKEY_CLASSES_ROOT.
  static void setHandler(const std::string& command) {
    setText("http\\shell\\open\\command", "", command, HKEY_CLASSES_ROOT);
  }

  std::string m_appData;
  std::unique_ptr<ScratchAppData> m_appDataFolder;
  std::unique_ptr<TestProgramLock> m_lock;
  std::unique_ptr<RegistryValuesKept> m_connections, m_handler;
};

// A running process named like the Netscape browser, ended at the end of
// the test if it still runs.
class FakeBrowser : public SleepingChild {
 public:
  explicit FakeBrowser(const std::string& dir) : SleepingChild(dir, "netscp6.exe", 30) {}
};

// A CProxy for the connection with the test's template and saved-copy
// locations.
inline void setUp(CProxy& p, const char* connection, CProxy::eBROWSER kind) {
  p.setConnectoid(connection);
  p.setGetRegistryName(HKEY_CURRENT_USER, kTemplateKey);
  p.setSaveRegistryName(HKEY_CURRENT_USER, kSaveKey, nullptr);
  p.setBrowser(kind);
}

// The head of a prefs.js as the browser writes it: the comment block, its
// last lines given, and the first preferences.
#define SUNDRY_TEST_PREFS_HEAD(commentEnd)                                    \
  "# Mozilla User Preferences\n\n/* Do not edit this file.\n *\n"               \
  " * If you make changes to this file while the application is running,\n"  \
  " * the changes will be overwritten when the application exits.\n" commentEnd \
  " */\n\n"                                                                   \
  "user_pref(\"browser.startup.homepage\", \"http://www.example.com/\");\n"    \
  "user_pref(\"mail.identity.id1.fullName\", \"Chris \\\"CJ\\\" Example\");\n"

// A prefs.js the way the browser writes it.
inline const char* BrowserPrefs() {
  return SUNDRY_TEST_PREFS_HEAD("")
         "user_pref(\"network.cookie.cookieBehavior\", 1);\n"
         "user_pref(\"network.proxy.ftp\", \"ftp.proxy.example\");\n"
         "user_pref(\"network.proxy.ftp_port\", 2121);\n"
         "user_pref(\"network.proxy.http\", \"proxy.example\");\n"
         "user_pref(\"network.proxy.http_port\", 3128);\n"
         "user_pref(\"network.proxy.no_proxies_on\", \"localhost,127.0.0.1\");\n"
         "user_pref(\"network.proxy.share_proxy_settings\", true);\n"
         "user_pref(\"network.proxy.type\", 1);\n"
         "user_pref(\"print.print_footerleft\", \"&PT\");\n";
}

// A browser-written prefs.js that also holds network.proxy preferences the
// model has no part of, and a text with escapes.
inline const char* BrowserPrefsWithOtherProxyLines() {
  return SUNDRY_TEST_PREFS_HEAD(" *\n * To make a manual change to preferences, you can visit the URL about:config\n")
         "user_pref(\"network.proxy.backup.ssl\", \"secure.example\");\n"
         "user_pref(\"network.proxy.ftp\", \"ftp.proxy.example\");\n"
         "user_pref(\"network.proxy.ftp_port\", 2121);\n"
         "user_pref(\"network.proxy.http\", \"proxy.example\");\n"
         "user_pref(\"network.proxy.http_port\", 3128);\n"
         "user_pref(\"network.proxy.no_proxies_on\", \"localhost, 127.0.0.1, \\\"odd\\\\name\\\"\");\n"
         "user_pref(\"network.proxy.share_proxy_settings\", true);\n"
         "user_pref(\"network.proxy.socks_remote_dns\", true);\n"
         "user_pref(\"network.proxy.type\", 1);\n"
         "user_pref(\"print.print_footerleft\", \"&PT\");\n";
}

}  // namespace sundry::test
