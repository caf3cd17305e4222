// The desktop updater's one window: the port choice, Start and Close, the
// status line and progress bar of a running update, the menus with the run
// options, the firmware file commands, Help and About, and the remembered
// options. It creates the shared objects at first show and keeps them for
// the whole run; an update runs inside its Start timer on the window's own
// thread, kept alive by the event pump it installs.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/GuiTarget.h"
#include "gui/QtEventPump.h"
#include "serial/CommPortEnum.h"

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;

namespace zuro {

struct BuiltInImage;
class PortSource;
class ZuroBSLHost;
class ZuroLog;
class ZuroSerial;

/// How the window is opened: the build target and the command line, plus
/// what tests replace (the device list, the built-in image).
struct TfrmMainOptions {
  GuiTarget target = kDu70Target;
  QStringList arguments;               ///< the command line after the program name
  PortSource* portSource = nullptr;    ///< null: the platform's device list
  const BuiltInImage* image = nullptr; ///< null: the build's built-in image
};

/// Notice kinds of ShowNotice; 4 is a plain box without a symbol (Help).
enum NoticeKind : int {
  kNoticeWarning = 0,
  kNoticeError = 1,
  kNoticeInformation = 2,
  kNoticeConfirmation = 3,
  kNoticePlain = 4,
};

/// Which file a firmware command asks the user for.
enum class FileChoice { kOpenFirmware, kSaveImage };

// Remembered options: QSettings under the maker's name; on Windows that is
// the registry key Software\Brenvik Devices, Inc\ZuroBSL.
constexpr const char* kSettingsOrganisation = "Brenvik Devices, Inc";
constexpr const char* kSettingsApplication = "ZuroBSL";
constexpr const char* kSettingFindAllComms = "FindAllComms";
constexpr const char* kSettingVerboseLog = "VerboseLog";
constexpr const char* kSettingCommPort = "CommPort";

constexpr const char* kFactoryArgument = "-factory";
constexpr const char* kRepArgument = "-rep";
constexpr const char* kPortArgument = "--port"; ///< a port the device list cannot see

constexpr int kPortTableSize = 16;
constexpr const char* kNoPortsText = "No Comm Ports Found";
constexpr const char* kNoticeLogModule = "ErrorOK Told User:";

// Timer periods, milliseconds.
constexpr int kTimerStartMs = 100;
constexpr int kTimerEraseWarnMs = 500;
constexpr int kTimerConstructorErrorsMs = 100;
constexpr int kWebCheckMs = 500;

/// The client area the window is laid out for, in logical pixels; a larger
/// font may make it grow, never shrink.
constexpr int kClientWidth = 346;
constexpr int kClientHeight = 262;
constexpr int kNewSerialMaxChars = 15;
constexpr int kStatusBarStep = 2;

// Progress constants of the built-in image.
constexpr std::uint32_t kBuiltInFirmwareVersion = 230;
constexpr int kEraseProgressStep = 1;
constexpr float kBuiltInWriteProgressStep = 0.3105376f;
constexpr float kWriteProgressBase = 35328.0f; ///< over the image text length: the write step
constexpr int kDigitalSensorStartType = 123;

class TfrmMain : public QDialog {
  Q_OBJECT

public:
  explicit TfrmMain(TfrmMainOptions options, QWidget* parent = nullptr);
  ~TfrmMain() override;

  /// The application's one modal notice with an OK button, logged at level 1.
  void ShowNotice(const std::string& text, const std::string& caption, int kind);
  /// An OK/Cancel question with the exclamation symbol; true for OK. Not logged.
  bool AskOkCancel(const std::string& text, const std::string& caption);

  /// Replaces the file dialogs (tests answer them without a dialog). An
  /// empty path is a cancel.
  void SetFileChooser(std::function<QString(FileChoice)> chooser) {
    fileChooser_ = std::move(chooser);
  }
  /// The version check and the feedback form live with the web services; the
  /// Help menu items stay disabled until they are provided.
  void SetWebCommands(std::function<void(bool silent)> versionCheck,
                      std::function<void()> feedback);

  // --- State, for the update front end and for tests -----------------------
  bool factoryMode() const { return factoryMode_; }
  bool repMode() const { return repMode_; }
  bool findAllPorts() const { return findAllPorts_; }
  bool verboseLog() const { return verboseLog_; }
  bool dontEraseData() const { return dontEraseData_; }
  bool replaceSerialNumber() const { return replaceSerialNumber_; }
  bool sensorTarget() const { return sensorTarget_; }
  bool updateRunning() const { return updateRunning_; }
  bool keepGoing() const { return keepGoing_; }
  bool portRemembered() const { return portRemembered_; }
  const std::string& targetName() const { return targetName_; }
  const std::string& commPortName() const { return commPortName_; }
  const std::string& dataFolder() const { return dataFolder_; }
  const std::string& errorFileName() const { return errorFileName_; }
  const std::string& settingsFileName() const { return settingsFileName_; }
  const std::string& versionFinderPath() const { return versionFinderPath_; }
  std::int32_t sensorTypeCode() const { return sensorTypeCode_; }
  std::uint32_t firmwareVersion() const { return firmwareVersion_; }
  float writeProgressStep() const { return writeProgressStep_; }
  int portIndex() const { return portIndex_; }
  std::string caption() const { return targetName_ + " Firmware Updater"; }
  ZuroLog* log() const { return log_.get(); }
  ZuroBSLHost* host() const { return host_.get(); }

