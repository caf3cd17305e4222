// What a desktop updater program is built for: one instrument kind of the
// device kind table, or the digital sensor behind the hand-held reader. The
// program's entry picks one at build time; the window takes it as a value so
// that tests can open either target in one process.
#pragma once

#include "service/DeviceKinds.h"

namespace zuro {

struct GuiTarget {
  bool sensorTarget = false; ///< the digital-sensor start-up, menu and sequence
  int kind = 0;              ///< the kind of the device kind table the image is for
};

constexpr int kDu70Kind = 3;
constexpr GuiTarget kDu70Target{false, kDu70Kind};
constexpr GuiTarget kDigitalSensorTarget{true, kSensorDeviceKind};

} // namespace zuro
