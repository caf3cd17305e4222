// Feeds arbitrary settings files to the settings file reader. The first byte
// chooses the device kind (one of the kinds that keep a snapshot), the rest is
// the file. Checked: only the documented results; a refused file leaves the
// snapshot untouched; every text field within its maximum; and the reader
// and writer agree: a snapshot read from any file, written out and read back,
// writes out the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/SettingsFile.h"

namespace {

using zuro::SettingsSnapshot;

void Check(bool condition, const char* what) {
  if (!condition) {
    (void)std::fprintf(stderr, "fuzz_settings_file: %s\n", what);
    std::abort();
  }
}

constexpr int kKinds[] = {2,  3,  4,  6,  7,  8,  9,  10, 11, 12, 13,
                          14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};

void CheckMaxima(const SettingsSnapshot& s) {
  Check(s.settings.deviceName.size() <= zuro::kDeviceNameMax, "device name too long");
  Check(s.settings.serialNumber.size() <= zuro::kSerialNumberMax, "serial number too long");
  Check(s.settings.site.size() <= zuro::kSiteMax, "site too long");
  Check(s.settings.host.size() <= zuro::kHostMax, "host too long");
  Check(s.settings.authKey.size() <= zuro::kAuthKeyLength, "authentication key too long");
  Check(s.instInfo.serialNumber.size() <= zuro::kInfoSerialMax, "instrument serial too long");
  Check(s.instInfo.name.size() <= zuro::kInfoNameMax, "instrument name too long");
  Check(s.instInfo.config.size() <= zuro::kInfoConfigMax, "config too long");
  for (const std::string& slot : s.instInfo.slots) {
    Check(slot.size() <= zuro::kInfoLongTextMax, "slot too long");
  }
  for (const auto* set : {&s.users, &s.equations}) {
    for (const auto& record : set->records) {
      Check(!record.value.empty() && record.value.size() <= zuro::kRecordValueMax,
            "record value empty or too long");
    }
  }
  Check(s.users.Count() <= zuro::kMaxUserRecords, "too many user records");
  Check(s.equations.Count() <= zuro::kMaxEquationRecords, "too many equation records");
  Check(s.sensor.calibrationX4.size() <= zuro::kSensorCalibrationMax, "calibration too long");
  Check(s.sensor.sensorSerial.size() <= zuro::kSensorSerialMax, "sensor serial too long");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const int kind = kKinds[data[0] % std::size(kKinds)];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  SettingsSnapshot before;
  before.settings.familyCode = 3;
  before.settings.versionNumber = 230;
  before.instInfo.serialNumber = "HELD";
  SettingsSnapshot snapshot = before;
  const zuro::Result r = zuro::ParseSettingsFile(kind, text, &snapshot, nullptr);
  Check(r == zuro::kDone || r == zuro::kErrPartialSettings || r == zuro::kErrNotUnderstood ||
            r == zuro::kErrProtoNotSupported,
        "unexpected result");
  if (r != zuro::kDone && r != zuro::kErrPartialSettings) {
    Check(snapshot == before, "a refused file changed the snapshot");
    return 0;
  }
  CheckMaxima(snapshot);

  const std::string written = zuro::FormatSettingsFile(kind, snapshot);
  SettingsSnapshot again = before;
  const zuro::Result r2 = zuro::ParseSettingsFile(kind, written, &again, nullptr);
  Check(r2 == zuro::kDone, "a written file does not read back whole");
  Check(zuro::FormatSettingsFile(kind, again) == written, "writing what was read changes the file");
  return 0;
}
