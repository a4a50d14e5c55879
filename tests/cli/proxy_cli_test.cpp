// sundry proxy and its demonstration, run as a user would.

#include "proxy/proxy_fixture.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace {

using namespace sundry::test;

class ProxyCliTest : public ProxyTest {
 protected:
  // Runs the tool on this test's store, which this process closes
  // meanwhile; returns the exit status, stdout and stderr in *out.
  int sundry(const std::string& args, std::string* out) {
    sundry::platform::RegistryResetForTesting();
    return RunCommand(std::string(SUNDRY_CLI_PATH) + " proxy " + args + " 2>&1", out);
  }
  bool shows(const std::string& args, const std::string& line) {
    std::string out;
    const bool found = sundry(args, &out) == 0 && out.find(line + "\n") != std::string::npos;
    if (!found) ADD_FAILURE() << args << " does not show \"" << line << "\":\n" << out;
    return found;
  }
};

TEST_F(ProxyCliTest, TheDemoComesBackByteForByteAndCleansUp) {
  // The fixture may have opened the test's own store already; the demo
  // must leave its bytes as they are.
  const auto storeBytes = [this] { return ReadFile(m_dir.file("registry.db")); };
  const std::string storeBefore = storeBytes();
  std::string out;
  ASSERT_EQ(0, sundry("demo --data " + std::string(SUNDRY_SOURCE_DIR) + "/data/proxy", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("Every connection came back byte for byte.")) << out;
  size_t checks = 0;
  for (size_t at = out.find("back byte for byte"); at != std::string::npos; at = out.find("back byte for byte", at + 1))
    ++checks;
  EXPECT_EQ(5u, checks) << out;  // three records, prefs.js and the closing line
  EXPECT_EQ(std::string::npos, out.find(": NO")) << out;
  // The temporary store and application data are gone; the test's store
  // was never touched.
  const std::string marker = "Temporary registry store: ";
  const size_t at = out.find(marker);
  ASSERT_NE(std::string::npos, at);
  const std::string store = out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(store).parent_path())) << store;
  EXPECT_TRUE(storeBefore == storeBytes()) << "the demo changed the test's own store";

  EXPECT_NE(0, sundry("demo --data " + m_dir.file("nowhere"), &out));
  EXPECT_NE(std::string::npos, out.find("no such directory")) << out;
}

TEST_F(ProxyCliTest, ShowSwitchRestoreSaveLoadAndTurnOff) {
  const std::string user = MakeRecord(4, 3, "proxy.home:3128", "*.home");
  setHandler("iexplore.exe");
  setBinary(kConnectionsKey, "Work", user);
  setBinary(kTemplateKey, "Work", MakeRecord(1, 3, "gw.work:8080"));
  std::string out;
  EXPECT_TRUE(shows("show --connection Work", "Browser:       Internet Explorer"));
  EXPECT_TRUE(shows("show --connection Work", "Proxies:       proxy.home:3128"));
  ASSERT_EQ(0, sundry("switch --connection Work --template 'HKCU\\Software\\Sundry\\Template'", &out)) << out;
  EXPECT_TRUE(shows("show --connection Work", "Proxies:       gw.work:8080"));
  EXPECT_TRUE(shows("show --connection Work --saved", "Proxies:       proxy.home:3128"));
  ASSERT_EQ(0, sundry("restore --connection Work", &out)) << out;
  EXPECT_EQ(user, browserRecord("Work"));
  EXPECT_EQ(1, sundry("restore --connection Work", &out));  // nothing saved any more

  const std::string ini = " --connection Work --ini " + m_dir.file("copy.ini");
  ASSERT_EQ(0, sundry("save" + ini, &out)) << out;
  ASSERT_EQ(0, sundry("off --connection Work", &out)) << out;
  EXPECT_TRUE(shows("show --connection Work", "Manual proxy:  off"));
  EXPECT_EQ(1, sundry("off --connection Work", &out));  // already off
  ASSERT_EQ(0, sundry("load" + ini, &out)) << out;
  EXPECT_TRUE(shows("show" + ini, "Manual proxy:  on"));
  EXPECT_EQ(3u, RecordWord(browserRecord("Work"), 8));
}

TEST_F(ProxyCliTest, ShowingMozillaSettingsLeavesTheBrowserRunning) {
  const std::string dir = makeProfile();
  ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
  setHandler("\"C:\\Program Files\\Netscape\\Netscape 6\\netscp6.exe\" -url \"%1\"");
  aloneWithTheBrowser();
  FakeBrowser browser(m_dir.path());
  ASSERT_TRUE(browser.started());
  EXPECT_TRUE(shows("show", "Proxies:       ftp=ftp.proxy.example:2121;http=proxy.example:3128"));
  EXPECT_FALSE(browser.endedByOtherWithin(std::chrono::milliseconds(300)));
  // A switch-over rewrites prefs.js: that ends the browser first.
  setBinary(kTemplateKey, "DefaultConnectionSettings", MakeRecord(1, 3, "gw.example:8080"));
  std::string out;
  ASSERT_EQ(0, sundry("switch --template 'HKCU\\Software\\Sundry\\Template'", &out)) << out;
  EXPECT_TRUE(browser.endedByOtherWithin(std::chrono::seconds(5)));
}

TEST_F(ProxyCliTest, BadUsageAndAnUnknownBrowser) {
  std::string out;
  for (const char* args : {"switch --connection Work", "show --save 'HKXX\\Nowhere'", "show --browser opera"})
    EXPECT_EQ(2, sundry(args, &out)) << args << out;
  EXPECT_EQ(1, sundry("show", &out)) << out;  // no http handler: neither browser
  EXPECT_NE(std::string::npos, out.find("neither Internet Explorer nor Netscape/Mozilla")) << out;
}

}  // namespace
