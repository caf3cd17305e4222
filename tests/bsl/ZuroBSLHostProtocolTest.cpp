// The boot-loader host against a scripted device on a pseudo-terminal: every
// frame on the wire is checked byte for byte, because a wrong address or
// checksum here writes a broken instrument.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

#include "bsl/ZuroBSLHost.h"
#include "support/PtyPair.h"
#include "support/ScriptedPeer.h"
#include "support/TestLog.h"

namespace zuro {
namespace {

using test::PtyPair;
using test::ScriptedPeer;
using test::TestLog;
using ::testing::IsEmpty;

// The frame the boot loader expects for `body` (letter and fields): the
// separator, the checksum modulo 65535 over signed bytes, CR.
std::string Frame(const std::string& body) {
  int sum = 0;
  for (const char c : body + ".") {
    sum += static_cast<signed char>(c);
  }
  char tail[16];
  std::snprintf(tail, sizeof tail, ".%04X\r", sum % 65535);
  return body + tail;
}

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

TEST(BootLoaderFrame, KnownFramesOfTheBootLoader) {
  EXPECT_EQ(Frame("g"), "g.0095\r");
  EXPECT_EQ(Frame("X1000"), "X1000.0147\r"); // 88 + 49 + 3 * 48 + 46 = 327
}

TEST(BootLoaderCommand, RefusedWithoutPortOrWithTooMuch) {
  ZuroBSLHost host(nullptr);
  std::string answer;
  const std::uint32_t address = 0x1000;
  EXPECT_EQ(host.BSLCommand('X', &address, 1, '\r', &answer, nullptr, false), kErrNoAnswer);
  EXPECT_EQ(host.BSLSendVectors(), kErrNoAnswer);
  EXPECT_EQ(host.BSLConnect("", 9600, false, 3), kErrMissingArgument);
  EXPECT_EQ(host.BSLHandOff(nullptr, nullptr, "x", false, 3), kErrBslBadArgument);
  EXPECT_EQ(host.BSLDisconnect(), 0);
}

// A pty with a device script on its master, and the host's log.
class BootLoaderLine : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(pty_.Ok()) << pty_.Error(); }
  void TearDown() override { EXPECT_THAT(peer_.Failures(), IsEmpty()); }

  // The sensor path: another object owns the open port and lends it.
  void HandOff(bool showProgress = true, std::uint32_t tries = 3) {
    ASSERT_EQ(owner_.ZSOpen(pty_.SlavePath(), 9600), 1);
    ASSERT_EQ(host_.BSLHandOff(owner_.PortHandle(), owner_.ReadBuffer(), owner_.PortName(),
                               showProgress, tries),
              1);
    host_.SetReportProgress([this](std::uint32_t total, std::uint32_t done, int phase, char c) {
      progress_.emplace_back(total, done, phase, c);
      return stopAt_ < 0 || done != static_cast<std::uint32_t>(stopAt_) || phase != 1;
    });
  }

  void LoadImage(const std::string& tiTxt) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("zuro-bsl-wire-" + std::to_string(getpid()) + ".txt");
    std::ofstream(path, std::ios::binary) << tiTxt;
    ASSERT_EQ(host_.BSLLoadTIFile(path.string()), 1);
    std::filesystem::remove(path);
  }

  PtyPair pty_;
  ScriptedPeer peer_{pty_};
  TestLog log_;
  ZuroSerial owner_{log_};
  ZuroBSLHost host_{log_};
  std::vector<std::tuple<std::uint32_t, std::uint32_t, int, char>> progress_;
  int stopAt_ = -1;
};

TEST_F(BootLoaderLine, ConnectStartsTheBootLoaderAndReadsItsVersion) {
  peer_.Answer("boot KWAX\r", "OK\r\n")
      .Answer("\r", "$")
      .Answer("P", "#")
      .Answer("g.0095\r", "+230+\r");
  EXPECT_EQ(host_.BSLConnect(pty_.SlavePath(), 9600, false, 3), 230);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), "boot KWAX\r\rPg.0095\r");
  EXPECT_EQ(host_.bslVersion(), 230);
  EXPECT_TRUE(host_.connected());
  EXPECT_TRUE(log_.Contains("BSLInvocation successful (1 tries)"));
  EXPECT_TRUE(log_.Contains("BSLConnect connected to device running ZuroBSL version 230"));
  EXPECT_EQ(host_.BSLDisconnect(), 1);
  EXPECT_FALSE(host_.connected());
}

TEST_F(BootLoaderLine, AnActiveBootLoaderAnswersTheBootRequestWithAQuestionMark) {
  peer_.Answer("boot KWAX\r", "?\r").Answer("g.0095\r", "+231+\r");
  EXPECT_EQ(host_.BSLConnect(pty_.SlavePath(), 9600, false, 3), 231);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), "boot KWAX\rg.0095\r");
  EXPECT_TRUE(log_.Contains("BSLInvocation found the ZuroBSL already active"));
}

