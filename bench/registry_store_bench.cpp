// The registry functions beside raw SQLite doing the same work in the same
// run: the same journal (WAL) and sync (FULL) settings, prepared
// statements, and for the raw side the fastest layout for the job (one
// WITHOUT ROWID table keyed by key path and value name).
//
// Pairs to compare (targets):
//   Reg_QueryOpenHandle   / Raw_PointLookup   read through an open handle, within 2x
//   Reg_OpenQueryClose    / Raw_PointLookup   open, read and close, within 5x
//   Reg_SetDword          / Raw_Upsert        committed write, at least 0.5x the rate
//   Reg_Enumerate10000                        10,000 values enumerated, under 10 ms
//   (Raw_Enumerate10000 for reference)
//
// Run by hand: build-*/bench/registry_store_bench [--benchmark_filter=...]

#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>

#include "platform/winapi/registry_internal.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace sundry::platform;

namespace {

constexpr int kManyValues = 10000;
const char* const kKeyPath = "Software\\Bench\\Key";
const char* const kManyPath = "Software\\Bench\\Many";

struct Env {
  std::string dir;
  sqlite3* raw = nullptr;
  sqlite3_stmt* rawGet = nullptr;
  sqlite3_stmt* rawUpsert = nullptr;
  sqlite3_stmt* rawBegin = nullptr;
  sqlite3_stmt* rawCommit = nullptr;
  sqlite3_stmt* rawList = nullptr;

  Env() {
    char tmpl[] = "/tmp/sundry-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    dir = tmpl;
    setenv("SUNDRY_REGISTRY", (dir + "/registry.db").c_str(), 1);
    RegistryResetForTesting();

    HKEY h = nullptr;
    Check(RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
    DWORD dw = 42;
    Check(RegSetValueExA(h, "dw", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dw), 4));
    RegCloseKey(h);
    Check(RegCreateKeyExA(HKEY_CURRENT_USER, kManyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));

    Check(sqlite3_open((dir + "/raw.db").c_str(), &raw) == SQLITE_OK ? 0 : 1);
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
         "CREATE TABLE kv(path BLOB, name BLOB, type INTEGER, data BLOB, PRIMARY KEY(path, name)) WITHOUT ROWID;");
    rawGet = Prepare("SELECT type, data FROM kv WHERE path=?1 AND name=?2");
    rawUpsert = Prepare("INSERT INTO kv VALUES(?1, ?2, ?3, ?4) ON CONFLICT(path, name) DO UPDATE SET "
                        "type=excluded.type, data=excluded.data");
    rawBegin = Prepare("BEGIN IMMEDIATE");
    rawCommit = Prepare("COMMIT");
    rawList = Prepare("SELECT name, type, data FROM kv WHERE path=?1");

    // The same contents on both sides, the 10,000 values in one transaction
    // each. The registry functions have no batch call and commit every
    // write, so the store is filled through its own schema (see
    // platform/regstore/registry_store.h) to keep the setup short.
    RawPut(kKeyPath, "dw", dw);
    RegCloseKey(h);
    sqlite3* reg = nullptr;
    Check(sqlite3_open((dir + "/registry.db").c_str(), &reg) == SQLITE_OK ? 0 : 1);
    Check(sqlite3_exec(reg,
                       "BEGIN;"
                       "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 9999) "
                       "INSERT INTO vals(key, id, name, fold, type, data) "
                       "SELECT (SELECT id FROM keys WHERE path = CAST('HKEY_CURRENT_USER\\SOFTWARE\\BENCH\\MANY' AS BLOB)), i + 1,"
                       " CAST('value' || i AS BLOB), CAST('VALUE' || i AS BLOB), 4,"
                       " randomblob(4) FROM n;"
                       "COMMIT;",
                       nullptr, nullptr, nullptr) == SQLITE_OK
              ? 0
              : 1);
    sqlite3_close(reg);
    Exec("BEGIN");
    for (int i = 0; i < kManyValues; ++i) RawPut(kManyPath, "value" + std::to_string(i), static_cast<DWORD>(i), false);
    Exec("COMMIT");
  }

