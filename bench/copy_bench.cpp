// The copy worker beside `cp -r` on the same trees in the same run: 5,000
// files of 4 KiB, and one file of 512 MiB. Each iteration copies into a
// fresh destination; removing it and flushing dirty pages (sync) are not
// timed. Counters: peak resident memory of the process (maxrss_kib, the
// worker's own; for cp, of the largest child) and how much the process's
// peak grew during the benchmark (rss_growth_kib).
//
// Run: build/bench/copy_bench [--benchmark_filter=...]
// The trees are made once under $TMPDIR (default /tmp) and removed at exit.

#include <benchmark/benchmark.h>

#include <sundry/copy/CopyFileController.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

namespace {

struct Trees {
  std::string root;
  Trees() {
    const char* tmp = std::getenv("TMPDIR");
    root = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sundry-copy-bench-" + std::to_string(::getpid());
    ::mkdir(root.c_str(), 0755);
    const std::string small = root + "/small";
    ::mkdir(small.c_str(), 0755);
    std::string block(4096, '\0');
    for (int i = 0; i < 5000; ++i) {
      for (size_t j = 0; j < block.size(); ++j) block[j] = static_cast<char>((i * 31 + j * 7) & 0xff);
      FILE* f = std::fopen((small + "/f" + std::to_string(i) + ".dat").c_str(), "wb");
      if (f == nullptr) std::abort();
      std::fwrite(block.data(), 1, block.size(), f);
      std::fclose(f);
    }
    const std::string large = root + "/large";
    ::mkdir(large.c_str(), 0755);
    FILE* f = std::fopen((large + "/big.bin").c_str(), "wb");
    if (f == nullptr) std::abort();
    std::string chunk(1 << 20, '\0');
    for (int i = 0; i < 512; ++i) {
      for (size_t j = 0; j < chunk.size(); j += 4096) chunk[j] = static_cast<char>(i + j);
      std::fwrite(chunk.data(), 1, chunk.size(), f);
    }
    std::fclose(f);
    std::system("sync");
  }
  ~Trees() { std::system(("rm -rf " + root).c_str()); }
};

Trees& trees() {
  static Trees t;
  return t;
}

std::mutex g_lock;
std::condition_variable g_done;
bool g_counted = false, g_finished = false;
int g_lastCode = -1;

int onEvent(int code, const char*, int64_t, long) {
  if (code > 2) return 0;
  std::lock_guard<std::mutex> guard(g_lock);
  if (!g_counted && (code == 1 || code == 2)) {
    g_counted = true;
  } else if (code == 0 || code == 1) {
    g_lastCode = code;
    g_finished = true;
    g_done.notify_all();
  }
  return 0;
}

long maxRssKib(int who) {
  struct rusage usage;
  return ::getrusage(who, &usage) == 0 ? usage.ru_maxrss : 0;
}

void freshDestination(benchmark::State& state, const std::string& dst) {
  state.PauseTiming();
  std::system(("rm -rf " + dst + " && sync").c_str());
  state.ResumeTiming();
}

// One copy job on the controller's thread, waited for; true when it ended
// with code 0.
bool runController(const std::string& src, const std::string& dst) {
  CCopyFileController controller;
  controller.setCopyDir(src.c_str(), dst.c_str());
  controller.setFileMask("*.*");
  controller.copySubDirectories(1);
  controller.setCreateDir(1);
  controller.setCallbackFn(&onEvent);
  {
    std::lock_guard<std::mutex> guard(g_lock);
    g_counted = g_finished = false;
  }
  controller.CreateThread();
  controller.PostThreadMessage(WM_COPYFILES, 0, 0);
  std::unique_lock<std::mutex> guard(g_lock);
  g_done.wait(guard, [] { return g_finished; });
  return g_lastCode == 0;
}

bool runCp(const std::string& src, const std::string& dst) { return std::system(("cp -r " + src + " " + dst).c_str()) == 0; }

void copyWithController(benchmark::State& state, const char* tree) {
  const std::string src = trees().root + "/" + tree, dst = trees().root + "/out";
  const long before = maxRssKib(RUSAGE_SELF);
  for (auto _ : state) {
    freshDestination(state, dst);
    if (!runController(src, dst)) state.SkipWithError("the copy job failed");
  }
  state.counters["maxrss_kib"] = static_cast<double>(maxRssKib(RUSAGE_SELF));
  state.counters["rss_growth_kib"] = static_cast<double>(maxRssKib(RUSAGE_SELF) - before);
}

void copyWithCp(benchmark::State& state, const char* tree) {
  const std::string src = trees().root + "/" + tree, dst = trees().root + "/out";
  for (auto _ : state) {
    freshDestination(state, dst);
    if (!runCp(src, dst)) state.SkipWithError("cp -r failed");
  }
  state.counters["maxrss_kib"] = static_cast<double>(maxRssKib(RUSAGE_CHILDREN));
}

void BM_SmallFiles_Controller(benchmark::State& state) { copyWithController(state, "small"); }
void BM_SmallFiles_CpR(benchmark::State& state) { copyWithCp(state, "small"); }
void BM_LargeFile_Controller(benchmark::State& state) { copyWithController(state, "large"); }
void BM_LargeFile_CpR(benchmark::State& state) { copyWithCp(state, "large"); }

// The two side by side in one benchmark, taking turns which goes first in
// each round, so that both meet the same state of the file system (ext4
// spends much of a file creation looking past recently deleted inodes, and
// every round deletes a whole tree). Reports each one's mean time and the
// ratio controller / cp.
void sideBySide(benchmark::State& state, const char* tree) {
  const std::string src = trees().root + "/" + tree, dst = trees().root + "/out";
  double controllerSeconds = 0, cpSeconds = 0;
  int round = 0;
  // Each run starts from an empty destination and flushed disks (untimed).
  auto timed = [&](bool (*run)(const std::string&, const std::string&), double* seconds, const char* what) {
    std::system(("rm -rf " + dst + " && sync").c_str());
    const auto start = std::chrono::steady_clock::now();
    if (!run(src, dst)) state.SkipWithError(what);
    *seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  auto controllerRun = [&] { timed(&runController, &controllerSeconds, "the copy job failed"); };
  auto cpRun = [&] { timed(&runCp, &cpSeconds, "cp -r failed"); };
  for (auto _ : state) {
    if (round++ % 2 == 0) {
      controllerRun();
      cpRun();
    } else {
      cpRun();
      controllerRun();
    }
  }
  state.counters["controller_ms"] = controllerSeconds * 1000 / round;
  state.counters["cp_ms"] = cpSeconds * 1000 / round;
  state.counters["ratio"] = cpSeconds > 0 ? controllerSeconds / cpSeconds : 0;
}

void BM_SmallFiles_SideBySide(benchmark::State& state) { sideBySide(state, "small"); }
void BM_LargeFile_SideBySide(benchmark::State& state) { sideBySide(state, "large"); }

BENCHMARK(BM_SmallFiles_Controller)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_SmallFiles_CpR)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_LargeFile_Controller)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_LargeFile_CpR)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SmallFiles_SideBySide)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_LargeFile_SideBySide)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
