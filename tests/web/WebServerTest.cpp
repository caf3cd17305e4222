// The version check and the feedback upload against PHP's built-in web
// server: the version texts as the maker's host serves them, and a feedback
// script that records what PHP's own form parser received.
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "support/TestLog.h"
#include "tests/web/PhpServer.h"
#include "tests/web/RecordingFrontEnd.h"
#include "web/Feedback.h"
#include "web/VersionCheck.h"
#include "web/WebClient.h"
#include "web/WebService.h"

namespace zuro {
namespace {

using test::PhpServer;
using test::RecordingFrontEnd;

constexpr const char* kProduct = "Du70 Firmware Updater";
constexpr const char* kDu70Path = "/versionfinder/Du70-Firmware.html";

class VersionCheckServer : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string why = server_.Start();
    ASSERT_TRUE(why.empty()) << why;
    client_.SetHost(server_.Url());
  }
  std::int32_t Check(const QByteArray& text, std::int32_t current, bool silent) {
    server_.WriteFile("versionfinder/Du70-Firmware.html", text);
    return VersionCheck(client_, ui_, log_, current, kDu70Path, silent, kProduct);
  }

  PhpServer server_;
  test::TestLog log_;
  WebClient client_{log_};
  RecordingFrontEnd ui_;
};

TEST_F(VersionCheckServer, NewerDirectDownloadIsOfferedAndOpened) {
  const QByteArray text = "231 http://www.brenvik.com/downloads/Du70-231.exe";
  EXPECT_EQ(Check(text, 230, false), 231);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, kNewVersionCaption);
  EXPECT_EQ(ui_.boxes[0].text, NewVersionText(kProduct, "", true));
  EXPECT_TRUE(ui_.boxes[0].yesNo);
  EXPECT_EQ(ui_.boxes[0].type, AskType::kInformation);
  ASSERT_EQ(ui_.opened.size(), 1u);
  EXPECT_EQ(ui_.opened[0], "http://www.brenvik.com/downloads/Du70-231.exe");

  // The silent start-up check asks the same question; No opens nothing.
  ui_ = {};
  ui_.answers = {false};
  EXPECT_EQ(Check(text, 230, true), 231);
  EXPECT_EQ(ui_.boxes.size(), 1u);
  EXPECT_TRUE(ui_.opened.empty());

  // A browser that does not start is reported.
  ui_ = {};
  ui_.openSucceeds = false;
  EXPECT_EQ(Check(text, 230, false), 231);
  ASSERT_EQ(ui_.boxes.size(), 2u);
  EXPECT_EQ(ui_.boxes[1].caption, kBrowserLaunchErrorCaption);
  EXPECT_EQ(ui_.boxes[1].text,
            BrowserLaunchErrorText(kProduct, "http://www.brenvik.com/downloads/Du70-231.exe"));
  EXPECT_EQ(ui_.boxes[1].type, AskType::kWarning);
}

TEST_F(VersionCheckServer, SameVersionSpeaksOnlyFromTheMenu) {
  const QByteArray text = "231 http://www.brenvik.com/downloads/Du70-231.exe";
  EXPECT_EQ(Check(text, 231, false), 231);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, kVersionFinderCaption);
  EXPECT_EQ(ui_.boxes[0].text, "You are using the latest version of Du70 Firmware Updater.");
  EXPECT_FALSE(ui_.boxes[0].yesNo);
  ui_ = {};
  EXPECT_EQ(Check(text, 231, true), 231);
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(VersionCheckServer, FractionalAndUnitVersionsWithLineEnds) {
  EXPECT_EQ(Check("2.31\r\nhttp://www.brenvik.com/du70/\r\n", 230, false), 231);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].text, NewVersionText(kProduct, "http://www.brenvik.com/du70/", false));
  ui_ = {};
  ui_.answers = {false};
  EXPECT_EQ(Check("3 http://www.brenvik.com/du70/", 230, false), 300);
  ui_ = {};
  EXPECT_EQ(Check("2 http://www.brenvik.com/du70/", 230, false), 200);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].text, NewerThanAvailableText(kProduct));
}

