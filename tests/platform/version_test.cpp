// Version resources of PE32 and PE32+ files (the fixtures of tests/data/pe,
// made by make_fixtures.sh), and the reader on damaged files: one case per
// damaged field, then a bounded run of seeded random damage.

#include "support/testutil.h"

#include <sundry/platform/version.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using sundry::test::ReadFile;

const std::string kDir = std::string(SUNDRY_TEST_DATA_DIR) + "/pe/";
const std::string kDll32 = kDir + "ver-5.1.2600.2180-pe32.dll";
const std::string kExe64 = kDir + "ver-1.2.345.6-pe64.exe";
const std::string kRcdataOnly = kDir + "rcdata-only-pe64.exe";
const std::string kNoResources = kDir + "nores-pe32.exe";

uint32_t rd32(const std::string& d, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, d.data() + at, 4);
  return v;
}
uint16_t rd16(const std::string& d, size_t at) { return static_cast<uint16_t>(rd32(d, at)); }
void put32(std::string& d, size_t at, uint32_t v) { std::memcpy(&d[at], &v, 4); }
void put16(std::string& d, size_t at, uint16_t v) { std::memcpy(&d[at], &v, 2); }

// Where the fields of a well-formed fixture are, by the PE/COFF layout.
struct Layout {
  size_t peOffset, optOffset, resDirEntry, headerEnd, rsrcHeader, rsrcRaw;
  size_t typeEntry;  // first entry of the type directory
  size_t langEntry;  // first entry of the first language directory
  size_t dataEntry;  // the IMAGE_RESOURCE_DATA_ENTRY of the first resource
  size_t block;      // the VS_VERSIONINFO in the file
  size_t fixed;      // its VS_FIXEDFILEINFO
  size_t stringNode, translation;  // the FileVersion and Translation nodes
};

Layout layoutOf(const std::string& d) {
  Layout l{};
  l.peOffset = rd32(d, 0x3C);
  l.optOffset = l.peOffset + 24;
  l.resDirEntry = l.optOffset + (rd16(d, l.optOffset) == 0x10B ? 96 : 112) + 2 * 8;
  const size_t sections = l.optOffset + rd16(d, l.peOffset + 20);
  l.headerEnd = sections + 40 * rd16(d, l.peOffset + 6);
  const uint32_t resRva = rd32(d, l.resDirEntry);
  for (size_t s = sections; s < l.headerEnd; s += 40)
    if (rd32(d, s + 12) == resRva) l.rsrcHeader = s, l.rsrcRaw = rd32(d, s + 20);
  if (l.rsrcRaw == 0) return l;  // no resources
  l.typeEntry = l.rsrcRaw + 16;
  const size_t nameDir = l.rsrcRaw + (rd32(d, l.typeEntry + 4) & 0x7FFFFFFF);
  l.langEntry = l.rsrcRaw + (rd32(d, nameDir + 16 + 4) & 0x7FFFFFFF) + 16;
  l.dataEntry = l.rsrcRaw + rd32(d, l.langEntry + 4);
  l.block = l.rsrcRaw + (rd32(d, l.dataEntry) - resRva);
  auto find = [&](const std::string& what, size_t back) {
    const size_t at = d.find(what, l.block);
    return at == std::string::npos ? 0 : at - back;
  };
  l.fixed = find("\xBD\x04\xEF\xFE", 0);
  l.stringNode = find(std::string("F\0i\0l\0e\0V\0e\0r", 14), 6);
  l.translation = find(std::string("T\0r\0a\0n\0s", 10), 6);
  return l;
}

// A file in memory, named by its /proc/self/fd path: rewriting a disk file
// for every damaged copy would make the run below slow.
class MemoryFile {
 public:
  MemoryFile() : m_fd(::memfd_create("pe", MFD_CLOEXEC)) { EXPECT_GE(m_fd, 0); }
  ~MemoryFile() { ::close(m_fd); }
  std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }
  void set(const std::string& data) {
    ASSERT_EQ(0, ::ftruncate(m_fd, 0));
    ASSERT_EQ(static_cast<ssize_t>(data.size()), ::pwrite(m_fd, data.data(), data.size(), 0));
  }

 private:
  int m_fd;
};

