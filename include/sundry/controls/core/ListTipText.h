#pragma once
// The tooltip text of a list control that shows chosen columns of the row
// under the mouse: which columns, how they are separated, and the text
// itself. No window is involved; the list control supplies each column's
// text through a callback. Built on every platform.

#include <sundry/export.h>

#include <cstddef>
#include <functional>
#include <string>

namespace sundry::controls {

// At most this many columns are shown, in the order given.
inline constexpr int kTipColumnCount = 10;
// The tip text buffer, terminator included: at most 511 characters.
inline constexpr std::size_t kTipTextSize = 512;
// A column's separator mode: end its text with a line break. Any other
// mode puts one blank between it and the next column.
inline constexpr int kTipLineBreak = 1;

// Copies the column order and separator modes: the entries of columns up
// to its first -1, at most kTipColumnCount, and as many entries of modes
// (0 for each when modes is null). Null columns, or a first entry of -1,
// change nothing; entries past the copied ones keep their values. Returns
// the number copied.
SUNDRY_EXPORT int CopyTipColumnOrder(const int* columns, const int* modes, int order[kTipColumnCount],
                                     int separators[kTipColumnCount]);

// Builds the tip of one row into out (kTipTextSize bytes, always
// terminated): for each column of order up to its first -1, the column's
// text, then a carriage return and line feed for mode kTipLineBreak, else a
// blank unless the column is the last one shown. Text past 511 characters is
// cut. Returns false, and leaves out alone, when order's first entry is -1.
SUNDRY_EXPORT bool AssembleTipText(const int order[kTipColumnCount], const int separators[kTipColumnCount],
                                   const std::function<std::string(int column)>& columnText,
                                   char out[kTipTextSize]);

}  // namespace sundry::controls
