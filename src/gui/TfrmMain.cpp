#include "gui/TfrmMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QVBoxLayout>
#include <limits>

#include "app/Notices.h"
#include "app/UpdateSequences.h"
#include "bsl/ZuroBSLHost.h"
#include "core/ResultCodes.h"
#include "gui/HelpAbout.h"
#include "gui/InstrumentIcon.h"
#include "log/ZuroLog.h"
#include "serial/ZuroSerial.h"
#include "service/DeviceKinds.h"

namespace zuro {

namespace {

constexpr int kImageSize = 48;        ///< the instrument picture, logical pixels
constexpr int kPortListMinChars = 28; ///< the port list keeps its width for long names
constexpr const char* kStartHint = "Pick your comm port from this list.";

// Firmware file dialogs.
constexpr const char* kOpenDialogTitle = "Please select a firmware file";
constexpr const char* kOpenDialogFilter = "Firmware File (*.txt);;Any File (*)";
constexpr const char* kSaveDialogTitle = "Save Firmware Image";
constexpr const char* kFirmwareSuffix = "txt";
constexpr const char* kDumpErrorCaption = "Error";

/// One item of the factory sensor-type menu: its text, the code it selects
/// and whether the factory menu offers it.
struct SensorTypeItem {
  const char* text;
  std::int32_t code;
  bool offered;
};

constexpr std::array<SensorTypeItem, 17> kSensorTypeItems{{
    {"K4E", 122, true},
    {"K4M", 120, true},
    {"JR3", 119, true},
    {"PD3", 118, true},
    {"WPT-2 && WPT-6", 261, true},
    {"P7DG", 117, true},
    {"WLX Family", 262, true},
    {"QM-4", 113, true},
    {"QM-4F", 109, true},
    {"HT-5", 112, true},
    {"HT-6", 102, false},
    {"NVX Family", 260, true},
    {"WV-8", 95, false},
    {"PLU-3", 94, true},
    {"SKYRA 22", 92, false},
    {"SKYRA 41", 93, true},
    {"BALVO 1x Family", 264, true},
}};

/// The port list refreshes itself each time the user opens it.
class PortComboBox : public QComboBox {
public:
  using QComboBox::QComboBox;
  std::function<void()> beforePopup;
  void showPopup() override {
    if (beforePopup) {
      beforePopup();
    }
    QComboBox::showPopup();
  }
};

QLabel* BoldLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

void KeepSpaceWhenHidden(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

} // namespace

TfrmMain::TfrmMain(TfrmMainOptions options, QWidget* parent)
    : QDialog(parent), options_(std::move(options)) {
  // A dialog-like window: title, system menu and close box, nothing to
  // minimise or maximise, and a size that does not change.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(InstrumentIcon());
  Options().waitScale = options_.waitScale;
  BuildWidgets();
  BuildMenus();

  timerStart.setInterval(kTimerStartMs);
  timerEraseWarn.setInterval(kTimerEraseWarnMs);
  timerConstructorErrors.setInterval(kTimerConstructorErrorsMs);
  tWebCheck.setInterval(kWebCheckMs);
  connect(&timerStart, &QTimer::timeout, this, &TfrmMain::timerStartTimer);
  connect(&timerEraseWarn, &QTimer::timeout, this, &TfrmMain::timerEraseWarnTimer);
  connect(&timerConstructorErrors, &QTimer::timeout, this, &TfrmMain::timerConstructorErrorsTimer);
  connect(&tWebCheck, &QTimer::timeout, this, [this] {
    tWebCheck.stop();
    if (versionCheck_) {
      versionCheck_(true);
    }
  });
}

TfrmMain::~TfrmMain() {
  if (InstalledEventPump() == this) {
    InstallEventPump(previousPump_);
  }
}

void TfrmMain::BuildWidgets() {
  Image1 = new QLabel(this);
  Image1->setFixedSize(kImageSize, kImageSize);
  Image1->setPixmap(InstrumentPixmap(kImageSize, devicePixelRatioF()));

  userText1 = new QLabel("This utility updates instrument firmware to", this);
  userText2 = BoldLabel("Instrument x.yy", this);
  userText2->setWordWrap(true);
  lblConnect = BoldLabel("Connect instrument to computer comm port.", this);
  lblConnect->setWordWrap(true);
  commLabel = new QLabel("Use computer comm port:", this);

  auto* combo = new PortComboBox(this);
  combo->beforePopup = [this] { cbCommPortDropDown(); };
  cbCommPort = combo;
  cbCommPort->setEditable(false);
  QFont comboFont = cbCommPort->font();
  comboFont.setBold(true);
  cbCommPort->setFont(comboFont);
  cbCommPort->setToolTip(kStartHint);
  cbCommPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cbCommPort->setMinimumContentsLength(kPortListMinChars);
  cbCommPort->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  commLabel->setBuddy(cbCommPort);
  connect(cbCommPort, &QComboBox::activated, this, &TfrmMain::cbCommPortChange);

  Label1 = BoldLabel("Status:", this);
  statusText = new QLabel(this);
  statusText->setObjectName("statusText");
  // The status line has the window's whole width, so the longest stage and
  // the success text with its seconds fit without cutting.
  // The line is empty until the first run; its height is kept from the start
  // so the fixed-size window does not squeeze when the first text arrives.
  statusText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  statusText->setText(" ");
  statusText->setVisible(false);
  KeepSpaceWhenHidden(statusText);

  statusBar = new QProgressBar(this);
  statusBar->setRange(0, 100);
  statusBar->setValue(0);
  statusBar->setTextVisible(false);

  newSN = new QLabel("New Serial Number", this);
  newSNstr = new QLineEdit(this);
  newSNstr->setMaxLength(static_cast<int>(kNewSerialNumberMax));
  connect(newSNstr, &QLineEdit::textChanged, this,
          [this](const QString& text) { Options().newSerialNumber = text.toStdString(); });
  newSN->setBuddy(newSNstr);
  for (QWidget* w : {static_cast<QWidget*>(newSN), static_cast<QWidget*>(newSNstr)}) {
    w->setVisible(false);
    KeepSpaceWhenHidden(w);
  }

  btnStart = new QPushButton("Start", this);
  btnClose = new QPushButton("Close", this);
  btnStart->setDefault(true);
  btnStart->setAutoDefault(true);
  btnClose->setAutoDefault(true);
  connect(btnStart, &QPushButton::clicked, this, &TfrmMain::btnStartClick);
  connect(btnClose, &QPushButton::clicked, this, &TfrmMain::btnCloseClick);

  // Top to bottom: picture and image name, the connect line, the port list,
  // the status line and bar, the new serial number, the buttons.
  auto* top = new QVBoxLayout(this);
  auto* head = new QHBoxLayout;
  head->addWidget(Image1, 0, Qt::AlignTop);
  auto* headText = new QVBoxLayout;
  headText->addWidget(userText1);
  headText->addWidget(userText2);
  headText->addStretch(1);
  head->addLayout(headText, 1);
  top->addLayout(head);
  top->addSpacing(4);
  top->addWidget(lblConnect);
  top->addSpacing(4);
  top->addWidget(commLabel);
  top->addWidget(cbCommPort);
  top->addSpacing(6);
  top->addWidget(Label1);
  top->addWidget(statusText);
  top->addWidget(statusBar);
  auto* serial = new QHBoxLayout;
  serial->addWidget(newSN);
  serial->addWidget(newSNstr, 1);
  top->addLayout(serial);
  top->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnStart);
  buttons->addWidget(btnClose);
  top->addLayout(buttons);
}

void TfrmMain::BuildMenus() {
  auto* bar = new QMenuBar(this);
  layout()->setMenuBar(bar);

  QMenu* file = bar->addMenu("&File");
  OpenFirmwareFile1 = file->addAction("&Open Firmware File...");
  OpenFirmwareFile1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  OpenFirmwareFile1->setEnabled(false);
  connect(OpenFirmwareFile1, &QAction::triggered, this, &TfrmMain::OpenFirmwareFile1Click);
  UpdateFirmware1 = file->addAction("&Update Firmware");
  UpdateFirmware1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(UpdateFirmware1, &QAction::triggered, this, &TfrmMain::btnStartClick);
  // The dump item is never shown; its key combination is the way in, and a
  // hidden menu item's shortcut does not fire, so the window holds it.
  DumpFirmwareImage1 = file->addAction("&Dump Firmware Image...");
  DumpFirmwareImage1->setVisible(false);
  connect(DumpFirmwareImage1, &QAction::triggered, this, &TfrmMain::DumpFirmwareImage1Click);
  auto* dumpKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D), this);
  connect(dumpKey, &QShortcut::activated, this, &TfrmMain::DumpFirmwareImage1Click);
  Exit1 = file->addAction("&Exit");
  Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(Exit1, &QAction::triggered, this, &TfrmMain::Exit1Click);

  QMenu* settings = bar->addMenu("&Settings");
  VerboseErrorFile1 = settings->addAction("&Verbose Error File");
  VerboseErrorFile1->setCheckable(true);
  VerboseErrorFile1->setChecked(true);
  VerboseErrorFile1->setEnabled(false);
  connect(VerboseErrorFile1, &QAction::triggered, this, &TfrmMain::ToggleVerboseLog);
  ForceFindAllCommPorts1 = settings->addAction("Force Find All &Comm Ports");
  ForceFindAllCommPorts1->setCheckable(true);
  connect(ForceFindAllCommPorts1, &QAction::triggered, this,
          [this](bool checked) { Options().findAllPorts = checked; });
  DontEraseData1 = settings->addAction("&Don't Erase Data");
  DontEraseData1->setCheckable(true);
  DontEraseData1->setVisible(false);
  connect(DontEraseData1, &QAction::triggered, this,
          [this](bool checked) { Options().dontEraseData = checked; });
  PromptforSerialNumber1 = settings->addAction("&Replace Serial Number");
  PromptforSerialNumber1->setCheckable(true);
  PromptforSerialNumber1->setVisible(false);
  connect(PromptforSerialNumber1, &QAction::triggered, this,
          &TfrmMain::TogglePromptForSerialNumber);
  SensorTypeSeparator = settings->addSeparator();
  SensorTypeSeparator->setVisible(false);
  SetDigitalSensorTo1 = settings->addAction("Set Digital Sensor to:");
  SetDigitalSensorTo1->setEnabled(false);
  SetDigitalSensorTo1->setVisible(false);
  for (const SensorTypeItem& item : kSensorTypeItems) {
    QAction* action = settings->addAction(item.text);
    action->setCheckable(true);
    action->setVisible(false);
    const std::int32_t code = item.code;
    connect(action, &QAction::triggered, this, [this, code] {
      if (session_) {
        SelectSensorType(*session_, code);
      }
    });
    sensorTypeItems.push_back(action);
  }

  QMenu* help = bar->addMenu("&Help");
  Help2 = help->addAction("&Help");
  Help2->setShortcut(QKeySequence(Qt::Key_F1));
  connect(Help2, &QAction::triggered, this, &TfrmMain::Help2Click);
  SendFeedback1 = help->addAction("Send Feedback to QUOLT...");
  SendFeedback1->setEnabled(false);
  connect(SendFeedback1, &QAction::triggered, this, [this] {
    if (feedback_) {
      feedback_();
    }
  });
  CheckNewerVersion1 = help->addAction("Check for Newer Firmware Version");
  CheckNewerVersion1->setEnabled(false);
  connect(CheckNewerVersion1, &QAction::triggered, this, [this] {
    if (versionCheck_) {
      versionCheck_(false);
    }
  });
  About1 = help->addAction("&About...");
  connect(About1, &QAction::triggered, this, &TfrmMain::About1Click);
}

