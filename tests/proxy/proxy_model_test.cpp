// CProxy's model: connection names, protocol entries, the exceptions list,
// copying and clearing.

#include "proxy/proxy_fixture.h"

#include <string>

namespace {

using sundry::test::Describe;
using sundry::test::Sorted;

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

TEST(ProxyModel, ProtocolEntriesStoreHostAndPort) {
  CProxy p;
  EXPECT_EQ(1, p.setProxyForProtocol("proxy:80", "http"));
  CString host = "untouched", text;
  DWORD port = 7;
  ASSERT_EQ(1, p.getProxyForProtocol(host, port, "http"));
  EXPECT_STREQ("proxy", host);
  EXPECT_EQ(80u, port);
  ASSERT_EQ(1, p.getProxyForProtocol(text, "http"));
  EXPECT_STREQ("proxy:80", text);

  // A second set replaces the entry's content; names are case-sensitive;
  // a proxy without a colon fails and leaves host and port.
  EXPECT_EQ(1, p.setProxyForProtocol("other", 8080, "http"));
  EXPECT_EQ(1, p.setProxyForProtocol("upper:1", "HTTP"));
  EXPECT_EQ(0, p.setProxyForProtocol("b", "http"));
  EXPECT_EQ(0, p.setProxyForProtocol("proxy", "ftp"));  // an empty entry all the same
  EXPECT_EQ("HTTP=upper:1;ftp=:0;http=other:8080", Sorted(p.proxyText()));

  // An absent protocol leaves the outputs alone.
  host = text = "keep";
  port = 9;
  EXPECT_EQ(0, p.getProxyForProtocol(host, port, "gopher"));
  EXPECT_EQ(0, p.getProxyForProtocol(text, "gopher"));
  EXPECT_STREQ("keep", host);
  EXPECT_EQ(9u, port);
  EXPECT_STREQ("keep", text);
}

TEST(ProxyModel, TheAllEntryStandsForEveryProtocol) {
  CProxy p;
  EXPECT_EQ(1, p.setProxyForAll("h", 81));
  CString host;
  DWORD port = 0;
  ASSERT_EQ(1, p.getProxyForAll(host, port));
  EXPECT_STREQ("h", host);
  EXPECT_EQ(81u, port);
  // In the proxy text it replaces every other entry, whatever their names.
  p.setProxyForProtocol("a:1", "AAA");
  p.setProxyForProtocol("z:2", "zzz");
  EXPECT_STREQ("h:81", p.proxyText());
  CProxy empty;
  EXPECT_STREQ("", empty.proxyText());
}

TEST(ProxyModel, ExceptionsMergeWithoutDuplicates) {
  CProxy p;
  const std::pair<const char*, const char*> steps[] = {
      {"a;c", "a;c;"}, {"b;a", "a;c;b;"}, {"", "a;c;b;"}, {nullptr, "a;c;b;"},
      {"A", "a;c;b;A;"},  // case counts
      {"x;;y;", "a;c;b;A;x;y;"}, {";;", "a;c;b;A;x;y;"}};
  for (const auto& [merged, expected] : steps) {
    p.setExceptions(merged);
    EXPECT_STREQ(expected, p.getExceptions()) << (merged ? merged : "(null)");
  }
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
  EXPECT_STREQ(source.proxyText(), copy.proxyText());
  EXPECT_STREQ("Work", copy.getConnectoid());
  // The script switch is not copied (the flags word that holds it is).
  EXPECT_EQ(0, copy.getScriptEnabled());
  EXPECT_EQ(source.getFlags(), copy.getFlags());
  // Separate objects: changing one leaves the other.
  copy.setProxyForProtocol("changed:9", "http");
  copy.removeProtocols();
  EXPECT_EQ("ftp=f:2;http=h:1", Sorted(source.proxyText()));

  // Assignment adds the entries to the target's own and takes the source's
  // record, here none.
  CProxy target;
  target.setProxyForProtocol("g:3", "gopher");
  target.setProxyForProtocol("old:3", "http");
  ASSERT_EQ(1, CProxyTestPeer::build(target));
  target = source;
  target = target;
  EXPECT_EQ("ftp=f:2;gopher=g:3;http=h:1", Sorted(target.proxyText()));
  CProxy none;
  target = none;
  EXPECT_EQ("", CProxyTestPeer::record(target));
}

TEST(ProxyModel, ClearResetsTheSettingsAndKeepsNamesAndLocations) {
  CProxy p;
  fill(p);
  ASSERT_EQ(1, CProxyTestPeer::build(p));
  p.clear();
  CProxy fresh;
  EXPECT_EQ(Describe(fresh), Describe(p));
  EXPECT_STREQ("Work", p.getConnectoid());
  // The saved copy goes back under HKEY_CURRENT_USER; key and name stay.
  sundry::test::TempDir dir;
  CString ini = dir.file("saved.ini").c_str();
  ASSERT_EQ(1, p.saveToINIFile(ini));
  EXPECT_EQ(0u, sundry::test::ReadFile(dir.file("saved.ini")).find("[HKEY_CURRENT_USER\\Software\\Saved]\r\nBackup=hex:"));
}

}  // namespace
