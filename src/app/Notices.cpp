#include "app/Notices.h"

#include "app/UpdateSession.h"
#include "core/Text.h"

namespace zuro {

namespace {
constexpr const char* kFrmMainModule = "ZuroBSL frmMain";

struct CalibrationReminder {
  int kind;
  const char* caption;
  const char* text;
};

constexpr int kTq8ProKind = 7;
constexpr int kQx20Kind = 8;
constexpr int kStomatrixKind = 9;
} // namespace

std::string VersionText(std::uint32_t hundredths) {
  return StrFormat("%.2f", static_cast<double>(hundredths) / 100.0);
}

std::string CloseGuardText(const std::string& caption, const std::string& name) {
  return "The " + caption + " is updating your " + name +
         "!\nThis process should NOT be interrupted.\n\n" + "Your " + name +
         " may be unusable or have missing settings\n" +
         "until you complete the firmware update process.\n\n" +
         "Click OK to continue updating your" + " " + name + ".\n";
}

bool CloseGuard(UpdateSession& session) {
  RunOptions& options = session.Options();
  if (options.updateRunning &&
      session.Front().ShowOkBox(CloseGuardText(session.Caption(), session.Name()),
                                kCloseGuardCaption)) {
    return false;
  }
  options.keepGoing = false;
  return true;
}

std::string DataEraseWarningText(const std::string& caption, const std::string& name) {
  return "WARNING: The " + caption + " will erase all measurement data\n stored in your " + name +
         ".\n\n Please download any data you want to save before continuing.";
}

void ShowDataEraseWarning(UpdateSession& session) {
  session.Front().ShowNotice(DataEraseWarningText(session.Caption(), session.Name()),
                             kDataEraseWarningCaption, NoticeKind::kWarning);
}

std::string StartupFailureText(const std::string& caption, Result code) {
  if (code == kErrOutOfMemory) {
    return "The " + caption + " ran out of memory while allocating internal buffers.\n\n" +
           "Please restart this application and try again.";
  }
  if (code == kErrDamagedImage) {
    return "The internal firware file for this " + caption + " is corrupt.\n\n" +
           "Please restart this application and try again.";
  }
  return "The " + caption + " got an unexpected error starting up.\n" +
         StrFormat("[Error: %d]", code) + "\n\n" + "Please restart this application and try again.";
}

void ShowStartupFailure(UpdateSession& session) {
  const Result code = session.Host().imageStatus();
  session.Front().ShowNotice(StartupFailureText(session.Caption(), code), kStartupFailureCaption,
                             NoticeKind::kError);
  session.Log().LogMessage(kLogFailures, kFrmMainModule,
                           "HostBSL class got an constructor error (%d)", code);
}

bool ConfirmFirmwareRange(UpdateSession& session, const DeviceKindEntry& entry) {
  if (!entry.versionRangeCheck) {
    return true;
  }
  const std::uint32_t v = entry.version;
  std::string text;
  if (v > entry.highestVersion) {
    text = "The " + session.Caption() + " doesn't support this " + session.Name() +
           "\nrunning version " + VersionText(v) +
           ".\n\nThis updater only works with firmware version " +
           VersionText(entry.highestVersion) + " (or older).";
  } else if (v < entry.lowestVersion) {
    text = "The " + session.Caption() + " doesn't support this " + session.Name() +
           "\nrunning version " + VersionText(v) +
           ".\n\nThis updater only works with firmware version " +
           VersionText(entry.lowestVersion) + " (or newer).";
  } else {
    return true;
  }
  const RunOptions& options = session.Options();
  if (options.repMode || options.factoryMode) {
    text += "\n\nClick OK to force the update anyway.";
    text += "\nClick CANCEL to quit the updater.";
    return session.Front().AskOkCancel(text, kWrongFirmwareVersionCaption);
  }
  session.Front().ShowNotice(text, kWrongFirmwareVersionCaption, NoticeKind::kError);
  return false;
}

void ShowCalibrationReminder(UpdateSession& session, int kind) {
  static const std::string kStomatrixText =
      std::string("Updating the firmware in your Vivu Stomatrix requires you to calibrate\n") +
      "the the sensor head using the Brenvik-supplied calibration plate.\n\n" +
      "Please see the Vivu Stomatrix user manual (version 7 or newer) for\n" +
      "calibration instructions. The latest user manual is available for download from:\n" +
      kSupportLiteratureAddress;
  static const CalibrationReminder kReminders[] = {
      {kTq8ProKind, "TQ8 Pro Calibration",
       "The calibration of your TQ8 Pro is outdated or missing.\n\n"
       "Please contact Brenvik or your authorized Brenvik representative\n"
       "to have your TQ8 Pro calibrated."},
      {kQx20Kind, "Please Calibrate Your QX-20",
       "Updating the firmware in your LumaBar QX-20 requires you to calibrate\n"
       "the internal sensors using the external sensor as a reference.\n\n"
       "Please see your QX-20 user manual for probe calibration instructions.\n\n"
       "Please also reset the Daylight Savings setting in your LumaBar QX-20."},
      {kStomatrixKind, "Please Calibrate Your Stomatrix", kStomatrixText.c_str()},
  };
  for (const CalibrationReminder& reminder : kReminders) {
    if (reminder.kind == kind) {
      session.Front().ShowNotice(reminder.text, reminder.caption, NoticeKind::kWarning);
      return;
    }
  }
}

} // namespace zuro
