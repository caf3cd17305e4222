#include "web/VersionCheck.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>

#include "core/Text.h"
#include "log/ZuroLog.h"
#include "web/WebClient.h"
#include "web/WebFrontEnd.h"
#include "web/WebHost.h"

namespace zuro {

namespace {

constexpr std::int32_t kUnitsBelow = 10;  ///< a whole number below this is in units, not hundredths
constexpr std::int32_t kScaleBelow = 100; ///< a fraction below this is scaled to hundredths
constexpr std::size_t kMaxWholeDigits = 9; ///< keeps every version within 32 bits

bool IsTrailingSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view TrimTrailing(std::string_view text) {
  while (!text.empty() && IsTrailingSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string_view TrimLeading(std::string_view text) {
  while (!text.empty() && IsTrailingSpace(text.front())) {
    text.remove_prefix(1);
  }
  return text;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

std::int32_t DigitsValue(std::string_view digits) {
  std::int32_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
  }
  return value;
}

/// A whole decimal number of at most nine digits, or nothing.
std::optional<std::int32_t> ReadWhole(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  while (text.size() > 1 && text.front() == '0') {
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > kMaxWholeDigits || !AllDigits(text)) {
    return std::nullopt;
  }
  const std::int32_t value = DigitsValue(text);
  return negative ? -value : value;
}

/// A decimal fraction in hundredths when below 100 and in units otherwise,
/// rounded half upward, from its digits so that 2.305 gives 231 exactly.
std::optional<std::int32_t> ReadFraction(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  const std::size_t dot = text.find('.');
  std::string_view whole = text.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) {
    return std::nullopt; // no digit at all (also a lone '-' or '.')
  }
  if (!AllDigits(whole) || !AllDigits(fraction)) {
    return std::nullopt; // signs inside, a second dot, letters, a negative version
  }
  while (!whole.empty() && whole.front() == '0') {
    whole.remove_prefix(1);
  }
  if (whole.size() > kMaxWholeDigits) {
    return std::nullopt;
  }
  const std::int32_t units = DigitsValue(whole);
  auto digit = [&fraction](std::size_t i) {
    return i < fraction.size() ? static_cast<std::int32_t>(fraction[i] - '0') : 0;
  };
  if (units < kScaleBelow) {
    return units * 100 + digit(0) * 10 + digit(1) + (digit(2) >= 5 ? 1 : 0);
  }
  return units + (digit(0) >= 5 ? 1 : 0);
}

std::optional<std::int32_t> ReadVersion(std::string_view text) {
  text = TrimLeading(text);
  const std::optional<std::int32_t> whole = ReadWhole(text);
  if (whole && *whole >= kUnitsBelow) {
    return whole;
  }
  return ReadFraction(text);
}

void Tell(WebFrontEnd& ui, ZuroLog* log, const std::string& text, const char* caption, bool yesNo,
          AskType type, bool* answer = nullptr) {
  const bool yes = ui.AskYesNo(text, caption, yesNo, type);
  if (answer != nullptr) {
    *answer = yes;
  }
  if (log != nullptr) {
    log->LogMessage(kLogDetails, kWebLogModule, "%s: %s%s", caption, text.c_str(),
                    yesNo ? (yes ? " [Yes]" : " [No]") : "");
  }
}

} // namespace

VersionAnswer ParseVersionAnswer(std::string_view answer) {
  VersionAnswer out;
  const std::size_t at = answer.find(kAddressStart);
  if (at == std::string_view::npos || at == 0) {
    out.status = kErrWebAnswer; // no address, or no room for a version before it
    return out;
  }
  out.address = std::string(TrimTrailing(answer.substr(at, kVersionAddressMax)));
  out.direct = out.address.find(kDirectDownloadMark) != std::string::npos;
  // The character before the address separates it from the version.
  const std::optional<std::int32_t> version = ReadVersion(TrimTrailing(answer.substr(0, at - 1)));
  if (!version) {
    out.status = kErrWebAnswer;
    return out;
  }
  out.newestVersion = *version;
  return out;
}

std::string VersionConnectErrorText(const std::string& errorMessage) {
  std::string text = "Error connecting to Brenvik's version check service.\n"
                     "This feature requires your computer to be connected \n"
                     "to the internet.\n"
                     "\n\nPlease make a connection to the internet and try again.";
  if (!errorMessage.empty()) {
    text += "\n\nError: " + errorMessage;
  }
  return text;
}

std::string VersionParseErrorText(Result status) {
  return "Error parsing the version information returned by \n"
         "Brenvik's version check service.\n"
         "[error " +
         std::to_string(status) +
         "]"
         "\n\nPlease try again or contact Brenvik for help.";
}

std::string NewVersionText(const std::string& productName, const std::string& address,
                           bool direct) {
  if (direct) {
    return "There is newer version of " + productName + " available for download." +
           "\n\nWould you like to download this new version with your web browser now?";
  }
  return "There is information about a newer version of " + productName + "\navailable at " +
         address + "\n\nWould you like to visit this page with your web browser now?";
}

std::string BrowserLaunchErrorText(const std::string& productName, const std::string& address) {
  return productName + " had trouble launching your web browser.\n" +
         "Please try manually going to:\n" + address;
}

std::string LatestVersionText(const std::string& productName) {
  return "You are using the latest version of " + productName + ".";
}

std::string NewerThanAvailableText(const std::string& productName) {
  return "You are running a newer version of " + productName +
         "\nthan is available from Brenvik's web site.";
}

std::int32_t VersionCheck(WebClient& client, WebFrontEnd& ui, ZuroLog* log,
                          std::int32_t currentVersion, const std::string& path, bool silent,
                          const std::string& productName) {
  if (path.empty() || currentVersion == 0) {
    if (log != nullptr) {
      log->LogMessage(kLogDetails, kWebLogModule,
                      "VersionCheck skipped: no version path or firmware version %d",
                      currentVersion);
    }
    return 0;
  }
  const WebReply reply = client.Get(path);
  VersionAnswer answer;
  if (reply.result < 0) {
    answer.status = kErrWebConnect;
  } else {
    answer = ParseVersionAnswer(
        std::string_view(reply.body.constData(), static_cast<std::size_t>(reply.body.size())));
  }
  if (answer.status < 0) {
    if (log != nullptr) {
      log->LogMessage(kLogFailures, kWebLogModule, "VersionCheck failed with error %d",
                      answer.status);
    }
    if (!silent) {
      Tell(ui, log,
           answer.status == kErrWebConnect ? VersionConnectErrorText(reply.errorMessage)
                                           : VersionParseErrorText(answer.status),
           kVersionCheckErrorCaption, false, AskType::kError);
    }
    return 0;
  }
  if (log != nullptr) {
    log->LogMessage(kLogMilestones, kWebLogModule, "VersionCheck: newest %d, this %d, at %s",
                    answer.newestVersion, currentVersion, answer.address.c_str());
  }
  if (answer.newestVersion > currentVersion) {
    bool yes = false;
    Tell(ui, log, NewVersionText(productName, answer.address, answer.direct), kNewVersionCaption,
         true, AskType::kInformation, &yes);
    if (yes && !ui.OpenAddress(answer.address)) {
      Tell(ui, log, BrowserLaunchErrorText(productName, answer.address), kBrowserLaunchErrorCaption,
           false, AskType::kWarning);
    }
  } else if (!silent) {
    Tell(ui, log,
         answer.newestVersion == currentVersion ? LatestVersionText(productName)
                                                : NewerThanAvailableText(productName),
         kVersionFinderCaption, false, AskType::kInformation);
  }
  return answer.newestVersion;
}

} // namespace zuro
