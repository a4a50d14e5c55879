// Loading and searching key trees: the object model against a plain
// recursive walk through the registry functions, and the filtered search's
// peak heap on trees of 10,000 and 100,000 keys.
//
// The stores are generated once in /dev/shm (kept between runs) so that the
// set-up is not bound by the disk's sync rate.

#include <benchmark/benchmark.h>

#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>
#include <sundry/registry/RegistryKeysFiltered.h>

#include "platform/winapi/registry_internal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <sys/stat.h>
#include <vector>

// ---------------------------------------------------------------------------
// Heap accounting of C++ allocations: current and peak bytes.
namespace {
std::atomic<long long> g_current{0};
std::atomic<long long> g_peak{0};

void account(long long delta) {
  long long now = g_current.fetch_add(delta) + delta;
  long long peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

void* operator new(size_t size) {
  void* p = std::malloc(size + 16);
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<size_t*>(p) = size;
  account(static_cast<long long>(size));
  return static_cast<char*>(p) + 16;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  char* base = static_cast<char*>(p) - 16;
  account(-static_cast<long long>(*reinterpret_cast<size_t*>(base)));
  std::free(base);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

namespace {

const char kTop[] = "Software\\BenchTree";

// A tree below HKCU\Software\BenchTree with the given fan-out on each level,
// every key with `values` values.
void generateLevel(const std::string& path, const std::vector<int>& fanOut, size_t level, int values) {
  if (level >= fanOut.size()) return;
  for (int i = 0; i < fanOut[level]; ++i) {
    std::string child = path + "\\K" + std::to_string(i);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, child.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    for (int v = 0; v < values; ++v) {
      char name[16];
      std::snprintf(name, sizeof name, "Value%d", v);
      DWORD data = static_cast<DWORD>(v);
      RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4);
    }
    RegCloseKey(key);
    generateLevel(child, fanOut, level + 1, values);
  }
}

void generate(const std::vector<int>& fanOut, int values) {
  generateLevel(kTop, fanOut, 0, values);
  // Marks the store as complete.
  HKEY top = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, kTop, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &top, nullptr);
  DWORD done = 1;
  RegSetValueExA(top, "Complete", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&done), 4);
  RegCloseKey(top);
}

// Points the registry functions at a generated store of the given shape.
void useStore(const char* name, const std::vector<int>& fanOut, int values) {
  std::string path = std::string("/dev/shm/sundry-bench-") + name + ".db";
  sundry::platform::RegistryResetForTesting();
  setenv("SUNDRY_REGISTRY", path.c_str(), 1);
  HKEY top = nullptr;
  DWORD done = 0, size = 4;
  bool complete = RegOpenKeyExA(HKEY_CURRENT_USER, kTop, 0, KEY_READ, &top) == ERROR_SUCCESS &&
                  RegQueryValueExA(top, "Complete", nullptr, nullptr, reinterpret_cast<BYTE*>(&done), &size) ==
                      ERROR_SUCCESS;
  if (top) RegCloseKey(top);
  if (!complete) {
    sundry::platform::RegistryResetForTesting();
    std::remove(path.c_str());
    std::fprintf(stderr, "generating %s ...\n", path.c_str());
    generate(fanOut, values);
  }
}

// The plain walk: what a client would write with the registry functions.
long plainWalk(HKEY parent, const char* subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, subKey, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS) return 0;
  DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, &maxName, &maxData, nullptr,
                   nullptr);
  long seen = 1;
  std::vector<char> name(maxName + 1);
  std::vector<BYTE> data(maxData + 1);
  for (DWORD i = 0; i < values; ++i) {
    DWORD n = static_cast<DWORD>(name.size()), d = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueA(key, i, name.data(), &n, nullptr, &type, data.data(), &d) == ERROR_SUCCESS) ++seen;
  }
  char child[256];
  for (DWORD i = 0; i < subKeys; ++i) {
    DWORD n = sizeof child;
    if (RegEnumKeyExA(key, i, child, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      seen += plainWalk(key, child);
  }
  RegCloseKey(key);
  return seen;
}

long countTree(CRegistryKey& key) {
  long seen = 1 + key.getValueCount();
  CRegistryKey* child = nullptr;
  for (BOOL ok = key.getFirstSubKey(child); ok; ok = key.getNextSubKey(child)) seen += countTree(*child);
  return seen;
}

void BM_PlainRecursiveWalk(benchmark::State& state) {
  useStore("10k", {10, 10, 99}, 5);
  long seen = 0;
  for (auto _ : state) seen = plainWalk(HKEY_CURRENT_USER, kTop);
  state.counters["items"] = static_cast<double>(seen);
}
BENCHMARK(BM_PlainRecursiveWalk)->Unit(benchmark::kMillisecond);

void BM_RegistryKeyInitialize(benchmark::State& state) {
  useStore("10k", {10, 10, 99}, 5);
  long seen = 0;
  for (auto _ : state) {
    CRegistryKey tree;
    tree.initialize(HKEY_CURRENT_USER, kTop, 3, TRUE, FALSE, FALSE);
    seen = countTree(tree);
  }
  state.counters["items"] = static_cast<double>(seen);
}
BENCHMARK(BM_RegistryKeyInitialize)->Unit(benchmark::kMillisecond);

// A search with a key and a value filter. The matches stay open and on the
// heap until released, so besides the peak the counters give what the
// matches hold afterwards and the transient peak of the walk above that:
// the latter is what must not grow with the size of the tree.
void filteredSearch(benchmark::State& state, const char* store, const std::vector<int>& fanOut) {
  useStore(store, fanOut, 5);
  int matches = 0;
  long long peak = 0, held = 0;
  for (auto _ : state) {
    long long base = g_current.load();
    g_peak.store(base);
    CRegistryKeysFiltered found;
    found.setKeyFilter(*"K7", CRegistryKeysFiltered::eEQUAL);
    unsigned long three = 3;
    found.setValueFilter("Value3", &three, CRegistryKeysFiltered::eEQUAL, CRegistryKeysFiltered::eEQUAL);
    found.initialize(HKEY_CURRENT_USER, kTop, FALSE);
    matches = found.getCount();
    peak = g_peak.load() - base;
    held = g_current.load() - base;
  }
  state.counters["matches"] = matches;
  state.counters["peak_heap_KiB"] = static_cast<double>(peak) / 1024.0;
  state.counters["matches_heap_KiB"] = static_cast<double>(held) / 1024.0;
  state.counters["walk_peak_KiB"] = static_cast<double>(peak - held) / 1024.0;
}

void BM_FilteredSearch10k(benchmark::State& state) { filteredSearch(state, "10k", {10, 10, 99}); }
BENCHMARK(BM_FilteredSearch10k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FilteredSearch100k(benchmark::State& state) { filteredSearch(state, "100k", {10, 10, 10, 99}); }
BENCHMARK(BM_FilteredSearch100k)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
