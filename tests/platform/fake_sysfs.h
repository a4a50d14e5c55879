#pragma once
// A small sysfs tree for the device tests, pointed at by SUNDRY_SYSFS_ROOT:
// class folders link to device folders as the kernel's do, with USB and PCI
// parents carrying the attributes the names come from.

#include "support/testutil.h"

#include <filesystem>
#include <string>

namespace sundry::test {

class FakeSysfs {
 public:
  FakeSysfs() {
#define USB "devices/pci0000:00/0000:00:14.0/usb1/"
#define NIC "devices/pci0000:00/0000:00:03.0/"
    // Attribute files, "->" links (their targets made as folders), "/" folders.
    add({// An FTDI USB serial adapter: ttyUSB0 under the usb-serial port.
         {USB "1-2/idVendor", "0403"}, {USB "1-2/idProduct", "6001"}, {USB "1-2/manufacturer", "FTDI"},
         {USB "1-2/product", "USB-Serial Controller"},
         {USB "1-2/1-2:1.0/ttyUSB0/driver", "->bus/usb-serial/drivers/ftdi_sio"},
         {"class/tty/ttyUSB0/device", "->" USB "1-2/1-2:1.0/ttyUSB0"},
         // A USB modem (communications class, cdc_acm), its name in UTF-8.
         {USB "1-3/idVendor", "1d6b"}, {USB "1-3/idProduct", "a0c1"}, {USB "1-3/product", "Mod\xC3\xA8m 56K"},
         {USB "1-3/1-3:1.0/driver", "->bus/usb/drivers/cdc_acm"},
         {"class/tty/ttyACM0/device", "->" USB "1-3/1-3:1.0"},
         // Two 8250 ports of which only the first has a UART; a console.
         {"devices/platform/serial8250/driver", "->bus/platform/drivers/serial8250"},
         {"class/tty/ttyS0/device", "->devices/platform/serial8250"}, {"class/tty/ttyS0/type", "4"},
         {"class/tty/ttyS1/device", "->devices/platform/serial8250"}, {"class/tty/ttyS1/type", "0"},
         {"class/tty/tty0", "/"},
         // A PCI network card, and the loopback interface.
         {NIC "vendor", "0x8086"}, {NIC "device", "0x100e"}, {NIC "driver", "->bus/pci/drivers/e1000"},
         {"class/net/eth0/device", "->" NIC}, {"class/net/lo", "/"}});
  }

  std::string root() const { return m_root.path(); }

  // Another port whose USB product string is as long as asked.
  void addLongNamedPort(size_t length) {
    add({{USB "1-4/idVendor", "067b"}, {USB "1-4/idProduct", "2303"}, {USB "1-4/product", std::string(length, 'L')},
         {"class/tty/ttyUSB1/device", "->" USB "1-4/1-4:1.0/ttyUSB1"}});
  }
#undef USB
#undef NIC

 private:
  void add(std::initializer_list<std::pair<std::string, std::string>> entries) {
    namespace fs = std::filesystem;
    for (const auto& [rel, what] : entries) {
      const fs::path path = m_root.file(rel);
      fs::create_directories(what == "/" ? path : path.parent_path());
      if (what.compare(0, 2, "->") == 0) {
        fs::create_directories(m_root.file(what.substr(2)));
        fs::create_directory_symlink(m_root.file(what.substr(2)), path);
      } else if (what != "/") {
        EXPECT_TRUE(WriteFile(path, what + "\n")) << rel;
      }
    }
  }

  TempDir m_root;
};

}  // namespace sundry::test
