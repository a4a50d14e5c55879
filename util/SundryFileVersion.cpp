// CSundry: a file's version from its version resource, or its time stamp.

#include <sundry/platform/CTime.h>
#include <sundry/platform/version.h>
#include <sundry/util/Sundry.h>

#include <vector>

int CSundry::GetFileVersion(const char* path, unsigned long& major, unsigned long& minor, unsigned long& build) {
  major = minor = build = 0;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return 0;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoA(path, handle, size, data.data())) return 0;
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return 0;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  // VerQueryValue hands out the root block's value as it is: one without
  // the fixed information's signature holds no version.
  if (info->dwSignature != static_cast<DWORD>(VS_FFI_SIGNATURE)) return 0;
  major = info->dwFileVersionMS >> 16;
  minor = info->dwFileVersionMS & 0xFFFF;
  build = info->dwFileVersionLS;
  return 1;
}

int CSundry::GetFileVersion(const char* path, CString& version) {
  unsigned long major, minor, build;
  if (GetFileVersion(path, major, minor, build)) {
    // Unsigned: the least-significant double word is often above 2^31
    // (build numbers from 32768 on).
    version.Format("%.2lu.%.2lu.%.3lu", major, minor, build);
    return 1;
  }
  return GetFileTimeStamp(path, version);
}

int CSundry::GetFileTimeStamp(const char* path, CString& stamp) {
  time_t modified;
  if (sundry::platform::GetFileModificationTime(path, &modified)) {
    // Empty for a time without a calendar form (before 1970, say).
    stamp = CTime(modified).Format("%Y%m%d%H%M%S");
    if (!stamp.IsEmpty()) return 1;
  }
  stamp.Empty();
  return 0;
}
