#include "bsl/ZuroBSLHost.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "bsl/FileView.h"
#include "core/Text.h"
#include "core/Time.h"
#include "service/DeviceKinds.h"

namespace zuro {

namespace {

constexpr const char* kLogTag = "ZuroBSL";
constexpr const char* kTiTxtSuffix = ".txt";
constexpr std::size_t kVersionDigitsMax = 11;
constexpr const char* kPartialSuffix = ".partial";

// Framing and wire texts of the boot loader.
constexpr char kFrameSeparator = '.';
constexpr char kCarriageReturn = '\r';
constexpr std::int32_t kChecksumModulus = 65535; ///< 0xFFFF, not 0x10000
constexpr char kAck = '+';
constexpr char kRefusal = '-';
constexpr char kUnknown = '?';
constexpr char kWaitingPrompt = '$';
constexpr char kConnectedPrompt = '#';
constexpr const char* kConnectRequest = "P";
constexpr const char* kPing = "\r";
constexpr const char* kActiveReply = "?\r";
constexpr const char* kBootAccessWord = "KWAX";
constexpr const char* kBootRequestFormat = "boot %s\r";
constexpr const char* kErrorAnswer = "ERROR";
constexpr const char* kMissingAnswer = "ZuroBSL MISSING";
constexpr const char* kOkAnswer = "OK";
constexpr char kVersionLetter = 'g';
constexpr char kAddressLetter = '@';
constexpr char kEraseLetter = 'X';
constexpr char kWriteLetter = 'W';
constexpr char kVectorsLetter = 'V';
constexpr char kEraseProgress = 'X';
constexpr char kWriteProgress = 'W';

bool Contains(const std::string& text, const char* what) {
  return text.find(what) != std::string::npos;
}

bool IsAcknowledgement(const std::string& answer) {
  return (!answer.empty() && answer[0] == kAck) || (answer.size() > 1 && answer[1] == kAck);
}

// The version between the first two plus signs of the answer to g ("+230+").
bool ReadBootLoaderVersion(const std::string& answer, std::int32_t& version) {
  const std::size_t plus = answer.find(kAck);
  if (plus == std::string::npos) {
    return false;
  }
  std::int64_t value = 0;
  std::size_t i = plus + 1;
  const std::size_t first = i;
  while (i < answer.size() && answer[i] >= '0' && answer[i] <= '9' && value <= INT32_MAX) {
    value = value * 10 + (answer[i] - '0');
    ++i;
  }
  if (i == first || value <= 0 || value > INT32_MAX) {
    return false;
  }
  version = static_cast<std::int32_t>(value);
  return true;
}

void LogLine(ZuroLog* log, std::uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void LogLine(ZuroLog* log, std::uint32_t level, const char* format, ...) {
  if (log == nullptr) {
    return;
  }
  std::va_list args;
  va_start(args, format);
  const std::string text = StrFormatV(format, args);
  va_end(args);
  log->LogMessage(level, kLogTag, "%s", text.c_str());
}

int ElapsedMsInt(std::uint32_t start) {
  return static_cast<int>(ElapsedMs(start));
}
long ElapsedSeconds(std::uint32_t start) {
  return static_cast<long>(ElapsedMs(start) / 1000);
}

} // namespace

ImageFileName ParseImageFileName(std::string_view path) {
  ImageFileName out;
  const std::size_t slash = path.find_last_of("\\/");
  const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  BoundedCopy(out.name, file, ZuroBSLHost::kImageNameMax);
  const std::size_t suffix = out.name.find(kTiTxtSuffix);
  if (suffix != std::string::npos) {
    out.name.resize(suffix);
  }

  const std::size_t prefixEnd = out.name.find_first_of(" -_");
  out.kind = static_cast<std::uint8_t>(DeviceKindFromCode(std::string_view(out.name).substr(
      0, prefixEnd == std::string::npos ? out.name.size() : prefixEnd)));

  const std::size_t versionStart = out.name.find_first_of(" -");
  if (versionStart != std::string::npos) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (std::size_t i = versionStart + 1; i < out.name.size() && digits < kVersionDigitsMax; ++i) {
      const char c = out.name[i];
      if (c >= '0' && c <= '9') {
        value = value * 10 + (c - '0');
        ++digits;
      }
    }
    out.version = value <= INT32_MAX ? static_cast<std::int32_t>(value) : 0;
  }

