// Where the maker's web service lives. The version texts and the feedback
// script are on one host; installations and tests point the updater elsewhere
// by command-line option or environment variable. The default is encrypted:
// the feedback carries the user's contact data and the log.
#pragma once

#include <QStringList>
#include <QUrl>
#include <string>

namespace zuro {

class ZuroLog;

constexpr const char* kDefaultWebHost = "https://software.brenvik.com";
constexpr const char* kWebHostOption = "--web-host"; ///< "--web-host URL" or "--web-host=URL"
constexpr const char* kWebHostEnvironment = "ZUROBSL_WEB_HOST"; ///< used when the option is absent
constexpr const char* kWebLogModule = "ZuroWeb";

/// The host from the command line (after the program name), else from the
/// environment variable, else the default. A value that is not an http or
/// https address with a host name is logged and ignored.
QUrl ResolveWebHost(const QStringList& arguments, ZuroLog* log);

/// True for an absolute http or https address with a host name.
bool IsUsableWebHost(const QUrl& url);

/// The host name shown to the user ("software.brenvik.com").
std::string WebHostName(const QUrl& host);

} // namespace zuro