  ~Env() {
    for (sqlite3_stmt* st : {rawGet, rawUpsert, rawBegin, rawCommit, rawList}) sqlite3_finalize(st);
    sqlite3_close(raw);
    RegistryResetForTesting();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  static void Check(LONG rc) {
    if (rc != 0) {
      std::fprintf(stderr, "setup failed: %ld\n", static_cast<long>(rc));
      std::abort();
    }
  }
  void Exec(const char* sql) { Check(sqlite3_exec(raw, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : 1); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v3(raw, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) == SQLITE_OK ? 0 : 1);
    return st;
  }
  // One upsert; in its own committed transaction unless txn is false.
  void RawPut(const std::string& path, const std::string& name, DWORD v, bool txn = true) {
    if (txn) Step(rawBegin);
    sqlite3_bind_blob(rawUpsert, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    sqlite3_bind_blob(rawUpsert, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_int(rawUpsert, 3, REG_DWORD);
    sqlite3_bind_blob(rawUpsert, 4, &v, 4, SQLITE_STATIC);
    Step(rawUpsert);
    if (txn) Step(rawCommit);
  }
  static void Step(sqlite3_stmt* st) {
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    Check(rc == SQLITE_DONE ? 0 : 1);
  }
};

Env* g_env = nullptr;

void Raw_PointLookup(benchmark::State& state) {
  const std::string path = kKeyPath, name = "dw";
  sqlite3_stmt* st = g_env->rawGet;
  for (auto _ : state) {
    sqlite3_bind_blob(st, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    sqlite3_bind_blob(st, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    DWORD out = 0, type = 0;
    if (sqlite3_step(st) == SQLITE_ROW) {
      type = static_cast<DWORD>(sqlite3_column_int(st, 0));
      const void* p = sqlite3_column_blob(st, 1);
      if (p && sqlite3_column_bytes(st, 1) == 4) std::memcpy(&out, p, 4);
    }
    sqlite3_reset(st);
    benchmark::DoNotOptimize(out);
    benchmark::DoNotOptimize(type);
  }
}
BENCHMARK(Raw_PointLookup)->UseRealTime();

void Reg_QueryOpenHandle(benchmark::State& state) {
  HKEY h = nullptr;
  Env::Check(RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &h));
  for (auto _ : state) {
    DWORD out = 0, type = 0, size = 4;
    LONG rc = RegQueryValueExA(h, "dw", nullptr, &type, reinterpret_cast<BYTE*>(&out), &size);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(out);
  }
  RegCloseKey(h);
}
BENCHMARK(Reg_QueryOpenHandle)->UseRealTime();

void Reg_OpenQueryClose(benchmark::State& state) {
  for (auto _ : state) {
    HKEY h = nullptr;
    DWORD out = 0, type = 0, size = 4;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &h);
    rc |= RegQueryValueExA(h, "dw", nullptr, &type, reinterpret_cast<BYTE*>(&out), &size);
    rc |= RegCloseKey(h);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(Reg_OpenQueryClose)->UseRealTime();

void Raw_Upsert(benchmark::State& state) {
  DWORD v = 0;
  for (auto _ : state) g_env->RawPut(kKeyPath, "written", ++v);
}
BENCHMARK(Raw_Upsert)->UseRealTime()->MinTime(2.0);

void Reg_SetDword(benchmark::State& state) {
  HKEY h = nullptr;
  Env::Check(RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_ALL_ACCESS, &h));
  DWORD v = 0;
  for (auto _ : state) {
    ++v;
    LONG rc = RegSetValueExA(h, "written", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
    if (rc != ERROR_SUCCESS) state.SkipWithError("write failed");
  }
  RegCloseKey(h);
}
BENCHMARK(Reg_SetDword)->UseRealTime()->MinTime(2.0);

void Raw_Enumerate10000(benchmark::State& state) {
  const std::string path = kManyPath;
  sqlite3_stmt* st = g_env->rawList;
  char name[64];
  BYTE data[16];
  for (auto _ : state) {
    sqlite3_bind_blob(st, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    int n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      int len = sqlite3_column_bytes(st, 0);
      std::memcpy(name, sqlite3_column_blob(st, 0), static_cast<size_t>(len));
      name[len] = 0;
      std::memcpy(data, sqlite3_column_blob(st, 2), static_cast<size_t>(sqlite3_column_bytes(st, 2)));
      ++n;
    }
    sqlite3_reset(st);
    if (n != kManyValues) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(Raw_Enumerate10000)->UseRealTime()->Unit(benchmark::kMillisecond);

// What the key tree loader does: the counts first, then every value by
// rising index.
void Reg_Enumerate10000(benchmark::State& state) {
  HKEY h = nullptr;
  Env::Check(RegOpenKeyExA(HKEY_CURRENT_USER, kManyPath, 0, KEY_READ, &h));
  for (auto _ : state) {
    DWORD count = 0, maxName = 0, maxData = 0;
    Env::Check(RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                                &maxData, nullptr, nullptr));
    std::vector<char> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    DWORD n = 0;
    for (; n < count; ++n) {
      DWORD cch = maxName + 1, size = maxData + 1, type = 0;
      if (RegEnumValueA(h, n, name.data(), &cch, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    }
    if (n != kManyValues) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(data.data());
  }
  RegCloseKey(h);
}
BENCHMARK(Reg_Enumerate10000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Env env;
  g_env = &env;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_env = nullptr;
  return 0;
}
