// CModem against the modem simulator on a pseudo-terminal.

#include "platform/posix/pty.h"
#include "serial_support.h"
#include "support/testutil.h"

#include <sundry/platform/sync.h>
#include <sundry/serial/Modem.h>
#include <sundry/serial/ModemSimulator.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

using sundry::test::FastClose;
using sundry::test::SecondsSince;
namespace posix = sundry::platform::posix;

sundry::test::DebugLogToFile g_log("modem");

class Modem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.start());
    modem.setResponseTiming(5);
  }
  // Opens the modem with the list given, then forgets what it sent.
  void Init(const char* list = "[Z]") {
    modem.setInitCommands(list);
    ASSERT_EQ(CModem::eOK, modem.init(sim.portPath().c_str(), nullptr));
    sim.clearReceived();
  }
  FastClose fast;
  CModemSimulator sim;
  CModem modem;
};

TEST_F(Modem, SendsExactlyTheCommands) {
  modem.setCloseCommands("[H0]");
  modem.setInitCommands("[Z][E0]");
  ASSERT_EQ(CModem::eOK, modem.init(sim.portPath().c_str(), nullptr));
  EXPECT_EQ("ATZ\rATE0\r", sim.received());
  sim.clearReceived();
  EXPECT_EQ(1, modem.close());
  EXPECT_EQ("ATH0\r", sim.received());  // answered ERROR: the list ends, the port closes
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK(""));  // state stays 2, port closed
}

TEST_F(Modem, InitListsAndState) {
  EXPECT_EQ(CModem::eNotInitialised, modem.commandOK("Z"));
  EXPECT_EQ("", sim.received());
  modem.setInitCommands("no brackets");
  EXPECT_EQ(CModem::eOK, modem.init(sim.portPath().c_str(), nullptr));
  EXPECT_EQ("", sim.received());
  modem.setInitCommands("x[E0]y[I");  // the last command runs to the end
  EXPECT_EQ(CModem::eOK, modem.init(sim.portPath().c_str(), nullptr));
  EXPECT_EQ("ATE0\rATI\r", sim.received());
  modem.setInitCommands("");
  EXPECT_EQ(CModem::eNoInitCommands, modem.init(sim.portPath().c_str(), nullptr));
  EXPECT_EQ(CModem::eOK, modem.commandOK("Z"));  // the port stayed open
  modem.setInitCommands("[Z][X9][E0]");
  EXPECT_EQ(CModem::eCommandFailed, modem.init(sim.portPath().c_str(), nullptr));
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK("Z"));  // closed after the failing command
  EXPECT_EQ(CModem::eOpenFailed, modem.init("/dev/no-such-modem", nullptr));
}

TEST_F(Modem, AnswersWithEchoAndFirstLine) {
  Init();
  CString whole;
  ASSERT_EQ(CModem::eOK, modem.commandResponse("I", whole, 0));
  EXPECT_EQ(CString("ATI\r\r\nSundry modem simulator\r\nHayes command set\r\n\r\nOK\r\n"), whole);
  CString first;
  ASSERT_EQ(CModem::eOK, modem.commandResponse("I", first, 1));
  EXPECT_EQ(CString("Sundry modem simulator"), first);
  ASSERT_EQ(CModem::eOK, modem.commandOK("E0"));
  first = "";
  ASSERT_EQ(CModem::eOK, modem.commandResponse("I", first, 1));
  EXPECT_EQ(CString("Sundry modem simulator"), first);
}

TEST_F(Modem, ErrorIsAnAnswerButNotOK) {
  Init("[E0]");
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK("+XYZ"));
  CString answer;
  EXPECT_EQ(CModem::eOK, modem.commandResponse("+XYZ", answer, 0));
  EXPECT_EQ(CString("\r\nERROR\r\n"), answer);
  // The echo holds "OK" but the final result is ERROR.
  ASSERT_EQ(CModem::eOK, modem.commandOK("E1"));
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK("+CSCS=\"OK\""));
}

TEST_F(Modem, FinalResultsEndTheWait) {
  Init();
  for (const char* final : {"NO CARRIER", "BUSY", "NO DIALTONE", "CONNECT 57600"}) {
    sim.setDialAnswer(final);
    const auto start = std::chrono::steady_clock::now();
    CString answer;
    EXPECT_EQ(CModem::eOK, modem.commandResponse("DT123", answer, 0)) << final;
    EXPECT_EQ(CString("ATDT123\r\r\n") + final + "\r\n", answer);
    EXPECT_LT(SecondsSince(start), 1.0) << final;  // not the 3.2 s of an open answer
    EXPECT_EQ(CModem::eCommandFailed, modem.commandOK("DT123")) << final;
  }
}

