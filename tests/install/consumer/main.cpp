// A client program built against the installed library only.
#include <sundry/sundry.h>

#include <cstdio>
#include <cstring>

int main() {
  char text[256];
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, text, sizeof text, nullptr) == 0)
    return 1;
  CString s("sundry ");
  s += SUNDRY_VERSION_STRING;
  std::printf("%s: %s", s.GetString(), text);
  return std::strncmp(text, "Access is denied.", 17) == 0 ? 0 : 2;
}
