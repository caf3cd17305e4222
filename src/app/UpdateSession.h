// The updater's shared objects and the state its update sequences keep: the
// log, the instrument service object, the boot-loader host with its image,
// the entry of the connected instrument and the progress figures. A front end
// owns one session for the life of the program; the session's start-up fixes
// the target's names and files, and StartUpdate runs one whole update the way
// the window's Start does, everything but the widgets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/UpdateFrontEnd.h"
#include "bsl/BuiltInImage.h"
#include "bsl/ZuroBSLHost.h"
#include "core/ResultCodes.h"
#include "log/ZuroLog.h"
#include "protocol/DeviceSettingsRecord.h"
#include "service/DeviceKinds.h"
#include "service/Zuro_protocol.h"

namespace zuro {

/// What the updater is built for: one instrument kind, or the digital sensor
/// behind the hand-held reader.
struct UpdateTarget {
  bool sensorTarget = false;
  int kind = 3;                               ///< device kind of the instrument target
  const BuiltInImage* image = &kBuiltInImage; ///< the image compiled in for the target
  std::uint32_t firmwareVersion = 230;        ///< version of that image, in hundredths
};

/// The Du70 instrument target with its built-in Du70 2.30 image.
UpdateTarget Du70Target();
/// The digital-sensor target with the sensor's built-in image.
UpdateTarget SensorTarget();

/// Progress of the built-in instrument image: bar percent per write report.
constexpr float kBuiltInWriteProgressStep = 0.3105376F;
/// A loaded or sensor image spreads this many bar-percent-characters over its
/// text (one write report per 512 characters moves the bar 35328 / length).
constexpr float kWriteProgressSpan = 35328.0F;
constexpr int kEraseProgressStep = 1;
constexpr float kUploadProgressStart = 21.0F;

/// The result code a sequence returns and a front end shows at the end.
struct UpdateOutcome {
  Result result = kOk;
  std::uint32_t elapsedSeconds = 0;
};

class UpdateSession {
public:
  static constexpr const char* kVersionFinderDu70 = "/versionfinder/Du70-Firmware.html";

  /// Start-up of the updater: fixes the target's names, chooses the data
  /// folder (created when missing) and the error file, and creates the log,
  /// the service object and the host, in that order. `dataFolder` empty means
  /// DefaultDataFolder(). The front end's options must already hold the
  /// command-line flags.
  UpdateSession(UpdateFrontEnd& frontEnd, const UpdateTarget& target,
                const std::string& dataFolder = {});
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  UpdateFrontEnd& Front() { return front_; }
  RunOptions& Options() { return front_.Options(); }
  ZuroLog& Log() { return *log_; }
  Zuro_protocol& Service() { return *service_; }
  ZuroBSLHost& Host() { return *host_; }
  const UpdateTarget& Target() const { return target_; }

  /// *name* + " Firmware Updater": the window caption in every composed text.
  std::string Caption() const;
  const std::string& Name() const { return front_.Options().targetName; }
  /// The port as the user sees it in texts.
  const std::string& PortText() const;

  /// Whether the data-erase warning is due at start-up: the target kind warns
  /// and neither "-rep" nor "-factory" was given.
  bool WantsDataEraseWarning() const;

  /// Loads a TI-TXT file in place of the image and retargets the updater to
  /// the kind its name names (the Du70 when none). On failure the "File
  /// Error" notice is shown and the image stays; the host's result either way.
  Result UseFirmwareFile(const std::string& path);

  /// The boot-loader host's progress callback: 'X' steps the bar by the erase
  /// step, 'W' adds the write step; then the front end runs its events.
  /// Returns keepGoing.
  bool ReportProgress(std::uint32_t total, std::uint32_t done, int phase, char letter);

  /// The run frame of Start: prepares the run, runs the target's sequence,
  /// cleans up after a failure or reports the success, and leaves the
  /// updater ready for the next Start.
  UpdateOutcome StartUpdate();

  /// DelayMs of a wait the sequences prescribe, scaled by the run option.
  void SequenceDelay(std::uint32_t ms);

  // State of the sequences (read by the front ends and the tests).
  DeviceKindEntry instrumentEntry;
  /// Kind of the image the host holds; a file that names no kind counts as
  /// the target's own, so a Du70 file called "firmware.txt" still updates a Du70.
  int imageKind = kUnknownDeviceKind;
  std::uint32_t builtInFirmwareVersion = 0;
  int eraseProgressStep = kEraseProgressStep;
  float writeProgressStep = kBuiltInWriteProgressStep;
  float writeProgress = 0.0F;
  std::int32_t sensorTypeCode = 0;
  std::string versionFinderPath;
  bool settingsSkipped = false;
  /// The two short names of the connection labels.
  std::string portLabelName;
  std::string connectLabelName;

private:
  UpdateFrontEnd& front_;
  UpdateTarget target_;
  std::unique_ptr<ZuroLog> log_;
  std::unique_ptr<Zuro_protocol> service_;
  std::unique_ptr<ZuroBSLHost> host_;
};

/// The per-user data folder: $XDG_DATA_HOME, else ~/.local/share, + "/Brenvik/ZuroBSL".
/// Empty when neither that variable nor HOME is set.
std::string DefaultDataFolder();

} // namespace zuro
