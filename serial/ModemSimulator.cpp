// A Hayes-style modem answering on a pseudo-terminal.

#include <sundry/serial/ModemSimulator.h>

#include "platform/posix/error.h"
#include "platform/posix/fd.h"
#include "platform/posix/pty.h"

#include <sundry/platform/error.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

namespace posix = sundry::platform::posix;

namespace {

const size_t kLineLimit = 1024;
const size_t kFloodBytes = 600;
const auto kTrickleGap = std::chrono::milliseconds(15);
const auto kBurstGap = std::chrono::milliseconds(40);
const int kWritePollMs = 50;

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

struct CModemSimulator::State {
  mutable std::mutex lock;  // guards received, dialAnswer, identification, path
  std::string received;
  std::string dialAnswer = "NO CARRIER";
  std::vector<std::string> identification = {"Sundry modem simulator", "Hayes command set"};
  std::string path;

  std::atomic<bool> silent{false}, garbage{false}, bursts{false}, trickle{false}, flood{false};
  std::atomic<bool> stopping{false};

  posix::Pty pty;
  posix::UniqueFd wakeRead, wakeWrite;
  std::thread thread;
  std::string link;

  // The answering thread's own state.
  bool echo = true;
  std::string line;

  // Writes all of data to the controlling side unless stopping.
  bool send(const char* data, size_t size) {
    while (size > 0 && !stopping) {
      const long n = posix::WriteSome(pty.master.get(), data, size);
      if (n < 0) return false;
      if (n == 0) {
        if (posix::WaitForOutput(pty.master.get(), kWritePollMs) < 0) return false;
        continue;
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
    return size == 0;
  }

  bool send(const std::string& s) { return send(s.data(), s.size()); }

  // Sends an answer the way the behaviours switched on say.
  void answer(const std::string& text) {
    std::string out;
    if (garbage) out.append(std::string("\0\xff\0\xff", 4));
    if (flood) {
      while (out.size() < kFloodBytes) out += "\r\nNOISE 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    }
    out += text;
    if (trickle) {
      for (char c : out) {
        if (!send(&c, 1) || stopping) return;
        std::this_thread::sleep_for(kTrickleGap);
      }
    } else if (bursts) {
      const size_t third = (out.size() + 2) / 3;
      for (size_t at = 0; at < out.size() && !stopping; at += third) {
        if (at > 0) std::this_thread::sleep_for(kBurstGap);
        if (!send(out.substr(at, third))) return;
      }
    } else {
      send(out);
    }
  }

  static std::string result(const std::string& text) { return "\r\n" + text + "\r\n"; }

  void command(const std::string& raw) {
    if (raw.size() < 2 || upper(raw.substr(0, 2)) != "AT") return;  // line noise
    const std::string rest = raw.substr(2);
    const std::string cmd = upper(rest);
    std::string reply;
    if (cmd.empty()) {
      reply = result("OK");
    } else if (cmd == "Z") {
      echo = true;
      reply = result("OK");
    } else if (cmd == "E0" || cmd == "E") {
      echo = false;
      reply = result("OK");
    } else if (cmd == "E1") {
      echo = true;
      reply = result("OK");
    } else if (cmd == "I" || (cmd.size() == 2 && cmd[0] == 'I' && std::isdigit(static_cast<unsigned char>(cmd[1])))) {
      std::lock_guard<std::mutex> hold(lock);
      for (const std::string& l : identification) reply += "\r\n" + l;
      reply += "\r\n" + result("OK");
    } else if (cmd[0] == 'D') {
      std::lock_guard<std::mutex> hold(lock);
      reply = result(dialAnswer);
    } else {
      reply = result("ERROR");
    }
    answer(reply);
  }

  void run() {
    char buf[512];
    while (!stopping) {
      const int ready = posix::WaitForInput(pty.master.get(), wakeRead.get(), -1);
      if (ready < 0) break;
      if (ready != 1) continue;
      const long n = posix::ReadAvailable(pty.master.get(), buf, sizeof buf);
      if (n < 0) {
        // The port side is held open by the simulator itself, so this is
        // only a passing state; do not spin on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (n == 0) continue;
      {
        std::lock_guard<std::mutex> hold(lock);
        received.append(buf, static_cast<size_t>(n));
      }
      if (silent) {
        line.clear();
        continue;
      }
      if (echo) send(buf, static_cast<size_t>(n));
      for (long i = 0; i < n && !stopping; ++i) {
        const char c = buf[i];
        if (c == '\r') {
          command(line);
          line.clear();
        } else if (c == '\b' || c == 0x7f) {
          if (!line.empty()) line.pop_back();
        } else if (c != '\n' && line.size() < kLineLimit) {
          line += c;
        }
      }
    }
  }
};

CModemSimulator::CModemSimulator() : m_state(new State) {}

CModemSimulator::~CModemSimulator() { stop(); }

bool CModemSimulator::start(const std::string& linkPath) {
  try {
    stop();
    State& s = *m_state;
    posix::Pty pty;
    if (!posix::OpenPty(pty) || !posix::OpenWakePipe(s.wakeRead, s.wakeWrite)) {
      posix::SetLastErrorFromErrno(errno, "openpty", nullptr);
      return false;
    }
    if (!linkPath.empty() && !posix::ReplaceSymlink(linkPath, pty.path)) {
      posix::SetLastErrorFromErrno(errno, "symlink", linkPath.c_str());
      return false;
    }
    s.link = linkPath;
    {
      std::lock_guard<std::mutex> hold(s.lock);
      s.path = pty.path;
    }
    s.pty = std::move(pty);
    s.echo = true;
    s.line.clear();
    s.stopping = false;
    s.thread = std::thread([&s] { s.run(); });
    return true;
  } catch (const std::exception&) {  // no memory, or no thread to be had
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

void CModemSimulator::stop() {
  State& s = *m_state;
  if (!s.thread.joinable()) return;
  s.stopping = true;
  posix::Wake(s.wakeWrite.get());
  s.thread.join();
  if (!s.link.empty()) posix::RemoveSymlinkTo(s.link, s.pty.path);
  s.link.clear();
  s.pty.master.reset();
  s.pty.keepOpen.reset();
  s.wakeRead.reset();
  s.wakeWrite.reset();
}

std::string CModemSimulator::portPath() const {
  std::lock_guard<std::mutex> hold(m_state->lock);
  return m_state->path;
}

void CModemSimulator::setSilent(bool on) { m_state->silent = on; }
void CModemSimulator::setGarbage(bool on) { m_state->garbage = on; }
void CModemSimulator::setBursts(bool on) { m_state->bursts = on; }
void CModemSimulator::setTrickle(bool on) { m_state->trickle = on; }
void CModemSimulator::setFlood(bool on) { m_state->flood = on; }

void CModemSimulator::setDialAnswer(const std::string& text) {
  std::lock_guard<std::mutex> hold(m_state->lock);
  m_state->dialAnswer = text;
}

void CModemSimulator::setIdentification(const std::vector<std::string>& lines) {
  std::lock_guard<std::mutex> hold(m_state->lock);
  m_state->identification = lines;
}

std::string CModemSimulator::received() const {
  std::lock_guard<std::mutex> hold(m_state->lock);
  return m_state->received;
}

void CModemSimulator::clearReceived() {
  std::lock_guard<std::mutex> hold(m_state->lock);
  m_state->received.clear();
}
