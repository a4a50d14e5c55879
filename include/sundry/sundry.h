#pragma once
// Sundry: the umbrella header. Including it brings in every exported class
// and the Win32-style platform functions the library stands on.

#include <sundry/version.h>
#include <sundry/export.h>

// The platform layer: Win32 types, error codes, framework types and the
// registry, file and shell functions.
#include <sundry/platform/wintypes.h>
#include <sundry/platform/error.h>
#include <sundry/platform/codepage.h>
#include <sundry/platform/CString.h>
#include <sundry/platform/Collections.h>
#include <sundry/platform/CTime.h>
#include <sundry/platform/registry.h>
#include <sundry/platform/file.h>
#include <sundry/platform/fileops.h>
#include <sundry/platform/profile.h>
#include <sundry/platform/sync.h>
#include <sundry/platform/process.h>
#include <sundry/platform/version.h>
#include <sundry/platform/shell.h>
#include <sundry/platform/shelllink.h>
#include <sundry/platform/setupapi.h>

// The debug log.
#include <sundry/diag/DebugLog.h>

// Registry object model and .reg files.
#include <sundry/registry/RegistryBase.h>
#include <sundry/registry/RegistryValue.h>
#include <sundry/registry/RegistryKey.h>
#include <sundry/registry/RegistryKeysFiltered.h>
#include <sundry/registry/RegFile.h>

// Browser proxy settings.
#include <sundry/proxy/Proxy.h>

// Record log file.
#include <sundry/logdb/LogDB.h>

// Encryption.
#include <sundry/crypto/Encrypt.h>
#include <sundry/crypto/CryptStream.h>

// General helpers, named mutex and string map.
#include <sundry/util/Sundry.h>
#include <sundry/util/MutexSimple.h>
#include <sundry/util/StringMap.h>
