// The feedback form and the version check's boxes on Qt's offscreen
// platform, against PHP's built-in web server. Every message box is real and
// answered by the test as it opens.
#include "gui/TfrmWeb.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gui/TfrmMain.h"
#include "support/FakeSerial.h"
#include "support/TestLog.h"
#include "tests/web/PhpServer.h"
#include "web/VersionCheck.h"

namespace zuro {
namespace {

using test::PhpServer;

struct SeenBox {
  std::string caption;
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool yesNo = false;
  bool yesIsDefault = false;
  QWidget* parent = nullptr;
};

/// Answers every message box as it opens: queued answers first, then the
/// default button.
class BoxAnswerer : public QObject {
public:
  BoxAnswerer() {
    timer_.setInterval(kPollMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
  }
  std::vector<SeenBox> seen;
  std::deque<QMessageBox::StandardButton> answers;

private:
  static constexpr int kPollMs = 5;
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible() || box->property("answered").toBool()) {
        continue;
      }
      box->setProperty("answered", true);
      SeenBox s{box->windowTitle().toStdString(),
                box->text().toStdString(),
                box->icon(),
                box->button(QMessageBox::Yes) != nullptr,
                box->defaultButton() == box->button(QMessageBox::Yes),
                box->parentWidget()};
      seen.push_back(s);
      QMessageBox::StandardButton answer = s.yesNo ? QMessageBox::Yes : QMessageBox::Ok;
      if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
      }
      box->button(answer)->click();
    }
  }
  QTimer timer_;
};

class TfrmWebTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.filePath("config"));
    const std::string why = server_.Start();
    ASSERT_TRUE(why.empty()) << why;
    form_ = std::make_unique<TfrmWeb>(&main_, server_.Url(), log_.get());
    form_->SetAddressOpener([this](const QUrl& url) {
      opened_.push_back(url.toString().toStdString());
      return true;
    });
    WEB_FORM_INFO_TYPE info;
    info.productName = "Du70 Firmware Updater";
    info.softwareVersion = "Du70 2.30";
    info.defaultEmailTo = kSupportEmail;
    info.browseFolder = dir_.path().toStdString();
    form_->SetFormInfo(info);
  }
  void TearDown() override { form_.reset(); }

  /// Shows the form through the site check, with a valid entry typed.
  void OpenAndFill() {
    ASSERT_TRUE(form_->ShowFeedbackForm());
    ASSERT_TRUE(form_->isVisible());
    form_->edName->setText("Ann Lee");
    form_->edEmail->setText("ann@acme.example");
    form_->reDescription->setPlainText("It works.");
  }
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
  void WriteFile(const char* name, qsizetype size) const {
    QFile f(dir_.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(QByteArray(size, 'z')), size);
  }

  QTemporaryDir dir_;
  PhpServer server_;
  test::TestLog log_{kLogDetails};
  QWidget main_;
  std::unique_ptr<TfrmWeb> form_;
  BoxAnswerer boxes_;
  std::vector<std::string> opened_;
};

TEST_F(TfrmWebTest, ShowingFillsTheRememberedContactAndTheDefaults) {
  SaveFeedbackContact({"Ann Lee", "Acme", "+1 555", "ann@acme.example", "rep@quolt.example"});
  ASSERT_TRUE(form_->ShowFeedbackForm());
  EXPECT_EQ(form_->windowTitle(), "Send Feedback to QUOLT");
  EXPECT_EQ(form_->edName->text(), "Ann Lee");
  EXPECT_EQ(form_->edCompany->text(), "Acme");
  EXPECT_EQ(form_->edTelephone->text(), "+1 555");
  EXPECT_EQ(form_->edEmail->text(), "ann@acme.example");
  EXPECT_EQ(form_->edEmailTo->text(), "rep@quolt.example");
  EXPECT_EQ(form_->cbRespondVia->currentText(), "Email");
  EXPECT_EQ(form_->RespondViaText(), "Email");
  EXPECT_EQ(form_->cbFeedbackType->currentText(), "General Feedback");
  EXPECT_EQ(form_->lblDescription->text(), "Please describe the feedback below");
  EXPECT_FALSE(form_->pbWeb->isVisible());
  EXPECT_TRUE(form_->edSendFile->isReadOnly());
  form_->hide();

  // Registered texts win over the remembered ones.
  WEB_FORM_INFO_TYPE info = form_->FormInfo();
  info.registeredName = "Registered Person";
  info.registeredCompany = "Registered Co";
  form_->SetFormInfo(info);
  ASSERT_TRUE(form_->ShowFeedbackForm());
  EXPECT_EQ(form_->edName->text(), "Registered Person");
  EXPECT_EQ(form_->edCompany->text(), "Registered Co");
  EXPECT_TRUE(boxes_.seen.empty());
}

