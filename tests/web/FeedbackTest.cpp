// The feedback report without a server: the checks before sending, the
// multipart bytes, the texts, the computer description and the remembered
// contact data.
#include "web/Feedback.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "tests/web/RecordingFrontEnd.h"
#include "web/ComputerInformation.h"
#include "web/MultipartBody.h"

namespace zuro {
namespace {

using test::RecordingFrontEnd;

struct CheckCase {
  const char* what;
  FeedbackEntry entry;
  std::optional<FeedbackField> field;
  const char* caption;
  bool spaceSentence;
};

FeedbackEntry Entry(std::string name, int respondVia, std::string email, std::string phone,
                    std::string emailTo = {}) {
  FeedbackEntry e;
  e.name = std::move(name);
  e.respondVia = respondVia;
  e.email = std::move(email);
  e.telephone = std::move(phone);
  e.emailTo = std::move(emailTo);
  return e;
}

TEST(FeedbackChecks, RunInOrderAndNameTheFieldToFocus) {
  const CheckCase cases[] = {
      {"nothing typed", Entry("", 1, "", ""), FeedbackField::kName, "Missing Information", false},
      {"no name beats a bad address", Entry("", 1, "a b", "", "x"), FeedbackField::kName,
       "Missing Information", false},
      {"name only, no response wanted", Entry("Ann Lee", kRespondViaNone, "", ""), std::nullopt, "",
       false},
      {"name only, email wanted", Entry("Ann Lee", kRespondViaEmail, "", ""),
       FeedbackField::kTelephone, "Missing Information", false},
      {"nothing chosen counts as wanting an answer", Entry("Ann Lee", -1, "", ""),
       FeedbackField::kTelephone, "Missing Information", false},
      {"phone is enough", Entry("Ann Lee", 2, "", "+1 555 0100"), std::nullopt, "", false},
      {"representative without @ before own address", Entry("Ann Lee", 1, "bad", "", "rep"),
       FeedbackField::kEmailTo, "Bad Email Address", false},
      {"own address without @", Entry("Ann Lee", 1, "ann.example.com", ""), FeedbackField::kEmail,
       "Bad Email Address", false},
      {"own address with a blank", Entry("Ann Lee", 1, "ann @example.com", ""),
       FeedbackField::kEmail, "Bad Email Address", true},
      {"all good", Entry("Ann Lee", 1, "ann@example.com", "", "rep@brenvik.com"), std::nullopt, "",
       false},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<FeedbackProblem> p = CheckFeedbackEntry(c.entry);
    ASSERT_EQ(p.has_value(), c.field.has_value());
    if (!p) {
      continue;
    }
    EXPECT_EQ(p->field, *c.field);
    EXPECT_EQ(p->caption, c.caption);
    EXPECT_EQ(p->text.find("Please remove any space characters") != std::string::npos,
              c.spaceSentence);
  }
  EXPECT_EQ(CheckFeedbackEntry(Entry("", 1, "", ""))->text,
            "Please enter your name in the name field");
  EXPECT_EQ(CheckFeedbackEntry(Entry("A", 1, "", ""))->text,
            "Please enter your phone number or email address so Brenvik can respond to your "
            "feedback.");
  EXPECT_EQ(CheckFeedbackEntry(Entry("A", 1, "a @b", ""))->text,
            "The email address you entered doesn't seem to be correct.\n\nPlease enter a "
            "complete email address including\nthe '@' symbol and domain name.\n\nPlease "
            "remove any space characters in the email address.");
}

TEST(FeedbackTexts, RespondViaKindsAndSizes) {
  EXPECT_EQ(RespondViaText(-1), "Unknown RespondVia");
  EXPECT_EQ(RespondViaText(0), "No response necessary");
  EXPECT_EQ(RespondViaText(3), "Telephone (mid day is best)");
  EXPECT_EQ(RespondViaText(5), "Unknown RespondVia");
  EXPECT_EQ(FeedbackKind(3), "Other Feedback");
  EXPECT_EQ(FeedbackKind(2), "Bug Report");
  EXPECT_EQ(FileTooBigText("big.bin", kFeedbackFileLimit + 1),
            "The file \"big.bin\" is too big.\n\nThe maximun file size you can send with your "
            "feedback\nis 8 megabytes (this file is 8.0 MB).\n\nPlease choose a different file to "
            "send.");
  EXPECT_NE(FileTooBigText("x", 12 * kMegabyte + kMegabyte / 2).find("(this file is 12.5 MB)"),
            std::string::npos);
  EXPECT_EQ(FileReadErrorText("a.txt", FileProblem::kMissing, "ignored"),
            "Error sending the file \"a.txt\". \nThe file is empty or can't be found on the "
            "system.\n\nPlease check your file name and try again.");
  EXPECT_EQ(FileReadErrorText("a.txt", FileProblem::kOther, "Permission denied"),
            "Error sending the file \"a.txt\". \n\nPlease try again.\n\nError: Permission denied");
  EXPECT_EQ(FeedbackSendErrorText("Bug Report", ""),
            "There was an error trying to send your Bug Report to Brenvik.\n\nPlease try again.");
  EXPECT_EQ(InternetAccessErrorText("software.brenvik.com", "Host not found"),
            "Error connecting to Brenvik's customer feedback internet service.\n\nThis feature "
            "requires your computer to be connected to the internet\nand be able to contact "
            "Brenvik's Web Site (software.brenvik.com).\n\nPlease make a connection to the "
            "internet and try again.\n\nError: Host not found");
}

TEST(MultipartBodyTest, WritesFieldsAndFilesInOrderWithExactFraming) {
  MultipartBody body("XyZ");
  body.AddField("Company Name", "Brenvik");
  body.AddField("Feedback", "line 1\r\nline 2");
  body.AddFile("notes.txt", "notes.txt", "text/plain", QByteArray("abc\0def", 7));
  const QByteArray expected =
      "--XyZ\r\nContent-Disposition: form-data; name=\"Company Name\"\r\n\r\nBrenvik\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"Feedback\"\r\n\r\nline 1\r\nline 2\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"notes.txt\"; filename=\"notes.txt\"\r\n"
      "Content-Type: text/plain\r\n\r\n" +
      QByteArray("abc\0def", 7) + "\r\n--XyZ--\r\n";
  EXPECT_EQ(body.Body(), expected);
  EXPECT_EQ(body.ContentType(), "multipart/form-data; boundary=XyZ");
}

TEST(MultipartBodyTest, ChoosesAnotherBoundaryWhenContentHoldsItAndQuotesNames) {
  MultipartBody body("XyZ");
  body.AddField("a", "text with --XyZ inside");
  const QByteArray bytes = body.Body();
  EXPECT_NE(body.Boundary(), "XyZ");
  EXPECT_TRUE(bytes.startsWith("--" + QByteArray::fromStdString(body.Boundary()) + "\r\n"));
  EXPECT_TRUE(bytes.contains("text with --XyZ inside\r\n"));
  EXPECT_EQ(body.ContentType(),
            "multipart/form-data; boundary=" + QByteArray::fromStdString(body.Boundary()));
  EXPECT_EQ(MultipartBody::QuoteName("a\"b\r\nc.txt"), "a%22b%0D%0Ac.txt");
  EXPECT_EQ(MultipartBody::ContentTypeFor("no-extension-known.zzzq"), kDefaultContentType);
  EXPECT_EQ(MultipartBody::ContentTypeFor("Du70 Firmware Updater.errors.txt"), "text/plain");
}

TEST(AttachFileTest, TellsTheUserOnlyAboutTheirOwnFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  RecordingFrontEnd ui;
  MultipartBody body;
  const std::string missing = dir.filePath("gone.txt").toStdString();
  EXPECT_FALSE(AttachFile(body, missing, false, ui, nullptr));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(AttachFile(body, missing, true, ui, nullptr));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, kReadFileErrorCaption);
  EXPECT_EQ(ui.boxes[0].text, FileReadErrorText("gone.txt", FileProblem::kMissing, {}));
  EXPECT_EQ(ui.boxes[0].type, AskType::kError);
  EXPECT_FALSE(ui.boxes[0].yesNo);
  // A folder is not a file to send.
  EXPECT_FALSE(AttachFile(body, dir.path().toStdString(), true, ui, nullptr));
  EXPECT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(body.PartCount(), 0u);
}

TEST(ComputerInformationTest, DescribesTheRunningSystemInOneShape) {
  EXPECT_EQ(DescribeComputer("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                             "(bookworm)\"\nVERSION_ID=\"12\"\n",
                             "Linux", "6.1.0-18-amd64"),
            "Debian GNU/Linux 12 (bookworm) (Version 6.1 build 0-18-amd64)");
  EXPECT_EQ(DescribeComputer("NAME=Alpine\r\n", "Linux", "6.6"), "Alpine (Version 6.6 build 0)");
  EXPECT_EQ(DescribeComputer("", "Linux", "5.15.0"), "Linux (Version 5.15 build 0)");
  EXPECT_EQ(DescribeComputer("PRETTY_NAME=\"A\x01"
                             "B\"",
                             "", ""),
            "A B (Version 0.0 build 0)");
  const std::string here = ComputerInformation();
  EXPECT_NE(here.find(" (Version "), std::string::npos);
  EXPECT_EQ(here.back(), ')');
}

TEST(FeedbackContactTest, RemembersTheContactDataBoundedAndEmptyWhenMissing) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
  const FeedbackContact none = LoadFeedbackContact();
  EXPECT_TRUE(none.name.empty() && none.company.empty() && none.phone.empty() &&
              none.email.empty() && none.emailTo.empty());
  SaveFeedbackContact({"Ann Lee", "Acme", "+1 555", "ann@acme.com", "rep@brenvik.com"});
  const FeedbackContact back = LoadFeedbackContact();
  EXPECT_EQ(back.name, "Ann Lee");
  EXPECT_EQ(back.company, "Acme");
  EXPECT_EQ(back.phone, "+1 555");
  EXPECT_EQ(back.email, "ann@acme.com");
  EXPECT_EQ(back.emailTo, "rep@brenvik.com");
  {
    QSettings s(kFeedbackSettingsOrganisation, kFeedbackSettingsApplication);
    s.setValue("Name", QString(5000, 'n'));
  }
  EXPECT_EQ(LoadFeedbackContact().name.size(), std::size_t(kContactFieldMaxChars));
}

} // namespace
} // namespace zuro
