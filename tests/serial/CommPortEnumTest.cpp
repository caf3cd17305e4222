// Port enumeration on a device list from a table and ports that open (or
// not) as a table says: the names, order, busy marks and probing the user sees.

#include "serial/CommPortEnum.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/ResultCodes.h"
#include "serial/ZuroSerial.h"
#include "support/FakeSerial.h"
#include "support/TestLog.h"

namespace zuro {
namespace {

using test::FakeLine;
using test::FakePortSource;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr std::int32_t kTableSize = 16; // the main window's port table

struct Listing {
  Result result;
  std::vector<std::string> displayNames;
  std::vector<std::string> portNames;
};

class CommPortEnumTest : public ::testing::Test {
protected:
  CommPortEnumTest() { enumerator.SetPortSource(&source); }

  /// Every listed port opens unless the table says otherwise.
  void Present(const std::string& path, Result openResult = 0) {
    line->openResults[path] = openResult;
  }

  Listing Enumerate(bool forceFindAll = false, std::int32_t capacity = kTableSize) {
    std::vector<CommPortInfo> table(static_cast<std::size_t>(capacity));
    for (CommPortInfo& e : table) {
      e.displayName = "left over";
    }
    std::int32_t count = capacity;
    Listing out{enumerator.CommPortEnum(table.data(), &count, forceFindAll), {}, {}};
    EXPECT_GE(count, 0);
    for (std::int32_t i = 0; i < capacity; ++i) {
      const CommPortInfo& e = table[static_cast<std::size_t>(i)];
      if (i < count) {
        out.displayNames.push_back(e.displayName);
        out.portNames.push_back(e.portName);
        EXPECT_LE(e.displayName.size(), kDisplayNameMaxChars);
      } else {
        EXPECT_TRUE(e.portName.empty() && e.displayName.empty() && e.portNumber == 0)
            << "entry " << i << " was not cleared";
      }
    }
    return out;
  }

