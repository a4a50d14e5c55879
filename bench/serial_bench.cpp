// Serial port costs on a pseudo-terminal: write throughput through
// CSerialPort beside a raw write loop on the same kind of pty (a thread
// drains the far end in both), a read that finds nothing, and one command
// to a prompt modem (the simulator) at the default response timing.
//
// Read the throughput as the ratio of the CSerialPort rows to the raw rows
// of the same size from one run.

#include "platform/posix/pty.h"
#include "platform/winapi/sleep_internal.h"

#include <sundry/serial/Modem.h>
#include <sundry/serial/ModemSimulator.h>
#include <sundry/serial/SerialPort.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

namespace posix = sundry::platform::posix;

// A pty whose controlling side is read and dropped by a thread.
class DrainedPty {
 public:
  DrainedPty() {
    if (!posix::OpenPty(m_pty)) return;
    m_thread = std::thread([this] {
      char buf[65536];
      while (!m_stop) {
        if (posix::WaitForInput(m_pty.master.get(), -1, 20) != 1) continue;
        while (posix::ReadAvailable(m_pty.master.get(), buf, sizeof buf) > 0) {
        }
      }
    });
  }
  ~DrainedPty() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  const std::string& path() const { return m_pty.path; }
  bool ok() const { return m_pty.master.valid(); }

 private:
  posix::Pty m_pty;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

DWORD noClosePause(DWORD ms, void*) { return ms == 250 ? 0 : ms; }

void BM_RawWrite(benchmark::State& state) {
  DrainedPty pty;
  posix::UniqueFd fd(::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!pty.ok() || !fd) {
    state.SkipWithError("no pty");
    return;
  }
  const std::string data(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    if (!posix::WriteAll(fd.get(), data.data(), data.size())) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_SerialPortWrite(benchmark::State& state) {
  sundry::platform::SetSleepHook(&noClosePause, nullptr);
  DrainedPty pty;
  CSerialPort port;
  if (!pty.ok() || port.open(pty.path().c_str(), nullptr) != CSerialPort::eOK) {
    state.SkipWithError("cannot open the port");
    return;
  }
  const std::string data(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    unsigned long n = data.size();
    if (port.write(data.data(), &n) != CSerialPort::eOK) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  port.close();
  sundry::platform::SetSleepHook(nullptr, nullptr);
}

void BM_SerialPortEmptyRead(benchmark::State& state) {
  sundry::platform::SetSleepHook(&noClosePause, nullptr);
  posix::Pty pty;
  CSerialPort port;
  if (!posix::OpenPty(pty) || port.open(pty.path.c_str(), nullptr) != CSerialPort::eOK) {
    state.SkipWithError("cannot open the port");
    return;
  }
  char buf[384];
  for (auto _ : state) {
    unsigned long n = sizeof buf;
    port.read(buf, &n);
    benchmark::DoNotOptimize(n);
  }
  port.close();
  sundry::platform::SetSleepHook(nullptr, nullptr);
}

void BM_ModemPromptCommand(benchmark::State& state) {
  sundry::platform::SetSleepHook(&noClosePause, nullptr);
  CModemSimulator sim;
  CModem modem;
  modem.setInitCommands("[E0]");
  if (!sim.start() || modem.init(sim.portPath().c_str(), nullptr) != CModem::eOK) {
    state.SkipWithError("no simulator");
    return;
  }
  for (auto _ : state) {
    if (modem.commandOK("") != CModem::eOK) {
      state.SkipWithError("command failed");
      break;
    }
  }
  modem.close();
  sundry::platform::SetSleepHook(nullptr, nullptr);
}

}  // namespace

BENCHMARK(BM_RawWrite)->Arg(384)->Arg(4096)->UseRealTime();
BENCHMARK(BM_SerialPortWrite)->Arg(384)->Arg(4096)->UseRealTime();
BENCHMARK(BM_SerialPortEmptyRead);
BENCHMARK(BM_ModemPromptCommand)->Unit(benchmark::kMillisecond)->Iterations(10);

BENCHMARK_MAIN();
