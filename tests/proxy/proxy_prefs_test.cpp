// Browser detection, the Mozilla profile, and reading and rewriting
// prefs.js.

#include "proxy/proxy_fixture.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace sundry::test;
using Peer = CProxyTestPeer;

using ProxyBrowserTest = ProxyTest;
using ProxyPrefsTest = ProxyTest;

TEST_F(ProxyBrowserTest, TheHttpHandlerNamesTheBrowserWhichIsKeptUntilAskedForAgain) {
  struct Case {
    const char* command;
    CProxy::eBROWSER kind;
  } cases[] = {
      {"\"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\" -nohome", CProxy::BROWSER_IE},
      {"c:\\progra~1\\intern~1\\iexplore.exe %1", CProxy::BROWSER_IE},
      {"\"C:\\Program Files\\Netscape\\Netscape 6\\NETSCP6.EXE\" -url \"%1\"", CProxy::BROWSER_NETSCAPE},
      {"C:\\netscape\\iexplore-and-netscp.exe", CProxy::BROWSER_IE},
      {"\"C:\\Program Files\\Opera\\opera.exe\" \"%1\"", CProxy::BROWSER_UNSUPPORTED},
  };
  CProxy none;
  EXPECT_EQ(CProxy::BROWSER_UNSUPPORTED, none.getBrowser());  // no handler at all
  EXPECT_EQ(0, none.setBrowser(CProxy::BROWSER_UNDETERMINED));
  for (const Case& c : cases) {
    setHandler(c.command);
    CProxy p;
    EXPECT_EQ(c.kind, p.getBrowser()) << c.command;
  }
  // An unsupported browser is asked for again; a determined one is kept
  // until it is determined anew.
  setHandler("iexplore.exe");
  EXPECT_EQ(CProxy::BROWSER_IE, none.getBrowser());
  setHandler("netscp.exe");
  EXPECT_EQ(CProxy::BROWSER_IE, none.getBrowser());
  EXPECT_EQ(1, none.setBrowser(CProxy::BROWSER_UNDETERMINED));
  EXPECT_EQ(CProxy::BROWSER_NETSCAPE, none.getBrowser());
}

TEST_F(ProxyPrefsTest, TheProfileIsTheFirstSltDirectoryAndWithoutOneNothingIsWritten) {
  const std::string profiles = m_appData + "/Mozilla/Profiles/default/";
  std::filesystem::create_directories(profiles);
  ASSERT_TRUE(WriteFile(profiles + "0.slt", "a file, not a profile"));
  CProxy p;
  p.setBrowser(CProxy::BROWSER_NETSCAPE);
  EXPECT_STREQ("", p.getNetscapeDirectory());
  EXPECT_EQ(0, p.getBrowserProxies());
  p.setProxyForProtocol("a:1", "http");
  EXPECT_EQ(0, p.setBrowserProxies());
  EXPECT_EQ(1u, static_cast<size_t>(std::distance(std::filesystem::directory_iterator(profiles), {})));

  makeProfile("b.slt");
  makeProfile("a.slt");
  EXPECT_EQ(1, p.setBrowser(CProxy::BROWSER_NETSCAPE));
  EXPECT_EQ(m_appData + "\\Mozilla\\Profiles\\default\\a.slt", std::string(p.getNetscapeDirectory()));
}