  const std::size_t dash = out.name.rfind('-');
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (dash != std::string::npos && dash > 0 && dash + 1 < out.name.size() &&
      isDigit(out.name[dash - 1]) && isDigit(out.name[dash + 1])) {
    out.name[dash] = '.';
  }
  return out;
}

ZuroBSLHost::ZuroBSLHost(ZuroLog* sharedLog, const BuiltInImage& image,
                         SerialBackendFactory backendFactory)
    : ZuroSerial(sharedLog, std::move(backendFactory)) {
  try {
    BoundedCopy(imageName_, image.name != nullptr ? image.name : "", kImageNameMax);
    imageKind_ = image.kind;
    vectors_ = image.vectors;
    imageText_.assign(image.text != nullptr ? image.text : "");
  } catch (const std::bad_alloc&) {
    imageStatus_ = kErrOutOfMemory;
    return;
  }
  // The copy must be exactly what the build embedded: a damaged program must
  // not write a damaged image into an instrument.
  if (imageText_.size() != image.textLength || ImageTextSum(imageText_) != image.textSum) {
    imageStatus_ = kErrDamagedImage;
  }
}

ZuroBSLHost::~ZuroBSLHost() {
  // A handed-off port belongs to its owner: give it back, never close it.
  if (PortAdopted()) {
    BSLHandBack();
  } else {
    BSLDisconnect();
  }
}

// --- Image -------------------------------------------------------------------

Result ZuroBSLHost::BSLLoadTIFile(const std::string& path) {
  const std::uint32_t start = TickMs();
  FileView file;
  const Result read = file.Open(path);
  if (read == -ENOMEM) {
    LogLine(SharedLog(), kLogFailures, "BSLLoadTIFile failed with error %d (%d ms)",
            kErrOutOfMemory, ElapsedMsInt(start));
    return kErrOutOfMemory;
  }
  if (read < 0) {
    LogLine(SharedLog(), kLogFailures, "BSLLoadTIFile got error %d trying to open datafile %s",
            -read, path.c_str());
    return read;
  }
  FirmwareImage image;
  const TiTxtStatus status = ConvertTiTxt(file.Text(), image);
  if (status == TiTxtStatus::kOutOfMemory) {
    LogLine(SharedLog(), kLogFailures, "BSLLoadTIFile failed with error %d (%d ms)",
            kErrOutOfMemory, ElapsedMsInt(start));
    return kErrOutOfMemory;
  }
  if (status != TiTxtStatus::kConverted) {
    LogLine(SharedLog(), kLogMilestones,
            "BSLLoadTIFile: file %s is not a valid TI-Text file (%d ms)", path.c_str(),
            ElapsedMsInt(start));
    LogLine(SharedLog(), kLogDetails, "BSLLoadTIFile: %s", TiTxtStatusText(status));
    return kErrNotTiTxt;
  }
  imageText_.swap(image.text);
  vectors_ = image.vectors;
  imageFromFile_ = true;
  ImageNameFromFile(path);
  LogLine(SharedLog(), kLogMilestones, "BSLLoadTIFile loaded file %s (%d ms)", path.c_str(),
          ElapsedMsInt(start));
  return kDone;
}

void ZuroBSLHost::ImageNameFromFile(const std::string& path) {
  ImageFileName parsed = ParseImageFileName(path);
  imageName_.swap(parsed.name);
  imageKind_ = parsed.kind;
  imageVersion_ = parsed.version;
}

Result ZuroBSLHost::BSLWriteTIFile(const std::string& path) {
  const std::uint32_t start = TickMs();
  // Written beside the target and renamed into place, so a failed dump never
  // leaves a file that looks complete.
  const std::string partial = path + kPartialSuffix;
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) {
    const int error = errno;
    LogLine(SharedLog(), kLogFailures, "BSLWriteTIFile got error %d trying to open datafile %s",
            error, path.c_str());
    return -error;
  }
  int error = 0;
  try {
    const std::string dump = FormatImageDump(imageText_, vectors_);
    if (std::fwrite(dump.data(), 1, dump.size(), file) != dump.size()) {
      error = errno != 0 ? errno : EIO;
    }
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
  }
  if (std::fclose(file) != 0 && error == 0) {
    error = errno != 0 ? errno : EIO;
  }
  if (error == 0 && std::rename(partial.c_str(), path.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    (void)std::remove(partial.c_str());
    LogLine(SharedLog(), kLogFailures, "BSLWriteTIFile got error %d writing datafile %s", error,
            path.c_str());
    return -error;
  }
  LogLine(SharedLog(), kLogMilestones, "BSLWriteTIFile wrote file %s (%d ms)", path.c_str(),
          ElapsedMsInt(start));
  return kDone;
}

// --- Framed commands -----------------------------------------------------------

std::size_t ZuroBSLHost::FinishFrame(std::size_t length) {
  commandBuffer_[length++] = kFrameSeparator;
  std::int32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) {
    sum += static_cast<signed char>(commandBuffer_[i]);
  }
  sum %= kChecksumModulus;
  if (sum < 0) {
    sum += kChecksumModulus; // keeps the field four digits for any byte values
  }
  length += BufFormat(commandBuffer_.data() + length, commandBuffer_.size() - length, "%04X%c",
                      static_cast<unsigned>(sum), kCarriageReturn);
  return length;
}

