#include "gui/TfrmWeb.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTextCursor>
#include <QVBoxLayout>

#include "app/UpdateSession.h"
#include "gui/TfrmMain.h"
#include "log/ZuroLog.h"
#include "web/VersionCheck.h"
#include "web/WebHost.h"

namespace zuro {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QString& text) {
  return text.toStdString();
}

QMessageBox::Icon IconFor(AskType type) {
  switch (type) {
  case AskType::kError:
    return QMessageBox::Critical;
  case AskType::kInformation:
    return QMessageBox::Information;
  case AskType::kConfirmation:
    return QMessageBox::Question;
  case AskType::kWarning:
  default:
    return QMessageBox::Warning;
  }
}

/// The hourglass for the length of a send, restored on every path.
class WaitCursor {
public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

TfrmWeb::TfrmWeb(QWidget* mainWindow, const QUrl& host, ZuroLog* log)
    : QDialog(mainWindow), service_(*this, host, log), log_(log) {
  setWindowTitle(kFeedbackFormCaption);
  setModal(false);
  BuildWidgets();
}

TfrmWeb::~TfrmWeb() {
  service_.Disconnect();
}

void TfrmWeb::SetLog(ZuroLog* log) {
  log_ = log;
  service_.SetLog(log);
}

void TfrmWeb::BuildWidgets() {
  auto line = [this](const char* hint) {
    auto* edit = new QLineEdit(this);
    edit->setToolTip(hint);
    return edit;
  };
  edName = line("Please enter your first and last name");
  edCompany = line("Please enter the name of your company");
  edEmail = line("Please enter your email address");
  edTelephone = line("Please enter your phone number including area and country codes");

  cbFeedbackType = new QComboBox(this);
  for (const FeedbackType& type : kFeedbackTypes) {
    cbFeedbackType->addItem(type.item);
  }
  cbFeedbackType->setToolTip("What type of feedback do you want to send to Brenvik?");
  connect(cbFeedbackType, &QComboBox::activated, this, &TfrmWeb::cbFeedbackTypeChange);

  cbRespondVia = new QComboBox(this);
  for (const char* item : kRespondViaItems) {
    cbRespondVia->addItem(item);
  }
  cbRespondVia->setToolTip("How can Brenvik contact you?");

  lblDescription = new QLabel("Please describe the issue or bug", this);
  reDescription = new QPlainTextEdit(this);
  reDescription->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reDescription->setToolTip("Please enter your comments here");
  connect(reDescription, &QPlainTextEdit::textChanged, this, &TfrmWeb::KeepDescriptionShort);

  edSendFile = line("Click the browse button to pick the file you want to send.");
  edSendFile->setReadOnly(true);
  btnSendFile = new QPushButton(this);
  btnSendFile->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  btnSendFile->setToolTip("Click this button to find the file you want to send.");
  connect(btnSendFile, &QPushButton::clicked, this, &TfrmWeb::btnSendFileClick);

  edEmailTo = line("");
  edEmailTo->setToolTip(QString("Enter your representative's email address here (") +
                        kRepresentativeExample + ")");

  pbWeb = new QProgressBar(this);
  pbWeb->setVisible(false);

  btnSend = new QPushButton("Send", this);
  btnSend->setDefault(true);
  btnSend->setToolTip("Click to send this information to Brenvik");
  connect(btnSend, &QPushButton::clicked, this, &TfrmWeb::btnSendClick);

  auto* form = new QFormLayout;
  form->addRow("Name (required)", edName);
  form->addRow("Company Name", edCompany);
  form->addRow("Email Address", edEmail);
  form->addRow("Telephone (include area code)", edTelephone);
  form->addRow("Type of feedback", cbFeedbackType);
  form->addRow("Please respond via", cbRespondVia);

  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(edSendFile, 1);
  fileRow->addWidget(btnSendFile);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(pbWeb, 1);
  bottom->addStretch();
  bottom->addWidget(btnSend);

  auto* top = new QVBoxLayout(this);
  top->addLayout(form);
  top->addWidget(lblDescription);
  top->addWidget(reDescription, 1);
  top->addWidget(new QLabel("Send the following file (file size can be up to 6 MB):", this));
  top->addLayout(fileRow);
  top->addWidget(
      new QLabel("Send the feedback to my QUOLT Group Representative's email address:", this));
  top->addWidget(edEmailTo);
  top->addLayout(bottom);
  // Not resizable: the layout fixes the size.
  top->setSizeConstraint(QLayout::SetFixedSize);
}

std::int32_t TfrmWeb::VersionCheck(std::int32_t currentVersion, const std::string& path,
                                   bool silent, const std::string& productName) {
  return service_.VersionCheck(currentVersion, path, silent, productName);
}

void TfrmWeb::OpenFeedback(const std::string& productName, const std::string& softwareVersion,
                           const std::string& errorFileName, ZuroLog* log) {
  WEB_FORM_INFO_TYPE info;
  info.productName = productName;
  info.softwareVersion = softwareVersion;
  info.defaultEmailTo = kSupportEmail;
  info.errorFile1 = errorFileName;
  info.browseFolder = S(QCoreApplication::applicationDirPath());
  SetFormInfo(info);
  PrepareLogForFeedback(log, productName);
  ShowFeedbackForm();
}

bool TfrmWeb::ShowFeedbackForm() {
  if (!service_.CheckSiteReachable()) {
    return false;
  }
  show();
  raise();
  activateWindow();
  return true;
}

void TfrmWeb::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    FormShow();
  }
}

