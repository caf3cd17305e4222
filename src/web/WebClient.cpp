#include "web/WebClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <exception>
#include <new>

#include "core/Time.h"
#include "log/ZuroLog.h"
#include "web/WebHost.h"

namespace zuro {

namespace {

constexpr const char* kBusyMessage = "Another request to the web service is still running.";
constexpr const char* kNoLoopMessage = "The web client has no application event loop.";
constexpr const char* kTooLargeMessage = "The web service's answer is too large.";

struct ReplyDeleter {
  void operator()(QNetworkReply* reply) const { delete reply; }
};

} // namespace

WebClient::WebClient(ZuroLog* log)
    : log_(log), host_(QString::fromLatin1(kDefaultWebHost)),
      manager_(std::make_unique<QNetworkAccessManager>()) {
  // The maker's site may set a session cookie on the first page; keep it
  // for the rest of the run as a browser would.
  manager_->setCookieJar(new QNetworkCookieJar(manager_.get()));
}

WebClient::~WebClient() {
  Disconnect();
}

QNetworkRequest WebClient::MakeRequest(const std::string& path) const {
  QUrl url = host_;
  QString prefix = host_.path();
  while (prefix.endsWith('/')) {
    prefix.chop(1);
  }
  url.setPath(prefix + QString::fromStdString(path));
  QNetworkRequest request(url);
  request.setRawHeader("Accept", kWebAcceptHeader);
  request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(kWebUserAgent));
  // Redirects are followed, but never from an encrypted address to a plain
  // one: the feedback would otherwise leave the user's data readable.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(kWebMaxRedirects);
  request.setTransferTimeout(kWebIdleTimeoutMs);
  return request;
}

WebReply WebClient::Get(const std::string& path) {
  return Run("GET", path, [this](const QNetworkRequest& r) { return manager_->get(r); }, {});
}

WebReply WebClient::Post(const std::string& path, const QByteArray& body,
                         const QByteArray& contentType, const UploadProgress& progress) {
  return Run(
      "POST", path,
      [this, &body, &contentType](const QNetworkRequest& r) {
        QNetworkRequest request = r;
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        return manager_->post(request, body);
      },
      progress);
}

void WebClient::Disconnect() {
  if (current_ != nullptr) {
    current_->abort();
  }
}

WebReply WebClient::Run(const char* verb, const std::string& path,
                        const std::function<QNetworkReply*(const QNetworkRequest&)>& start,
                        const UploadProgress& progress) {
  WebReply out;
  const std::uint32_t started = TickMs();
  const std::string url = MakeRequest(path).url().toString().toStdString();
  if (Busy() || QCoreApplication::instance() == nullptr) {
    out.result = kErrWebConnect;
    out.errorMessage = Busy() ? kBusyMessage : kNoLoopMessage;
  } else {
    try {
      out = Wait(start(MakeRequest(path)), progress);
    } catch (const std::bad_alloc&) {
      out = WebReply{kErrWebConnect, 0, {}, "Out of memory."};
    } catch (const std::exception& e) {
      out = WebReply{kErrWebConnect, 0, {}, e.what()};
    }
  }
  if (log_ != nullptr) {
    const auto ms = static_cast<unsigned>(ElapsedMs(started));
    if (out.result < 0) {
      log_->LogMessage(kLogFailures, kWebLogModule, "%s %s failed with error %d: %s (%u ms)", verb,
                       url.c_str(), out.result, out.errorMessage.c_str(), ms);
    } else {
      log_->LogMessage(kLogDetails, kWebLogModule, "%s %s answered %d with %lld bytes (%u ms)",
                       verb, url.c_str(), out.httpStatus, static_cast<long long>(out.body.size()),
                       ms);
    }
  }
  return out;
}

WebReply WebClient::Wait(QNetworkReply* rawReply, const UploadProgress& progress) {
  std::unique_ptr<QNetworkReply, ReplyDeleter> reply(rawReply);
  WebReply out;
  bool tooLarge = false;
  current_ = reply.get();
  QEventLoop loop;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QNetworkReply* r = reply.get();
  QObject::connect(r, &QNetworkReply::readyRead, r, [&out, &tooLarge, r] {
    const QByteArray chunk = r->readAll();
    if (out.body.size() + chunk.size() > kWebMaxAnswerBytes) {
      tooLarge = true;
      r->abort();
      return;
    }
    out.body.append(chunk);
  });
  if (progress) {
    QObject::connect(reply.get(), &QNetworkReply::uploadProgress, reply.get(),
                     [&progress](qint64 sent, qint64 total) { progress(sent, total); });
  }
  if (!reply->isFinished()) {
    loop.exec();
  }
  current_ = nullptr;
  if (!tooLarge && reply->bytesAvailable() > 0) {
    const QByteArray rest = reply->readAll();
    if (out.body.size() + rest.size() > kWebMaxAnswerBytes) {
      tooLarge = true;
    } else {
      out.body.append(rest);
    }
  }
  out.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (tooLarge) {
    out.result = kErrWebConnect;
    out.errorMessage = kTooLargeMessage;
    out.body.clear();
  } else if (reply->error() != QNetworkReply::NoError) {
    out.result = kErrWebConnect;
    out.errorMessage = reply->errorString().toStdString();
  }
  return out;
}

} // namespace zuro
