#pragma once
// Test seams of the GDI stand-in (gdi.h). Production code never sets them.
// Not synchronised with running GDI calls: set them while no other thread
// uses GDI.

#include <cstddef>

namespace sundry::platform {

// While set, every GlobalReAlloc fails with ERROR_NOT_ENOUGH_MEMORY, the
// block left as it was.
void SetGlobalReAllocFails(bool fails);

// While set, GetDC(NULL) and CreateDCA fail with ERROR_NO_SYSTEM_RESOURCES,
// as when the system has no device context left to give.
void SetScreenContextFails(bool fails);

// Live bitmaps, regions, device contexts and memory blocks: what a caller
// still has to release.
std::size_t GdiObjectCount();

}  // namespace sundry::platform
