#pragma once
// Command families of the sundry tool. A family is a function that adds its
// sub-command to the application; SUNDRY_CLI_FAMILY registers it before
// main runs, so a new family only needs a file of its own in this folder.

#include <CLI/CLI.hpp>

#include <cstdio>
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

// A family whose command line does not follow the --name form (Windows-style
// /x switches, say) registers a rewriter with SUNDRY_CLI_ARG_REWRITER. When
// the family's name is the first argument, the arguments after it are handed
// to the rewriter before parsing and may be changed in place.
struct ArgRewriter {
  const char* name;
  std::function<void(std::vector<std::string>& args)> rewrite;
};

std::vector<ArgRewriter>& argRewriters();

struct ArgRewriterRegistrar {
  ArgRewriterRegistrar(const char* name, std::function<void(std::vector<std::string>&)> rewrite) {
    argRewriters().push_back(ArgRewriter{name, std::move(rewrite)});
  }
};

// Shared helpers of the families (cli/shared.cpp).

// A new, empty folder of the current user's in the temporary folder, named
// stem-<process>-<n>; a folder or link already there is never taken over.
// Throws Failure when none can be made.
std::string MakeScratchFolder(const std::string& stem);

// A data folder or file relative: below the current folder, else below one
// of the folders that hold the running program. Empty when not found.
std::string FindDataPath(const std::string& relative);

// Whether standard input, or the stream, is an interactive terminal.
bool StdinIsTerminal();
bool IsTerminal(std::FILE* stream);

}  // namespace sundry::cli

#define SUNDRY_CLI_CONCAT2(a, b) a##b
#define SUNDRY_CLI_CONCAT(a, b) SUNDRY_CLI_CONCAT2(a, b)
#define SUNDRY_CLI_FAMILY(name, order, fn) \
  static ::sundry::cli::Registrar SUNDRY_CLI_CONCAT(sundry_cli_family_, __LINE__)(name, order, fn)
#define SUNDRY_CLI_ARG_REWRITER(name, fn) \
  static ::sundry::cli::ArgRewriterRegistrar SUNDRY_CLI_CONCAT(sundry_cli_rewriter_, __LINE__)(name, fn)
