// Saved copies in the registry and in INI files, the restore, and the
// switch-over to a template and back, for both browser kinds.

#include "proxy/proxy_fixture.h"

#include <sundry/platform/file.h>
#include <sundry/platform/fileops.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace {

using sundry::test::BrowserPrefs;
using sundry::test::BrowserPrefsWithOtherProxyLines;
using sundry::test::Describe;
using sundry::test::Entries;
using sundry::test::FileMode;
using sundry::test::kConnectionsKey;
using sundry::test::kSaveKey;
using sundry::test::kTemplateKey;
using sundry::test::MakeRecord;
using sundry::test::ProxyTest;
using sundry::test::ReadFile;
using sundry::test::RecordWord;
using sundry::test::WriteFile;
using Peer = CProxyTestPeer;

using ProxySavedTest = ProxyTest;
using ProxySwitchTest = ProxyTest;

const std::string kUserRecord = MakeRecord(7, 3, "proxy.home:3128", "*.home;<local>");
const std::string kAny = MakeRecord(1, 3, "http=isp:8080;https=isp:8443", "*.isp;mail");
const std::string kNone = MakeRecord(1, 1, "", "<local>");
const std::string kWork = MakeRecord(1, 3, "gw.work:3128", "*.work");

// A CProxy for the connection with the test's template and saved-copy
// locations.
void setUp(CProxy& p, const char* connection, CProxy::eBROWSER kind) {
  p.setConnectoid(connection);
  p.setGetRegistryName(HKEY_CURRENT_USER, kTemplateKey);
  p.setSaveRegistryName(HKEY_CURRENT_USER, kSaveKey, nullptr);
  p.setBrowser(kind);
}

TEST_F(ProxySavedTest, TheSavedCopyGoesUnderTheConnectionUnlessNamedOtherwise) {
  CProxy p;
  p.setConnectoid("Work");
  p.setSaveRegistryName(HKEY_CURRENT_USER, kSaveKey, "");
  p.setProxyForProtocol("h:1", "http");
  ASSERT_EQ(1, p.saveToRegistry());
  EXPECT_STREQ("Work", Peer::saveValue(p));
  EXPECT_EQ(MakeRecord(1, 1, "http=h:1"), savedCopy("Work"));
  CProxy q;
  q.setConnectoid("Work");
  q.setSaveRegistryName(HKEY_CURRENT_USER, kSaveKey, nullptr);
  ASSERT_EQ(1, q.loadSavedProxies());
  EXPECT_EQ("http=h:1", Entries(q));
  EXPECT_EQ(1u, q.getUpdateCount());

  // Under another name the save goes there, while the restore and the
  // removal still address the connection's own value.
  CProxy b;
  b.setConnectoid("Work");
  b.setSaveRegistryName(HKEY_CURRENT_USER, kSaveKey, "Backup");
  b.setBrowser(CProxy::BROWSER_IE);
  ASSERT_EQ(1, b.saveToRegistry());
  EXPECT_TRUE(hasValue(kSaveKey, "Backup"));
  ASSERT_EQ(1, b.removeFromRegistry());
  EXPECT_FALSE(hasValue(kSaveKey, "Work"));
  EXPECT_TRUE(hasValue(kSaveKey, "Backup"));
  EXPECT_EQ(0, b.removeFromRegistry());
}

TEST_F(ProxySavedTest, IniCopiesKeepTheRecordAsHexText) {
  CProxy p;
  p.setConnectoid("Work");
  p.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\Sundry\\Saved", "Work");
  CString ini = m_dir.file("saved.ini").c_str();
  ASSERT_EQ(1, p.saveToINIFile(ini));
  std::string hex = "hex:3C,00,00,00,01,00,00,00,01,00,00,00,";
  for (int i = 12; i < 48; ++i) hex += "00,";
  EXPECT_EQ(4u + 3 * 48, hex.size());
  EXPECT_EQ("[HKEY_CURRENT_USER\\Software\\Sundry\\Saved]\r\nWork=" + hex + "\r\n", ReadFile(ini.GetString()));

  // Everything comes back, the header words as built.
  CProxy full;
  full.setConnectoid("Work");
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
  EXPECT_EQ(1, back.getEnabled());
  EXPECT_EQ(1, back.getAutoDetect());
  EXPECT_EQ(1, back.getScriptEnabled());
  EXPECT_EQ(1, back.getBypassLocal());
  EXPECT_STREQ("http://w/p.pac", back.getScript());
  EXPECT_STREQ("a;b;", back.getExceptions());
  EXPECT_EQ("ftp=f:21 http=h:8080", Entries(back));
  EXPECT_EQ(60u, back.getVersion());
  EXPECT_EQ(1u, back.getUpdateCount());
  // A missing entry reads as "00", which is no record: nothing changes.
  CProxy missing;
  missing.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\Sundry\\Saved", "Home");
  missing.setProxyForProtocol("keep:1", "http");
  const std::string before = Describe(missing);
  EXPECT_EQ(0, missing.loadSavedProxies(ini));
  EXPECT_EQ(before, Describe(missing));
  // The other section is still there.
  CProxy cu;
  cu.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\Sundry\\Saved", "Work");
  EXPECT_EQ(1, cu.loadSavedProxies(ini));
}

