// Shortcut files in the MS-SHLLINK binary format: built in memory, then
// written with one durable replacement.

#include "platform/framework/coding.h"
#include "platform/posix/files.h"

#include <sundry/platform/codepage.h>
#include <sundry/platform/error.h>
#include <sundry/platform/file.h>
#include <sundry/platform/shell.h>
#include <sundry/platform/shelllink.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace {

// ShellLinkHeader.LinkFlags
constexpr uint32_t kHasLinkInfo = 0x00000002;
constexpr uint32_t kHasName = 0x00000004;
constexpr uint32_t kHasWorkingDir = 0x00000010;
constexpr uint32_t kHasArguments = 0x00000020;
constexpr uint32_t kIsUnicode = 0x00000080;

// FileAttributes
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;

constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint32_t kShowNormal = 1;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr uint32_t kLinkInfoHeaderSize = 0x1C;
constexpr uint32_t kVolumeIdSize = 0x10;

// {00021401-0000-0000-C000-000000000046} in its stored byte order.
constexpr uint8_t kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 116444736000000000ull;

using sundry::platform::PutFixed16;
using sundry::platform::PutFixed32;
using sundry::platform::PutFixed64;

uint64_t fileTime(const struct timespec& ts) {
  if (ts.tv_sec < 0) return 0;
  return kEpochDifference + static_cast<uint64_t>(ts.tv_sec) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

// The path in Windows form.
std::string windowsPath(const char* path) {
  std::string p(path);
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

bool given(const char* text) { return text != nullptr && text[0] != '\0'; }

// Appends a StringData entry: its length in characters, then UTF-16LE.
bool putString(std::string& out, const char* text) {
  const std::u16string wide = sundry::platform::WideFromAnsi(text);
  if (wide.size() > 0xFFFF) return false;
  PutFixed16(&out, static_cast<uint16_t>(wide.size()));
  for (char16_t c : wide) PutFixed16(&out, c);
  return true;
}

struct TargetInfo {
  uint32_t attributes = 0;
  uint64_t created = 0, accessed = 0, written = 0;
  uint32_t size = 0;
};

// What the header records about the target; all zero when it does not
// exist (a shortcut may be made before its target).
TargetInfo describeTarget(const char* path) {
  TargetInfo info;
  const std::string native = sundry::platform::posix::NativePath(path);
  struct statx sx;
  if (::statx(AT_FDCWD, native.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return info;
  info.attributes = S_ISDIR(sx.stx_mode) ? kAttrDirectory : kAttrArchive;
  if (::access(native.c_str(), W_OK) != 0) info.attributes |= kAttrReadOnly;
  auto toTimespec = [](const struct statx_timestamp& t) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(t.tv_sec);
    ts.tv_nsec = static_cast<long>(t.tv_nsec);
    return ts;
  };
  if (sx.stx_mask & STATX_BTIME) info.created = fileTime(toTimespec(sx.stx_btime));
  info.accessed = fileTime(toTimespec(sx.stx_atime));
  info.written = fileTime(toTimespec(sx.stx_mtime));
  if (!S_ISDIR(sx.stx_mode)) info.size = static_cast<uint32_t>(sx.stx_size);  // the low 32 bits
  return info;
}

}  // namespace

namespace sundry::platform {

namespace {

BOOL saveShellLink(const ShellLinkFields* link, const char* linkFile) {
  if (link == nullptr || !given(link->path) || !given(linkFile) || std::strlen(link->path) > 0xFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint32_t flags = kHasLinkInfo | kIsUnicode;
  if (given(link->description)) flags |= kHasName;
  if (given(link->workingDirectory)) flags |= kHasWorkingDir;
  if (given(link->arguments)) flags |= kHasArguments;
  const TargetInfo target = describeTarget(link->path);

  std::string out;
  // ShellLinkHeader
  PutFixed32(&out, kHeaderSize);
  out.append(reinterpret_cast<const char*>(kShellLinkClsid), sizeof kShellLinkClsid);
  PutFixed32(&out, flags);
  PutFixed32(&out, target.attributes);
  PutFixed64(&out, target.created);
  PutFixed64(&out, target.accessed);
  PutFixed64(&out, target.written);
  PutFixed32(&out, target.size);
  PutFixed32(&out, 0);             // IconIndex
  PutFixed32(&out, kShowNormal);   // ShowCommand
  PutFixed16(&out, 0);             // HotKey
  out.append(10, '\0');      // Reserved1, Reserved2, Reserved3

  // LinkInfo: header, VolumeID (fixed drive, no serial number, empty
  // label), LocalBasePath, and the empty CommonPathSuffix.
  const std::string basePath = windowsPath(link->path);
  const uint32_t volumeIdOffset = kLinkInfoHeaderSize;
  const uint32_t volumeIdLength = kVolumeIdSize + 1;
  const uint32_t basePathOffset = volumeIdOffset + volumeIdLength;
  const uint32_t suffixOffset = basePathOffset + static_cast<uint32_t>(basePath.size()) + 1;
  const uint32_t linkInfoSize = suffixOffset + 1;
  PutFixed32(&out, linkInfoSize);
  PutFixed32(&out, kLinkInfoHeaderSize);
  PutFixed32(&out, kVolumeIdAndLocalBasePath);
  PutFixed32(&out, volumeIdOffset);
  PutFixed32(&out, basePathOffset);
  PutFixed32(&out, 0);  // CommonNetworkRelativeLinkOffset
  PutFixed32(&out, suffixOffset);
  PutFixed32(&out, volumeIdLength);
  PutFixed32(&out, kDriveFixed);
  PutFixed32(&out, 0);  // DriveSerialNumber
  PutFixed32(&out, kVolumeIdSize);  // VolumeLabelOffset: the label follows the fields
  out.push_back('\0');
  out.append(basePath);
  out.push_back('\0');
  out.push_back('\0');  // CommonPathSuffix

  // StringData, in the format's order.
  bool fits = true;
  if (flags & kHasName) fits = fits && putString(out, link->description);
  if (flags & kHasWorkingDir) fits = fits && putString(out, windowsPath(link->workingDirectory).c_str());
  if (flags & kHasArguments) fits = fits && putString(out, link->arguments);
  if (!fits) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  PutFixed32(&out, 0);  // TerminalBlock

  if (!ReplaceFileDurably(linkFile, out.data(), out.size())) {
    // The link file itself need not exist: a missing name is its folder.
    if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOL SaveShellLinkA(const ShellLinkFields* link, const char* linkFile) {
  try {
    return saveShellLink(link, linkFile);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

}  // namespace sundry::platform
