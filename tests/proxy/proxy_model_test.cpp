// CProxy's model: connection names, protocol entries, the exceptions list,
// copying and clearing, and the proxy text.

#include "proxy/proxy_fixture.h"

#include <string>

namespace {

using sundry::test::Describe;
using sundry::test::Entries;

TEST(ProxyModel, ConnectionNamesMapTheLocalNetworkToDefaultConnectionSettings) {
  CProxy p;
  for (const char* lan : {"_LAN_", "_lan_", "_Lan_", "", static_cast<const char*>(nullptr)}) {
    p.setConnectoid("Work");
    p.setConnectoid(lan);
    EXPECT_STREQ("DefaultConnectionSettings", p.getConnectoid()) << (lan ? lan : "(null)");
  }
  p.setConnectoid("_LAN_x");
  EXPECT_STREQ("_LAN_x", p.getConnectoid());
}

TEST(ProxyModel, SaveValueNameFallsBackToTheConnectionKnownAtTheTime) {
  CProxy before;
  before.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\S", "");
  EXPECT_STREQ("", CProxyTestPeer::saveValue(before));
  before.setConnectoid("Work");
  EXPECT_STREQ("", CProxyTestPeer::saveValue(before));

  CProxy after;
  after.setConnectoid("Work");
  after.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\S", nullptr);
  EXPECT_STREQ("Work", CProxyTestPeer::saveValue(after));
  after.setSaveRegistryName(HKEY_CURRENT_USER, "Software\\S", "Backup");
  EXPECT_STREQ("Backup", CProxyTestPeer::saveValue(after));
}

TEST(ProxyModel, ProtocolEntriesStoreHostAndPort) {
  CProxy p;
  EXPECT_EQ(1, p.setProxyForProtocol("proxy:80", "http"));
  CString host = "untouched";
  DWORD port = 7;
  ASSERT_EQ(1, p.getProxyForProtocol(host, port, "http"));
  EXPECT_STREQ("proxy", host);
  EXPECT_EQ(80u, port);
  CString text;
  ASSERT_EQ(1, p.getProxyForProtocol(text, "http"));
  EXPECT_STREQ("proxy:80", text);

  // A second set replaces the entry's content; names are case-sensitive.
  EXPECT_EQ(1, p.setProxyForProtocol("other", 8080, "http"));
  EXPECT_EQ(1, p.setProxyForProtocol("upper:1", "HTTP"));
  EXPECT_EQ("HTTP=upper:1 http=other:8080", Entries(p));

  // An absent protocol leaves the outputs alone.
  host = "keep";
  port = 9;
  text = "keep";
  EXPECT_EQ(0, p.getProxyForProtocol(host, port, "gopher"));
  EXPECT_EQ(0, p.getProxyForProtocol(text, "gopher"));
  EXPECT_STREQ("keep", host);
  EXPECT_EQ(9u, port);
  EXPECT_STREQ("keep", text);
}

TEST(ProxyModel, AProxyWithoutColonStoresAnEmptyEntryAndFails) {
  CProxy p;
  EXPECT_EQ(0, p.setProxyForProtocol("proxy", "http"));
  CString text;
  ASSERT_EQ(1, p.getProxyForProtocol(text, "http"));
  EXPECT_STREQ(":0", text);
  // On an existing entry host and port stay as they were.
  ASSERT_EQ(1, p.setProxyForProtocol("a:1", "http"));
  EXPECT_EQ(0, p.setProxyForProtocol("b", "http"));
  ASSERT_EQ(1, p.getProxyForProtocol(text, "http"));
  EXPECT_STREQ("a:1", text);
}

TEST(ProxyModel, TheAllEntryStandsForEveryProtocol) {
  CProxy p;
  EXPECT_EQ(1, p.setProxyForAll("h", 81));
  CString host;
  DWORD port = 0;
  ASSERT_EQ(1, p.getProxyForAll(host, port));
  EXPECT_STREQ("h", host);
  EXPECT_EQ(81u, port);
  EXPECT_EQ("ALL=h:81", Entries(p));
  // In the proxy text it replaces every other entry, whatever their order.
  p.setProxyForProtocol("a:1", "http");
  p.setProxyForProtocol("z:2", "zzz");
  EXPECT_STREQ("h:81", CProxyTestPeer::proxyText(p));
  CProxy q;
  q.setProxyForProtocol("a:1", "AAA");
  q.setProxyForAll("g:3");
  EXPECT_STREQ("g:3", CProxyTestPeer::proxyText(q));
}

TEST(ProxyModel, ProxyTextJoinsEntriesInNameOrderWhateverTheInsertionOrder) {
  CProxy a, b;
  for (const char* name : {"http", "ftp", "https", "gopher", "socks"}) a.setProxyForProtocol("h:1", name);
  for (const char* name : {"socks", "gopher", "https", "ftp", "http"}) b.setProxyForProtocol("h:1", name);
  EXPECT_STREQ("ftp=h:1;gopher=h:1;http=h:1;https=h:1;socks=h:1", CProxyTestPeer::proxyText(a));
  EXPECT_STREQ(CProxyTestPeer::proxyText(a), CProxyTestPeer::proxyText(b));
  CProxy empty;
  EXPECT_STREQ("", CProxyTestPeer::proxyText(empty));
}

TEST(ProxyModel, ExceptionsMergeWithoutDuplicates) {
  CProxy p;
  p.setExceptions("a;c");
  EXPECT_STREQ("a;c;", p.getExceptions());
  p.setExceptions("b;a");
  EXPECT_STREQ("a;c;b;", p.getExceptions());
  p.setExceptions("");
  p.setExceptions(nullptr);
  EXPECT_STREQ("a;c;b;", p.getExceptions());
  // Case counts: A is another entry than a.
  p.setExceptions("A");
  EXPECT_STREQ("a;c;b;A;", p.getExceptions());

  CProxy q;
  q.setExceptions("x;;y;");
  EXPECT_STREQ("x;y;", q.getExceptions());
  q.setExceptions(";;");
  EXPECT_STREQ("x;y;", q.getExceptions());
}

// Fills every part of a model with something other than its initial value.
void fill(CProxy& p) {
  p.setConnectoid("Work");
  p.setSaveRegistryName(HKEY_LOCAL_MACHINE, "Software\\Saved", "Backup");
  p.setGetRegistryName(HKEY_CURRENT_USER, "Software\\Template");
  p.enable(1);
  p.autoDetect(1);
  p.bypassForLocal(1);
  p.scriptEnable(1);
  p.setScript("http://s/p.pac");
  p.setExceptions("a;b");
  p.setSocksVersion(4);
  p.setVersion(70);
  p.setUpdateCount(41);
  p.setProxyForProtocol("h:1", "http");
  p.setProxyForProtocol("f:2", "ftp");
}

TEST(ProxyModel, CopiesHoldTheirOwnEntriesAndTheRecord) {
  CProxy source;
  fill(source);
  ASSERT_EQ(1, CProxyTestPeer::build(source));
  CProxy copy(source);
  EXPECT_EQ(CProxyTestPeer::record(source), CProxyTestPeer::record(copy));
  EXPECT_EQ(Entries(source), Entries(copy));
  EXPECT_STREQ("Work", copy.getConnectoid());
  // The script switch is not copied (the flags word that holds it is).
  EXPECT_EQ(0, copy.getScriptEnabled());
  EXPECT_EQ(source.getFlags(), copy.getFlags());

  // Separate objects: changing one leaves the other.
  copy.setProxyForProtocol("changed:9", "http");
  CString text;
  source.getProxyForProtocol(text, "http");
  EXPECT_STREQ("h:1", text);
  copy.removeProtocols();
  EXPECT_EQ("ftp=f:2 http=h:1", Entries(source));
}

TEST(ProxyModel, AssignmentAddsEntriesToTheTargetsOwnAndReplacesItsRecord) {
  CProxy source;
  source.setProxyForProtocol("h:1", "http");
  CProxy target;
  target.setProxyForProtocol("f:2", "ftp");
  target.setProxyForProtocol("old:3", "http");
  ASSERT_EQ(1, CProxyTestPeer::build(target));
  target = source;
  EXPECT_EQ("ftp=f:2 http=h:1", Entries(target));
  // The source had no record: neither has the target now.
  EXPECT_EQ("", CProxyTestPeer::record(target));
  target = target;
  EXPECT_EQ("ftp=f:2 http=h:1", Entries(target));
}

TEST(ProxyModel, ClearResetsTheSettingsAndKeepsNamesAndLocations) {
  CProxy p;
  fill(p);
  ASSERT_EQ(1, CProxyTestPeer::build(p));
  p.clear();
  CProxy fresh;
  EXPECT_EQ(Describe(fresh), Describe(p));
  EXPECT_STREQ("Work", p.getConnectoid());
  EXPECT_STREQ("Backup", CProxyTestPeer::saveValue(p));
}

}  // namespace
