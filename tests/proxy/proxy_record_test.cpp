// The connection-settings record: building, parsing, round trips, the
// local-address marker, the parser's limits and records that lie.

#include "proxy/proxy_fixture.h"

#include <string>

namespace {

using sundry::test::Describe;
using sundry::test::Entries;
using sundry::test::MakeRecord;
using sundry::test::RecordWord;
using Peer = CProxyTestPeer;

TEST(ProxyRecord, AnEmptyModelBuilds48BytesAndEachBuildAdvancesTheCounter) {
  CProxy p;
  ASSERT_EQ(1, Peer::build(p));
  EXPECT_EQ(MakeRecord(1, 1, ""), Peer::record(p));
  ASSERT_EQ(1, Peer::build(p));
  EXPECT_EQ(MakeRecord(2, 1, ""), Peer::record(p));
  EXPECT_EQ(2u, p.getUpdateCount());
}

TEST(ProxyRecord, FlagsFollowTheSwitchesThatAreExactlyOne) {
  struct Case {
    int autoDetect, enabled, script;
    uint32_t flags;
  } cases[] = {{0, 0, 0, 1}, {1, 0, 0, 9}, {1, 1, 0, 11}, {1, 1, 1, 15}, {0, 0, 1, 5}, {2, 2, 2, 1}, {0, 1, 0, 3}};
  for (const Case& c : cases) {
    CProxy p;
    p.autoDetect(c.autoDetect);
    p.enable(c.enabled);
    p.scriptEnable(c.script);
    ASSERT_EQ(1, Peer::build(p));
    EXPECT_EQ(c.flags, RecordWord(Peer::record(p), 8)) << c.autoDetect << c.enabled << c.script;
    EXPECT_EQ(c.flags, p.getFlags());
  }
}

TEST(ProxyRecord, SocksFourIsMarkedOnlyForNetscapeSettings) {
  CProxy ie;
  ie.setBrowser(CProxy::BROWSER_IE);
  ie.setSocksVersion(4);
  ASSERT_EQ(1, Peer::build(ie));
  EXPECT_EQ(1u, RecordWord(Peer::record(ie), 8));

  CProxy ns;
  ns.setBrowser(CProxy::BROWSER_NETSCAPE);
  ns.setSocksVersion(4);
  ASSERT_EQ(1, Peer::build(ns));
  EXPECT_EQ(0x101u, RecordWord(Peer::record(ns), 8));

  CProxy back;
  ASSERT_EQ(1, Peer::parse(back, Peer::record(ns)));
  EXPECT_EQ(4u, back.getSocksVersion());
  ASSERT_EQ(1, Peer::parse(back, Peer::record(ie)));
  EXPECT_EQ(5u, back.getSocksVersion());
}

TEST(ProxyRecord, LocalBypassBecomesTheLocalMarkerInTheBuiltRecord) {
  struct Case {
    int bypass;
    const char* exceptions;
    const char* built;
  } cases[] = {
      {1, "a;b;", "a;b;;<local>"}, {1, "", "<local>"}, {0, "a;<local>", "a"},   {0, "<local>;a", "a"},
      {0, "<LOCAL>", ""},          {1, "a;<Local>", "a;<Local>"},             {0, "a;b", "a;b"},
      {2, "a;<local>", "a;<local>"},
  };
  for (const Case& c : cases) {
    CProxy p;
    p.bypassForLocal(c.bypass);
    Peer::setRawExceptions(p, c.exceptions);
    ASSERT_EQ(1, Peer::build(p));
    EXPECT_EQ(MakeRecord(1, 1, "", c.built), Peer::record(p)) << c.exceptions;
    // The model keeps the text as the record has it.
    EXPECT_STREQ(c.built, p.getExceptions()) << c.exceptions;
  }
}

TEST(ProxyRecord, TheLocalMarkerInAParsedRecordBecomesTheBypassSwitch) {
  struct Case {
    const char* exceptions;
    int bypass;
    const char* left;
  } cases[] = {{"a;<local>", 1, "a"}, {"<local>;a", 1, "a"}, {"<LOCAL>", 1, ""}, {"a;b", 0, "a;b"}};
  for (const Case& c : cases) {
    CProxy p;
    p.bypassForLocal(1 - c.bypass);
    ASSERT_EQ(1, Peer::parse(p, MakeRecord(0, 1, "", c.exceptions)));
    EXPECT_EQ(c.bypass, p.getBypassLocal()) << c.exceptions;
    EXPECT_STREQ(c.left, p.getExceptions()) << c.exceptions;
  }
}

TEST(ProxyRecord, ModelToRecordToModelKeepsEverything) {
  CProxy p;
  p.setBrowser(CProxy::BROWSER_NETSCAPE);
  p.enable(1);
  p.autoDetect(1);
  p.scriptEnable(1);
  p.bypassForLocal(1);
  p.setScript("http://wpad.example/proxy.pac");
  p.setExceptions("*.example;intranet");
  p.setSocksVersion(4);
  p.setVersion(70);
  p.setUpdateCount(99);
  p.setProxyForProtocol("h.example:8080", "http");
  p.setProxyForProtocol("s.example:8443", "https");
  p.setProxyForProtocol("socks.example:1080", "socks");
  ASSERT_EQ(1, Peer::build(p));
  const std::string record = Peer::record(p);

  CProxy q;
  ASSERT_EQ(1, Peer::parse(q, record));
  EXPECT_EQ(1, q.getEnabled());
  EXPECT_EQ(1, q.getAutoDetect());
  EXPECT_EQ(1, q.getScriptEnabled());
  EXPECT_EQ(1, q.getBypassLocal());
  EXPECT_STREQ("http://wpad.example/proxy.pac", q.getScript());
  EXPECT_STREQ("*.example;intranet;", q.getExceptions());
  EXPECT_EQ(4u, q.getSocksVersion());
  EXPECT_EQ(70u, q.getVersion());
  EXPECT_EQ(100u, q.getUpdateCount());
  EXPECT_EQ(0x10Fu, q.getFlags());
  EXPECT_EQ("http=h.example:8080 https=s.example:8443 socks=socks.example:1080", Entries(q));
  q.setBrowser(CProxy::BROWSER_NETSCAPE);
  // Built again, the record differs in the counter alone.
  ASSERT_EQ(1, Peer::build(q));
  std::string again = Peer::record(q);
  EXPECT_EQ(101u, RecordWord(again, 4));
  again.replace(4, 4, record.substr(4, 4));
  EXPECT_EQ(record, again);
}

TEST(ProxyRecord, ProxyTextsParseIntoEntries) {
  struct Case {
    const char* text;
    const char* entries;
  } cases[] = {
      {"http=a:80;ftp=b:21", "ftp=b:21 http=a:80"},
      {"a:81", "ALL=a:81"},
      {"http=a:1;b:2", "http=a:1"},  // an item without a name is dropped
      {"http=a:1;http=b:2", "http=b:2"},
      {"x=noport", "x=:0"},
      {"=a:1", "=a:1"},
  };
  for (const Case& c : cases) {
    CProxy p;
    p.setProxyForProtocol("old:1", "old");
    ASSERT_EQ(1, Peer::parse(p, MakeRecord(0, 3, c.text))) << c.text;
    EXPECT_EQ(c.entries, Entries(p)) << c.text;
  }
}

TEST(ProxyRecord, AnEmptyProxyTextFailsOnlyWhenTheProxyIsOn) {
  CProxy off;
  off.setProxyForProtocol("old:1", "old");
  EXPECT_EQ(1, Peer::parse(off, MakeRecord(0, 1, "")));
  EXPECT_EQ("", Entries(off));
  CProxy on;
  EXPECT_EQ(0, Peer::parse(on, MakeRecord(0, 3, "")));
  EXPECT_EQ(1, on.getEnabled());
}

TEST(ProxyRecord, ATextCutShortByAZeroByteIsPaddedWithBlanks) {
  CProxy p;
  ASSERT_EQ(1, Peer::parse(p, MakeRecord(0, 1, "", std::string("ab\0cd", 5))));
  EXPECT_STREQ("   ab", p.getExceptions());
}

TEST(ProxyRecord, TextsAtTheParserLimitsStopTheParse) {
  // One below each limit parses.
  {
    CProxy p;
    EXPECT_EQ(1, Peer::parse(p, MakeRecord(0, 1, std::string(2047, 'x'), std::string(1023, 'e'),
                                           std::string(511, 's'))));
    EXPECT_EQ(1023, p.getExceptions().GetLength());
    EXPECT_EQ(511, p.getScript().GetLength());
  }
  // At a limit the parse stops; the header is taken, the list is not.
  CProxy p;
  p.setProxyForProtocol("keep:1", "http");
  EXPECT_EQ(0, Peer::parse(p, MakeRecord(5, 11, std::string(2048, 'x'))));
  EXPECT_EQ(5u, p.getUpdateCount());
  EXPECT_EQ(1, p.getAutoDetect());
  EXPECT_EQ("http=keep:1", Entries(p));

  EXPECT_EQ(0, Peer::parse(p, MakeRecord(6, 1, "a:1", std::string(1024, 'e'))));
  EXPECT_EQ("http=keep:1", Entries(p));

  // The exceptions came before the script that was too long: they stay.
  EXPECT_EQ(0, Peer::parse(p, MakeRecord(7, 1, "a:1", "ex", std::string(512, 's'))));
  EXPECT_STREQ("ex", p.getExceptions());
  EXPECT_EQ("http=keep:1", Entries(p));
}

TEST(ProxyRecord, ARecordWhoseTextsRunPastItsEndIsRefusedUntouched) {
  const std::string whole = MakeRecord(3, 11, "http=a:1", "x;<local>", "http://s/");
  // Every cut before the end of the script text lies about a length.
  const size_t textsEnd = whole.size() - 24;
  for (size_t cut = 1; cut < whole.size(); ++cut) {
    CProxy p;
    p.setProxyForProtocol("keep:1", "http");
    p.setExceptions("keep");
    const std::string before = Describe(p);
    const BOOL result = Peer::parse(p, whole.substr(0, cut));
    if (cut < textsEnd) {
      EXPECT_EQ(0, result) << cut;
      EXPECT_EQ(before, Describe(p)) << cut;
    } else {
      EXPECT_EQ(1, result) << cut;
      EXPECT_EQ("http=a:1", Entries(p)) << cut;
    }
  }
  // Lengths far past the end, below the parser's limits.
  std::string far = MakeRecord(0, 1, "", "", "abc");
  far[20] = static_cast<char>(0xff);
  far[21] = 0x01;  // N3 = 511
  CProxy p;
  EXPECT_EQ(0, Peer::parse(p, far));
  EXPECT_EQ(0, Peer::parse(p, MakeRecord(0, 1, "").substr(0, 15)));
}

TEST(ProxyRecord, TheBuilderRefusesARecordItCouldNotReadBack) {
  struct Case {
    size_t proxy, exceptions, script;
    BOOL built;
  } cases[] = {
      // An "ALL" host of n characters makes a proxy text of n + 2 (":1").
      {2045, 0, 0, 1},   {2046, 0, 0, 0},    {0, 1023, 0, 1}, {0, 1024, 0, 0}, {0, 0, 511, 1},
      {0, 0, 512, 0},    {1500, 1010, 0, 1},  // exactly the 2,560-byte work area
      {1500, 1011, 0, 0},                     // one byte over it
  };
  for (const Case& c : cases) {
    CProxy p;
    if (c.proxy > 0) p.setProxyForAll(std::string(c.proxy, 'h').c_str(), 1);  // text: host + ":1"
    Peer::setRawExceptions(p, std::string(c.exceptions, 'e').c_str());
    p.setScript(std::string(c.script, 's').c_str());
    const std::string before = Describe(p);
    EXPECT_EQ(c.built, Peer::build(p)) << c.proxy << " " << c.exceptions << " " << c.script;
    if (!c.built) {
      EXPECT_EQ(before, Describe(p)) << "a refused build changed the model";
    }
  }
}

}  // namespace