Result ZuroBSLHost::BSLCommand(char letter, const std::uint32_t* numbers, std::size_t count,
                               char endChar, std::string* answer, std::uint32_t* elapsedMs,
                               bool fiveDigitAddresses) {
  if (!IsOpen()) {
    return kErrNoAnswer;
  }
  if (count > kMaxNumbers) {
    return kErrBslBadArgument;
  }
  if (answer == nullptr || (count > 0 && numbers == nullptr)) {
    return kErrMissingArgument;
  }
  std::size_t length = 0;
  commandBuffer_[length++] = letter;
  for (std::size_t i = 0; i < count; ++i) {
    // A number wider than its field keeps only its low digits, so every
    // field has exactly the width the boot loader counts on.
    const std::uint32_t value = fiveDigitAddresses ? numbers[i] & 0xFFFFF : numbers[i] & 0xFFFF;
    length += BufFormat(commandBuffer_.data() + length, commandBuffer_.size() - length,
                        fiveDigitAddresses ? "%05X" : "%04X", static_cast<unsigned>(value));
  }
  return SendFrame(FinishFrame(length), endChar, answer, elapsedMs);
}

Result ZuroBSLHost::BSLCommand(char letter, const char* data, std::size_t count, char endChar,
                               std::string* answer, std::uint32_t* elapsedMs) {
  if (!IsOpen()) {
    return kErrNoAnswer;
  }
  if (count > kMaxData) {
    return kErrBslBadArgument;
  }
  if (answer == nullptr || (letter != kVersionLetter && (data == nullptr || count == 0))) {
    return kErrMissingArgument;
  }
  std::size_t length = 0;
  commandBuffer_[length++] = letter;
  if (count > 0) {
    std::memcpy(commandBuffer_.data() + length, data, count);
    length += count;
  }
  return SendFrame(FinishFrame(length), endChar, answer, elapsedMs);
}

