// The X display's depth and logical resolution through libX11, loaded at run
// time.

#include "platform/posix/display.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace sundry::platform::posix {

namespace {

// The few Xlib entry points used, with their C signatures (an opaque
// Display*).
struct Xlib {
  void* (*openDisplay)(const char*) = nullptr;
  int (*closeDisplay)(void*) = nullptr;
  int (*defaultScreen)(void*) = nullptr;
  int (*defaultDepth)(void*, int) = nullptr;
  char* (*resourceManagerString)(void*) = nullptr;
  bool loaded = false;
};

// Loaded once and kept: libX11 is not made to be unloaded.
const Xlib& LoadXlib() {
  static Xlib xlib;
  static std::once_flag once;
  std::call_once(once, [] {
    void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    xlib.openDisplay = reinterpret_cast<void* (*)(const char*)>(dlsym(lib, "XOpenDisplay"));
    xlib.closeDisplay = reinterpret_cast<int (*)(void*)>(dlsym(lib, "XCloseDisplay"));
    xlib.defaultScreen = reinterpret_cast<int (*)(void*)>(dlsym(lib, "XDefaultScreen"));
    xlib.defaultDepth = reinterpret_cast<int (*)(void*, int)>(dlsym(lib, "XDefaultDepth"));
    xlib.resourceManagerString = reinterpret_cast<char* (*)(void*)>(dlsym(lib, "XResourceManagerString"));
    xlib.loaded = xlib.openDisplay && xlib.closeDisplay && xlib.defaultScreen && xlib.defaultDepth &&
                  xlib.resourceManagerString;
  });
  return xlib;
}

}  // namespace

int DpiFromResources(const char* resources) {
  static const char kName[] = "Xft.dpi:";
  for (const char* line = resources; line != nullptr && *line != '\0';) {
    if (std::strncmp(line, kName, sizeof kName - 1) == 0) {
      char* end = nullptr;
      const double value = std::strtod(line + sizeof kName - 1, &end);
      if (end == line + sizeof kName - 1 || !(value >= 0.5 && value < 10000.5)) return 0;
      return static_cast<int>(std::lround(value));
    }
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return 0;
}

DisplayFacts ReadDisplayFacts() {
  DisplayFacts facts{false, 24, 0};
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return facts;
  const Xlib& xlib = LoadXlib();
  if (!xlib.loaded) return facts;
  void* display = xlib.openDisplay(name);
  if (display == nullptr) return facts;
  facts.present = true;
  const int depth = xlib.defaultDepth(display, xlib.defaultScreen(display));
  if (depth > 0) facts.depth = depth;
  facts.dpi = DpiFromResources(xlib.resourceManagerString(display));
  xlib.closeDisplay(display);
  return facts;
}

}  // namespace sundry::platform::posix
