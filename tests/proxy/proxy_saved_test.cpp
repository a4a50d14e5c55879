// Saved copies in the registry and in INI files, the restore, and the
// switch-over to a template and back, for both browser kinds.

#include "proxy/proxy_fixture.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace sundry::test;
using Peer = CProxyTestPeer;

using ProxySavedTest = ProxyTest;
using ProxySwitchTest = ProxyTest;

const std::string kUserRecord = MakeRecord(7, 3, "proxy.home:3128", "*.home;<local>");
const std::string kAny = MakeRecord(1, 3, "http=isp:8080;https=isp:8443", "*.isp;mail");
const std::string kNone = MakeRecord(1, 1, "", "<local>");
const std::string kWork = MakeRecord(1, 3, "gw.work:3128", "*.work");

TEST_F(ProxySavedTest, TheSavedCopyGoesUnderTheConnectionUnlessNamedOtherwise) {
  CProxy p;  // the connection named after the location
  p.setSaveRegistryName(HKEY_CURRENT_USER, kSaveKey, "");
  p.setConnectoid("Work");
  p.setProxyForProtocol("h:1", "http");
  ASSERT_EQ(1, p.saveToRegistry());
  EXPECT_EQ(MakeRecord(1, 1, "http=h:1"), savedCopy("Work"));
  CProxy q;
  q.setConnectoid("Work");
  q.setSaveRegistryName(HKEY_CURRENT_USER, kSaveKey, nullptr);
  ASSERT_EQ(1, q.loadSavedProxies());
  EXPECT_STREQ("http=h:1", q.proxyText());
  EXPECT_EQ(1u, q.getUpdateCount());

  // Under another name the save goes there, while the restore and the
  // removal still address the connection's own value.
  p.setSaveRegistryName(HKEY_CURRENT_USER, kSaveKey, "Backup");
  p.setBrowser(CProxy::BROWSER_IE);
  ASSERT_EQ(1, p.saveToRegistry());
  EXPECT_TRUE(hasValue(kSaveKey, "Backup"));
  ASSERT_EQ(1, p.removeFromRegistry());
  EXPECT_FALSE(hasValue(kSaveKey, "Work"));
  EXPECT_TRUE(hasValue(kSaveKey, "Backup"));
  EXPECT_EQ(0, p.removeFromRegistry());
}

TEST_F(ProxySavedTest, IniCopiesKeepTheRecordAsHexTextInTheKeysSection) {
  CProxy p;
  p.setConnectoid("Work");
  p.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\Sundry\\Saved", "Work");
  CString ini = m_dir.file("saved.ini").c_str();
  ASSERT_EQ(1, p.saveToINIFile(ini));
  std::string hex = "hex:3C,00,00,00,01,00,00,00,01,00,00,00,";
  for (int i = 12; i < 48; ++i) hex += "00,";
  EXPECT_EQ("[HKEY_CURRENT_USER\\Software\\Sundry\\Saved]\r\nWork=" + hex + "\r\n", ReadFile(ini.GetString()));

  // Everything comes back, the header words as built.
  CProxy full;
  full.setSaveRegistryName(HKEY_LOCAL_MACHINE, "Software\\Sundry\\Saved", "Work");
  full.enable(1);
  full.autoDetect(1);
  full.scriptEnable(1);
  full.bypassForLocal(1);
  full.setScript("http://w/p.pac");
  full.setExceptions("a;b");
  full.setProxyForProtocol("h:8080", "http");
  full.setProxyForProtocol("f:21", "ftp");
  ASSERT_EQ(1, full.saveToINIFile(ini));
  CProxy back;
  back.setSaveRegistryName(HKEY_LOCAL_MACHINE, "Software\\Sundry\\Saved", "Work");
  ASSERT_EQ(1, back.loadSavedProxies(ini));
  EXPECT_EQ("enabled=1 auto=1 bypass=1 script=1 version=60 count=1 flags=15 socks=5 url=[http://w/p.pac] "
            "exceptions=[a;b;] protocols=[ftp=f:21;http=h:8080] record=0",
            Describe(back));
  // A missing entry reads as "00", which is no record: nothing changes.
  CProxy missing;
  missing.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\Sundry\\Saved", "Home");
  missing.setProxyForProtocol("keep:1", "http");
  const std::string before = Describe(missing);
  EXPECT_EQ(0, missing.loadSavedProxies(ini));
  EXPECT_EQ(before, Describe(missing));
  // The other section is still there; a root other than the two known ones
  // gives a section of the key alone.
  CProxy cu;
  cu.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\Sundry\\Saved", "Work");
  EXPECT_EQ(1, cu.loadSavedProxies(ini));
  CString roots = m_dir.file("roots.ini").c_str();
  cu.setSaveRegistryName(HKEY_USERS, "Key", "V");
  ASSERT_EQ(1, cu.saveToINIFile(roots));
  EXPECT_EQ(0u, ReadFile(roots.GetString()).find("[Key]\r\nV=hex:"));
}