void TfrmMain::SetWebCommands(std::function<void(bool)> versionCheck,
                              std::function<void()> feedback) {
  versionCheck_ = std::move(versionCheck);
  feedback_ = std::move(feedback);
  CheckNewerVersion1->setEnabled(static_cast<bool>(versionCheck_));
  SendFeedback1->setEnabled(static_cast<bool>(feedback_));
}

// --- Start-up -----------------------------------------------------------------

void TfrmMain::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TfrmMain::FormShow() {
  // The session needs the command-line flags and the remembered options
  // before it fixes the names and creates the log, the service object and
  // the host; the port enumerator follows them.
  ReadCommandLine();
  ReadRememberedOptions();
  session_ = std::make_unique<UpdateSession>(*this, options_.target);
  portEnumerator_ = std::make_unique<ZuroSerial>(&session_->Log());
  if (options_.portSource != nullptr) {
    portEnumerator_->SetPortSource(options_.portSource);
  }
  // The core's waits keep this window alive for as long as it exists.
  previousPump_ = InstallEventPump(this);

  const RunOptions& run = Options();
  setWindowTitle(QString::fromStdString(session_->Caption()));
  QApplication::setApplicationDisplayName(QString::fromStdString(run.targetName + " Updater"));
  About1->setText(QString::fromStdString(AboutCaption(run.targetName)));

  OpenFirmwareFile1->setEnabled(run.repMode);
  if (run.factoryMode && run.sensorTarget) {
    SensorTypeSeparator->setVisible(true);
    SetDigitalSensorTo1->setVisible(true);
    for (std::size_t i = 0; i < kSensorTypeItems.size(); ++i) {
      sensorTypeItems[i]->setVisible(kSensorTypeItems[i].offered);
    }
  }
  DontEraseData1->setVisible(true);

  FillPortList();
  userText2->setText(QString::fromStdString(session_->Host().imageName()));
  ShowPortLabel();

  if (session_->WantsDataEraseWarning()) {
    timerEraseWarn.start();
  } else {
    tWebCheck.start();
  }
  if (session_->Host().imageStatus() < 0) {
    timerConstructorErrors.start();
  }

  // Fixed size: what the texts of this target need, at least the client
  // area the window was designed with.
  adjustSize();
  setFixedSize(sizeHint()
                   .expandedTo(layout()->totalMinimumSize())
                   .expandedTo(QSize(kClientWidth, kClientHeight)));
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TfrmMain::ShowPortLabel() {
  commLabel->setText(
      QString::fromStdString("Connect to " + session_->portLabelName + " with Comm Port"));
}

void TfrmMain::ReadCommandLine() {
  // The two options are compared exactly: "-Factory" or "/rep" mean nothing.
  RunOptions& run = Options();
  const QStringList& args = options_.arguments;
  const QString portPrefix = QString(kPortArgument) + "=";
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == kFactoryArgument) {
      run.factoryMode = true;
      run.repMode = true;
    } else if (arg == kRepArgument) {
      run.repMode = true;
    } else if (arg == kPortArgument && i + 1 < args.size()) {
      givenPort_ = args[++i].toStdString();
    } else if (arg.startsWith(portPrefix)) {
      givenPort_ = arg.mid(portPrefix.size()).toStdString();
    }
  }
  if (givenPort_.size() > ZuroSerial::kPortNameMaxChars) {
    givenPort_.clear(); // not a name a port can be opened by
  }
}

