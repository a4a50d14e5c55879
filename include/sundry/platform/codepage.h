#pragma once
// The ANSI code page of narrow strings: Windows-1252.
//
// Names of registry keys and values, and every CString, are narrow byte
// strings in the ANSI code page. Case-insensitive comparison and upper- or
// lower-casing go through these tables so that the registry store, CString
// and the library's look-ups fold case the same way, also beyond ASCII
// (for example 0xE9 'e acute' against 0xC9 'E acute'). Unicode text (UTF-8,
// UTF-16) is decoded here too, for the conversions into the code page.

#include <sundry/export.h>

#include <cstddef>
#include <string>
#include <string_view>

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

// The Unicode character of one Windows-1252 byte. The bytes 0x80-0x9F map to
// the characters the code page gives them (0x80 is U+20AC, the euro sign);
// the five it leaves undefined map to the C1 control of the same number
// (U+0081, U+008D, U+008F, U+0090, U+009D), as Windows' own conversion does,
// so they survive a trip through Unicode. Every other byte maps to the
// character of the same number.
SUNDRY_EXPORT char32_t AnsiToUnicode(unsigned char c);
// The Windows-1252 byte of a character; false when the code page has none.
SUNDRY_EXPORT bool UnicodeToAnsi(char32_t cp, char* out);

// Text conversion between the ANSI code page and UTF-16, as
// MultiByteToWideChar and WideCharToMultiByte do it with CP_ACP. The other
// way round a character the code page cannot represent becomes "?" (a
// surrogate pair is one character: one "?"). The shell's file formats
// (shortcut files, version resources) keep their texts in UTF-16; the
// library's texts are ANSI.
SUNDRY_EXPORT std::u16string WideFromAnsi(std::string_view text);
SUNDRY_EXPORT std::string AnsiFromWide(std::u16string_view text);

// Decoding Unicode text one character at a time. Each decoder reads the
// character that starts at bytes[*pos], moves *pos past it and returns its
// code point, or kInvalidCodePoint for a broken sequence.
constexpr char32_t kInvalidCodePoint = 0xFFFFFFFFu;
// UTF-16LE: a high surrogate without its low one is broken (*pos moves past
// the high one only), as is a lone low surrogate and an odd last byte (*pos
// moves to the end).
SUNDRY_EXPORT char32_t DecodeUtf16LE(std::string_view bytes, size_t* pos);
// UTF-8 (*pos must lie inside bytes): a malformed or overlong sequence, a
// surrogate and a code point past U+10FFFF are broken; *pos stops at the
// first byte that does not belong to the sequence.
SUNDRY_EXPORT char32_t DecodeUtf8(std::string_view bytes, size_t* pos);
// Whether the whole of bytes is well-formed UTF-8.
SUNDRY_EXPORT bool IsValidUtf8(std::string_view bytes);

}  // namespace sundry::platform

#if defined(_WIN32)
#include <mbstring.h>
#else
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
#endif  // _WIN32