Result ZuroBSLHost::SendFrame(std::size_t length, char endChar, std::string* answer,
                              std::uint32_t* elapsedMs) {
  const std::uint32_t start = TickMs();
  answer->clear();
  ZSFlush(1);
  Result status = 0;
  std::uint32_t written = 0;
  const Result write = ZSWrite(commandBuffer_.data(), static_cast<std::uint32_t>(length), written);
  if (write < 0) {
    LogLine(SharedLog(), kLogFailures, "BSLCommand got unexpected response (%d) from ZCommWrite",
            write);
    status = write;
  } else {
    const Result wait = ZSWait(kAnswerWaitMs, endChar);
    if (wait < 0) {
      LogLine(SharedLog(), kLogFailures, "BSLCommand got unexpected response (%d) from ZCommWait",
              wait);
      status = wait;
    } else {
      // A time-out is not an error: what came is judged below.
      char buffer[kAnswerMax + 1] = {};
      std::uint32_t got = 0;
      const Result read = ZSRead(buffer, kAnswerMax, got);
      if (read < 0) {
        LogLine(SharedLog(), kLogFailures, "BSLCommand got unexpected response (%d) from ZCommRead",
                read);
        status = read;
      }
      answer->assign(buffer, got);
      if (got == 0 && status == 0) {
        status = kErrNoAnswer;
      }
    }
  }
  if (elapsedMs != nullptr) {
    *elapsedMs = ElapsedMs(start);
  }
  if (IsAcknowledgement(*answer)) {
    return static_cast<Result>(answer->size());
  }
  if (!answer->empty() && (answer->front() == kRefusal || answer->front() == kUnknown)) {
    return kErrBslRefused;
  }
  return status < 0 ? status : kErrBslRefused;
}

Result ZuroBSLHost::WithRetries(const std::function<Result()>& attempt) {
  Result result = kErrBslNoAttempt;
  for (std::uint32_t i = 0; i < tries_; ++i) {
    if (i > 0) {
      DelayMs(kRetryPauseMs);
    }
    result = attempt();
    if (result > 0) {
      break;
    }
  }
  return result;
}

Result ZuroBSLHost::SendAddressCommand(char letter, std::uint32_t address,
                                       bool fiveDigitAddresses) {
  std::string answer;
  return WithRetries([&] {
    return BSLCommand(letter, &address, 1, kCarriageReturn, &answer, nullptr, fiveDigitAddresses);
  });
}

bool ZuroBSLHost::Progress(std::uint32_t total, std::uint32_t done, int phase, char letter) {
  if (!showProgress_ || !reportProgress_) {
    return true;
  }
  return reportProgress_(total, done, phase, letter);
}

// --- Connection ----------------------------------------------------------------

Result ZuroBSLHost::Exchange(std::string_view text, std::uint32_t waitMs, std::string& answer) {
  answer.clear();
  std::uint32_t written = 0;
  const Result write = ZSWrite(text.data(), static_cast<std::uint32_t>(text.size()), written);
  if (write < 0) {
    return write;
  }
  DelayMs(waitMs);
  char buffer[kPromptAnswerMax + 1] = {};
  std::uint32_t got = 0;
  const Result read = ZSRead(buffer, kPromptAnswerMax, got);
  if (read < 0) {
    return read;
  }
  answer.assign(buffer, got);
  return static_cast<Result>(got);
}

