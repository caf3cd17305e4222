#include "app/UpdateSession.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/Notices.h"
#include "app/SensorImage.h"
#include "app/UpdateSequences.h"
#include "core/Text.h"
#include "core/Time.h"

namespace zuro {

namespace {
constexpr const char* kDataSubFolder = "/Brenvik/ZuroBSL";
constexpr const char* kCaptionSuffix = " Firmware Updater";
constexpr const char* kErrorFileSuffix = ".errors.txt";
constexpr const char* kSettingsFileSuffix = ".settings.txt";
constexpr const char* kFileErrorCaption = "File Error";
constexpr const char* kHostModule = "ZuroBSL Host";
constexpr std::int32_t kStartupSensorType = 123; ///< the sensor target starts for the SKYRA 14
constexpr const char* kReaderPortLabel = "Vantorix and Digital Sensor";
constexpr const char* kReaderConnectLabel = "Vantorix";
/// Ends the reader's transparent and SDI-12 modes after a failed sensor run.
constexpr char kReaderCommandModeChar = '`';
constexpr std::uint32_t kMsPerSecond = 1000;

/// The folder of the program file, where the desktop program also falls back.
std::string ProgramFolder() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : exe.parent_path().string();
}

std::string FileNameOnly(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}
} // namespace

UpdateTarget Du70Target() {
  return UpdateTarget{};
}

UpdateTarget SensorTarget() {
  UpdateTarget target;
  target.sensorTarget = true;
  target.kind = kSensorImageKind;
  target.image = &kBuiltInSensorImage;
  target.firmwareVersion = kSensorImageVersion;
  return target;
}

std::string DefaultDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    return std::string(xdg) + kDataSubFolder;
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    return std::string(home) + "/.local/share" + kDataSubFolder;
  }
  return {};
}

UpdateSession::UpdateSession(UpdateFrontEnd& frontEnd, const UpdateTarget& target,
                             const std::string& dataFolder)
    : front_(frontEnd), target_(target) {
  RunOptions& options = front_.Options();
  versionFinderPath = kVersionFinderDu70;
  options.targetName = std::string(DeviceKindDisplayName(target.kind));
  portLabelName = options.targetName;
  connectLabelName = options.targetName;
  options.sensorTarget = target.sensorTarget;
  if (target.sensorTarget) {
    SelectSensorType(*this, kStartupSensorType);
    portLabelName = kReaderPortLabel;
    connectLabelName = kReaderConnectLabel;
  }
  options.verboseLog = true;

  std::string folder = dataFolder.empty() ? DefaultDataFolder() : dataFolder;
  std::error_code error;
  if (!folder.empty()) {
    std::filesystem::create_directories(folder, error);
  }
  if (folder.empty() || error || !std::filesystem::is_directory(folder, error)) {
    folder = ProgramFolder();
  }
  options.dataFolder = folder;
  options.errorFileName = folder + "/" + Caption() + kErrorFileSuffix;
  options.settingsFileName = folder + "/" + Name() + kSettingsFileSuffix;

  log_ = std::make_unique<ZuroLog>(options.errorFileName.c_str(),
                                   options.verboseLog ? kLogDetails : kLogFailures, false);
  front_.SetLog(log_.get());
  service_ = std::make_unique<Zuro_protocol>(log_.get());
  host_ = std::make_unique<ZuroBSLHost>(log_.get(), *target.image);
  host_->SetReportProgress([this](std::uint32_t total, std::uint32_t done, int phase, char letter) {
    return ReportProgress(total, done, phase, letter);
  });

  imageKind = host_->imageKind();
  builtInFirmwareVersion = target.firmwareVersion;
  eraseProgressStep = kEraseProgressStep;
  writeProgressStep = target.sensorTarget && host_->imageTextLength() > 0
                          ? kWriteProgressSpan / static_cast<float>(host_->imageTextLength())
                          : kBuiltInWriteProgressStep;
  front_.SetDescription("This utility updates " + Name() + " firmware to");
  front_.SetConnectLabel("Connect " + connectLabelName + " to computer comm port.");
}

UpdateSession::~UpdateSession() {
  front_.SetLog(nullptr);
}

std::string UpdateSession::Caption() const {
  return Name() + kCaptionSuffix;
}

const std::string& UpdateSession::PortText() const {
  const RunOptions& options = front_.Options();
  return options.portDisplayName.empty() ? options.commPortName : options.portDisplayName;
}

bool UpdateSession::WantsDataEraseWarning() const {
  const RunOptions& options = front_.Options();
  return DeviceKindEraseWarning(target_.kind) && !options.repMode && !options.factoryMode;
}

