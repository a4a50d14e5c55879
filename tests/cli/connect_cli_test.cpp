// sundry connect: the demo, and up and down against the modem simulator,
// with up killed at every point of its road.

#include "support/testutil.h"

#include <sundry/platform/sync.h>
#include <sundry/serial/ModemSimulator.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::TempDir;
using sundry::test::WriteFile;

const std::string kData = std::string(SUNDRY_SOURCE_DIR) + "/data/connect/";
const char kConnections[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

TEST(ConnectDemo, RunsTheWholeRoadOnATemporaryHomeAndLeavesTheUsersAlone) {
  // The user's store, application data, resolver file and COM map: the
  // demo must neither read them for its work nor change them.
  TempDir user;
  const std::string resolv = "search user.example\nnameserver 10.0.0.1\n", map = "COM5=/dev/null\n";
  ASSERT_TRUE(WriteFile(user.file("resolv.conf"), resolv));
  ASSERT_TRUE(WriteFile(user.file("com.map"), map));
  fs::create_directories(user.file("appdata"));
  std::string out;
  const int rc = RunCommand("env SUNDRY_REGISTRY=" + user.file("registry.db") + " SUNDRY_APPDATA=" +
                                user.file("appdata") + " SUNDRY_RESOLV_CONF=" + user.file("resolv.conf") +
                                " SUNDRY_COM_MAP=" + user.file("com.map") + " " + SUNDRY_CLI_PATH +
                                " connect demo 2>&1",
                            &out);
  ASSERT_EQ(0, rc) << out;
  EXPECT_NE(std::string::npos, out.find("everything is as it should be.")) << out;
  EXPECT_NE(std::string::npos, out.find("ATDT5550100: CONNECT 33600")) << out;
  EXPECT_NE(std::string::npos, out.find("[2] archived the former phonebook.txt")) << out;
  size_t checks = 0;
  for (size_t at = out.find(" yes\n"); at != std::string::npos; at = out.find(" yes\n", at + 1)) ++checks;
  EXPECT_EQ(11u, checks) << out;  // the hang-up noticed and ten checks
  EXPECT_EQ(std::string::npos, out.find(" NO")) << out;

  EXPECT_EQ(resolv, ReadFile(user.file("resolv.conf")));
  EXPECT_EQ(map, ReadFile(user.file("com.map")));
  EXPECT_FALSE(fs::exists(user.file("registry.db")));
  EXPECT_TRUE(fs::is_empty(user.file("appdata")));
  const std::string marker = "Temporary home: ";
  const size_t at = out.find(marker);
  ASSERT_NE(std::string::npos, at);
  EXPECT_FALSE(fs::exists(out.substr(at + marker.size(), out.find('\n', at) - at - marker.size())));
}

// A client's machine in a folder: the registry store with the proxy
// template and the browser's records, a Mozilla profile, a resolver file,
// the client's folder and its update; the modem is the simulator.
class ConnectUpDown : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home.file("run"));
    fs::permissions(home.file("run"), fs::perms::owner_all);
    fs::create_directories(m_profile);
    fs::create_directories(home.file("client"));
    fs::create_directories(home.file("update"));
    ASSERT_EQ(0, Sundry("reg import " + kData + "template.reg"));
    ASSERT_EQ(0, Sundry("reg import " + kData + "browser-ie.reg"));
    ASSERT_TRUE(WriteFile(m_profile + "/prefs.js", ReadFile(kData + "prefs.js")));
    ASSERT_TRUE(WriteFile(home.file("resolv.conf"), ReadFile(kData + "resolv.conf")));
    ASSERT_TRUE(WriteFile(home.file("client/dialer.cfg"), "[Dialer]\r\nVersion=4.1.0\r\n"));
    ASSERT_TRUE(WriteFile(home.file("update/dialer.cfg"), "[Dialer]\r\nVersion=4.2.0\r\n"));
    sim.setDialAnswer("CONNECT 33600");
    ASSERT_TRUE(sim.start(home.file("modem")));
    ASSERT_EQ(0, Sundry("reg export \"" + std::string(kConnections) + "\" " + home.file("ie-before.reg")));
    m_prefs = ReadFile(m_profile + "/prefs.js");
    m_resolv = ReadFile(home.file("resolv.conf"));
  }

  // Runs "sundry ARGS" on this machine; out holds what it printed.
  int Sundry(const std::string& args, const std::string& env = std::string()) {
    return RunCommand("exec env SUNDRY_REGISTRY=" + home.file("registry.db") + " SUNDRY_APPDATA=" +
                          home.file("appdata") + " XDG_RUNTIME_DIR=" + home.file("run") + " " + env + " " +
                          SUNDRY_CLI_PATH + " " + args + " 2>&1",
                      &out);
  }
  std::string Up() const {
    return "connect up --port " + home.file("modem") +
           " --connection 'ISP Dial-Up' --template 'HKCU\\Software\\Sundry\\Dialer\\Proxy Template'"
           " --browser ie --browser mozilla --timing 10 --resolv " +
           home.file("resolv.conf") + " --suffix isp.example --suffix support.isp.example --update-from " +
           home.file("update") + " --update-to " + home.file("client") + " --archive " + home.file("archive") +
           " --log " + home.file("sessions.log");
  }
  // The browser's records, prefs.js and the resolver file as before, and
  // no state left.
  void ExpectPutBack(const std::string& when) {
    SCOPED_TRACE(when);
    ASSERT_EQ(0, Sundry("reg export \"" + std::string(kConnections) + "\" " + home.file("ie-after.reg") + " /y"));
    EXPECT_EQ(ReadFile(home.file("ie-before.reg")), ReadFile(home.file("ie-after.reg")));
    EXPECT_EQ(m_prefs, ReadFile(m_profile + "/prefs.js"));
    EXPECT_EQ(m_resolv, ReadFile(home.file("resolv.conf")));
    EXPECT_NE(0, Sundry("reg query \"HKCU\\Software\\Sundry\\Connection State\""));
  }

  TempDir home;
  CModemSimulator sim;
  std::string out;
  const std::string m_profile = home.file("appdata/Mozilla/Profiles/default/x7c2kq1d.slt");
  std::string m_prefs, m_resolv;
};

