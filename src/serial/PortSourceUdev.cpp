#include <libudev.h>

#include <memory>

#include "core/Text.h"
#include "log/ZuroLog.h"
#include "serial/PortSourceLinux.h"

namespace zuro {

namespace {

constexpr const char* kTtySubsystem = "tty";
constexpr const char* kNoUartType = "0"; ///< serial core's "type" of an empty slot
constexpr const char* kSourceTag = "ZuroSerial";

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* value) {
  return value != nullptr ? std::string(value) : std::string();
}

/// The readable name of a device: the USB product string as the adapter
/// reports it, else what the hardware database or the driver call it.
std::string FriendlyName(udev_device* tty, udev_device* usb) {
  if (usb != nullptr) {
    std::string product = Text(udev_device_get_sysattr_value(usb, "product"));
    if (!product.empty()) {
      return product;
    }
  }
  std::string model = Text(udev_device_get_property_value(tty, "ID_MODEL_FROM_DATABASE"));
  if (!model.empty()) {
    return model;
  }
  model = Text(udev_device_get_property_value(tty, "ID_MODEL"));
  for (char& c : model) {
    if (c == '_') {
      c = ' ';
    }
  }
  return model;
}

} // namespace

PortSourceUdev::PortSourceUdev(ZuroLog* log) : log_(log) {}

Result PortSourceUdev::ListPorts(std::vector<PortDevice>& devices) {
  devices.clear();
  UdevPtr<udev> context(udev_new());
  UdevPtr<udev_enumerate> list(context ? udev_enumerate_new(context.get()) : nullptr);
  if (!list || udev_enumerate_add_match_subsystem(list.get(), kTtySubsystem) < 0 ||
      udev_enumerate_scan_devices(list.get()) < 0) {
    if (log_ != nullptr) {
      log_->LogMessage(kLogDetails, kSourceTag, "CommPortEnum cannot ask udev; reading sysfs");
    }
    return fallback_.ListPorts(devices);
  }
  // Devices that udev has not finished setting up are listed too: a port
  // plugged in a moment ago is still a port.
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list.get())) {
    UdevPtr<udev_device> tty(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!tty) {
      continue;
    }
    const char* node = udev_device_get_devnode(tty.get());
    if (node == nullptr || udev_device_get_parent(tty.get()) == nullptr) {
      continue; // a virtual terminal, no device behind it
    }
    const char* type = udev_device_get_sysattr_value(tty.get(), "type");
    if (type != nullptr && Text(type) == kNoUartType) {
      continue;
    }
    // Owned by the tty device; not unreferenced here.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
    PortDevice device;
    device.devNode = node;
    device.friendlyName = FriendlyName(tty.get(), usb);
    if (usb != nullptr) {
      device.instanceId = UsbInstanceId(Text(udev_device_get_sysattr_value(usb, "idVendor")),
                                        Text(udev_device_get_sysattr_value(usb, "idProduct")),
                                        Text(udev_device_get_sysattr_value(usb, "serial")));
    }
    devices.push_back(std::move(device));
  }
  return static_cast<Result>(devices.size());
}

std::unique_ptr<PortSource> MakePlatformPortSource(ZuroLog* log) {
  return std::make_unique<PortSourceUdev>(log);
}

} // namespace zuro
