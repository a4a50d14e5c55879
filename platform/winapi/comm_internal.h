#pragma once
// The communications-port side of the handle-based file functions: file.cpp
// hands CreateFileA, ReadFile and WriteFile over to these, and the port-name
// rule is reachable for tests.

#include <sundry/platform/file.h>
#include <sundry/platform/wintypes.h>

#include <string>

namespace sundry::platform {

// The device path a port name stands for (comm.h: "\\.\COMn", "COMn", an
// absolute device path with or without "\\.\"). False for a name that
// names no port.
bool CommDevicePath(const char* name, std::string& path);

HANDLE CommCreateFile(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition);
BOOL CommReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read);
BOOL CommWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written);

}  // namespace sundry::platform
