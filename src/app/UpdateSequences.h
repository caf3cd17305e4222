// The two update sequences and the sensor-type choice. Each sequence runs one
// whole update on the session's port, tells the user every stop in fixed words
// and returns 1 or the negative result of the stage that stopped it; the run
// frame (UpdateSession::StartUpdate) calls the one the target needs.
#pragma once

#include <cstdint>

#include "app/UpdateSession.h"

namespace zuro {

// Results of the sequences beyond the shared codes.
constexpr Result kErrWrongDevice = -121; ///< wrong instrument kind, or not a reader
constexpr Result kErrBatteryLow = -130;  ///< battery below kLowestBatteryPercent

constexpr std::int32_t kLowestBatteryPercent = 10; ///< below this the update does not start

/// One complete update of an instrument: connect, checks, settings saved,
/// boot loader, erase, upload, restart, reconnect, firmware check, settings
/// restored, clock, data erase.
Result RunInstrumentUpdate(UpdateSession& session);

/// One complete update of a digital sensor behind the hand-held reader.
Result RunSensorUpdate(UpdateSession& session);

/// Sets which sensor type the sensor target is for: its menu item, its
/// version-check path and the target name.
void SelectSensorType(UpdateSession& session, std::int32_t code);

/// Whether a sensor reporting `sensorType` is of the chosen `typeCode`
/// (a type, or a family code 260 to 264).
bool SensorTypeMatches(std::int32_t typeCode, std::uint32_t sensorType);

} // namespace zuro
