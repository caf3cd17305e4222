// The newer-version check against the maker's version-finder texts: each
// target has a short text on the web host naming the newest firmware version
// and where to get it. Parsing and the user's texts are separate functions so
// every answer shape can be checked without a server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ResultCodes.h"

namespace zuro {

class WebClient;
class WebFrontEnd;
class ZuroLog;

constexpr std::size_t kVersionAddressMax = 999; ///< most characters of the download address
constexpr const char* kAddressStart = "http";
constexpr const char* kDirectDownloadMark = ".exe";

constexpr const char* kVersionCheckErrorCaption = "Version Check Error";
constexpr const char* kNewVersionCaption = "New Version Available";
constexpr const char* kBrowserLaunchErrorCaption = "Web Browser Launch Error";
constexpr const char* kVersionFinderCaption = "Version Finder";

/// What a version text says: the newest version times 100, the address of
/// the download or information page, and whether the address is the download.
struct VersionAnswer {
  Result status = kOk; ///< kOk or kErrWebAnswer
  std::int32_t newestVersion = 0;
  std::string address;
  bool direct = false;
};

/// Reads "<version><separator><address>": 231, 2.31 and 2 all name 2.31 or
/// 2.00 (whole numbers of 10 and more are hundredths already; smaller ones and
/// fractions are versions in units). Anything else is kErrWebAnswer.
VersionAnswer ParseVersionAnswer(std::string_view answer);

std::string VersionConnectErrorText(const std::string& errorMessage);
std::string VersionParseErrorText(Result status);
std::string NewVersionText(const std::string& productName, const std::string& address, bool direct);
std::string BrowserLaunchErrorText(const std::string& productName, const std::string& address);
std::string LatestVersionText(const std::string& productName);
std::string NewerThanAvailableText(const std::string& productName);

/// Asks the host for `path` and tells the user what it found (the start-up
/// check is `silent`: it speaks only of a newer version). Returns the newest
/// version times 100, or 0 when the check could not be made.
std::int32_t VersionCheck(WebClient& client, WebFrontEnd& ui, ZuroLog* log,
                          std::int32_t currentVersion, const std::string& path, bool silent,
                          const std::string& productName);

} // namespace zuro
