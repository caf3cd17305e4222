// The desktop updater's one window: the port choice, Start and Close, the
// status line and progress bar of a running update, the menus with the run
// options, the firmware file commands, Help and About, and the remembered
// options. It is the update's front end: the session it creates at first
// show runs the sequences, which reach the user only through this window.
// An update runs inside the Start timer on the window's own thread, and the
// window pumps its own events whenever the update waits.
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
#include <string_view>
#include <vector>

#include "app/UpdateFrontEnd.h"
#include "app/UpdateSession.h"
#include "serial/CommPortEnum.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace zuro {

class PortSource;
class ZuroSerial;

/// How the window is opened: the build target and the command line, plus
/// what tests replace.
struct TfrmMainOptions {
  UpdateTarget target = Du70Target();
  QStringList arguments;            ///< the command line after the program name
  PortSource* portSource = nullptr; ///< null: the platform's device list
  /// Scales the waits the sequences prescribe; tests against the simulator
  /// shorten them. 1 in the programs.
  double waitScale = 1.0;
};

/// Help's notice has no symbol; the other notices use the kinds of the front end.
constexpr NoticeKind kNoticePlain = static_cast<NoticeKind>(4);

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

// Timer periods, milliseconds.
constexpr int kTimerStartMs = 100;
constexpr int kTimerEraseWarnMs = 500;
constexpr int kTimerConstructorErrorsMs = 100;
constexpr int kWebCheckMs = 500;

/// The client area the window is laid out for, in logical pixels; a larger
/// font may make it grow, never shrink.
constexpr int kClientWidth = 346;
constexpr int kClientHeight = 262;

class TfrmMain : public QDialog, public UpdateFrontEnd {
  Q_OBJECT

public:
  explicit TfrmMain(TfrmMainOptions options, QWidget* parent = nullptr);
  ~TfrmMain() override;

  /// Replaces the file dialogs (tests answer them without a dialog). An
  /// empty path is a cancel.
  void SetFileChooser(std::function<QString(FileChoice)> chooser) {
    fileChooser_ = std::move(chooser);
  }
  /// The version check and the feedback form live with the web services; the
  /// Help menu items stay disabled until they are provided.
  void SetWebCommands(std::function<void(bool silent)> versionCheck,
                      std::function<void()> feedback);

  // --- UpdateFrontEnd ---------------------------------------------------------
  void WaitAndDispatch(std::uint32_t maxWaitMs) override;
  void SetUpdateControls(bool busy) override;
  void SetConnectLabel(const std::string& text) override;
  void PlaySound(NoticeKind kind) override;
  void CheckSensorTypeItem(std::string_view item) override;
  void SetDescription(const std::string& text) override;

  // --- State, for tests and screenshots -----------------------------------------
  UpdateSession* session() const { return session_.get(); }
  bool portRemembered() const { return portRemembered_; }
  int portIndex() const { return portIndex_; }
  /// The outcome of the last update started from this window.
  const UpdateOutcome& lastOutcome() const { return lastOutcome_; }

  // The widgets and menu items by their names.
  QLabel* Image1 = nullptr;
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

public Q_SLOTS:
  void btnStartClick();
  void btnCloseClick();
  void Exit1Click();
  void Help2Click();
  void About1Click();
  void OpenFirmwareFile1Click();
  void DumpFirmwareImage1Click();
  void cbCommPortDropDown();
  void cbCommPortChange(int index);

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  /// Escape clicks Close, as the window's Cancel button, and only when Close
  /// may be clicked.
  void reject() override;

  void PresentStatus(const std::string& text, bool visible) override;
  void PresentProgress(int percent) override;
  void PresentNotice(const std::string& text, const std::string& caption, NoticeKind kind) override;
  bool PresentQuestion(const std::string& text, const std::string& caption) override;
  bool PresentOkBox(const std::string& text, const std::string& caption) override;

private:
  void BuildWidgets();
  void BuildMenus();
  void FormShow();
  void ReadCommandLine();
  void ReadRememberedOptions();
  void FillPortList();
  /// Calls CommPortEnum into the port table and adds the --port entry.
  int EnumeratePorts();
  /// Makes table entry `index` the chosen port.
  void ChoosePort(int index);
  void FormClose();
  void timerStartTimer();
  void timerEraseWarnTimer();
  void timerConstructorErrorsTimer();
  void ShowPortLabel();
  QString ChooseFile(FileChoice choice);
  void ToggleVerboseLog(bool checked);
  void TogglePromptForSerialNumber(bool checked);

  TfrmMainOptions options_;
  bool shown_ = false;
  bool closeAllowed_ = false;
  bool settingsSaved_ = false;
  EventPump* previousPump_ = nullptr;
  std::string givenPort_; ///< --port PATH

  std::array<CommPortInfo, kPortTableSize> portTable_{};
  int portCount_ = 0;
  int portIndex_ = 0;
  bool portRemembered_ = false;

  // The shared objects: the session makes the log, the service object and the
  // host in that order; the port enumerator comes after them.
  std::unique_ptr<UpdateSession> session_;
  std::unique_ptr<ZuroSerial> portEnumerator_;
  UpdateOutcome lastOutcome_;

  std::function<QString(FileChoice)> fileChooser_;
  std::function<void(bool)> versionCheck_;
  std::function<void()> feedback_;
};

} // namespace zuro
