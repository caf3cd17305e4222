#include "web/Feedback.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>

#include "core/Text.h"
#include "log/ZuroLog.h"
#include "web/WebFrontEnd.h"
#include "web/WebHost.h"

namespace zuro {

namespace {

constexpr const char* kValueName = "Name";
constexpr const char* kValueCompany = "Company";
constexpr const char* kValuePhone = "Phone";
constexpr const char* kValueEmail = "Email";
constexpr const char* kValueEmailTo = "EmailTo";

bool Contains(const std::string& text, char c) {
  return text.find(c) != std::string::npos;
}

std::string ReadContactValue(const QSettings& settings, const char* name) {
  return settings.value(name).toString().left(kContactFieldMaxChars).toStdString();
}

} // namespace

std::string RespondViaText(int index) {
  if (index < 0 || index >= static_cast<int>(kRespondViaItems.size())) {
    return kUnknownRespondVia;
  }
  return kRespondViaItems[static_cast<std::size_t>(index)];
}

std::string FeedbackKind(int feedbackType) {
  if (feedbackType < 0 || feedbackType >= static_cast<int>(kFeedbackTypes.size())) {
    feedbackType = 0;
  }
  return kFeedbackTypes[static_cast<std::size_t>(feedbackType)].kind;
}

std::optional<FeedbackProblem> CheckFeedbackEntry(const FeedbackEntry& entry) {
  if (entry.name.empty()) {
    return FeedbackProblem{FeedbackField::kName, "Please enter your name in the name field",
                           "Missing Information"};
  }
  if (entry.email.empty() && entry.telephone.empty() && entry.respondVia != kRespondViaNone) {
    return FeedbackProblem{FeedbackField::kTelephone,
                           "Please enter your phone number or email address so Brenvik "
                           "can respond to your feedback.",
                           "Missing Information"};
  }
  if (!entry.emailTo.empty() && !Contains(entry.emailTo, '@')) {
    return FeedbackProblem{FeedbackField::kEmailTo,
                           "The email address you entered for your Brenvik\n"
                           "Representative isn't complete.\n\n"
                           "Please enter a complete email address including\n"
                           "the '@' symbol and domain name.",
                           "Bad Email Address"};
  }
  if (!entry.email.empty() && (!Contains(entry.email, '@') || Contains(entry.email, ' '))) {
    std::string text = "The email address you entered doesn't seem to be correct.\n\n"
                       "Please enter a complete email address including\n"
                       "the '@' symbol and domain name.";
    if (Contains(entry.email, ' ')) {
      text += "\n\nPlease remove any space characters in the email address.";
    }
    return FeedbackProblem{FeedbackField::kEmail, text, "Bad Email Address"};
  }
  return std::nullopt;
}

std::string InternetAccessErrorText(const std::string& hostName, const std::string& errorMessage) {
  std::string text = "Error connecting to Brenvik's customer feedback internet service.\n\n"
                     "This feature requires your computer to be connected to the internet\n"
                     "and be able to contact Brenvik's Web Site (" +
                     hostName + ")." +
                     "\n\nPlease make a connection to the internet and try again.";
  if (!errorMessage.empty()) {
    text += "\n\nError: " + errorMessage;
  }
  return text;
}

std::string FileTooBigText(const std::string& fileName, std::int64_t size) {
  return "The file \"" + fileName + "\" is too big.\n\n" +
         "The maximun file size you can send with your feedback\n" +
         "is 8 megabytes (this file is " +
         StrFormat("%.1f", static_cast<double>(size) / static_cast<double>(kMegabyte)) + " MB)." +
         "\n\nPlease choose a different file to send.";
}

std::string FileReadErrorText(const std::string& fileName, FileProblem problem,
                              const std::string& errorMessage) {
  std::string text = "Error sending the file \"" + fileName + "\". ";
  if (problem == FileProblem::kMissing) {
    return text + "\nThe file is empty or can't be found on the system." +
           "\n\nPlease check your file name and try again.";
  }
  text += "\n\nPlease try again.";
  if (!errorMessage.empty()) {
    text += "\n\nError: " + errorMessage;
  }
  return text;
}

std::string FeedbackThanksText(const std::string& feedbackKind) {
  return "Thank you for submitting your " + feedbackKind + ".";
}

std::string FeedbackSendErrorText(const std::string& feedbackKind,
                                  const std::string& lastSendError) {
  std::string text = "There was an error trying to send your " + feedbackKind +
                     " to Brenvik.\n\nPlease try again.";
  if (!lastSendError.empty()) {
    text += "\n\nError: " + lastSendError;
  }
  return text;
}

std::string BaseFileName(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).fileName().toStdString();
}