Result ZuroBSLHost::BSLConnect(std::string_view portName, std::uint32_t baud, bool showProgress,
                               std::uint32_t tries) {
  if (portName.empty()) {
    return kErrMissingArgument;
  }
  showProgress_ = showProgress;
  tries_ = tries;
  const Result open = ZSOpen(portName, kFirmwareBaud);
  if (open < 0) {
    LogLine(SharedLog(), kLogFailures, "BSLConnect received error while opening serial port (%d)",
            open);
    return open;
  }
  connected_ = true;
  DelayMs(kPortSettleMs);

  Result result = kErrBslNoAttempt;
  for (std::uint32_t i = 0; i < tries_; ++i) {
    result = BSLInvocation(baud);
    if (result < 0) {
      // The boot loader may be running already from an update that stopped.
      if (BSLCheck(portName, baud) != kErrBootLoaderActive) {
        break;
      }
      result = kDone;
    }
    std::string answer;
    const Result g = BSLCommand(kVersionLetter, static_cast<const char*>(nullptr), 0,
                                kCarriageReturn, &answer, nullptr);
    if (Contains(answer, kErrorAnswer)) {
      result = kErrBootLoader;
      DelayMs(kRetryPauseMs);
    } else if (g < 0) {
      result = g;
      DelayMs(kRetryPauseMs);
    } else if (std::int32_t version = 0; ReadBootLoaderVersion(answer, version)) {
      bslVersion_ = version;
      result = version;
      break;
    } else {
      // An acknowledgement without a version is no connection; try again.
      result = kErrBslRefused;
    }
  }
  if (result < 0) {
    BSLDisconnect();
    LogLine(SharedLog(), kLogFailures, "BSLConnect failed to connect to device (error %d)", result);
  } else {
    LogLine(SharedLog(), kLogMilestones,
            "BSLConnect connected to device running ZuroBSL version %d", bslVersion_);
  }
  return result;
}

Result ZuroBSLHost::BSLInvocation(std::uint32_t baud) {
  std::string answer;
  Result result = kDone;
  bool serialError = false;
  const std::string bootRequest = StrFormat(kBootRequestFormat, kBootAccessWord);
  for (std::uint32_t i = 0; i < tries_; ++i) {
    ZSFlush(1);
    if (baud != kFirmwareBaud) {
      ZSHostBaud(kFirmwareBaud);
    }
    const Result got = Exchange(bootRequest, kBootAnswerMs, answer);
    if (got < 0) {
      result = got;
      serialError = true;
      break;
    }
    if (Contains(answer, kErrorAnswer)) {
      result = kErrBootLoader;
      DelayMs(kRetryPauseMs);
    } else if (Contains(answer, kMissingAnswer)) {
      result = kErrNoBootLoader;
      break;
    } else if (answer.find(kUnknown) != std::string::npos) {
      result = kErrBootLoaderActive;
      break;
    } else if (answer.empty()) {
      result = kErrNoBootLoader;
      DelayMs(kRetryPauseMs);
    } else {
      // "OK", "$" or any other answer ends the boot request.
      if (Contains(answer, kOkAnswer) || answer.find(kWaitingPrompt) != std::string::npos) {
        result = kDone;
      }
      break;
    }
  }

  std::uint32_t connectAttempts = 0;
  if (result > 0 && !serialError) {
    if (baud != kFirmwareBaud) {
      ZSHostBaud(baud);
    }
    for (; connectAttempts < tries_;) {
      ++connectAttempts;
      Result got = Exchange(kPing, kPromptAnswerMs, answer);
      if (got < 0) {
        result = got;
        break;
      }
      if (answer.empty() || answer[0] != kWaitingPrompt) {
        result = kErrNoBootLoader;
        continue;
      }
      ZSFlush(1);
      got = Exchange(kConnectRequest, kPromptAnswerMs, answer);
      if (got < 0) {
        result = got;
        break;
      }
      if (answer.find(kConnectedPrompt) != std::string::npos) {
        result = kDone;
        break;
      }
      result = kErrBootLoader;
      DelayMs(kRetryPauseMs);
    }
    if (result > 0 && connectAttempts == 0) {
      result = kErrBslNoAttempt;
    }
  }

  if (result > 0) {
    LogLine(SharedLog(), kLogMilestones, "BSLInvocation successful (%d tries)",
            static_cast<int>(connectAttempts));
  } else if (result == kErrBootLoaderActive) {
    LogLine(SharedLog(), kLogMilestones, "BSLInvocation found the ZuroBSL already active");
    result = kDone;
  } else {
    LogLine(SharedLog(), kLogFailures, "BSLInvocation failed with error %d", result);
  }
  return result;
}

