#pragma once
// Hooks of the registry functions (registry.cpp) for tests and benchmarks:
// not part of the library's interface.

#include <sundry/platform/wintypes.h>

#include <cstdint>

namespace sundry::platform {

// How many handles made by RegOpenKeyExA, RegCreateKeyExA and
// RegConnectRegistryA are open in this process: for leak checks.
DWORD RegistryOpenHandleCount();

// Closes the store and forgets every open handle, any transaction and the
// store RegistryUseStore chose, so that the next call opens the store named
// by the environment anew. No handle may be in use meanwhile.
void RegistryResetForTesting();

// For tests of the handle-value cycle: the value the next new handle takes
// (or, when that one is open, the first free one after it). A value outside
// the handle range starts the cycle at its bottom.
void RegistrySetNextHandleForTesting(uintptr_t value);

}  // namespace sundry::platform
