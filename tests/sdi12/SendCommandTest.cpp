// The SDI-12 command exchange through the reader: the wake step, the address
// query between silent attempts, the -21 and -22 outcomes, answers that are
// too long or damaged, and a port that fails.
#include <functional>
#include <string>

#include "sdi12/Sdi12Fixture.h"

namespace zuro::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct SendCase {
  const char* name;
  std::uint32_t tries;
  std::function<void(ScriptedPeer&)> script;
  std::string wire; ///< everything the reader receives
  Result result;    ///< > 0: the answer's length
  std::string answer;
  std::vector<std::uint32_t> pauses;
};

class SendCommandTable : public Sdi12Pty, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendCommandTable, WireResultAnswerAndPauses) {
  const SendCase& c = GetParam();
  sdi.SetSdiTiming(c.tries, kSilentTimeoutMs);
  c.script(peer);
  char answer[64];
  std::uint32_t length = sizeof answer;
  std::uint32_t elapsed = 0;
  const Result r = sdi.SDISendCommand("?X8!", answer, length, elapsed);
  EXPECT_EQ(r, c.result);
  EXPECT_EQ(std::string(answer), c.answer);
  EXPECT_EQ(length, c.answer.size());
  EXPECT_EQ(Wire(), c.wire);
  EXPECT_THAT(sdi.pauses, ElementsAreArray(c.pauses));
  NoScriptFailures();
}

const std::string kTypeAnswer = "0 106\r\n";
constexpr std::uint32_t kW = ZuroSDI12::kWakeSettleMs;
constexpr std::uint32_t kG = ZuroSDI12::kQueryWakeGapMs;

INSTANTIATE_TEST_SUITE_P(
    Sdi12, SendCommandTable,
    ::testing::Values(
        SendCase{"AnsweredAtOnce",
                 5,
                 [](ScriptedPeer& p) { p.Expect("|?X8!").Send(kTypeAnswer); },
                 "|?X8!",
                 7,
                 kTypeAnswer,
                 {kW}},
        // Silence, then the sensor answers the address query: the command is
        // repeated without the wake character.
        SendCase{"SilentOnceThenAnswered",
                 5,
                 [](ScriptedPeer& p) {
                   p.Expect("|?X8!").Expect("|||?!").Send("0\r\n").Expect("?X8!").Send(kTypeAnswer);
                 },
                 "|?X8!|||?!?X8!",
                 7,
                 kTypeAnswer,
                 {kW, kG, kG, kG}},
        // The wake step alternates from one attempt to the next.
        SendCase{"WakeAlternates",
                 3,
                 [](ScriptedPeer& p) {
                   p.Expect("|?X8!").Expect("|||?!").Send("0\r\n");
                   p.Expect("?X8!").Expect("|||?!").Send("0\r\n");
                   p.Expect("|?X8!").Send(kTypeAnswer);
                 },
                 "|?X8!|||?!?X8!|||?!|?X8!",
                 7,
                 kTypeAnswer,
                 {kW, kG, kG, kG, kG, kG, kG, kW}},
        // A sensor that answers the query but never the command: -22.
        SendCase{"NeverAnsweredTwoTries",
                 2,
                 [](ScriptedPeer& p) {
                   p.Expect("|?X8!").Expect("|||?!").Send("0\r\n");
                   p.Expect("?X8!").Expect("|||?!").Send("0\r\n");
                 },
                 "|?X8!|||?!?X8!|||?!",
                 -22,
                 "",
                 {kW, kG, kG, kG, kG, kG, kG}},
        // With a single attempt the query's answer is no answer to the command either.
        SendCase{"NeverAnsweredOneTry",
                 1,
                 [](ScriptedPeer& p) { p.Expect("|?X8!").Expect("|||?!").Send("0\r\n"); },
                 "|?X8!|||?!",
                 -22,
                 "",
                 {kW, kG, kG, kG}},
        // Nobody on the bus: -21 at once, whatever the tries.
        SendCase{"NoSensor",
                 5,
                 [](ScriptedPeer& p) { p.Expect("|?X8!").Expect("|||?!"); },
                 "|?X8!|||?!",
                 -21,
                 "",
                 {kW, kG, kG, kG}},
        // An answer that begins with a NUL holds no text: it counts as silence.
        SendCase{"NulFirstIsSilence",
                 5,
                 [](ScriptedPeer& p) {
                   p.Expect("|?X8!").Send(std::string("\0 106\r\n", 7));
                   p.Expect("|||?!").Send("0\r\n").Expect("?X8!").Send(kTypeAnswer);
                 },
                 "|?X8!|||?!?X8!",
                 7,
                 kTypeAnswer,
                 {kW, kG, kG, kG}},
        // An answer without its line end is still taken once the wait is over.
        SendCase{"AnswerWithoutLineEnd",
                 5,
                 [](ScriptedPeer& p) { p.Expect("|?X8!").Send("0 106"); },
                 "|?X8!",
                 5,
                 "0 106",
                 {kW}}),
    [](const ::testing::TestParamInfo<SendCase>& param) { return std::string(param.param.name); });