TEST_F(ProxyPrefsTest, PreferenceLinesSetTheModelOrAreTakenAsAbsent) {
  struct Case {
    const char* lines;
    BOOL result;
    int enabled, autoDetect, scriptEnabled;
    const char* entries;
  } cases[] = {
      {"user_pref(\"network.proxy.type\", 2);", 0, 1, 1, 0, ""},
      {"user_pref(\"network.proxy.type\",1);", 0, 1, 0, 0, ""},
      {"user_pref(\"network.proxy.type\", 0);", 0, 0, 0, 0, ""},  // "no proxy": the switch goes off
      {"user_pref(\"network.proxy.http_port\", 8080);", 1, 0, 0, 0, "http=:8080"},
      {"user_pref(\"network.proxy.http_port\",80);\nuser_pref(\"network.proxy.HTTP\",\"h\");", 1, 0, 0, 0,
       "http=h:80"},
      {"user_pref(\"network.proxy.autoconfig_url\", \"http://w/p.pac\");", 0, 0, 0, 1, ""},
      {"user_pref(\"network.proxy.ssl\", \"s\");\nuser_pref(\"network.proxy.ssl_port\", 12345678);", 1, 0, 0, 0,
       "ssl=s:1234567"},
      {"user_pref(\"network.proxy.gopher_port\", 70);", 1, 0, 0, 0, "gopher=:70"},
  };
  for (const Case& c : cases) {
    CProxy p;
    p.enable(1);
    p.scriptEnable(1);
    EXPECT_EQ(c.result, Peer::parsePrefs(p, c.lines)) << c.lines;
    EXPECT_EQ(c.enabled, p.getEnabled()) << c.lines;
    EXPECT_EQ(c.autoDetect, p.getAutoDetect()) << c.lines;
    EXPECT_EQ(c.scriptEnabled, p.getScriptEnabled()) << c.lines;
    EXPECT_STREQ(c.entries, p.proxyText()) << c.lines;
  }
  CProxy socks;
  Peer::parsePrefs(socks, "user_pref(\"network.proxy.socks_version\", 4);");
  EXPECT_EQ(4u, socks.getSocksVersion());

  // Lines of another form (more are in the fuzz corpus), and network.proxy
  // names that are no protocol Mozilla has a proxy for, change nothing.
  for (const char* line : {"user_pref(\"network.proxy.http\", proxy);", "user_pref(\"network.proxy.http_port\", \"80\");",
                           "user_pref(\"network.proxy.http\" \"a\");",
                           "user_pref(\"network.proxy.share_proxy_settings\", true);",
                           "user_pref(\"network.proxy.backup.ssl\", \"h\");", "user_pref(\"network.proxy.https\", \"h\");",
                           "user_pref(\"network.proxy.http_port_x\", 443);", "user_pref(\"network.proxy.xhttp\", \"h\");"}) {
    CProxy p;
    p.setProxyForProtocol("keep:1", "http");
    p.setExceptions("keep");
    p.setSocksVersion(4);
    EXPECT_EQ(0, Peer::parsePrefs(p, line)) << line;
    EXPECT_STREQ("http=keep:1", p.proxyText()) << line;
    EXPECT_STREQ("keep;", p.getExceptions()) << line;
    EXPECT_EQ(4u, p.getSocksVersion()) << line;
  }
}

TEST_F(ProxyPrefsTest, EscapedTextsAreReadAsTheBrowserMeansThem) {
  CProxy p;
  EXPECT_EQ(1, Peer::parsePrefs(p,
                                "user_pref(\"network.proxy.http\", \"a\\\"b\\\\c\");\n"
                                "user_pref(\"network.proxy.no_proxies_on\", \"x\\ny,\\x41\\u00e9\\t'\");\n"
                                "user_pref(\"network.proxy.autoconfig_url\", 'http://w/\\'q\\'.pac');\n"));
  EXPECT_STREQ("http=a\"b\\c:0", p.proxyText());
  EXPECT_STREQ("x\ny;A\xC3\xA9\t'", p.getExceptions());
  EXPECT_STREQ("http://w/'q'.pac", p.getScript());
  // An escape that is cut off or stands for a zero is no text.
  for (const char* bad : {"\"a\\\"", "\"a\\x4\"", "\"a\\u00\"", "\"a\\x00\"", "\"\\ud800\""}) {
    CProxy q;
    q.setProxyForProtocol("keep:1", "http");
    EXPECT_EQ(0, Peer::parsePrefs(q, std::string("user_pref(\"network.proxy.http\", ") + bad + ");")) << bad;
    EXPECT_STREQ("http=keep:1", q.proxyText()) << bad;
  }
}

