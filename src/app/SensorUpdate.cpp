// The digital sensor update sequence and the choice of sensor type. The
// computer talks to the hand-held reader (or the comm device) on the port and
// to the sensor behind it through the reader: SDI-12 commands for the
// sensor's settings, and the reader's transparent mode for the sensor's own
// boot loader, which the boot-loader host drives on the same open port.
#include <array>
#include <cctype>
#include <string>

#include "app/Notices.h"
#include "app/SequenceSteps.h"
#include "app/UpdateSequences.h"
#include "app/UpdateSession.h"
#include "core/Text.h"
#include "sdi12/ZuroSDI12.h"

namespace zuro {

namespace {
constexpr std::uint32_t kAnyVersion = 999;
constexpr int kCommDeviceFamily = 8; ///< VUSKA Comm Device: any version carries sensors
constexpr int kVantorixFamily = 10;  ///< Vantorix: from kLowestReaderVersion, revision B
constexpr std::int32_t kLowestReaderVersion = 123;
constexpr char kLowestReaderRevision = 'B';
/// What the "Wrong Device Version" text shows when the revision could not be read.
constexpr char kUnknownRevision = '?';
constexpr const char* kHardwareVersionCommand = "get -hver\r";
constexpr char kReaderPrompt = '>';
constexpr std::uint32_t kHardwareVersionTimeoutMs = 1500;
constexpr std::uint32_t kHardwareVersionCapacity = 32;
constexpr std::uint32_t kHandOffTries = 10;
constexpr std::uint32_t kLoaderCheckBaud = 9600;

// The reader's control characters and the pauses that let it switch.
constexpr char kReaderTransparent = ']'; ///< bytes go straight to the sensor's UART
constexpr char kReaderCommandMode = '`'; ///< back to the reader's own command line
constexpr char kReaderSdi12 = '[';       ///< commands go out on the SDI-12 bus
constexpr std::uint32_t kModeSwitchMs = 500;
constexpr std::uint32_t kLoaderWakeMs = 1000;
constexpr std::uint32_t kUploadSettleMs = 100;
constexpr std::uint32_t kFirmwareStartMs = 1000;

constexpr int kStageProgressStep = 2;
constexpr int kLoaderProgress = 6;
constexpr int kRestartedProgress = 92;

constexpr std::size_t kMaxRowCodes = 5;

struct SensorTypeRow {
  std::array<std::int32_t, kMaxRowCodes> codes; ///< the menu item's code first; 0 ends
  const char* item;                             ///< menu item checked; null: none
  const char* path;                             ///< version-check path
};

const SensorTypeRow kSensorTypeRows[] = {
    {{122}, "K4E", "/versionfinder/K4E-Firmware.txt"},
    {{120}, "K4M", "/versionfinder/K4M-Firmware.txt"},
    {{119}, "JR3", "/versionfinder/JR3-Firmware.txt"},
    {{118}, "PD3", "/versionfinder/PD3-Firmware.txt"},
    {{261, 'y', 'l', 'k'}, "WPT-2 && WPT-6", "/versionfinder/WPT2-Firmware.txt"},
    {{117}, "P7DG", "/versionfinder/P7DG-Firmware.txt"},
    {{262, 'e', 'i', 'j', 't'}, "WLX Family", "/versionfinder/WLX-Firmware.txt"},
    {{113}, "QM-4", "/versionfinder/QM4-Firmware.txt"},
    {{109}, "QM-4F", "/versionfinder/QM4-Firmware.txt"},
    {{112}, "HT-5", "/versionfinder/HT5-Firmware.txt"},
    {{102}, "HT-6", "/versionfinder/HT6-Firmware.txt"},
    {{260}, "NVX Family", "/versionfinder/NVX-Firmware.txt"},
    {{95}, "WV-8", "/versionfinder/WV8-Firmware.txt"},
    {{94}, "PLU-3", "/versionfinder/PLU3-Firmware.txt"},
    {{92}, "SKYRA 22", "/versionfinder/SKYRA22-Firmware.txt"},
    {{93}, "SKYRA 41", "/versionfinder/SKYRA41-Firmware.txt"},
    {{264, 'g', 'h'}, "BALVO 1x Family", "/versionfinder/BALVO1X-Firmware.txt"},
    {{123}, nullptr, "/versionfinder/SKYRA14-Firmware.txt"},
};

const SensorTypeRow* FindSensorType(std::int32_t code) {
  for (const SensorTypeRow& row : kSensorTypeRows) {
    for (const std::int32_t c : row.codes) {
      if (c != 0 && c == code) {
        return &row;
      }
    }
  }
  return nullptr;
}

struct FamilyRow {
  std::int32_t code;
  const char* members;
};
constexpr FamilyRow kFamilies[] = {{260, "sron"}, {261, "ylk"}, {262, "tjie"}, {264, "hg"}};

std::string TypeName(std::uint32_t code) {
  char name[kSensorTypeNameSize];
  SensorTypeName(code, name);
  return name;
}

void ToReader(UpdateSession& s, char control) {
  (void)s.Service().Protocol().ZSWrite(std::string_view(&control, 1));
}

std::string LoaderConnectText(UpdateSession& s) {
  return "The " + s.Caption() + " is unable to connect to the firmware loader in your " + s.Name() +
         ".\n\nPlease try again.";
}

std::string ReaderConnectText(UpdateSession& s, Result code) {
  const std::string& port = s.PortText();
  if (code == kErrPortInUse) {
    return "Comm Port \"" + port + "\" is already in use by another application.\n" +
           "Please choose a new Comm Port to use or quit the application using this port.";
  }
  if (code == kErrPortUnavailable) {
    return "Comm Port \"" + port + "\" isn't available.\nPlease choose a new Comm Port to use.";
  }
  std::string text = "The " + s.Caption() + " is unable to connect to your communication device" +
                     "\n on Comm Port \"" + port +
                     "\".\n\nPlease check your serial cable and Comm Port choice.";
  if (code != kErrNoConnection) {
    text += "\nError " + std::to_string(code);
  }
  return text;
}

/// Step 2: only a reader that can pass the sensor's boot loader through will do.
Result CheckReader(UpdateSession& s) {
  VUSKA_Protocol& reader = s.Service().Protocol();
  const DeviceSettingsRecord& settings = reader.Settings();
  const std::string& device = s.instrumentEntry.displayName;
  if (settings.familyCode == kCommDeviceFamily) {
    return kDone;
  }
  if (settings.familyCode != kVantorixFamily) {
    FailNotice(s,
               "The " + s.Caption() + " expected to find a Vantorix (or VUSKA Comm Device)" +
                   ";\nhowever, it found a " + device + ".\n\nThis updater can not work with a " +
                   device + ".",
               "Wrong Device");
    return kErrWrongDevice;
  }
  std::array<char, kHardwareVersionCapacity> answer{};
  std::uint32_t length = kHardwareVersionCapacity;
  std::uint32_t elapsedMs = 0;
  const Result asked =
      reader.DeviceCommand(kHardwareVersionCommand, kReaderPrompt, kHardwareVersionTimeoutMs,
                           answer.data(), length, elapsedMs);
  char revision = kUnknownRevision;
  if (asked >= 0) {
    for (std::uint32_t i = 0; i < length && i < kHardwareVersionCapacity && answer[i] != '\0';
         ++i) {
      if (std::isspace(static_cast<unsigned char>(answer[i])) == 0) {
        revision = answer[i];
        break;
      }
    }
  }
  const bool revisionOk =
      revision != kUnknownRevision &&
      static_cast<unsigned char>(revision) >= static_cast<unsigned char>(kLowestReaderRevision);
  if (asked >= 0 && settings.versionNumber >= kLowestReaderVersion && revisionOk) {
    return kDone;
  }
  const std::uint32_t version =
      settings.versionNumber > 0 ? static_cast<std::uint32_t>(settings.versionNumber) : 0;
  FailNotice(
      s,
      "Your " + device + " version " + VersionText(version) + " with hardware revision '" +
          std::string(1, revision) + "' " +
          "doesn't\nsupport bootstrapping digital sensors.\n\nPlease use a supported Vantorix "
          "(or VUSKA Comm Device)",
      "Wrong Device Version");
  return kErrNotSupported;
}

/// Steps 5 to 7: the sensor's settings, its version and its type.
Result SaveAndCheckSensor(UpdateSession& s) {
  UpdateFrontEnd& front = s.Front();
  const RunOptions& options = s.Options();
  front.ShowStatus("Saving settings for this digital sensor...");
  ToReader(s, kReaderSdi12);
  s.SequenceDelay(kModeSwitchMs);
  const Result saved = s.Service().ZPSaveInfo(options.settingsFileName);
  if (saved < 0) {
    if (!options.repMode) {
      FailNotice(s,
                 "This " + s.Caption() + " could not retrieve the settings from your " + s.Name() +
                     ".\nPlease try again or contact Brenvik for help.",
                 kSettingsErrorCaption);
      return saved;
    }
    const std::string text =
        "The " + s.Caption() + " could not retrieve the settings from your " + s.Name() +
        ".\nThis can happen when an intrument is new or doesn't have " +
        "a serial number set yet.\n\nClick OK to continue loading new firmware." +
        "\nClick CANCEL to try retrieving the settings again.";
    if (!front.AskOkCancel(text, "Settings Retrieve Error")) {
      return kErrStopped;
    }
    s.settingsSkipped = true;
  }

  const SdiSensorRecord& sensor = s.Service().Sdi().Sensor();
  FillDeviceKindEntry(s.imageKind, sensor.sensorVersion, &s.instrumentEntry);
  if (!ConfirmFirmwareRange(s, s.instrumentEntry)) {
    return kErrNotSupported;
  }
  if (sensor.sensorVersion > s.builtInFirmwareVersion) {
    const std::string text = "The firmware in your " + s.Name() +
                             "\nis newer than the version in this updater.\n\n" +
                             "Are you sure you want to load older firmware.";
    if (!front.AskOkCancel(text, "Newer Firmware")) {
      return kErrStopped;
    }
  }
  if (!SensorTypeMatches(s.sensorTypeCode, sensor.sensorType)) {
    const std::string text = "The attached sensor is claiming to be a \"" +
                             TypeName(sensor.sensorType) + "\"\n\n" +
                             "This firmware updater is for a \"" + s.Name() + "\".\n\n" +
                             "Are you sure you want to load the firmware for a " + s.Name() + "?\n";
    if (!front.AskOkCancel(text, "Wrong Sensor Type")) {
      return kErrStopped;
    }
  }
  return kDone;
}
} // namespace

bool SensorTypeMatches(std::int32_t typeCode, std::uint32_t sensorType) {
  for (const FamilyRow& family : kFamilies) {
    if (family.code == typeCode) {
      for (const char* m = family.members; *m != '\0'; ++m) {
        if (static_cast<std::uint32_t>(static_cast<unsigned char>(*m)) == sensorType) {
          return true;
        }
      }
      return false;
    }
  }
  return typeCode >= 0 && static_cast<std::uint32_t>(typeCode) == sensorType;
}

void SelectSensorType(UpdateSession& s, std::int32_t code) {
  s.Front().CheckSensorTypeItem({});
  s.sensorTypeCode = code;
  if (const SensorTypeRow* row = FindSensorType(code)) {
    s.Front().CheckSensorTypeItem(row->item != nullptr ? row->item : "");
    s.versionFinderPath = row->path;
  }
  s.Options().targetName = TypeName(code < 0 ? 0U : static_cast<std::uint32_t>(code));
  s.Front().SetDescription("This utility updates " + s.Name() + " firmware to");
}

Result RunSensorUpdate(UpdateSession& s) {
  UpdateFrontEnd& front = s.Front();
  const RunOptions& options = s.Options();
  Zuro_protocol& service = s.Service();
  ZuroBSLHost& host = s.Host();
  DeviceKindEntry& entry = s.instrumentEntry;

  // 1: the reader.
  const Result connected = service.ZPConnect(options.commPortName, Zuro_protocol::kConnectBaudIndex,
                                             Zuro_protocol::kConnectTries, &entry);
  if (connected < 0) {
    FailNotice(s, ReaderConnectText(s, connected), "Connection Error");
    return kErrNoConnection;
  }
  // 2: a reader that can do it.
  Result r = CheckReader(s);
  if (r < 0) {
    return r;
  }
  // 3: the reader's battery.
  front.StepProgress(kStageProgressStep);
  front.ShowStatus("Checking Vantorix battery power...");
  std::int32_t percent = -1;
  const Result battery = service.ZPCheckBattery(&percent);
  if (battery > 0 && percent >= 0 && percent < kLowestBatteryPercent) {
    FailNotice(s,
               std::string("The battery power in the Vantorix is too low!\n\n") +
                   "Please replace the batteries before running this updater.",
               "Batteries Too Low");
    return kErrBatteryLow;
  }
  if (!options.keepGoing) {
    return kErrStopped;
  }

  // 4: the host shares the reader's open port; is the sensor's loader already up?
  front.StepProgress(kStageProgressStep);
  VUSKA_Protocol& reader = service.Protocol();
  r = host.BSLHandOff(reader.PortHandle(), reader.ReadBuffer(), reader.PortName(), true,
                      kHandOffTries);
  if (r < 0) {
    FailNotice(
        s, "The " + s.Caption() + " is unable to start the ZuroBSL engine.\n\nPlease try again.",
        kLoaderErrorCaption);
    return r;
  }
  ToReader(s, kReaderTransparent);
  s.SequenceDelay(kModeSwitchMs);
  const Result check = host.BSLCheck(options.commPortName, kLoaderCheckBaud);
  if (check == kErrBootLoaderWaiting) {
    ToReader(s, kReaderCommandMode);
    s.SequenceDelay(kLoaderWakeMs);
  }
  service.SetKind(kSensorDeviceKind);
  FillDeviceKindEntry(s.imageKind, kAnyVersion, &entry);

  if (check != kErrBootLoaderActive) {
    // 5 to 7: settings, version and type.
    r = SaveAndCheckSensor(s);
    if (r < 0) {
      return r;
    }
    if (!options.keepGoing) {
      return kErrStopped;
    }
    // 8: the sensor starts its boot loader.
    front.SetProgress(kLoaderProgress);
    front.ShowStatus("Starting the firmware loader...");
    r = service.Sdi().SDIInvokeZuroBSL();
    if (r == kErrSdiNoBootLoader) {
      FailNotice(s,
                 std::string("This digital sensor does not have a working firmware loader.") +
                     "\n\nPlease contact Brenvik for help.",
                 kLoaderErrorCaption);
      return kErrSdiNoBootLoader;
    }
    if (r < 0) {
      FailNotice(s, LoaderConnectText(s), kLoaderErrorCaption);
      return kErrBootLoader;
    }
  }

  // 9: contact with the boot loader.
  if (host.BSLAttach() < 0) {
    FailNotice(s, LoaderConnectText(s), kLoaderErrorCaption);
    return kErrBootLoader;
  }
  front.StepProgress(kStageProgressStep);
  // 10 to 12: erase, upload, and the vectors that restart the sensor.
  r = ReprogramDevice(s, entry, kUploadSettleMs);
  if (r < 0) {
    return r;
  }
  // 13: the sensor checks its new firmware.
  front.SetProgress(kRestartedProgress);
  front.PumpEvents();
  host.BSLHandBack();
  ToReader(s, kReaderSdi12);
  front.StepProgress(kStageProgressStep);
  front.ShowStatus("Checking new firmware...");
  s.SequenceDelay(kFirmwareStartMs);
  r = service.Sdi().SDICheckBinary();
  if (r == kErrSdiFirmwareCorrupt) {
    FailNotice(s,
               "The new firmware for your " + s.Name() +
                   " is corrupt!\n\nPlease try again or contact Brenvik.",
               "Firmware Error");
    return kErrSdiFirmwareCorrupt;
  }
  if (r < 0) {
    FailNotice(s,
               "The " + s.Caption() + " was unable to verify the new firmware in your " + s.Name() +
                   ".\n\nPlease try again or contact Brenvik.\n\n[Error " + std::to_string(r) + "]",
               "Firmware Error");
    return r;
  }
  // 14: address, serial number, calibration and type back; failures are told.
  front.StepProgress(kStageProgressStep);
  front.ShowStatus("Restoring settings...");
  r = service.ZPRestoreInfo(options.settingsFileName, nullptr);
  if (r < 0) {
    s.Front().ShowNotice("The " + s.Caption() + " failed to restore the calibration and address\n" +
                             "for your " + s.Name() +
                             ".\n\nPlease calibrate this sensor and check the address.\n\n[Error " +
                             std::to_string(r) + "]",
                         kSettingsErrorCaption, NoticeKind::kError);
  }
  r = service.Sdi().SDISetSensorType(s.sensorTypeCode);
  if (r < 0) {
    s.Front().ShowNotice("The " + s.Caption() + " failed to set the sensor type for your " +
                             s.Name() +
                             ".\n\nThe sensor type will be auto-determined by the firmware.\n\n"
                             "[Error " +
                             std::to_string(r) + "]",
                         kSettingsErrorCaption, NoticeKind::kError);
  }
  // 15: the reader back in command mode, the port closed.
  front.StepProgress(kStageProgressStep);
  ToReader(s, kReaderCommandMode);
  service.ZPDisconnect(false);
  return kDone;
}

} // namespace zuro
