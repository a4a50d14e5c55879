// Proxy settings: building and parsing a connection-settings record, and
// reading and rewriting a prefs.js of 2,000 lines (the new file written and
// committed, its backup copy made, and moved over the old one). The rewrite should
// stay unnoticeable to a person: well under 5 ms.
//
// Run by hand: build/bench/proxy_bench

#include <benchmark/benchmark.h>

#include <sundry/proxy/Proxy.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

// Friend of CProxy: the record codec is private.
class CProxyTestPeer {
 public:
  static BOOL build(CProxy& p) { return p.buildProxyDataIE(); }
  static BOOL parse(CProxy& p, const std::string& r) {
    return p.parseProxyDataIE(reinterpret_cast<const unsigned char*>(r.data()), static_cast<DWORD>(r.size()));
  }
  static std::string record(const CProxy& p) {
    return std::string(reinterpret_cast<const char*>(p.m_pData.get()), p.m_dwDataSize);
  }
};

namespace {

void fill(CProxy& p) {
  p.enable(1);
  p.bypassForLocal(1);
  p.setScript("http://wpad.example.com/proxy.pac");
  p.setExceptions("*.example.com;intranet;10.*;192.168.*;printer.local");
  for (const char* name : {"http", "https", "ftp", "gopher", "socks"})
    p.setProxyForProtocol("proxy.example.com:8080", name);
}

void BM_BuildRecord(benchmark::State& state) {
  CProxy p;
  fill(p);
  for (auto _ : state) benchmark::DoNotOptimize(CProxyTestPeer::build(p));
}
BENCHMARK(BM_BuildRecord);

void BM_ParseRecord(benchmark::State& state) {
  CProxy p;
  fill(p);
  CProxyTestPeer::build(p);
  const std::string record = CProxyTestPeer::record(p);
  CProxy q;
  for (auto _ : state) benchmark::DoNotOptimize(CProxyTestPeer::parse(q, record));
  state.SetLabel(std::to_string(record.size()) + " bytes");
}
BENCHMARK(BM_ParseRecord);

// A profile with a prefs.js of 2,000 lines below a temporary
// application-data folder; removed when it goes away.
class Profile {
 public:
  Profile() {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/sundry-proxy-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    m_root = tmpl;
    const std::string profile = m_root + "/Mozilla/Profiles/default/bench.slt";
    fs::create_directories(profile);
    setenv("SUNDRY_APPDATA", m_root.c_str(), 1);
    m_prefs = profile + "/prefs.js";
    std::ofstream out(m_prefs);
    out << "# Mozilla User Preferences\n\n";
    for (int i = 0; i < 1990; ++i)
      out << "user_pref(\"extensions.bench.setting" << i << "\", \"value number " << i << "\");\n";
    out << "user_pref(\"network.proxy.type\", 1);\n";
    for (const char* name : {"http", "ssl", "ftp", "gopher"})
      out << "user_pref(\"network.proxy." << name << "\", \"old.example.com\");\n"
          << "user_pref(\"network.proxy." << name << "_port\", 3128);\n";
  }
  ~Profile() {
    std::error_code ec;
    if (!m_root.empty()) std::filesystem::remove_all(m_root, ec);
  }
  bool ok() const { return !m_root.empty(); }
  std::string size() const { return std::to_string(std::filesystem::file_size(m_prefs)) + " bytes"; }

 private:
  std::string m_root, m_prefs;
};

// The whole call a client makes: open prefs.js (ending running browser
// processes first, a walk of the process list), rewrite, commit, rename.
void BM_RewritePrefs2000Lines(benchmark::State& state) {
  Profile profile;
  if (!profile.ok()) return state.SkipWithError("no temporary directory");
  CProxy p;
  p.setBrowser(CProxy::BROWSER_NETSCAPE);
  fill(p);
  for (auto _ : state)
    if (p.setBrowserProxies() != 1) return state.SkipWithError("the rewrite failed");
  state.SetLabel(profile.size());
}
BENCHMARK(BM_RewritePrefs2000Lines)->Unit(benchmark::kMillisecond);

// Reading the settings alone: prefs.js opened and parsed (a read leaves
// running browser processes alone, so there is no process walk).
void BM_ReadPrefs2000Lines(benchmark::State& state) {
  Profile profile;
  if (!profile.ok()) return state.SkipWithError("no temporary directory");
  CProxy p;
  p.setBrowser(CProxy::BROWSER_NETSCAPE);
  for (auto _ : state)
    if (p.getBrowserProxies() != 1) return state.SkipWithError("the read failed");
  state.SetLabel(profile.size());
}
BENCHMARK(BM_ReadPrefs2000Lines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