Result ZuroBSLHost::BSLCheck(std::string_view portName, std::uint32_t baud) {
  if (connected_ && IsOpen()) {
    ZSHostBaud(baud);
  } else {
    const Result open = ZSOpen(portName, baud);
    if (open < 0) {
      LogLine(SharedLog(), kLogFailures, "BSLCheck received error while opening serial port (%d)",
              open);
      return open;
    }
    connected_ = true;
  }
  DelayMs(kPortSettleMs);
  ZSFlush(1);
  std::string answer;
  const Result got = Exchange(kPing, kCheckAnswerMs, answer);
  if (got < 0) {
    return got;
  }
  if (answer.find(kUnknown) != std::string::npos) {
    LogLine(SharedLog(), kLogMilestones, "BSLCheck found the ZuroBSL already active");
    return kErrBootLoaderActive;
  }
  if (answer.find(kWaitingPrompt) != std::string::npos) {
    LogLine(SharedLog(), kLogMilestones, "BSLCheck found the ZuroBSL waiting for a connection");
    return kErrBootLoaderWaiting;
  }
  LogLine(SharedLog(), kLogDetails, "BSLCheck didn't get a response from the ZuroBSL");
  return kErrNoAnswer;
}

Result ZuroBSLHost::BSLAttach() {
  Result result = kErrBslNoAttempt;
  std::uint32_t attempts = 0;
  std::string answer;
  while (attempts < tries_) {
    ++attempts;
    ZSFlush(1);
    Result got = Exchange(kPing, kCheckAnswerMs, answer);
    if (got < 0) {
      result = got;
      break;
    }
    if (Contains(answer, kActiveReply)) {
      result = kErrBootLoaderActive;
      break;
    }
    ZSFlush(1);
    got = Exchange(kConnectRequest, kAttachAnswerMs, answer);
    if (got < 0) {
      result = got;
      break;
    }
    if (!answer.empty() && answer[0] == kConnectedPrompt) {
      result = kDone;
      break;
    }
    result = kErrBootLoader;
    DelayMs(kRetryPauseMs);
  }
  if (result > 0) {
    LogLine(SharedLog(), kLogMilestones, "BSLAttach successful (%d tries)",
            static_cast<int>(attempts));
  } else if (result == kErrBootLoaderActive) {
    LogLine(SharedLog(), kLogMilestones, "BSLAttach found the ZuroBSL already active");
    result = kDone;
  } else {
    LogLine(SharedLog(), kLogFailures, "BSLAttach failed with error %d", result);
  }
  return result;
}

Result ZuroBSLHost::BSLDisconnect() {
  if (!connected_) {
    return 0;
  }
  const Result closed = ZSClose();
  connected_ = false;
  DelayMs(kCloseSettleMs);
  return closed;
}

Result ZuroBSLHost::BSLHandOff(SerialBackend* handle, char* buffer, std::string_view portName,
                               bool showProgress, std::uint32_t tries) {
  if (handle == nullptr || buffer == nullptr || portName.empty()) {
    LogLine(SharedLog(), kLogFailures, "BSLHandOff called with some NULL parameters");
    return kErrBslBadArgument;
  }
  AdoptPort(handle, buffer, portName, kFirmwareBaud);
  showProgress_ = showProgress;
  tries_ = tries == 0 ? kDefaultTries : tries;
  connected_ = true;
  return kDone;
}

Result ZuroBSLHost::BSLHandBack() {
  ReleaseAdoptedPort();
  connected_ = false;
  return kDone;
}

// --- Erase and write -------------------------------------------------------------

