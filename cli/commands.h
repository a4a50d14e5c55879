#pragma once
// Command families of the sundry tool. A family is a function that adds its
// sub-command to the application; SUNDRY_CLI_FAMILY registers it before
// main runs, so a new family only needs a file of its own in this folder.

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace sundry::cli {

// The tool's exit status: 0 success, 1 the operation failed, 2 bad usage.
enum Exit { kOk = 0, kFailed = 1, kUsage = 2 };

// Thrown by a command's action to end the tool with a message on stderr
// and the given exit status.
struct Failure {
  std::string message;
  int status = kFailed;
};

struct Family {
  const char* name;
  int order;  // position in the help listing
  std::function<void(CLI::App&)> setup;
};

std::vector<Family>& families();

struct Registrar {
  Registrar(const char* name, int order, std::function<void(CLI::App&)> setup) {
    families().push_back(Family{name, order, std::move(setup)});
  }
};

}  // namespace sundry::cli

#define SUNDRY_CLI_CONCAT2(a, b) a##b
#define SUNDRY_CLI_CONCAT(a, b) SUNDRY_CLI_CONCAT2(a, b)
#define SUNDRY_CLI_FAMILY(name, order, fn) \
  static ::sundry::cli::Registrar SUNDRY_CLI_CONCAT(sundry_cli_family_, __LINE__)(name, order, fn)
