// The connection-settings record: building, parsing, round trips, the
// local-address marker, and what the parser and the builder refuse. The
// results of single records at the parser's edges are in the fuzz corpus.

#include "proxy/proxy_fixture.h"

#include <string>

namespace {

using sundry::test::Describe;
using sundry::test::MakeRecord;
using sundry::test::RecordWord;
using sundry::test::Sorted;
using Peer = CProxyTestPeer;

// The debug log goes to a file of this process unless the environment
// names one already; a test reads its lines back.
sundry::test::DebugLogToFile g_log("proxy-test");

TEST(ProxyRecord, FlagsFollowTheSwitchesThatAreExactlyOneAndEachBuildCounts) {
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
  CProxy p;
  ASSERT_EQ(1, Peer::build(p));
  ASSERT_EQ(1, Peer::build(p));
  EXPECT_EQ(MakeRecord(2, 1, ""), Peer::record(p));
}

TEST(ProxyRecord, SocksFourIsMarkedOnlyForNetscapeSettings) {
  CProxy ie, ns, back;
  ie.setBrowser(CProxy::BROWSER_IE);
  ns.setBrowser(CProxy::BROWSER_NETSCAPE);
  for (CProxy* p : {&ie, &ns}) {
    p->setSocksVersion(4);
    ASSERT_EQ(1, Peer::build(*p));
  }
  EXPECT_EQ(1u, RecordWord(Peer::record(ie), 8));
  EXPECT_EQ(0x101u, RecordWord(Peer::record(ns), 8));
  ASSERT_EQ(1, Peer::parse(back, Peer::record(ns)));
  EXPECT_EQ(4u, back.getSocksVersion());
  ASSERT_EQ(1, Peer::parse(back, Peer::record(ie)));
  EXPECT_EQ(5u, back.getSocksVersion());
}

TEST(ProxyRecord, TheLocalBypassIsTheLocalMarkerInTheRecord) {
  struct Built {
    int bypass;
    const char* exceptions;
    const char* built;
  } built[] = {
      {1, "a;b;", "a;b;;<local>"}, {1, "", "<local>"}, {0, "a;<local>", "a"},   {0, "<local>;a", "a"},
      {0, "<LOCAL>", ""},          {1, "a;<Local>", "a;<Local>"},             {0, "a;b", "a;b"},
      {2, "a;<local>", "a;<local>"},
  };
  for (const Built& c : built) {
    CProxy p;
    p.bypassForLocal(c.bypass);
    Peer::setRawExceptions(p, c.exceptions);
    ASSERT_EQ(1, Peer::build(p));
    EXPECT_EQ(MakeRecord(1, 1, "", c.built), Peer::record(p)) << c.exceptions;
    EXPECT_STREQ(c.built, p.getExceptions()) << c.exceptions;  // the model keeps the record's text
  }
  struct Parsed {
    const char* exceptions;
    int bypass;
    const char* left;
  } parsed[] = {{"a;<local>", 1, "a"}, {"<local>;a", 1, "a"}, {"<LOCAL>", 1, ""}, {"a;b", 0, "a;b"}};
  for (const Parsed& c : parsed) {
    CProxy p;
    p.bypassForLocal(1 - c.bypass);
    ASSERT_EQ(1, Peer::parse(p, MakeRecord(0, 1, "", c.exceptions)));
    EXPECT_EQ(c.bypass, p.getBypassLocal()) << c.exceptions;
    EXPECT_STREQ(c.left, p.getExceptions()) << c.exceptions;
  }
}

TEST(ProxyRecord, ModelToRecordToModelKeepsEverythingAndRebuildsTheSameBytes) {
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
  for (const char* name : {"socks", "https", "http"}) p.setProxyForProtocol((std::string(name) + ".example:1").c_str(), name);
  ASSERT_EQ(1, Peer::build(p));
  const std::string record = Peer::record(p);

  CProxy q;
  ASSERT_EQ(1, Peer::parse(q, record));
  EXPECT_EQ("enabled=1 auto=1 bypass=1 script=1 version=70 count=100 flags=271 socks=4 "
            "url=[http://wpad.example/proxy.pac] exceptions=[*.example;intranet;] "
            "protocols=[http=http.example:1;https=https.example:1;socks=socks.example:1] record=0",
            Describe(q));
  // Built again, the record differs in the counter alone.
  q.setBrowser(CProxy::BROWSER_NETSCAPE);
  ASSERT_EQ(1, Peer::build(q));
  std::string again = Peer::record(q);
  EXPECT_EQ(101u, RecordWord(again, 4));
  again.replace(4, 4, record.substr(4, 4));
  EXPECT_EQ(record, again);
}

TEST(ProxyRecord, TextsParseIntoTheModel) {
  struct Case {
    std::string proxies, exceptions, entries, left;
  } cases[] = {
      {"http=a:80;ftp=b:21", "", "ftp=b:21;http=a:80", ""},
      {"a:81", "", "a:81", ""},                  // one proxy for all: the "ALL" entry
      {"http=a:1;b:2", "", "http=a:1", ""},      // an item without a name is dropped
      {"http=a:1;http=b:2", "", "http=b:2", ""},  // the last of a name counts
      {"x=noport", "", "x=:0", ""},
      {"=a:1", "", "=a:1", ""},
      {"", std::string("ab\0cd", 5), "", "   ab"},  // cut at a zero byte, padded with blanks
  };
  for (const Case& c : cases) {
    CProxy p;
    p.setProxyForProtocol("old:1", "old");
    ASSERT_EQ(1, Peer::parse(p, MakeRecord(0, c.proxies.empty() ? 1 : 3, c.proxies, c.exceptions))) << c.proxies;
    EXPECT_EQ(c.entries, Sorted(p.proxyText())) << c.proxies;
    EXPECT_STREQ(c.left.c_str(), p.getExceptions()) << c.proxies;
  }
}

TEST(ProxyRecord, AParseStoppedAtALimitKeepsTheHeaderAndTheTextsBeforeIt) {
  CProxy p;
  p.setProxyForProtocol("keep:1", "http");
  EXPECT_EQ(0, Peer::parse(p, MakeRecord(5, 11, std::string(2048, 'x'))));
  EXPECT_EQ(5u, p.getUpdateCount());
  EXPECT_EQ(1, p.getAutoDetect());
  EXPECT_EQ(0, Peer::parse(p, MakeRecord(6, 1, "a:1", std::string(1024, 'e'))));
  EXPECT_EQ(0, Peer::parse(p, MakeRecord(7, 1, "a:1", "ex", std::string(512, 's'))));
  EXPECT_STREQ("ex", p.getExceptions());
  EXPECT_STREQ("http=keep:1", p.proxyText());
}

TEST(ProxyRecord, TheParseTracesEachTextAndTheLimitItStopsAt) {
  if (sundry::test::DebugLogFile().empty()) GTEST_SKIP() << "SUNDRY_LOG does not name a file";
  sundry::test::LogTail log;
  CProxy p;
  EXPECT_EQ(0, Peer::parse(p, MakeRecord(0, 1, "a:1", "ex", std::string(512, 's'))));
  for (const char* line : {"Status: Proxies: a:1", "Status: Exception Size: 2", "Status: Exceptions: ex",
                           "Status: Script name Size: 512", "$$ERROR$$: Size >= 512"})
    EXPECT_TRUE(log.has(std::string("CProxy::parseProxyDataIE ") + line)) << line;
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
      EXPECT_STREQ("http=a:1", p.proxyText()) << cut;
    }
  }
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
    if (c.proxy > 0) p.setProxyForAll(std::string(c.proxy, 'h').c_str(), 1);
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
