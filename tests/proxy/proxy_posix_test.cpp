// Proxy settings on what only the POSIX port has: file owners, modes and
// links, /dev/shm, and failures made to happen in its file operations.

#include "proxy/proxy_fixture.h"

#include <sundry/platform/profile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

namespace {

using namespace sundry::test;

using ProxyPrefsTest = ProxyTest;
using ProxySwitchTest = ProxyTest;

TEST_F(ProxyPrefsTest, TheFilesModeOwnerAndLinkAreKept) {
  const std::string dir = makeProfile();
  // Owned by another user, readable by that user alone.
  ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
  ASSERT_EQ(0, ::chmod((dir + "/prefs.js").c_str(), 0600));
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, ::chown((dir + "/prefs.js").c_str(), 1234, 1235));
  }
  CProxy p;
  p.setBrowser(CProxy::BROWSER_NETSCAPE);
  p.setProxyForProtocol("gw:1", "http");
  ASSERT_EQ(1, p.setBrowserProxies());
  EXPECT_EQ(0600u, FileMode(dir + "/prefs.js"));
  EXPECT_EQ(0600u, FileMode(dir + "/prefs.scm.bak"));
  struct stat st;
  ASSERT_EQ(0, ::stat((dir + "/prefs.js").c_str(), &st));
  if (root) {
    EXPECT_EQ(1234u, st.st_uid);
    EXPECT_EQ(1235u, st.st_gid);
    ASSERT_EQ(0, ::stat((dir + "/prefs.scm.bak").c_str(), &st));
    EXPECT_EQ(1234u, st.st_uid);
  }

  // prefs.js a link to a file elsewhere (here on another file system when
  // /dev/shm is one): the file it names gets the content, the link stays.
  for (const std::string& elsewhere : {m_dir.file("real-prefs.js"), std::string("/dev/shm")}) {
    std::string target = elsewhere;
    if (elsewhere == "/dev/shm") {
      if (!std::filesystem::is_directory(elsewhere)) continue;
      target = elsewhere + "/sundry-prefs-" + std::to_string(::getpid()) + ".js";
    }
    ASSERT_TRUE(WriteFile(target, BrowserPrefs()));
    ASSERT_EQ(0, ::chmod(target.c_str(), 0640));
    std::filesystem::remove(dir + "/prefs.js");
    std::filesystem::create_symlink(target, dir + "/prefs.js");
    CProxy q;
    q.setBrowser(CProxy::BROWSER_NETSCAPE);
    q.setProxyForProtocol("gw:2", "http");
    EXPECT_EQ(1, q.setBrowserProxies()) << target;
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/prefs.js")) << target;
    EXPECT_NE(std::string::npos, ReadFile(target).find("\"network.proxy.http_port\", 2);")) << target;
    EXPECT_EQ(0640u, FileMode(target)) << target;
    EXPECT_FALSE(std::filesystem::exists(dir + "/prefs.scm")) << target;
    if (elsewhere == "/dev/shm") std::filesystem::remove(target);
  }
}

TEST_F(ProxyPrefsTest, AFailedWriteNeverTouchesPrefsJs) {
  const std::string dir = makeProfile();
  using Op = sundry::platform::posix::FileOperation;
  int failures = 0;
  for (Op op : {Op::Open, Op::Read, Op::Write, Op::Sync}) {
    for (int n = 1; n <= 3; ++n) {
      ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
      std::filesystem::remove(dir + "/prefs.scm");
      CProxy p;
      p.setBrowser(CProxy::BROWSER_NETSCAPE);
      p.setProxyForProtocol("new:1", "http");
      bool fired;
      BOOL result;
      {
        FileFault fault({op}, n, ERROR_DISK_FULL);
        result = p.setBrowserProxies();
        fired = fault.fired();
      }
      const std::string now = ReadFile(dir + "/prefs.js");
      // Either the new settings are in place and the call says so, or the
      // call failed and prefs.js is as it was. A fault in a best-effort
      // step (the backup copy) may leave the write itself successful.
      if (result == 1) {
        EXPECT_NE(std::string::npos, now.find("\"new\"")) << static_cast<int>(op) << " " << n;
      } else {
        ++failures;
        EXPECT_TRUE(fired) << "failed without a fault: " << static_cast<int>(op) << " " << n;
        EXPECT_EQ(BrowserPrefs(), now) << static_cast<int>(op) << " " << n;
        EXPECT_FALSE(std::filesystem::exists(dir + "/prefs.scm")) << static_cast<int>(op) << " " << n;
      }
    }
  }
  EXPECT_GT(failures, 0) << "no fault reached the write of prefs.js";
}

TEST_F(ProxySwitchTest, MozillaSettingsThatCannotBeOpenedOrWrittenAreNeverSaved) {
  setBinary(kTemplateKey, "Work", MakeRecord(1, 3, "gw.work:3128", "*.work"));
  const std::string dir = makeProfile();
  // prefs.js that may not be opened; a new file that cannot be written (the
  // copy was made by then).
  for (int fault = 1; fault < 3; ++fault) {
    ASSERT_TRUE(WriteFile(dir + "/prefs.js", BrowserPrefs()));
    CProxy p;
    setUp(p, "Work", CProxy::BROWSER_NETSCAPE);
    {
      using Op = FileFault::Op;
      std::optional<FileFault> io;
      if (fault == 1) io.emplace({Op::Open}, 1, ERROR_ACCESS_DENIED);
      if (fault == 2) io.emplace({Op::Write}, 1, ERROR_DISK_FULL, true);
      EXPECT_EQ(0, p.replaceBrowserWithHOLM()) << fault;
    }
    EXPECT_EQ("(none)", savedCopy("Work")) << fault;
    EXPECT_EQ(BrowserPrefs(), ReadFile(dir + "/prefs.js")) << fault;
  }
  CProxy p;
  setUp(p, "Work", CProxy::BROWSER_NETSCAPE);
  EXPECT_EQ(1, p.replaceBrowserWithHOLM());
}

class ProfileFaultTest : public ::testing::Test {
 protected:
  BOOL put(const char* section, const char* key, const char* value) {
    return WritePrivateProfileStringA(section, key, value, m_ini.c_str());
  }
  std::string content() const { return ReadFile(m_ini); }

  TempDir m_dir;
  std::string m_ini = m_dir.file("test.ini");
};

TEST_F(ProfileFaultTest, AFailedWriteLeavesTheFileAsItWas) {
  using Op = FileFault::Op;
  ASSERT_TRUE(WriteFile(m_ini, "[A]\nx=1\n"));
  for (Op op : {Op::Open, Op::Write, Op::Sync, Op::Rename}) {
    {
      FileFault fault({op}, 1, ERROR_DISK_FULL, true);
      EXPECT_FALSE(put("A", "x", "2")) << static_cast<int>(op);
    }
    EXPECT_EQ("[A]\nx=1\n", content()) << static_cast<int>(op);
    EXPECT_EQ(1u, DirEntries(m_dir.path())) << "a file was left beside the INI file";
  }
}

}  // namespace