TEST_F(VersionCheckServer, AnswerWithoutAddressIsAParseErrorFromTheMenuOnly) {
  EXPECT_EQ(Check("231 no address here\n", 230, false), 0);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, kVersionCheckErrorCaption);
  EXPECT_NE(ui_.boxes[0].text.find("[error -1002]"), std::string::npos);
  EXPECT_EQ(ui_.boxes[0].type, AskType::kError);
  ui_ = {};
  EXPECT_EQ(Check("231 no address here\n", 230, true), 0);
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(VersionCheckServer, ServerErrorPageIsAConnectionErrorWithTheLibraryMessage) {
  // The 500 page holds a version and an address; an HTTP error is not an answer.
  EXPECT_EQ(VersionCheck(client_, ui_, log_, 230, "/error500.php", false, kProduct), 0);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, kVersionCheckErrorCaption);
  const std::string lead = VersionConnectErrorText("") + "\n\nError: ";
  EXPECT_EQ(ui_.boxes[0].text.substr(0, lead.size()), lead);
  EXPECT_NE(ui_.boxes[0].text.find("Internal Server Error"), std::string::npos);
  EXPECT_TRUE(log_.Contains("failed with error -1001"));
  // A missing version text (404) is a connection error too.
  ui_ = {};
  EXPECT_EQ(VersionCheck(client_, ui_, log_, 230, "/versionfinder/none.html", true, kProduct), 0);
  EXPECT_TRUE(ui_.boxes.empty());
}