Result ZuroBSLHost::BSLEraseINFO(std::uint32_t start, std::uint32_t count, std::uint32_t size,
                                 bool fiveDigitAddresses) {
  const std::uint32_t begin = TickMs();
  std::uint32_t address = start;
  Result result = kDone;
  for (std::uint32_t i = 0; i < count; ++i) {
    result = SendAddressCommand(kEraseLetter, address, fiveDigitAddresses);
    if (result <= 0) {
      break;
    }
    address += size;
  }
  if (result <= 0) {
    LogLine(SharedLog(), kLogFailures, "BSLEraseINFO failed with error %d (%ld ms)", result,
            static_cast<long>(ElapsedMs(begin)));
    return result;
  }
  LogLine(SharedLog(), kLogMilestones, "BSLEraseINFO successful: %d segments @ %X (%ld ms)",
          static_cast<int>(count), address, static_cast<long>(ElapsedMs(begin)));
  return kDone;
}

namespace {
// The next 512-byte segment, stepping over the area that holds the vectors.
std::uint32_t NextFlashSegment(std::uint32_t address) {
  address += ZuroBSLHost::kFlashSegmentBytes;
  if (address >= ZuroBSLHost::kProtectedFlashStart && address < ZuroBSLHost::kProtectedFlashEnd) {
    address = ZuroBSLHost::kProtectedFlashEnd;
  }
  return address;
}
} // namespace

Result ZuroBSLHost::BSLEraseFlash(std::uint32_t start, std::uint32_t end, bool fiveDigitAddresses) {
  const std::uint32_t begin = TickMs();
  if ((start >= kProtectedFlashStart && start < kProtectedFlashEnd) || start >= end ||
      end > kImageAddressLimit) {
    LogLine(SharedLog(), kLogFailures, "BSLEraseFlash failed with error %d (%ld s)",
            kErrBslBadArgument, ElapsedSeconds(begin));
    return kErrBslBadArgument;
  }
  std::uint32_t total = 0;
  for (std::uint32_t a = start; a < end; a = NextFlashSegment(a)) {
    ++total;
  }
  Result result = kDone;
  std::uint32_t done = 0;
  for (std::uint32_t address = start; address < end; address = NextFlashSegment(address)) {
    if (done % kProgressSegmentStride == 0 && !Progress(total, done, 1, kEraseProgress)) {
      result = kErrStopped;
      break;
    }
    result = SendAddressCommand(kEraseLetter, address, fiveDigitAddresses);
    if (result <= 0) {
      break;
    }
    ++done;
  }
  Progress(total, total, 2, kEraseProgress);
  if (result <= 0) {
    LogLine(SharedLog(), kLogFailures, "BSLEraseFlash failed with error %d (%ld s)", result,
            ElapsedSeconds(begin));
    return result;
  }
  LogLine(SharedLog(), kLogMilestones, "BSLEraseFlash successful: segment %X to %X (%ld s)", start,
          end, ElapsedSeconds(begin));
  return kDone;
}

Result ZuroBSLHost::BSLSendAddress(std::uint32_t address, bool fiveDigitAddresses) {
  const Result result = SendAddressCommand(kAddressLetter, address, fiveDigitAddresses);
  if (result <= 0) {
    LogLine(SharedLog(), kLogFailures, "BSLSendAddress (%05X) failed with error %d", address,
            result);
  } else {
    LogLine(SharedLog(), kLogMilestones, "BSLSendAddress (%05X) successful", address);
  }
  return result;
}

Result ZuroBSLHost::SendBlock(const std::string& block, std::uint32_t blockAddress,
                              bool fiveDigitAddresses) {
  std::string answer;
  Result result = kErrBslNoAttempt;
  for (std::uint32_t i = 0; i < tries_; ++i) {
    result =
        BSLCommand(kWriteLetter, block.data(), block.size(), kCarriageReturn, &answer, nullptr);
    if (result > 0) {
      return result;
    }
    if (i + 1 < tries_) {
      // The device may have written part of the block: set the address again.
      DelayMs(kRetryPauseMs);
      const Result address = BSLSendAddress(blockAddress, fiveDigitAddresses);
      if (address <= 0) {
        return address;
      }
    }
  }
  return result;
}

