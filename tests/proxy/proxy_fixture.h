#pragma once
// Support for the proxy tests: a reach into CProxy's record codec, record
// bytes made by hand, a fresh registry store and application-data folder
// per test, and a Mozilla profile in it.

#include "registry/registry_fixture.h"

#include <sundry/proxy/Proxy.h>

#include "platform/framework/coding.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

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
    m_lock = ::open("/tmp/sundry-proxy-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_lock >= 0) ::flock(m_lock, LOCK_SH);
    m_appData = m_dir.file("appdata");
    std::filesystem::create_directories(m_appData);
    m_appEnv = std::make_unique<ScopedEnv>("SUNDRY_APPDATA", m_appData.c_str());
  }
  void TearDown() override {
    m_appEnv.reset();
    if (m_lock >= 0) ::close(m_lock);
    RegistryTest::TearDown();
  }
  void aloneWithTheBrowser() {
    if (m_lock >= 0) ::flock(m_lock, LOCK_EX);
  }

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
  std::unique_ptr<ScopedEnv> m_appEnv;
  int m_lock = -1;
};

// A running process named like the Netscape browser: a copy of sleep that
// the test starts, and kills at the end if it still runs.
class FakeBrowser {
 public:
  explicit FakeBrowser(const std::string& dir) {
    const std::string exe = dir + "/netscp6.exe";
    std::filesystem::copy_file("/bin/sleep", exe, std::filesystem::copy_options::overwrite_existing);
    char arg0[] = "netscp6.exe";
    char arg1[] = "30";
    char* argv[] = {arg0, arg1, nullptr};
    if (posix_spawn(&m_pid, exe.c_str(), nullptr, nullptr, argv, environ) != 0) m_pid = 0;
    // Give it time to become the program it names.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ~FakeBrowser() {
    if (m_pid > 0 && !m_done) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  FakeBrowser(const FakeBrowser&) = delete;
  FakeBrowser& operator=(const FakeBrowser&) = delete;
  bool started() const { return m_pid > 0; }
  // True when the process ended by a signal within the time given.
  bool killedWithin(std::chrono::milliseconds wait) {
    for (auto end = std::chrono::steady_clock::now() + wait; !m_done && std::chrono::steady_clock::now() < end;) {
      if (waitpid(m_pid, &m_status, WNOHANG) == m_pid) m_done = true;
      else std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_done && WIFSIGNALED(m_status);
  }

 private:
  pid_t m_pid = 0;
  int m_status = 0;
  bool m_done = false;
};

inline unsigned FileMode(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0xFFFFu;
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
