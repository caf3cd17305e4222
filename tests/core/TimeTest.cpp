#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "core/EventPump.h"
#include "core/Time.h"

namespace zuro {
namespace {

class RecordingPump : public EventPump {
public:
  void WaitAndDispatch(std::uint32_t maxWaitMs) override {
    waits.push_back(maxWaitMs);
    // A front end returns early when an event arrives; wait a short slice.
    DelayMs(maxWaitMs < 20 ? maxWaitMs : 20);
  }
  std::vector<std::uint32_t> waits;
};

class PumpInstalled : public ::testing::Test {
protected:
  void SetUp() override { previous_ = InstallEventPump(&pump_); }
  void TearDown() override { InstallEventPump(previous_); }
  RecordingPump pump_;
  EventPump* previous_ = nullptr;
};

TEST_F(PumpInstalled, ShortDelaysSleepWithoutPumping) {
  const std::uint32_t start = TickMs();
  EXPECT_EQ(DelayMs(169), 0);
  EXPECT_GE(ElapsedMs(start), 169u);
  EXPECT_TRUE(pump_.waits.empty());
}

TEST_F(PumpInstalled, LongDelaysRunThePumpUntilTheTimeIsUp) {
  const std::uint32_t start = TickMs();
  EXPECT_EQ(DelayMs(170), 0);
  EXPECT_GE(ElapsedMs(start), 170u);
  ASSERT_FALSE(pump_.waits.empty());
  // Each wait asks for no more than what remains of the delay.
  EXPECT_LE(pump_.waits.front(), 170u);
  for (std::size_t i = 1; i < pump_.waits.size(); ++i) {
    EXPECT_LE(pump_.waits[i], pump_.waits[i - 1]);
  }
}

TEST(DelayMs, WithoutPumpStillWaitsTheWholeTime) {
  ASSERT_EQ(InstalledEventPump(), nullptr);
  const std::uint32_t start = TickMs();
  EXPECT_EQ(DelayMs(250), 0);
  EXPECT_GE(ElapsedMs(start), 250u);
}

class WithTimeZone : public ::testing::Test {
protected:
  void Use(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  void TearDown() override {
    unsetenv("TZ");
    tzset();
  }
};

TEST_F(WithTimeZone, UtcOffsetFollowsZoneAndDaylightSaving) {
  Use("UTC0");
  EXPECT_EQ(UtcOffsetSeconds(), 0);
  Use("EST5");  // five hours west, no daylight saving
  EXPECT_EQ(UtcOffsetSeconds(), -5 * 3600);
  Use("IST-5:30");
  EXPECT_EQ(UtcOffsetSeconds(), 5 * 3600 + 1800);
  // A zone whose daylight saving is always in force: one hour added.
  Use("XST-1XDT,J1/0,J365/25");
  EXPECT_EQ(UtcOffsetSeconds(), 7200);
}

}  // namespace
}  // namespace zuro