void TfrmMain::ReadRememberedOptions() {
  RunOptions& run = Options();
  QSettings settings(kSettingsOrganisation, kSettingsApplication);
  run.findAllPorts =
      settings.contains(kSettingFindAllComms) && settings.value(kSettingFindAllComms).toBool();
  ForceFindAllCommPorts1->setChecked(run.findAllPorts);
  // Every start logs verbosely; the stored value is only a record.
  run.verboseLog = true;
  VerboseErrorFile1->setChecked(true);
  portRemembered_ = settings.contains(kSettingCommPort);
  run.commPortName =
      portRemembered_ ? settings.value(kSettingCommPort).toString().toStdString() : std::string();
}

// --- Port list ------------------------------------------------------------------

int TfrmMain::EnumeratePorts() {
  for (CommPortInfo& entry : portTable_) {
    entry = CommPortInfo{};
  }
  std::int32_t capacity = kPortTableSize;
  const Result r =
      portEnumerator_->CommPortEnum(portTable_.data(), &capacity, Options().findAllPorts);
  int count = r > 0 ? capacity : 0;
  if (!givenPort_.empty()) {
    bool listed = false;
    for (int i = 0; i < count; ++i) {
      listed = listed || portTable_[static_cast<std::size_t>(i)].portName == givenPort_;
    }
    if (!listed) {
      // The port given on the command line, such as a simulator's
      // pseudo-terminal, takes the last place when the table is full.
      const int at = count < kPortTableSize ? count++ : kPortTableSize - 1;
      CommPortInfo& entry = portTable_[static_cast<std::size_t>(at)];
      entry.portName = givenPort_;
      entry.displayName = givenPort_.substr(0, kDisplayNameMaxChars);
      entry.portNumber = 0;
    }
  }
  return count;
}