Result ZuroBSLHost::BSLSendFirmware(bool fiveDigitAddresses) {
  const std::uint32_t begin = TickMs();
  if (imageText_.empty()) {
    LogLine(SharedLog(), kLogFailures, "BSLSendFirmware failed with error %d (%d s)",
            kErrMissingArgument, 0);
    return kErrMissingArgument;
  }
  // Checked whole before the first byte goes out: every marker readable and,
  // for a device with 16-bit addresses, within 64 KiB (a cut address would
  // write the program over the wrong memory).
  std::vector<ImageSegment> segments;
  bool fits = imageText_.front() == kImageMarker && SplitImageText(imageText_, segments);
  for (const ImageSegment& s : segments) {
    fits = fits && (fiveDigitAddresses || s.address + s.bytes.size() <= 0x10000);
  }
  if (!fits) {
    LogLine(SharedLog(), kLogFailures, "BSLSendFirmware failed with error %d (%d s)",
            kErrBslBadArgument, 0);
    return kErrBslBadArgument;
  }

  const auto total = static_cast<std::uint32_t>(imageText_.size());
  Result result = kDone;
  std::string block;
  block.reserve(kMaxData);
  std::uint32_t blockAddress = 0;
  std::size_t pos = 0;
  while (pos < imageText_.size()) {
    if (pos % kProgressTextStride == 0 &&
        !Progress(total, static_cast<std::uint32_t>(pos), 1, kWriteProgress)) {
      result = kErrStopped;
      break;
    }
    if (imageText_[pos] == kImageMarker) {
      if (!block.empty()) {
        result = SendBlock(block, blockAddress, fiveDigitAddresses);
        block.clear();
        if (result <= 0) {
          break;
        }
      }
      std::uint32_t address = 0;
      for (std::size_t i = 1; i < kImageMarkerLength; ++i) {
        const char c = imageText_[pos + i];
        address = (address << 4) | static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
      }
      blockAddress = fiveDigitAddresses ? address : address & 0xFFFF;
      pos += kImageMarkerLength;
      result = BSLSendAddress(blockAddress, fiveDigitAddresses);
      if (result <= 0) {
        break;
      }
      continue;
    }
    block += imageText_[pos++];
    if (block.size() == kMaxData) {
      result = SendBlock(block, blockAddress, fiveDigitAddresses);
      block.clear();
      if (result <= 0) {
        break;
      }
      blockAddress += kWriteBlockAdvance;
    }
  }
  if (result > 0 && !block.empty()) {
    result = SendBlock(block, blockAddress, fiveDigitAddresses);
  }
  Progress(total, total, 2, kWriteProgress);
  if (result <= 0) {
    LogLine(SharedLog(), kLogFailures, "BSLSendFirmware failed with error %d (%d s)", result,
            static_cast<int>(ElapsedSeconds(begin)));
    return result;
  }
  LogLine(SharedLog(), kLogMilestones, "BSLSendFirmware successful (%d s)",
          static_cast<int>(ElapsedSeconds(begin)));
  return kDone;
}

Result ZuroBSLHost::BSLSendVectors() {
  DelayMs(kVectorsPauseMs);
  std::array<std::uint32_t, kVectorCount> words{};
  for (std::size_t k = 0; k < kVectorCount; ++k) {
    words[k] = vectors_[k];
  }
  std::string answer;
  const Result result = WithRetries([&] {
    return BSLCommand(kVectorsLetter, words.data(), words.size(), kAck, &answer, nullptr, false);
  });
  if (result <= 0) {
    LogLine(SharedLog(), kLogFailures, "BSLSendVectors failed with error %d", result);
  } else {
    LogLine(SharedLog(), kLogMilestones, "BSLSendVectors successful");
  }
  return result;
}

} // namespace zuro
