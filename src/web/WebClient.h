// The HTTP client of the web services: one GET or POST at a time to the
// maker's host, with the request settings the maker's service expects. A
// request blocks its caller but runs a local event loop, so the windows stay
// alive and a feedback upload can be cancelled from the form. Every failure
// of Qt Network becomes kErrWebConnect with the library's message.
#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/ResultCodes.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace zuro {

class ZuroLog;

constexpr const char* kWebAcceptHeader = "text/html, */*";
constexpr const char* kWebUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
constexpr int kWebMaxRedirects = 10;
/// A request that moves no byte for this long is given up (a dead link must
/// not hang the updater; a slow upload that still moves is left alone).
constexpr int kWebIdleTimeoutMs = 30000;
/// The most answer text kept; the service's answers are a few hundred bytes,
/// so anything larger is not its answer.
constexpr std::int64_t kWebMaxAnswerBytes = std::int64_t{1024} * 1024;

struct WebReply {
  Result result = kOk;      ///< kOk, or kErrWebConnect when the request failed
  int httpStatus = 0;       ///< the final HTTP status, 0 when none arrived
  QByteArray body;          ///< the answer text (at most kWebMaxAnswerBytes)
  std::string errorMessage; ///< the library's message when the request failed
};

/// Called while the body goes out: bytes sent so far and the expected total.
using UploadProgress = std::function<void(std::int64_t sent, std::int64_t total)>;

class WebClient {
public:
  explicit WebClient(ZuroLog* log = nullptr);
  ~WebClient();
  WebClient(const WebClient&) = delete;
  WebClient& operator=(const WebClient&) = delete;

  void SetLog(ZuroLog* log) { log_ = log; }
  /// The base address every path is appended to (its own path is a prefix).
  void SetHost(const QUrl& host) { host_ = host; }
  const QUrl& Host() const { return host_; }

  WebReply Get(const std::string& path);
  WebReply Post(const std::string& path, const QByteArray& body, const QByteArray& contentType,
                const UploadProgress& progress = {});

  /// Ends the running request, whose caller then gets kErrWebConnect. Does
  /// nothing when no request runs.
  void Disconnect();
  bool Busy() const { return current_ != nullptr; }

  /// The request for `path` with every header and setting, as it is sent.
  QNetworkRequest MakeRequest(const std::string& path) const;

private:
  WebReply Run(const char* verb, const std::string& path,
               const std::function<QNetworkReply*(const QNetworkRequest&)>& start,
               const UploadProgress& progress);
  WebReply Wait(QNetworkReply* reply, const UploadProgress& progress);

  ZuroLog* log_;
  QUrl host_;
  std::unique_ptr<QNetworkAccessManager> manager_;
  QNetworkReply* current_ = nullptr;
};

} // namespace zuro
