#include "serial/ZuroSerial.h"

#include <climits>
#include <cstdarg>
#include <cstring>
#include <new>

#include "core/Text.h"
#include "core/Time.h"

namespace zuro {

namespace {

constexpr const char* kSerialTag = "ZuroSerial";

/// Results are signed 32-bit byte counts, so no single transfer may exceed this.
constexpr std::uint32_t kMaxTransfer = INT32_MAX;

int AsInt(std::uint32_t value) {
  return value > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

} // namespace

ZuroSerial::ZuroSerial(ZuroLog* sharedLog, SerialBackendFactory backendFactory)
    : log_(sharedLog), counterPresent_(HighResolutionCounterPresent()),
      backendFactory_(std::move(backendFactory)) {}

ZuroSerial::~ZuroSerial() {
  ReleaseAdoptedPort();
  ZSClose();
}

std::unique_ptr<SerialBackend> ZuroSerial::MakeBackend() const {
  if (backendFactory_) {
    return backendFactory_();
  }
  return MakePlatformSerialBackend();
}

void ZuroSerial::LogPort(std::uint32_t level, const char* format, ...) const {
  if (log_ == nullptr || level > log_->Level()) {
    return;
  }
  std::va_list args;
  va_start(args, format);
  const std::string text = StrFormatV(format, args);
  va_end(args);
  log_->LogMessage(level, portName_.empty() ? kSerialTag : portName_.c_str(), "%s", text.c_str());
}

void ZuroSerial::LogSerial(std::uint32_t level, const char* format, ...) const {
  if (log_ == nullptr || level > log_->Level()) {
    return;
  }
  std::va_list args;
  va_start(args, format);
  const std::string text = StrFormatV(format, args);
  va_end(args);
  log_->LogMessage(level, kSerialTag, "%s", text.c_str());
}

std::size_t ZuroSerial::HeldText() const {
  return readBuffer_ == nullptr ? 0 : strnlen(readBuffer_, kReadBufferMaxText);
}

void ZuroSerial::LendReadBuffer(char* buffer) {
  if (adopted_ || (ownsBuffer_ && IsOpen())) {
    return; // the buffer in use belongs to an open port; it stays until that closes
  }
  ownedBuffer_.reset();
  readBuffer_ = buffer;
  ownsBuffer_ = false;
}

void ZuroSerial::AdoptPort(SerialBackend* handle, char* buffer, std::string_view name,
                           std::uint32_t baud) {
  if (adopted_) {
    ReleaseAdoptedPort();
  }
  ZSClose();
  ownLentBuffer_ = readBuffer_;
  portHandle_ = handle;
  readBuffer_ = buffer;
  ownsBuffer_ = false;
  BoundedCopy(portName_, name, kPortNameMaxChars);
  hostBaud_ = baud;
  waitFound_ = false;
  adopted_ = true;
}

void ZuroSerial::ReleaseAdoptedPort() {
  if (!adopted_) {
    return;
  }
  portHandle_ = nullptr;
  readBuffer_ = ownLentBuffer_;
  ownLentBuffer_ = nullptr;
  waitFound_ = false;
  adopted_ = false;
}

Result ZuroSerial::ZSOpen(const char* portName, std::uint32_t baud) {
  return ZSOpen(portName == nullptr ? std::string_view{} : std::string_view{portName}, baud);
}

Result ZuroSerial::ZSOpen(std::string_view portName, std::uint32_t baud) {
  if (IsOpen()) {
    LogSerial(kLogTraces, "ZSOpen found port \"%d\" already open",
              static_cast<int>(portHandle_->Handle()));
    ZSClose();
    DelayMs(kReopenPauseMs);
  } else if (adopted_) {
    ReleaseAdoptedPort(); // the owner closed it; it is no longer ours to use
  }
  return OpenChecked(portName, baud);
}

Result ZuroSerial::OpenChecked(std::string_view portName, std::uint32_t baud) {
  // A refused name is not kept: a cut name could be another, existing port.
  if (portName.empty()) {
    portName_.clear();
    LogSerial(kLogFailures, "ZSOpen was given no port name");
    return kErrMissingArgument;
  }
  if (portName.size() > kPortNameMaxChars) {
    portName_.clear();
    LogSerial(kLogFailures, "ZSOpen refused a port name of %zu characters (at most %zu)",
              portName.size(), kPortNameMaxChars);
    return kErrPortNameTooLong;
  }
  if (portName.find('\0') != std::string_view::npos) {
    portName_.clear();
    LogSerial(kLogFailures, "ZSOpen refused a port name with a zero byte in it");
    return kErrPortUnavailable;
  }
  portName_.assign(portName.data(), portName.size());

  if (!ownedPort_) {
    ownedPort_ = MakeBackend();
    if (!ownedPort_) {
      LogPort(kLogFailures, "ZSOpen could not get a port object");
      return kErrOutOfMemory;
    }
  }
  SerialBackend& port = *ownedPort_;
  const Result opened = port.Open(PlatformDevicePath(portName));
  if (opened < 0) {
    LogPort(kLogFailures, "ZSOpen failed to open comm port (error %d)", -opened);
    return opened;
  }
  portHandle_ = &port;

  if (const Result r = port.SetQueueSizes(kQueueBytes, kQueueBytes); r < 0) {
    LogPort(kLogTraces, "ZSOpen failed to set buffer size on comm port (error %d)", -r);
  }
  if (const Result r = port.ReadLineSettings(); r < 0) {
    LogPort(kLogFailures, "ZSOpen failed to retreive DCB on comm port (error %d)", -r);
    return r;
  }
  hostBaud_ = baud == 0 ? kDefaultBaud : baud;
  if (const Result r = port.ApplyLineSettings(hostBaud_); r < 0) {
    LogPort(kLogFailures, "ZSOpen failed to apply DCB on comm port (error %d)", -r);
    return r;
  }
  if (const Result r = port.SetTimeouts(kFirstByteTimeoutMs, kWritePerByteMs, kWriteExtraMs);
      r < 0) {
    LogPort(kLogFailures, "ZSOpen failed to set timeouts on comm port (error %d)", -r);
    return r;
  }
  if (const Result r = port.RaiseModemLines(); r < 0) {
    LogPort(kLogTraces, "ZSOpen failed to raise DTR and RTS on comm port (error %d)", -r);
  }

  if (readBuffer_ == nullptr) {
    ownedBuffer_.reset(new (std::nothrow) char[kReadBufferSize]);
    if (!ownedBuffer_) {
      LogPort(kLogFailures, "ZSOpen could not allocate the read-ahead buffer");
      return kErrOutOfMemory;
    }
    readBuffer_ = ownedBuffer_.get();
  }
  ownsBuffer_ = ownedBuffer_ && readBuffer_ == ownedBuffer_.get();
  std::memset(readBuffer_, 0, kReadBufferSize);
  waitFound_ = false;

  LogPort(kLogDetails, "ZSOpen successfully opened and configured comm port at %d baud",
          AsInt(hostBaud_));
  return 1;
}

Result ZuroSerial::ZSClose() {
  if (portHandle_ == nullptr || !portHandle_->IsOpen()) {
    // Never opened, a failed open, or a port that whoever shared it closed.
    if (adopted_) {
      ReleaseAdoptedPort();
    }
    portHandle_ = nullptr;
    if (ownsBuffer_) {
      ownedBuffer_.reset();
      readBuffer_ = nullptr;
      ownsBuffer_ = false;
    }
    return 0;
  }
  const Result closed = portHandle_->Close();
  if (adopted_) {
    ReleaseAdoptedPort();
  }
  portHandle_ = nullptr;
  if (ownsBuffer_) {
    ownedBuffer_.reset();
    readBuffer_ = nullptr;
    ownsBuffer_ = false;
  }
  if (closed < 0) {
    LogPort(kLogFailures, "ZSClose failed to close comm port (error %d)", 1);
    return -1;
  }
  LogPort(kLogDetails, "ZSClose closed comm port");
  return 1;
}

Result ZuroSerial::ZSRead(void* buffer, std::uint32_t length, std::uint32_t& got) {
  got = 0;
  if (readBuffer_ == nullptr) {
    LogPort(kLogFailures, "ZSRead has no read-ahead buffer");
    return kErrOutOfMemory;
  }
  if (buffer == nullptr && length > 0) {
    LogPort(kLogFailures, "ZSRead was given no buffer");
    return kErrMissingArgument;
  }
  if (length > kMaxTransfer) {
    length = kMaxTransfer;
  }
  auto* out = static_cast<std::uint8_t*>(buffer);

  const std::size_t held = HeldText();
  if (held > 0) {
    got = static_cast<std::uint32_t>(held < length ? held : length);
    std::memcpy(out, readBuffer_, got);
    readBuffer_[0] = '\0';
    LogPort(kLogTraces, "ZSRead read %d bytes from gReadBuffer", AsInt(got));
  }
  // After a successful wait the answer is complete in the read-ahead buffer;
  // reading the port now could only take the start of the next one.
  if (held > length || waitFound_) {
    waitFound_ = false;
    return static_cast<Result>(got);
  }
  if (!IsOpen()) {
    LogSerial(kLogFailures, "ZSRead tried to read from a closed port");
    return kErrNoAnswer;
  }
  std::uint32_t fresh = 0;
  if (length > got) {
    const Result r = portHandle_->Read(out + got, length - got);
    if (r < 0) {
      LogPort(kLogFailures, "ZSRead ReadFile failed (error %d)", -r);
      return kErrNoAnswer;
    }
    fresh = static_cast<std::uint32_t>(r);
  }
  got += fresh;
  LogPort(kLogTraces, "ZSRead read %d btyes", AsInt(fresh));
  return static_cast<Result>(got);
}

Result ZuroSerial::ZSWrite(const void* data, std::uint32_t length, std::uint32_t& written) {
  written = 0;
  if (!IsOpen()) {
    LogSerial(kLogFailures, "ZSWrite tried to write to a closed port");
    return kErrNoAnswer;
  }
  if (data == nullptr && length > 0) {
    LogPort(kLogFailures, "ZSWrite was given no data");
    return kErrMissingArgument;
  }
  if (length > kMaxTransfer) {
    length = kMaxTransfer;
  }
  const Result r = portHandle_->Write(data, length);
  if (r < 0) {
    LogPort(kLogFailures, "ZSWrite WriteFile failed (error %d)", -r);
    return kErrNoAnswer;
  }
  written = static_cast<std::uint32_t>(r);
  LogPort(kLogTraces, "ZSWrite wrote %d bytes", AsInt(written));
  return r;
}

Result ZuroSerial::ZSWrite(std::string_view text) {
  std::uint32_t written = 0;
  const std::size_t length = text.size() > kMaxTransfer ? kMaxTransfer : text.size();
  return ZSWrite(text.data(), static_cast<std::uint32_t>(length), written);
}

Result ZuroSerial::ZSFlush(int purgeDriver) {
  if (purgeDriver == 1 && IsOpen()) {
    if (const Result r = portHandle_->Purge(); r < 0) {
      LogPort(kLogTraces, "ZSFlush failed to purge comm port (error %d)", -r);
    }
  }
  if (readBuffer_ != nullptr) {
    readBuffer_[0] = '\0';
  }
  return 0;
}

Result ZuroSerial::ZSWait(std::uint32_t msTimeout, char character) {
  if (!IsOpen()) {
    LogSerial(kLogFailures, "ZSWait tried to operate on a closed port");
    return kErrNoAnswer;
  }
  if (readBuffer_ == nullptr) {
    LogPort(kLogFailures, "ZSWait has no read-ahead buffer");
    return kErrOutOfMemory;
  }
  if (!counterPresent_) {
    DelayMs(msTimeout);
    waitFound_ = false;
    LogPort(kLogFailures, "ZSWait forced to wait msTimeout (%d ms)", AsInt(msTimeout));
    return 0;
  }

  const std::uint32_t start = TickMs();
  std::size_t held = 0;
  readBuffer_[0] = '\0';
  std::uint32_t emptyReads = 0;
  for (;;) {
    Result got = 0;
    const std::size_t room = kReadBufferMaxText - held;
    if (room > 0) {
      got = portHandle_->Read(readBuffer_ + held, room);
      if (got < 0) {
        LogPort(kLogFailures, "ZSWait ReadFile failed (error %d)", -got);
        return kErrNoAnswer;
      }
    } else {
      // A full buffer cannot take the character any more; the rest stays in
      // the driver. Spend the poll's time instead of spinning on it.
      DelayMs(kFirstByteTimeoutMs);
    }
    if (got > 0) {
      held += static_cast<std::size_t>(got);
      readBuffer_[held] = '\0';
      // Every held byte is searched: a zero byte ends the text ZSRead
      // delivers, but must not make the wait miss an answer behind it.
      if (std::memchr(readBuffer_, character, held) != nullptr) {
        waitFound_ = true;
        LogPort(kLogTraces, "ZSWait found '%c' in %d ms", character, AsInt(ElapsedMs(start)));
        return static_cast<unsigned char>(character);
      }
    } else {
      ++emptyReads;
    }
    // Also checked after reads that brought bytes: a peer trickling other
    // characters must not stretch the wait beyond its time-out.
    const std::uint32_t elapsed = ElapsedMs(start);
    if (elapsed > msTimeout) {
      LogPort(kLogTraces, "ZSWait read %d bytes, but never found '%c' in %d ms",
              static_cast<int>(held), character, AsInt(elapsed));
      return 0;
    }
    if (got <= 0 && emptyReads > kWaitQuickPolls && msTimeout > kWaitPauseMinTimeoutMs) {
      DelayMs(kWaitPauseMs); // lets the front end run during long waits
    }
  }
}

Result ZuroSerial::ZSHostBaud(std::uint32_t baud) {
  if (baud == 0) {
    baud = kDefaultBaud; // rate 0 would hang the line up on POSIX
  }
  if (baud == hostBaud_) {
    return 0;
  }
  if (portName_.empty()) {
    LogSerial(kLogFailures, "ZSHostBaud called without a port name");
    return kErrPortNoName;
  }
  if (!IsOpen()) {
    LogSerial(kLogFailures, "ZSHostBaud tried to operate on a closed port");
    return kErrNoAnswer;
  }
  const Result r = portHandle_->SetBaud(baud);
  if (r < 0) {
    LogPort(kLogFailures, "ZSHostBaud failed to apply new baud rate \"%d\" (error %d)", AsInt(baud),
            -r);
    return r;
  }
  hostBaud_ = baud;
  LogPort(kLogDetails, "ZSHostBaud set the port to %d baud", AsInt(baud));
  return 1;
}

} // namespace zuro