void TfrmMain::ChoosePort(int index) {
  portIndex_ = index;
  const CommPortInfo& entry = portTable_[static_cast<std::size_t>(index)];
  Options().commPortName = entry.portName;
  Options().portDisplayName = entry.displayName;
}

void TfrmMain::FillPortList() {
  const QSignalBlocker quiet(cbCommPort);
  cbCommPort->clear();
  portCount_ = EnumeratePorts();
  for (int i = 0; i < portCount_; ++i) {
    cbCommPort->addItem(
        QString::fromStdString(portTable_[static_cast<std::size_t>(i)].displayName));
  }
  // A port given on the command line wins over the remembered one.
  const std::string wanted = !givenPort_.empty() ? givenPort_ : Options().commPortName;
  int index = 0;
  if (!givenPort_.empty() || portRemembered_) {
    for (int i = 0; i < portCount_; ++i) {
      if (portTable_[static_cast<std::size_t>(i)].portName == wanted) {
        index = i;
        break;
      }
    }
  }
  if (portCount_ > 0) {
    cbCommPort->setCurrentIndex(index);
    ChoosePort(index);
  } else {
    portIndex_ = 0;
    cbCommPort->addItem(kNoPortsText);
    cbCommPort->setCurrentIndex(0);
    Options().commPortName.clear();
    Options().portDisplayName.clear();
    btnStart->setEnabled(false);
  }
}

