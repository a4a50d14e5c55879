// CGeneralSysInfo against a small system tree of its own (SUNDRY_SYSTEM_ROOT),
// written as the kernel and the distribution write those files: what this
// machine lacks (firmware tables, a display, removable and network drives,
// adapters of several kinds, DHCP leases) and what it cannot be made to
// show (a fail-safe boot, a known boot instant).

#include "support/testutil.h"

#include <sundry/platform/sysinfo.h>
#include <sundry/sysinfo/GeneralSysInfo.h>

#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

using sundry::test::ScopedEnv;
using sundry::test::TempDir;

std::string hostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

class FakeSystem : public ::testing::Test {
 protected:
  void put(const std::string& rel, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(m_root.file(rel)).parent_path());
    ASSERT_TRUE(sundry::test::WriteFile(m_root.file(rel), text)) << rel;
  }
  void link(const std::string& rel, const std::string& target) {
    std::filesystem::create_directories(std::filesystem::path(m_root.file(rel)).parent_path());
    std::filesystem::create_directories(m_root.file(target));
    std::filesystem::create_directory_symlink(m_root.file(target), m_root.file(rel));
  }
  void adapter(const std::string& name, int index, int type, const std::string& mac, int length) {
    put("sys/class/net/" + name + "/ifindex", std::to_string(index) + "\n");
    put("sys/class/net/" + name + "/type", std::to_string(type) + "\n");
    put("sys/class/net/" + name + "/address", mac + "\n");
    put("sys/class/net/" + name + "/addr_len", std::to_string(length) + "\n");
  }

  void SetUp() override {
    put("sys/class/dmi/id/bios_vendor", "SeaBIOS\n");
    put("sys/class/dmi/id/bios_version", "1.16.2-debian-1.16.2-1\n");
    put("sys/class/dmi/id/bios_date", "04/01/2014\n");
    put("proc/stat", "cpu  1 2 3 4\nintr 0\nctxt 7\nbtime 1700000000\nprocesses 9\n");
    put("proc/cmdline", "BOOT_IMAGE=/boot/vmlinuz-6.1.0-18-amd64 root=UUID=x ro quiet\n");
    put("proc/cpuinfo",
        "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 85\nmodel name\t:   Intel(R) Xeon(R) "
        "Gold {6230} CPU @ 2.10GHz\nstepping\t: 7\n\nprocessor\t: 1\nvendor_id\t: Other\nmodel name\t: Second\n");
    put("proc/meminfo",
        "MemTotal:       16384000 kB\nMemFree:         1000000 kB\nMemAvailable:    4096000 kB\n"
        "SwapTotal:       2097148 kB\nSwapFree:        1048572 kB\n");
    put("etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n");
    // Drives: the root, a removable stick (its partition's disk is
    // removable), a CD, a RAM disk, an NFS share, a name with a blank and
    // braces, and system folders that are not drives.
    put("proc/self/mountinfo",
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "23 22 0:21 / /proc rw,nosuid - proc proc rw\n"
        "24 22 0:24 / /run rw,nosuid - tmpfs tmpfs rw,size=1620k\n"
        "25 22 8:17 / /media/stick rw - vfat /dev/sdb1 rw\n"
        "26 22 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
        "27 22 0:30 / /tmp rw - tmpfs tmpfs rw\n"
        "28 22 0:52 / /mnt/share rw - nfs4 server:/export rw,vers=4.2\n"
        "29 22 8:3 / /mnt/a\\040}b{ rw - ext4 /dev/sda3 rw\n");
    put("sys/block/sdb/removable", "1\n");
    link("sys/dev/block/8:17", "sys/block/sdb/sdb1");
    put("sys/block/sda/removable", "0\n");
    link("sys/dev/block/8:3", "sys/block/sda/sda3");
    // A DRM card with a connected monitor, and a frame buffer.
    put("sys/class/drm/card0-HDMI-A-1/status", "connected\n");
    put("sys/class/drm/card0-HDMI-A-1/modes", "1920x1080\n1280x720\n");
    put("sys/class/drm/card0-DP-1/status", "disconnected\n");
    link("sys/class/drm/card0/device/driver", "sys/bus/pci/drivers/i915");
    put("sys/class/graphics/fb0/bits_per_pixel", "32\n");
    // Adapters: Ethernet with a driver, gateway and networkd lease;
    // InfiniBand (20-byte address) with a dhclient lease; PPP without an
    // address; loopback.
    adapter("eth0", 2, 1, "52:54:00:12:34:56", 6);
    link("sys/class/net/eth0/device/driver", "sys/bus/pci/drivers/e1000e");
    adapter("ib0", 3, 32, "80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0a:bc:de", 20);
    adapter("ppp0", 4, 512, "", 0);
    adapter("lo", 1, 772, "00:00:00:00:00:00", 6);
    put("proc/net/route",
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n");
    put("run/systemd/netif/leases/2", "# This is private data. Do not parse.\nADDRESS=192.168.1.50\nSERVER_ADDRESS=192.168.1.254\n");
    put("var/lib/dhcp/dhclient.ib0.leases",
        "lease {\n  interface \"ib0\";\n  fixed-address 10.0.0.5;\n  option dhcp-server-identifier 10.0.0.1;\n}\n");
    put("etc/hosts", "127.0.0.1\tlocalhost\n127.0.1.1\t" + m_host + ".corp.example " + m_host + "\n");
    put("etc/resolv.conf", "nameserver 192.0.2.1\nnameserver 192.0.2.2\nnameserver 192.0.2.3\nnameserver "
                           "192.0.2.4\nnameserver 192.0.2.5\nsearch corp.example\n");
  }

  TempDir m_root;
  const std::string m_host = hostName().substr(0, hostName().find('.'));
  ScopedEnv m_system{"SUNDRY_SYSTEM_ROOT", m_root.path().c_str()};
  ScopedEnv m_sysfs{"SUNDRY_SYSFS_ROOT", ""};
  ScopedEnv m_resolv{"SUNDRY_RESOLV_CONF", ""};
  ScopedEnv m_tz{"TZ", "UTC0"};
};

