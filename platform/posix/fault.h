#pragma once
// Test seam of the POSIX file helpers. Every system call of the helpers in
// fileio.h, and of the streams and the durable replacement built on them,
// first asks the hook, when one is set, whether to fail: a hook that
// returns a non-zero Win32 code makes that call fail with it, as if the
// system had reported it; 0 lets the call go ahead. Tests set it to make a
// chosen open, read, write, sync or rename fail; production code never sets
// it. Not synchronised: set it only while no other thread uses files.

#include <sundry/platform/wintypes.h>

namespace sundry::platform::posix {

enum class FileOperation { Open, Read, Write, Sync, Rename };
using FileFaultHook = DWORD (*)(FileOperation operation, void* context);

// Sets the hook (null: none) and the context it is called with.
void SetFileFaultHook(FileFaultHook hook, void* context);

// Asks the hook about a call of the kind operation that is about to be
// made. Returns true, with the hook's code as the last error, when the call
// is to fail; false (last error untouched) otherwise.
bool InjectedFault(FileOperation operation);

}  // namespace sundry::platform::posix
