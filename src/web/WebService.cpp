#include "web/WebService.h"

#include "log/ZuroLog.h"
#include "web/ComputerInformation.h"
#include "web/VersionCheck.h"
#include "web/WebFrontEnd.h"
#include "web/WebHost.h"

namespace zuro {

WebService::WebService(WebFrontEnd& ui, const QUrl& host, ZuroLog* log)
    : ui_(ui), log_(log), client_(log) {
  client_.SetHost(host);
}

void WebService::SetLog(ZuroLog* log) {
  log_ = log;
  client_.SetLog(log);
}

std::int32_t WebService::VersionCheck(std::int32_t currentVersion, const std::string& path,
                                      bool silent, const std::string& productName) {
  return zuro::VersionCheck(client_, ui_, log_, currentVersion, path, silent, productName);
}

bool WebService::CheckSiteReachable() {
  const WebReply reply = client_.Get(kSiteCheckPath);
  if (reply.result >= 0) {
    return true;
  }
  ui_.AskYesNo(InternetAccessErrorText(WebHostName(client_.Host()), reply.errorMessage),
               kInternetAccessErrorCaption, false, AskType::kError);
  return false;
}

Result WebService::SendFeedback(const WEB_FORM_INFO_TYPE& info, const FeedbackEntry& entry,
                                const std::string& installationPath, std::string& lastSendError,
                                const UploadProgress& progress) {
  std::optional<MultipartBody> body =
      BuildFeedbackBody(info, entry, installationPath, ComputerInformation(), ui_, log_);
  if (!body) {
    if (log_ != nullptr) {
      log_->LogMessage(kLogFailures, kWebLogModule, "SendFeedback abandoned: file not attached");
    }
    return 0;
  }
  const QByteArray bytes = body->Body();
  const WebReply reply = client_.Post(kFeedbackPath, bytes, body->ContentType(), progress);
  if (reply.result < 0) {
    lastSendError = reply.errorMessage;
    return kErrWebSendFailed;
  }
  if (!IsFeedbackConfirmed(reply.body)) {
    if (log_ != nullptr) {
      log_->LogMessage(kLogFailures, kWebLogModule,
                       "SendFeedback failed with error %d: the script did not confirm (HTTP %d)",
                       kErrWebSendFailed, reply.httpStatus);
    }
    return kErrWebSendFailed;
  }
  if (log_ != nullptr) {
    log_->LogMessage(kLogMilestones, kWebLogModule, "SendFeedback sent %lld bytes",
                     static_cast<long long>(bytes.size()));
  }
  return kDone;
}

} // namespace zuro
