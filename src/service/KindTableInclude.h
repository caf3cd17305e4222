// The device kind tables, for code that also uses the protocol's settings
// record. Both headers name a constant kIdentityTextMax (the kind table's
// identity answer of 21 characters, the record's version line of 20), so a
// file that includes both directly does not compile; this header renames the
// kind table's constant to kDeviceKindIdentityTextMax while including it.
#pragma once

#include "protocol/DeviceSettingsRecord.h"

#define kIdentityTextMax kDeviceKindIdentityTextMax
#include "service/DeviceKinds.h"
#undef kIdentityTextMax
