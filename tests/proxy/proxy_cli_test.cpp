// The sundry proxy commands and the demonstration, run as a user would.

#include "proxy/proxy_fixture.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace {

using sundry::test::BrowserPrefs;
using sundry::test::FakeBrowser;
using sundry::test::kConnectionsKey;
using sundry::test::kTemplateKey;
using sundry::test::MakeRecord;
using sundry::test::ProxyTest;
using sundry::test::RunCommand;
using sundry::test::WriteFile;

const std::string kCli = SUNDRY_CLI_PATH;

class ProxyCliTest : public ProxyTest {
 protected:
  // Runs the tool on this test's store; the store is closed meanwhile.
  int sundry(const std::string& args, std::string* out = nullptr) {
    sundry::platform::RegistryResetForTesting();
    std::string text;
    int rc = RunCommand(kCli + " proxy " + args + " 2>&1", &text);
    if (out != nullptr) *out = text;
    return rc;
  }
};

TEST_F(ProxyCliTest, TheDemoComesBackByteForByteAndCleansUp) {
  std::string out;
  ASSERT_EQ(0, sundry("demo --data " + std::string(SUNDRY_SOURCE_DIR) + "/data/proxy", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("Every connection came back byte for byte.")) << out;
  size_t checks = 0;
  for (size_t at = out.find("back byte for byte"); at != std::string::npos; at = out.find("back byte for byte", at + 1))
    ++checks;
  EXPECT_EQ(5u, checks) << out;  // three records, prefs.js and the closing line
  EXPECT_EQ(std::string::npos, out.find(": NO")) << out;
  // The temporary store and application data are gone.
  const std::string marker = "Temporary registry store: ";
  const size_t at = out.find(marker);
  ASSERT_NE(std::string::npos, at);
  const std::string store = out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(store).parent_path())) << store;
  // The user's store was never touched.
  EXPECT_FALSE(std::filesystem::exists(m_dir.file("registry.db")));

  EXPECT_NE(0, sundry("demo --data " + m_dir.file("nowhere"), &out));
  EXPECT_NE(std::string::npos, out.find("no such directory")) << out;
}

TEST_F(ProxyCliTest, ShowSwitchRestoreSaveAndTurnOff) {
  const std::string user = MakeRecord(4, 3, "proxy.home:3128", "*.home");
  setHandler("iexplore.exe");
  setBinary(kConnectionsKey, "Work", user);
  setBinary(kTemplateKey, "Work", MakeRecord(1, 3, "gw.work:8080"));
  std::string out;

  ASSERT_EQ(0, sundry("show --connection Work", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("Browser:       Internet Explorer")) << out;
  EXPECT_NE(std::string::npos, out.find("Proxies:       ALL=proxy.home:3128")) << out;

  ASSERT_EQ(0, sundry("switch --connection Work --template 'HKCU\\Software\\Sundry\\Template'", &out)) << out;
  ASSERT_EQ(0, sundry("show --connection Work", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("ALL=gw.work:8080")) << out;
  ASSERT_EQ(0, sundry("show --connection Work --saved", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("ALL=proxy.home:3128")) << out;

  ASSERT_EQ(0, sundry("restore --connection Work", &out)) << out;
  EXPECT_EQ(user, browserRecord("Work"));
  EXPECT_NE(0, sundry("restore --connection Work", &out));  // nothing saved any more

  const std::string ini = m_dir.file("copy.ini");
  ASSERT_EQ(0, sundry("save --connection Work --ini " + ini, &out)) << out;
  ASSERT_EQ(0, sundry("off --connection Work", &out)) << out;
  ASSERT_EQ(0, sundry("show --connection Work", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("Manual proxy:  off")) << out;
  EXPECT_NE(0, sundry("off --connection Work", &out));  // already off
  ASSERT_EQ(0, sundry("load --connection Work --ini " + ini, &out)) << out;
  ASSERT_EQ(0, sundry("show --connection Work --ini " + ini, &out)) << out;
  EXPECT_NE(std::string::npos, out.find("Manual proxy:  on")) << out;
  EXPECT_EQ(3u, sundry::test::RecordWord(browserRecord("Work"), 8));
}

TEST_F(ProxyCliTest, ShowingMozillaSettingsLeavesTheBrowserRunning) {
  const std::string dir = makeProfile();
  ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
  setHandler("\"C:\\Program Files\\Netscape\\Netscape 6\\netscp6.exe\" -url \"%1\"");
  aloneWithTheBrowser();
  FakeBrowser browser(m_dir.path());
  ASSERT_TRUE(browser.started());
  std::string out;
  ASSERT_EQ(0, sundry("show", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("Proxies:       ftp=ftp.proxy.example:2121 http=proxy.example:3128")) << out;
  EXPECT_FALSE(browser.killedWithin(std::chrono::milliseconds(300)));
  // A switch-over rewrites prefs.js: that ends the browser first.
  setBinary(kTemplateKey, "DefaultConnectionSettings", MakeRecord(1, 3, "gw.example:8080"));
  ASSERT_EQ(0, sundry("switch --template 'HKCU\\Software\\Sundry\\Template'", &out)) << out;
  EXPECT_TRUE(browser.killedWithin(std::chrono::seconds(5)));
}

TEST_F(ProxyCliTest, BadUsageAndAnUnknownBrowser) {
  std::string out;
  EXPECT_EQ(2, sundry("switch --connection Work", &out)) << out;
  EXPECT_EQ(2, sundry("show --save 'HKXX\\Nowhere'", &out)) << out;
  EXPECT_EQ(2, sundry("show --browser opera", &out)) << out;
  // No http handler: neither browser.
  EXPECT_EQ(1, sundry("show", &out)) << out;
  EXPECT_NE(std::string::npos, out.find("neither Internet Explorer nor Netscape/Mozilla")) << out;
}

}  // namespace