TEST_F(TfrmWebTest, FeedbackTypesSetTheKindAndTheLabel) {
  ASSERT_TRUE(form_->ShowFeedbackForm());
  for (int i = 0; i < static_cast<int>(kFeedbackTypes.size()); ++i) {
    form_->cbFeedbackType->setCurrentIndex(i);
    form_->cbFeedbackTypeChange(i);
    EXPECT_EQ(form_->feedbackKind(), kFeedbackTypes[static_cast<std::size_t>(i)].kind);
    EXPECT_EQ(form_->lblDescription->text().toStdString(),
              kFeedbackTypes[static_cast<std::size_t>(i)].label);
  }
  EXPECT_EQ(form_->feedbackKind(), "Other Feedback");
  form_->reDescription->setPlainText(QString(3000, 'd'));
  EXPECT_EQ(form_->reDescription->toPlainText().size(), kDescriptionMaxChars);
}

TEST_F(TfrmWebTest, ChecksRunInOrderAndMoveTheFocus) {
  ASSERT_TRUE(form_->ShowFeedbackForm());
  form_->edEmail->setText("ann @acme");
  form_->edEmailTo->setText("rep");
  form_->btnSendClick();
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "Missing Information");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Warning);
  EXPECT_FALSE(boxes_.seen[0].yesNo);
  EXPECT_EQ(boxes_.seen[0].parent, &main_);
  EXPECT_EQ(form_->focusWidget(), form_->edName);

  form_->edName->setText("Ann Lee");
  form_->edEmail->clear();
  form_->edEmailTo->clear();
  form_->btnSendClick();
  ASSERT_EQ(boxes_.seen.size(), 2u);
  EXPECT_EQ(boxes_.seen[1].caption, "Missing Information");
  EXPECT_EQ(form_->focusWidget(), form_->edTelephone);

  form_->edEmail->setText("ann @acme");
  form_->edEmailTo->setText("rep");
  form_->btnSendClick();
  ASSERT_EQ(boxes_.seen.size(), 3u);
  EXPECT_EQ(boxes_.seen[2].caption, "Bad Email Address");
  EXPECT_NE(boxes_.seen[2].text.find("Representative"), std::string::npos);
  EXPECT_EQ(form_->focusWidget(), form_->edEmailTo);

  form_->edEmailTo->setText("rep@quolt.example");
  form_->btnSendClick();
  ASSERT_EQ(boxes_.seen.size(), 4u);
  EXPECT_NE(boxes_.seen[3].text.find("Please remove any space characters"), std::string::npos);
  EXPECT_EQ(form_->focusWidget(), form_->edEmail);
  EXPECT_FALSE(server_.HasRecord());
  EXPECT_TRUE(LoadFeedbackContact().name.empty()); // nothing saved before the checks pass
}

TEST_F(TfrmWebTest, NameOnlyWithoutResponseIsSentAndTheContactRemembered) {
  ASSERT_TRUE(form_->ShowFeedbackForm());
  form_->edName->setText("Ann Lee");
  form_->edEmail->clear();
  form_->cbRespondVia->setCurrentIndex(kRespondViaNone);
  form_->btnSendClick();
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "Feedback Successfully Sent");
  EXPECT_EQ(boxes_.seen[0].text, "Thank you for submitting your General Feedback.");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Information);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(form_->btnSend->isEnabled());
  const QJsonObject post = server_.Record()["post"].toObject();
  EXPECT_EQ(post["Name"].toString(), "Ann Lee");
  EXPECT_EQ(post["Respond_Via"].toString(), "No response necessary");
  EXPECT_EQ(post["EmailTo"].toString(), kSupportEmail);
  EXPECT_EQ(LoadFeedbackContact().name, "Ann Lee");
}