void TfrmWeb::hideEvent(QHideEvent* event) {
  if (uploadBusy_) {
    service_.Disconnect(); // the upload ends with an error that nobody is told about
  }
  QDialog::hideEvent(event);
}

void TfrmWeb::FormShow() {
  const FeedbackContact contact = LoadFeedbackContact();
  edName->setText(Q(info_.registeredName.empty() ? contact.name : info_.registeredName));
  edCompany->setText(
      Q(info_.registeredCompany.empty() ? contact.company : info_.registeredCompany));
  edTelephone->setText(Q(contact.phone));
  edEmail->setText(Q(contact.email));
  edEmailTo->setText(Q(contact.emailTo));
  edSendFile->clear();
  sendFilePath_.clear();
  reDescription->clear();
  cbRespondVia->setCurrentIndex(kRespondViaEmail);
  cbFeedbackType->setCurrentIndex(0);
  cbFeedbackTypeChange(0);
  pbWeb->setVisible(false);
  uploadBusy_ = false;
}

void TfrmWeb::cbFeedbackTypeChange(int index) {
  if (index < 0 || index >= static_cast<int>(kFeedbackTypes.size())) {
    index = 0;
  }
  feedbackKind_ = kFeedbackTypes[static_cast<std::size_t>(index)].kind;
  lblDescription->setText(kFeedbackTypes[static_cast<std::size_t>(index)].label);
}

void TfrmWeb::KeepDescriptionShort() {
  const QString text = reDescription->toPlainText();
  if (text.size() <= kDescriptionMaxChars) {
    return;
  }
  reDescription->setPlainText(text.left(kDescriptionMaxChars)); // re-enters once, then fits
  reDescription->moveCursor(QTextCursor::End);
}

std::string TfrmWeb::RespondViaText() const {
  return zuro::RespondViaText(cbRespondVia->currentIndex());
}

FeedbackEntry TfrmWeb::Entry() const {
  FeedbackEntry entry;
  entry.name = S(edName->text());
  entry.company = S(edCompany->text());
  entry.email = S(edEmail->text());
  entry.telephone = S(edTelephone->text());
  entry.emailTo = S(edEmailTo->text());
  entry.respondVia = cbRespondVia->currentIndex();
  entry.feedbackType = cbFeedbackType->currentIndex();
  entry.description = S(reDescription->toPlainText());
  entry.sendFilePath = edSendFile->text().isEmpty() ? std::string() : sendFilePath_;
  return entry;
}

QWidget* TfrmWeb::FieldWidget(FeedbackField field) const {
  switch (field) {
  case FeedbackField::kName:
    return edName;
  case FeedbackField::kTelephone:
    return edTelephone;
  case FeedbackField::kEmailTo:
    return edEmailTo;
  case FeedbackField::kEmail:
  default:
    return edEmail;
  }
}

