// The test seam of the file helpers.

#include "platform/posix/fault.h"

#include <sundry/platform/error.h>

namespace sundry::platform::posix {
namespace {

FileFaultHook g_hook = nullptr;
void* g_context = nullptr;

}  // namespace

void SetFileFaultHook(FileFaultHook hook, void* context) {
  g_hook = hook;
  g_context = context;
}

bool InjectedFault(FileOperation operation) {
  if (g_hook == nullptr) return false;
  const DWORD code = g_hook(operation, g_context);
  if (code == 0) return false;
  SetLastError(code);
  return true;
}

}  // namespace sundry::platform::posix
