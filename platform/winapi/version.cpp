// Version resources read from PE32 and PE32+ files.
//
// The file is read with pread through a reader that refuses any range
// outside the file; relative virtual addresses are mapped to file offsets
// through the section table and must lie in a section's raw data. The walk
// goes: DOS header -> "PE\0\0" -> optional header (magic 0x10B or 0x20B) ->
// data directory 2 (resources) -> resource directory type 16 (RT_VERSION) ->
// name (1 preferred) -> language (neutral, then US English, else the first)
// -> data entry -> VS_VERSIONINFO block.
//
// The block handed to the caller is the raw VS_VERSIONINFO (root length
// rounded up to 4 bytes) followed by an area holding every string value
// converted to the ANSI code page: a value at offset o of the block is kept
// at ansiBase + o / 2, so the copies never overlap (a UTF-16 value of n
// characters takes 2n bytes of the block, its copy n + 1).

#include "platform/framework/coding.h"
#include "platform/posix/error.h"
#include "platform/posix/fd.h"
#include "platform/posix/files.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/shell.h>
#include <sundry/platform/version.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

using sundry::platform::DecodeFixed16;
using sundry::platform::DecodeFixed32;
using sundry::platform::posix::NativePath;
using sundry::platform::posix::SetLastErrorFromErrno;

constexpr uint16_t kRtVersion = 16;
constexpr uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr size_t kMaxBlock = 0xFFFF;  // wLength is 16 bits
constexpr int kMaxTreeDepth = 8;

size_t align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

// A read-only file whose reads never go past its end.
class FileReader {
 public:
  // 0 on success, else the Win32 code (also stored as the last error).
  DWORD open(const char* path) {
    const std::string native = NativePath(path);
    // A directory is refused as Windows refuses it; a device, a FIFO or a
    // socket holds no image.
    m_fd = sundry::platform::posix::OpenRegularFile(native, O_RDONLY);
    if (!m_fd) {
      if (errno == EISDIR) return fail(ERROR_ACCESS_DENIED);
      if (errno == ENODEV) return fail(ERROR_BAD_FORMAT);
      return SetLastErrorFromErrno(errno, "open", native.c_str());
    }
    struct stat st;
    if (::fstat(m_fd.get(), &st) != 0) return SetLastErrorFromErrno(errno, "fstat", native.c_str());
    m_size = static_cast<uint64_t>(st.st_size);
    return 0;
  }
  // Reads exactly n bytes at offset; false when the range is not all inside
  // the file or the read fails.
  bool read(uint64_t offset, void* buf, size_t n) const {
    if (offset > m_size || n > m_size - offset) return false;
    // Short: an error, or the file shrank meanwhile.
    return sundry::platform::posix::ReadFull(m_fd.get(), buf, n, offset) == static_cast<ssize_t>(n);
  }
  uint64_t size() const { return m_size; }
  static DWORD fail(DWORD code) {
    SetLastError(code);
    return code;
  }

 private:
  sundry::platform::posix::UniqueFd m_fd;
  uint64_t m_size = 0;
};

struct Section {
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawSize;
  uint32_t rawOffset;
};

// Reads by relative virtual address through the section table.
class ImageReader {
 public:
  ImageReader(const FileReader& file, std::vector<Section> sections)
      : m_file(file), m_sections(std::move(sections)) {}

  // Exactly n bytes at rva, all of them inside one section's raw data.
  bool read(uint64_t rva, void* buf, size_t n) const {
    for (const Section& s : m_sections) {
      if (rva < s.virtualAddress) continue;
      const uint64_t into = rva - s.virtualAddress;
      const uint64_t extent = s.virtualSize != 0 && s.virtualSize < s.rawSize ? s.virtualSize : s.rawSize;
      if (into >= extent) continue;
      if (n > extent - into) return false;
      return m_file.read(static_cast<uint64_t>(s.rawOffset) + into, buf, n);
    }
    return false;
  }

 private:
  const FileReader& m_file;
  std::vector<Section> m_sections;
};

DWORD badFormat() { return FileReader::fail(ERROR_BAD_FORMAT); }

