// The three parsers over hostile input: connection-settings records, the
// "hex:" text of INI copies and prefs.js lines. First the corpus, each file
// with the result its name gives; then random mutations of it with a fixed
// seed, checked against properties that hold for any input:
//   - a parse never reads outside its input (the address sanitizer watches
//     the exact-size copies the parsers get);
//   - a parse never takes an old or random value: the same input parsed
//     into two models that start out different leaves every field either
//     equal in both (set from the input) or as it was in each (untouched);
//   - a refused "hex:" text leaves the model as it was.

#include "proxy/proxy_fixture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using sundry::test::ReadFile;
using Peer = CProxyTestPeer;

const std::string kCorpus = std::string(SUNDRY_SOURCE_DIR) + "/tests/proxy/corpus";

struct Seed {
  std::string name;
  int expected;
  std::string bytes;
};

// Corpus files named <kind>-<result>-<what>.
std::vector<Seed> corpus(const std::string& kind) {
  std::vector<Seed> seeds;
  for (auto& e : std::filesystem::directory_iterator(kCorpus)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(kind + "-", 0) != 0) continue;
    seeds.push_back({name, name[kind.size() + 1] - '0', ReadFile(e.path().string())});
  }
  std::sort(seeds.begin(), seeds.end(), [](const Seed& a, const Seed& b) { return a.name < b.name; });
  return seeds;
}

// Two different starting points for a model.
void prime(CProxy& p, int which) {
  const std::string tag = which == 0 ? "zero" : "one";
  p.enable(which);
  p.autoDetect(1 - which);
  p.scriptEnable(which);
  p.bypassForLocal(1 - which);
  p.setSocksVersion(which == 0 ? 4 : 5);
  p.setVersion(100 + which);
  p.setUpdateCount(200 + which);
  p.setScript(("http://" + tag + "/p.pac").c_str());
  p.setExceptions(("ex-" + tag).c_str());
  // The same entry in both: a list a parse adds to must come out the same.
  p.setProxyForProtocol("s:1", "sentinel");
}

// The parts of a model, one string each.
std::vector<std::string> parts(CProxy& p) {
  return {std::to_string(p.getEnabled()),     std::to_string(p.getAutoDetect()),
          std::to_string(p.getScriptEnabled()), std::to_string(p.getBypassLocal()),
          std::to_string(p.getSocksVersion()),  std::to_string(p.getVersion()),
          std::to_string(p.getUpdateCount()),   p.getScript().GetString(),
          p.getExceptions().GetString(),        p.proxyText().GetString()};
}

// Each part equal in both models, or each as it was before the parse.
::testing::AssertionResult noOldOrRandomValues(const std::vector<std::string>& before0,
                                               const std::vector<std::string>& before1,
                                               const std::vector<std::string>& after0,
                                               const std::vector<std::string>& after1) {
  static const char* names[] = {"enabled", "autoDetect", "scriptEnabled", "bypassLocal", "socks",
                                "version", "counter",    "script",        "exceptions",  "protocols"};
  for (size_t i = 0; i < after0.size(); ++i) {
    if (after0[i] == after1[i]) continue;
    if (after0[i] == before0[i] && after1[i] == before1[i]) continue;
    return ::testing::AssertionFailure() << names[i] << ": [" << after0[i] << "] vs [" << after1[i] << "]";
  }
  return ::testing::AssertionSuccess();
}