  // The widgets and menu items by their names, for tests and screenshots.
  QLabel* userText1 = nullptr;
  QLabel* userText2 = nullptr;
  QLabel* lblConnect = nullptr;
  QLabel* commLabel = nullptr;
  QComboBox* cbCommPort = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* statusText = nullptr;
  QProgressBar* statusBar = nullptr;
  QLabel* newSN = nullptr;
  QLineEdit* newSNstr = nullptr;
  QPushButton* btnClose = nullptr;
  QPushButton* btnStart = nullptr;
  QLabel* Image1 = nullptr;

  QAction* OpenFirmwareFile1 = nullptr;
  QAction* UpdateFirmware1 = nullptr;
  QAction* DumpFirmwareImage1 = nullptr;
  QAction* Exit1 = nullptr;
  QAction* VerboseErrorFile1 = nullptr;
  QAction* ForceFindAllCommPorts1 = nullptr;
  QAction* DontEraseData1 = nullptr;
  QAction* PromptforSerialNumber1 = nullptr;
  QAction* SensorTypeSeparator = nullptr;
  QAction* SetDigitalSensorTo1 = nullptr;
  std::vector<QAction*> sensorTypeItems;
  QAction* Help2 = nullptr;
  QAction* SendFeedback1 = nullptr;
  QAction* CheckNewerVersion1 = nullptr;
  QAction* About1 = nullptr;

  QTimer timerStart;
  QTimer timerEraseWarn;
  QTimer timerConstructorErrors;
  QTimer tWebCheck;

public slots:
  void btnStartClick();
  void btnCloseClick();
  void Exit1Click();
  void Help2Click();
  void About1Click();
  void OpenFirmwareFile1Click();
  void DumpFirmwareImage1Click();
  void cbCommPortDropDown();
  void cbCommPortChange(int index);
  void SelectSensorType(std::int32_t code);

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  /// Escape clicks Close, as the window's Cancel button, and only when Close
  /// may be clicked.
  void reject() override;

private:
  void BuildWidgets();
  void BuildMenus();
  void FormShow();
  void ReadCommandLine();
  void ReadRememberedOptions();
  void ChooseDataFolder();
  void CreateSharedObjects();
  void FillPortList();
  /// Calls CommPortEnum into the port table and adds the --port entry.
  int EnumeratePorts();
  void FormClose();
  /// Returns true when the window may close now.
  bool CloseGuard();
  void ApplyTargetTexts();
  QString ChooseFile(FileChoice choice);
  void ToggleVerboseLog(bool checked);
  void TogglePromptForSerialNumber(bool checked);

  TfrmMainOptions options_;
  QtEventPump pump_;
  bool shown_ = false;
  bool closeAllowed_ = false;
  bool settingsSaved_ = false;

  // Run flags.
  bool factoryMode_ = false;
  bool repMode_ = false;
  bool findAllPorts_ = false;
  bool verboseLog_ = true;
  bool replaceSerialNumber_ = false;
  bool dontEraseData_ = false;
  bool sensorTarget_ = false;
  bool updateRunning_ = false;
  bool keepGoing_ = true;

  // Shared texts.
  std::string targetName_;
  std::string firstShortName_;
  std::string secondShortName_;
  std::string commPortName_;
  std::string dataFolder_;
  std::string errorFileName_;
  std::string settingsFileName_;
  std::string versionFinderPath_;
  std::string givenPort_; ///< --port PATH
  std::int32_t sensorTypeCode_ = 0;

  // Progress constants of the image in force.
  std::uint32_t firmwareVersion_ = kBuiltInFirmwareVersion;
  int eraseProgressStep_ = kEraseProgressStep;
  float writeProgressStep_ = kBuiltInWriteProgressStep;

  // Port choice.
  std::array<CommPortInfo, kPortTableSize> portTable_{};
  int portCount_ = 0;
  int portIndex_ = 0;
  bool portRemembered_ = false;

  // The shared objects, in the order they are made.
  std::unique_ptr<ZuroLog> log_;
  std::unique_ptr<ZuroBSLHost> host_;
  std::unique_ptr<ZuroSerial> portEnumerator_;

  std::function<QString(FileChoice)> fileChooser_;
  std::function<void(bool)> versionCheck_;
  std::function<void()> feedback_;
};

} // namespace zuro
