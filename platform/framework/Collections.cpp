// Out-of-line parts of the framework collections: the string hash and the
// constructors and destructors of the concrete classes (so that their
// virtual tables live in the library).

#include <sundry/platform/Collections.h>

namespace {

// hash = hash * 33 + byte over the bytes of the key.
UINT HashBytes(const char* p, size_t n) {
  UINT hash = 0;
  for (size_t i = 0; i < n; ++i) hash = (hash << 5) + hash + static_cast<unsigned char>(p[i]);
  return hash;
}

UINT HashZeroTerminated(const char* p) {
  UINT hash = 0;
  if (p == nullptr) return hash;
  for (; *p != '\0'; ++p) hash = (hash << 5) + hash + static_cast<unsigned char>(*p);
  return hash;
}

}  // namespace

template <>
UINT HashKey<const char*>(const char* key) {
  return HashZeroTerminated(key);
}

template <>
UINT HashKey<char*>(char* key) {
  return HashZeroTerminated(key);
}

template <>
UINT HashKey<const CString&>(const CString& key) {
  return HashBytes(key.GetString(), static_cast<size_t>(key.GetLength()));
}

template <>
UINT HashKey<CString>(CString key) {
  return HashBytes(key.GetString(), static_cast<size_t>(key.GetLength()));
}

CPtrArray::CPtrArray() = default;
CPtrArray::~CPtrArray() = default;

CStringArray::CStringArray() = default;
CStringArray::~CStringArray() = default;

CMapStringToPtr::CMapStringToPtr(INT_PTR nBlockSize) : CMap<CString, const char*, void*, void*>(nBlockSize) {}
CMapStringToPtr::~CMapStringToPtr() = default;