void TfrmMain::cbCommPortDropDown() {
  const QSignalBlocker quiet(cbCommPort);
  cbCommPort->clear();
  portCount_ = EnumeratePorts();
  for (int i = 0; i < portCount_; ++i) {
    cbCommPort->addItem(
        QString::fromStdString(portTable_[static_cast<std::size_t>(i)].displayName));
  }
  if (portCount_ > portIndex_) {
    cbCommPort->setCurrentIndex(portIndex_);
  } else if (portCount_ > 0) {
    cbCommPort->setCurrentIndex(0);
  } else {
    cbCommPort->addItem(kNoPortsText);
    cbCommPort->setCurrentIndex(0);
  }
}

void TfrmMain::cbCommPortChange(int index) {
  if (index < 0 || index >= kPortTableSize) {
    return;
  }
  ChoosePort(index);
  if (!Options().commPortName.empty()) {
    btnStart->setEnabled(true);
  }
}

// --- Run options ------------------------------------------------------------------

void TfrmMain::ToggleVerboseLog(bool checked) {
  Options().verboseLog = checked;
  if (session_) {
    session_->Log().SetLevel(checked ? kLogDetails : kLogFailures);
  }
}

void TfrmMain::TogglePromptForSerialNumber(bool checked) {
  Options().replaceSerialNumber = checked;
  newSN->setVisible(checked);
  newSNstr->setVisible(checked);
  if (checked) {
    newSNstr->setFocus();
  }
}

// --- Start, the run and close -----------------------------------------------------

void TfrmMain::btnStartClick() {
  if (Options().updateRunning || !session_) {
    return;
  }
  btnStart->setEnabled(false);
  btnClose->setEnabled(false);
  UpdateFirmware1->setEnabled(false);
  timerStart.start();
}