TEST_F(ProxySavedTest, IniSectionsNameOnlyTheTwoKnownRoots) {
  CString ini = m_dir.file("roots.ini").c_str();
  CProxy p;
  p.setSaveRegistryName(HKEY_USERS, "Key", "V");
  ASSERT_EQ(1, p.saveToINIFile(ini));
  EXPECT_EQ(0u, ReadFile(ini.GetString()).find("[Key]\r\nV=hex:"));
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

TEST_F(ProxySwitchTest, AConnectionsOwnTemplateIsWrittenAsItIsAndUndoneByteForByte) {
  setBinary(kConnectionsKey, "Work", kUserRecord);
  setBinary(kTemplateKey, "Work", kWork);
  setBinary(kTemplateKey, "ANY", kAny);
  setNumber(kTemplateKey, "KeepExceptions", 1);
  CProxy p;
  setUp(p, "Work", CProxy::BROWSER_IE);
  ASSERT_EQ(1, p.replaceBrowserWithHOLM());
  EXPECT_EQ(kWork, browserRecord("Work"));
  EXPECT_EQ(kUserRecord, savedCopy("Work"));

  CProxy r;
  setUp(r, "Work", CProxy::BROWSER_IE);
  ASSERT_EQ(1, r.savedSettingsToBrowser());
  EXPECT_EQ(kUserRecord, browserRecord("Work"));
  EXPECT_EQ("(none)", savedCopy("Work"));
}

TEST_F(ProxySwitchTest, AConnectionWithoutARecordGetsOneFromNoneAndTheAnySettings) {
  setBinary(kTemplateKey, "ANY", kAny);
  setBinary(kTemplateKey, "NONE", kNone);
  CProxy p;
  setUp(p, "Dial-up", CProxy::BROWSER_IE);
  ASSERT_EQ(1, p.replaceBrowserWithHOLM());
  // KeepExceptions was missing: made with 1.
  DWORD type = 0;
  std::string keep;
  ASSERT_WIN32(ERROR_SUCCESS, queryRaw(kTemplateKey, "KeepExceptions", &type, &keep));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ(std::string("\1\0\0\0", 4), keep);
  // The record made from "NONE" is the saved copy.
  EXPECT_EQ(kNone, savedCopy("Dial-up"));
  // The browser has the "ANY" proxies with "NONE"'s local bypass merged in.
  CProxy now;
  ASSERT_EQ(1, Peer::parse(now, browserRecord("Dial-up")));
  EXPECT_EQ("http=isp:8080 https=isp:8443", Entries(now));
  EXPECT_EQ(1, now.getBypassLocal());
  EXPECT_STREQ("*.isp;mail", now.getExceptions());

  CProxy r;
  setUp(r, "Dial-up", CProxy::BROWSER_IE);
  ASSERT_EQ(1, r.savedSettingsToBrowser());
  EXPECT_EQ(kNone, browserRecord("Dial-up"));
  EXPECT_EQ("(none)", savedCopy("Dial-up"));
}

TEST_F(ProxySwitchTest, KeepExceptionsMergesTheBrowsersExceptions) {
  setBinary(kConnectionsKey, "DefaultConnectionSettings", kUserRecord);
  setBinary(kTemplateKey, "ANY", kAny);
  setBinary(kTemplateKey, "NONE", kNone);
  for (DWORD keep : {1u, 0u}) {
    setNumber(kTemplateKey, "KeepExceptions", keep);
    CProxy p;
    setUp(p, "_LAN_", CProxy::BROWSER_IE);
    ASSERT_EQ(1, p.replaceBrowserWithHOLM());
    if (keep) {
      CProxy now;
      ASSERT_EQ(1, Peer::parse(now, browserRecord("DefaultConnectionSettings")));
      EXPECT_STREQ("*.isp;mail;*.home;", now.getExceptions());
      EXPECT_EQ(1, now.getBypassLocal());
      EXPECT_EQ("http=isp:8080 https=isp:8443", Entries(now));
    } else {
      EXPECT_EQ(kAny, browserRecord("DefaultConnectionSettings"));
    }
    CProxy r;
    setUp(r, "_LAN_", CProxy::BROWSER_IE);
    ASSERT_EQ(1, r.savedSettingsToBrowser());
    EXPECT_EQ(kUserRecord, browserRecord("DefaultConnectionSettings")) << keep;
  }
}

TEST_F(ProxySwitchTest, ASecondSwitchOverKeepsTheFirstSavedCopy) {
  setBinary(kConnectionsKey, "Work", kUserRecord);
  setBinary(kTemplateKey, "ANY", kAny);
  setBinary(kTemplateKey, "NONE", kNone);
  for (int i = 0; i < 2; ++i) {
    CProxy p;
    setUp(p, "Work", CProxy::BROWSER_IE);
    ASSERT_EQ(1, p.replaceBrowserWithHOLM()) << i;
    EXPECT_EQ(kUserRecord, savedCopy("Work")) << i;
  }
  CProxy r;
  setUp(r, "Work", CProxy::BROWSER_IE);
  ASSERT_EQ(1, r.savedSettingsToBrowser());
  EXPECT_EQ(kUserRecord, browserRecord("Work"));
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

// Fails the first open of a file with "access denied".
DWORD denyFirstOpen(sundry::platform::FileOperation op, void* context) {
  auto* left = static_cast<int*>(context);
  return op == sundry::platform::FileOperation::Open && (*left)-- == 1 ? static_cast<DWORD>(ERROR_ACCESS_DENIED) : 0u;
}
// Fails every write.
DWORD failWrites(sundry::platform::FileOperation op, void*) {
  return op == sundry::platform::FileOperation::Write ? static_cast<DWORD>(ERROR_DISK_FULL) : 0u;
}

TEST_F(ProxySwitchTest, MozillaSettingsThatCannotBeReadAreNeverSaved) {
  const std::string dir = makeProfile();
  setBinary(kTemplateKey, "Work", kWork);
  // prefs.js a directory; prefs.js that may not be opened; a new file that
  // cannot be written (the copy was made by then).
  for (int fault = 0; fault < 3; ++fault) {
    std::filesystem::remove_all(dir + "/prefs.js");
    if (fault == 0) {
      std::filesystem::create_directory(dir + "/prefs.js");
    } else {
      ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
    }
    CProxy p;
    setUp(p, "Work", CProxy::BROWSER_NETSCAPE);
    int left = 1;
    if (fault == 1) sundry::platform::SetFileFaultHook(denyFirstOpen, &left);
    if (fault == 2) sundry::platform::SetFileFaultHook(failWrites, nullptr);
    const BOOL result = p.replaceBrowserWithHOLM();
    sundry::platform::SetFileFaultHook(nullptr, nullptr);
    EXPECT_EQ(0, result) << fault;
    EXPECT_EQ("(none)", savedCopy("Work")) << fault;
    if (fault != 0) {
      EXPECT_EQ(BrowserPrefs(), ReadFile(dir + "/prefs.js")) << fault;
    }
  }
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

// The sample profile's prefs.js in the form the library writes.
const char kNormalPrefs[] =
    "# Mozilla User Preferences\n"
    "user_pref(\"browser.startup.homepage\", \"http://www.example.com/\");\n"
    "user_pref(\"network.proxy.type\",1);\n"
    "user_pref(\"network.proxy.no_proxies_on\",\"localhost,.home,\");\n"
    "user_pref(\"network.proxy.http\",\"proxy.home\");\n"
    "user_pref(\"network.proxy.http_port\",3128);\n";

TEST_F(ProxySwitchTest, MozillaSwitchOverAndRestoreGiveBackPrefsJs) {
  const std::string dir = makeProfile();
  ASSERT_TRUE(WriteFile(dir + "/prefs.js", kNormalPrefs));
  setBinary(kTemplateKey, "ANY", kAny);
  setBinary(kTemplateKey, "NONE", kNone);
  setNumber(kTemplateKey, "KeepExceptions", 1);
  CProxy p;
  setUp(p, "_LAN_", CProxy::BROWSER_NETSCAPE);
  ASSERT_EQ(1, p.replaceBrowserWithHOLM());
  EXPECT_EQ(
      "# Mozilla User Preferences\n"
      "user_pref(\"browser.startup.homepage\", \"http://www.example.com/\");\n"
      "user_pref(\"network.proxy.type\",1);\n"
      "user_pref(\"network.proxy.no_proxies_on\",\"*.isp,mail,localhost,.home,\");\n"
      "user_pref(\"network.proxy.http\",\"isp\");\n"
      "user_pref(\"network.proxy.http_port\",8080);\n"
      "user_pref(\"network.proxy.ssl\",\"isp\");\n"
      "user_pref(\"network.proxy.ssl_port\",8443);\n",
      ReadFile(dir + "/prefs.js"));
  EXPECT_NE("(none)", savedCopy("DefaultConnectionSettings"));

  CProxy r;
  setUp(r, "_LAN_", CProxy::BROWSER_NETSCAPE);
  ASSERT_EQ(1, r.savedSettingsToBrowser());
  EXPECT_EQ(kNormalPrefs, ReadFile(dir + "/prefs.js"));
  EXPECT_EQ("(none)", savedCopy("DefaultConnectionSettings"));
}

TEST_F(ProxySwitchTest, MozillaRoundTripOfABrowserWrittenFileIsByteForByte) {
  const std::string dir = makeProfile();
  const std::string prefs = dir + "/prefs.js";
  ASSERT_TRUE(WriteFile(prefs, BrowserPrefsWithOtherProxyLines()));
  ASSERT_EQ(0, ::chmod(prefs.c_str(), 0600));
  setBinary(kTemplateKey, "Work", kWork);
  setBinary(kTemplateKey, "ANY", kAny);
  setBinary(kTemplateKey, "NONE", kNone);
  setNumber(kTemplateKey, "KeepExceptions", 1);
  // The connection's own template, and "ANY" with the exceptions kept.
  for (const char* connection : {"Work", "Dial-up"}) {
    for (int i = 0; i < 2; ++i) {  // the second switch-over keeps the first copy
      CProxy p;
      setUp(p, connection, CProxy::BROWSER_NETSCAPE);
      ASSERT_EQ(1, p.replaceBrowserWithHOLM()) << connection;
    }
    const std::string during = ReadFile(prefs);
    EXPECT_NE(BrowserPrefsWithOtherProxyLines(), during) << connection;
    for (const char* kept : {"user_pref(\"network.proxy.backup.ssl\", \"secure.example\");\n",
                             "user_pref(\"network.proxy.share_proxy_settings\", true);\n",
                             "user_pref(\"network.proxy.socks_remote_dns\", true);\n"})
      EXPECT_NE(std::string::npos, during.find(kept)) << connection << " " << kept;
    EXPECT_EQ(std::string::npos, during.find("backup.ssl_port")) << connection;
    EXPECT_EQ(0600u, FileMode(prefs)) << connection;

    CProxy r;
    setUp(r, connection, CProxy::BROWSER_NETSCAPE);
    ASSERT_EQ(1, r.savedSettingsToBrowser()) << connection;
    EXPECT_EQ(BrowserPrefsWithOtherProxyLines(), ReadFile(prefs)) << connection;
    EXPECT_EQ(0600u, FileMode(prefs)) << connection;
    EXPECT_EQ(0600u, FileMode(dir + "/prefs.scm.bak")) << connection;
    EXPECT_FALSE(std::filesystem::exists(dir + "/prefs.scm")) << connection;
    EXPECT_EQ("(none)", savedCopy(connection)) << connection;
  }
}

TEST_F(ProxySwitchTest, MozillaWithoutAProfileSavesNothing) {
  setBinary(kTemplateKey, "Work", kWork);
  CProxy p;
  setUp(p, "Work", CProxy::BROWSER_NETSCAPE);
  EXPECT_EQ(0, p.replaceBrowserWithHOLM());
  EXPECT_EQ("(none)", savedCopy("Work"));
}

TEST_F(ProxySwitchTest, ADamagedSavedCopyIsNotWrittenToPrefsJs) {
  const std::string dir = makeProfile();
  ASSERT_TRUE(WriteFile(dir + "/prefs.js", kNormalPrefs));
  const std::string damaged = MakeRecord(1, 3, "http=x:1").substr(0, 20);
  setBinary(kSaveKey, "Work", damaged);
  CProxy r;
  setUp(r, "Work", CProxy::BROWSER_NETSCAPE);
  EXPECT_EQ(0, r.savedSettingsToBrowser());
  EXPECT_EQ(kNormalPrefs, ReadFile(dir + "/prefs.js"));
  EXPECT_EQ(damaged, savedCopy("Work"));
}

}  // namespace
