// sundry: the command-line tool over the library's families.

#include "commands.h"

#include <sundry/version.h>

#include <algorithm>
#include <cstdio>

namespace sundry::cli {

std::vector<Family>& families() {
  static std::vector<Family> list;
  return list;
}

}  // namespace sundry::cli

int main(int argc, char** argv) {
  using namespace sundry::cli;
  CLI::App app{"sundry: registry, proxy, log file, encryption and helper tools of the Sundry library"};
  app.set_version_flag("--version", SUNDRY_VERSION_STRING);
  app.require_subcommand(1);
  auto& list = families();
  std::sort(list.begin(), list.end(), [](const Family& a, const Family& b) { return a.order < b.order; });
  for (const Family& f : list) f.setup(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kUsage;
  } catch (const Failure& f) {
    std::fprintf(stderr, "sundry: %s\n", f.message.c_str());
    return f.status;
  }
  return 0;
}
