// CLogDB speed with 64-byte records.
//
//   DurableWriteYardstick   a 64-byte write appended to a file, then fdatasync:
//                           what the disk allows for one durable write
//   DurableAppend           CLogDB appends to a ring with room (slot, then
//                           sub-header, each committed); aim: >= 0.45x the
//                           yardstick's rate
//   DurableAppendFullRing   appends that reuse the oldest slot (three commits)
//   ReadEveryRecord         getRecord over a 100,000-record log in the page
//                           cache; aim: >= 1,000,000 records/s
//   ScanLog                 startScan + getNextRecord over the same log
//   SearchLog               search over the same log: no record matches, so
//                           every record is compared
//   SearchLogEveryHundredth search with resume through the matches
//
// Files go to $SUNDRY_BENCH_DIR, else $TMPDIR, else /tmp: point it at the
// disk to be measured. Compare items_per_second within one run.

#include <benchmark/benchmark.h>
#include <sundry/logdb/LogDB.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr LONG kRecLen = 64;
constexpr LONG kBigLog = 100000;

std::string benchPath(const char* name) {
  const char* dir = std::getenv("SUNDRY_BENCH_DIR");
  if (dir == nullptr || *dir == '\0') dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  return std::string(dir) + "/sundry-logdb-bench-" + std::to_string(getpid()) + "-" + name;
}

