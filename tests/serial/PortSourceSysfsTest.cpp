// The sysfs device list on a tree built in a scratch folder the way the
// kernel lays it out: which tty devices are ports, and what their USB parents
// say about them.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "serial/CommPortEnum.h"
#include "serial/PortSourceLinux.h"
#include "serial/ZuroSerial.h"
#include "support/FakeSerial.h"

namespace zuro {
namespace {

using ::testing::ElementsAre;

class SysfsTree {
public:
  SysfsTree() {
    char pattern[] = "/tmp/zuro-sysfs-XXXXXX";
    root_ = ::mkdtemp(pattern) != nullptr ? pattern : "";
  }
  ~SysfsTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  const std::string& Root() const { return root_; }

  void Folder(const std::string& path) {
    std::string sofar = root_;
    std::size_t at = 0;
    while (at != std::string::npos) {
      const std::size_t next = path.find('/', at + 1);
      sofar = root_ + "/" + path.substr(0, next);
      ::mkdir(sofar.c_str(), 0755);
      at = next;
    }
  }
  void File(const std::string& path, const std::string& text) {
    std::ofstream(root_ + "/" + path) << text << "\n";
  }
  void Link(const std::string& path, const std::string& target) {
    ::symlink(target.c_str(), (root_ + "/" + path).c_str());
  }

  /// A tty as the kernel lays it out: its folder below the device it belongs
  /// to (devices/virtual/tty for consoles), linked from class/tty, with a
  /// "device" link back to that device.
  void Tty(const std::string& name, const std::string& deviceFolder, const char* type = nullptr) {
    const std::string parent = deviceFolder.empty() ? "devices/virtual" : deviceFolder;
    const std::string folder = parent + "/tty/" + name;
    Folder(folder);
    Folder("class/tty");
    Link("class/tty/" + name, root_ + "/" + folder);
    if (!deviceFolder.empty()) {
      Link(folder + "/device", root_ + "/" + deviceFolder);
    }
    if (type != nullptr) {
      File(folder + "/type", type);
    }
  }
  void UsbDevice(const std::string& folder, const char* vendor, const char* product,
                 const char* productName, const char* serial) {
    Folder(folder);
    File(folder + "/idVendor", vendor);
    File(folder + "/idProduct", product);
    if (productName != nullptr) {
      File(folder + "/product", productName);
    }
    if (serial != nullptr) {
      File(folder + "/serial", serial);
    }
  }

private:
  std::string root_;
};

class PortSourceSysfsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(tree.Root().empty());
    tree.Tty("tty0", "");                                  // virtual console
    tree.Tty("ttyS0", "devices/pnp0/00:04", "4");          // a real UART
    tree.Tty("ttyS1", "devices/platform/serial8250", "0"); // an empty slot
    tree.UsbDevice("devices/usb1/1-1", "0403", "8414", "Brenvik UCA", "BRENVIK_UCA[Lab 3]");
    tree.Tty("ttyUSB1", "devices/usb1/1-1/1-1:1.0/ttyUSB1");
    tree.UsbDevice("devices/usb1/1-2", "0403", "6001", "MaxStream PKG-U", "A700ABC");
    tree.Tty("ttyUSB0", "devices/usb1/1-2/1-2:1.0/ttyUSB0");
    tree.UsbDevice("devices/usb1/1-3", "1d50", "6018", nullptr, nullptr);
    tree.Tty("ttyACM0", "devices/usb1/1-3/1-3:1.0");
  }
  SysfsTree tree;
};

TEST_F(PortSourceSysfsTest, ListsTtysWithARealDeviceAndTheirUsbNames) {
  PortSourceSysfs source(tree.Root(), "/dev");
  std::vector<PortDevice> devices;
  ASSERT_EQ(source.ListPorts(devices), 4);
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].devNode, "/dev/ttyACM0");
  EXPECT_EQ(devices[0].friendlyName, "");
  EXPECT_EQ(devices[0].instanceId, "USB\\VID_1D50&PID_6018\\");
  EXPECT_EQ(devices[1].devNode, "/dev/ttyS0");
  EXPECT_EQ(devices[1].friendlyName, "");
  EXPECT_EQ(devices[1].instanceId, "");
  EXPECT_EQ(devices[2].devNode, "/dev/ttyUSB0");
  EXPECT_EQ(devices[2].friendlyName, "MaxStream PKG-U");
  EXPECT_EQ(devices[3].devNode, "/dev/ttyUSB1");
  EXPECT_EQ(devices[3].friendlyName, "Brenvik UCA");
  EXPECT_EQ(devices[3].instanceId, "USB\\VID_0403&PID_8414\\BRENVIK_UCA[Lab 3]");
}

TEST_F(PortSourceSysfsTest, TheUserSeesNamedSortedPorts) {
  PortSourceSysfs source(tree.Root(), "/dev");
  auto line = std::make_shared<test::FakeLine>();
  for (const char* node : {"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1"}) {
    line->openResults[node] = 0;
  }
  line->openResults["/dev/ttyACM0"] = kErrPortInUse;
  ZuroSerial enumerator(nullptr, test::FakeBackendFactory(line));
  enumerator.SetPortSource(&source);
  CommPortInfo table[16];
  std::int32_t count = 16;
  EXPECT_EQ(enumerator.CommPortEnum(table, &count, false), 4);
  ASSERT_EQ(count, 4);
  std::vector<std::string> shown;
  for (int i = 0; i < count; ++i) {
    shown.push_back(table[i].displayName);
  }
  EXPECT_THAT(shown,
              ElementsAre("/dev/ttyS0 Communications Port",
                          "/dev/ttyACM0 Communications Port (busy)", "/dev/ttyUSB0 Brenvik USB Kx2",
                          "/dev/ttyUSB1 QUOLT USB Adapter [Lab 3]"));
}

TEST(PortSourceSysfs, NoSysfsMeansNoDeviceList) {
  PortSourceSysfs source("/nonexistent-sysfs-root", "/dev");
  std::vector<PortDevice> devices;
  EXPECT_LT(source.ListPorts(devices), 0);
  EXPECT_TRUE(devices.empty());
}

} // namespace
} // namespace zuro
