#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "log/ZuroLog.h"

namespace zuro {
namespace {

namespace fs = std::filesystem;

class LogFile : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zurolog-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "Du70 Firmware Updater.errors.txt").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  fs::path dir_;
  std::string path_;
};

TEST(LogTimeStamp, DayAndHourWithoutLeadingZeros) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 9;
  t.tm_hour = 7;
  t.tm_min = 5;
  t.tm_sec = 3;
  EXPECT_EQ(LogTimeStamp(t), "9 Mar 2024 7:05:03");
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 59;
  EXPECT_EQ(LogTimeStamp(t), "31 Dec 2024 23:59:59");
}

TEST_F(LogFile, LineFormatIsStampModuleMessageCrLf) {
  ZuroLog log(path_.c_str(), kLogDetails, false);
  EXPECT_FALSE(fs::exists(path_)) << "construction creates no file";
  const int n = log.LogMessage(kLogFailures, "ZuroBSL", "BSLEraseFlash failed with error %d (%ld s)",
                               -110, 17L);
  const std::string text = Read(path_);
  EXPECT_EQ(n, static_cast<int>(text.size()));
  const std::regex line(
      R"(^[1-9]\d? (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d{1,2}:\d{2}:\d{2} - )"
      R"(ZuroBSL: BSLEraseFlash failed with error -110 \(17 s\)\r\n$)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
  // A message with its own line break is written as it is, with one CR LF added.
  log.LogMessage(kLogFailures, "ErrorOK Told User:", "two\nlines");
  EXPECT_NE(Read(path_).find(": two\nlines\r\n"), std::string::npos);
}

TEST_F(LogFile, LevelRules) {
  struct Case {
    std::uint32_t logLevel;
    std::uint32_t messageLevel;
    bool written;
  };
  const Case cases[] = {
      {kLogDetails, kLogTraces, false}, {kLogDetails, kLogDetails, true},
      {kLogDetails, kLogFailures, true}, {kLogNone, kLogFailures, false},
      {kLogNone, kLogNone, true},        {25, kLogFailures, true},  // 25 is invalid: level 1
      {25, kLogMilestones, false},       {kLogTraces, kLogTraces, true},
  };
  for (const auto& c : cases) {
    fs::remove(path_);
    ZuroLog log(path_.c_str(), c.logLevel, false);
    const int n = log.LogMessage(c.messageLevel, "T", "m");
    EXPECT_EQ(n > 0, c.written) << c.logLevel << "/" << c.messageLevel;
    EXPECT_EQ(fs::exists(path_), c.written);
  }
}

TEST_F(LogFile, SetLevelAcceptsOnlyTheFiveLevels) {
  ZuroLog log(path_.c_str(), kLogFailures, false);
  EXPECT_FALSE(log.SetLevel(25));
  EXPECT_EQ(log.Level(), kLogFailures);
  for (std::uint32_t level : {0u, 1u, 10u, 30u, 40u}) {
    EXPECT_TRUE(log.SetLevel(level));
    EXPECT_EQ(log.Level(), level);
  }
}

TEST_F(LogFile, AppendsOrDeletesFirst) {
  Write(path_, "old line\r\n");
  {
    ZuroLog log(path_.c_str(), kLogFailures, false);
    log.LogMessage(kLogFailures, "T", "new");
    EXPECT_EQ(Read(path_).rfind("old line\r\n", 0), 0u);
  }
  ZuroLog fresh(path_.c_str(), kLogFailures, true);
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(LogFile, NullNameWritesErrorTxtInTheCurrentFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  ZuroLog log(nullptr, kLogFailures, false);
  EXPECT_GT(log.LogMessage(kLogFailures, "T", "x"), 0);
  EXPECT_TRUE(fs::exists(dir_ / "error.txt"));
  fs::current_path(before);
}

TEST_F(LogFile, MissingFolderDropsLinesAndSizeIsNegative) {
  const std::string missing = (dir_ / "no-such-folder" / "log.txt").string();
  ZuroLog log(missing.c_str(), kLogTraces, false);
  EXPECT_EQ(log.LogMessage(kLogFailures, "T", "lost"), 0);
  EXPECT_LT(log.FileSize(), 0);
  EXPECT_FALSE(log.KeepTail(32768));
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(fs::exists(missing + ".temp"));
}

TEST_F(LogFile, FileSizeCountsBytes) {
  ZuroLog log(path_.c_str(), kLogFailures, false);
  const int n = log.LogMessage(kLogFailures, "T", "abc");
  EXPECT_EQ(log.FileSize(), n);
}

std::string Lines(std::size_t totalBytes) {
  std::string text;
  for (int i = 0; text.size() < totalBytes; ++i) {
    text += "line " + std::to_string(i) + " of the log with some detail\r\n";
  }
  text.resize(totalBytes);
  return text;
}

TEST_F(LogFile, KeepTailSmallFileUnchanged) {
  const std::string text = Lines(10000);
  Write(path_, text);
  ZuroLog log(path_.c_str(), kLogFailures, false);
  EXPECT_TRUE(log.KeepTail(32768));
  EXPECT_EQ(Read(path_), text);
}

TEST_F(LogFile, KeepTailLargeFileKeepsWholeLastLines) {
  const std::string text = Lines(100000);
  Write(path_, text);
  ZuroLog log(path_.c_str(), kLogFailures, false);
  EXPECT_TRUE(log.KeepTail(32768));
  const std::string kept = Read(path_);
  EXPECT_LE(kept.size(), 32768u);
  EXPECT_GT(kept.size(), 32768u - 100);
  EXPECT_EQ(kept.rfind("line ", 0), 0u) << "starts with a complete line";
  EXPECT_EQ(text.substr(text.size() - kept.size()), kept);
  EXPECT_FALSE(fs::exists(path_ + ".temp"));
}

TEST_F(LogFile, KeepTailWithoutLineFeedsLeavesEmptyFile) {
  Write(path_, std::string(100000, 'x'));
  ZuroLog log(path_.c_str(), kLogFailures, false);
  EXPECT_TRUE(log.KeepTail(32768));
  EXPECT_TRUE(fs::exists(path_));
  EXPECT_EQ(Read(path_), "");
}

TEST_F(LogFile, KeepTailAtALineBoundaryKeepsThatLine) {
  // The cut falls exactly after a line feed: the line starting there is whole.
  const std::string text = "first line\n" + std::string(20, 'b') + "\n";
  Write(path_, text);
  ZuroLog log(path_.c_str(), kLogFailures, false);
  EXPECT_TRUE(log.KeepTail(21));
  EXPECT_EQ(Read(path_), std::string(20, 'b') + "\n");
}

TEST_F(LogFile, KeepTailOnMissingFileCreatesNothing) {
  ZuroLog log(path_.c_str(), kLogFailures, false);
  EXPECT_FALSE(log.KeepTail(32768));
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(LogFile, KeepTailThatCannotWriteItsCopyKeepsTheLog) {
  // A directory where the temporary file must go makes the copy fail; the log
  // must stay whole and in place.
  const std::string text = Lines(50000);
  Write(path_, text);
  fs::create_directories(path_ + ".temp/inside");
  ZuroLog log(path_.c_str(), kLogFailures, false);
  EXPECT_FALSE(log.KeepTail(32768));
  EXPECT_EQ(Read(path_), text);
}

}  // namespace
}  // namespace zuro
