// What the update sequences see of a user interface: a status line, a progress
// bar, modal notices, OK/Cancel questions, the event pump that keeps the
// interface alive during long work, and the run options the user chose. The
// desktop window, the command line and the tests each implement it; the
// sequences talk to nothing else, so all three behave alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/EventPump.h"
#include "log/ZuroLog.h"

namespace zuro {

/// The kind of a notice, which picks its icon and sound.
enum class NoticeKind : int { kWarning = 0, kError = 1, kInformation = 2, kConfirmation = 3 };

/// The log module of every notice line, so a support engineer can find what
/// the user was told.
constexpr const char* kNoticeLogModule = "ErrorOK Told User:";

/// Run flags and shared texts of the updater. All false/empty at program start
/// unless said otherwise; the sequences read each at the stage that uses it,
/// so a change during a run takes effect.
struct RunOptions {
  bool factoryMode = false;         ///< "-factory": overrides for wrong devices and versions
  bool repMode = false;             ///< "-factory" or "-rep": firmware files, no erase warning
  bool findAllPorts = false;        ///< port enumeration also probes the built-in ports
  bool verboseLog = true;           ///< log level 30 instead of 1
  bool replaceSerialNumber = false; ///< the restore stage writes newSerialNumber
  bool dontEraseData = false;       ///< the update leaves the stored measurements alone
  bool sensorTarget = false;        ///< the digital-sensor build target
  bool updateRunning = false;       ///< an update runs: the close guard refuses to quit
  bool keepGoing = true;            ///< false stops the boot-loader host at its next report

  std::string targetName;       ///< display name of the target ("Du70")
  std::string commPortName;     ///< the chosen port (a device path); empty when none
  std::string portDisplayName;  ///< the chosen port as the port list shows it; empty: commPortName
  std::string dataFolder;       ///< folder of the error file and the settings file
  std::string errorFileName;    ///< dataFolder/<caption>.errors.txt
  std::string settingsFileName; ///< dataFolder/<name>.settings.txt, built at each Start
  std::string newSerialNumber;  ///< typed replacement serial number, at most 15 characters

  /// Scales the waits the update sequences themselves prescribe (restart
  /// wait, reconnect back-off, the reader's settling pauses). 1 in every
  /// program; tests against a fast simulator shorten them with it.
  double waitScale = 1.0;
};

/// Most characters of a typed replacement serial number.
constexpr std::size_t kNewSerialNumberMax = 15;

class UpdateFrontEnd : public EventPump {
public:
  static constexpr int kProgressMin = 0;
  static constexpr int kProgressMax = 100;

  UpdateFrontEnd() = default;
  ~UpdateFrontEnd() override = default;
  UpdateFrontEnd(const UpdateFrontEnd&) = delete;
  UpdateFrontEnd& operator=(const UpdateFrontEnd&) = delete;

  RunOptions& Options() { return options_; }
  const RunOptions& Options() const { return options_; }

  /// The log that notices are written to (may be null: no lines).
  void SetLog(ZuroLog* log) { log_ = log; }
  ZuroLog* Log() const { return log_; }

  // ---- Status line and progress bar ----

  /// Shows `text` in the status line, then repaints and dispatches pending events.
  void ShowStatus(const std::string& text);
  void HideStatus();
  const std::string& StatusText() const { return status_; }

  /// Sets the bar, kept within 0..100.
  void SetProgress(int percent);
  /// Moves the bar by `step`, kept within 0..100.
  void StepProgress(int step) { SetProgress(progress_ + step); }
  int Progress() const { return progress_; }

  // ---- Notices and questions ----

  /// The one modal notice with an OK button; returns when the user has read
  /// it, then writes the text to the log at level 1 under kNoticeLogModule.
  void ShowNotice(const std::string& text, const std::string& caption, NoticeKind kind);
  /// An OK/Cancel question with the exclamation icon; true for OK. Not logged.
  bool AskOkCancel(const std::string& text, const std::string& caption) {
    return PresentQuestion(text, caption);
  }
  /// A message box with the exclamation icon and only an OK button, not
  /// logged; true when it was closed with OK.
  bool ShowOkBox(const std::string& text, const std::string& caption) {
    return PresentOkBox(text, caption);
  }

  // ---- Window state around a run (widgets; the command line ignores most) ----

  /// Start, Close, "&Update Firmware" and the port list off (busy) or on.
  virtual void SetUpdateControls(bool busy) { (void)busy; }
  /// The connection hint under the port list.
  virtual void SetConnectLabel(const std::string& text) { (void)text; }
  /// The system sound of a notice kind.
  virtual void PlaySound(NoticeKind kind) { (void)kind; }
  /// The sensor-type menu: `item` is checked, all others cleared (empty: none).
  virtual void CheckSensorTypeItem(std::string_view item) { (void)item; }
  /// The description line above the image name.
  virtual void SetDescription(const std::string& text) { (void)text; }

  /// Repaints and dispatches every pending event without waiting.
  void PumpEvents() { WaitAndDispatch(0); }

protected:
  virtual void PresentStatus(const std::string& text, bool visible) = 0;
  virtual void PresentProgress(int percent) = 0;
  virtual void PresentNotice(const std::string& text, const std::string& caption,
                             NoticeKind kind) = 0;
  virtual bool PresentQuestion(const std::string& text, const std::string& caption) = 0;
  /// Default: the text as a warning notice, answered OK.
  virtual bool PresentOkBox(const std::string& text, const std::string& caption);

private:
  RunOptions options_;
  ZuroLog* log_ = nullptr;
  std::string status_;
  int progress_ = 0;
};

/// Installs a front end as the event pump for the life of the guard, so every
/// DelayMs of the lower layers keeps it alive, and puts the previous pump back.
class PumpGuard {
public:
  explicit PumpGuard(EventPump& pump) : previous_(InstallEventPump(&pump)) {}
  ~PumpGuard() { InstallEventPump(previous_); }
  PumpGuard(const PumpGuard&) = delete;
  PumpGuard& operator=(const PumpGuard&) = delete;

private:
  EventPump* previous_;
};

} // namespace zuro
