#include "serial/CommPortEnum.h"

#include <cerrno>
#include <new>
#include <vector>

#include "core/Text.h"
#include "serial/ZuroSerial.h"

namespace zuro {

namespace {

/// Families of device names in the order the user sees them; all other
/// names come last.
constexpr std::string_view kFamilies[] = {"ttyS", "ttyACM", "ttyUSB"};
constexpr std::int32_t kFamilyStride = 1000000;              ///< numbers per family
constexpr std::int32_t kMaxDeviceNumber = kFamilyStride - 2; ///< larger numbers share the last key
constexpr std::size_t kMaxNumberDigits = 9;

bool ContainsAny(std::string_view text, const auto& needles) {
  for (std::string_view needle : needles) {
    if (text.find(needle) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

std::string Bounded(std::string_view text, std::size_t maxChars) {
  std::string out;
  BoundedCopy(out, text, maxChars);
  return out;
}

/// Appends the busy mark, making room for it so that it is always seen.
void MarkBusy(std::string& displayName) {
  const std::size_t markLength = std::string_view(kBusyMark).size();
  if (displayName.size() + markLength > kDisplayNameMaxChars) {
    displayName.resize(kDisplayNameMaxChars - markLength);
  }
  displayName += kBusyMark;
}

std::string PlainDisplayName(std::string_view portName, bool busy) {
  std::string name = Bounded(
      StrFormat("%.*s %s", static_cast<int>(portName.size()), portName.data(), kPlainPortSuffix),
      kDisplayNameMaxChars);
  if (busy) {
    MarkBusy(name);
  }
  return name;
}

} // namespace

std::int32_t PortNumberOf(std::string_view devicePath) {
  const std::size_t slash = devicePath.rfind('/');
  const std::string_view base =
      slash == std::string_view::npos ? devicePath : devicePath.substr(slash + 1);
  std::size_t digitsAt = base.size();
  while (digitsAt > 0 && base[digitsAt - 1] >= '0' && base[digitsAt - 1] <= '9') {
    --digitsAt;
  }
  if (digitsAt == base.size()) {
    return 0;
  }
  std::string_view digits = base.substr(digitsAt);
  std::int64_t number = 0;
  if (digits.size() > kMaxNumberDigits) {
    number = kMaxDeviceNumber;
  } else {
    for (const char c : digits) {
      number = number * 10 + (c - '0');
    }
  }
  if (number > kMaxDeviceNumber) {
    number = kMaxDeviceNumber;
  }
  const std::string_view stem = base.substr(0, digitsAt);
  std::int32_t family = static_cast<std::int32_t>(std::size(kFamilies));
  for (std::size_t i = 0; i < std::size(kFamilies); ++i) {
    if (stem == kFamilies[i]) {
      family = static_cast<std::int32_t>(i);
    }
  }
  return family * kFamilyStride + static_cast<std::int32_t>(number) + 1;
}

std::string DeviceDisplayName(std::string_view portName, std::string_view friendlyName,
                              std::string_view instanceId) {
  const auto port = static_cast<int>(portName.size());
  if (friendlyName.empty()) {
    return PlainDisplayName(portName, false);
  }
  std::string friendly = Bounded(friendlyName, kFriendlyNameMaxChars);
  // A Windows-style name ends in "(COMn)"; the port is shown separately.
  if (const std::size_t at = friendly.find("(COM"); at != std::string::npos) {
    friendly.resize(at == 0 ? 0 : at - 1);
  }
  std::string display =
      Bounded(StrFormat("%.*s %s", port, portName.data(), friendly.c_str()), kDisplayNameMaxChars);

  if (ContainsAny(friendly, kMakerAdapterNames)) {
    const std::string id = Bounded(instanceId, kInstanceIdMaxChars);
    const std::size_t product = id.find(kMakerAdapterProduct);
    if (product != std::string::npos) {
      const std::string_view after =
          std::string_view(id).substr(product + std::string_view(kMakerAdapterProduct).size());
      if (after.find(kMakerAdapterSerialMark) != std::string_view::npos) {
        const std::size_t bracket = after.find('[');
        if (bracket != std::string_view::npos) {
          const std::string tag(after.substr(bracket));
          display = StrFormat("%.*s %s %s", port, portName.data(), kMakerAdapterTitle, tag.c_str());
        } else {
          display = StrFormat("%.*s %s", port, portName.data(), kMakerAdapterTitle);
        }
        display = Bounded(display, kDisplayNameMaxChars);
      }
    }
  }
  // Radio modem adapters carry the name of the radio they serve; the maker's
  // own adapter keeps its name even if its text mentions a modem.
  if (ContainsAny(display, kRadioModemNames) &&
      display.find(kMakerAdapterOtherName) == std::string::npos &&
      display.find(kMakerAdapterTitle) == std::string::npos) {
    display = Bounded(StrFormat("%.*s %s", port, portName.data(), kRadioModemTitle),
                      kDisplayNameMaxChars);
  }
  return display;
}

Result ZuroSerial::CommPortEnum(CommPortInfo* list, std::int32_t* capacity, bool forceFindAll) {
  if (list == nullptr || capacity == nullptr) {
    LogSerial(kLogFailures, "CommPortEnum called without a list or its capacity");
    return kErrMissingArgument;
  }
  if (*capacity <= 0) {
    LogSerial(kLogFailures, "CommPortEnum called with a capacity of %d", *capacity);
    return kErrPortNoCapacity;
  }
  const auto room = static_cast<std::size_t>(*capacity);
  std::vector<CommPortInfo> found;
  std::vector<PortDevice> devices;
  try {
    found.reserve(room);
  } catch (const std::bad_alloc&) {
    LogSerial(kLogFailures, "CommPortEnum has no memory for %d entries", *capacity);
    return kErrOutOfMemory;
  }
  for (std::size_t i = 0; i < room; ++i) {
    list[i] = CommPortInfo{};
  }

  PortSource* source = portSource_;
  if (source == nullptr) {
    if (!platformSource_) {
      platformSource_ = MakePlatformPortSource(log_);
    }
    source = platformSource_.get();
  }
  Result listed = source != nullptr ? source->ListPorts(devices) : kErrNotSupported;
  bool probe = forceFindAll;
  if (listed < 0) {
    LogSerial(kLogDetails, "CommPortEnum has no device list (error %d); probing the ports", listed);
    probe = true;
    devices.clear();
    listed = 0;
  }

  for (const PortDevice& device : devices) {
    if (found.size() == room) {
      break;
    }
    const std::int32_t number = PortNumberOf(device.devNode);
    if (device.devNode.empty() || device.devNode.size() > kPortNameMaxChars || number == 0 ||
        device.devNode.find('\0') != std::string::npos) {
      continue; // not a name a port can be opened by
    }
    found.push_back({device.devNode,
                     DeviceDisplayName(device.devNode, device.friendlyName, device.instanceId),
                     number});
  }
  const auto fromList = static_cast<std::int32_t>(found.size());

  // Highest number first into the last free place, so the table ends up in
  // ascending order; of equal numbers the earlier listed ends up later.
  std::vector<bool> placed(found.size(), false);
  for (std::size_t slot = found.size(); slot > 0; --slot) {
    std::size_t best = found.size();
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (!placed[i] && (best == found.size() || found[i].portNumber > found[best].portNumber)) {
        best = i;
      }
    }
    placed[best] = true;
    list[slot - 1] = std::move(found[best]);
  }

  // One open attempt, closed again at once: a port that another program
  // holds is only opened and closed, never disturbed.
  auto tryOpen = [this](const std::string& portName) -> Result {
    std::unique_ptr<SerialBackend> probePort = MakeBackend();
    if (!probePort) {
      return kErrOutOfMemory;
    }
    const Result r = probePort->Open(PlatformDevicePath(portName));
    if (r >= 0) {
      probePort->Close();
    }
    return r;
  };

  // A permission problem is not a busy port: the user's rights are missing,
  // and "busy" would send them looking for another program.
  std::size_t count = static_cast<std::size_t>(fromList);
  for (std::size_t i = 0; i < count; ++i) {
    const Result r = tryOpen(list[i].portName);
    if (r < 0 && r != kErrPortNoAccess) {
      MarkBusy(list[i].displayName);
    }
  }

  if (probe) {
    for (int n = 1; n <= kProbedPortCount && count < room; ++n) {
      bool have = false;
      for (std::size_t i = 0; i < count; ++i) {
        have = have || list[i].portNumber == n;
      }
      if (have) {
        continue;
      }
      const std::string name = PlatformProbedPortName(n);
      const Result r = tryOpen(name);
      const bool busy = r == kErrPortInUse || r == -ETIMEDOUT;
      if (r < 0 && !busy && r != kErrPortNoAccess) {
        continue; // no such port, or a node without a device behind it
      }
      list[count].portName = name;
      list[count].portNumber = n;
      list[count].displayName = PlainDisplayName(name, busy);
      ++count;
    }
  }

  *capacity = static_cast<std::int32_t>(count);
  LogSerial(kLogDetails, "CommPortEnum found %d ports", *capacity);
  return probe ? 1 : fromList;
}

} // namespace zuro