TEST_F(ProxySavedTest, ARecordTooLongForTheIniTextIsNotSaved) {
  CString ini = m_dir.file("long.ini").c_str();
  CProxy p;
  p.setSaveRegistryName(HKEY_CURRENT_USER, "S", "V");
  Peer::setRawExceptions(p, std::string(1000, 'e').c_str());
  p.setScript(std::string(500, 's').c_str());
  p.setProxyForAll(std::string(150, 'h').c_str(), 1);  // 48 + 152 + 1000 + 500 = 1700 bytes: fits
  ASSERT_EQ(1, p.saveToINIFile(ini));
  CProxy back;
  back.setSaveRegistryName(HKEY_CURRENT_USER, "S", "V");
  EXPECT_EQ(1, back.loadSavedProxies(ini));
  EXPECT_EQ(1000, back.getExceptions().GetLength());

  p.setProxyForAll(std::string(160, 'h').c_str(), 1);  // 1710 bytes: would be cut when read
  const std::string file = ReadFile(ini.GetString());
  EXPECT_EQ(0, p.saveToINIFile(ini));
  EXPECT_EQ(file, ReadFile(ini.GetString()));
}

TEST_F(ProxySavedTest, BrowserToSavedCopyToBrowserThroughRegistryAndIni) {
  setBinary(kConnectionsKey, "Work", kUserRecord);
  CString ini = m_dir.file("copy.ini").c_str();
  {
    CProxy p;
    setUp(p, "Work", CProxy::BROWSER_IE);
    ASSERT_EQ(1, p.getBrowserProxies());
    ASSERT_EQ(1, p.saveToRegistry());
    ASSERT_EQ(1, p.saveToINIFile(ini));
  }
  for (int viaIni = 0; viaIni < 2; ++viaIni) {
    setBinary(kConnectionsKey, "Work", kWork);
    CProxy q;
    setUp(q, "Work", CProxy::BROWSER_IE);
    ASSERT_EQ(1, viaIni ? q.loadSavedProxies(ini) : q.loadSavedProxies());
    ASSERT_EQ(1, q.setBrowserProxies());
    // The browser has its settings back; only the counter moved on.
    std::string now = browserRecord("Work");
    EXPECT_EQ(8u + 1 + viaIni, RecordWord(now, 4)) << viaIni;
    now.replace(4, 4, kUserRecord.substr(4, 4));
    EXPECT_EQ(kUserRecord, now) << viaIni;
  }
}

TEST_F(ProxySavedTest, UseBrowserProxiesSwitchesOnlyWhatDiffers) {
  setBinary(kConnectionsKey, "Work", kUserRecord);
  CProxy p;
  setUp(p, "Work", CProxy::BROWSER_IE);
  EXPECT_EQ(0, p.useBrowserProxies(1));  // already on
  EXPECT_EQ(kUserRecord, browserRecord("Work"));
  EXPECT_EQ(1, p.useBrowserProxies(0));
  EXPECT_EQ(1u, RecordWord(browserRecord("Work"), 8));
  EXPECT_EQ(1, p.useBrowserProxies(1));
  EXPECT_EQ(3u, RecordWord(browserRecord("Work"), 8));
  // A connection without a record is not given one.
  CProxy none;
  setUp(none, "Nowhere", CProxy::BROWSER_IE);
  EXPECT_EQ(0, none.useBrowserProxies(1));
  EXPECT_EQ("", browserRecord("Nowhere"));
}

