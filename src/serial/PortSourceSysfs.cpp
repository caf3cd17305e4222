#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>

#include "core/Text.h"
#include "serial/PortSourceLinux.h"

namespace zuro {

namespace {

constexpr std::size_t kAttributeMaxChars = 256; ///< sysfs attributes we read are short
constexpr const char* kNoUartType = "0";        ///< serial core's "type" of an empty slot
constexpr const char* kVirtualDevices = "/devices/virtual/"; ///< where consoles and ptys live

/// The first line of a sysfs attribute file, or empty when there is none.
std::string ReadAttribute(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) {
    return {};
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  std::string out;
  BoundedCopy(out, line, kAttributeMaxChars);
  return out;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

} // namespace

std::string UsbInstanceId(const std::string& vendorId, const std::string& productId,
                          const std::string& serial) {
  return "USB\\VID_" + ToUpperAscii(vendorId) + "&PID_" + ToUpperAscii(productId) + "\\" + serial;
}

PortSourceSysfs::PortSourceSysfs(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

Result PortSourceSysfs::ListPorts(std::vector<PortDevice>& devices) {
  devices.clear();
  const std::string classFolder = sysRoot_ + "/class/tty";
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(classFolder.c_str()), &::closedir);
  if (!dir) {
    return -errno;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());

  char resolved[PATH_MAX];
  std::string sysRootResolved = sysRoot_;
  if (::realpath(sysRoot_.c_str(), resolved) != nullptr) {
    sysRootResolved = resolved;
  }
  for (const std::string& name : names) {
    std::string ttyFolder = classFolder;
    ttyFolder += "/";
    ttyFolder += name;
    // Virtual terminals live under devices/virtual; every other tty has a
    // device behind it. Empty UART slots say so with type 0.
    if (::realpath(ttyFolder.c_str(), resolved) == nullptr) {
      continue;
    }
    const std::string ttyPath = resolved;
    if (ttyPath.find(kVirtualDevices) != std::string::npos) {
      continue;
    }
    if (Exists(ttyFolder + "/type") && ReadAttribute(ttyFolder + "/type") == kNoUartType) {
      continue;
    }
    PortDevice device;
    device.devNode = devRoot_ + "/" + name;
    // The USB device is the nearest folder above the tty with USB ids.
    for (std::string folder = ParentFolder(ttyPath);
         !folder.empty() && folder.size() > sysRootResolved.size(); folder = ParentFolder(folder)) {
      if (Exists(folder + "/idVendor") && Exists(folder + "/idProduct")) {
        device.friendlyName = ReadAttribute(folder + "/product");
        device.instanceId =
            UsbInstanceId(ReadAttribute(folder + "/idVendor"), ReadAttribute(folder + "/idProduct"),
                          ReadAttribute(folder + "/serial"));
        break;
      }
    }
    devices.push_back(std::move(device));
  }
  return static_cast<Result>(devices.size());
}

} // namespace zuro
