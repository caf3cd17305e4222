// The command transport, options and state of the protocol object. Login,
// identity and link speed live in VUSKA_ProtocolLogin.cpp, the radio module in
// VUSKA_ProtocolRadio.cpp, settings in VUSKA_ProtocolSettings.cpp, clock and
// erase in VUSKA_ProtocolTime.cpp.
#include "protocol/VUSKA_Protocol.h"

#include <cstdarg>
#include <cstring>
#include <new>
#include <utility>

#include "core/Text.h"
#include "core/Time.h"
#include "protocol/AnswerParsers.h"
#include "protocol/DeviceFamilyTable.h"

namespace zuro {

namespace {
/// After an attempt that heard nothing, give the line a moment before the next one.
constexpr std::uint32_t kSilentAttemptPauseMs = 50;
constexpr std::string_view kEmptyAnswer = "\r\r>";
constexpr std::string_view kErrorWord = "ERROR";
constexpr std::string_view kUnsupportedWord = "Unsupported";
constexpr char kQuestionMark = '?';
constexpr int kTraceAnswers = 1;
constexpr int kTraceCommands = 2;
constexpr const char* kSerialTag = "ZuroSerial";
} // namespace

VUSKA_Protocol::VUSKA_Protocol(ZuroLog* log, SerialBackendFactory backendFactory)
    : ZuroSerial(log, std::move(backendFactory)),
      answerBuffer_(new (std::nothrow) char[kAnswerBufferSize]),
      readBuffer_(new (std::nothrow) char[kReadBufferSize]), protocolLog_(log) {
  options_.serialTries = kDefaultSerialTries;
  options_.radioTries = kDefaultRadioTries;
  if (answerBuffer_) {
    std::memset(answerBuffer_.get(), 0, kAnswerBufferSize);
  }
  if (readBuffer_) {
    std::memset(readBuffer_.get(), 0, kReadBufferSize);
    LendReadBuffer(readBuffer_.get());
  }
}

VUSKA_Protocol::~VUSKA_Protocol() {
  if (connection_.linkType != kLinkNone) {
    options_.keepPortOpen = 0;
    DisconnectDevice(false);
  }
  // The read-ahead buffer is ours: the port must not outlive it.
  ZSClose();
  LendReadBuffer(nullptr);
}

const char* VUSKA_Protocol::Tag() const {
  const std::string& name = PortName();
  return name.empty() ? kSerialTag : name.c_str();
}

void VUSKA_Protocol::Log(std::uint32_t level, const char* format, ...) const {
  if (protocolLog_ == nullptr || level > protocolLog_->Level()) {
    return;
  }
  std::va_list args;
  va_start(args, format);
  const std::string text = StrFormatV(format, args);
  va_end(args);
  protocolLog_->LogMessage(level, Tag(), "%s", text.c_str());
}

void VUSKA_Protocol::Pause(std::uint32_t ms) {
  DelayMs(ms);
}

void VUSKA_Protocol::SetWakeSequence(std::uint32_t packets, std::uint32_t spacingMs) {
  wakePackets_ = packets;
  wakeSpacingMs_ = spacingMs;
}

std::string_view VUSKA_Protocol::LastAnswer() const {
  return answerBuffer_ ? AnswerText(answerBuffer_.get(), kAnswerBufferSize) : std::string_view{};
}

void VUSKA_Protocol::ClearSettings() {
  settings_ = DeviceSettingsRecord{};
  resetCount_ = 0;
}

bool VUSKA_Protocol::ProgressGoOn(std::uint32_t total, std::uint32_t done, std::uint32_t stage) {
  if (options_.progressReports == 0 || !progressHook_) {
    return true;
  }
  return progressHook_(total, done, stage);
}

Result VUSKA_Protocol::WriteText(std::string_view text) {
  std::uint32_t written = 0;
  return ZSWrite(text.data(), static_cast<std::uint32_t>(text.size()), written);
}

Result VUSKA_Protocol::ConfigureProtocol(ProtocolOptions* options, int set) {
  if (options == nullptr) {
    Log(kLogFailures, "ConfigureProtocol: no options given");
    return kErrMissingArgument;
  }
  if (set == 0) {
    *options = options_;
    return kDone;
  }
  if (options->serialTries > kMaxTries || options->radioTries > kMaxTries ||
      options->traceLevel < 0 || options->traceLevel > kMaxTraceLevel ||
      options->extraAnswerTime > kMaxExtraAnswerMs) {
    Log(kLogFailures, "ConfigureProtocol: option out of range (tries %u/%u, trace %d, extra %u ms)",
        options->serialTries, options->radioTries, options->traceLevel, options->extraAnswerTime);
    return kErrProtoOutOfRange;
  }
  if (options->serialTries == 0) {
    options->serialTries = kDefaultSerialTries;
  }
  if (options->radioTries == 0) {
    options->radioTries = kDefaultRadioTries;
  }
  options_ = *options;
  commandTries_ = connection_.linkType == kLinkRadio ? options_.radioTries : options_.serialTries;
  return kDone;
}

Result VUSKA_Protocol::DeviceCommand(std::string_view command, char prompt, std::uint32_t timeoutMs,
                                     char* answer, std::uint32_t& answerLength,
                                     std::uint32_t& elapsedMs) {
  const std::uint32_t start = TickMs();
  Result result = kDone;
  std::uint32_t silentAttempts = 0;
  std::uint32_t received = 0;
  const std::uint32_t tries = commandTries_ == 0 ? 1 : commandTries_;

  if (command.empty() || !answerBuffer_) {
    // An empty command would be "found" in every answer; without the answer
    // buffer nothing can be read.
    result = command.empty() ? kErrMissingArgument : kErrOutOfMemory;
    Log(kLogFailures, "DeviceCommand cannot run (error %d)", result);
  } else {
    for (std::uint32_t attempt = 0; attempt < tries; ++attempt) {
      ZSFlush(1);
      answerBuffer_[0] = '\0';

      const Result written = WriteText(command);
      if (written < 0) {
        Log(kLogDetails, "DeviceCommand got unexpected response (%d) from ZCommWrite", written);
        result = written;
        break;
      }
      if ((options_.traceLevel & kTraceCommands) != 0 && traceHook_) {
        traceHook_(command);
      }
      const Result waited = ZSWait(timeoutMs + options_.extraAnswerTime, prompt);
      if (waited < 0) {
        Log(kLogDetails, "DeviceCommand got unexpected response (%d) from ZCommWait", waited);
        result = waited;
        break;
      }
      std::uint32_t got = 0;
      const Result read = ZSRead(answerBuffer_.get(), kMaxAnswerBytes, got);
      if (read < 0) {
        Log(kLogDetails, "DeviceCommand got unexpected response (%d) from ZCommRead", read);
        result = read;
        break;
      }
      received = got > kMaxAnswerBytes ? kMaxAnswerBytes : got;
      if (received == 0) {
        ++silentAttempts;
        Pause(kSilentAttemptPauseMs);
        result = kErrProtoLastSilent;
        continue;
      }
      answerBuffer_[received] = '\0';
      const std::string_view text = AnswerText(answerBuffer_.get(), received);
      if ((options_.traceLevel & kTraceAnswers) != 0 && traceHook_) {
        traceHook_(text);
      }
      if (text.find(command) != std::string_view::npos) {
        Log(kLogFailures,
            "DeviceCommand is hearing echoed commands -- device is broken? Relay active?");
        result = kErrProtoEcho;
        break;
      }
      if (text.find(kErrorWord) != std::string_view::npos ||
          text.find(kQuestionMark) != std::string_view::npos ||
          text.find(kUnsupportedWord) != std::string_view::npos) {
        result = kErrProtoErrorAnswer;
        continue;
      }
      result = kDone;
      break;
    }
  }

  elapsedMs = ElapsedMs(start);
  if (silentAttempts == tries) {
    result = kErrNoAnswer;
  }
  if (result < 0) {
    if (answer != nullptr && answerLength != 0) {
      answer[0] = '\0';
    }
    answerLength = 0;
    return result;
  }
  if (answer != nullptr && answerLength != 0) {
    const std::size_t copied = BoundedCopy(answer, answerLength, answerBuffer_.get());
    answerLength = static_cast<std::uint32_t>(copied);
    if (copied < received) {
      const std::string shown(command);
      Log(kLogDetails, "DeviceCommand got %d more bytes than expected (%s)",
          static_cast<int>(received - copied), shown.c_str());
    }
  }
  if (LastAnswer().substr(0, kEmptyAnswer.size()) == kEmptyAnswer) {
    Log(kLogDetails, "DeviceCommand: device returned empty answer");
    return kErrProtoEmptyAnswer;
  }
  return static_cast<Result>(received);
}

} // namespace zuro
