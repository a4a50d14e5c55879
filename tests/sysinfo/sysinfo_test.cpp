// CGeneralSysInfo on this machine, each fragment checked against the same
// fact read independently (procfs, getconf, ip, findmnt, date); the report
// and the product listing read back by an independent RTF reader (unrtf).

#include "support/testutil.h"

#include <sundry/platform/registry.h>
#include <sundry/platform/sysinfo.h>
#include <sundry/registry/RegistryValue.h>
#include <sundry/sysinfo/GeneralSysInfo.h>
#include <sundry/sysinfo/RtfText.h>

#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using sundry::test::ReadFile;
using sundry::test::RunCommand;
using sundry::test::ScopedEnv;
using sundry::test::TempDir;
using sundry::test::WriteFile;

std::string run(const std::string& command) {
  std::string out;
  EXPECT_EQ(0, RunCommand(command, &out)) << command;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

long long meminfoKb(const std::string& name) {
  std::istringstream in(ReadFile("/proc/meminfo"));
  std::string key;
  long long value;
  std::string unit;
  while (in >> key >> value) {
    if (key == name + ":") return value;
    std::getline(in, unit);
  }
  return -1;
}

std::string ctimeOf(time_t t) {
  char buf[64];
  struct tm tm;
  ::localtime_r(&t, &tm);
  std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y\n", &tm);
  return buf;
}

// The RTF is well formed: braces balance and close only at the end, and
// every backslash starts a control word, a control symbol or an escape.
::testing::AssertionResult wellFormedRtf(const std::string& doc) {
  int depth = 0;
  for (size_t i = 0; i < doc.size(); ++i) {
    const char c = doc[i];
    if (c == '\\') {
      if (i + 1 == doc.size()) return ::testing::AssertionFailure() << "backslash at the end";
      ++i;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (--depth < 0 || (depth == 0 && i + 1 != doc.size()))
        return ::testing::AssertionFailure() << "document closed at offset " << i << " of " << doc.size();
    }
  }
  if (depth != 0) return ::testing::AssertionFailure() << "unbalanced braces: " << depth;
  return ::testing::AssertionSuccess();
}

TEST(SysInfoSources, FragmentsAgreeWithTheSystem) {
  CGeneralSysInfo info;
  EXPECT_EQ(0u, std::string(info.getCPU()).find("CPU: " + run("getconf _NPROCESSORS_ONLN") + " Processor "));
  const std::string memory = info.getMemeoryInfo();
  EXPECT_EQ(0u, memory.find("\tPhysical Memory:\t" + std::to_string(meminfoKb("MemTotal")) + " KBytes")) << memory;
  EXPECT_NE(std::string::npos, memory.find("Paging File:\t\t" + std::to_string(meminfoKb("SwapTotal")) + " KBytes"));
  EXPECT_NE(std::string::npos, memory.find("\\par\tPage Size:\t\t" + run("getconf PAGESIZE") + "\\par"));

  const std::string zone = info.getTimeZone();
  EXPECT_EQ(0u, zone.find("Time: ")) << zone;
  EXPECT_EQ(" \\par \t" + run("date +%Z"), zone.substr(zone.find(" \\par \t"))) << zone;

  // The boot instant is the kernel's, not now minus a wrapping tick count.
  const std::string stat = ReadFile("/proc/stat");
  const time_t btime = std::strtoll(stat.c_str() + stat.find("btime ") + 6, nullptr, 10);
  const std::string boot = info.getBootTime();
  EXPECT_TRUE(boot == "Boot time was " + ctimeOf(btime) + "\n" || boot == "Boot time was " + ctimeOf(btime - 1) + "\n")
      << boot << " vs btime " << btime;

  std::string kernel = run("uname -r");
  kernel = kernel.substr(kernel.find('.') + 1);
  kernel = kernel.substr(kernel.find('.') + 1);
  EXPECT_EQ("(Build " + std::to_string(std::atoi(kernel.c_str())) + ")\n", std::string(info.getOSVersion()));
  EXPECT_EQ(run("id -un"), std::string(info.getUserName()));
  EXPECT_EQ(run("hostname").substr(0, run("hostname").find('.')), std::string(info.getHostName()));

  // Every drive is a mount point findmnt knows, and the root is there.
  const std::string mounts = "\n" + run("findmnt -rn -o TARGET") + "\n";
  const std::string volumes = info.getVolumes();
  EXPECT_EQ(0u, volumes.find("\\par\t/ is a fixed disk")) << volumes;
  for (size_t pos = 0; (pos = volumes.find("\\par\t/", pos)) != std::string::npos; ++pos) {
    const std::string root = volumes.substr(pos + 5, volumes.find(' ', pos) - pos - 5);
    EXPECT_NE(std::string::npos, mounts.find("\n" + root + "\n")) << root;
  }

  // Every IPv4 address ip shows is in the adapter list.
  const std::string adapters = info.getNetworkAdapterInfo();
  std::istringstream ip(run("ip -o -4 addr show"));
  std::string line;
  while (std::getline(ip, line)) {
    const size_t at = line.find(" inet ") + 6;
    const std::string address = line.substr(at, line.find('/', at) - at);
    EXPECT_NE(std::string::npos, adapters.find(address)) << address << " missing from " << adapters;
  }
}

TEST(SysInfoSources, LocaleIsTheTerritoryOfTheUsersLocale) {
  ScopedEnv all("LC_ALL", "C.UTF-8");
  std::string territory = run("locale -k territory");
  territory = territory.substr(territory.find('"') + 1);
  territory.pop_back();
  EXPECT_EQ("Locale: " + territory, std::string(CGeneralSysInfo().getLocale()));
}

// The browser of the http handler: its program path keeps its case and
// needs no ".exe"; without a handler, the desktop's default browser.
TEST(SysInfoBrowser, HandlerProgramAndDesktopDefault) {
  TempDir dir;
  struct Store {
    explicit Store(const std::string& path) { EXPECT_EQ(ERROR_SUCCESS, sundry::platform::RegistryUseStore(path.c_str())); }
    ~Store() { sundry::platform::RegistryUseStore(nullptr); }
  } store(dir.file("registry.db"));
  const std::string program = dir.file("MixedCase/Browser");
  std::filesystem::create_directories(dir.file("MixedCase"));
  ASSERT_TRUE(WriteFile(program, "#!/bin/sh\n"));
  {
  CRegistryValue app, command;
  ASSERT_TRUE(app.initialize(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec\\Application", "", "Browser", 1, 1));
  ASSERT_TRUE(command.initialize(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", "",
                                 ("\"" + program + "\" -osint -url \"%1\"").c_str(), 1, 1));
  const std::string browser = CGeneralSysInfo().getIEVersion();
  ASSERT_EQ(0u, browser.find("Browser\\par\tVersion: ")) << browser;
  EXPECT_EQ(14u, browser.size() - std::strlen("Browser\\par\tVersion: ")) << browser;  // the file's time stamp

  const std::string exe = dir.file("Prog.Exe");
  ASSERT_TRUE(WriteFile(exe, "x"));
  ASSERT_TRUE(command.setCString((exe + " %1").c_str()));
  EXPECT_NE(std::string::npos, std::string(CGeneralSysInfo().getIEVersion()).find("\\par\tVersion: "));
  }

  ASSERT_EQ(ERROR_SUCCESS, sundry::platform::RegistryUseStore(dir.file("empty.db").c_str()));
  ScopedEnv config("XDG_CONFIG_HOME", dir.file("config").c_str());
  ScopedEnv data("XDG_DATA_HOME", dir.file("data").c_str());
  std::filesystem::create_directories(dir.file("config"));
  std::filesystem::create_directories(dir.file("data/applications"));
  ASSERT_TRUE(WriteFile(dir.file("config/mimeapps.list"),
                        "[Added Associations]\nx-scheme-handler/http=other.desktop;\n\n[Default Applications]\n"
                        "text/html=firefox-esr.desktop\nx-scheme-handler/http=firefox-esr.desktop\n"));
  ASSERT_TRUE(WriteFile(dir.file("data/applications/firefox-esr.desktop"),
                        "[Desktop Entry]\nName=Firefox ESR\nExec=/nonexistent/firefox-esr %u\n[Desktop Action new]\n"
                        "Name=New Window\n"));
  EXPECT_STREQ("Firefox ESR", CGeneralSysInfo().getIEVersion());
}

class ProductFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string pe = std::string(SUNDRY_TEST_DATA_DIR) + "/pe/ver-5.1.2600.2180-pe32.dll";
    std::string dll = ReadFile(pe);
    ASSERT_EQ(4608u, dll.size());
    ASSERT_TRUE(WriteFile(m_dir.file("ver.dll"), dll));
    // The same file with a build number from 2^31 up (0x8A280884).
    ASSERT_EQ('\x0A', dll[3727]);
    dll[3727] = '\x8A';
    ASSERT_TRUE(WriteFile(m_dir.file("hi.dll"), dll));
    ASSERT_TRUE(WriteFile(m_dir.file("plain.txt"), "hello"));
    ASSERT_TRUE(WriteFile(m_dir.file("a}b{c\\d"), "brace"));
    ASSERT_TRUE(WriteFile(m_dir.file("caf\xC3\xA9.txt"), "utf-8"));
    ASSERT_EQ(0, ::mkdir(m_dir.file("empty").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir(m_dir.file("sub").c_str(), 0755));
    ASSERT_TRUE(WriteFile(m_dir.file("sub/inner.txt"), "inner"));
    ASSERT_EQ(0, ::symlink(".", m_dir.file("sub/loop").c_str()));  // a link to its own folder
  }
  TempDir m_dir;
};

TEST_F(ProductFiles, ListingFormatsVersionsAndStopsAtLinks) {
  CGeneralSysInfo info;
  info.setProductDirectory(m_dir.path().c_str());
  const std::string listing = info.getProductFiles(nullptr);
  const std::string d = m_dir.path();
  const char* kLine = "\\par       ";
  // Order by name; dates vary, so each is cut out and checked for its form.
  std::string shape = listing;
  for (size_t pos = 0; (pos = shape.find("File Date/Time: ", pos)) != std::string::npos;) {
    pos += 16;
    EXPECT_EQ('/', shape[pos + 4]) << shape.substr(pos, 19);
    shape.replace(pos, 19, "D");
  }
  EXPECT_EQ("\\par " + d + "/a\\}b\\{c\\\\d" + kLine + "File Date/Time: D" + kLine + "File Size: 5" +  //
                "\\par " + d + "/caf\\u233?.txt" + kLine + "File Date/Time: D" + kLine + "File Size: 5" +
                "\\par " + d + "/empty\\par    File Date/Time: D" +  //
                "\\par " + d + "/hi.dll" + kLine + "Version: 05.01.2317879428" + kLine + "File Date/Time: D" + kLine +
                "File Size: 4608" + "\\par " + d + "/plain.txt" + kLine + "File Date/Time: D" + kLine + "File Size: 5" +
                "\\par " + d + "/sub\\par    File Date/Time: D" +  //
                "\\par " + d + "/sub/inner.txt" + kLine + "File Date/Time: D" + kLine + "File Size: 5" +
                "\\par " + d + "/sub/loop\\par    File Date/Time: D" +  //
                "\\par " + d + "/ver.dll" + kLine + "Version: 05.01.170395780" + kLine + "File Date/Time: D" + kLine +
                "File Size: 4608",
            shape);

  // Cached for a null pattern; the directory's final separator is optional.
  EXPECT_EQ(listing, std::string(info.getProductFiles(nullptr)));
  for (const std::string& form : {d + "/", d + "\\"}) {
    CGeneralSysInfo other;
    other.setProductDirectory(form.c_str());
    EXPECT_EQ(listing, std::string(other.getProductFiles(nullptr))) << form;
  }
  // A pattern appends.
  info.getProductFiles((d + "/sub/*.txt").c_str());
  const std::string more = "\\par " + d + "/sub/inner.txt\\par";
  EXPECT_EQ(listing + more, std::string(info.getProductFiles(nullptr)).substr(0, listing.size() + more.size()));
  CGeneralSysInfo none;
  EXPECT_STREQ("", none.getProductFiles(nullptr));
}

// A host name well beyond 15 characters, with its domain, in a UTS
// namespace of its own: nothing is cut, and the split is at the first dot.
TEST(SysInfoHost, LongHostNameIsNeitherCutNorRefused) {
  const char kName[] = "build-server-with-a-long-name.lab.corp.example";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::unshare(CLONE_NEWUTS) != 0 || ::sethostname(kName, sizeof kName - 1) != 0) ::_exit(99);
    char small[16];
    DWORD size = sizeof small;
    if (GetComputerNameA(small, &size) || GetLastError() != ERROR_BUFFER_OVERFLOW || size != sizeof kName) ::_exit(1);
    std::vector<char> room(size);
    if (!GetComputerNameA(room.data(), &size) || size != sizeof kName - 1 || std::strcmp(room.data(), kName) != 0)
      ::_exit(2);
    CGeneralSysInfo info;
    if (std::strcmp(info.getHostName(), "build-server-with-a-long-name") != 0) ::_exit(3);
    ::_exit(std::strcmp(info.getDomainName(), "lab.corp.example") == 0 ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 99) GTEST_SKIP() << "no UTS namespace here";
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(RtfText, EscapesAndReadsBack) {
  using sundry::sysinfo::RtfBodyToText;
  using sundry::sysinfo::RtfEscape;
  EXPECT_EQ("a\\}b\\{c\\\\d", RtfEscape("a}b{c\\d"));
  EXPECT_EQ("caf\\u233?", RtfEscape("caf\xC3\xA9"));          // UTF-8
  EXPECT_EQ("caf\\u233?", RtfEscape("caf\xE9"));              // a Windows-1252 byte
  EXPECT_EQ("\\u8364?", RtfEscape("\x80"));                   // the euro sign of Windows-1252
  EXPECT_EQ("\\u-10179?\\u-8704?", RtfEscape("\xF0\x9F\x98\x80"));  // beyond the first plane: surrogates
  EXPECT_EQ("x?y", RtfEscape("x\x01y"));
  const std::string all = "a}b{c\\d caf\xC3\xA9 \xF0\x9F\x98\x80\tend";
  EXPECT_EQ(all, RtfBodyToText(RtfEscape(all)));
  EXPECT_EQ("one\n\ttwo\n\nthree", RtfBodyToText("one\\par\ttwo\\par\\par three\n"));
  EXPECT_TRUE(wellFormedRtf(sundry::sysinfo::RtfDocument(RtfEscape("}}}{\\"))));
}

TEST(SysInfoCopy, CopiesKeepTextsAndOwnTheirBuffers) {
  TempDir dir;  // the report reads the registry: a store of its own
  ASSERT_EQ(ERROR_SUCCESS, sundry::platform::RegistryUseStore(dir.file("registry.db").c_str()));
  auto* info = new CGeneralSysInfo;
  const std::string report = info->obtainFormattedSysInfo();
  CGeneralSysInfo copy(*info);
  delete info;  // the copy must not share (and later free again) its buffers
  EXPECT_EQ(report, std::string(copy.obtainFormattedSysInfo()));
  EXPECT_STREQ(copy.getNetworkAdapterInfo(), CGeneralSysInfo().getNetworkAdapterInfo());
  copy.intialize();
  EXPECT_STREQ("", copy.obtainFileInfo());
  sundry::platform::RegistryUseStore(nullptr);
}

}  // namespace
