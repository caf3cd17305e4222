#include "gui/TfrmMain.h"

#include <QAction>
#include <QActionGroup>
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
#include <QStandardPaths>
#include <QVBoxLayout>

#include "bsl/BuiltInImage.h"
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
constexpr const char* kDataSubfolder = "Brenvik/ZuroBSL";
constexpr const char* kSensorShortName1 = "Vantorix and Digital Sensor";
constexpr const char* kSensorShortName2 = "Vantorix";
constexpr const char* kStartHint = "Pick your comm port from this list.";

// Firmware file dialogs.
constexpr const char* kOpenDialogTitle = "Please select a firmware file";
constexpr const char* kOpenDialogFilter = "Firmware File (*.txt);;Any File (*)";
constexpr const char* kSaveDialogTitle = "Save Firmware Image";
constexpr const char* kFirmwareSuffix = "txt";
constexpr const char* kFileErrorCaption = "File Error";
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

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

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
  BuildWidgets();
  BuildMenus();

  timerStart.setInterval(kTimerStartMs);
  timerEraseWarn.setInterval(kTimerEraseWarnMs);
  timerConstructorErrors.setInterval(kTimerConstructorErrorsMs);
  tWebCheck.setInterval(kWebCheckMs);
  connect(&tWebCheck, &QTimer::timeout, this, [this] {
    tWebCheck.stop();
    if (versionCheck_) {
      versionCheck_(true);
    }
  });
}

TfrmMain::~TfrmMain() = default;

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
  statusText->setVisible(false);
  KeepSpaceWhenHidden(statusText);
  statusText->setMinimumWidth(1);
  statusText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  statusBar = new QProgressBar(this);
  statusBar->setRange(0, 100);
  statusBar->setValue(0);
  statusBar->setTextVisible(false);

  newSN = new QLabel("New Serial Number", this);
  newSNstr = new QLineEdit(this);
  newSNstr->setMaxLength(kNewSerialMaxChars);
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
  auto* status = new QHBoxLayout;
  status->addWidget(Label1);
  status->addWidget(statusText, 1);
  top->addLayout(status);
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
          [this](bool checked) { findAllPorts_ = checked; });
  DontEraseData1 = settings->addAction("&Don't Erase Data");
  DontEraseData1->setCheckable(true);
  DontEraseData1->setVisible(false);
  connect(DontEraseData1, &QAction::triggered, this,
          [this](bool checked) { dontEraseData_ = checked; });
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
    connect(action, &QAction::triggered, this, [this, code] { SelectSensorType(code); });
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
  const GuiTarget& target = options_.target;
  if (target.sensorTarget) {
    firstShortName_ = kSensorShortName1;
    secondShortName_ = kSensorShortName2;
    sensorTarget_ = true;
    SelectSensorType(kDigitalSensorStartType);
  } else {
    targetName_ = std::string(DeviceKindDisplayName(target.kind));
    versionFinderPath_ = "/versionfinder/" + targetName_ + "-Firmware.html";
    firstShortName_ = targetName_;
    secondShortName_ = targetName_;
    sensorTarget_ = false;
  }
  setWindowTitle(Q(caption()));
  QApplication::setApplicationDisplayName(Q(targetName_ + " Updater"));
  About1->setText(Q(AboutCaption(targetName_)));

  ReadCommandLine();
  OpenFirmwareFile1->setEnabled(repMode_);
  if (factoryMode_ && sensorTarget_) {
    SensorTypeSeparator->setVisible(true);
    SetDigitalSensorTo1->setVisible(true);
    for (std::size_t i = 0; i < kSensorTypeItems.size(); ++i) {
      sensorTypeItems[i]->setVisible(kSensorTypeItems[i].offered);
    }
  }
  DontEraseData1->setVisible(true);

  ReadRememberedOptions();
  ChooseDataFolder();
  CreateSharedObjects();
  FillPortList();

  userText2->setText(Q(host_->imageName()));
  ApplyTargetTexts();
  lblConnect->setText(Q("Connect " + secondShortName_ + " to computer comm port."));

  firmwareVersion_ = kBuiltInFirmwareVersion;
  eraseProgressStep_ = kEraseProgressStep;
  writeProgressStep_ = kBuiltInWriteProgressStep;
  if (DeviceKindEraseWarning(target.kind) && !repMode_ && !factoryMode_) {
    timerEraseWarn.start();
  } else {
    tWebCheck.start();
  }
  if (host_->imageStatus() < 0) {
    timerConstructorErrors.start();
  }

  // Fixed size: what the texts of this target need, at least the client
  // area the window was designed with.
  adjustSize();
  const QSize size = sizeHint().expandedTo(QSize(kClientWidth, kClientHeight));
  setFixedSize(size);
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TfrmMain::ApplyTargetTexts() {
  userText1->setText(Q("This utility updates " + targetName_ + " firmware to"));
  commLabel->setText(Q("Connect to " + firstShortName_ + " with Comm Port"));
}

