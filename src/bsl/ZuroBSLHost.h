// The computer's side of the ZuroBSL boot loader: a serial port with the
// boot-loader protocol on top, carrying the one firmware image to be written
// (the built-in image, or a TI-TXT file loaded in factory mode). It starts the
// boot loader from the running firmware, erases information memory and flash,
// writes the image block by block and finally the interrupt vectors; every
// step retries a bounded number of times, reports progress and logs its outcome.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "bsl/BuiltInImage.h"
#include "bsl/ImageText.h"
#include "core/ResultCodes.h"
#include "log/ZuroLog.h"
#include "serial/ZuroSerial.h"

namespace zuro {

/// The progress callback of the front end (`ReportProgress`): total, done,
/// phase (1 while running, 2 once at the end, also after a failure) and the
/// letter ('X' erasing, 'W' writing). False stops the operation with -40; the
/// phase 2 answer is ignored.
using ReportProgress =
    std::function<bool(std::uint32_t total, std::uint32_t done, int phase, char letter)>;

/// What a firmware file's name says about its image.
struct ImageFileName {
  std::string name;      ///< at most kImageNameMax characters
  std::uint8_t kind = 0; ///< device kind code 1-24, or 0 when the name names none
  std::int32_t version = 0;
};

/// Name, kind and version from a file path: the name after the last folder
/// separator cut at ".txt", its first word (up to a blank, "-" or "_") as the
/// kind's identity code, the digits after the first blank or "-" as the
/// version, and a "-" between two digits at the end shown as ".".
ImageFileName ParseImageFileName(std::string_view path);

class ZuroBSLHost : public ZuroSerial {
public:
  static constexpr std::size_t kImageNameMax = 64;    ///< characters of imageName
  static constexpr std::size_t kMaxNumbers = 128;     ///< number fields per command
  static constexpr std::size_t kMaxData = 512;        ///< data characters per command
  static constexpr std::size_t kAnswerMax = 20;       ///< answer characters read per command
  static constexpr std::size_t kPromptAnswerMax = 31; ///< characters read after boot, CR, P
  static constexpr std::size_t kCommandBufferSize = 544;
  static constexpr std::uint32_t kWriteBlockAdvance = kMaxData / 2; ///< bytes per full W block
  static constexpr std::uint32_t kFlashSegmentBytes = 512;          ///< one X erases this much
  static constexpr std::uint32_t kProgressSegmentStride = 10;       ///< X progress every n segments
  static constexpr std::uint32_t kProgressTextStride = 512;     ///< W progress every n characters
  static constexpr std::uint32_t kProtectedFlashStart = 0xFA00; ///< 64000: never erased
  static constexpr std::uint32_t kProtectedFlashEnd = 0x10000;  ///< first address after it
  static constexpr std::uint32_t kFirmwareBaud = 9600; ///< the running firmware's link speed
  static constexpr std::uint32_t kDefaultTries = 3;    ///< BSLHandOff with tries 0

  // Waits, in milliseconds.
  static constexpr std::uint32_t kAnswerWaitMs = 1000;  ///< for a framed command's end character
  static constexpr std::uint32_t kRetryPauseMs = 175;   ///< between attempts of a command
  static constexpr std::uint32_t kPortSettleMs = 1000;  ///< after opening the port
  static constexpr std::uint32_t kBootAnswerMs = 750;   ///< for the answer to the boot request
  static constexpr std::uint32_t kPromptAnswerMs = 100; ///< for "$" and "#" while invoking
  static constexpr std::uint32_t kCheckAnswerMs = 200;  ///< for the answer to CR
  static constexpr std::uint32_t kAttachAnswerMs = 175; ///< for "#" while attaching
  static constexpr std::uint32_t kVectorsPauseMs = 50;  ///< before the vectors
  static constexpr std::uint32_t kCloseSettleMs = 100;  ///< after closing the port

  /// Copies and checks `image` (the build's built-in image unless a test
  /// gives another): imageStatus 0, or kErrDamagedImage when the copy's length
  /// or character sum differs from the figures recorded at build time, or
  /// kErrOutOfMemory.
  explicit ZuroBSLHost(ZuroLog* sharedLog, const BuiltInImage& image = kBuiltInImage,
                       SerialBackendFactory backendFactory = {});
  ~ZuroBSLHost() override;

  // --- Image ---------------------------------------------------------------

  /// Loads a TI-TXT file in place of the image. 1 when loaded; kErrNotTiTxt
  /// for an invalid file, kErrOutOfMemory, or the negated error number when
  /// it cannot be read. On any failure the image and vectors stay as they were.
  Result BSLLoadTIFile(const std::string& path);
  /// Writes the image dump (see FormatImageDump). 1 when written; the negated
  /// error number otherwise, and then no file is left at `path`.
  Result BSLWriteTIFile(const std::string& path);
  /// Sets imageName, imageKind and imageVersion from a file name.
  void ImageNameFromFile(const std::string& path);

