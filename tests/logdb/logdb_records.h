#pragma once
// Records that show when they are torn or mixed with another, for the
// tests that write one log from several processes or kill its writer.

#include "support/testutil.h"

#include <sundry/logdb/LogDB.h>

#include "platform/framework/coding.h"

#include <cstring>
#include <filesystem>
#include <vector>

namespace sundry::test {

// Record n of writer w, len bytes: the library stamps bytes 0..3 with the
// append counter; byte 4 is w, bytes 5..8 are n, and the rest is derived
// from both.
inline void FillRecord(unsigned char* r, LONG len, int w, LONG n) {
  std::memset(r, 0, 4);
  r[4] = static_cast<unsigned char>(w);
  platform::EncodeFixed32(r + 5, static_cast<uint32_t>(n));
  for (LONG i = 9; i < len; ++i) r[i] = static_cast<unsigned char>(w * 31 + n * 7 + i);
}

inline LONG RecordNumber(const unsigned char* r) { return static_cast<LONG>(platform::DecodeFixed32(r + 5)); }
inline LONG RecordStamp(const unsigned char* r) { return static_cast<LONG>(platform::DecodeFixed32(r)); }

inline bool RecordIsWhole(const unsigned char* r, LONG len) {
  std::vector<unsigned char> expected(static_cast<size_t>(len));
  FillRecord(expected.data(), len, r[4], RecordNumber(r));
  return std::memcmp(r + 4, expected.data() + 4, static_cast<size_t>(len) - 4) == 0;
}

// The append counter as the file holds it, or -99.
inline LONG CounterOnDisk(const std::string& path) {
  CLogDB::HeaderInfo h;
  return CLogDB::readHeader(path.c_str(), &h) == 0 ? h.lAppendCount : -99;
}

// A scratch directory in memory when there is one: commits cost nothing
// there, and the locks are the same.
class FastTempDir {
 public:
  FastTempDir() = default;
  const std::string& path() const { return m_dir.path(); }
  std::string file(const std::string& name) const { return m_dir.file(name); }

 private:
  static const char* base() {
    std::error_code ec;
    return std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : nullptr;
  }
  ScopedEnv m_tmp{"TMPDIR", base() != nullptr ? base() : std::getenv("TMPDIR")};
  TempDir m_dir;
};

}  // namespace sundry::test