TEST(VersionCheckRefused, ConnectionRefusedAndNoVersionMakeNoRequest) {
  test::TestLog log;
  WebClient client(log);
  client.SetHost(QUrl("http://127.0.0.1:" + QString::number(PhpServer::FreePort())));
  RecordingFrontEnd ui;
  EXPECT_EQ(VersionCheck(client, ui, log, 230, kDu70Path, false, kProduct), 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  const std::string lead = VersionConnectErrorText("") + "\n\nError: ";
  EXPECT_EQ(ui.boxes[0].text.substr(0, lead.size()), lead);
  EXPECT_GT(ui.boxes[0].text.size(), lead.size());
  ui = {};
  EXPECT_EQ(VersionCheck(client, ui, log, 230, kDu70Path, true, kProduct), 0);
  EXPECT_TRUE(ui.boxes.empty());
  // A firmware version of 0 or no path: nothing asked, so no error either.
  log.Clear();
  EXPECT_EQ(VersionCheck(client, ui, log, 0, kDu70Path, false, kProduct), 0);
  EXPECT_EQ(VersionCheck(client, ui, log, 230, "", false, kProduct), 0);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(log.Contains("GET"));
}

// ---- Feedback ------------------------------------------------------------

QByteArray FileBytes(const std::string& path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const std::string& path, const QByteArray& bytes) {
  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray Sha1(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

/// Field names (and file names) of the parts, in the order they were sent.
std::vector<std::string> PartNames(const QByteArray& raw) {
  std::vector<std::string> names;
  static const QRegularExpression kHeader(
      "\r\nContent-Disposition: form-data; name=\"([^\"]*)\"(; filename=\"([^\"]*)\")?\r\n");
  auto it = kHeader.globalMatch(QString::fromLatin1("\r\n" + raw));
  while (it.hasNext()) {
    const auto m = it.next();
    names.push_back(m.captured(1).toStdString() +
                    (m.hasCaptured(3) ? "|" + m.captured(3).toStdString() : ""));
  }
  return names;
}

class FeedbackServer : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    std::string why = parsed_.Start();
    ASSERT_TRUE(why.empty()) << why;
    why = raw_.Start();
    ASSERT_TRUE(why.empty()) << why;
    info_.productName = kProduct;
    info_.softwareVersion = "Du70 2.30";
    info_.defaultEmailTo = kSupportEmail;
    info_.errorFile1 = log_.get()->FileName();
    info_.browseFolder = dir_.path().toStdString();
    entry_.name = "Ann Lee";
    entry_.company = "Acme Water";
    entry_.email = "ann@acme.example";
    entry_.telephone = "+1 555 0100";
    entry_.respondVia = 3;
    entry_.feedbackType = 2;
    entry_.description = "The update stopped at 40 %.\nSecond line: \"quoted\" & more.";
  }
  Result Send(PhpServer& server, std::string& lastSendError) {
    WebService service(ui_, server.Url(), nullptr);
    return service.SendFeedback(info_, entry_, "/opt/zurobsl/bin/zurobsl", lastSendError);
  }
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

  QTemporaryDir dir_;
  PhpServer parsed_;
  PhpServer raw_{true};
  test::TestLog log_{kLogDetails};
  RecordingFrontEnd ui_;
  WEB_FORM_INFO_TYPE info_;
  FeedbackEntry entry_;
};

TEST_F(FeedbackServer, EveryFieldAndFileArrivesAsSentInOrder) {
  // A 100 kB log is cut to its last 32,768 bytes of whole lines first.
  QByteArray logText;
  for (int i = 0; logText.size() < qsizetype{100} * 1024; ++i) {
    logText += "11 Dec 2026 8:00:00 - ZuroSerial: line " + QByteArray::number(i) + "\r\n";
  }
  WriteBytes(info_.errorFile1, logText);
  PrepareLogForFeedback(log_.get(), kProduct);
  const QByteArray sentLog = FileBytes(info_.errorFile1);
  ASSERT_LE(sentLog.size(), kFeedbackLogTail);
  ASSERT_GT(sentLog.size(), kFeedbackLogTail - 100);
  ASSERT_TRUE(logText.endsWith(sentLog));
  ASSERT_TRUE(sentLog.startsWith("11 Dec"));

  const QByteArray notes = "my notes\n";
  WriteBytes(Path("my notes.txt"), notes);
  entry_.sendFilePath = Path("my notes.txt");
  info_.errorFile2 = Path("missing-second.txt"); // left out without a word

  std::string error;
  ASSERT_EQ(Send(parsed_, error), kDone);
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(ui_.boxes.empty());

  const QJsonObject rec = parsed_.Record();
  EXPECT_EQ(rec["method"].toString(), "POST");
  EXPECT_TRUE(rec["contentType"].toString().startsWith("multipart/form-data; boundary="));
  EXPECT_EQ(rec["userAgent"].toString(), kWebUserAgent);
  EXPECT_EQ(rec["accept"].toString(), kWebAcceptHeader);
  const QJsonObject post = rec["post"].toObject();
  const std::vector<std::pair<const char*, std::string>> fields = {
      {"EmailTo", kSupportEmail},
      {"EmailSubject", "Du70 Firmware Updater Bug Report"},
      {"Name", "Ann Lee"},
      {"Company_Name", "Acme Water"},
      {"Email", "ann@acme.example"},
      {"Telephone", "+1 555 0100"},
      {"Respond_Via", "Telephone (mid day is best)"},
      {"Registered_Name", ""},
      {"Registered_Company", ""},
      {"Software_Version", "Du70 Firmware Updater version Du70 2.30"},
      {"Installation_Path", "/opt/zurobsl/bin/zurobsl"},
      {"Feedback", entry_.description},
  };
  for (const auto& [name, value] : fields) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(post.contains(name));
    EXPECT_EQ(post[name].toString().toStdString(), value);
  }
  EXPECT_TRUE(post["Computer_Information"].toString().contains(" (Version "));
  EXPECT_EQ(post.size(), 13);

  const QJsonArray files = rec["files"].toArray();
  ASSERT_EQ(files.size(), 2);
  const QJsonObject logPart = files[0].toObject();
  EXPECT_EQ(logPart["name"].toString().toStdString(), BaseFileName(info_.errorFile1));
  EXPECT_EQ(logPart["error"].toInt(), 0);
  EXPECT_EQ(QByteArray::fromBase64(logPart["content"].toString().toLatin1()), sentLog);
  EXPECT_EQ(logPart["type"].toString(), kDefaultContentType); // no extension: no type known
  const QJsonObject notesPart = files[1].toObject();
  EXPECT_EQ(notesPart["name"].toString(), "my notes.txt");
  EXPECT_EQ(QByteArray::fromBase64(notesPart["content"].toString().toLatin1()), notes);
  EXPECT_EQ(notesPart["type"].toString().toStdString(), MultipartBody::ContentTypeFor("a.txt"));

  // The raw body: names exactly as on the wire, in order, files last.
  std::string rawError;
  ASSERT_EQ(Send(raw_, rawError), kDone);
  const std::string logName = BaseFileName(info_.errorFile1);
  const std::vector<std::string> expected = {"EmailTo",
                                             "EmailSubject",
                                             "Name",
                                             "Company Name",
                                             "Email",
                                             "Telephone",
                                             "Respond Via",
                                             "Registered Name",
                                             "Registered Company",
                                             "Software Version",
                                             "Installation Path",
                                             "Computer Information",
                                             "Feedback",
                                             logName + "|" + logName,
                                             "my notes.txt|my notes.txt"};
  EXPECT_EQ(PartNames(raw_.RawBody()), expected);
}