TEST_F(FakeSystem, FirmwareBootProcessorMemoryAndSystem) {
  CGeneralSysInfo info;
  EXPECT_STREQ("BIOS: SeaBIOS 1.16.2-debian-1.16.2-1\\par\tDated: 04/01/2014", info.getBIOSVersion());
  EXPECT_STREQ("Boot time was Tue Nov 14 22:13:20 2023\n\n", info.getBootTime());
  EXPECT_STREQ("Last Boot was Normal\n", info.getBootLast());
  const std::string cpus = std::to_string(::sysconf(_SC_NPROCESSORS_ONLN));
  EXPECT_EQ("CPU: " + cpus + " Processor Intel(R) Xeon(R) Gold \\{6230\\} CPU @ 2.10GHz\\par\tGenuineIntel Family 6 Model 85 Stepping 7",
            std::string(info.getCPU()));
  const std::string page = std::to_string(::sysconf(_SC_PAGESIZE));
  const std::string memory = info.getMemeoryInfo();
  EXPECT_EQ(0u, memory.find("\tPhysical Memory:\t16384000 KBytes (free: 4096000 KBytes)\\par\tPaging File:\t\t2097148 "
                            "KBytes (free: 1048572 KBytes)\\par\tPage Size:\t\t" + page + "\\par\tVirtual Memory:\t"))
      << memory;
  EXPECT_NE(std::string::npos, memory.find("\\par\tMemory is in use:\t75 percent")) << memory;
  EXPECT_STREQ("Debian GNU/Linux 12 (bookworm)", info.getServicePack());
  EXPECT_EQ(0u, std::string(info.getOSVersion()).find("(Build ")) << info.getOSVersion();

  // Rescue and single-user starts are the fail-safe boot, even if the
  // fragment was never asked before.
  for (const char* line : {"ro single", "ro systemd.unit=rescue.target", "ro emergency quiet", "ro S"}) {
    put("proc/cmdline", std::string("BOOT_IMAGE=/vmlinuz ") + line + "\n");
    CGeneralSysInfo fresh;
    EXPECT_STREQ("Last Boot was Fail-safe\n", fresh.getBootLast()) << line;
  }
  put("proc/cmdline", "ro quiet -- single\n");  // after "--": init's own argument
  EXPECT_STREQ("Last Boot was Normal\n", CGeneralSysInfo().getBootLast());
  // Without firmware tables the fragment is empty, and asked again later.
  std::filesystem::remove_all(m_root.file("sys/class/dmi"));
  CGeneralSysInfo bare;
  EXPECT_STREQ("", bare.getBIOSVersion());
}

