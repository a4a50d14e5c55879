// The error table's look-ups: the name and the system text of each code the
// library can produce or record. Built on every platform: on Windows the
// codes are the system's own and the texts serve the library's messages.

#include <sundry/platform/error.h>

namespace {

struct ErrorEntry {
  DWORD code;
  const char* name;
  const char* text;
};

constexpr ErrorEntry kErrors[] = {
#define SUNDRY_ERROR_ROW(name, num, text) {num, #name, text},
    SUNDRY_ERROR_TABLE(SUNDRY_ERROR_ROW)
#undef SUNDRY_ERROR_ROW
};

const ErrorEntry* find(DWORD code) {
  for (const ErrorEntry& e : kErrors)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

namespace sundry::platform {

const char* ErrorName(DWORD code) {
  const ErrorEntry* e = find(code);
  return e ? e->name : nullptr;
}

const char* ErrorText(DWORD code) {
  const ErrorEntry* e = find(code);
  return e ? e->text : nullptr;
}

}  // namespace sundry::platform
