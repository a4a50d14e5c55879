#pragma once
// The ANSI code page of narrow strings: Windows-1252.
//
// Names of registry keys and values, and every CString, are narrow byte
// strings in the ANSI code page. Case-insensitive comparison and upper- or
// lower-casing go through these tables so that the registry store, CString
// and the library's look-ups fold case the same way, also beyond ASCII
// (for example 0xE9 'e acute' against 0xC9 'E acute').

#include <sundry/export.h>

#include <cstddef>

namespace sundry::platform {

// Upper- and lower-case of one byte in Windows-1252; bytes without a case
// are returned unchanged.
SUNDRY_EXPORT unsigned char AnsiToUpper(unsigned char c);
SUNDRY_EXPORT unsigned char AnsiToLower(unsigned char c);

// Compares two byte strings without regard to case (by their upper-cased
// bytes); returns <0, 0 or >0. The counted form compares exactly na and nb
// bytes, zero bytes included.
SUNDRY_EXPORT int AnsiCompareNoCase(const char* a, const char* b);
SUNDRY_EXPORT int AnsiCompareNoCase(const char* a, size_t na, const char* b, size_t nb);

}  // namespace sundry::platform

extern "C" {
// Upper-cases a zero-terminated multi-byte string in place and returns it
// (the C run-time's _mbsupr over the ANSI code page).
SUNDRY_EXPORT unsigned char* _mbsupr(unsigned char* str);
// Compares two zero-terminated strings byte by byte (_mbscmp) or without
// regard to case (_mbsicmp); <0, 0 or >0.
SUNDRY_EXPORT int _mbscmp(const unsigned char* a, const unsigned char* b);
SUNDRY_EXPORT int _mbsicmp(const unsigned char* a, const unsigned char* b);
// Compares at most count bytes without regard to case, stopping at the
// first terminator; <0, 0 or >0.
SUNDRY_EXPORT int _mbsnbicmp(const unsigned char* a, const unsigned char* b, size_t count);
}
