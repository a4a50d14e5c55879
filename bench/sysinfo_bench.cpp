// System report and DNS suffix list: the first full report of a new object
// (every source read once; it must stay under 100 ms and use no network),
// the product listing of a folder of 5,000 files in 50 folders (under 1 s),
// and reading the search list from the resolver file (under 1 ms).
//
// Run by hand: build/bench/sysinfo_bench

#include <benchmark/benchmark.h>

#include <sundry/platform/registry.h>
#include <sundry/sysinfo/DNSSuffixUtil.h>
#include <sundry/sysinfo/GeneralSysInfo.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string scratch() {
  char pattern[] = "/tmp/sundry-bench-XXXXXX";
  return ::mkdtemp(pattern);
}

void BM_FirstFullReport(benchmark::State& state) {
  const std::string dir = scratch();
  sundry::platform::RegistryUseStore((dir + "/registry.db").c_str());
  size_t size = 0;
  for (auto _ : state) {
    CGeneralSysInfo info;
    size = std::string(info.obtainFormattedSysInfo()).size();
    benchmark::DoNotOptimize(size);
  }
  state.counters["bytes"] = static_cast<double>(size);
  sundry::platform::RegistryUseStore(nullptr);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FirstFullReport)->Unit(benchmark::kMillisecond);

void BM_ProductListing5000Files(benchmark::State& state) {
  const std::string dir = scratch();
  for (int d = 0; d < 50; ++d) {
    const std::string sub = dir + "/folder" + std::to_string(d);
    std::filesystem::create_directory(sub);
    for (int f = 0; f < 100; ++f) std::ofstream(sub + "/file" + std::to_string(f) + ".dat") << "data " << f;
  }
  for (auto _ : state) {
    CGeneralSysInfo info;
    info.setProductDirectory(dir.c_str());
    benchmark::DoNotOptimize(info.getProductFiles(nullptr));
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ProductListing5000Files)->Unit(benchmark::kMillisecond);

void BM_DnsShow(benchmark::State& state) {
  const std::string dir = scratch();
  const std::string file = dir + "/resolv.conf";
  std::ofstream(file) << "# written by hand\nnameserver 192.0.2.1\nnameserver 192.0.2.2\n"
                         "search corp.example lab.corp.example example.org\noptions ndots:2\n";
  ::setenv("SUNDRY_RESOLV_CONF", file.c_str(), 1);
  CDNSSuffixUtil util;
  for (auto _ : state) {
    CStringArray list;
    benchmark::DoNotOptimize(util.getDNSSuffixList(list));
  }
  ::unsetenv("SUNDRY_RESOLV_CONF");
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DnsShow)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
