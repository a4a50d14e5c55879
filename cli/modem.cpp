// sundry modem: a modem simulator for testing dialers, and AT commands on
// a port.
//
//   sundry modem simulate [--link PATH] [--answer-dial TEXT] [--silent]
//                         [--garbage] [--bursts] [--trickle] [--flood]
//       Opens a pseudo-terminal, prints the path of its port side (PATH
//       becomes a symbolic link to it) and answers like a Hayes modem until
//       interrupted (SIGINT, SIGTERM, SIGHUP).
//   sundry modem probe PORT [--init '[Z][E0]'] [--timing MS]
//       Opens PORT, runs the init list, sends ATI and prints the answer
//       lines. Exit 1 with the reason when the modem does not answer.
//   sundry modem at PORT CMD... [--timing MS]
//       Sends each command ("ATZ" or "Z") and prints its answer lines.
//       Exit 1 at the first ERROR, other failing result or time-out.
//
// PORT is a port name ("COM3") or a device path ("/dev/ttyUSB0").

#include "commands.h"

#include <sundry/serial/Modem.h>
#include <sundry/platform/error.h>

#if !defined(_WIN32)
// The simulator needs a pseudo-terminal: Linux only.
#include <sundry/serial/ModemSimulator.h>

#include <csignal>
#include <pthread.h>
#include <signal.h>
#define SUNDRY_HAVE_MODEM_SIMULATOR 1
#endif
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sundry::cli {
namespace {

struct ModemOptions {
  std::string port;
  std::string init;
  unsigned long timing = 125;
  std::vector<std::string> commands;
  std::string link;
  std::string dialAnswer = "NO CARRIER";
  bool silent = false, garbage = false, bursts = false, trickle = false, flood = false;
};

// The lines of an answer without the echo of the command and empty lines.
std::vector<std::string> AnswerLines(const CString& answer) {
  std::vector<std::string> lines;
  std::string line;
  bool first = true;
  for (char c : answer.str() + "\r") {
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    const bool echo = first && line.size() >= 2 && (line[0] == 'A' || line[0] == 'a') &&
                      (line[1] == 'T' || line[1] == 't');
    if (!line.empty()) {
      if (!echo) lines.push_back(line);
      first = false;
    }
    line.clear();
  }
  return lines;
}

// "ATZ" and "Z" are the same command to CModem, which adds the prefix.
CString WithoutPrefix(const std::string& command) {
  if (command.size() >= 2 && (command[0] == 'A' || command[0] == 'a') && (command[1] == 'T' || command[1] == 't'))
    return CString(command.substr(2));
  return CString(command);
}

void OpenModem(CModem& modem, const ModemOptions& opts) {
  modem.setResponseTiming(opts.timing);
  modem.setInitCommands(opts.init.c_str());
  const CModem::eERROR rc = modem.init(opts.port.c_str(), nullptr);
  if (rc == CModem::eOpenFailed) throw Failure{"cannot open " + opts.port + " (missing, busy or not a port)"};
  if (rc != CModem::eOK && rc != CModem::eNoInitCommands)
    throw Failure{"the modem on " + opts.port + " did not answer OK to the init commands " + opts.init +
                  " (result " + std::to_string(rc) + ")"};
}

// Sends one command and prints its answer; throws on any failure.
void Exchange(CModem& modem, const std::string& command, bool printFinal) {
  CString answer;
  const CModem::eERROR rc = modem.commandResponse(WithoutPrefix(command), answer, 0);
  if (rc == CModem::eNoAnswer) throw Failure{command + ": no answer from the modem"};
  if (rc != CModem::eOK) throw Failure{command + ": cannot send the command (result " + std::to_string(rc) + ")"};
  std::vector<std::string> lines = AnswerLines(answer);
  const CModem::eRESULT final = CModem::finalResult(answer.GetString(), static_cast<size_t>(answer.GetLength()));
  if (!printFinal && final == CModem::eResultOK && !lines.empty()) lines.pop_back();
  for (const std::string& l : lines) std::printf("%s\n", l.c_str());
  std::fflush(stdout);
  if (final == CModem::eResultNone) throw Failure{command + ": the answer has no final result code"};
  if (final != CModem::eResultOK) throw Failure{command + ": " + (lines.empty() ? "failed" : lines.back())};
}

void RunProbe(const ModemOptions& opts) {
  CModem modem;
  OpenModem(modem, opts);
  Exchange(modem, "ATI", false);
}

void RunAt(const ModemOptions& opts) {
  CModem modem;
  OpenModem(modem, opts);
  for (const std::string& command : opts.commands) Exchange(modem, command, true);
}

#if defined(SUNDRY_HAVE_MODEM_SIMULATOR)
void RunSimulate(const ModemOptions& opts) {
  // The signals are taken by sigwait below; blocked before the answering
  // thread starts, so that it never receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, sig);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  CModemSimulator sim;
  sim.setDialAnswer(opts.dialAnswer);
  sim.setSilent(opts.silent);
  sim.setGarbage(opts.garbage);
  sim.setBursts(opts.bursts);
  sim.setTrickle(opts.trickle);
  sim.setFlood(opts.flood);
  if (!sim.start(opts.link)) {
    const char* text = sundry::platform::ErrorText(GetLastError());
    throw Failure{std::string("cannot start the simulator: ") + (text != nullptr ? text : "unknown error")};
  }
  std::printf("%s\n", sim.portPath().c_str());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stopSignals, &sig);
  sim.stop();
}
#endif

void Setup(CLI::App& app) {
  auto* modem = app.add_subcommand("modem", "modem simulator and AT commands on a serial port");
  modem->require_subcommand(1);
  auto opts = std::make_shared<ModemOptions>();

#if defined(SUNDRY_HAVE_MODEM_SIMULATOR)
  auto* sim = modem->add_subcommand("simulate", "answer like a Hayes modem on a new pseudo-terminal until stopped");
  sim->add_option("--link", opts->link, "make PATH a symbolic link to the port side")->type_name("PATH");
  sim->add_option("--answer-dial", opts->dialAnswer, "answer to ATD (default NO CARRIER)")->type_name("TEXT");
  sim->add_flag("--silent", opts->silent, "never answer");
  sim->add_flag("--garbage", opts->garbage, "send NUL and 0xFF bytes before each answer");
  sim->add_flag("--bursts", opts->bursts, "split each answer into bursts 40 ms apart");
  sim->add_flag("--trickle", opts->trickle, "send one byte every 15 ms");
  sim->add_flag("--flood", opts->flood, "send 600 bytes of noise before each answer");
  sim->callback([opts] { RunSimulate(*opts); });
#endif

  auto addTiming = [&](CLI::App* cmd) {
    cmd->add_option("--timing", opts->timing, "milliseconds between a command and reading its answer (default 125)")
        ->type_name("MS");
  };
  auto* probe = modem->add_subcommand("probe", "open a port, run the init list, print the answer to ATI");
  probe->add_option("port", opts->port, "port name (COM3) or device path")->required();
  probe->add_option("--init", opts->init, "init command list, such as [Z][E0]")->type_name("LIST");
  addTiming(probe);
  probe->callback([opts] { RunProbe(*opts); });

  auto* at = modem->add_subcommand("at", "send AT commands and print each answer");
  at->add_option("port", opts->port, "port name (COM3) or device path")->required();
  at->add_option("commands", opts->commands, "commands, with or without AT")->required();
  addTiming(at);
  at->callback([opts] { RunAt(*opts); });
}

}  // namespace

SUNDRY_CLI_FAMILY("modem", 70, Setup);

}  // namespace sundry::cli