TEST_F(BootLoaderLine, NoBootLoaderFailsAfterOneCheck) {
  peer_.Answer("boot KWAX\r", "ZuroBSL MISSING\r\n>").Expect("\r");
  EXPECT_EQ(host_.BSLConnect(pty_.SlavePath(), 9600, false, 3), kErrNoBootLoader);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), "boot KWAX\r\r");
  EXPECT_FALSE(host_.connected());
  EXPECT_FALSE(host_.IsOpen());
  EXPECT_TRUE(log_.Contains("BSLCheck didn't get a response from the ZuroBSL"));
  EXPECT_TRUE(log_.Contains("BSLConnect failed to connect to device (error -112)"));
}

// An acknowledgement without a version is not a connection: the host must
// not report success with no boot-loader version.
TEST_F(BootLoaderLine, AnswerWithoutVersionIsNoConnection) {
  for (int i = 0; i < 2; ++i) {
    peer_.Answer("boot KWAX\r", "?\r").Answer("g.0095\r", "+\r");
  }
  EXPECT_EQ(host_.BSLConnect(pty_.SlavePath(), 9600, false, 2), kErrBslRefused);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), "boot KWAX\rg.0095\rboot KWAX\rg.0095\r");
  EXPECT_EQ(host_.bslVersion(), 0);
  EXPECT_FALSE(host_.IsOpen());
  EXPECT_TRUE(log_.Contains("BSLConnect failed to connect to device (error -1)"));
}

TEST_F(BootLoaderLine, CheckAndAttachToAWaitingBootLoader) {
  HandOff();
  peer_.Answer("\r", "$");
  EXPECT_EQ(host_.BSLCheck(pty_.SlavePath(), 9600), kErrBootLoaderWaiting);
  ASSERT_TRUE(peer_.WaitDone());
  peer_.Answer("\r", "$").Answer("P", "#");
  EXPECT_EQ(host_.BSLAttach(), 1);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), "\r\rP");
  EXPECT_TRUE(log_.Contains("BSLAttach successful (1 tries)"));
  // Giving the port back leaves it open for its owner.
  EXPECT_EQ(host_.BSLHandBack(), 1);
  EXPECT_FALSE(host_.connected());
  EXPECT_TRUE(owner_.IsOpen());
}

TEST_F(BootLoaderLine, EraseInfoSendsOneXPerSegmentAndRetriesRefusals) {
  HandOff();
  peer_.Answer(Frame("X1000"), "+\r").Answer(Frame("X1080"), "-\r").Answer(Frame("X1080"), "+\r");
  EXPECT_EQ(host_.BSLEraseINFO(0x1000, 2, 128, false), 1);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), "X1000.0147\r" + Frame("X1080") + Frame("X1080"));
  EXPECT_TRUE(log_.Contains("BSLEraseINFO successful: 2 segments @ 1100 ("));

  // Refused three times: the last answer counts.
  peer_.ClearReceived();
  peer_.Answer(Frame("X1000"), "-\r").Answer(Frame("X1000"), "?\r").Answer(Frame("X1000"), "-\r");
  EXPECT_EQ(host_.BSLEraseINFO(0x1000, 2, 128, false), kErrBslRefused);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), Frame("X1000") + Frame("X1000") + Frame("X1000"));
  EXPECT_TRUE(log_.Contains("BSLEraseINFO failed with error -1 ("));
}

TEST_F(BootLoaderLine, EraseFlashStepsOverTheVectorArea) {
  HandOff();
  std::vector<std::uint32_t> expected;
  for (std::uint32_t a = 0x8000; a < 0xFA00; a += 512) {
    expected.push_back(a);
  }
  for (std::uint32_t a = 0x10000; a < 0x1FF00; a += 512) {
    expected.push_back(a);
  }
  std::string wire;
  for (const std::uint32_t a : expected) {
    peer_.Answer(Frame("X" + Hex(a, 5)), "+\r");
    wire += Frame("X" + Hex(a, 5));
  }
  EXPECT_EQ(host_.BSLEraseFlash(0x8000, 0x1FF00, true), 1);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), wire);
  const auto total = static_cast<std::uint32_t>(expected.size());
  ASSERT_EQ(total, 189u);
  ASSERT_EQ(progress_.size(), 19u + 1);
  for (std::uint32_t i = 0; i < 19; ++i) {
    EXPECT_EQ(progress_[i], std::make_tuple(total, i * 10, 1, 'X'));
  }
  EXPECT_EQ(progress_.back(), std::make_tuple(total, total, 2, 'X'));
  EXPECT_TRUE(log_.Contains("BSLEraseFlash successful: segment 8000 to 1FF00 ("));
}