TEST_F(ProxySavedTest, RestoringAnEmptySavedCopyRemovesTheBrowsersRecord) {
  setBinary(kConnectionsKey, "Work", kWork);
  setBinary(kSaveKey, "Work", "");
  CProxy p;
  setUp(p, "Work", CProxy::BROWSER_IE);
  EXPECT_EQ(1, p.savedSettingsToBrowser());
  EXPECT_FALSE(hasValue(kConnectionsKey, "Work"));
  EXPECT_FALSE(hasValue(kSaveKey, "Work"));
  // Nothing saved any more: a second restore fails.
  EXPECT_EQ(0, p.savedSettingsToBrowser());
}

// Each switch-over is undone byte for byte by the restore. While switched
// over, the browser has the template's record as it is, or "ANY"'s proxies
// with the browser's exceptions kept and "NONE"'s local bypass.
TEST_F(ProxySwitchTest, InternetExplorerSwitchOversAreUndoneByteForByte) {
  setBinary(kTemplateKey, "Work", kWork);
  setBinary(kTemplateKey, "ANY", kAny);
  setBinary(kTemplateKey, "NONE", kNone);
  setBinary(kConnectionsKey, "Work", kUserRecord);
  setBinary(kConnectionsKey, "DefaultConnectionSettings", kUserRecord);
  const struct {
    const char *connection, *value;
    int keep;  // KeepExceptions; -1: missing
    std::string exact, exceptions, before;
  } cases[] = {
      // No record: one is made from "NONE", and that is the saved copy.
      {"Dial-up", "Dial-up", -1, "", "*.isp;mail", kNone},
      {"Work", "Work", 1, kWork, "", kUserRecord},  // the connection's own template
      {"_LAN_", "DefaultConnectionSettings", 1, "", "*.isp;mail;*.home;", kUserRecord},
      {"_LAN_", "DefaultConnectionSettings", 0, kAny, "", kUserRecord},
  };
  for (const auto& c : cases) {
    if (c.keep >= 0) setNumber(kTemplateKey, "KeepExceptions", static_cast<DWORD>(c.keep));
    CProxy p;
    setUp(p, c.connection, CProxy::BROWSER_IE);
    ASSERT_EQ(1, p.replaceBrowserWithHOLM()) << c.connection;
    EXPECT_EQ(c.before, savedCopy(c.value)) << c.connection;
    if (c.keep < 0) {  // KeepExceptions was missing: made with 1
      DWORD type = 0;
      std::string keep;
      ASSERT_WIN32(ERROR_SUCCESS, queryRaw(kTemplateKey, "KeepExceptions", &type, &keep));
      EXPECT_EQ(REG_DWORD, type);
      EXPECT_EQ(std::string("\1\0\0\0", 4), keep);
    }
    if (!c.exact.empty()) {
      EXPECT_EQ(c.exact, browserRecord(c.value)) << c.connection;
    } else {
      CProxy now;
      ASSERT_EQ(1, Peer::parse(now, browserRecord(c.value)));
      EXPECT_EQ("http=isp:8080;https=isp:8443", Sorted(now.proxyText())) << c.connection;
      EXPECT_STREQ(c.exceptions.c_str(), now.getExceptions()) << c.connection;
      EXPECT_EQ(1, now.getBypassLocal()) << c.connection;
    }
    // A second switch-over keeps the first saved copy.
    CProxy again;
    setUp(again, c.connection, CProxy::BROWSER_IE);
    ASSERT_EQ(1, again.replaceBrowserWithHOLM()) << c.connection;
    EXPECT_EQ(c.before, savedCopy(c.value)) << c.connection;
    CProxy r;
    setUp(r, c.connection, CProxy::BROWSER_IE);
    ASSERT_EQ(1, r.savedSettingsToBrowser());
    EXPECT_EQ(c.before, browserRecord(c.value)) << c.connection;
    EXPECT_EQ("(none)", savedCopy(c.value)) << c.connection;
  }
}

