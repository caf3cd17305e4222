// The instrument update sequence. Every stage shows its name, moves the bar
// and tells the user in fixed words when it stops the update; the port passes
// from the service object to the boot-loader host and back.
#include <sys/stat.h>

#include <string>

#include "app/Notices.h"
#include "app/SequenceSteps.h"
#include "app/UpdateSequences.h"
#include "app/UpdateSession.h"
#include "core/Text.h"

namespace zuro {

namespace {
constexpr std::uint32_t kAnyVersion = 999; ///< fills an entry without naming a version
constexpr std::uint32_t kBootLoaderTries = 3;
constexpr std::uint32_t kReconnectTries = 3;
constexpr std::uint32_t kReconnectBackOffMs = 1500; ///< times the failed try's number
constexpr int kConnectedProgress = 2;
constexpr int kStageProgressStep = 2;
constexpr int kHandOverProgress = 6;
constexpr int kRestartedProgress = 92;
/// An "adc" text with this figure is the factory's placeholder calibration.
constexpr const char* kUncalibratedAdc = "50.98";

constexpr const char* kConnectionError = "Connection Error";
constexpr const char* kLoginError = "Login Error";

std::string ConnectFailureText(UpdateSession& s, Result code) {
  const std::string& port = s.PortText();
  const std::string& name = s.Name();
  const std::string caption = s.Caption();
  switch (code) {
  case kErrPortInUse:
    return "Comm Port \"" + port + "\" is already in use by another application.\n" +
           "Please choose a new Comm Port to use or quit the application using this port.";
  case kErrPortUnavailable:
    return "Comm Port \"" + port + "\" isn't available.\nPlease choose a new Comm Port to use.";
  case kErrNoConnection:
  case kErrNoAnswer:
    return "The " + caption + " is unable to connect to your " + name + "\n on Comm Port \"" +
           port + "\".\n\nPlease check your serial cable and Comm Port choice.";
  case kErrNotSupported:
    if (s.instrumentEntry.version != 0 && s.instrumentEntry.kind != 0) {
      return "The " + caption + " does not support your " + s.instrumentEntry.displayName + "\n" +
             "running version " + std::to_string(s.instrumentEntry.version) + ".";
    }
    return "The " + caption + " is unable to connect to your unknown device" +
           "\n on Comm Port \"" + port +
           "\".\n\nPlease check your serial cable and Comm Port choice.\n\n" +
           "Please verify the device connected is a \"" + name + "\" and has a version of\n" +
           "firmware that supports updates.";
  case kErrLoginRefused:
    return "The " + caption + " is unable to log into to your " + name + "\n on Comm Port \"" +
           port + "\".\n\nPlease try again or contact your Brenvik representative.";
  default:
    return "The " + caption + " is unable to connect to your " + name + "\n on Comm Port \"" +
           port + "\".\n\nPlease check your serial cable and Comm Port choice.\nError " +
           std::to_string(code);
  }
}

std::string SettingsRetrieveText(UpdateSession& s) {
  return "This " + s.Caption() + " could not retrieve the settings from your " + s.Name() +
         ".\nPlease try again or contact Brenvik for help.";
}

/// Stage 3: identity and version checks. 1 to go on, or the result to return.
Result CheckIdentity(UpdateSession& s) {
  const RunOptions& options = s.Options();
  DeviceKindEntry& entry = s.instrumentEntry;
  if (entry.kind != s.imageKind) {
    std::string text = "The " + s.Caption() + " expected to find a " + s.Name() +
                       ";\nhowever, it found a " + entry.displayName +
                       ".\n\nThis updater can not update a " + entry.displayName + ".";
    if (!options.factoryMode) {
      FailNotice(s, text, "Wrong Device");
      return kErrWrongDevice;
    }
    text += "\n\n[Factory Mode Override: Click OK to load FW anyway]";
    if (!s.Front().AskOkCancel(text, "Wrong Device")) {
      return kErrWrongDevice;
    }
  }
  if (!entry.updatable) {
    FailNotice(s,
               "The firmware in the connected " + s.Name() +
                   "\nis too old.\n\nThis updater can not update this device.",
               "Firmware Too Old");
    return kErrNotSupported;
  }
  if (entry.version > s.builtInFirmwareVersion && !options.factoryMode) {
    const std::string text = "The firmware in your " + s.Name() +
                             "\nis newer than the version in this updater.\n\n" +
                             "Are you sure you want to load older firmware.";
    if (!s.Front().AskOkCancel(text, "Newer Firmware")) {
      return kErrStopped;
    }
  }
  if (!ConfirmFirmwareRange(s, entry)) {
    return kErrNotSupported;
  }
  return kDone;
}

/// A settings file stays behind only when an earlier update did not finish.
bool SettingsFileLeftByEarlierRun(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

/// Stage 13: every failure is told and the update goes on.
void RestoreSettings(UpdateSession& s) {
  const RunOptions& options = s.Options();
  const bool replace = options.replaceSerialNumber && !options.newSerialNumber.empty();
  const Result restored = s.Service().ZPRestoreInfo(
      options.settingsFileName, replace ? options.newSerialNumber.c_str() : nullptr);
  if (restored >= 0) {
    return;
  }
  const std::string failed = "The " + s.Caption() + " failed to restore the settings for your " +
                             s.Name() + ".\n\nPlease try again.\n\n[Error " +
                             std::to_string(restored) + "]";
  if (restored == kErrSettingsFileMissing) {
    FailNotice(s,
               "The " + s.Caption() + " couldn't find the settings file for your " + s.Name() +
                   ".\n\nPlease try again or contact Brenvik for help.",
               kSettingsErrorCaption);
    FailNotice(s, failed, kSettingsErrorCaption);
  } else if (restored == kErrSettingsFileDenied || restored == kErrSettingsFileHandle) {
    FailNotice(s,
               "The " + s.Caption() + " failed to read the settings file for your " + s.Name() +
                   ".\n\nPlease try again or contact Brenvik for help." +
                   "\n\nError: " + std::to_string(restored),
               kSettingsErrorCaption);
  } else if (restored == kErrPartialSettings) {
    FailNotice(s,
               "The " + s.Caption() + " failed to restore some of the settings for your " +
                   s.Name() + ".\n\nPlease check the settings after this updater is finished.",
               kSettingsErrorCaption);
  } else {
    FailNotice(s, failed, kSettingsErrorCaption);
  }
}
} // namespace

Result RunInstrumentUpdate(UpdateSession& s) {
  UpdateFrontEnd& front = s.Front();
  RunOptions& options = s.Options();
  Zuro_protocol& service = s.Service();
  ZuroBSLHost& host = s.Host();
  DeviceKindEntry& entry = s.instrumentEntry;

  // Stage 1: connect to the instrument's running firmware.
  const Result connected = service.ZPConnect(options.commPortName, Zuro_protocol::kConnectBaudIndex,
                                             Zuro_protocol::kConnectTries, &entry);
  const bool loaderActive = connected == kErrBootLoaderActive || connected == kErrBootLoaderWaiting;
  if (connected < 0 && !loaderActive) {
    FailNotice(s, ConnectFailureText(s, connected), kConnectionError);
    return kErrNoConnection;
  }
  front.StepProgress(kConnectedProgress);

  if (loaderActive) {
    // Stage 2: an earlier run left the instrument in its boot loader; the
    // checks and the save need the firmware, so go straight to the loader.
    FillDeviceKindEntry(s.imageKind, kAnyVersion, &entry);
  } else {
    // Stage 3: identity and version.
    const Result checked = CheckIdentity(s);
    if (checked < 0) {
      return checked;
    }
    // Stage 4: battery.
    if (entry.checkBattery) {
      front.ShowStatus("Checking battery power...");
      std::int32_t percent = -1;
      const Result battery = service.ZPCheckBattery(&percent);
      if (battery > 0 && percent >= 0 && percent < kLowestBatteryPercent) {
        FailNotice(s,
                   std::string("The battery power is too low!\n\n") +
                       "Please replace the batteries before running this updater.",
                   "Batteries Too Low");
        return kErrBatteryLow;
      }
    }
    front.StepProgress(kStageProgressStep);
    // Stage 5: save the settings to the settings file.
    if (entry.saveSettings) {
      front.ShowStatus("Saving settings for this " + s.Name() + "...");
      if (entry.logInFirst) {
        const Result login = service.ZPLogin();
        if (login < 0) {
          FailNotice(s, SettingsRetrieveText(s), kLoginError);
          return login;
        }
      }
      const Result saved = service.ZPSaveInfo(options.settingsFileName);
      if (saved == kErrProtoNoName && SettingsFileLeftByEarlierRun(options.settingsFileName)) {
        // An update cut short after the information memory was erased brings
        // the old firmware back with no settings at all. Its settings live on
        // only in the file the interrupted run left: stopping here would leave
        // the instrument unconfigured for good, so the update goes on and the
        // restore stage takes them from that file.
        s.Log().LogMessage(kLogFailures, s.Caption().c_str(),
                           "Found an uninitialized %s; restoring the settings file left by an "
                           "earlier run: %s",
                           s.Name().c_str(), options.settingsFileName.c_str());
      } else if (saved < 0 && saved != kErrPartialSettings) {
        FailNotice(s, SettingsRetrieveText(s), kSettingsErrorCaption);
        return saved;
      }
    }
  }

  // A stop asked for before the flash is touched ends the run here, with the
  // instrument still running its old firmware.
  if (!options.keepGoing) {
    return kErrStopped;
  }

  // Stage 6: hand the port to the boot-loader host, without logging out.
  service.ZPDisconnect(false);
  front.SetProgress(kHandOverProgress);

  // Stage 7: start the boot loader.
  front.ShowStatus("Starting the firmware loader...");
  const Result loader =
      host.BSLConnect(options.commPortName, entry.bootLoaderBaud, true, kBootLoaderTries);
  if (loader == kErrNoBootLoader) {
    FailNotice(s,
               "This " + s.Name() + " does not have a working firmware loader." +
                   "\n\nPlease contact Brenvik for help.",
               kLoaderErrorCaption);
    return kErrNoBootLoader;
  }
  if (loader < 0) {
    FailNotice(s,
               "The " + s.Caption() + " is unable to connect to the firmware loader in your " +
                   s.Name() + ".\n\nPlease try again.",
               kLoaderErrorCaption);
    return kErrBootLoader;
  }
  front.StepProgress(kStageProgressStep);

  // Stages 8 to 10: erase, upload, and the vectors that restart the instrument.
  Result r = ReprogramDevice(s, entry, 0);
  if (r < 0) {
    return r;
  }
  host.BSLDisconnect();
  s.SequenceDelay(entry.restartWaitMs);
  front.SetProgress(kRestartedProgress);
  front.PumpEvents();

  // Stage 11: reconnect to the new firmware.
  Result reconnected = kErrNoConnection;
  for (std::uint32_t attempt = 0; attempt < kReconnectTries; ++attempt) {
    reconnected = service.ZPConnect(options.commPortName, Zuro_protocol::kConnectBaudIndex,
                                    Zuro_protocol::kConnectTries, &entry);
    if (reconnected > 0) {
      break;
    }
    s.SequenceDelay(attempt * kReconnectBackOffMs);
  }
  if (reconnected < 0) {
    FailNotice(s, WorkingErrorText(s, reconnected), kConnectionError);
    return reconnected;
  }
  if (entry.logInFirst && service.ZPLogin() < 0) {
    FailNotice(s,
               "This " + s.Caption() + " failed to log into your " + s.Name() +
                   ".\nPlease check the settings on your instrument or contact Brenvik for help.",
               kLoginError);
  }
  front.StepProgress(kStageProgressStep);

  // Stage 12: the new firmware checks itself.
  front.ShowStatus("Checking new firmware...");
  r = service.ZPCheckFirmware(entry.selfTestWithInit);
  if (r < 0) {
    FailNotice(s,
               "The new firmware for your " + s.Name() +
                   " is corrupt!\n\nPlease try again or contact Brenvik.",
               "Firmware Error");
    return r;
  }
  front.StepProgress(kStageProgressStep);

  // Stage 13: settings back.
  front.ShowStatus("Restoring settings...");
  if (entry.saveSettings) {
    RestoreSettings(s);
  }

  // Stage 14: clock; its result does not matter to the update.
  if (entry.setClock) {
    (void)service.ZPSetTime();
  }
  front.StepProgress(kStageProgressStep);

  // Stage 15: the old measurements go, unless the user keeps them.
  if (entry.eraseData && !options.dontEraseData) {
    front.ShowStatus("Erasing old data...");
    r = service.ZPEraseData();
    if (r == kErrDataMemory) {
      FailNotice(s,
                 "The " + s.Caption() + " was unable to erase the data in your " + s.Name() + " " +
                     "because the data storage chip is reporting errors.\n\nPlease contact Brenvik "
                     "for help.",
                 "Data Erase Error");
      return r;
    }
    if (r < 0) {
      FailNotice(s,
                 "The " + s.Caption() + " was unable to erase the data in your " + s.Name() +
                     ".\nPlease try again.\n[Error: " + std::to_string(r) + "]",
                 "Data Erase Error");
      return r;
    }
  }

  // Stage 16: an instrument without a real calibration gets the reminder.
  const std::string& adc = service.InstInfo().adc;
  if (adc.empty() || adc.find(kUncalibratedAdc) != std::string::npos) {
    entry.calibrationReminder = true;
  }
  service.ZPDisconnect(true);
  return kDone;
}

} // namespace zuro