TEST_F(TfrmWebTest, UnconfirmedReportKeepsTheFormAndSaysSoWithoutAnErrorPart) {
  OpenAndFill();
  server_.SetAnswer("<html>Mailer down</html>");
  form_->cbFeedbackType->setCurrentIndex(2);
  form_->cbFeedbackTypeChange(2);
  form_->btnSendClick();
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "Error Sending Feedback");
  EXPECT_EQ(boxes_.seen[0].text,
            "There was an error trying to send your Bug Report to Brenvik.\n\nPlease try again.");
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(form_->edName->text(), "Ann Lee");
  EXPECT_EQ(form_->reDescription->toPlainText(), "It works.");
  EXPECT_EQ(LoadFeedbackContact().email, "ann@acme.example"); // saved though it failed
}

TEST_F(TfrmWebTest, FilePickerRefusesFilesOverTheLimit) {
  ASSERT_TRUE(form_->ShowFeedbackForm());
  WriteFile("huge.bin", kFeedbackFileLimit + 1);
  WriteFile("fits.bin", 10);
  QString asked;
  form_->SetFileChooser([&](const QString& folder) {
    asked = folder;
    return dir_.filePath("huge.bin");
  });
  form_->btnSendFileClick();
  EXPECT_EQ(asked, dir_.path());
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "File Size Error");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Critical);
  EXPECT_NE(boxes_.seen[0].text.find("(this file is 8.0 MB)"), std::string::npos);
  EXPECT_TRUE(form_->edSendFile->text().isEmpty());

  form_->SetFileChooser([&](const QString&) { return dir_.filePath("fits.bin"); });
  form_->btnSendFileClick();
  EXPECT_EQ(form_->edSendFile->text(), "fits.bin");
  EXPECT_EQ(form_->sendFilePath(), Path("fits.bin"));
  form_->SetFileChooser([](const QString&) { return QString(); }); // cancel empties the choice
  form_->btnSendFileClick();
  EXPECT_TRUE(form_->edSendFile->text().isEmpty());
}

TEST_F(TfrmWebTest, LargeUploadShowsProgressAndClosingTheFormCancelsIt) {
  OpenAndFill();
  WriteFile("big.bin", kFeedbackFileLimit);
  form_->SetFileChooser([&](const QString&) { return dir_.filePath("big.bin"); });
  form_->btnSendFileClick();
  bool sawBusy = false;
  QObject::connect(form_->pbWeb, &QProgressBar::valueChanged, form_.get(), [&](int value) {
    if (value < form_->pbWeb->maximum() && !sawBusy) {
      sawBusy = form_->uploadBusy() && form_->pbWeb->isVisible() &&
                form_->pbWeb->maximum() > kFeedbackFileLimit;
      form_->close(); // the user closes the form mid-upload
    }
  });
  form_->btnSendClick();
  EXPECT_TRUE(sawBusy);
  EXPECT_FALSE(form_->uploadBusy());
  EXPECT_FALSE(form_->pbWeb->isVisible());
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(boxes_.seen.empty()); // the cancelled upload is not reported
  EXPECT_FALSE(server_.HasRecord());
}

TEST_F(TfrmWebTest, UnreachableSiteKeepsTheFormClosed) {
  server_.Stop();
  EXPECT_FALSE(form_->ShowFeedbackForm());
  EXPECT_FALSE(form_->isVisible());
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "Internet Access Error");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Critical);
  EXPECT_NE(boxes_.seen[0].text.find("Brenvik's Web Site (127.0.0.1)."), std::string::npos);
}

