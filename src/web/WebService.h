// The web side of the feedback form and the version check, without widgets:
// one HTTP client to the maker's host, the user's boxes through a front end,
// and the log. The form owns one and calls it from its handlers.
#pragma once

#include <QUrl>
#include <cstdint>
#include <string>

#include "core/ResultCodes.h"
#include "web/Feedback.h"
#include "web/WebClient.h"

namespace zuro {

class WebFrontEnd;
class ZuroLog;

class WebService {
public:
  WebService(WebFrontEnd& ui, const QUrl& host, ZuroLog* log = nullptr);

  void SetLog(ZuroLog* log);
  const QUrl& Host() const { return client_.Host(); }
  WebClient& Client() { return client_; }

  /// See VersionCheck in web/VersionCheck.h.
  std::int32_t VersionCheck(std::int32_t currentVersion, const std::string& path, bool silent,
                            const std::string& productName);

  /// Asks the host for its first page. False after telling the user (the
  /// "Internet Access Error" box) that the web site cannot be reached.
  bool CheckSiteReachable();

  /// Builds and posts the report: 1 when the feedback script confirmed it,
  /// 0 when the user's file could not be attached (the user was told),
  /// kErrWebSendFailed when the upload failed or was not confirmed, with the
  /// library's message in `lastSendError` when there was one.
  Result SendFeedback(const WEB_FORM_INFO_TYPE& info, const FeedbackEntry& entry,
                      const std::string& installationPath, std::string& lastSendError,
                      const UploadProgress& progress = {});

  /// Ends a running upload (the form was closed).
  void Disconnect() { client_.Disconnect(); }

private:
  WebFrontEnd& ui_;
  ZuroLog* log_;
  WebClient client_;
};

} // namespace zuro
