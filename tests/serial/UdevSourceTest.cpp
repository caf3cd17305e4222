// The real udev device list, run against a umockdev test bed: a maker's
// adapter, a radio modem adapter, a plain USB serial adapter, a built-in
// UART, an empty UART slot and a virtual console. The test bed's devices are
// not "initialized" in udev's sense (no udev daemon saw them), which is also
// what a port plugged in a moment ago looks like.
//
// Runs under umockdev-wrapper, which redirects /sys and /dev to the test bed.
// umockdev's stand-in device nodes answer termios but not TIOCEXCL or the
// modem-control requests, so the busy test runs on a table-driven backend.

#include <stdlib.h>
#include <umockdev.h>

#include <algorithm>
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

constexpr const char* kTestBed =
    "P: /devices/usb1/1-1\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=0403\nA: idProduct=8414\nA: product=Brenvik UCA\nA: serial=BRENVIK_UCA[Lab 3]\n"
    "\n"
    "P: /devices/usb1/1-1/1-1:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
    "\n"
    "P: /devices/usb1/1-1/1-1:1.0/ttyUSB1/tty/ttyUSB1\nN: ttyUSB1\n"
    "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyUSB1\nE: MAJOR=188\nE: MINOR=1\nA: dev=188:1\n"
    "\n"
    "P: /devices/usb1/1-2\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=0403\nA: idProduct=6001\nA: product=MaxStream PKG-U\nA: serial=A700ABC\n"
    "\n"
    "P: /devices/usb1/1-2/1-2:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
    "\n"
    "P: /devices/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0\nN: ttyUSB0\n"
    "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyUSB0\nE: MAJOR=188\nE: MINOR=0\nA: dev=188:0\n"
    "\n"
    "P: /devices/usb1/1-3\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=0403\nA: idProduct=6001\nA: product=FT232R USB UART\nA: serial=A9XQ1\n"
    "\n"
    "P: /devices/usb1/1-3/1-3:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
    "\n"
    "P: /devices/usb1/1-3/1-3:1.0/ttyUSB2/tty/ttyUSB2\nN: ttyUSB2\n"
    "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyUSB2\nE: MAJOR=188\nE: MINOR=2\nA: dev=188:2\n"
    "\n"
    "P: /devices/pnp0/00:04\nE: SUBSYSTEM=pnp\n"
    "\n"
    "P: /devices/pnp0/00:04/tty/ttyS0\nN: ttyS0\n"
    "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS0\nE: MAJOR=4\nE: MINOR=64\nA: dev=4:64\nA: type=4\n"
    "\n"
    "P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\n"
    "\n"
    "P: /devices/platform/serial8250/tty/ttyS1\nN: ttyS1\n"
    "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS1\nE: MAJOR=4\nE: MINOR=65\nA: dev=4:65\nA: type=0\n"
    "\n"
    "P: /devices/virtual/tty/tty0\nN: tty0\n"
    "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/tty0\nE: MAJOR=4\nE: MINOR=0\nA: dev=4:0\n";

bool UnderUmockdev() {
  const char* preload = ::getenv("LD_PRELOAD");
  return preload != nullptr && std::string(preload).find("umockdev") != std::string::npos;
}

class UdevSource : public ::testing::Test {
protected:
  void SetUp() override {
    if (!UnderUmockdev()) {
      GTEST_SKIP() << "run under umockdev-wrapper";
    }
    testbed = umockdev_testbed_new();
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, kTestBed, &error))
        << (error != nullptr ? error->message : "");
  }
  void TearDown() override {
    if (testbed != nullptr) {
      g_object_unref(testbed);
    }
  }
  UMockdevTestbed* testbed = nullptr;
};

std::vector<std::string> Nodes(const std::vector<PortDevice>& devices) {
  std::vector<std::string> nodes;
  for (const PortDevice& d : devices) {
    nodes.push_back(d.devNode);
  }
  return nodes;
}

TEST_F(UdevSource, ListsPortsWithRealDevicesAndTheirUsbIdentity) {
  PortSourceUdev source(nullptr);
  std::vector<PortDevice> devices;
  ASSERT_EQ(source.ListPorts(devices), 4);
  std::vector<std::string> nodes = Nodes(devices);
  std::sort(nodes.begin(), nodes.end());
  EXPECT_THAT(nodes, ElementsAre("/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"));
  for (const PortDevice& d : devices) {
    if (d.devNode == "/dev/ttyUSB1") {
      EXPECT_EQ(d.friendlyName, "Brenvik UCA");
      EXPECT_EQ(d.instanceId, "USB\\VID_0403&PID_8414\\BRENVIK_UCA[Lab 3]");
    } else if (d.devNode == "/dev/ttyS0") {
      EXPECT_EQ(d.friendlyName, "");
      EXPECT_EQ(d.instanceId, "");
    }
  }
}

TEST_F(UdevSource, SysfsFallbackSeesTheSameDevices) {
  PortSourceUdev udev(nullptr);
  PortSourceSysfs sysfs;
  std::vector<PortDevice> fromUdev;
  std::vector<PortDevice> fromSysfs;
  ASSERT_EQ(udev.ListPorts(fromUdev), 4);
  ASSERT_EQ(sysfs.ListPorts(fromSysfs), 4);
  std::vector<std::string> a = Nodes(fromUdev);
  std::vector<std::string> b = Nodes(fromSysfs);
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
}

TEST_F(UdevSource, TheUserSeesTheAdaptersByTheirNames) {
  auto line = std::make_shared<test::FakeLine>();
  for (const char* node : {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1"}) {
    line->openResults[node] = 0;
  }
  line->openResults["/dev/ttyUSB2"] = kErrPortInUse;
  ZuroSerial enumerator(nullptr, test::FakeBackendFactory(line)); // the platform's device list
  CommPortInfo table[16];
  std::int32_t count = 16;
  EXPECT_EQ(enumerator.CommPortEnum(table, &count, false), 4);
  ASSERT_EQ(count, 4);
  std::vector<std::string> shown;
  for (int i = 0; i < count; ++i) {
    shown.push_back(table[i].displayName);
  }
  EXPECT_THAT(shown, ElementsAre("/dev/ttyS0 Communications Port", "/dev/ttyUSB0 Brenvik USB Kx2",
                                 "/dev/ttyUSB1 QUOLT USB Adapter [Lab 3]",
                                 "/dev/ttyUSB2 FT232R USB UART (busy)"));
}

} // namespace
} // namespace zuro