void TfrmWeb::btnSendFileClick() {
  edSendFile->clear();
  sendFilePath_.clear();
  const QString folder = Q(info_.browseFolder);
  const QString path = fileChooser_ ? fileChooser_(folder)
                                    : QFileDialog::getOpenFileName(this, kSendFileDialogTitle,
                                                                   folder, kSendFileDialogFilter);
  if (path.isEmpty()) {
    return;
  }
  const QFileInfo file(path);
  if (file.size() > kFeedbackFileLimit) {
    AskYesNo(FileTooBigText(S(file.fileName()), file.size()), kFileSizeErrorCaption, false,
             AskType::kError);
    return;
  }
  edSendFile->setText(file.fileName());
  sendFilePath_ = S(path);
}

void TfrmWeb::btnSendClick() {
  lastSendError_.clear();
  const FeedbackEntry entry = Entry();
  if (const std::optional<FeedbackProblem> problem = CheckFeedbackEntry(entry)) {
    AskYesNo(problem->text, problem->caption, false, AskType::kWarning);
    FieldWidget(problem->field)->setFocus();
    return;
  }
  Result result = kErrWebSendFailed;
  btnSend->setEnabled(false);
  {
    WaitCursor wait;
    SaveFeedbackContact({entry.name, entry.company, entry.telephone, entry.email, entry.emailTo});
    result = SendFeedback();
  }
  btnSend->setEnabled(true);
  if (result == kDone) {
    hide();
    QCoreApplication::processEvents();
    AskYesNo(FeedbackThanksText(feedbackKind_), kFeedbackSentCaption, false, AskType::kInformation);
    close();
  } else if (result == kErrWebSendFailed && isVisible()) {
    AskYesNo(FeedbackSendErrorText(feedbackKind_, lastSendError_), kSendErrorCaption, false,
             AskType::kWarning);
  }
}

Result TfrmWeb::SendFeedback() {
  // The whole upload counts as busy, so closing the form always ends it.
  uploadBusy_ = true;
  const Result result = service_.SendFeedback(
      info_, Entry(), S(QCoreApplication::applicationFilePath()), lastSendError_,
      [this](std::int64_t sent, std::int64_t total) { UploadProgress(sent, total); });
  uploadBusy_ = false;
  pbWeb->setVisible(false);
  return result;
}

void TfrmWeb::UploadProgress(std::int64_t sent, std::int64_t total) {
  if (total <= kLargeUploadBytes) {
    return;
  }
  if (!pbWeb->isVisible()) {
    pbWeb->setRange(0, static_cast<int>(std::min<std::int64_t>(total, INT32_MAX)));
    pbWeb->setVisible(true);
  }
  pbWeb->setValue(static_cast<int>(std::min<std::int64_t>(sent, pbWeb->maximum())));
}

bool TfrmWeb::AskYesNo(const std::string& text, const std::string& caption, bool yesNo,
                       AskType dialogType) {
  // Centred on the main window, as every notice of the updater is.
  QWidget* owner = parentWidget() != nullptr ? parentWidget() : this;
  QMessageBox box(IconFor(dialogType), Q(caption), Q(text),
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner);
  box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
  QApplication::beep();
  return box.exec() == QMessageBox::Yes;
}

bool TfrmWeb::OpenAddress(const std::string& address) {
  // Only web addresses go to the browser: the address comes from the network.
  const QUrl url(Q(address), QUrl::TolerantMode);
  if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") ||
      url.host().isEmpty()) {
    if (log_ != nullptr) {
      log_->LogMessage(kLogFailures, kWebLogModule, "OpenAddress refused %s", address.c_str());
    }
    return false;
  }
  return opener_ ? opener_(url) : QDesktopServices::openUrl(url);
}

void ConnectWebCommands(TfrmMain& main, TfrmWeb& web) {
  main.SetWebCommands(
      [&main, &web](bool silent) {
        UpdateSession* session = main.session();
        if (session == nullptr || main.Options().updateRunning) {
          return;
        }
        web.SetLog(&session->Log());
        web.VersionCheck(static_cast<std::int32_t>(session->builtInFirmwareVersion),
                         session->versionFinderPath, silent, session->Caption());
      },
      [&main, &web] {
        UpdateSession* session = main.session();
        if (session == nullptr || main.Options().updateRunning) {
          return;
        }
        web.SetLog(&session->Log());
        web.OpenFeedback(session->Caption(), S(main.userText2->text()),
                         main.Options().errorFileName, &session->Log());
      });
}

} // namespace zuro
