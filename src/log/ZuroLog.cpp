#include "log/ZuroLog.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "core/Text.h"

namespace zuro {

namespace {
constexpr const char* kDefaultLogName = "error.txt";
constexpr const char* kTempSuffix = ".temp";
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::size_t kCopyChunk = 64 * 1024;

/// Closes a FILE on every path.
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) {
      std::fclose(f);
    }
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
}  // namespace

std::string LogTimeStamp(const std::tm& local) {
  const int month = (local.tm_mon >= 0 && local.tm_mon < 12) ? local.tm_mon : 0;
  return StrFormat("%d %s %d %d:%02d:%02d", local.tm_mday, kMonthNames[month],
                   local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

bool ZuroLog::IsValidLevel(std::uint32_t level) {
  return level == kLogNone || level == kLogFailures || level == kLogMilestones ||
         level == kLogDetails || level == kLogTraces;
}

ZuroLog::ZuroLog(const char* fileName, std::uint32_t level, bool deleteFirst)
    : fileName_(fileName != nullptr ? fileName : kDefaultLogName),
      level_(IsValidLevel(level) ? level : kLogFailures) {
  if (deleteFirst) {
    std::remove(fileName_.c_str());
  }
}

bool ZuroLog::SetLevel(std::uint32_t level) {
  if (!IsValidLevel(level)) {
    return false;
  }
  level_ = level;
  return true;
}

int ZuroLog::LogMessage(std::uint32_t level, const char* module, const char* format, ...) {
  if (level > level_) {
    return 0;
  }
  FilePtr file(std::fopen(fileName_.c_str(), "ab"));
  if (!file) {
    return 0;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string stamp = LogTimeStamp(local);
  std::string line = StrFormat("%s - %s: ", stamp.c_str(), module != nullptr ? module : "");
  if (format != nullptr) {
    std::va_list args;
    va_start(args, format);
    line += StrFormatV(format, args);
    va_end(args);
  }
  line += "\r\n";
  const std::size_t written = std::fwrite(line.data(), 1, line.size(), file.get());
  return static_cast<int>(written);
}

std::int64_t ZuroLog::FileSize() const {
  struct stat st {};
  if (::stat(fileName_.c_str(), &st) != 0) {
    return -static_cast<std::int64_t>(errno);
  }
  if (!S_ISREG(st.st_mode)) {
    return -static_cast<std::int64_t>(EISDIR);
  }
  return static_cast<std::int64_t>(st.st_size);
}

bool ZuroLog::KeepTail(std::int64_t maxBytes) {
  if (maxBytes < 0) {
    return false;
  }
  FilePtr log(std::fopen(fileName_.c_str(), "rb"));
  if (!log) {
    return false;
  }
  if (std::fseek(log.get(), 0, SEEK_END) != 0) {
    return false;
  }
  const long size = std::ftell(log.get());
  if (size < 0) {
    return false;
  }
  if (size < maxBytes) {
    return true;
  }
  // Start at the first whole line within the last maxBytes bytes. A position
  // that already follows a line feed is the start of a line and is kept.
  long pos = size - static_cast<long>(maxBytes);
  bool atLineStart = pos == 0;
  if (pos > 0) {
    std::fseek(log.get(), pos - 1, SEEK_SET);
    atLineStart = std::fgetc(log.get()) == '\n';
  }
  std::fseek(log.get(), pos, SEEK_SET);
  if (!atLineStart) {
    int c = 0;
    while ((c = std::fgetc(log.get())) != EOF && c != '\n') {
    }
  }

  // The shortened copy is written in full beside the log and only then renamed
  // over it, so a failure at any step leaves the log as it was.
  const std::string tempName = fileName_ + kTempSuffix;
  FilePtr temp(std::fopen(tempName.c_str(), "wb"));
  if (!temp) {
    return false;
  }
  std::vector<char> chunk(kCopyChunk);
  bool ok = true;
  for (;;) {
    const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), log.get());
    if (n > 0 && std::fwrite(chunk.data(), 1, n, temp.get()) != n) {
      ok = false;
      break;
    }
    if (n < chunk.size()) {
      ok = std::ferror(log.get()) == 0;
      break;
    }
  }
  log.reset();
  if (std::fflush(temp.get()) != 0) {
    ok = false;
  }
  if (std::fclose(temp.release()) != 0) {
    ok = false;
  }
  if (!ok || std::rename(tempName.c_str(), fileName_.c_str()) != 0) {
    std::remove(tempName.c_str());
    return false;
  }
  return true;
}

}  // namespace zuro