std::string mutate(std::string s, std::mt19937& rng, bool binary) {
  auto pick = [&](size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  static const char interesting[] = "\"\',;=:<>0123456789 \t\r\n\\x";
  auto byte = [&]() {
    if (binary && pick(2) == 0) return static_cast<char>(pick(256));
    return interesting[pick(sizeof interesting - 1)];
  };
  const int rounds = 1 + static_cast<int>(pick(4));
  for (int r = 0; r < rounds; ++r) {
    switch (pick(binary ? 7 : 6)) {
      case 0:
        if (!s.empty()) s[pick(s.size())] = byte();
        break;
      case 1:
        s.insert(s.begin() + static_cast<long>(pick(s.size() + 1)), byte());
        break;
      case 2:
        if (!s.empty()) s.erase(pick(s.size()), 1 + pick(8));
        break;
      case 3:
        s.resize(pick(s.size() + 1));
        break;
      case 4: {  // repeat a chunk
        if (s.empty()) break;
        size_t at = pick(s.size()), len = 1 + pick(16);
        s.insert(pick(s.size() + 1), s.substr(at, len));
        break;
      }
      case 5:
        if (!s.empty()) s.erase(0, pick(s.size()));
        break;
      case 6: {  // a length word of a record set to a value at a boundary
        static const uint32_t values[] = {0, 1, 2, 511, 512, 1023, 1024, 2047, 2048, 2560, 0xffffffffu, 0x80000000u};
        if (s.size() < 24) break;
        const size_t at = 12 + 4 * pick(3);
        const uint32_t v = values[pick(sizeof values / sizeof values[0])];
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
        break;
      }
    }
  }
  return s;
}

TEST(ProxyCorpus, EachSeedGivesTheResultItsNameSays) {
  size_t seen = 0;
  for (const Seed& s : corpus("record")) {
    CProxy p;
    EXPECT_EQ(s.expected, Peer::parse(p, s.bytes)) << s.name;
    ++seen;
  }
  for (const Seed& s : corpus("ini")) {
    CProxy p;
    EXPECT_EQ(s.expected, Peer::parseHex(p, s.bytes.c_str())) << s.name;
    ++seen;
  }
  for (const Seed& s : corpus("pref")) {
    CProxy p;
    EXPECT_EQ(s.expected, Peer::parsePrefs(p, s.bytes)) << s.name;
    ++seen;
  }
  EXPECT_GE(seen, 30u);
}

TEST(ProxyFuzz, MutatedRecordsParseSafelyAndSettle) {
  std::mt19937 rng(20240501);
  const std::vector<Seed> seeds = corpus("record");
  ASSERT_FALSE(seeds.empty());
  int complete = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string input = mutate(seeds[static_cast<size_t>(i) % seeds.size()].bytes, rng, true);
    if (input.empty()) continue;  // an empty input stands for no record at all
    CProxy a, b;
    prime(a, 0);
    prime(b, 1);
    const auto before0 = parts(a), before1 = parts(b);
    bool doneA = false, doneB = false;
    const BOOL ra = Peer::parse(a, input, &doneA);
    const BOOL rb = Peer::parse(b, input, &doneB);
    ASSERT_EQ(ra, rb) << i;
    ASSERT_EQ(doneA, doneB) << i;
    ASSERT_TRUE(noOldOrRandomValues(before0, before1, parts(a), parts(b))) << i;
    if (!doneA) continue;
    ++complete;
    // Built and parsed again, a record settles: the second build gives the
    // same bytes as the first but for the counter.
    if (Peer::build(a) != 1) continue;
    const std::string first = Peer::record(a);
    CProxy c;
    ASSERT_TRUE(Peer::parse(c, first, &doneA) == Peer::parse(c, first, &doneB) && doneA) << i;
    ASSERT_EQ(1, Peer::build(c)) << i;
    std::string second = Peer::record(c);
    second.replace(4, 4, first.substr(4, 4));
    ASSERT_EQ(first, second) << i;
  }
  EXPECT_GT(complete, 300);  // the mutations are not all refused
}

// The strict form of the INI text: "hex:" and two hexadecimal digits per
// byte, each pair followed by a comma (the last one may lack it).
bool wellFormed(const std::string& t, std::string* bytes) {
  if (t.compare(0, 4, "hex:") != 0) return false;
  bytes->clear();
  for (size_t i = 4; i < t.size();) {
    if (i + 1 >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[i])) ||
        !std::isxdigit(static_cast<unsigned char>(t[i + 1])))
      return false;
    bytes->push_back(static_cast<char>(std::stoul(t.substr(i, 2), nullptr, 16)));
    if (i + 2 < t.size() && t[i + 2] != ',') return false;
    i += 3;
  }
  return bytes->size() <= 2560;
}

TEST(ProxyFuzz, MutatedIniTextIsDecodedOnlyWhenWellFormed) {
  std::mt19937 rng(77);
  const std::vector<Seed> seeds = corpus("ini");
  ASSERT_FALSE(seeds.empty());
  int accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string input = mutate(seeds[static_cast<size_t>(i) % seeds.size()].bytes, rng, false);
    input = input.substr(0, input.find('\0'));
    CProxy viaText, viaBytes;
    prime(viaText, 0);
    prime(viaBytes, 0);
    const auto before = parts(viaText);
    const BOOL result = Peer::parseHex(viaText, input.c_str());
    std::string bytes;
    if (wellFormed(input, &bytes) && !bytes.empty()) {
      ASSERT_EQ(Peer::parse(viaBytes, bytes), result) << input;
      ASSERT_EQ(parts(viaBytes), parts(viaText)) << input;
      accepted += result;
    } else {
      ASSERT_EQ(0, result) << input;
      ASSERT_EQ(before, parts(viaText)) << input;
    }
  }
  EXPECT_GT(accepted, 20);  // some mutations keep the text well-formed
}

TEST(ProxyFuzz, MutatedPreferenceLinesNeverTakeOldOrRandomValues) {
  std::mt19937 rng(4242);
  const std::vector<Seed> seeds = corpus("pref");
  ASSERT_FALSE(seeds.empty());
  int stored = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string input = mutate(seeds[static_cast<size_t>(i) % seeds.size()].bytes, rng, false);
    CProxy a, b;
    prime(a, 0);
    prime(b, 1);
    const auto before0 = parts(a), before1 = parts(b);
    const BOOL ra = Peer::parsePrefs(a, input);
    const BOOL rb = Peer::parsePrefs(b, input);
    ASSERT_EQ(ra, rb) << input;
    // The two switches that every read resets are the same in both anyway.
    ASSERT_TRUE(noOldOrRandomValues(before0, before1, parts(a), parts(b))) << input;
    // A text value never runs past its closing quote: a quote in a host can
    // only come from an escape.
    const bool escapes = input.find('\\') != std::string::npos;
    CProxyProtocols* list = a.getProxyList();
    POSITION pos = list->GetStartPosition();
    while (pos != nullptr) {
      CString key;
      CProxyProtocol* e = nullptr;
      list->GetNextAssoc(pos, key, e);
      if (!escapes) {
        ASSERT_LT(e->getProxy().Find('"'), 0) << input;
      }
      ASSERT_LT(key.Find('"'), 0) << input;
    }
    stored += ra;
  }
  EXPECT_GT(stored, 300);
}

}  // namespace