  const std::string& imageName() const { return imageName_; }
  std::int32_t imageVersion() const { return imageVersion_; }
  std::uint8_t imageKind() const { return imageKind_; }
  Result imageStatus() const { return imageStatus_; }
  std::uint32_t imageTextLength() const { return static_cast<std::uint32_t>(imageText_.size()); }
  const std::string& imageText() const { return imageText_; }
  const VectorTable& vectors() const { return vectors_; }
  bool imageFromFile() const { return imageFromFile_; }

  // --- Boot-loader protocol ---------------------------------------------------

  /// Opens the port, starts the boot loader and asks its version. The version (> 0).
  Result BSLConnect(std::string_view portName, std::uint32_t baud, bool showProgress,
                    std::uint32_t tries);
  /// Closes a port this host opened: 1 closed, 0 nothing to close.
  Result BSLDisconnect();
  /// Takes over an open port (its handle and read-ahead buffer, see
  /// ZuroSerial::PortHandle and ReadBuffer) whose owner keeps owning it, at
  /// 9600 baud; tries 0 means kDefaultTries. 1, or kErrBslBadArgument without
  /// a handle, buffer or port name.
  Result BSLHandOff(SerialBackend* handle, char* buffer, std::string_view portName,
                    bool showProgress, std::uint32_t tries);
  /// Gives a handed-off port back without closing it. 1.
  Result BSLHandBack();
  /// Whether a boot loader listens: kErrBootLoaderActive, kErrBootLoaderWaiting or kErrNoAnswer.
  Result BSLCheck(std::string_view portName, std::uint32_t baud);
  /// Starts the boot loader from the running firmware and connects to it. 1.
  Result BSLInvocation(std::uint32_t baud);
  /// Connects to a boot loader that is already running. 1.
  Result BSLAttach();
  /// Erases `count` information-memory segments of `size` bytes from `start`.
  Result BSLEraseINFO(std::uint32_t start, std::uint32_t count, std::uint32_t size,
                      bool fiveDigitAddresses);
  /// Erases the program flash from `start` below `end` in 512-byte segments,
  /// never touching 0xFA00-0xFFFF.
  Result BSLEraseFlash(std::uint32_t start, std::uint32_t end, bool fiveDigitAddresses);
  /// Writes the image text in W blocks of 512 characters.
  Result BSLSendFirmware(bool fiveDigitAddresses);
  /// Sets the boot loader's write address.
  Result BSLSendAddress(std::uint32_t address, bool fiveDigitAddresses);
  /// Writes the interrupt vectors; the device then starts its new firmware.
  Result BSLSendVectors();

  /// One framed command with number fields ("%04X" or "%05X" each). The
  /// number of answer characters for an acknowledgement; kErrBslRefused for a
  /// refusal or another answer; serial errors as they come. One attempt.
  Result BSLCommand(char letter, const std::uint32_t* numbers, std::size_t count, char endChar,
                    std::string* answer, std::uint32_t* elapsedMs, bool fiveDigitAddresses);
  /// One framed command with data characters (the W block).
  Result BSLCommand(char letter, const char* data, std::size_t count, char endChar,
                    std::string* answer, std::uint32_t* elapsedMs);

  /// The front end's progress callback; none means no calls.
  void SetReportProgress(ReportProgress hook) { reportProgress_ = std::move(hook); }

  std::int32_t bslVersion() const { return bslVersion_; }
  bool connected() const { return connected_; }
  bool showProgress() const { return showProgress_; }
  std::uint32_t tries() const { return tries_; }

private:
  // Image fields.
  std::string imageName_;
  std::int32_t imageVersion_ = 0;
  std::uint8_t imageKind_ = 0;
  Result imageStatus_ = kOk;
  std::string imageText_;
  VectorTable vectors_{};
  bool imageFromFile_ = false;

  // Protocol fields.
  std::int32_t bslVersion_ = 0;
  bool connected_ = false;
  bool showProgress_ = false;
  std::uint32_t tries_ = kDefaultTries;
  ReportProgress reportProgress_;
  std::array<char, kCommandBufferSize> commandBuffer_{};

  /// The common part of both BSLCommand forms: `length` frame characters
  /// (checksum included) are in commandBuffer_.
  Result SendFrame(std::size_t length, char endChar, std::string* answer, std::uint32_t* elapsedMs);
  /// Appends ".", the checksum of the frame so far and CR; the frame's length.
  std::size_t FinishFrame(std::size_t length);
  /// Sends a command up to tries_ times until it is acknowledged.
  Result WithRetries(const std::function<Result()>& attempt);
  Result SendAddressCommand(char letter, std::uint32_t address, bool fiveDigitAddresses);
  /// A W block, resent after its address when it fails.
  Result SendBlock(const std::string& block, std::uint32_t blockAddress, bool fiveDigitAddresses);
  /// Writes `text` and reads what came back after `waitMs`: the answer
  /// characters (0 or more) or a serial error.
  Result Exchange(std::string_view text, std::uint32_t waitMs, std::string& answer);
  bool Progress(std::uint32_t total, std::uint32_t done, int phase, char letter);
};

} // namespace zuro