TEST_F(TfrmWebTest, OpenFeedbackCutsTheLogAndAttachesIt) {
  QByteArray big;
  while (big.size() < 100 * 1024) {
    big += "11 Dec 2026 8:00:00 - Du70 Firmware Updater: a line of the log\r\n";
  }
  {
    QFile f(QString::fromStdString(log_.get()->FileName()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(big);
  }
  form_->OpenFeedback("Du70 Firmware Updater", "Du70 2.30", log_.get()->FileName(), log_.get());
  ASSERT_TRUE(form_->isVisible());
  EXPECT_EQ(form_->FormInfo().errorFile1, log_.get()->FileName());
  EXPECT_EQ(form_->FormInfo().defaultEmailTo, kSupportEmail);
  // Cut to whole lines of the last 32,768 bytes; the site check has logged since.
  const QByteArray kept = [this] {
    QFile f(QString::fromStdString(log_.get()->FileName()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  EXPECT_TRUE(kept.startsWith("11 Dec 2026 8:00:00 - Du70"));
  EXPECT_LT(kept.size(), kFeedbackLogTail + 1024);
  EXPECT_TRUE(kept.contains("GET http://127.0.0.1:"));
  form_->edName->setText("Ann Lee");
  form_->edEmail->setText("ann@acme.example");
  form_->btnSendClick();
  ASSERT_FALSE(boxes_.seen.empty());
  EXPECT_EQ(boxes_.seen.back().caption, "Feedback Successfully Sent");
  EXPECT_EQ(server_.Record()["files"].toArray().size(), 1);
}

TEST_F(TfrmWebTest, VersionCheckAsksYesNoAndOpensTheBrowser) {
  server_.WriteFile("versionfinder/Du70-Firmware.html",
                    "231 http://www.brenvik.com/downloads/Du70-231.exe\r\n");
  EXPECT_EQ(
      form_->VersionCheck(230, "/versionfinder/Du70-Firmware.html", false, "Du70 Firmware Updater"),
      231);
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, kNewVersionCaption);
  EXPECT_TRUE(boxes_.seen[0].yesNo);
  EXPECT_TRUE(boxes_.seen[0].yesIsDefault);
  EXPECT_EQ(boxes_.seen[0].parent, &main_);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], "http://www.brenvik.com/downloads/Du70-231.exe");

  boxes_.answers = {QMessageBox::No};
  form_->VersionCheck(230, "/versionfinder/Du70-Firmware.html", true, "Du70 Firmware Updater");
  EXPECT_EQ(opened_.size(), 1u);
  // Only web addresses are handed to the browser.
  EXPECT_FALSE(form_->OpenAddress("file:///etc/passwd"));
  EXPECT_FALSE(form_->OpenAddress("httpjunk"));
  EXPECT_EQ(opened_.size(), 1u);
}

bool RunUntil(const std::function<bool()>& done) {
  constexpr int kMaxMs = 20000; // a bound for a stuck test, not a timing check
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < kMaxMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done();
}

TEST_F(TfrmWebTest, HelpMenuOfTheMainWindowUsesTheForm) {
  qputenv("XDG_DATA_HOME", dir_.filePath("data").toUtf8());
  server_.WriteFile("versionfinder/Du70-Firmware.html",
                    "231 http://www.brenvik.com/downloads/Du70-231.exe\r\n");
  test::FakePortSource ports;
  TfrmMainOptions options;
  options.arguments = {"-rep"}; // no erase warning: the silent check comes first
  options.portSource = &ports;
  TfrmMain window(options);
  TfrmWeb web(&window, server_.Url());
  web.SetAddressOpener([](const QUrl&) { return true; });
  ConnectWebCommands(window, web);
  EXPECT_TRUE(window.CheckNewerVersion1->isEnabled());
  EXPECT_TRUE(window.SendFeedback1->isEnabled());
  boxes_.answers = {QMessageBox::No, QMessageBox::No};
  window.show();
  // The silent start-up check finds 2.31 for the built-in 2.30.
  ASSERT_TRUE(RunUntil([&] { return !boxes_.seen.empty(); }));
  EXPECT_EQ(boxes_.seen[0].caption, kNewVersionCaption);
  EXPECT_EQ(boxes_.seen[0].text, NewVersionText("Du70 Firmware Updater", "", true));

  window.CheckNewerVersion1->trigger();
  ASSERT_EQ(boxes_.seen.size(), 2u);
  EXPECT_EQ(boxes_.seen[1].caption, kNewVersionCaption);
  EXPECT_EQ(boxes_.seen[1].parent, &window);

  window.SendFeedback1->trigger();
  EXPECT_TRUE(web.isVisible());
  EXPECT_EQ(web.FormInfo().productName, "Du70 Firmware Updater");
  EXPECT_EQ(web.FormInfo().softwareVersion, window.userText2->text().toStdString());
  EXPECT_EQ(web.FormInfo().errorFile1, window.Options().errorFileName);
  EXPECT_FALSE(web.FormInfo().errorFile1.empty());
  web.hide();

  // While an update runs the web commands stay out of the way.
  window.Options().updateRunning = true;
  window.CheckNewerVersion1->trigger();
  window.SendFeedback1->trigger();
  EXPECT_EQ(boxes_.seen.size(), 2u);
  EXPECT_FALSE(web.isVisible());
  window.Options().updateRunning = false;
}

} // namespace
} // namespace zuro