void TfrmMain::timerStartTimer() {
  timerStart.stop();
  lastOutcome_ = session_->StartUpdate();
}

void TfrmMain::SetUpdateControls(bool busy) {
  cbCommPort->setEnabled(!busy);
  // A box opened from a menu holds the update where it waits until the user
  // closes it, and the boot loader does not wait that long; so Help, About,
  // the firmware file and the web commands rest while the update runs.
  Help2->setEnabled(!busy);
  About1->setEnabled(!busy);
  OpenFirmwareFile1->setEnabled(!busy && Options().repMode);
  CheckNewerVersion1->setEnabled(!busy && static_cast<bool>(versionCheck_));
  SendFeedback1->setEnabled(!busy && static_cast<bool>(feedback_));
  if (busy) {
    btnStart->setEnabled(false);
    btnClose->setEnabled(false);
    UpdateFirmware1->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return;
  }
  // After every run Close is the default button, so Enter does not start
  // a second update by accident.
  btnStart->setEnabled(true);
  btnStart->setDefault(false);
  btnClose->setEnabled(true);
  btnClose->setDefault(true);
  UpdateFirmware1->setEnabled(true);
  PromptforSerialNumber1->setChecked(false);
  newSN->setVisible(false);
  newSNstr->setVisible(false);
  newSNstr->clear();
  Options().replaceSerialNumber = false;
  Options().newSerialNumber.clear();
  QApplication::restoreOverrideCursor();
}

void TfrmMain::timerEraseWarnTimer() {
  timerEraseWarn.stop();
  ShowDataEraseWarning(*session_);
  tWebCheck.start();
}

void TfrmMain::timerConstructorErrorsTimer() {
  timerConstructorErrors.stop();
  ShowStartupFailure(*session_);
  closeAllowed_ = true;
  close();
}

void TfrmMain::btnCloseClick() {
  closeAllowed_ = true;
  close();
}

void TfrmMain::Exit1Click() {
  if (session_ == nullptr || CloseGuard(*session_)) {
    closeAllowed_ = true;
    close();
  }
}

void TfrmMain::reject() {
  if (btnClose->isEnabled() && btnClose->isVisible()) {
    btnClose->click();
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // The close box, Alt+F4 and the window menu arrive here; while an update
  // runs the guard keeps the window open.
  if (!closeAllowed_ && session_ != nullptr && !CloseGuard(*session_)) {
    event->ignore();
    return;
  }
  closeAllowed_ = true;
  FormClose();
  // QDialog's own handling would reject(), which here means the Close button.
  event->accept();
}

void TfrmMain::FormClose() {
  if (settingsSaved_ || session_ == nullptr) {
    return;
  }
  settingsSaved_ = true;
  const RunOptions& run = Options();
  QSettings settings(kSettingsOrganisation, kSettingsApplication);
  settings.setValue(kSettingFindAllComms, run.findAllPorts);
  settings.setValue(kSettingVerboseLog, run.verboseLog);
  settings.setValue(kSettingCommPort, QString::fromStdString(run.commPortName));
  settings.sync();
}

// --- The front end's presentation ---------------------------------------------------

void TfrmMain::WaitAndDispatch(std::uint32_t maxWaitMs) {
  // A timer of our own bounds the wait: WaitForMoreEvents returns once it, or
  // anything else, has been delivered.
  QEventLoop loop;
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
  constexpr auto kMaxTimerMs = static_cast<std::uint32_t>(std::numeric_limits<int>::max());
  wake.start(static_cast<int>(maxWaitMs < kMaxTimerMs ? maxWaitMs : kMaxTimerMs));
  loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TfrmMain::PresentStatus(const std::string& text, bool visible) {
  statusText->setText(QString::fromStdString(text));
  statusText->setVisible(visible);
  statusText->repaint();
}

void TfrmMain::PresentProgress(int percent) {
  statusBar->setValue(percent);
  statusBar->repaint();
}

void TfrmMain::SetConnectLabel(const std::string& text) {
  lblConnect->setText(QString::fromStdString(text));
}

void TfrmMain::SetDescription(const std::string& text) {
  userText1->setText(QString::fromStdString(text));
}

void TfrmMain::PlaySound(NoticeKind kind) {
  // The desktop has one alert sound; every kind sounds it.
  (void)kind;
  QApplication::beep();
}

void TfrmMain::CheckSensorTypeItem(std::string_view item) {
  for (QAction* action : sensorTypeItems) {
    action->setChecked(action->text().toStdString() == item);
  }
}

void TfrmMain::PresentNotice(const std::string& text, const std::string& caption, NoticeKind kind) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
  case NoticeKind::kWarning:
    icon = QMessageBox::Warning;
    break;
  case NoticeKind::kError:
    icon = QMessageBox::Critical;
    break;
  case NoticeKind::kInformation:
    icon = QMessageBox::Information;
    break;
  case NoticeKind::kConfirmation:
    icon = QMessageBox::Question;
    break;
  default:
    icon = QMessageBox::NoIcon;
    break;
  }
  // Centred on the window and above every other window.
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok, isVisible() ? this : nullptr);
  box.setDefaultButton(QMessageBox::Ok);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  PlaySound(kind);
  box.exec();
}

