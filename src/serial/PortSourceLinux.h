// The Linux device lists behind port enumeration: udev first (it knows the
// USB names and the hardware database), and the sysfs tree it reads, for
// systems where libudev cannot be had. Both list only tty devices that have a
// real device behind them, not the kernel's virtual consoles or empty UART slots.
#pragma once

#include <string>
#include <vector>

#include "serial/PortSource.h"

namespace zuro {

class ZuroLog;

class PortSourceSysfs : public PortSource {
public:
  /// `sysRoot` is where sysfs is mounted and `devRoot` where device nodes live.
  explicit PortSourceSysfs(std::string sysRoot = "/sys", std::string devRoot = "/dev");
  Result ListPorts(std::vector<PortDevice>& devices) override;

private:
  std::string sysRoot_;
  std::string devRoot_;
};

class PortSourceUdev : public PortSource {
public:
  explicit PortSourceUdev(ZuroLog* log);
  /// Falls back to sysfs when udev cannot be asked.
  Result ListPorts(std::vector<PortDevice>& devices) override;

private:
  ZuroLog* log_;
  PortSourceSysfs fallback_;
};

} // namespace zuro
