#include "web/WebHost.h"

#include <QByteArray>

#include "log/ZuroLog.h"

namespace zuro {

namespace {

QUrl FromSetting(const QString& text, const char* from, ZuroLog* log) {
  QUrl url(text.trimmed(), QUrl::StrictMode);
  if (IsUsableWebHost(url)) {
    if (log != nullptr) {
      log->LogMessage(kLogDetails, kWebLogModule, "Web host %s from %s",
                      url.toString().toUtf8().constData(), from);
    }
    return url;
  }
  if (log != nullptr) {
    log->LogMessage(kLogFailures, kWebLogModule, "Web host \"%s\" from %s ignored: not an address",
                    text.left(200).toUtf8().constData(), from);
  }
  return {};
}

} // namespace

bool IsUsableWebHost(const QUrl& url) {
  const QString scheme = url.scheme();
  return url.isValid() && (scheme == "http" || scheme == "https") && !url.host().isEmpty() &&
         !url.hasQuery() && !url.hasFragment();
}

QUrl ResolveWebHost(const QStringList& arguments, ZuroLog* log) {
  const QString option = QString::fromLatin1(kWebHostOption);
  const QString prefix = option + "=";
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    QString value;
    if (arguments[i] == option && i + 1 < arguments.size()) {
      value = arguments[i + 1];
    } else if (arguments[i].startsWith(prefix)) {
      value = arguments[i].mid(prefix.size());
    } else {
      continue;
    }
    QUrl url = FromSetting(value, "the command line", log);
    if (!url.isEmpty()) {
      return url;
    }
  }
  const QByteArray env = qgetenv(kWebHostEnvironment);
  if (!env.isEmpty()) {
    QUrl url = FromSetting(QString::fromUtf8(env), kWebHostEnvironment, log);
    if (!url.isEmpty()) {
      return url;
    }
  }
  return QUrl(QString::fromLatin1(kDefaultWebHost));
}

std::string WebHostName(const QUrl& host) {
  return host.host().toStdString();
}

} // namespace zuro
