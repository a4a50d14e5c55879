// The resource module of the window framework and CString::LoadString.

#include <sundry/platform/CWnd.h>

#include <atomic>
#include <vector>

namespace {

std::atomic<HINSTANCE> g_resourceHandle{nullptr};

// The module this code is linked into (the library or a program that links
// it statically).
HINSTANCE OwnModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

}  // namespace

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleA(nullptr); }

HINSTANCE AfxGetResourceHandle() {
  HINSTANCE handle = g_resourceHandle.load();
  return handle != nullptr ? handle : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE hInstResource) { g_resourceHandle.store(hInstResource); }

HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType) {
  const HINSTANCE candidates[] = {AfxGetResourceHandle(), AfxGetInstanceHandle(), OwnModule()};
  for (HINSTANCE candidate : candidates) {
    if (candidate != nullptr && ::FindResourceA(candidate, lpszName, lpszType) != nullptr) return candidate;
  }
  return AfxGetResourceHandle();
}

int CString::LoadString(unsigned int nID) {
  Empty();
  // Strings are stored in blocks of 16; the block's name is the id / 16 + 1.
  HINSTANCE instance =
      AfxFindResourceHandle(MAKEINTRESOURCEA((nID >> 4) + 1), RT_STRING);
  try {
    // LoadStringA cuts to the buffer; grow it until the text fits.
    for (int size = 256; size <= (1 << 17); size *= 2) {
      std::vector<char> buffer(static_cast<size_t>(size));
      int got = ::LoadStringA(instance, nID, buffer.data(), size);
      if (got <= 0) return 0;
      if (got < size - 1) {
        *this = CString(buffer.data(), got);
        return 1;
      }
    }
  } catch (...) {
    Empty();
  }
  return 0;
}