TEST_F(FeedbackServer, RepresentativeAddressReplacesTheDefault) {
  entry_.emailTo = "rep@brenvik.example";
  std::string error;
  ASSERT_EQ(Send(parsed_, error), kDone);
  EXPECT_EQ(parsed_.Record()["post"].toObject()["EmailTo"].toString(), "rep@brenvik.example");
}

TEST_F(FeedbackServer, FileOfExactlyTheLimitIsSentAndOneByteMoreIsRefusedBeforeSending) {
  QByteArray big(kFeedbackFileLimit, '\0');
  for (qsizetype i = 0; i < big.size(); i += 4093) {
    big[i] = static_cast<char>(i * 7);
  }
  WriteBytes(Path("big.bin"), big);
  entry_.sendFilePath = Path("big.bin");
  std::string error;
  ASSERT_EQ(Send(parsed_, error), kDone) << error;
  const QJsonArray files = parsed_.Record()["files"].toArray();
  ASSERT_EQ(files.size(), 1); // the log is still empty: nothing of it to read
  EXPECT_EQ(files[0].toObject()["size"].toInteger(), kFeedbackFileLimit);
  EXPECT_EQ(files[0].toObject()["sha1"].toString().toLatin1(), Sha1(big));

  big.append('x');
  WriteBytes(Path("big.bin"), big);
  QFile::remove(QString::fromStdString(parsed_.RecordDir() + "/record.json"));
  ASSERT_EQ(Send(parsed_, error), 0);
  EXPECT_FALSE(parsed_.HasRecord());
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, kFileSizeErrorCaption);
  EXPECT_EQ(ui_.boxes[0].text, FileTooBigText("big.bin", kFeedbackFileLimit + 1));
  EXPECT_NE(ui_.boxes[0].text.find("(this file is 8.0 MB)"), std::string::npos);
}

TEST_F(FeedbackServer, UnreadableUserFileAbandonsTheReport) {
  entry_.sendFilePath = Path("not-there.txt");
  std::string error;
  EXPECT_EQ(Send(parsed_, error), 0);
  EXPECT_FALSE(parsed_.HasRecord());
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, kReadFileErrorCaption);
}

TEST_F(FeedbackServer, AnswerWithoutConfirmationFailsWithoutAMessage) {
  parsed_.SetAnswer("<html><body>Mail server unavailable</body></html>");
  std::string error;
  EXPECT_EQ(Send(parsed_, error), kErrWebSendFailed);
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(parsed_.HasRecord()); // it did arrive; the script did not confirm
}

TEST_F(FeedbackServer, LostServerFailsWithTheLibraryMessage) {
  parsed_.Stop();
  std::string error;
  EXPECT_EQ(Send(parsed_, error), kErrWebSendFailed);
  EXPECT_FALSE(error.empty());
}

TEST_F(FeedbackServer, SiteCheckTellsWhichHostCouldNotBeReached) {
  {
    WebService service(ui_, parsed_.Url(), nullptr);
    EXPECT_TRUE(service.CheckSiteReachable());
    EXPECT_TRUE(ui_.boxes.empty());
  }
  parsed_.Stop();
  WebService service(ui_, parsed_.Url(), nullptr);
  EXPECT_FALSE(service.CheckSiteReachable());
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].caption, kInternetAccessErrorCaption);
  const std::string lead = InternetAccessErrorText("127.0.0.1", "");
  EXPECT_EQ(ui_.boxes[0].text.substr(0, lead.size()), lead);
  EXPECT_NE(ui_.boxes[0].text.find("\n\nError: "), std::string::npos);
}

TEST(FeedbackLog, EmptyLogIsNotedUnderTheProductName) {
  test::TestLog log(kLogDetails);
  log.Clear();
  PrepareLogForFeedback(log.get(), kProduct);
  EXPECT_TRUE(log.Contains(std::string(kProduct) + ": " + kEmptyLogMessage));
}

} // namespace
} // namespace zuro
