// The system facts and the DNS suffix search list in the Windows build, read
// from the real system and its real registry and compared with what the
// system's own functions answer.
#include "support/testutil.h"

#include <sundry/sysinfo/DNSSuffixUtil.h>
#include <sundry/sysinfo/GeneralSysInfo.h>

#include <windows.h>
#include <iphlpapi.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

// The text as the report writes it: backslashes and braces escaped.
std::string RtfEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '{' || c == '}') out += '\\';
    out += c;
  }
  return out;
}

std::string WindowsDirectory() {
  char buffer[MAX_PATH] = {};
  const UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
  return std::string(buffer, n);
}

TEST(WindowsSysInfo, FactsAgreeWithTheSystemsOwnAnswers) {
  CGeneralSysInfo info;
  info.intialize();

  char user[256] = {};
  DWORD userSize = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &userSize));
  EXPECT_EQ(RtfEscaped(user), info.getUserName());

  // Paths are shown with forward slashes.
  std::string windows = WindowsDirectory();
  for (char& c : windows)
    if (c == '\\') c = '/';
  EXPECT_EQ(windows, info.getWindowsDirectory());

  ULONG size = 0;
  ASSERT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW), GetNetworkParams(nullptr, &size));
  std::vector<unsigned char> params(size);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetNetworkParams(reinterpret_cast<FIXED_INFO*>(params.data()), &size));
  EXPECT_EQ(RtfEscaped(reinterpret_cast<FIXED_INFO*>(params.data())->HostName), info.getHostName());

  MEMORYSTATUSEX memory = {};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  const std::string total = std::to_string(memory.ullTotalPhys >> 10) + " KBytes";
  EXPECT_NE(std::string(info.getMemeoryInfo()).find(total), std::string::npos) << info.getMemeoryInfo();

  // The system drive is among the volumes.
  const std::string drive = WindowsDirectory().substr(0, 2);
  EXPECT_NE(std::string(info.getVolumes()).find(drive), std::string::npos) << info.getVolumes();
  EXPECT_FALSE(std::string(info.getOSVersion()).empty());
  EXPECT_FALSE(std::string(info.getCPU()).empty());
}

TEST(WindowsSysInfo, TheReportHoldsEveryFactInBalancedRtf) {
  CGeneralSysInfo info;
  info.intialize();
  const std::string report = info.obtainFormattedSysInfo();
  EXPECT_NE(report.find(std::string("Windows Directory:\t") + info.getWindowsDirectory()), std::string::npos);
  EXPECT_NE(report.find(info.getMemeoryInfo()), std::string::npos);
  // Every group the report opens is closed, and never below level zero.
  int depth = 0;
  for (size_t i = 0; i < report.size(); ++i) {
    if (report[i] == '\\') { ++i; continue; }
    if (report[i] == '{') ++depth;
    if (report[i] == '}') {
      ASSERT_GT(depth, 0) << "at " << i;
      --depth;
    }
  }
  EXPECT_EQ(0, depth);
}

// The search list lives in the TCP/IP parameters' "SearchList" value; every
// test puts back what it found.
class WindowsDnsSuffix : public ::testing::Test {
 protected:
  static constexpr const char* kKey = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

  void SetUp() override {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    char buffer[4096] = {};
    DWORD size = sizeof buffer, type = 0;
    m_had = RegQueryValueExA(key, "SearchList", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) ==
            ERROR_SUCCESS;
    if (m_had) m_saved.assign(buffer, size && buffer[size - 1] == '\0' ? size - 1 : size);
    RegCloseKey(key);
  }

  void TearDown() override {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key));
    if (m_had)
      RegSetValueExA(key, "SearchList", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_saved.c_str()),
                     static_cast<DWORD>(m_saved.size() + 1));
    else
      RegDeleteValueA(key, "SearchList");
    RegCloseKey(key);
  }

  static std::string SearchListValue() {
    char buffer[4096] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kKey, "SearchList", RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
      return "(none)";
    return buffer;
  }

  bool m_had = false;
  std::string m_saved;
};

TEST_F(WindowsDnsSuffix, SetWritesTheSearchListValueAndGetReadsItBack) {
  CDNSSuffixUtil util;
  CStringArray suffixes;
  suffixes.Add("corp.example.com");
  suffixes.Add("example.net");
  ASSERT_EQ(CDNSSuffixUtil::eOK, util.setSuffixes(suffixes));
  EXPECT_EQ("corp.example.com,example.net", SearchListValue());

  CStringArray read;
  ASSERT_EQ(CDNSSuffixUtil::eOK, util.getDNSSuffixList(read));
  ASSERT_EQ(2, read.GetSize());
  EXPECT_STREQ("corp.example.com", read[0]);
  EXPECT_STREQ("example.net", read[1]);
}

TEST_F(WindowsDnsSuffix, BadSuffixIsRefusedAndTheValueIsUntouched) {
  CDNSSuffixUtil util;
  CStringArray good;
  good.Add("example.org");
  ASSERT_EQ(CDNSSuffixUtil::eOK, util.setSuffixes(good));

  CStringArray bad;
  bad.Add("fine.example");
  bad.Add("not a name,evil");
  EXPECT_EQ(CDNSSuffixUtil::eFAILED, util.setSuffixes(bad));
  EXPECT_EQ("example.org", SearchListValue());
}

}  // namespace