void TfrmMain::ReadCommandLine() {
  // The two options are compared exactly: "-Factory" or "/rep" mean nothing.
  const QStringList& args = options_.arguments;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == kFactoryArgument) {
      factoryMode_ = true;
      repMode_ = true;
    } else if (arg == kRepArgument) {
      repMode_ = true;
    } else if (arg == kPortArgument && i + 1 < args.size()) {
      givenPort_ = args[++i].toStdString();
    } else if (arg.startsWith(QString(kPortArgument) + "=")) {
      givenPort_ =
          arg.mid(static_cast<qsizetype>(std::char_traits<char>::length(kPortArgument)) + 1)
              .toStdString();
    }
  }
  if (givenPort_.size() > ZuroSerial::kPortNameMaxChars) {
    givenPort_.clear(); // not a name a port can be opened by
  }
}

void TfrmMain::ReadRememberedOptions() {
  QSettings settings(kSettingsOrganisation, kSettingsApplication);
  findAllPorts_ = settings.contains(kSettingFindAllComms)
                      ? settings.value(kSettingFindAllComms).toBool()
                      : false;
  ForceFindAllCommPorts1->setChecked(findAllPorts_);
  // Every start logs verbosely; the stored value is only a record.
  verboseLog_ = true;
  VerboseErrorFile1->setChecked(true);
  if (settings.contains(kSettingCommPort)) {
    commPortName_ = settings.value(kSettingCommPort).toString().toStdString();
    portRemembered_ = true;
  } else {
    commPortName_.clear();
    portRemembered_ = false;
  }
}

void TfrmMain::ChooseDataFolder() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (!base.isEmpty()) {
    const QString folder = QDir(base).filePath(kDataSubfolder);
    QDir().mkpath(folder); // a failure shows when the log and settings file open
    dataFolder_ = QDir::toNativeSeparators(folder).toStdString();
  } else {
    dataFolder_ =
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/").toStdString();
  }
  const std::string separator = QDir::toNativeSeparators("/").toStdString();
  const bool endsWithSeparator =
      !dataFolder_.empty() &&
      dataFolder_.compare(dataFolder_.size() - separator.size(), separator.size(), separator) == 0;
  const std::string stem = endsWithSeparator ? dataFolder_ : dataFolder_ + separator;
  errorFileName_ = stem + caption() + ".errors.txt";
  settingsFileName_ = stem + targetName_ + ".settings.txt";
}

void TfrmMain::CreateSharedObjects() {
  log_ = std::make_unique<ZuroLog>(errorFileName_.c_str(), verboseLog_ ? kLogDetails : kLogFailures,
                                   false);
  host_ = options_.image ? std::make_unique<ZuroBSLHost>(log_.get(), *options_.image)
                         : std::make_unique<ZuroBSLHost>(log_.get());
  portEnumerator_ = std::make_unique<ZuroSerial>(log_.get());
  if (options_.portSource != nullptr) {
    portEnumerator_->SetPortSource(options_.portSource);
  }
}

// --- Port list ------------------------------------------------------------------

int TfrmMain::EnumeratePorts() {
  for (CommPortInfo& entry : portTable_) {
    entry = CommPortInfo{};
  }
  std::int32_t capacity = kPortTableSize;
  const Result r = portEnumerator_->CommPortEnum(portTable_.data(), &capacity, findAllPorts_);
  int count = r > 0 ? capacity : 0;
  if (!givenPort_.empty()) {
    int at = -1;
    for (int i = 0; i < count; ++i) {
      if (portTable_[static_cast<std::size_t>(i)].portName == givenPort_) {
        at = i;
      }
    }
    if (at < 0) {
      // The port given on the command line, such as a simulator's
      // pseudo-terminal, takes the last place when the table is full.
      at = count < kPortTableSize ? count++ : kPortTableSize - 1;
      CommPortInfo& entry = portTable_[static_cast<std::size_t>(at)];
      entry.portName = givenPort_;
      entry.displayName = givenPort_.substr(0, kDisplayNameMaxChars);
      entry.portNumber = 0;
    }
  }
  return count;
}

