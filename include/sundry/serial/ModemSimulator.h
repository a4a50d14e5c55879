#pragma once
// CModemSimulator: a Hayes-style modem on a pseudo-terminal, for testing a
// dialer without a modem. start() opens a pseudo-terminal and answers on it
// from a thread of its own until stop(); portPath() is the port side to
// open (with CSerialPort, CModem, or any serial program).
//
// It echoes what it receives while echo is on (the default; ATE0 turns it
// off, ATE1 and ATZ on) and answers each line ended by a carriage return
// that starts with "AT" (any case): "AT" and "ATZ" with OK, "ATE0"/"ATE1"
// with OK, "ATI" with the identification lines and OK, "ATD..." with the
// dial answer (NO CARRIER unless set otherwise), anything else with ERROR.
// Answers have the verbose form "\r\n" text "\r\n". Lines not starting with
// "AT" are ignored, as a modem ignores line noise.
//
// Behaviours, switchable at any time (each applies from the next answer):
// silent (no echo, no answer), garbage (NUL and 0xFF bytes before each
// answer), bursts (each answer split in three parts 40 ms apart), trickle
// (one byte every 15 ms), flood (600 bytes of noise lines before each
// answer: more than a CModem answer holds).
//
// All members are thread-safe. The object must be stopped before it goes
// (the destructor stops it).

#include <sundry/export.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class SUNDRY_EXPORT CModemSimulator {
 public:
  CModemSimulator();
  ~CModemSimulator();
  CModemSimulator(const CModemSimulator&) = delete;
  CModemSimulator& operator=(const CModemSimulator&) = delete;

  // Opens the pseudo-terminal and starts answering. With a link path, also
  // makes that path a symbolic link to the port side (replacing a link
  // there, never anything else), removed again by stop(). False, with the
  // last error set, when the terminal or the link cannot be made.
  bool start(const std::string& linkPath = std::string());
  // Stops answering and closes the pseudo-terminal: the port side hangs up.
  void stop();
  // The path of the port side; empty before start().
  std::string portPath() const;

  // Closes the controlling side at once, as a modem dropping the line: a
  // client reading the port sees the hang-up. The simulator stops.
  void hangUp() { stop(); }

  void setSilent(bool on);
  void setGarbage(bool on);
  void setBursts(bool on);
  void setTrickle(bool on);
  void setFlood(bool on);
  void setDialAnswer(const std::string& text);
  void setIdentification(const std::vector<std::string>& lines);

  // Every byte received since start (or the last clearReceived), as sent.
  std::string received() const;
  void clearReceived();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};