TEST_F(ProxySwitchTest, AFailedSwitchOverLeavesTheBrowser) {
  setBinary(kConnectionsKey, "Work", kUserRecord);
  {
    // No template location at all.
    CProxy p;
    p.setConnectoid("Work");
    p.setBrowser(CProxy::BROWSER_IE);
    EXPECT_EQ(0, p.replaceBrowserWithHOLM());
  }
  CProxy p;
  setUp(p, "Work", CProxy::BROWSER_IE);
  EXPECT_EQ(0, p.replaceBrowserWithHOLM());  // neither "Work" nor "ANY"
  setBinary(kTemplateKey, "ANY", kAny);
  EXPECT_EQ(0, p.replaceBrowserWithHOLM());  // "ANY" without "NONE"
  EXPECT_EQ(kUserRecord, browserRecord("Work"));
  EXPECT_EQ("(none)", savedCopy("Work"));

  // A saved-copy location the registry refuses: the browser keeps its record.
  setBinary(kTemplateKey, "NONE", kNone);
  p.setSaveRegistryName(HKEY_PERFORMANCE_DATA, kSaveKey, nullptr);
  EXPECT_EQ(0, p.replaceBrowserWithHOLM());
  EXPECT_EQ(kUserRecord, browserRecord("Work"));
  // ... and a record just made empty from an empty "NONE" is taken away.
  setBinary(kTemplateKey, "NONE", "");
  CProxy q;
  setUp(q, "Fresh", CProxy::BROWSER_IE);
  q.setSaveRegistryName(HKEY_PERFORMANCE_DATA, kSaveKey, nullptr);
  EXPECT_EQ(0, q.replaceBrowserWithHOLM());
  EXPECT_FALSE(hasValue(kConnectionsKey, "Fresh"));
}

TEST_F(ProxySwitchTest, AFailedSwitchOverLeavesNoSavedCopyForTheNextOne) {
  // The connection's own template and no browser record: the record made
  // empty cannot be saved, and the switch-over fails.
  setBinary(kTemplateKey, "Work", kWork);
  {
    CProxy p;
    setUp(p, "Work", CProxy::BROWSER_IE);
    EXPECT_EQ(0, p.replaceBrowserWithHOLM());
  }
  EXPECT_FALSE(hasValue(kConnectionsKey, "Work"));
  EXPECT_FALSE(hasValue(kSaveKey, "Work"));
  // The user's own settings come later; a switch-over and the restore give
  // them back.
  setBinary(kConnectionsKey, "Work", kUserRecord);
  CProxy p;
  setUp(p, "Work", CProxy::BROWSER_IE);
  ASSERT_EQ(1, p.replaceBrowserWithHOLM());
  EXPECT_EQ(kUserRecord, savedCopy("Work"));
  CProxy r;
  setUp(r, "Work", CProxy::BROWSER_IE);
  ASSERT_EQ(1, r.savedSettingsToBrowser());
  EXPECT_EQ(kUserRecord, browserRecord("Work"));

  // A template found unreadable after the copy was made: the copy goes
  // again; a copy that was there before stays.
  setBinary(kTemplateKey, "ANY", MakeRecord(1, 3, "x").substr(0, 20));
  setBinary(kTemplateKey, "NONE", kNone);
  setNumber(kTemplateKey, "KeepExceptions", 1);
  setBinary(kConnectionsKey, "Other", kUserRecord);
  for (bool before : {false, true}) {
    if (before) setBinary(kSaveKey, "Other", kAny);
    CProxy q;
    setUp(q, "Other", CProxy::BROWSER_IE);
    EXPECT_EQ(0, q.replaceBrowserWithHOLM()) << before;
    EXPECT_EQ(before ? kAny : "(none)", savedCopy("Other")) << before;
    EXPECT_EQ(kUserRecord, browserRecord("Other")) << before;
  }
}

TEST_F(ProxySwitchTest, MozillaSettingsThatCannotBeReadAreNeverSaved) {
  setBinary(kTemplateKey, "Work", kWork);
  {
    CProxy p;  // no profile at all
    setUp(p, "Work", CProxy::BROWSER_NETSCAPE);
    EXPECT_EQ(0, p.replaceBrowserWithHOLM());
    EXPECT_EQ("(none)", savedCopy("Work"));
  }
  const std::string dir = makeProfile();
  // prefs.js a directory.
  std::filesystem::create_directory(dir + "/prefs.js");
  {
    CProxy p;
    setUp(p, "Work", CProxy::BROWSER_NETSCAPE);
    EXPECT_EQ(0, p.replaceBrowserWithHOLM());
    EXPECT_EQ("(none)", savedCopy("Work"));
  }
  std::filesystem::remove_all(dir + "/prefs.js");
  ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
  // Readable again: the next switch-over saves the real settings, and the
  // restore gives them back.
  CProxy p;
  setUp(p, "Work", CProxy::BROWSER_NETSCAPE);
  ASSERT_EQ(1, p.replaceBrowserWithHOLM());
  CProxy r;
  setUp(r, "Work", CProxy::BROWSER_NETSCAPE);
  ASSERT_EQ(1, r.savedSettingsToBrowser());
  EXPECT_EQ(BrowserPrefs(), ReadFile(dir + "/prefs.js"));
}