bool AttachFile(MultipartBody& body, const std::string& path, bool tellUser, WebFrontEnd& ui,
                ZuroLog* log) {
  const std::string name = BaseFileName(path);
  const QString qpath = QString::fromStdString(path);
  QFile file(qpath);
  std::string problemText;
  const QFileInfo info(qpath);
  if (!info.exists() || info.isDir()) {
    problemText = FileReadErrorText(name, FileProblem::kMissing, {});
  } else if (!file.open(QIODevice::ReadOnly)) {
    problemText = FileReadErrorText(name, FileProblem::kOther, file.errorString().toStdString());
  } else {
    // Read one byte past the limit: a file that grew since it was chosen is
    // refused here, before anything is sent.
    QByteArray data = file.read(kFeedbackFileLimit + 1);
    if (file.error() != QFileDevice::NoError) {
      problemText = FileReadErrorText(name, FileProblem::kOther, file.errorString().toStdString());
    } else if (data.size() > kFeedbackFileLimit) {
      const std::int64_t size = std::max<std::int64_t>(QFileInfo(qpath).size(), data.size());
      if (log != nullptr) {
        log->LogMessage(kLogFailures, kWebLogModule, "AttachFile %s refused: %lld bytes",
                        path.c_str(), static_cast<long long>(size));
      }
      if (tellUser) {
        ui.AskYesNo(FileTooBigText(name, size), kFileSizeErrorCaption, false, AskType::kError);
      }
      return false;
    } else {
      if (log != nullptr) {
        log->LogMessage(kLogDetails, kWebLogModule, "AttachFile %s: %lld bytes", path.c_str(),
                        static_cast<long long>(data.size()));
      }
      body.AddFile(name, name, MultipartBody::ContentTypeFor(name), std::move(data));
      return true;
    }
  }
  if (log != nullptr) {
    log->LogMessage(kLogFailures, kWebLogModule, "AttachFile %s failed: %s", path.c_str(),
                    file.errorString().toUtf8().constData());
  }
  if (tellUser) {
    ui.AskYesNo(problemText, kReadFileErrorCaption, false, AskType::kError);
  }
  return false;
}

std::optional<MultipartBody> BuildFeedbackBody(const WEB_FORM_INFO_TYPE& info,
                                               const FeedbackEntry& entry,
                                               const std::string& installationPath,
                                               const std::string& computerInformation,
                                               WebFrontEnd& ui, ZuroLog* log) {
  MultipartBody body;
  body.AddField("EmailTo", entry.emailTo.empty() ? info.defaultEmailTo : entry.emailTo);
  body.AddField("EmailSubject", info.productName + " " + FeedbackKind(entry.feedbackType));
  body.AddField("Name", entry.name);
  body.AddField("Company Name", entry.company);
  body.AddField("Email", entry.email);
  body.AddField("Telephone", entry.telephone);
  body.AddField("Respond Via", RespondViaText(entry.respondVia));
  body.AddField("Registered Name", info.registeredName);
  body.AddField("Registered Company", info.registeredCompany);
  body.AddField("Software Version", info.productName + " version " + info.softwareVersion);
  body.AddField("Installation Path", installationPath);
  body.AddField("Computer Information", computerInformation);
  body.AddField("Feedback", entry.description);
  for (const std::string* file : {&info.errorFile1, &info.errorFile2, &info.errorFile3}) {
    if (!file->empty()) {
      AttachFile(body, *file, false, ui, log); // a log that cannot be read is left out
    }
  }
  if (!entry.sendFilePath.empty() && !AttachFile(body, entry.sendFilePath, true, ui, log)) {
    return std::nullopt;
  }
  return body;
}

bool IsFeedbackConfirmed(const QByteArray& answer) {
  return answer.contains(kScriptCompleted);
}

void PrepareLogForFeedback(ZuroLog* log, const std::string& module) {
  if (log == nullptr) {
    return;
  }
  if (log->FileSize() > 0) {
    log->KeepTail(kFeedbackLogTail);
  } else {
    log->LogMessage(kLogMilestones, module.c_str(), "%s", kEmptyLogMessage);
  }
}

FeedbackContact LoadFeedbackContact() {
  const QSettings settings(kFeedbackSettingsOrganisation, kFeedbackSettingsApplication);
  return FeedbackContact{
      ReadContactValue(settings, kValueName), ReadContactValue(settings, kValueCompany),
      ReadContactValue(settings, kValuePhone), ReadContactValue(settings, kValueEmail),
      ReadContactValue(settings, kValueEmailTo)};
}

void SaveFeedbackContact(const FeedbackContact& contact) {
  QSettings settings(kFeedbackSettingsOrganisation, kFeedbackSettingsApplication);
  settings.setValue(kValueName, QString::fromStdString(contact.name));
  settings.setValue(kValueCompany, QString::fromStdString(contact.company));
  settings.setValue(kValuePhone, QString::fromStdString(contact.phone));
  settings.setValue(kValueEmail, QString::fromStdString(contact.email));
  settings.setValue(kValueEmailTo, QString::fromStdString(contact.emailTo));
  settings.sync();
}

} // namespace zuro
