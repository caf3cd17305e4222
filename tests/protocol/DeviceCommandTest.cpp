// The command transport over a pseudo-terminal: attempts, silence, echo,
// error answers, the empty answer, over-long answers and a port that goes away.
#include <string>

#include "protocol/ProtocolFixture.h"

namespace zuro::test {
namespace {

using ::testing::HasSubstr;

TEST(ConfigureProtocol, DefaultsRangesAndCopyBack) {
  VUSKA_Protocol proto(nullptr);
  ProtocolOptions options; // all zero: the defaults
  ASSERT_EQ(proto.ConfigureProtocol(&options, 1), 1);
  EXPECT_EQ(options.serialTries, 3u);
  EXPECT_EQ(options.radioTries, 5u);
  EXPECT_EQ(proto.CommandTries(), 3u);

  ProtocolOptions bad = options;
  bad.traceLevel = 4;
  EXPECT_EQ(proto.ConfigureProtocol(&bad, 1), -11);
  bad = options;
  bad.traceLevel = -1;
  EXPECT_EQ(proto.ConfigureProtocol(&bad, 1), -11);
  bad = options;
  bad.serialTries = 13;
  EXPECT_EQ(proto.ConfigureProtocol(&bad, 1), -11);
  bad = options;
  bad.radioTries = 13;
  EXPECT_EQ(proto.ConfigureProtocol(&bad, 1), -11);
  bad = options;
  bad.extraAnswerTime = 30001;
  EXPECT_EQ(proto.ConfigureProtocol(&bad, 1), -11);

  ProtocolOptions in;
  in.serialTries = 7;
  in.keepPortOpen = 1;
  in.extraAnswerTime = 30000;
  ASSERT_EQ(proto.ConfigureProtocol(&in, 1), 1);
  ProtocolOptions out;
  ASSERT_EQ(proto.ConfigureProtocol(&out, 0), 1);
  EXPECT_EQ(out.serialTries, 7u);
  EXPECT_EQ(out.radioTries, 5u);
  EXPECT_EQ(out.keepPortOpen, 1);
  EXPECT_EQ(out.extraAnswerTime, 30000u);
  EXPECT_EQ(proto.CommandTries(), 7u);
  EXPECT_EQ(proto.ConfigureProtocol(nullptr, 1), -10);
}

class DeviceCommandPty : public ProtocolPty {
protected:
  struct Outcome {
    Result result;
    std::string answer;
    std::uint32_t length;
    std::uint32_t elapsed;
  };
  Outcome Run(const std::string& command, std::uint32_t capacity = 32,
              std::uint32_t timeoutMs = 300, char prompt = '>') {
    std::string buffer(capacity == 0 ? 1 : capacity, 'x');
    Outcome out{};
    out.length = capacity;
    out.result =
        proto.DeviceCommand(command, prompt, timeoutMs, capacity == 0 ? nullptr : buffer.data(),
                            out.length, out.elapsed);
    out.answer = buffer.c_str();
    return out;
  }
};

TEST_F(DeviceCommandPty, ShortAnswerFitsWhole) {
  Open();
  peer.Answer("get -ver\r", "DU70 2.>");
  const Outcome out = Run("get -ver\r");
  EXPECT_EQ(out.result, 8);
  EXPECT_EQ(out.answer, "DU70 2.>");
  EXPECT_EQ(out.length, 8u);
  EXPECT_EQ(Wire(), "get -ver\r");
  EXPECT_EQ(proto.LastAnswer(), "DU70 2.>");
  NoScriptFailures();
}

// Cases of one shape: what the device answers to each attempt, and what the
// transport makes of it.
struct AttemptCase {
  const char* name;
  std::uint32_t tries;
  std::vector<std::string> answers; ///< one per attempt; empty string: silence
  Result result;
  std::size_t commandsSent;
  const char* logLine; ///< a line that must be in the log ("" for none)
};

class DeviceCommandAttempts : public DeviceCommandPty,
                              public ::testing::WithParamInterface<AttemptCase> {};

TEST_P(DeviceCommandAttempts, ResultAndCommandsOnTheWire) {
  const AttemptCase& c = GetParam();
  Tries(c.tries);
  Open();
  for (const std::string& answer : c.answers) {
    peer.Expect("get -ver\r");
    if (!answer.empty()) {
      peer.Send(answer);
    }
  }
  const Outcome out = Run("get -ver\r", 32, 200);
  EXPECT_EQ(out.result, c.result);
  if (out.result < 0 && out.result != -31) { // the empty answer is still copied
    EXPECT_EQ(out.answer, "");
    EXPECT_EQ(out.length, 0u);
  }
  std::string expected;
  for (std::size_t i = 0; i < c.commandsSent; ++i) {
    expected += "get -ver\r";
  }
  EXPECT_EQ(Wire(), expected);
  if (*c.logLine != '\0') {
    EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
  }
  NoScriptFailures();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceCommandAttempts,
    ::testing::Values(
        AttemptCase{"QuestionMarkAnywhereIsRetried",
                    3,
                    {"DU70 2.30?\r>", "DU70 2.30?\r>", "DU70 2.30?\r>"},
                    -34,
                    3,
                    ""},
        AttemptCase{"ErrorThenGood", 3, {"ERROR\r>", "DU70 2.30\r>"}, 11, 2, ""},
        AttemptCase{"UnsupportedIsAnError", 2, {"Unsupported\r>", "Unsupported\r>"}, -34, 2, ""},
        AttemptCase{"EchoStopsAtOnce",
                    3,
                    {"get -ver\r\r>"},
                    -32,
                    1,
                    "DeviceCommand is hearing echoed commands -- device is broken? Relay active?"},
        AttemptCase{"ErrorThenSilence", 2, {"ERROR\r>", ""}, -22, 2, ""},
        AttemptCase{"SilenceThenAnswer", 2, {"", "OK\r>"}, 4, 2, ""},
        AttemptCase{"AllSilent", 3, {"", "", ""}, -21, 3, ""},
        AttemptCase{
            "EmptyAnswer", 3, {"\r\r>"}, -31, 1, "DeviceCommand: device returned empty answer"},
        AttemptCase{"OnlyPrompts", 1, {">>>>"}, 4, 1, ""},
        AttemptCase{"OnlyCarriageReturnsTimeOut", 1, {"\r\r\r\r\r"}, 5, 1, ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(DeviceCommandPty, SilenceWaitsEveryAttemptAndReportsTheWholeTime) {
  Tries(3);
  Open();
  const Outcome out = Run("get -ver\r", 32, 100);
  EXPECT_EQ(out.result, -21);
  // Three full time-outs and three 50 ms pauses have passed at the least.
  EXPECT_GE(out.elapsed, 3u * (100 + 50));
  EXPECT_EQ(proto.PauseCount(50), 3u);
  EXPECT_EQ(Wire(), "get -ver\rget -ver\rget -ver\r");
}

TEST_F(DeviceCommandPty, EmptyAnswerIsStillCopied) {
  Open();
  peer.Answer("get -i\r", "\r\r>");
  const Outcome out = Run("get -i\r");
  EXPECT_EQ(out.result, -31);
  EXPECT_EQ(out.answer, "\r\r>");
  EXPECT_EQ(out.length, 3u);
}

TEST_F(DeviceCommandPty, OverLongAnswerIsCutAndTheExcessLogged) {
  Open();
  const std::string forty = std::string(39, 'A') + ">";
  peer.Answer("get -site\r", forty);
  const Outcome out = Run("get -site\r");
  EXPECT_EQ(out.result, 40);
  EXPECT_EQ(out.answer, std::string(31, 'A'));
  EXPECT_EQ(out.length, 31u);
  EXPECT_TRUE(log.Contains("DeviceCommand got 9 more bytes than expected (get -site\r)"))
      << log.Text();
  EXPECT_EQ(proto.LastAnswer(), forty);
}

TEST_F(DeviceCommandPty, AnswerWithoutBufferStillCounts) {
  Open();
  peer.Answer("term\r", "OK\r>");
  const Outcome out = Run("term\r", 0);
  EXPECT_EQ(out.result, 4);
}

TEST_F(DeviceCommandPty, HugeAnswerStaysInsideEveryBuffer) {
  Open();
  const std::string flood = ScriptedPeer::Garbage(3000, 7, std::string("?>\0ERU", 6)) + ">";
  peer.Answer("show\r", flood);
  const Outcome out = Run("show\r", 180, 300);
  ASSERT_GT(out.result, 0);
  EXPECT_LE(out.result, 2048);
  EXPECT_EQ(out.length, 179u);
  EXPECT_EQ(out.answer, flood.substr(0, 179));
  EXPECT_LE(proto.LastAnswer().size(), 2048u);
  EXPECT_EQ(proto.LastAnswer(), flood.substr(0, proto.LastAnswer().size()));
}

TEST_F(DeviceCommandPty, NulBytesEndTheAnswerText) {
  Open();
  peer.Answer("get -ver\r", std::string("DU\0\0 2.30\r>", 11));
  const Outcome out = Run("get -ver\r", 32, 200);
  // Whatever part of the answer the port delivered, the text ends at the NUL.
  ASSERT_GE(out.result, 0);
  EXPECT_EQ(out.answer, "DU");
  EXPECT_EQ(out.length, 2u);
}

TEST_F(DeviceCommandPty, VanishingPortGivesThePortsCodeAtOnce) {
  Tries(3);
  Open();
  peer.Expect("get -ver\r").CloseLine();
  const Outcome out = Run("get -ver\r", 32, 1000);
  ASSERT_LT(out.result, 0);
  EXPECT_NE(out.result, -22);
  EXPECT_TRUE(log.Contains("DeviceCommand got unexpected response (" + std::to_string(out.result) +
                           ") from ZComm"))
      << log.Text();
  // One attempt only: no 50 ms pauses for silence.
  EXPECT_EQ(proto.PauseCount(50), 0u);
  NoScriptFailures();
}

TEST_F(DeviceCommandPty, ClosedPortAndEmptyCommand) {
  const Outcome closed = Run("get -ver\r");
  EXPECT_LT(closed.result, 0);
  Open();
  const Outcome empty = Run("");
  EXPECT_EQ(empty.result, -10);
  EXPECT_EQ(Wire(), "");
}

TEST_F(DeviceCommandPty, TraceHookSeesCommandsAndAnswers) {
  ProtocolOptions options;
  options.traceLevel = 3;
  ASSERT_EQ(proto.ConfigureProtocol(&options, 1), 1);
  std::vector<std::string> traced;
  proto.SetTraceHook([&](std::string_view text) { traced.emplace_back(text); });
  Open();
  peer.Answer("get -w\r", "\r900\r>");
  EXPECT_EQ(Run("get -w\r").result, 6);
  EXPECT_THAT(traced, ::testing::ElementsAre("get -w\r", "\r900\r>"));
}

} // namespace
} // namespace zuro::test