// One level of the resource directory: the entry whose id is wanted (the
// first of preferred ids that is present, else the first entry when
// anyFallback), its OffsetToData in *target. 0 or a Win32 code.
DWORD pickEntry(const ImageReader& image, uint32_t resBase, uint32_t dirOffset, const uint16_t* preferred,
                size_t nPreferred, bool anyFallback, DWORD notFound, uint32_t* target) {
  uint8_t hdr[16];
  if (!image.read(static_cast<uint64_t>(resBase) + dirOffset, hdr, sizeof hdr)) return badFormat();
  const size_t named = DecodeFixed16(hdr + 12), ids = DecodeFixed16(hdr + 14), total = named + ids;
  if (total == 0) return FileReader::fail(notFound);
  std::vector<uint8_t> entries(total * 8);
  if (!image.read(static_cast<uint64_t>(resBase) + dirOffset + 16, entries.data(), entries.size()))
    return badFormat();
  for (size_t p = 0; p < nPreferred; ++p) {
    for (size_t i = named; i < total; ++i) {
      const uint8_t* e = &entries[i * 8];
      const uint32_t name = DecodeFixed32(e);
      if ((name & kSubdirectoryFlag) == 0 && name == preferred[p]) {
        *target = DecodeFixed32(e + 4);
        return 0;
      }
    }
  }
  if (!anyFallback) return FileReader::fail(notFound);
  *target = DecodeFixed32(&entries[4]);
  return 0;
}

