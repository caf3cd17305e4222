// The one diagnostic log of the updater. Every layer writes one line per event;
// the user can attach the file to a feedback report, so it is also the field
// record of what happened on the line. The file is opened, appended to and
// closed for every line, so another program may read or copy it at any time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace zuro {

constexpr std::uint32_t kLogNone = 0;        ///< only level-0 messages
constexpr std::uint32_t kLogFailures = 1;    ///< failures and every notice shown to the user
constexpr std::uint32_t kLogMilestones = 10; ///< an operation succeeded
constexpr std::uint32_t kLogDetails = 30;    ///< ports opened and closed, answers that did not come
constexpr std::uint32_t kLogTraces = 40;     ///< byte counts of every read and write, wait results

/// The date and time part of a log line: "9 Mar 2024 7:05:03".
std::string LogTimeStamp(const std::tm& local);

class ZuroLog {
public:
  /// `fileName` null means "error.txt" in the current folder. A level other than
  /// 0, 1, 10, 30 or 40 becomes 1. `deleteFirst` removes an existing file. Never
  /// fails and creates no file: the first line written creates it.
  ZuroLog(const char* fileName, std::uint32_t level, bool deleteFirst);

  /// True and in force for a valid level; false and the old level stays otherwise.
  bool SetLevel(std::uint32_t level);
  std::uint32_t Level() const { return level_; }
  const std::string& FileName() const { return fileName_; }

  /// Writes one line when `level` is at most the log's level. Returns the
  /// characters written, or 0 when nothing was written. Never reports an error.
  int LogMessage(std::uint32_t level, const char* module, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

  /// Size of the file in bytes, or the negated error number.
  std::int64_t FileSize() const;

  /// Shortens the file to its last whole lines within the final `maxBytes`
  /// bytes. True when the file is now at most that long.
  bool KeepTail(std::int64_t maxBytes);

  static bool IsValidLevel(std::uint32_t level);

private:
  std::string fileName_;
  std::uint32_t level_;
};

}  // namespace zuro