TEST_F(ConnectUpDown, DownPutsBackWhatAnUpKilledAtAnyPointChanged) {
  const char* points[] = {"before-dial",          "after-dial",  "before-proxy-ie", "after-proxy-ie",
                          "before-proxy-mozilla", "after-proxy-mozilla", "before-dns", "after-dns",
                          "before-update",        "update-copied", "after-update", "before-log",     "after-log",
                          "holding"};
  int updated = 0;
  for (const char* point : points) {
    const bool pastUpdate = std::string(point) == "after-update" || std::string(point).find("log") != std::string::npos ||
                            std::string(point) == "holding";
    ASSERT_EQ(-1, Sundry(Up(), std::string("SUNDRY_CONNECT_CRASH_AT=") + point)) << point << "\n" << out;
    ASSERT_EQ(0, Sundry("connect down")) << point << "\n" << out;
    ExpectPutBack(point);
    // A finished update stays; one cut short is rolled back from its archive.
    EXPECT_EQ(pastUpdate ? "[Dialer]\r\nVersion=4.2.0\r\n" : "[Dialer]\r\nVersion=4.1.0\r\n",
              ReadFile(home.file("client/dialer.cfg")))
        << point;
    updated += pastUpdate;
    // down again finds nothing left.
    ASSERT_EQ(0, Sundry("connect down")) << out;
    EXPECT_NE(std::string::npos, out.find("nothing to put back")) << out;
    ASSERT_TRUE(WriteFile(home.file("client/dialer.cfg"), "[Dialer]\r\nVersion=4.1.0\r\n"));
    fs::remove_all(home.file("archive"));
  }
  EXPECT_EQ(4, updated);
  // The sessions that made it into the log (killed after the append) were
  // ended by down: a ring of 97-byte slots after a 36-byte header, each a
  // status byte and the record, whose end time is at offset 16.
  const std::string log = ReadFile(home.file("sessions.log"));
  int sessions = 0;
  for (size_t slot = 36; slot + 97 <= log.size(); slot += 97) {
    if (static_cast<unsigned char>(log[slot]) != 0xCF) continue;
    ++sessions;
    EXPECT_NE(std::string(8, '\0'), log.substr(slot + 1 + 16, 8)) << "session " << sessions << " has no end";
  }
  EXPECT_EQ(2, sessions);
}