TEST_F(BootLoaderLine, EraseFlashRefusesAStartInTheVectorArea) {
  HandOff();
  EXPECT_EQ(host_.BSLEraseFlash(0xFC00, 0x10000, false), kErrBslBadArgument);
  EXPECT_EQ(host_.BSLEraseFlash(0x1200, 0x1200, false), kErrBslBadArgument);
  std::string answer;
  std::vector<std::uint32_t> numbers(129, 0);
  EXPECT_EQ(host_.BSLCommand('V', numbers.data(), numbers.size(), '+', &answer, nullptr, false),
            kErrBslBadArgument);
  EXPECT_EQ(host_.BSLCommand('W', std::string(513, 'A').data(), 513, '\r', &answer, nullptr),
            kErrBslBadArgument);
  EXPECT_EQ(host_.BSLCommand('W', static_cast<const char*>(nullptr), 0, '\r', &answer, nullptr),
            kErrMissingArgument);
  EXPECT_EQ(peer_.Received(), "");
}

// 600 bytes at 0x1200 (1200 characters: blocks of 512, 512 and 176) and two
// bytes at 0x2000.
std::string TwoSectionFile() {
  std::string file = "@1200\n";
  for (int i = 0; i < 600; ++i) {
    file += Hex(static_cast<std::uint32_t>(i * 37 % 256), 2) + (i % 16 == 15 ? "\n" : " ");
  }
  file += "\n@2000\n12 34\n@FFE0\n";
  for (int i = 0; i < 32; ++i) {
    file += "1E ";
  }
  return file + "\nq\n";
}

TEST_F(BootLoaderLine, FailedBlockIsResentAfterItsAddressAndOnlyThen) {
  LoadImage(TwoSectionFile());
  const std::string text = host_.imageText();
  ASSERT_EQ(text.size(), 6u + 1200 + 6 + 4);
  const std::string b1 = "W" + text.substr(6, 512);
  const std::string b2 = "W" + text.substr(518, 512);
  const std::string b3 = "W" + text.substr(1030, 176);
  HandOff(false);
  peer_.Answer(Frame("@1200"), "+\r")
      .Answer(Frame(b1), "+\r")
      .Answer(Frame(b2), "-\r")
      .Answer(Frame("@1300"), "+\r")
      .Answer(Frame(b2), "+\r")
      .Answer(Frame(b3), "+\r")
      .Answer(Frame("@2000"), "+\r")
      .Answer(Frame("W3412"), "+\r");
  EXPECT_EQ(host_.BSLSendFirmware(false), 1);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), Frame("@1200") + Frame(b1) + Frame(b2) + Frame("@1300") + Frame(b2) +
                                  Frame(b3) + Frame("@2000") + Frame("W3412"));
  EXPECT_EQ(Frame(b1).size(), 512u + 7);
  EXPECT_TRUE(log_.Contains("BSLSendFirmware successful ("));

  peer_.ClearReceived();
  std::string vectors = "V";
  for (int k = 0; k < 16; ++k) {
    vectors += "1E1E";
  }
  peer_.Answer(Frame(vectors), "+");
  EXPECT_EQ(host_.BSLSendVectors(), 1);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), Frame(vectors));
  EXPECT_TRUE(log_.Contains("BSLSendVectors successful"));
}

TEST_F(BootLoaderLine, FalseProgressStopsBeforeTheNextBlock) {
  LoadImage(TwoSectionFile());
  const std::string text = host_.imageText();
  HandOff(true);
  stopAt_ = 1024; // inside the second block: the first has gone out
  peer_.Answer(Frame("@1200"), "+\r").Answer(Frame("W" + text.substr(6, 512)), "+\r");
  EXPECT_EQ(host_.BSLSendFirmware(false), kErrStopped);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), Frame("@1200") + Frame("W" + text.substr(6, 512)));
  const auto total = static_cast<std::uint32_t>(text.size());
  ASSERT_EQ(progress_.size(), 4u);
  EXPECT_EQ(progress_[0], std::make_tuple(total, 0u, 1, 'W'));
  EXPECT_EQ(progress_[1], std::make_tuple(total, 512u, 1, 'W'));
  EXPECT_EQ(progress_[2], std::make_tuple(total, 1024u, 1, 'W'));
  EXPECT_EQ(progress_[3], std::make_tuple(total, total, 2, 'W'));
  EXPECT_TRUE(log_.Contains("BSLSendFirmware failed with error -40 ("));
}

TEST_F(BootLoaderLine, ExtendedFlashNeedsFiveDigitAddresses) {
  LoadImage("@10000\n01 02\n@FFE0\n00 12\nq\n");
  HandOff(false);
  EXPECT_EQ(host_.BSLSendFirmware(false), kErrBslBadArgument);
  EXPECT_EQ(peer_.Received(), "");
  peer_.Answer(Frame("@10000"), "+\r").Answer(Frame("W0201"), "+\r");
  EXPECT_EQ(host_.BSLSendFirmware(true), 1);
  EXPECT_TRUE(peer_.WaitDone());
  EXPECT_EQ(peer_.Received(), Frame("@10000") + Frame("W0201"));
}

} // namespace
} // namespace zuro