// The whole version block of a file, or an empty vector with the code.
std::vector<BYTE> versionBlock(const std::string& path, DWORD* error = nullptr) {
  DWORD handle = 1234;
  SetLastError(0);
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (error) *error = GetLastError();
  EXPECT_EQ(0u, handle);
  if (size == 0) return {};
  std::vector<BYTE> block(size);  // exactly the size: a read past it is caught by ASan
  EXPECT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data())) << path;
  return block;
}

// Every value a damaged block yields lies in its part of the block:
// binary values inside the VS_VERSIONINFO (its root length first), texts
// in the converted area after it, terminated.
void expectValuesInside(const std::vector<BYTE>& block, const std::string& what) {
  const size_t rootLength = block[0] | block[1] << 8;
  for (const char* q : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo", "\\StringFileInfo\\040904b0",
                        "\\StringFileInfo\\040904b0\\FileVersion", "\\StringFileInfo\\040904b0\\ProductName",
                        "\\StringFileInfo\\000004b0\\FileVersion"}) {
    LPVOID p = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(block.data(), q, &p, &len)) continue;
    const size_t offset = static_cast<const BYTE*>(p) - block.data();
    if (offset < rootLength) {
      EXPECT_LE(offset + len, rootLength) << what << q;
    } else {
      EXPECT_GE(offset, (rootLength + 3) & ~size_t{3}) << what << q;
      ASSERT_GE(len, 1u) << what << q;
      ASSERT_LE(offset + len, block.size()) << what << q;
      EXPECT_EQ(0, block[offset + len - 1]) << what << q;
    }
  }
}

TEST(VersionInfo, ErrorCodesTellWhyThereIsNoVersion) {
  sundry::test::TempDir dir;
  ASSERT_TRUE(sundry::test::WriteFile(dir.file("text.txt"), "MZ but nothing else"));
  const struct { std::string path; DWORD code; } cases[] = {
      {kNoResources, ERROR_RESOURCE_DATA_NOT_FOUND}, {kRcdataOnly, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {dir.file("text.txt"), ERROR_BAD_FORMAT},      {dir.file("absent"), ERROR_FILE_NOT_FOUND},
      {dir.path(), ERROR_ACCESS_DENIED}};
  for (const auto& c : cases) {
    DWORD error = 0;
    EXPECT_TRUE(versionBlock(c.path, &error).empty()) << c.path;
    EXPECT_WIN32(c.code, error) << c.path;
  }
  EXPECT_EQ(0u, GetFileVersionInfoSizeA(nullptr, nullptr));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(VersionInfo, QueriesStringsTranslationsAndTheRoot) {
  const std::vector<BYTE> block = versionBlock(kDll32);
  ASSERT_FALSE(block.empty());
  auto text = [&](const char* name) -> std::string {
    LPVOID p = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(block.data(), name, &p, &len)) return "<none>";
    EXPECT_EQ(std::strlen(static_cast<const char*>(p)) + 1, len) << name;
    return static_cast<const char*>(p);
  };
  for (const char* name : {"\\StringFileInfo\\040904b0\\FileVersion", "\\stringfileinfo\\040904B0\\FILEVERSION",
                           "/StringFileInfo/040904b0/FileVersion"})
    EXPECT_EQ("5.1.2600.2180", text(name)) << name;
  EXPECT_EQ("Sundry Test Fixtures", text("\\StringFileInfo\\040904b0\\CompanyName"));
  // UTF-16 in the file, Windows-1252 for the caller (U+20AC is 0x80).
  EXPECT_EQ("Sundry \xE9t\xE9 \x80", text("\\StringFileInfo\\040904b0\\ProductName"));
  LPVOID p = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &p, &len));
  ASSERT_EQ(4u, len);
  EXPECT_EQ(0, std::memcmp(p, "\x09\x04\xB0\x04", 4));
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &p, &len));
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), len);
  EXPECT_EQ(2u, static_cast<const VS_FIXEDFILEINFO*>(p)->dwFileType);
  // A name that is not there leaves the outputs alone.
  p = &len;
  len = 77;
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\Nope", &p, &len));
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion\\deeper", &p, &len));
  EXPECT_FALSE(VerQueryValueA(block.data(), nullptr, &p, &len));
  EXPECT_EQ(77u, len);
  EXPECT_EQ(static_cast<void*>(&len), p);

  // A buffer that is too small, or none, is refused and left alone.
  std::vector<BYTE> buf(block.size(), 0xAA);
  EXPECT_FALSE(GetFileVersionInfoA(kDll32.c_str(), 0, static_cast<DWORD>(buf.size() - 1), buf.data()));
  EXPECT_WIN32(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(std::vector<BYTE>(buf.size(), 0xAA), buf);
  EXPECT_FALSE(GetFileVersionInfoA(kDll32.c_str(), 0, static_cast<DWORD>(buf.size()), nullptr));
  EXPECT_WIN32(ERROR_INVALID_PARAMETER, GetLastError());
}