// Finds the version resource and reads its VS_VERSIONINFO block (root
// length bytes) into block. 0 or a Win32 code, also set as the last error.
DWORD readVersionBlock(const char* path, std::vector<uint8_t>& block) {
  if (path == nullptr) return FileReader::fail(ERROR_INVALID_PARAMETER);
  FileReader file;
  if (DWORD rc = file.open(path)) return rc;

  uint8_t dos[64];
  if (!file.read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return badFormat();
  const uint64_t peOffset = DecodeFixed32(dos + 0x3C);
  uint8_t coff[24];
  if (!file.read(peOffset, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return badFormat();
  const size_t nSections = DecodeFixed16(coff + 6);
  const size_t optSize = DecodeFixed16(coff + 20);
  const uint64_t optOffset = peOffset + sizeof coff;

  std::vector<uint8_t> opt(optSize);
  if (optSize < 2 || !file.read(optOffset, opt.data(), optSize)) return badFormat();
  size_t countAt, dirsAt;
  switch (DecodeFixed16(opt.data())) {
    case 0x10B: countAt = 92, dirsAt = 96; break;    // PE32
    case 0x20B: countAt = 108, dirsAt = 112; break;  // PE32+
    default: return badFormat();
  }
  if (optSize < dirsAt) return badFormat();
  const uint32_t nDirs = DecodeFixed32(&opt[countAt]);
  if (nDirs < 3) return FileReader::fail(ERROR_RESOURCE_DATA_NOT_FOUND);
  if (optSize < dirsAt + 3 * 8) return badFormat();
  const uint32_t resBase = DecodeFixed32(&opt[dirsAt + 16]);
  const uint32_t resSize = DecodeFixed32(&opt[dirsAt + 20]);
  if (resBase == 0 || resSize == 0) return FileReader::fail(ERROR_RESOURCE_DATA_NOT_FOUND);

  // The section table; its size is bounded by the file, which read() checks.
  std::vector<uint8_t> table(nSections * 40);
  if (!file.read(optOffset + optSize, table.data(), table.size())) return badFormat();
  std::vector<Section> sections(nSections);
  for (size_t i = 0; i < nSections; ++i) {
    const uint8_t* s = &table[i * 40];
    sections[i] = Section{DecodeFixed32(s + 12), DecodeFixed32(s + 8), DecodeFixed32(s + 16), DecodeFixed32(s + 20)};
  }
  ImageReader image(file, std::move(sections));

  // Type, then name, then language; the first two levels must lead to
  // sub-directories, the last to a data entry.
  static const uint16_t kType[] = {kRtVersion};
  static const uint16_t kName[] = {1};
  static const uint16_t kLanguage[] = {0, 0x409};
  uint32_t off;
  if (DWORD rc = pickEntry(image, resBase, 0, kType, 1, false, ERROR_RESOURCE_TYPE_NOT_FOUND, &off)) return rc;
  if ((off & kSubdirectoryFlag) == 0) return badFormat();
  if (DWORD rc = pickEntry(image, resBase, off & ~kSubdirectoryFlag, kName, 1, true,
                           ERROR_RESOURCE_TYPE_NOT_FOUND, &off))
    return rc;
  if ((off & kSubdirectoryFlag) == 0) return badFormat();
  if (DWORD rc = pickEntry(image, resBase, off & ~kSubdirectoryFlag, kLanguage, 2, true,
                           ERROR_RESOURCE_TYPE_NOT_FOUND, &off))
    return rc;
  if ((off & kSubdirectoryFlag) != 0) return badFormat();
  uint8_t leaf[16];
  if (!image.read(static_cast<uint64_t>(resBase) + off, leaf, sizeof leaf)) return badFormat();
  const uint32_t dataRva = DecodeFixed32(leaf);
  const size_t dataSize = DecodeFixed32(leaf + 4) < kMaxBlock ? DecodeFixed32(leaf + 4) : kMaxBlock;

  // The root block: its length must fit the resource and hold the key.
  uint8_t head[6];
  if (dataSize < sizeof head || !image.read(dataRva, head, sizeof head)) return badFormat();
  const size_t rootLength = DecodeFixed16(head);
  static const char16_t kRootKey[] = u"VS_VERSION_INFO";
  const size_t minimum = 6 + sizeof kRootKey;
  if (rootLength < minimum || rootLength > dataSize) return badFormat();
  block.resize(rootLength);
  if (!image.read(dataRva, block.data(), rootLength)) return badFormat();
  for (size_t i = 0; i < sizeof kRootKey / 2; ++i)
    if (DecodeFixed16(&block[6 + 2 * i]) != static_cast<uint16_t>(kRootKey[i])) return badFormat();
  return 0;
}

// One node of the VS_VERSIONINFO tree, as offsets into the block.
struct Node {
  size_t start = 0, end = 0;         // the node is [start, end)
  size_t keyStart = 0, keyChars = 0;  // UTF-16 key without its terminator
  size_t valueStart = 0, valueBytes = 0;
  size_t childrenStart = 0;
  uint16_t type = 0;  // 1 text, 0 binary
};

// Parses the node at start inside [0, limit); false when its length or key
// does not fit.
bool parseNode(const uint8_t* base, size_t limit, size_t start, Node& n) {
  if (start > limit || limit - start < 6) return false;
  const size_t length = DecodeFixed16(base + start);
  if (length < 6 || length > limit - start) return false;
  n.start = start;
  n.end = start + length;
  n.type = DecodeFixed16(base + start + 4);
  n.keyStart = start + 6;
  size_t p = n.keyStart;
  while (p + 2 <= n.end && DecodeFixed16(base + p) != 0) p += 2;
  if (p + 2 > n.end) return false;  // no terminator
  n.keyChars = (p - n.keyStart) / 2;
  n.valueStart = align4(p + 2) < n.end ? align4(p + 2) : n.end;
  const size_t declared = DecodeFixed16(base + start + 2) * (n.type == 1 ? 2u : 1u);
  n.valueBytes = declared < n.end - n.valueStart ? declared : n.end - n.valueStart;
  n.childrenStart = align4(n.valueStart + n.valueBytes) < n.end ? align4(n.valueStart + n.valueBytes) : n.end;
  return true;
}

// Calls visit(child) for each child of parent, stopping at the first child
// that does not parse.
template <class Visit>
void forEachChild(const uint8_t* base, const Node& parent, Visit visit) {
  size_t pos = parent.childrenStart;
  Node child;
  while (pos < parent.end && parseNode(base, parent.end, pos, child)) {
    if (!visit(child)) return;
    pos = align4(child.end);
  }
}

size_t ansiBase(size_t rootLength) { return align4(rootLength); }
size_t neededSize(size_t rootLength) { return align4(ansiBase(rootLength) + rootLength / 2 + 2); }

// The ANSI copy of a text node's value: where it is kept.
char* ansiSlot(uint8_t* block, size_t rootLength, const Node& n) {
  return reinterpret_cast<char*>(block + ansiBase(rootLength) + n.valueStart / 2);
}

void convertStrings(uint8_t* block, size_t rootLength, const Node& node, int depth) {
  if (depth > kMaxTreeDepth) return;
  if (node.type == 1 && node.valueBytes > 0) {
    std::u16string text;
    for (size_t p = node.valueStart; p + 2 <= node.valueStart + node.valueBytes; p += 2) {
      const char16_t c = DecodeFixed16(block + p);
      if (c == 0) break;
      text.push_back(c);
    }
    const std::string ansi = sundry::platform::AnsiFromWide(text);
    char* slot = ansiSlot(block, rootLength, node);
    std::memcpy(slot, ansi.data(), ansi.size());
    slot[ansi.size()] = '\0';
  }
  forEachChild(block, node, [&](const Node& child) {
    convertStrings(block, rootLength, child, depth + 1);
    return true;
  });
}

// Case-insensitive comparison of a node's UTF-16 key with an ANSI name.
bool keyEquals(const uint8_t* base, const Node& n, std::string_view name) {
  if (name.size() != n.keyChars) return false;
  auto fold = [](char16_t c) -> char16_t { return c >= u'a' && c <= u'z' ? c - 32 : c; };
  for (size_t i = 0; i < n.keyChars; ++i) {
    // One character at a time: short enough never to allocate.
    const std::u16string wide = sundry::platform::WideFromAnsi(name.substr(i, 1));
    if (fold(DecodeFixed16(base + n.keyStart + 2 * i)) != fold(wide[0])) return false;
  }
  return true;
}

}  // namespace

extern "C" DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle != nullptr) *lpdwHandle = 0;
  try {
    std::vector<uint8_t> block;
    if (readVersionBlock(lptstrFilename, block) != 0) return 0;
    return static_cast<DWORD>(neededSize(block.size()));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

extern "C" BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  if (lpData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    std::vector<uint8_t> block;
    if (readVersionBlock(lptstrFilename, block) != 0) return FALSE;
    const size_t rootLength = block.size();
    if (dwLen < neededSize(rootLength)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    block.resize(neededSize(rootLength), 0);
    Node root;
    if (parseNode(block.data(), rootLength, 0, root)) convertStrings(block.data(), rootLength, root, 0);
    std::memcpy(lpData, block.data(), block.size());
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

extern "C" BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
  if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr || puLen == nullptr) return FALSE;
  // The caller's block is writable memory it got from GetFileVersionInfoA;
  // only reads happen here.
  uint8_t* base = static_cast<uint8_t*>(const_cast<void*>(pBlock));
  const size_t rootLength = DecodeFixed16(base);
  Node node;
  if (!parseNode(base, rootLength, 0, node)) return FALSE;

  std::string_view rest(lpSubBlock);
  bool isRoot = true;
  while (!rest.empty()) {
    const size_t sep = rest.find_first_of("\\/");
    const std::string_view name = rest.substr(0, sep);
    rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);
    if (name.empty()) continue;
    bool found = false;
    forEachChild(base, node, [&](const Node& child) {
      if (!keyEquals(base, child, name)) return true;
      node = child;
      found = true;
      return false;
    });
    if (!found) return FALSE;
    isRoot = false;
  }

  if (isRoot) {
    if (node.valueBytes < sizeof(VS_FIXEDFILEINFO) || DecodeFixed32(base + node.valueStart) != VS_FFI_SIGNATURE)
      return FALSE;
    *lplpBuffer = base + node.valueStart;
    *puLen = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
  }
  if (node.type == 1 && node.valueBytes > 0) {
    char* text = ansiSlot(base, rootLength, node);
    *lplpBuffer = text;
    *puLen = static_cast<UINT>(std::strlen(text) + 1);
    return TRUE;
  }
  *lplpBuffer = base + node.valueStart;
  *puLen = static_cast<UINT>(node.valueBytes);
  return TRUE;
}

namespace sundry::platform {

BOOL GetFileModificationTime(const char* path, time_t* modified) {
  if (path == nullptr || modified == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return posix::OrOutOfMemory<BOOL>(FALSE, [&] {
    const std::string native = NativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) {
      SetLastErrorFromErrno(errno, "stat", native.c_str());
      return FALSE;
    }
    *modified = st.st_mtime;
    return TRUE;
  });
}

}  // namespace sundry::platform