TEST_F(ProxySwitchTest, MozillaRoundTripOfABrowserWrittenFileIsByteForByte) {
  const std::string dir = makeProfile();
  const std::string prefs = dir + "/prefs.js";
  ASSERT_TRUE(WriteFile(prefs, BrowserPrefsWithOtherProxyLines()));
  ASSERT_TRUE(SetFileMode(prefs, 0600));
  setBinary(kTemplateKey, "Work", kWork);
  setBinary(kTemplateKey, "ANY", kAny);
  setBinary(kTemplateKey, "NONE", kNone);
  setNumber(kTemplateKey, "KeepExceptions", 1);
  // The connection's own template (one proxy for all), and "ANY" with the
  // browser's exceptions kept after the template's.
  const std::pair<const char*, std::vector<const char*>> cases[] = {
      {"Work", {"\"network.proxy.ftp\", \"gw.work\");\n", "\"network.proxy.ssl_port\", 3128);\n",
                "\"network.proxy.no_proxies_on\", \"*.work\");\n"}},
      {"Dial-up", {"\"network.proxy.http\", \"isp\");\nuser_pref(\"network.proxy.http_port\", 8080);\n",
                   "\"network.proxy.ssl\", \"isp\");\nuser_pref(\"network.proxy.ssl_port\", 8443);\n",
                   "\"network.proxy.no_proxies_on\", \"*.isp,mail,localhost,"}}};
  for (const auto& [connection, lines] : cases) {
    for (int i = 0; i < 2; ++i) {  // the second switch-over keeps the first copy
      CProxy p;
      setUp(p, connection, CProxy::BROWSER_NETSCAPE);
      ASSERT_EQ(1, p.replaceBrowserWithHOLM()) << connection;
    }
    std::vector<const char*> expected = lines;
    for (const char* kept : {"\"network.proxy.backup.ssl\", \"secure.example\");\n",
                             "\"network.proxy.share_proxy_settings\", true);\n", "\"network.proxy.socks_remote_dns\", true);\n"})
      expected.push_back(kept);
    const std::string during = ReadFile(prefs);
    for (const char* line : expected) EXPECT_NE(std::string::npos, during.find(line)) << connection << " " << line;
    EXPECT_EQ(std::string::npos, during.find("backup.ssl_port")) << connection;
    EXPECT_TRUE(HasFileMode(prefs, 0600)) << connection;

    CProxy r;
    setUp(r, connection, CProxy::BROWSER_NETSCAPE);
    ASSERT_EQ(1, r.savedSettingsToBrowser()) << connection;
    EXPECT_EQ(BrowserPrefsWithOtherProxyLines(), ReadFile(prefs)) << connection;
    EXPECT_TRUE(HasFileMode(prefs, 0600)) << connection;
    EXPECT_TRUE(HasFileMode(dir + "/prefs.scm.bak", 0600)) << connection;
    EXPECT_FALSE(std::filesystem::exists(dir + "/prefs.scm")) << connection;
    EXPECT_EQ("(none)", savedCopy(connection)) << connection;
  }
}

TEST_F(ProxySwitchTest, ADamagedSavedCopyIsNotWrittenToPrefsJs) {
  const std::string dir = makeProfile();
  ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
  const std::string damaged = MakeRecord(1, 3, "http=x:1").substr(0, 20);
  setBinary(kSaveKey, "Work", damaged);
  CProxy r;
  setUp(r, "Work", CProxy::BROWSER_NETSCAPE);
  EXPECT_EQ(0, r.savedSettingsToBrowser());
  EXPECT_EQ(BrowserPrefs(), ReadFile(dir + "/prefs.js"));
  EXPECT_EQ(damaged, savedCopy("Work"));
}

}  // namespace