// Gives the model the profile makeProfile made, with the given prefs.js
// when there is one.
void writeWith(CProxy& p, const std::string& dir, const char* prefs) {
  p.setBrowser(CProxy::BROWSER_NETSCAPE);
  if (prefs != nullptr) {
    ASSERT_TRUE(WriteFile(dir + "/prefs.js", prefs));
  }
}

TEST_F(ProxyPrefsTest, RewritingChangesOnlyTheProxyLinesAndKeepsTheBrowsersForm) {
  const std::string dir = makeProfile();
  CProxy p;
  writeWith(p, dir, BrowserPrefs());
  p.setProxyForProtocol("h.example:8080", "https");
  p.setProxyForProtocol("f.example:21", "ftp");
  p.enable(1);
  p.setExceptions("a;b");
  p.setScript("http://w/p.pac");
  p.setSocksVersion(4);
  ASSERT_EQ(1, p.setBrowserProxies());
  // Changed values in place, new lines where the browser sorts them, in its
  // spacing; the http lines the model no longer has are gone; the header,
  // the blank lines and share_proxy_settings stay as they were.
  const std::string before = BrowserPrefs();
  EXPECT_EQ(before.substr(0, before.find("user_pref(\"network.proxy.")) +
                "user_pref(\"network.proxy.autoconfig_url\", \"http://w/p.pac\");\n"
                "user_pref(\"network.proxy.ftp\", \"f.example\");\n"
                "user_pref(\"network.proxy.ftp_port\", 21);\n"
                "user_pref(\"network.proxy.no_proxies_on\", \"a,b,\");\n"
                "user_pref(\"network.proxy.share_proxy_settings\", true);\n"
                "user_pref(\"network.proxy.socks_version\", 4);\n"
                "user_pref(\"network.proxy.ssl\", \"h.example\");\n"
                "user_pref(\"network.proxy.ssl_port\", 8080);\n"
                "user_pref(\"network.proxy.type\", 1);\n"
                "user_pref(\"print.print_footerleft\", \"&PT\");\n",
      ReadFile(dir + "/prefs.js"));
  // The model keeps the commas; the copy of the new file is beside it.
  EXPECT_STREQ("a,b,", p.getExceptions());
  EXPECT_EQ(ReadFile(dir + "/prefs.js"), ReadFile(dir + "/prefs.scm.bak"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/prefs.scm"));

  // Read back, the file gives the same settings (https became ssl).
  CProxy q;
  q.setBrowser(CProxy::BROWSER_NETSCAPE);
  EXPECT_EQ(1, q.getBrowserProxies());
  EXPECT_EQ("ftp=f.example:21;ssl=h.example:8080", Sorted(q.proxyText()));
  EXPECT_STREQ("a;b;", q.getExceptions());
  EXPECT_STREQ("http://w/p.pac", q.getScript());
  EXPECT_EQ(1, q.getScriptEnabled());
  EXPECT_EQ(4u, q.getSocksVersion());
  // Written again from what was read, the file is the same byte for byte.
  const std::string once = ReadFile(dir + "/prefs.js");
  ASSERT_EQ(1, q.setBrowserProxies());
  EXPECT_EQ(once, ReadFile(dir + "/prefs.js"));
}

TEST_F(ProxyPrefsTest, ProxyPreferencesTheModelDoesNotHoldStayAsTheyAre) {
  const std::string dir = makeProfile();
  CProxy p;
  writeWith(p, dir, BrowserPrefsWithOtherProxyLines());
  ASSERT_EQ(1, p.getBrowserProxies());
  EXPECT_EQ("ftp=ftp.proxy.example:2121;http=proxy.example:3128", Sorted(p.proxyText()));
  EXPECT_STREQ("localhost; 127.0.0.1; \"odd\\name\"", p.getExceptions());
  // Written back unchanged, nothing moves: not even the escaped text.
  ASSERT_EQ(1, p.setBrowserProxies());
  EXPECT_EQ(BrowserPrefsWithOtherProxyLines(), ReadFile(dir + "/prefs.js"));

  // A model of other settings leaves the other network.proxy lines alone
  // and invents no protocol from them.
  CProxy q;
  q.setBrowser(CProxy::BROWSER_NETSCAPE);
  q.setProxyForProtocol("gw:1", "http");
  ASSERT_EQ(1, q.setBrowserProxies());
  const std::string now = ReadFile(dir + "/prefs.js");
  for (const char* kept : {"user_pref(\"network.proxy.backup.ssl\", \"secure.example\");\n",
                           "user_pref(\"network.proxy.share_proxy_settings\", true);\n",
                           "user_pref(\"network.proxy.socks_remote_dns\", true);\n",
                           "user_pref(\"network.proxy.http\", \"gw\");\nuser_pref(\"network.proxy.http_port\", 1);\n"})
    EXPECT_NE(std::string::npos, now.find(kept)) << kept << now;
  for (const char* gone : {"backup.ssl_port", "network.proxy.ftp", "no_proxies_on", "network.proxy.type"})
    EXPECT_EQ(std::string::npos, now.find(gone)) << gone << now;
}

TEST_F(ProxyPrefsTest, QuotesLineFeedsAndBackslashesCannotAddPreferences) {
  const std::string dir = makeProfile();
  CProxy p;
  writeWith(p, dir, BrowserPrefs());
  const char* script = "http://w/p.pac\");\nuser_pref(\"network.proxy.http\", \"evil\");\n//";
  const char* exceptions = "a\\\"b\r\nc\\";
  p.setScript(script);
  Peer::setRawExceptions(p, exceptions);
  p.setProxyForProtocol("h\"x\\:1", "ftp");
  ASSERT_EQ(1, p.setBrowserProxies());
  const std::string now = ReadFile(dir + "/prefs.js");
  EXPECT_NE(std::string::npos, now.find("user_pref(\"network.proxy.autoconfig_url\", "
                                        "\"http://w/p.pac\\\");\\nuser_pref(\\\"network.proxy.http\\\", "
                                        "\\\"evil\\\");\\n//\");\n"))
      << now;
  EXPECT_NE(std::string::npos, now.find("user_pref(\"network.proxy.no_proxies_on\", \"a\\\\\\\"b\\r\\nc\\\\\");\n"))
      << now;
  EXPECT_NE(std::string::npos, now.find("user_pref(\"network.proxy.ftp\", \"h\\\"x\\\\\");\n")) << now;
  // No line more than the 19 of the old file, less http, http_port and
  // type (not in the model), plus autoconfig_url.
  size_t lines = 0;
  for (char c : now) lines += c == '\n';
  EXPECT_EQ(17u, lines) << now;

  CProxy q;
  q.setBrowser(CProxy::BROWSER_NETSCAPE);
  EXPECT_EQ(1, q.getBrowserProxies());
  EXPECT_STREQ(script, q.getScript());
  EXPECT_STREQ("a\\\"b\r\nc\\", q.getExceptions());
  EXPECT_STREQ("ftp=h\"x\\:1", q.proxyText());
}

// Each rewrite keeps the file's own spacing and line ends, long lines and
// a last line without a line end; a missing prefs.js is made with the
// browser's header, readable by its owner alone.
TEST_F(ProxyPrefsTest, RewritesKeepTheFilesOwnForm) {
  const std::string dir = makeProfile(), longValue(3000, 'v');
  const struct {
    const char* what;
    std::string before;  // "" for no prefs.js
    void (*model)(CProxy&);
    std::string after;
  } cases[] = {
      {"ALL is written for the four protocols; socks is none of them, its line goes",
       "user_pref(\"network.proxy.gopher\",\"old\");\nuser_pref(\"network.proxy.socks\",\"s\");\n",
       [](CProxy& p) {
         p.setProxyForAll("all.example", 3128);
         p.setProxyForProtocol("s:1080", "socks");
       },
       "user_pref(\"network.proxy.ftp\",\"all.example\");\nuser_pref(\"network.proxy.ftp_port\",3128);\n"
       "user_pref(\"network.proxy.gopher\",\"all.example\");\nuser_pref(\"network.proxy.gopher_port\",3128);\n"
       "user_pref(\"network.proxy.http\",\"all.example\");\nuser_pref(\"network.proxy.http_port\",3128);\n"
       "user_pref(\"network.proxy.ssl\",\"all.example\");\nuser_pref(\"network.proxy.ssl_port\",3128);\n"},
      {"CR LF, a long line, no final line end",
       "# Mozilla User Preferences\r\n\r\nuser_pref(\"a.long\", \"" + longValue +
           "\");\r\nuser_pref(\"network.proxy.http\",\"x\");\r\nuser_pref(\"z.last\", 1);",
       [](CProxy& p) { p.setProxyForProtocol("h:1", "http"); },
       "# Mozilla User Preferences\r\n\r\nuser_pref(\"a.long\", \"" + longValue +
           "\");\r\nuser_pref(\"network.proxy.http\",\"h\");\r\nuser_pref(\"network.proxy.http_port\",1);\r\n"
           "user_pref(\"z.last\", 1);"},
      {"a line added after a last line without a line end gives it one", "user_pref(\"a\", 1);",
       [](CProxy& p) { p.enable(1); }, "user_pref(\"a\", 1);\nuser_pref(\"network.proxy.type\", 1);\n"},
      {"no prefs.js", "",
       [](CProxy& p) {
         p.enable(1);
         p.autoDetect(1);
       },
       "# Mozilla User Preferences\n// This is a generated file!\n\nuser_pref(\"network.proxy.type\",2);\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir + "/prefs.js");
    CProxy p;
    writeWith(p, dir, c.before.empty() ? nullptr : c.before.c_str());
    c.model(p);
    ASSERT_EQ(1, p.setBrowserProxies()) << c.what;
    EXPECT_EQ(c.after, ReadFile(dir + "/prefs.js")) << c.what;
  }
  EXPECT_TRUE(HasFileMode(dir + "/prefs.js", 0600));
}

TEST_F(ProxyPrefsTest, OnlyARewriteEndsTheRunningBrowser) {
  const std::string dir = makeProfile();
  ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
  aloneWithTheBrowser();
  FakeBrowser browser(m_dir.path());
  ASSERT_TRUE(browser.started());

  // Reading the settings leaves the browser and the file as they are.
  CProxy p;
  p.setBrowser(CProxy::BROWSER_NETSCAPE);
  EXPECT_EQ(1, p.getBrowserProxies());
  EXPECT_EQ("ftp=ftp.proxy.example:2121;http=proxy.example:3128", Sorted(p.proxyText()));
  EXPECT_EQ(1, p.getEnabled());
  EXPECT_EQ(0, p.getAutoDetect());
  EXPECT_STREQ("localhost;127.0.0.1", p.getExceptions());
  EXPECT_EQ(BrowserPrefs(), ReadFile(dir + "/prefs.js"));
  EXPECT_FALSE(browser.endedByOtherWithin(std::chrono::milliseconds(300)));

  // Writing them ends it first, so that it cannot write its file over ours.
  p.setProxyForProtocol("gw:1", "http");
  EXPECT_EQ(1, p.setBrowserProxies());
  EXPECT_TRUE(browser.endedByOtherWithin(std::chrono::seconds(5)));
}

}  // namespace