TEST_F(Sdi12Pty, OverLongAnswerIsCutToTheReadAndToTheCallersBuffer) {
  const std::string body(300, '7');
  Answers("?I!", "0" + body + "\r\n");
  char answer[32];
  std::uint32_t length = sizeof answer;
  std::uint32_t elapsed = 0;
  const Result r = sdi.SDISendCommand("?I!", answer, length, elapsed);
  EXPECT_EQ(r, 256);
  EXPECT_EQ(length, 31u);
  EXPECT_EQ(std::string(answer), "0" + std::string(30, '7'));
  EXPECT_EQ(sdi.Response().size(), 256u);
  EXPECT_TRUE(log.Contains("DeviceCommand got 225 more bytes than expected (?I!)"));
  EXPECT_EQ(Wire(), "|?I!");
}

TEST_F(Sdi12Pty, NoAnswerBufferStillGivesTheLength) {
  Answers("?!", "0\r\n");
  std::uint32_t length = 99;
  std::uint32_t elapsed = 0;
  EXPECT_EQ(sdi.SDISendCommand("?!", nullptr, length, elapsed), 3);
  EXPECT_EQ(sdi.Response(), "0\r\n");
  EXPECT_TRUE(log.Contains("SDISendCommand sent \"?!\""));
  EXPECT_TRUE(log.Contains("SDISendCommand received \"0\\r\\n\""));
  NoScriptFailures();
}

TEST_F(Sdi12Pty, ClosedPortEndsAtOnceWithItsCode) {
  proto.ZSClose();
  char answer[16] = "stale";
  std::uint32_t length = sizeof answer;
  std::uint32_t elapsed = 0;
  EXPECT_EQ(sdi.SDISendCommand("?I!", answer, length, elapsed), -21);
  EXPECT_EQ(answer[0], '\0');
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(log.Contains("SDISendCommand got unexpected response (-21) from ZCommWrite"));
  EXPECT_TRUE(sdi.pauses.empty());
}

TEST(Sdi12NoPort, EveryOperationFailsCleanly) {
  ZuroSDI12 sdi(nullptr, nullptr);
  std::uint32_t length = 0;
  std::uint32_t elapsed = 0;
  EXPECT_EQ(sdi.SDISendCommand("?!", nullptr, length, elapsed), -10);
  EXPECT_EQ(sdi.SDIGetSensorVersion(), -10);
  EXPECT_EQ(sdi.SDIReadSensorSettings(), -10);
  EXPECT_EQ(sdi.SDICheckBinary(), -10);
  EXPECT_EQ(sdi.SdiTries(), 5u);
  EXPECT_EQ(sdi.SdiTimeout(), 2000u);
}

} // namespace
} // namespace zuro::test