bool TfrmMain::PresentQuestion(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Ok);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  return box.exec() == QMessageBox::Ok;
}

bool TfrmMain::PresentOkBox(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok, this);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  return box.exec() == QMessageBox::Ok;
}

// --- Help and About ---------------------------------------------------------------

void TfrmMain::Help2Click() {
  if (!session_) {
    return;
  }
  const RunOptions& run = Options();
  ShowNotice(HelpText(run.targetName, session_->Caption(),
                      DeviceKindEraseWarning(session_->Target().kind), run.sensorTarget),
             kHelpCaption, kNoticePlain);
}

void TfrmMain::About1Click() {
  ShowNotice(AboutText(EngineVersionText(BuiltProgramVersion()), BuiltPlatformName()),
             AboutCaption(Options().targetName), NoticeKind::kInformation);
}

// --- Firmware file commands -------------------------------------------------------

QString TfrmMain::ChooseFile(FileChoice choice) {
  if (fileChooser_) {
    return fileChooser_(choice);
  }
  QFileDialog dialog(this);
  if (choice == FileChoice::kOpenFirmware) {
    dialog.setWindowTitle(kOpenDialogTitle);
    dialog.setDirectory(QDir::currentPath());
    dialog.setNameFilter(kOpenDialogFilter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
  } else {
    dialog.setWindowTitle(kSaveDialogTitle);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
  }
  dialog.setDefaultSuffix(kFirmwareSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return {};
  }
  return dialog.selectedFiles().constFirst();
}

void TfrmMain::OpenFirmwareFile1Click() {
  // Only "-rep" and "-factory" runs may load a file, and never under a
  // running update: the image must not change while it is being written.
  if (!OpenFirmwareFile1->isEnabled() || Options().updateRunning || !session_) {
    return;
  }
  const QString path = ChooseFile(FileChoice::kOpenFirmware);
  if (path.isEmpty()) {
    return;
  }
  if (session_->UseFirmwareFile(path.toStdString()) < 0) {
    return; // the session has told the user; the image stays as it was
  }
  userText2->setText(QString::fromStdString(session_->Host().imageName()));
  ShowPortLabel();
  btnStart->setEnabled(true);
  UpdateFirmware1->setEnabled(true);
}

void TfrmMain::DumpFirmwareImage1Click() {
  if (!session_ || Options().updateRunning) {
    return;
  }
  const QString path = ChooseFile(FileChoice::kSaveImage);
  if (path.isEmpty()) {
    return;
  }
  const Result r = session_->Host().BSLWriteTIFile(path.toStdString());
  if (r < 0) {
    ShowNotice("Error saving firmware image: " + std::to_string(r), kDumpErrorCaption,
               NoticeKind::kWarning);
  }
}

} // namespace zuro
