// The device kind tables together with the protocol's settings record, for the
// code that uses both.
#pragma once

#include "protocol/DeviceSettingsRecord.h"
#include "service/DeviceKinds.h"