  std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
  FakePortSource source;
  test::TestLog log;
  ZuroSerial enumerator{log, test::FakeBackendFactory(line)};
};

TEST_F(CommPortEnumTest, MakerAdapterAndRadioModemGetTheirNamesInPortOrder) {
  source.devices = {
      {"/dev/ttyUSB4", "Brenvik UCA", "USB\\VID_0403&PID_8414\\BRENVIK_UCA[Field 7]"},
      {"/dev/ttyS0", "", ""},
      {"/dev/ttyUSB2", "Digi PKG-U Radio Modem", "USB\\VID_0403&PID_6001\\A600XYZ"},
      {"/dev/ttyACM0", "Du70 Cradle", "USB\\VID_1D50&PID_6018\\0001"},
  };
  for (const PortDevice& d : source.devices) {
    Present(d.devNode);
  }
  const Listing got = Enumerate();
  EXPECT_EQ(got.result, 4);
  EXPECT_THAT(got.displayNames,
              ElementsAre("/dev/ttyS0 Communications Port", "/dev/ttyACM0 Du70 Cradle",
                          "/dev/ttyUSB2 Brenvik USB Kx2",
                          "/dev/ttyUSB4 QUOLT USB Adapter [Field 7]"));
  EXPECT_THAT(got.portNames,
              ElementsAre("/dev/ttyS0", "/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB4"));
}

TEST_F(CommPortEnumTest, DisplayNameRules) {
  struct Case {
    const char* label;
    const char* friendly;
    const char* instance;
    const char* expected;
  };
  const Case cases[] = {
      {"windows-style name is cut before (COM", "Brenvik UCA (COM5)",
       "USB\\VID_0403&PID_8414\\BRENVIK_UCA", "/dev/ttyUSB0 QUOLT USB Adapter"},
      {"maker adapter with a tag", "Brenvik USB Serial", "USB\\VID_0403&PID_8414\\BRENVIK_UCA[7]",
       "/dev/ttyUSB0 QUOLT USB Adapter [7]"},
      {"maker name, other product id", "Brenvik UCA", "USB\\VID_0403&PID_6001\\BRENVIK_UCA",
       "/dev/ttyUSB0 Brenvik UCA"},
      {"maker name, serial without the mark", "Brenvik UCA", "USB\\VID_0403&PID_8414\\FT12345",
       "/dev/ttyUSB0 Brenvik UCA"},
      {"maker name without identity", "Brenvik UCA", "", "/dev/ttyUSB0 Brenvik UCA"},
      {"mark only before the product id", "Brenvik UCA", "BRENVIK_UCA\\PID_8414\\X",
       "/dev/ttyUSB0 Brenvik UCA"},
      {"other adapter keeps its name", "FT232R USB UART", "USB\\VID_0403&PID_6001\\A1",
       "/dev/ttyUSB0 FT232R USB UART"},
      {"MaxStream modem", "MaxStream PKG-U", "", "/dev/ttyUSB0 Brenvik USB Kx2"},
      {"modem text is case-sensitive", "digi pkg-u", "", "/dev/ttyUSB0 digi pkg-u"},
      {"maker adapter mentioning a modem keeps its name", "Brenvik UCA for Digi PKG-U", "",
       "/dev/ttyUSB0 Brenvik UCA for Digi PKG-U"},
      {"no friendly name", "", "", "/dev/ttyUSB0 Communications Port"},
      {"long friendly name is cut to the display width",
       "An Adapter Whose Name Goes On And On Beyond Sixty-Four Characters Easily", "",
       "/dev/ttyUSB0 An Adapter Whose Name Goes On And On Beyond Sixty-F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DeviceDisplayName("/dev/ttyUSB0", c.friendly, c.instance), c.expected);
  }
}

TEST_F(CommPortEnumTest, PortNumbersOrderFamiliesThenNumbers) {
  EXPECT_EQ(PortNumberOf("/dev/ttyS0"), 1);
  EXPECT_EQ(PortNumberOf("/dev/ttyS15"), 16);
  EXPECT_LT(PortNumberOf("/dev/ttyS99"), PortNumberOf("/dev/ttyACM0"));
  EXPECT_LT(PortNumberOf("/dev/ttyACM2"), PortNumberOf("/dev/ttyACM10"));
  EXPECT_LT(PortNumberOf("/dev/ttyACM99"), PortNumberOf("/dev/ttyUSB0"));
  EXPECT_LT(PortNumberOf("/dev/ttyUSB99"), PortNumberOf("/dev/ttyAMA0"));
  EXPECT_EQ(PortNumberOf("/dev/ttyUSB"), 0);
  EXPECT_EQ(PortNumberOf("/dev/lp"), 0);
  EXPECT_GT(PortNumberOf("/dev/ttyUSB99999999999999"), PortNumberOf("/dev/ttyUSB9"));
}

TEST_F(CommPortEnumTest, NamesWithoutANumberAreNotListed) {
  source.devices = {{"/dev/ttyUSB", "x", ""}, {"", "y", ""}, {"/dev/ttyUSB1", "z", ""}};
  Present("/dev/ttyUSB1");
  const Listing got = Enumerate();
  EXPECT_EQ(got.result, 1);
  EXPECT_THAT(got.portNames, ElementsAre("/dev/ttyUSB1"));
}

TEST_F(CommPortEnumTest, HeldPortsAreMarkedBusyAndStayListed) {
  source.devices = {{"/dev/ttyUSB0", "FT232R USB UART", ""},
                    {"/dev/ttyUSB1", "Digi PKG-U", ""},
                    {"/dev/ttyUSB2", "No Access Adapter", ""},
                    {"/dev/ttyUSB3", std::string(70, 'L'), ""}};
  Present("/dev/ttyUSB0", kErrPortInUse);
  Present("/dev/ttyUSB1", kErrPortInUse);
  Present("/dev/ttyUSB2", kErrPortNoAccess);
  Present("/dev/ttyUSB3", kErrPortInUse);
  const Listing got = Enumerate();
  ASSERT_EQ(got.displayNames.size(), 4u);
  EXPECT_EQ(got.displayNames[0], "/dev/ttyUSB0 FT232R USB UART (busy)");
  EXPECT_EQ(got.displayNames[1], "/dev/ttyUSB1 Brenvik USB Kx2 (busy)");
  // Missing rights are not another program's doing.
  EXPECT_EQ(got.displayNames[2], "/dev/ttyUSB2 No Access Adapter");
  // The mark is never cut away, however long the name.
  EXPECT_EQ(got.displayNames[3].size(), kDisplayNameMaxChars);
  EXPECT_TRUE(got.displayNames[3].ends_with(" (busy)"));
  // Free ports were opened once and closed again; held ones only tried.
  EXPECT_EQ(line->closes, 0);
  EXPECT_EQ(line->openAttempts.size(), 4u);
}

TEST_F(CommPortEnumTest, ProbingAppendsBuiltInPortsAfterTheList) {
  source.devices = {{"/dev/ttyS3", "", ""}};
  Present("/dev/ttyS3");
  Present("/dev/ttyS0");                      // free
  Present("/dev/ttyS1", kErrPortInUse);       // held by another program
  Present("/dev/ttyS2", kErrPortUnavailable); // node without a UART
  Present("/dev/ttyS5", kErrPortNoAccess);    // there, but not ours to open

  EXPECT_EQ(Enumerate(false).portNames, std::vector<std::string>{"/dev/ttyS3"});

  line->openAttempts.clear();
  const Listing got = Enumerate(true);
  EXPECT_EQ(got.result, 1);
  EXPECT_THAT(got.displayNames,
              ElementsAre("/dev/ttyS3 Communications Port", "/dev/ttyS0 Communications Port",
                          "/dev/ttyS1 Communications Port (busy)",
                          "/dev/ttyS5 Communications Port"));
  // ttyS3 (number 4) is listed already and not probed again.
  EXPECT_EQ(std::count(line->openAttempts.begin(), line->openAttempts.end(), "/dev/ttyS3"), 1);
  EXPECT_EQ(line->openAttempts.size(), 1u + 15u);
}

TEST_F(CommPortEnumTest, ProbingStopsWhenTheListIsFull) {
  for (int n = 0; n < 16; ++n) {
    Present("/dev/ttyS" + std::to_string(n));
  }
  const Listing got = Enumerate(true, 3);
  EXPECT_THAT(got.portNames, ElementsAre("/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2"));
}

TEST_F(CommPortEnumTest, SmallCapacityKeepsTheFirstListedThenSorts) {
  source.devices = {{"/dev/ttyUSB7", "", ""},
                    {"/dev/ttyUSB3", "", ""},
                    {"/dev/ttyUSB1", "", ""},
                    {"/dev/ttyS0", "", ""},
                    {"/dev/ttyACM0", "", ""}};
  for (const PortDevice& d : source.devices) {
    Present(d.devNode);
  }
  const Listing got = Enumerate(false, 2);
  EXPECT_EQ(got.result, 2);
  EXPECT_THAT(got.portNames, ElementsAre("/dev/ttyUSB3", "/dev/ttyUSB7"));
}

TEST_F(CommPortEnumTest, NoDeviceListMeansProbing) {
  source.result = -ENOENT;
  Present("/dev/ttyS0");
  const Listing got = Enumerate(false);
  EXPECT_EQ(got.result, 1);
  EXPECT_THAT(got.portNames, ElementsAre("/dev/ttyS0"));
}

TEST_F(CommPortEnumTest, EmptyDeviceListWithoutProbingIsAnEmptyTable) {
  const Listing got = Enumerate(false);
  EXPECT_EQ(got.result, 0);
  EXPECT_TRUE(got.portNames.empty());
}

TEST_F(CommPortEnumTest, BadArgumentsLeaveTheListUntouched) {
  CommPortInfo table[2];
  table[0].displayName = "kept";
  std::int32_t capacity = 0;
  EXPECT_EQ(enumerator.CommPortEnum(table, &capacity, false), kErrPortNoCapacity);
  capacity = -3;
  EXPECT_EQ(enumerator.CommPortEnum(table, &capacity, false), kErrPortNoCapacity);
  EXPECT_EQ(enumerator.CommPortEnum(nullptr, &capacity, false), kErrMissingArgument);
  EXPECT_EQ(enumerator.CommPortEnum(table, nullptr, false), kErrMissingArgument);
  EXPECT_EQ(table[0].displayName, "kept");
  EXPECT_EQ(source.calls, 0);
}

TEST_F(CommPortEnumTest, EachCallRebuildsTheList) {
  source.devices = {{"/dev/ttyUSB0", "A", ""}};
  Present("/dev/ttyUSB0");
  EXPECT_THAT(Enumerate().portNames, ElementsAre("/dev/ttyUSB0"));
  source.devices = {{"/dev/ttyUSB1", "B", ""}};
  Present("/dev/ttyUSB1");
  EXPECT_THAT(Enumerate().portNames, ElementsAre("/dev/ttyUSB1"));
}

} // namespace
} // namespace zuro