TEST_F(FakeSystem, DrivesByKindWithEscapedNamesAndNoSizeLimit) {
  CGeneralSysInfo info;
  const std::string volumes = info.getVolumes();
  // "/" is really there, so its figures follow; the other fixed disk cannot
  // be asked and stands alone.
  EXPECT_EQ(0u, volumes.find("\\par\t/ is a fixed disk\\par\t\t")) << volumes;
  EXPECT_NE(std::string::npos,
            volumes.find(" MBytes availabe to the user\\par\t/media/stick has removable media\\par\t/media/cdrom is a "
                         "CD-ROM drive\\par\t/tmp is a RAM disk\\par\t/mnt/share is a network drive\\par\t/mnt/a "
                         "\\}b\\{ is a fixed disk"))
      << volumes;
  EXPECT_EQ(std::string::npos, volumes.find("/proc")) << volumes;
  EXPECT_EQ(std::string::npos, volumes.find("/run")) << volumes;

  // Far more mounts than a 512-byte list holds: every one is listed.
  std::string table = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
  for (int i = 0; i < 60; ++i)
    table += std::to_string(100 + i) + " 22 0:9" + std::to_string(i) + " / /srv/a-rather-long-share-name-" +
             std::to_string(i) + " rw - cifs //server/s rw\n";
  put("proc/self/mountinfo", table);
  CGeneralSysInfo many;
  const std::string listed = many.getVolumes();
  size_t count = 0;
  for (size_t pos = 0; (pos = listed.find(" is a network drive", pos)) != std::string::npos; ++pos) ++count;
  EXPECT_EQ(60u, count);
}

TEST_F(FakeSystem, DisplayFromDrmAndNoneWithoutOne) {
  EXPECT_STREQ("Monitor:    i915\\par\tResolution 1920 by 1080\\par\tColor Bits per Pixel: 32",
               CGeneralSysInfo().getDisplayMonitor());
  std::filesystem::remove_all(m_root.file("sys/class/drm"));
  put("sys/class/graphics/fb0/name", "simple-framebuffer\n");
  put("sys/class/graphics/fb0/virtual_size", "1024,768\n");
  EXPECT_STREQ("Monitor:    simple-framebuffer\\par\tResolution 1024 by 768\\par\tColor Bits per Pixel: 32",
               CGeneralSysInfo().getDisplayMonitor());
  std::filesystem::remove_all(m_root.file("sys/class/graphics"));
  EXPECT_STREQ("Monitor:    none", CGeneralSysInfo().getDisplayMonitor());
}