TEST_F(ConnectUpDown, DownEndsAHoldingUpWhichPutsEverythingBack) {
  std::string pid;
  ASSERT_EQ(0, RunCommand("env SUNDRY_REGISTRY=" + home.file("registry.db") + " SUNDRY_APPDATA=" +
                              home.file("appdata") + " XDG_RUNTIME_DIR=" + home.file("run") + " " +
                              SUNDRY_CLI_PATH + " " + Up() + " > " + home.file("up.out") + " 2>&1 & echo $!",
                          &pid));
  for (int i = 0; i < 500 && ReadFile(home.file("up.out")).find("Holding the line") == std::string::npos; ++i)
    Sleep(10);
  const std::string during = ReadFile(home.file("up.out"));
  ASSERT_NE(std::string::npos, during.find("Holding the line")) << during;
  EXPECT_NE(m_prefs, ReadFile(m_profile + "/prefs.js"));
  EXPECT_NE(std::string::npos, ReadFile(home.file("resolv.conf")).find("search isp.example support.isp.example\n"));
  EXPECT_EQ("ATZ\rATE0\rATDT5550100\r", sim.received());
  // A second up is refused while the first holds the line.
  EXPECT_EQ(1, Sundry(Up()));
  EXPECT_NE(std::string::npos, out.find("another `sundry connect` is running")) << out;

  ASSERT_EQ(0, Sundry("connect down")) << out;
  EXPECT_NE(std::string::npos, out.find("It hung up and put everything back.")) << out;
  EXPECT_NE(std::string::npos, ReadFile(home.file("up.out")).find("\nEverything is back.\n"));
  ExpectPutBack("after a hold");
  EXPECT_EQ("[Dialer]\r\nVersion=4.2.0\r\n", ReadFile(home.file("client/dialer.cfg")));
  EXPECT_EQ("[Dialer]\r\nVersion=4.1.0\r\n", ReadFile(home.file("archive/dialer.cfg")));
}

TEST_F(ConnectUpDown, AFailedDialChangesNothing) {
  sim.setDialAnswer("BUSY");
  EXPECT_EQ(1, Sundry(Up()));
  EXPECT_NE(std::string::npos, out.find("the modem answered BUSY")) << out;
  ExpectPutBack("after BUSY");
  EXPECT_EQ("[Dialer]\r\nVersion=4.1.0\r\n", ReadFile(home.file("client/dialer.cfg")));
  // A template that is no registry key is refused before anything is dialled.
  sim.clearReceived();
  EXPECT_EQ(2, Sundry("connect up --port " + home.file("modem") + " --connection X --template nowhere --browser ie"));
  ExpectPutBack("after a bad template");
  EXPECT_EQ("", sim.received());
}

TEST_F(ConnectUpDown, DownKeepsWhatItCouldNotPutBackForAnotherTry) {
  ASSERT_EQ(-1, Sundry(Up(), "SUNDRY_CONNECT_CRASH_AT=after-dns")) << out;
  // The Mozilla profile is away: its settings cannot go back yet.
  const std::string switched = ReadFile(m_profile + "/prefs.js");
  fs::rename(home.file("appdata"), home.file("appdata.away"));
  EXPECT_EQ(1, Sundry("connect down"));
  EXPECT_NE(std::string::npos, out.find("the state is kept for another try")) << out;
  EXPECT_EQ(m_resolv, ReadFile(home.file("resolv.conf")));  // the rest is back
  EXPECT_EQ(0, Sundry("reg query \"HKCU\\Software\\Sundry\\Connection State\""));
  fs::rename(home.file("appdata.away"), home.file("appdata"));
  EXPECT_EQ(switched, ReadFile(m_profile + "/prefs.js"));
  ASSERT_EQ(0, Sundry("connect down")) << out;
  ExpectPutBack("on the second try");
}

}  // namespace