Result UpdateSession::UseFirmwareFile(const std::string& path) {
  const Result loaded = host_->BSLLoadTIFile(path);
  if (loaded < 0) {
    const std::string file = FileNameOnly(path);
    std::string text;
    if (loaded == kErrNotTiTxt) {
      text = "The file \"" + file + "\" is not a valid firmware file.\n" +
             "Please choose a new firmware file to open.";
    } else if (loaded == kErrOutOfMemory) {
      text = "The " + Caption() + " ran out of memory opening \"" + file + "\".\n" +
             "Please restart this application and try again.";
    } else {
      text = "The " + Caption() + " could not opening \"" + file + "\".\n" +
             "Please try again.\nError " + std::to_string(loaded);
    }
    front_.ShowNotice(text, kFileErrorCaption, NoticeKind::kError);
    return loaded;
  }
  RunOptions& options = front_.Options();
  // A file whose name names no kind is meant for this updater's own target;
  // the update then compares the instrument with that kind, not with "none".
  imageKind = host_->imageKind() != kUnknownDeviceKind ? host_->imageKind() : target_.kind;
  if (!target_.sensorTarget) {
    options.targetName = std::string(DeviceKindDisplayName(imageKind));
    portLabelName = options.targetName;
    connectLabelName = options.targetName;
  }
  front_.SetDescription("This utility updates " + Name() + " firmware to");
  front_.SetConnectLabel("Connect " + connectLabelName + " to computer comm port.");
  builtInFirmwareVersion = static_cast<std::uint32_t>(host_->imageVersion());
  options.settingsFileName = options.dataFolder + "/" + Name() + kSettingsFileSuffix;
  eraseProgressStep = kEraseProgressStep;
  writeProgressStep = host_->imageTextLength() > 0
                          ? kWriteProgressSpan / static_cast<float>(host_->imageTextLength())
                          : kBuiltInWriteProgressStep;
  front_.PlaySound(NoticeKind::kInformation);
  return loaded;
}

bool UpdateSession::ReportProgress(std::uint32_t total, std::uint32_t done, int phase,
                                   char letter) {
  (void)total;
  (void)done;
  (void)phase;
  if (letter == 'X') {
    front_.StepProgress(eraseProgressStep);
  } else if (letter == 'W') {
    writeProgress += writeProgressStep;
    // The bar shows the integer part of the figure plus one half; the
    // figure is never negative, so this rounds half up.
    front_.SetProgress(
        static_cast<int>(writeProgress + 0.5F)); // NOLINT(bugprone-incorrect-roundings)
  }
  front_.PumpEvents();
  return front_.Options().keepGoing;
}

void UpdateSession::SequenceDelay(std::uint32_t ms) {
  const double scaled = std::floor(static_cast<double>(ms) * front_.Options().waitScale);
  DelayMs(scaled <= 0.0 ? 0U : static_cast<std::uint32_t>(scaled));
}

UpdateOutcome UpdateSession::StartUpdate() {
  RunOptions& options = front_.Options();
  PumpGuard pump(front_);
  front_.SetUpdateControls(true);
  options.updateRunning = true;
  options.keepGoing = true;
  front_.SetProgress(0);
  front_.SetConnectLabel("Do NOT disconnect " + Name() + " until finished.");
  options.settingsFileName = options.dataFolder + "/" + Name() + kSettingsFileSuffix;
  service_->ClearRun();
  instrumentEntry = DeviceKindEntry{};
  settingsSkipped = false;
  front_.ShowStatus("Connecting to " + Name() + "...");

  const std::uint32_t start = TickMs();
  UpdateOutcome outcome;
  outcome.result = options.sensorTarget ? RunSensorUpdate(*this) : RunInstrumentUpdate(*this);

  if (outcome.result < 0) {
    front_.HideStatus();
    front_.SetProgress(0);
    if (options.sensorTarget) {
      const char commandMode = kReaderCommandModeChar;
      (void)service_->Protocol().ZSWrite(std::string_view(&commandMode, 1));
      host_->BSLHandBack();
    } else {
      host_->BSLDisconnect();
    }
    service_->ZPDisconnect(false);
    front_.SetConnectLabel("Connect " + Name() + " to computer comm port.");
  } else {
    outcome.elapsedSeconds = ElapsedMs(start) / kMsPerSecond;
    if (instrumentEntry.calibrationReminder) {
      ShowCalibrationReminder(*this, instrumentEntry.kind);
    }
    front_.SetProgress(UpdateFrontEnd::kProgressMax);
    front_.ShowStatus("Successfully updated firmware in " + std::to_string(outcome.elapsedSeconds) +
                      " seconds.");
    front_.PlaySound(NoticeKind::kInformation);
    front_.PumpEvents();
    log_->LogMessage(kLogFailures, kHostModule, "Finished updating device in %d seconds",
                     static_cast<int>(outcome.elapsedSeconds));
    (void)std::remove(options.settingsFileName.c_str());
    front_.SetConnectLabel("You may disconnect your " + Name() + " now.");
  }

  options.replaceSerialNumber = false;
  options.newSerialNumber.clear();
  front_.SetUpdateControls(false);
  options.updateRunning = false;
  return outcome;
}

} // namespace zuro
