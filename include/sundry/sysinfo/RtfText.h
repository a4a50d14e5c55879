#pragma once
// Rich text (RTF) helpers of the system report.
//
// RtfEscape makes a text safe inside RTF body text: "\", "{" and "}" get a
// backslash before them, and every character beyond ASCII is written as
// "\uN?" (N the UTF-16 unit as a signed 16-bit number, "?" the fallback
// for readers without Unicode; characters beyond the first plane as their
// two surrogates). The text is read as UTF-8 where it is valid UTF-8 (file
// and host names on Linux) and as Windows-1252 bytes elsewhere. Control
// characters other than tab and line feed become "?".
//
// RtfDocument wraps a body (the report) into a whole document that word
// processors open: "{\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0\fmodern
// Courier New;}}\f0\fs20 " + body + "}".
//
// RtfBodyToText turns body text as the report writes it back into plain
// UTF-8 text: "\par" gives a line feed, "\tab" and tab characters a tab,
// "\\" "\{" "\}" their character, "\uN?" its character; line feeds of the
// RTF source and other control words give nothing.

#include <sundry/export.h>

#include <string>
#include <string_view>

namespace sundry::sysinfo {

SUNDRY_EXPORT std::string RtfEscape(std::string_view text);
SUNDRY_EXPORT std::string RtfDocument(std::string_view body);
SUNDRY_EXPORT std::string RtfBodyToText(std::string_view body);

}  // namespace sundry::sysinfo