// Several kinds of adapters; a 20-byte InfiniBand address never runs past
// the record's 8 bytes; leases of two DHCP clients; a copy of the object
// reads its own list, and both are destroyed without a double free.
TEST_F(FakeSystem, AdaptersOfSeveralKinds) {
  CGeneralSysInfo info;
  const std::string text = info.getNetworkAdapterInfo();
  const std::string expected =
      "\\par\tlo\\par\t\tGUID:\tlo\\par\t\tMAC Address:\t\t00-00-00-00-00-00\\par\t\tType:\t\t\tLoopback Adapter"
      "\\par\t\tIPAddresses:\t\t%LO%\\par\t\tGateway Addresses:\t\\par\t\tDHCP Disabled.\\par\t\tWINS Disabled.\\par\\par "
      "\\par\teth0 (e1000e)\\par\t\tGUID:\teth0\\par\t\tMAC Address:\t\t52-54-00-12-34-56\\par\t\tType:\t\t\tEthernet "
      "Adapter\\par\t\tIPAddresses:\t\t%ETH0%\\par\t\tGateway Addresses:\t192.168.1.1\\par\t\tDHCP Enabled.\\par\t\tDHCP "
      "Server Addresses:\t192.168.1.254\\par\t\tWINS Disabled.\\par\\par "
      "\\par\tib0\\par\t\tGUID:\tib0\\par\t\tMAC Address:\t\t80-00-02-08-FE-80-00-00\\par\t\tType:\t\t\tUndefined"
      "\\par\t\tIPAddresses:\t\t\\par\t\tGateway Addresses:\t\\par\t\tDHCP Enabled.\\par\t\tDHCP Server Addresses:\t10.0.0.1"
      "\\par\t\tWINS Disabled.\\par\\par "
      "\\par\tppp0\\par\t\tGUID:\tppp0\\par\t\tMAC Address:\t\t\\par\t\tType:\t\t\tPPP Adapter\\par\t\tIPAddresses:\t\t"
      "\\par\t\tGateway Addresses:\t\\par\t\tDHCP Disabled.\\par\t\tWINS Disabled.";
  // The addresses of lo and eth0 are this machine's own (getifaddrs).
  std::string got = text;
  for (const char* name : {"lo", "eth0"}) {
    const std::string head = std::string("\\par\t\tGUID:\t") + name;
    const size_t at = got.find(head);
    ASSERT_NE(std::string::npos, at) << got;
    const size_t from = got.find("IPAddresses:\t\t", at) + 14, to = got.find("\\par", from);
    got.replace(from, to - from, std::string("%") + (name[0] == 'l' ? "LO" : "ETH0") + "%");
  }
  EXPECT_EQ(expected, got);

  CGeneralSysInfo copy(info);
  CGeneralSysInfo assigned;
  assigned = info;
  EXPECT_EQ(text, std::string(copy.getNetworkAdapterInfo()));
  EXPECT_EQ(text, std::string(assigned.getNetworkAdapterInfo()));
  EXPECT_EQ(text, std::string(info.getNetworkAdapterInfo()));

  std::filesystem::remove_all(m_root.file("sys/class/net"));
  put("sys/class/net/.keep", "");
  EXPECT_STRNE("", CGeneralSysInfo().getNetworkAdapterInfo());  // falls back on getifaddrs
}

// Five name servers do not fit a record of fixed size; the host's domain
// comes from /etc/hosts when the host name has none.
TEST_F(FakeSystem, NetworkParametersAreSizedFromTheData) {
  ULONG size = sizeof(FIXED_INFO);
  std::vector<unsigned char> small(size);
  EXPECT_EQ(static_cast<DWORD>(ERROR_BUFFER_OVERFLOW), GetNetworkParams(reinterpret_cast<PFIXED_INFO>(small.data()), &size));
  ASSERT_EQ(sizeof(FIXED_INFO) + 4 * sizeof(IP_ADDR_STRING), size);
  std::vector<unsigned char> room(size);
  auto* fixed = reinterpret_cast<PFIXED_INFO>(room.data());
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetNetworkParams(fixed, &size));
  std::string servers;
  for (const IP_ADDR_STRING* s = &fixed->DnsServerList; s; s = s->Next) servers += std::string(s->IpAddress.String) + " ";
  EXPECT_EQ("192.0.2.1 192.0.2.2 192.0.2.3 192.0.2.4 192.0.2.5 ", servers);

  CGeneralSysInfo info;
  EXPECT_EQ(m_host, std::string(info.getHostName()));
  if (hostName().find('.') == std::string::npos) {
    EXPECT_STREQ("corp.example", info.getDomainName());
  }
}

}  // namespace