// One damaged field at a time (each case takes a check of the reader that
// the random run below seldom reaches): the reader reports the file as having no
// version (with the code given), or, for damage inside the block, finds
// only what is still whole; it never reads outside the file or the block.
#define PATCH [](std::string & d, [[maybe_unused]] const Layout& l)
TEST(VersionInfo, DamagedFieldsAreRefused) {
  MemoryFile file;
  const std::string path = file.path(), good = ReadFile(kDll32);
  const Layout l = layoutOf(good);
  ASSERT_TRUE(l.fixed && l.stringNode && l.translation);
  const DWORD kBad = ERROR_BAD_FORMAT, kInside = 0;
  const struct {
    const char* what;
    void (*patch)(std::string& d, const Layout& l);
    DWORD sizeError;               // kInside: the size is found, the damage is inside the block
    const char* absent = nullptr;  // a value the damage makes unreachable
  } cases[] = {
      {"DOS magic", PATCH { d[1] = 'X'; }, kBad},
      {"PE offset past the end", PATCH { put32(d, 0x3C, static_cast<uint32_t>(d.size() - 10)); }, kBad},
      {"PE offset near 4 GiB", PATCH { put32(d, 0x3C, 0xFFFFFFF0u); }, kBad},
      {"PE signature", PATCH { d[l.peOffset + 1] = 'F'; }, kBad},
      {"optional header magic", PATCH { put16(d, l.optOffset, 0x107); }, kBad},
      {"optional header size 0", PATCH { put16(d, l.peOffset + 20, 0); }, kBad},
      {"optional header cut inside its fixed fields", PATCH { put16(d, l.peOffset + 20, 90); }, kBad},
      {"optional header cut before the directories", PATCH { put16(d, l.peOffset + 20, 100); }, kBad},
      {"two data directories", PATCH { put32(d, l.resDirEntry - 20, 2); }, ERROR_RESOURCE_DATA_NOT_FOUND},
      {"resource directory RVA 0", PATCH { put32(d, l.resDirEntry, 0); }, ERROR_RESOURCE_DATA_NOT_FOUND},
      {"resource directory outside every section", PATCH { put32(d, l.resDirEntry, 0x7FFFFFF0u); }, kBad},
      {"65535 sections", PATCH { put16(d, l.peOffset + 6, 0xFFFF); }, kBad},
      {"resource raw data past the end", PATCH { put32(d, l.rsrcHeader + 20, 0xFFFFFF00u); }, kBad},
      {"resource section ends inside the version block",
       PATCH { put32(d, l.rsrcHeader + 8, static_cast<uint32_t>(l.block - l.rsrcRaw + 0x40)); }, kBad},
      {"65535 type entries", PATCH { put16(d, l.rsrcRaw + 14, 0xFFFF); }, kBad},
      {"type 17 instead of 16", PATCH { put32(d, l.typeEntry, 17); }, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"type entry is a leaf", PATCH { put32(d, l.typeEntry + 4, rd32(d, l.typeEntry + 4) & 0x7FFFFFFF); }, kBad},
      {"type entry points to itself forever", PATCH { put32(d, l.typeEntry + 4, 0x80000000u); }, kBad},
      {"language entry points past the section", PATCH { put32(d, l.langEntry + 4, 0x7FFFFFF0u); }, kBad},
      {"data entry RVA outside the sections", PATCH { put32(d, l.dataEntry, 0x10); }, kBad},
      {"data entry size 4", PATCH { put32(d, l.dataEntry + 4, 4); }, kBad},
      {"root length beyond the resource", PATCH { put16(d, l.block, 0xFFFF); }, kBad},
      {"root length smaller than its key", PATCH { put16(d, l.block, 20); }, kBad},
      {"root key", PATCH { d[l.block + 8] = 'T'; }, kBad},
      {"fixed information signature", PATCH { d[l.fixed] = 0; }, kInside, "\\"},
      {"fixed information cut short", PATCH { put16(d, l.block + 2, 40); }, kInside, "\\"},
      {"string node longer than its table", PATCH { put16(d, l.stringNode, 0x7000); }, kInside,
       "\\StringFileInfo\\040904b0\\FileVersion"},
      {"translation longer than its block, with a longer value",
       PATCH {
         put16(d, l.translation, 0x7000);
         put16(d, l.translation + 2, 0x1000);
       },
       kInside, "\\VarFileInfo\\Translation"},
      {"string node with a zero length", PATCH { put16(d, l.stringNode, 0); }, kInside},
      {"translation value longer than its node", PATCH { put16(d, l.translation + 2, 0x1000); }, kInside},
      {"string node ending with its key", PATCH { put16(d, l.stringNode, 6 + 2 * 12); }, kInside},
      {"root ending 4 bytes into its first child",
       PATCH { put16(d, l.block, static_cast<uint16_t>(l.fixed + 52 - l.block + 4)); }, kInside,
       "\\StringFileInfo\\040904b0\\FileVersion"},
      {"string key without a terminator",
       PATCH {
         for (size_t p = l.stringNode + 6; p < l.stringNode + rd16(d, l.stringNode); p += 2) put16(d, p, 'A');
       },
       kInside, "\\StringFileInfo\\040904b0\\FileVersion"},
  };
  for (const auto& c : cases) {
    std::string d = good;
    c.patch(d, l);
    file.set(d);
    DWORD error = 0;
    const std::vector<BYTE> block = versionBlock(path, &error);
    LPVOID p = nullptr;
    UINT len = 0;
    if (c.sizeError != kInside) {
      EXPECT_TRUE(block.empty()) << c.what;
      EXPECT_WIN32(c.sizeError, error) << c.what;
    } else {
      ASSERT_FALSE(block.empty()) << c.what;
      expectValuesInside(block, c.what);
      if (c.absent != nullptr) {
        EXPECT_FALSE(VerQueryValueA(block.data(), c.absent, &p, &len)) << c.what;
      }
    }
  }
}
#undef PATCH

