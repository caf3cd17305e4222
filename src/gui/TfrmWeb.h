// The feedback form, and the window side of the version check: the user's
// contact data, the message, an optional file, and the boxes both web
// services show. It exists for the whole run and is shown from the Help
// menu; the requests themselves are made by the web services it owns.
#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <string>

#include "core/ResultCodes.h"
#include "web/Feedback.h"
#include "web/WebFrontEnd.h"
#include "web/WebService.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace zuro {

class TfrmMain;
class ZuroLog;

constexpr const char* kFeedbackFormCaption = "Send Feedback to QUOLT";
constexpr const char* kSendFileDialogTitle = "Send File with Feedback";
/// Every file: on this platform "*.*" would hide names without a dot.
constexpr const char* kSendFileDialogFilter = "Any File Type (*)";
constexpr const char* kRepresentativeExample = "jane.smith@quolt.example";

class TfrmWeb : public QDialog, public WebFrontEnd {
  Q_OBJECT

public:
  /// `mainWindow` owns the form and centres its boxes; `host` is the maker's
  /// web host (see ResolveWebHost).
  TfrmWeb(QWidget* mainWindow, const QUrl& host, ZuroLog* log = nullptr);
  ~TfrmWeb() override;

  void SetLog(ZuroLog* log);

  // --- What the Help menu calls --------------------------------------------
  /// "Check for Newer Firmware Version" (and the silent start-up check).
  std::int32_t VersionCheck(std::int32_t currentVersion, const std::string& path, bool silent,
                            const std::string& productName);
  /// "Send Feedback to QUOLT...": fills the nine texts from the main window's
  /// state, cuts the log to its tail and shows the form when the site answers.
  void OpenFeedback(const std::string& productName, const std::string& softwareVersion,
                    const std::string& errorFileName, ZuroLog* log);

  // --- The form ---------------------------------------------------------------
  void SetFormInfo(const WEB_FORM_INFO_TYPE& info) { info_ = info; }
  const WEB_FORM_INFO_TYPE& FormInfo() const { return info_; }
  /// Shows the form when the maker's web site answers; otherwise tells the user.
  bool ShowFeedbackForm();
  /// 1 confirmed, 0 abandoned (user's file unreadable), kErrWebSendFailed.
  Result SendFeedback();
  std::string RespondViaText() const;
  const std::string& feedbackKind() const { return feedbackKind_; }
  const std::string& lastSendError() const { return lastSendError_; }
  bool uploadBusy() const { return uploadBusy_; }
  /// Full path of the chosen file (the field shows only its name).
  const std::string& sendFilePath() const { return sendFilePath_; }

  // --- WebFrontEnd ------------------------------------------------------------
  bool AskYesNo(const std::string& text, const std::string& caption, bool yesNo,
                AskType dialogType) override;
  bool OpenAddress(const std::string& address) override;

  /// Replace the file picker and the browser (tests); an empty path cancels.
  void SetFileChooser(std::function<QString(const QString& folder)> chooser) {
    fileChooser_ = std::move(chooser);
  }
  void SetAddressOpener(std::function<bool(const QUrl&)> opener) { opener_ = std::move(opener); }
  WebService& Service() { return service_; }

  // The controls by their names.
  QLineEdit* edName = nullptr;
  QLineEdit* edCompany = nullptr;
  QLineEdit* edEmail = nullptr;
  QLineEdit* edTelephone = nullptr;
  QComboBox* cbFeedbackType = nullptr;
  QComboBox* cbRespondVia = nullptr;
  QLabel* lblDescription = nullptr;
  QPlainTextEdit* reDescription = nullptr;
  QLineEdit* edSendFile = nullptr;
  QPushButton* btnSendFile = nullptr;
  QLineEdit* edEmailTo = nullptr;
  QProgressBar* pbWeb = nullptr;
  QPushButton* btnSend = nullptr;

public Q_SLOTS:
  void btnSendClick();
  void btnSendFileClick();
  void cbFeedbackTypeChange(int index);

protected:
  void showEvent(QShowEvent* event) override;
  /// Closing (or hiding) the form during an upload ends the upload.
  void hideEvent(QHideEvent* event) override;

private:
  void BuildWidgets();
  void FormShow();
  FeedbackEntry Entry() const;
  QWidget* FieldWidget(FeedbackField field) const;
  void KeepDescriptionShort();
  void UploadProgress(std::int64_t sent, std::int64_t total);

  WebService service_;
  ZuroLog* log_;
  WEB_FORM_INFO_TYPE info_;
  std::string feedbackKind_;
  std::string lastSendError_;
  std::string sendFilePath_;
  bool uploadBusy_ = false;
  std::function<QString(const QString&)> fileChooser_;
  std::function<bool(const QUrl&)> opener_;
};

/// Gives the main window's Help menu ("Check for Newer Firmware Version",
/// "Send Feedback to QUOLT...") and its start-up check to `web`. Both are
/// passed over while an update runs: a modal box and a blocking request in
/// the middle of a flash write would hold the boot loader's line.
void ConnectWebCommands(TfrmMain& main, TfrmWeb& web);

} // namespace zuro