TEST_F(Modem, AnswersSplitAcrossReads) {
  Init("[E0]");
  sim.setBursts(true);
  CString answer;
  ASSERT_EQ(CModem::eOK, modem.commandResponse("I", answer, 0));
  EXPECT_EQ(CString("\r\nSundry modem simulator\r\nHayes command set\r\n\r\nOK\r\n"), answer);
  sim.setBursts(false);
  sim.setTrickle(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CModem::eOK, modem.commandOK(""));
  EXPECT_LT(SecondsSince(start), 1.0);
}

TEST_F(Modem, LineNoiseWithNulDoesNotHideOK) {
  Init("[E0]");
  sim.setGarbage(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CModem::eOK, modem.commandOK(""));
  EXPECT_LT(SecondsSince(start), 1.0);
  CString answer;
  ASSERT_EQ(CModem::eOK, modem.commandResponse("", answer, 0));
  EXPECT_EQ(CString(std::string("\0\xff\0\xff\r\nOK\r\n", 10)), answer);
}

TEST_F(Modem, FloodFillsTheBufferAndStops) {
  Init("[E0]");
  sim.setFlood(true);
  CString answer;
  ASSERT_EQ(CModem::eOK, modem.commandResponse("", answer, 0));
  EXPECT_EQ(384, answer.GetLength());
  modem.purgeReadBuffer(50);  // the rest of the flood and its OK
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK(""));  // no final result in what fits
}

TEST_F(Modem, SilenceTimesOut) {
  Init("[E0]");
  sim.setSilent(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK("I"));
  const double took = SecondsSince(start);
  EXPECT_GE(took, 4.0);  // 160 polls of 25 ms after the 5 ms timing
  EXPECT_LT(took, 6.0);  // generous: a loaded machine oversleeps
  EXPECT_EQ("ATI\r", sim.received());
}

TEST_F(Modem, RefusesCommandsThatDoNotFitOrBreakTheLine) {
  Init("[E0]");
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK("Z\rATD123"));
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK("Z\n"));
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK(CString('S', 381)));  // AT + 381 + CR = 384
  EXPECT_EQ("", sim.received());
  CString answer;
  EXPECT_EQ(CModem::eOK, modem.commandResponse(CString('S', 380), answer, 0));
  EXPECT_EQ(383u, sim.received().size());
}

TEST_F(Modem, HangUpEndsTheDialogue) {
  Init("[E0]");
  sim.hangUp();
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK(""));
  EXPECT_EQ(CModem::eCommandFailed, modem.commandOK(""));  // the port is closed now
}

TEST_F(Modem, CommandsFromTwoThreadsNeverInterleave) {
  Init("[E0]");
  sim.setDialAnswer("BUSY");
  std::atomic<int> wrong{0};
  auto worker = [&](const char* command, const char* expected) {
    for (int i = 0; i < 50; ++i) {
      CString answer;
      if (modem.commandResponse(command, answer, 0) != CModem::eOK ||
          answer.str().find(expected) == std::string::npos)
        ++wrong;
    }
  };
  std::thread a(worker, "I", "Hayes command set");
  std::thread b(worker, "D5551234", "BUSY");
  a.join();
  b.join();
  EXPECT_EQ(0, wrong.load());
  std::string got = sim.received();
  int is = 0, ds = 0;
  for (size_t at = 0; at < got.size();) {
    const size_t cr = got.find('\r', at);
    ASSERT_NE(std::string::npos, cr);
    const std::string line = got.substr(at, cr - at);
    if (line == "ATI") ++is;
    else if (line == "ATD5551234") ++ds;
    else ADD_FAILURE() << "interleaved: " << line;
    at = cr + 1;
  }
  EXPECT_EQ(50, is);
  EXPECT_EQ(50, ds);
}

// A line that keeps talking cannot hold the purge for ever: it stops after
// the input queue's worth (10000 bytes) at most, leaving the rest.
TEST(ModemPurge, IsBoundedOnAFullLine) {
  FastClose fast;
  posix::Pty pty;
  ASSERT_TRUE(posix::OpenPty(pty));
  CModem modem;
  modem.setInitCommands("");
  ASSERT_EQ(CModem::eNoInitCommands, modem.init(pty.path.c_str(), nullptr));
  const std::string noise(1024, '~');
  size_t queued = 0;
  for (int full = 0; full < 3;) {  // the pty moves data on in the background
    const long n = posix::WriteSome(pty.master.get(), noise.data(), noise.size());
    if (n > 0) {
      queued += static_cast<size_t>(n);
      full = 0;
    } else {
      ++full;
      Sleep(20);
    }
  }
  ASSERT_GT(queued, 20000u);
  const auto start = std::chrono::steady_clock::now();
  modem.purgeReadBuffer(0);
  EXPECT_LT(SecondsSince(start), 1.5);
  CString answer;
  EXPECT_EQ(CModem::eOK, modem.commandResponse("", answer, 0));  // the rest is still there
  EXPECT_EQ(384, answer.GetLength());
}

}  // namespace
