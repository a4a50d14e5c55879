// sundry: the command-line tool over the library's families.

#include "commands.h"

#include <sundry/version.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace sundry::cli {

std::vector<Family>& families() {
  static std::vector<Family> list;
  return list;
}

std::vector<ArgRewriter>& argRewriters() {
  static std::vector<ArgRewriter> list;
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
  std::vector<std::string> args(argv, argv + argc);
  if (args.size() > 1) {
    for (const ArgRewriter& r : argRewriters()) {
      if (args[1] != r.name) continue;
      std::vector<std::string> tail(args.begin() + 2, args.end());
      r.rewrite(tail);
      args.resize(2);
      args.insert(args.end(), tail.begin(), tail.end());
    }
  }
  std::vector<char*> rewritten;
  for (std::string& a : args) rewritten.push_back(a.data());
  rewritten.push_back(nullptr);
  try {
    app.parse(static_cast<int>(args.size()), rewritten.data());
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kUsage;
  } catch (const Failure& f) {
    std::fprintf(stderr, "sundry: %s\n", f.message.c_str());
    return f.status;
  }
  return 0;
}
