// Shortcut files through the shell's own link object (IShellLinkA saved
// through IPersistFile).

#include <sundry/platform/shelllink.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace sundry::platform {

namespace {

DWORD FromHresult(HRESULT hr) {
  if (HRESULT_FACILITY(hr) == FACILITY_WIN32) return HRESULT_CODE(hr);
  return hr == E_OUTOFMEMORY ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_FUNCTION;
}

bool Empty(const char* s) { return s == nullptr || *s == '\0'; }

}  // namespace

BOOL SaveShellLinkA(const ShellLinkFields* link, const char* linkFile) {
  if (link == nullptr || Empty(link->path) || Empty(linkFile)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkA* shell = nullptr;
  IPersistFile* file = nullptr;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&shell));
  if (SUCCEEDED(hr)) hr = shell->SetPath(link->path);
  if (SUCCEEDED(hr) && !Empty(link->workingDirectory)) hr = shell->SetWorkingDirectory(link->workingDirectory);
  if (SUCCEEDED(hr) && !Empty(link->arguments)) hr = shell->SetArguments(link->arguments);
  if (SUCCEEDED(hr) && !Empty(link->description)) hr = shell->SetDescription(link->description);
  if (SUCCEEDED(hr)) hr = shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(hr)) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, linkFile, -1, nullptr, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, linkFile, -1, wide.data(), n);
    hr = file->Save(wide.c_str(), TRUE);
  }
  if (file) file->Release();
  if (shell) shell->Release();
  if (SUCCEEDED(init)) ::CoUninitialize();
  if (FAILED(hr)) {
    ::SetLastError(FromHresult(hr));
    return FALSE;
  }
  return TRUE;
}

}  // namespace sundry::platform
