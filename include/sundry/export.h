#pragma once
// Symbol visibility: the library is compiled with hidden visibility, and only
// what is marked SUNDRY_EXPORT is part of its binary interface.
//
// On Windows the marks are dllexport while the DLL itself is built and
// nothing for its callers: functions reach the import library's thunks and
// data is imported by the linker's auto-import, so the same header serves the
// DLL, its callers and programs that link the library's objects statically.
// The debug log is a DLL of its own with its own mark.
#if defined(_WIN32)
#  define SUNDRY_DLL_EXPORT __declspec(dllexport)
#  if defined(SUNDRY_BUILDING)
#    define SUNDRY_EXPORT SUNDRY_DLL_EXPORT
#  else
#    define SUNDRY_EXPORT
#  endif
#  if defined(SUNDRY_BUILDING_DEBUGLOG)
#    define SUNDRY_DEBUGLOG_EXPORT SUNDRY_DLL_EXPORT
#  else
#    define SUNDRY_DEBUGLOG_EXPORT
#  endif
#else
#  define SUNDRY_EXPORT __attribute__((visibility("default")))
#  define SUNDRY_DEBUGLOG_EXPORT __attribute__((visibility("default")))
#endif
