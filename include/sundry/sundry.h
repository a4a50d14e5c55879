#pragma once
// Sundry: the umbrella header. Including it brings in every exported class
// and the Win32-style platform functions the library stands on.

#include <sundry/version.h>
#include <sundry/export.h>

#include <sundry/platform/wintypes.h>
#include <sundry/platform/error.h>
#include <sundry/platform/codepage.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/registry.h>

#include <sundry/diag/DebugLog.h>
