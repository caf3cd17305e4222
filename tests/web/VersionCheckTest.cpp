// The version answer, the user's texts and the web host setting, without a
// server.
#include "web/VersionCheck.h"

#include <QStringList>
#include <gtest/gtest.h>

#include "core/ResultCodes.h"
#include "web/WebClient.h"
#include "web/WebHost.h"

namespace zuro {
namespace {

struct AnswerCase {
  const char* answer;
  Result status;
  std::int32_t version;
  const char* address;
  bool direct;
};

TEST(VersionAnswer, ReadsWholeAndFractionalVersionsAndTheAddress) {
  const AnswerCase cases[] = {
      {"231 http://www.brenvik.com/dl/Du70-231.exe", kOk, 231,
       "http://www.brenvik.com/dl/Du70-231.exe", true},
      {"2.31\r\nhttp://www.brenvik.com/du70.html", kOk, 231, "http://www.brenvik.com/du70.html",
       false},
      {"2.31\nhttp://a.b/x.html\r\n", kOk, 231, "http://a.b/x.html", false},
      {"3 http://a.b/", kOk, 300, "http://a.b/", false},
      {"2 http", kOk, 200, "http", false},
      {"231  \r\n http://a.b/ \r\n", kOk, 231, "http://a.b/", false},
      {"10 http://a.b/", kOk, 10, "http://a.b/", false}, // whole numbers from 10 are hundredths
      {"0.5 http://a.b/", kOk, 50, "http://a.b/", false},
      {"2.305 http://a.b/", kOk, 231, "http://a.b/", false}, // halves upward, exactly
      {"2.304 http://a.b/", kOk, 230, "http://a.b/", false},
      {"150.5 http://a.b/", kOk, 151, "http://a.b/", false}, // 100 and more: not scaled
      {"0 http://a.b/", kOk, 0, "http://a.b/", false},
      {"231 https://a.b/f.exe?x=1", kOk, 231, "https://a.b/f.exe?x=1", true},
      {"no address in this answer", kErrWebAnswer, 0, "", false},
      {"http://a.b/Du70.exe", kErrWebAnswer, 0, "", false}, // no version before the address
      {"Version http://a.b/", kErrWebAnswer, 0, "", false},
      {"-5 http://a.b/", kErrWebAnswer, 0, "", false},
      {"2.3.1 http://a.b/", kErrWebAnswer, 0, "", false},
      {"99999999999 http://a.b/", kErrWebAnswer, 0, "", false}, // would not fit 32 bits
      {"1e3 http://a.b/", kErrWebAnswer, 0, "", false},
      {". http://a.b/", kErrWebAnswer, 0, "", false},
      {"HTTP://A.B/ 231", kErrWebAnswer, 0, "", false}, // "http" is case-sensitive
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.answer);
    const VersionAnswer a = ParseVersionAnswer(c.answer);
    EXPECT_EQ(a.status, c.status);
    if (c.status == kOk) {
      EXPECT_EQ(a.newestVersion, c.version);
      EXPECT_EQ(a.address, c.address);
      EXPECT_EQ(a.direct, c.direct);
    }
  }
}

TEST(VersionAnswer, KeepsAtMost999CharactersOfTheAddress) {
  const std::string address = "http://a.b/" + std::string(2000, 'x');
  const VersionAnswer a = ParseVersionAnswer("231 " + address);
  ASSERT_EQ(a.status, kOk);
  EXPECT_EQ(a.address, address.substr(0, kVersionAddressMax));
  // A NUL inside the answer is just a character that is not a digit.
  EXPECT_EQ(ParseVersionAnswer(std::string("2\0003 http://a.b/", 15)).status, kErrWebAnswer);
}

TEST(VersionTexts, ComposeTheFixedPieces) {
  EXPECT_EQ(VersionParseErrorText(kErrWebAnswer),
            "Error parsing the version information returned by \nBrenvik's version check "
            "service.\n[error -1002]\n\nPlease try again or contact Brenvik for help.");
  EXPECT_EQ(VersionConnectErrorText(""),
            "Error connecting to Brenvik's version check service.\nThis feature requires your "
            "computer to be connected \nto the internet.\n\n\nPlease make a connection to the "
            "internet and try again.");
  EXPECT_EQ(VersionConnectErrorText("Connection refused"),
            VersionConnectErrorText("") + "\n\nError: Connection refused");
  EXPECT_EQ(NewVersionText("Du70 Firmware Updater", "http://x/y.exe", true),
            "There is newer version of Du70 Firmware Updater available for download.\n\nWould "
            "you like to download this new version with your web browser now?");
  EXPECT_EQ(NewVersionText("Du70 Firmware Updater", "http://x/y.html", false),
            "There is information about a newer version of Du70 Firmware Updater\navailable at "
            "http://x/y.html\n\nWould you like to visit this page with your web browser now?");
  EXPECT_EQ(BrowserLaunchErrorText("Du70 Firmware Updater", "http://x/"),
            "Du70 Firmware Updater had trouble launching your web browser.\nPlease try manually "
            "going to:\nhttp://x/");
  EXPECT_EQ(NewerThanAvailableText("Du70 Firmware Updater"),
            "You are running a newer version of Du70 Firmware Updater\nthan is available from "
            "Brenvik's web site.");
}

TEST(WebHost, OptionBeforeEnvironmentBeforeTheEncryptedDefault) {
  qunsetenv(kWebHostEnvironment);
  EXPECT_EQ(ResolveWebHost({}, nullptr), QUrl(kDefaultWebHost));
  EXPECT_EQ(QUrl(kDefaultWebHost).scheme(), "https");
  EXPECT_EQ(ResolveWebHost({"-rep", "--web-host", "http://127.0.0.1:8080"}, nullptr),
            QUrl("http://127.0.0.1:8080"));
  EXPECT_EQ(ResolveWebHost({"--web-host=https://mirror.example/zuro"}, nullptr),
            QUrl("https://mirror.example/zuro"));

  qputenv(kWebHostEnvironment, "http://127.0.0.1:9000");
  EXPECT_EQ(ResolveWebHost({}, nullptr), QUrl("http://127.0.0.1:9000"));
  EXPECT_EQ(ResolveWebHost({"--web-host", "https://a.example"}, nullptr),
            QUrl("https://a.example"));
  // Unusable values are passed over, not used.
  EXPECT_EQ(ResolveWebHost({"--web-host", "ftp://a.example"}, nullptr),
            QUrl("http://127.0.0.1:9000"));
  EXPECT_EQ(ResolveWebHost({"--web-host"}, nullptr), QUrl("http://127.0.0.1:9000"));
  qputenv(kWebHostEnvironment, "not an address");
  EXPECT_EQ(ResolveWebHost({}, nullptr), QUrl(kDefaultWebHost));
  qunsetenv(kWebHostEnvironment);
  EXPECT_EQ(WebHostName(QUrl("https://software.brenvik.com")), "software.brenvik.com");
}

TEST(WebClientRequest, CarriesTheServiceHeadersAndKeepsTheHostPrefix) {
  WebClient client;
  client.SetHost(QUrl("https://mirror.example/zuro/"));
  const QNetworkRequest r = client.MakeRequest("/versionfinder/Du70-Firmware.html");
  EXPECT_EQ(r.url(), QUrl("https://mirror.example/zuro/versionfinder/Du70-Firmware.html"));
  EXPECT_EQ(r.rawHeader("Accept"), QByteArray(kWebAcceptHeader));
  EXPECT_EQ(r.header(QNetworkRequest::UserAgentHeader).toString(), kWebUserAgent);
  EXPECT_EQ(r.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
            int(QNetworkRequest::NoLessSafeRedirectPolicy));
}

} // namespace
} // namespace zuro
