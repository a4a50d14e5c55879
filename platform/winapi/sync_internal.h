#pragma once
// Named mutexes: where their lock files live. Internal to the platform
// layer and its tests.

#include <sundry/platform/wintypes.h>

#include <string>

namespace sundry::platform {

// Fills *path with the user's runtime directory (see sundry/platform/sync.h),
// creating it with mode 0700 when missing. Returns TRUE; FALSE with the last
// error set when it cannot be made or is unsafe (ERROR_ACCESS_DENIED), or
// when path is null (ERROR_INVALID_PARAMETER); *path is then unchanged.
BOOL GetRuntimeDirectory(std::string* path);

// The file name (without directory) that stands for the named mutex lpName,
// after the "Local\" prefix is dropped; empty for a null or empty name.
std::string MutexFileName(const char* lpName);

}  // namespace sundry::platform
