#pragma once
// What the parts of the .reg file code share (RegFile.cpp: root names and
// errors; RegFileParse.cpp: reading the text; RegFileWrite.cpp: writing it;
// RegFileExport.cpp: reading key trees from the store; RegFileApply.cpp:
// applying a file to the store). Internal to registry/.

#include <sundry/platform/error.h>
#include <sundry/platform/registry.h>
#include <sundry/registry/RegFile.h>

#include <new>
#include <string>
#include <string_view>

namespace sundry::registry::regfile {

inline constexpr char kHeader4[] = "REGEDIT4";
inline constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";

// Fills *err (when given) and returns false.
bool fail(RegFileError* err, int line, LONG code, std::string reason);

// A name or path as messages show it: control characters as \r, \n, \t or
// \xHH, and a long one cut, so that a message stays one short line.
std::string shown(std::string_view name);

// The system's text of a Win32 code, or "error N".
std::string codeText(LONG code);

// Runs fn, turning an escaping exception (out of memory, in practice) into a
// Win32 code, so that none crosses the library boundary.
template <typename Fn>
LONG guarded(RegFileError* err, Fn fn) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    fail(err, 0, ERROR_NOT_ENOUGH_MEMORY, codeText(ERROR_NOT_ENOUGH_MEMORY));
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    fail(err, 0, ERROR_INTERNAL_ERROR, codeText(ERROR_INTERNAL_ERROR));
    return ERROR_INTERNAL_ERROR;
  }
}

// An open key handle, closed when it goes out of scope.
class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (m_h) RegCloseKey(m_h);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  KeyHandle(KeyHandle&& other) noexcept : m_h(other.m_h) { other.m_h = nullptr; }
  HKEY get() const { return m_h; }
  HKEY* put() { return &m_h; }

 private:
  HKEY m_h = nullptr;
};

}  // namespace sundry::registry::regfile