// Seeded random damage: bytes overwritten (mostly in the headers and the
// resource section) or the file cut. ASan reports any read outside the
// file's data or the block.
TEST(VersionInfo, RandomDamageNeverReadsOutOfBounds) {
  MemoryFile file;
  const std::string path = file.path();
  std::mt19937 rng(20240131);
  int withVersion = 0, iterations = 0;
  for (const std::string& source : {kDll32, kExe64, kRcdataOnly, kNoResources}) {
    const std::string good = ReadFile(source);
    ASSERT_FALSE(good.empty()) << source;
    const Layout l = layoutOf(good);
    const size_t resStart = l.rsrcRaw != 0 ? l.rsrcRaw : l.headerEnd;
    for (int i = 0; i < 75; ++i, ++iterations) {
      std::string d = good;
      const unsigned mode = rng() % 10;
      if (mode == 0) d.resize(rng() % d.size());
      for (int k = mode == 0 ? 6 : static_cast<int>(rng() % 6); k < 6; ++k) {
        const size_t at = mode < 4 ? rng() % l.headerEnd : resStart + rng() % (d.size() - resStart);
        switch (rng() % 4) {
          case 0: d[at] = static_cast<char>(rng()); break;
          case 1: d[at] = static_cast<char>(0xFF); break;
          case 2: d[at] = 0; break;
          default: d[at] = static_cast<char>(d[at] ^ (1u << (rng() % 8)));
        }
      }
      file.set(d);
      const std::vector<BYTE> block = versionBlock(path);
      if (block.empty()) continue;
      ++withVersion;
      expectValuesInside(block, source + " damage " + std::to_string(i) + ": ");
    }
  }
  // Most damage to the version files leaves the block readable, so the
  // walk above was exercised, not skipped.
  EXPECT_GT(withVersion, iterations / 10);
}

}  // namespace
