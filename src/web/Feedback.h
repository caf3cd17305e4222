// The feedback report: the texts the main window hands over, what the user
// typed, the checks before sending, the multipart body the maker's feedback
// script reads, and the user's contact data remembered between runs. All of
// it is plain data and functions; the form only shows and collects it.
#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/ResultCodes.h"
#include "web/MultipartBody.h"

namespace zuro {

class WebFrontEnd;
class ZuroLog;

/// The nine texts the main window hands to the feedback form, in order.
struct WEB_FORM_INFO_TYPE {
  std::string productName;       ///< the main window's caption
  std::string softwareVersion;   ///< the image label, "Du70 2.30"
  std::string registeredName;    ///< prefills the name when not empty
  std::string registeredCompany; ///< prefills the company when not empty
  std::string defaultEmailTo;    ///< recipient when the representative field is empty
  std::string errorFile1;        ///< the log; attached when not empty
  std::string errorFile2;
  std::string errorFile3;
  std::string browseFolder; ///< first folder of the file picker
};

constexpr const char* kFeedbackPath = "/php-bin/app_feedback.php";
constexpr const char* kSiteCheckPath = "/";
constexpr const char* kSupportEmail = "support@brenvik.com";
constexpr const char* kScriptCompleted = "Script Completed";
constexpr const char* kEmptyLogMessage = "Launching web feedback with an empty error file.";

constexpr std::int64_t kMegabyte = 1048576;
constexpr std::int64_t kFeedbackFileLimit = 8 * kMegabyte; ///< bytes; larger files are refused
constexpr std::int64_t kLargeUploadBytes = 2 * kMegabyte;  ///< above this the form shows progress
constexpr std::int64_t kFeedbackLogTail = 32768;           ///< bytes of the log sent at most
constexpr int kDescriptionMaxChars = 2048;
constexpr int kContactFieldMaxChars = 255; ///< most characters kept of a remembered value

// Feedback types: the list item, the name used in texts, the description label.
struct FeedbackType {
  const char* item;
  const char* kind;
  const char* label;
};
constexpr std::array<FeedbackType, 4> kFeedbackTypes{{
    {"General Feedback", "General Feedback", "Please describe the feedback below"},
    {"Feature Suggestion", "Feature Suggestion", "Please describe the feature suggestion below"},
    {"Bug Report", "Bug Report", "Please describe the bug or issue below"},
    {"Other", "Other Feedback", "Please describe the other feedback below"},
}};

constexpr std::array<const char*, 5> kRespondViaItems{
    "No response necessary", "Email", "Telephone (morning is best)", "Telephone (mid day is best)",
    "Telephone (afternoon is best)"};
constexpr int kRespondViaNone = 0;  ///< "No response necessary"
constexpr int kRespondViaEmail = 1; ///< the choice when the form opens
constexpr const char* kUnknownRespondVia = "Unknown RespondVia";

/// The item's text, or "Unknown RespondVia" for no or an unknown choice.
std::string RespondViaText(int index);

/// What the user typed into the form.
struct FeedbackEntry {
  std::string name;
  std::string company;
  std::string email;
  std::string telephone;
  std::string emailTo; ///< the representative's address
  int respondVia = kRespondViaEmail;
  int feedbackType = 0; ///< index into kFeedbackTypes
  std::string description;
  std::string sendFilePath; ///< full path of the chosen file; empty: none
};

/// The kind's name for texts ("Other Feedback"); the first type when out of range.
std::string FeedbackKind(int feedbackType);

/// Which field a failed check puts the focus into.
enum class FeedbackField { kName, kTelephone, kEmailTo, kEmail };

struct FeedbackProblem {
  FeedbackField field;
  std::string text;
  std::string caption;
};

/// The checks before sending, in order; the first that fails, or none.
std::optional<FeedbackProblem> CheckFeedbackEntry(const FeedbackEntry& entry);

// Texts of the form's outcomes.
constexpr const char* kInternetAccessErrorCaption = "Internet Access Error";
constexpr const char* kFileSizeErrorCaption = "File Size Error";
constexpr const char* kReadFileErrorCaption = "Error Reading File";
constexpr const char* kFeedbackSentCaption = "Feedback Successfully Sent";
constexpr const char* kSendErrorCaption = "Error Sending Feedback";
std::string InternetAccessErrorText(const std::string& hostName, const std::string& errorMessage);
std::string FileTooBigText(const std::string& fileName, std::int64_t size);
/// Why a file could not be read: missing (or a folder), or another reason
/// with the system's message.
enum class FileProblem { kMissing, kOther };
std::string FileReadErrorText(const std::string& fileName, FileProblem problem,
                              const std::string& errorMessage);
std::string FeedbackThanksText(const std::string& feedbackKind);
std::string FeedbackSendErrorText(const std::string& feedbackKind,
                                  const std::string& lastSendError);

/// The file's name without its folder.
std::string BaseFileName(const std::string& path);

/// Adds `path` as a file part named after the file. A file that is missing,
/// unreadable or larger than kFeedbackFileLimit is not added; with
/// `tellUser` the user is told why. True when it was added.
bool AttachFile(MultipartBody& body, const std::string& path, bool tellUser, WebFrontEnd& ui,
                ZuroLog* log);

/// The report's body: the text fields in the order the feedback script
/// reads them, then the error files and the user's file. Nothing when the
/// user's file could not be attached (the user has been told).
std::optional<MultipartBody> BuildFeedbackBody(const WEB_FORM_INFO_TYPE& info,
                                               const FeedbackEntry& entry,
                                               const std::string& installationPath,
                                               const std::string& computerInformation,
                                               WebFrontEnd& ui, ZuroLog* log);

/// True when the feedback script confirmed that it stored the report.
bool IsFeedbackConfirmed(const QByteArray& answer);

/// Cuts the log to its last kFeedbackLogTail bytes of whole lines before it
/// is attached, or notes that it is empty (under `module`).
void PrepareLogForFeedback(ZuroLog* log, const std::string& module);

/// The contact data remembered between runs, under "Brenvik Devices, Inc" /
/// "FeedbackForm" (the registry on Windows). Missing values are empty.
struct FeedbackContact {
  std::string name;
  std::string company;
  std::string phone;
  std::string email;
  std::string emailTo;
};
constexpr const char* kFeedbackSettingsOrganisation = "Brenvik Devices, Inc";
constexpr const char* kFeedbackSettingsApplication = "FeedbackForm";
FeedbackContact LoadFeedbackContact();
void SaveFeedbackContact(const FeedbackContact& contact);

} // namespace zuro
