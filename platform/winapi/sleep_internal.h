#pragma once
// Test seam of Sleep: a hook that decides how long a pause really lasts.
// Tests that check what a caller does, not how long it waits, set a hook
// that shortens long fixed pauses (the half second a serial port takes to
// close) and may count them; production code never sets it. Not
// synchronised: set it only while no other thread calls Sleep.

#include <sundry/platform/wintypes.h>

namespace sundry::platform {

// Called with the pause asked for; returns the pause to make.
using SleepHook = DWORD (*)(DWORD milliseconds, void* context);

// Sets the hook (null: none) and its context.
void SetSleepHook(SleepHook hook, void* context);

}  // namespace sundry::platform