void TfrmMain::FillPortList() {
  cbCommPort->clear();
  portCount_ = EnumeratePorts();
  for (int i = 0; i < portCount_; ++i) {
    cbCommPort->addItem(Q(portTable_[static_cast<std::size_t>(i)].displayName));
  }
  portIndex_ = 0;
  const std::string& wanted = !givenPort_.empty() ? givenPort_ : commPortName_;
  if (!givenPort_.empty() || portRemembered_) {
    for (int i = 0; i < portCount_; ++i) {
      if (portTable_[static_cast<std::size_t>(i)].portName == wanted) {
        portIndex_ = i;
        break;
      }
    }
  }
  if (portCount_ > 0) {
    cbCommPort->setCurrentIndex(portIndex_);
    commPortName_ = portTable_[static_cast<std::size_t>(portIndex_)].portName;
  } else {
    cbCommPort->addItem(kNoPortsText);
    cbCommPort->setCurrentIndex(0);
    commPortName_.clear();
    btnStart->setEnabled(false);
  }
}

void TfrmMain::cbCommPortDropDown() {
  const QSignalBlocker quiet(cbCommPort);
  cbCommPort->clear();
  portCount_ = EnumeratePorts();
  for (int i = 0; i < portCount_; ++i) {
    cbCommPort->addItem(Q(portTable_[static_cast<std::size_t>(i)].displayName));
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
  portIndex_ = index;
  commPortName_ = portTable_[static_cast<std::size_t>(index)].portName;
  if (!commPortName_.empty()) {
    btnStart->setEnabled(true);
  }
}

// --- Run options ------------------------------------------------------------------

void TfrmMain::ToggleVerboseLog(bool checked) {
  verboseLog_ = checked;
  if (log_) {
    log_->SetLevel(checked ? kLogDetails : kLogFailures);
  }
}

void TfrmMain::TogglePromptForSerialNumber(bool checked) {
  replaceSerialNumber_ = checked;
  newSN->setVisible(checked);
  newSNstr->setVisible(checked);
  if (checked) {
    newSNstr->setFocus();
  }
}

void TfrmMain::SelectSensorType(std::int32_t code) {
  for (QAction* item : sensorTypeItems) {
    item->setChecked(false);
  }
  sensorTypeCode_ = code;
  for (std::size_t i = 0; i < kSensorTypeItems.size(); ++i) {
    if (kSensorTypeItems[i].code == code) {
      sensorTypeItems[i]->setChecked(true);
    }
  }
  char name[kSensorTypeNameSize];
  SensorTypeName(static_cast<unsigned int>(code), name);
  targetName_ = name;
  userText1->setText(Q("This utility updates " + targetName_ + " firmware to"));
}

// --- Start and close ----------------------------------------------------------------

void TfrmMain::btnStartClick() {
  btnStart->setEnabled(false);
  btnClose->setEnabled(false);
  UpdateFirmware1->setEnabled(false);
  timerStart.start();
}

void TfrmMain::btnCloseClick() {
  closeAllowed_ = true;
  close();
}

void TfrmMain::Exit1Click() {
  if (CloseGuard()) {
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
  if (!closeAllowed_ && !CloseGuard()) {
    event->ignore();
    return;
  }
  closeAllowed_ = true;
  FormClose();
  // QDialog's own handling would reject(), which here means the Close button.
  event->accept();
}

bool TfrmMain::CloseGuard() {
  if (updateRunning_) {
    QMessageBox box(QMessageBox::Warning, "Don't Quit Now!",
                    Q("The " + caption() + " is updating your " + targetName_ +
                      "!\nThis process should NOT be interrupted.\n\n" + "Your " + targetName_ +
                      " may be unusable or have missing settings\n" +
                      "until you complete the firmware update process.\n\n" +
                      "Click OK to continue updating your" + " " + targetName_ + ".\n"),
                    QMessageBox::Ok, this);
    if (box.exec() == QMessageBox::Ok) {
      return false;
    }
  }
  keepGoing_ = false;
  return true;
}

void TfrmMain::FormClose() {
  if (settingsSaved_) {
    return;
  }
  settingsSaved_ = true;
  QSettings settings(kSettingsOrganisation, kSettingsApplication);
  settings.setValue(kSettingFindAllComms, findAllPorts_);
  settings.setValue(kSettingVerboseLog, verboseLog_);
  settings.setValue(kSettingCommPort, Q(commPortName_));
  settings.sync();
}

// --- Notices ----------------------------------------------------------------------

void TfrmMain::ShowNotice(const std::string& text, const std::string& caption, int kind) {
  QMessageBox::Icon icon = QMessageBox::Warning;
  switch (kind) {
  case kNoticeWarning:
    icon = QMessageBox::Warning;
    break;
  case kNoticeError:
    icon = QMessageBox::Critical;
    break;
  case kNoticeInformation:
    icon = QMessageBox::Information;
    break;
  case kNoticeConfirmation:
    icon = QMessageBox::Question;
    break;
  default:
    icon = QMessageBox::NoIcon;
    break;
  }
  QMessageBox box(icon, Q(caption), Q(text), QMessageBox::Ok, isVisible() ? this : nullptr);
  box.setDefaultButton(QMessageBox::Ok);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  // The platform has one alert sound; every kind sounds it.
  QApplication::beep();
  box.exec();
  if (log_) {
    log_->LogMessage(kLogFailures, kNoticeLogModule, "%s", text.c_str());
  }
}

bool TfrmMain::AskOkCancel(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Warning, Q(caption), Q(text), QMessageBox::Ok | QMessageBox::Cancel,
                  this);
  box.setDefaultButton(QMessageBox::Ok);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  return box.exec() == QMessageBox::Ok;
}

// --- Help and About ---------------------------------------------------------------

void TfrmMain::Help2Click() {
  ShowNotice(
      HelpText(targetName_, caption(), DeviceKindEraseWarning(options_.target.kind), sensorTarget_),
      kHelpCaption, kNoticePlain);
}

void TfrmMain::About1Click() {
  ShowNotice(AboutText(EngineVersionText(BuiltProgramVersion()), BuiltPlatformName()),
             AboutCaption(targetName_), kNoticeInformation);
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
  // The image must not change under a running update.
  if (!OpenFirmwareFile1->isEnabled() || updateRunning_ || !host_) {
    return;
  }
  const QString path = ChooseFile(FileChoice::kOpenFirmware);
  if (path.isEmpty()) {
    return;
  }
  const Result r = host_->BSLLoadTIFile(path.toStdString());
  if (r < 0) {
    const std::string fileName = QFileInfo(path).fileName().toStdString();
    std::string text;
    if (r == kErrNotTiTxt) {
      text = "The file \"" + fileName + "\" is not a valid firmware file.\n" +
             "Please choose a new firmware file to open.";
    } else if (r == kErrOutOfMemory) {
      text = "The " + caption() + " ran out of memory opening \"" + fileName + "\".\n" +
             "Please restart this application and try again.";
    } else {
      text = "The " + caption() + " could not opening \"" + fileName + "\".\n" +
             "Please try again.\nError " + std::to_string(r);
    }
    ShowNotice(text, kFileErrorCaption, kNoticeError);
    return;
  }
  // A file whose name names no kind is taken for this build's instrument.
  int kind = host_->imageKind();
  if (kind == kUnknownDeviceKind) {
    kind = kDu70Kind;
  }
  const std::string display(DeviceKindDisplayName(kind));
  userText2->setText(Q(host_->imageName()));
  targetName_ = display;
  firstShortName_ = display;
  secondShortName_ = display;
  ApplyTargetTexts();
  lblConnect->setText(Q("Connect " + targetName_ + " to computer comm port."));
  firmwareVersion_ = static_cast<std::uint32_t>(host_->imageVersion());
  const std::string separator = QDir::toNativeSeparators("/").toStdString();
  settingsFileName_ = dataFolder_ + separator + targetName_ + ".settings.txt";
  eraseProgressStep_ = kEraseProgressStep;
  writeProgressStep_ = host_->imageTextLength() > 0
                           ? kWriteProgressBase / static_cast<float>(host_->imageTextLength())
                           : kBuiltInWriteProgressStep;
  QApplication::beep();
  btnStart->setEnabled(true);
  UpdateFirmware1->setEnabled(true);
}

void TfrmMain::DumpFirmwareImage1Click() {
  if (!host_) {
    return;
  }
  const QString path = ChooseFile(FileChoice::kSaveImage);
  if (path.isEmpty()) {
    return;
  }
  const Result r = host_->BSLWriteTIFile(path.toStdString());
  if (r < 0) {
    ShowNotice("Error saving firmware image: " + std::to_string(r), kDumpErrorCaption,
               kNoticeWarning);
  }
}

} // namespace zuro
