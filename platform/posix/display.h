#pragma once
// Facts of the X display named by $DISPLAY, for the screen context of the
// GDI stand-in. libX11 is loaded at run time, so neither the library nor a
// program without X needs it.

namespace sundry::platform::posix {

struct DisplayFacts {
  bool present;  // a display could be opened
  int depth;     // bits per pixel of its default screen; 24 without one
  int dpi;       // its "Xft.dpi" resource, rounded; 0 when not set or no display
};

// Opens the display, reads it and closes it again. Thread-safe; each call
// asks the server anew, so a changed setting is seen.
DisplayFacts ReadDisplayFacts();

// The value of an "Xft.dpi" line of an X resource database text ("Xft.dpi:\t120"),
// rounded to a whole number; 0 when there is no such line or its value is not
// a number from 1 to 10000. Separate for testing.
int DpiFromResources(const char* resources);

}  // namespace sundry::platform::posix
