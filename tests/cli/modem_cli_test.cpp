// sundry modem, run as a user would, against the modem simulator.

#include "support/testutil.h"

#include <sundry/platform/sync.h>
#include <sundry/serial/Modem.h>
#include <sundry/serial/ModemSimulator.h>

#include <unistd.h>

namespace {

using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::TempDir;

class ModemCommand : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.start()); }
  // Runs "sundry modem ARGS" and returns the exit status; out and err hold
  // what it printed.
  int Modem(const std::string& args) {
    const int rc = RunCommand(std::string(SUNDRY_CLI_PATH) + " modem " + args + " > " + dir.file("out") + " 2> " +
                              dir.file("err"));
    out = ReadFile(dir.file("out"));
    err = ReadFile(dir.file("err"));
    return rc;
  }
  TempDir dir;
  CModemSimulator sim;
  std::string out, err;
};

TEST_F(ModemCommand, ProbePrintsTheIdentification) {
  sim.setIdentification({"Test modem 56k", "rev 2"});
  ASSERT_EQ(0, Modem("probe " + sim.portPath() + " --timing 10 --init '[Z][E0]'")) << err;
  EXPECT_EQ("Test modem 56k\nrev 2\n", out);
  EXPECT_EQ("ATZ\rATE0\rATI\r", sim.received());
  EXPECT_EQ(1, Modem("probe /dev/no-such-modem"));
  EXPECT_NE(std::string::npos, err.find("cannot open /dev/no-such-modem")) << err;
}

TEST_F(ModemCommand, AtPrintsEachAnswerAndFailsOnError) {
  sim.setDialAnswer("BUSY");
  ASSERT_EQ(0, Modem("at " + sim.portPath() + " --timing 10 ATZ E0 AT")) << err;
  EXPECT_EQ("OK\nOK\nOK\n", out);
  EXPECT_EQ(1, Modem("at " + sim.portPath() + " --timing 10 Z '+CSCS=\"OK\"' I"));
  EXPECT_EQ("OK\nERROR\n", out);
  EXPECT_NE(std::string::npos, err.find("ERROR")) << err;
  EXPECT_EQ(1, Modem("at " + sim.portPath() + " --timing 10 D123"));
  EXPECT_EQ("BUSY\n", out);
}

TEST(ModemSimulateCommand, ServesALinkUntilStopped) {
  TempDir dir;
  const std::string link = dir.file("modem");
  std::string pid;
  ASSERT_EQ(0, RunCommand(std::string(SUNDRY_CLI_PATH) + " modem simulate --answer-dial CONNECT --link " + link +
                              " > " + dir.file("out") + " 2>&1 & echo $!",
                          &pid));
  for (int i = 0; i < 300 && access(link.c_str(), F_OK) != 0; ++i) Sleep(10);
  {
    CModem modem;
    modem.setResponseTiming(10);
    modem.setInitCommands("[E0]");
    ASSERT_EQ(CModem::eOK, modem.init(link.c_str(), nullptr));
    CString answer;
    ASSERT_EQ(CModem::eOK, modem.commandResponse("D5551234", answer, 0));
    EXPECT_EQ(CString("\r\nCONNECT\r\n"), answer);
  }
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target) + "\n", ReadFile(dir.file("out")));
  ASSERT_EQ(0, RunCommand("kill " + pid));
  for (int i = 0; i < 300 && access(link.c_str(), F_OK) == 0; ++i) Sleep(10);
  EXPECT_NE(0, access(link.c_str(), F_OK));  // the link went with the simulator
}

}  // namespace