void putLE32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Writes a log file directly: capacity slots, all live, the ring wrapped
// so that the oldest record sits at `first`. Record n (1 = oldest) holds
// its stamp, then "key" and n modulo 100 as text, then filler.
bool writeLog(const std::string& path, LONG capacity, LONG first) {
  const size_t slot = kRecLen + 1;
  std::vector<unsigned char> image(36 + static_cast<size_t>(capacity) * slot);
  std::memcpy(image.data(), "VELA", 4);
  putLE32(&image[4], 1);
  std::memcpy(&image[8], "BNCH", 4);
  putLE32(&image[12], 1);
  putLE32(&image[16], kRecLen);
  putLE32(&image[20], static_cast<uint32_t>(first));
  putLE32(&image[24], static_cast<uint32_t>(first == 0 ? capacity - 1 : first - 1));
  putLE32(&image[28], static_cast<uint32_t>(capacity));
  putLE32(&image[32], static_cast<uint32_t>(capacity));
  for (LONG n = 1; n <= capacity; ++n) {
    unsigned char* s = &image[36 + static_cast<size_t>((first + n - 1) % capacity) * slot];
    s[0] = 0xCF;
    putLE32(s + 1, static_cast<uint32_t>(n));
    std::snprintf(reinterpret_cast<char*>(s + 5), 8, "key%02d", static_cast<int>(n % 100));
    std::memset(s + 13, 'x', kRecLen - 12);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  return std::fclose(f) == 0 && ok;
}

void DurableWriteYardstick(benchmark::State& state) {
  const std::string path = benchPath("plain");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return state.SkipWithError("cannot create the file");
  unsigned char record[kRecLen] = {};
  for (auto _ : state) {
    if (::write(fd, record, sizeof record) != static_cast<ssize_t>(sizeof record) || ::fdatasync(fd) != 0) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  ::close(fd);
  std::remove(path.c_str());
}
BENCHMARK(DurableWriteYardstick)->UseRealTime()->MinTime(3.0);

void DurableAppend(benchmark::State& state) {
  const std::string path = benchPath("append.log");
  CLogDB db;
  if (db.open(path.c_str(), "BNCH", 1, kRecLen, 1000000, 1) != 0) return state.SkipWithError("cannot create");
  unsigned char record[kRecLen];
  std::memset(record, 'r', sizeof record);
  for (auto _ : state) {
    if (db.setRecord(record, 0, -1) != 0) {
      state.SkipWithError("append failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  db.close();
  std::remove(path.c_str());
}
BENCHMARK(DurableAppend)->UseRealTime()->MinTime(3.0);

void DurableAppendFullRing(benchmark::State& state) {
  const std::string path = benchPath("ring.log");
  if (!writeLog(path, 100, 37)) return state.SkipWithError("cannot write the log");
  CLogDB db;
  if (db.open(path.c_str(), "BNCH", 1, kRecLen, 100, 0) != 0) return state.SkipWithError("cannot open");
  unsigned char record[kRecLen];
  std::memset(record, 'r', sizeof record);
  for (auto _ : state) {
    if (db.setRecord(record, 0, -1) != 0) {
      state.SkipWithError("append failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  db.close();
  std::remove(path.c_str());
}
BENCHMARK(DurableAppendFullRing)->UseRealTime()->MinTime(3.0);

// The 100,000-record log, written once and read once so that it is in the
// page cache.
struct BigLog {
  std::string path = benchPath("big.log");
  bool ok = false;
  BigLog() {
    ok = writeLog(path, kBigLog, 40000);
    CLogDB db;
    std::vector<unsigned char> buf(kRecLen);
    ok = ok && db.open(path.c_str(), "BNCH", 1, kRecLen, kBigLog, 0) == 0;
    for (LONG i = 0; ok && i < kBigLog; ++i) ok = db.getRecord(buf.data(), i) == 0;
  }
  ~BigLog() { std::remove(path.c_str()); }
};

BigLog& bigLog() {
  static BigLog log;
  return log;
}

void ReadEveryRecord(benchmark::State& state) {
  if (!bigLog().ok) return state.SkipWithError("cannot make the log");
  CLogDB db;
  if (db.open(bigLog().path.c_str(), "BNCH", 1, kRecLen, kBigLog, 0) != 0) return state.SkipWithError("open");
  std::vector<unsigned char> buf(kRecLen);
  for (auto _ : state) {
    for (LONG i = 0; i < kBigLog; ++i)
      if (db.getRecord(buf.data(), i) != 0) return state.SkipWithError("read failed");
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * kBigLog);
}
BENCHMARK(ReadEveryRecord)->Unit(benchmark::kMillisecond);

void ScanLog(benchmark::State& state) {
  if (!bigLog().ok) return state.SkipWithError("cannot make the log");
  CLogDB db;
  if (db.open(bigLog().path.c_str(), "BNCH", 1, kRecLen, kBigLog, 0) != 0) return state.SkipWithError("open");
  std::vector<unsigned char> buf(kRecLen);
  int64_t records = 0;
  for (auto _ : state) {
    if (db.startScan() != 0) return state.SkipWithError("startScan failed");
    LONG slot;
    int rc;
    while ((rc = db.getNextRecord(buf.data(), &slot)) == 0) ++records;
    if (rc != 18) return state.SkipWithError("scan failed");
  }
  if (records != state.iterations() * kBigLog) return state.SkipWithError("scan missed records");
  state.SetItemsProcessed(records);
}
BENCHMARK(ScanLog)->Unit(benchmark::kMillisecond);

void SearchLog(benchmark::State& state) {
  if (!bigLog().ok) return state.SkipWithError("cannot make the log");
  CLogDB db;
  if (db.open(bigLog().path.c_str(), "BNCH", 1, kRecLen, kBigLog, 0) != 0) return state.SkipWithError("open");
  char key[] = "nokey";
  for (auto _ : state) {
    if (db.search(4, 5, key, 0, nullptr) != 0) return state.SkipWithError("unexpected match");
  }
  state.SetItemsProcessed(state.iterations() * kBigLog);
}
BENCHMARK(SearchLog)->Unit(benchmark::kMillisecond);

void SearchLogEveryHundredth(benchmark::State& state) {
  if (!bigLog().ok) return state.SkipWithError("cannot make the log");
  CLogDB db;
  if (db.open(bigLog().path.c_str(), "BNCH", 1, kRecLen, kBigLog, 0) != 0) return state.SkipWithError("open");
  char key[] = "key42";
  std::vector<unsigned char> out(kRecLen);
  for (auto _ : state) {
    LONG found = 0;
    for (int resume = 0; db.search(4, 5, key, resume, out.data()); resume = 1) ++found;
    if (found != kBigLog / 100) return state.SkipWithError("wrong number of matches");
  }
  state.SetItemsProcessed(state.iterations() * kBigLog);
}
BENCHMARK(SearchLogEveryHundredth)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
