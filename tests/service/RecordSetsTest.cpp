// Record sets: the names that order equation and user records, their sort,
// and reading them from the settings file.
#include "service/RecordSets.h"

#include <gtest/gtest.h>

#include "support/TestLog.h"

namespace zuro::test {
namespace {

RecordSet SetOf(std::initializer_list<const char*> values) {
  RecordSet set;
  for (const char* v : values) {
    set.records.push_back({"", v});
  }
  return set;
}

std::vector<std::string> Names(const RecordSet& set) {
  std::vector<std::string> names;
  for (const InfoRecord& r : set.records) {
    names.push_back(r.name);
  }
  return names;
}

TEST(RecordSets, EquationNameIsTheFirstWordWithItsStandIns) {
  RecordSet set = SetOf({"Temp_C x*2", "a`b_c rest", "NoSpaceButMuchLongerThanTwenty", ""});
  ASSERT_EQ(ExtractNames(set, kEquationRecordType, nullptr), kDone);
  EXPECT_EQ(Names(set), (std::vector<std::string>{"Temp C", "a,b c", "NoSpaceButMuchLonger", ""}));
}

TEST(RecordSets, UserNameFollowsTheThirdTabOfTheDecodedValue) {
  // "user\tone\ttwo\tAlice\trest", "x\ty\tz\tBob\t", "a\tb" and a name longer than 9.
  RecordSet set = SetOf(
      {"dXNlcglvbmUJdHdvCUFsaWNlCXJlc3Q=", "eAl5CXoJQm9iCQ==", "YQli", "MQkyCTMJQWxleGFuZGVyc29u"});
  ASSERT_EQ(ExtractNames(set, kUserRecordType, nullptr), kDone);
  EXPECT_EQ(Names(set), (std::vector<std::string>{"Alice", "Bob", "", "Alexander"}));
}

TEST(RecordSets, Base64OutsideTheAlphabetCountsAsZero) {
  EXPECT_EQ(Base64DecodeLoose("QUJD"), "ABC");
  EXPECT_EQ(Base64DecodeLoose("QQ=="), std::string("A\0\0", 3));
  EXPECT_EQ(Base64DecodeLoose("Q!JD"), Base64DecodeLoose("QAJD"));
  EXPECT_EQ(Base64DecodeLoose("QUJDRA"), std::string("ABCD\0\0", 6));
  EXPECT_EQ(Base64DecodeLoose(""), "");
}

TEST(RecordSets, ExtractNamesRefusesMissingListsAndOtherTypes) {
  TestLog log;
  RecordSet empty;
  EXPECT_EQ(ExtractNames(empty, kUserRecordType, log), kErrMissingArgument);
  EXPECT_TRUE(log.Contains("ExtractNames found an null record pointer"));
  RecordSet set = SetOf({"x"});
  EXPECT_EQ(ExtractNames(set, 3, log), kErrProtoOutOfRange);
  EXPECT_TRUE(log.Contains("ExtractNames found an unexpected record type \"3\""));
}

TEST(RecordSets, AlphabetizeSortsCaseInsensitively) {
  RecordSet set = SetOf({"b_eq x", "A x", "c y"});
  ASSERT_EQ(AlphabetizeRecords(set, kEquationRecordType, nullptr), kDone);
  EXPECT_EQ(Names(set), (std::vector<std::string>{"A", "b eq", "c"}));
  EXPECT_EQ(set.records[0].value, "A x");
  EXPECT_EQ(AlphabetizeRecords(set, 0, nullptr), kErrProtoOutOfRange);
}

TEST(RecordSets, EqualNamesChangePlaces) {
  RecordSet set = SetOf({"same 1", "same 2", "Same 3"});
  ASSERT_EQ(AlphabetizeRecords(set, kEquationRecordType, nullptr), kDone);
  EXPECT_EQ(set.records[0].value, "Same 3");
  EXPECT_EQ(set.records[1].value, "same 2");
  EXPECT_EQ(set.records[2].value, "same 1");
}

TEST(RecordSets, NameOrderRule) {
  struct Case {
    const char* a;
    const char* b;
    bool before;
  };
  const std::string long1 = std::string(32, 'x') + "a";
  const std::string long2 = std::string(32, 'x') + "b";
  for (const Case& c :
       {Case{"a", "B", true}, Case{"B", "a", false}, Case{"ab", "abc", true},
        Case{"abc", "ab", false}, Case{"abc", "ABC", true}, Case{"", "", true},
        Case{long2.c_str(), long1.c_str(), false}, Case{long1.c_str(), long2.c_str(), false}}) {
    EXPECT_EQ(RecordNameBefore(c.a, c.b), c.before) << c.a << " / " << c.b;
  }
}

TEST(RecordSets, FromFileReadsNumberedKeysUpToTheFirstGap) {
  const std::string text = "type=\"KWM\"\r\n"
                           "user00=\"QUJD\"\r\n"
                           "user01=\"REVG\"\r\n"
                           "user03=\"R0hJ\"\r\n"     // after a gap: not read
                           "xuser02=\"nothing\"\r\n" // not at a line start
                           "eqn00=\"first\"\r\n"
                           "eqn01=\"\"\r\n" // empty: the list stops here
                           "eqn02=\"third\"\r\n";
  const SettingsFileIndex file(text);
  TestLog log;
  RecordSet users = SetOf({"old"});
  EXPECT_EQ(RecordsFromFile(users, kUserRecordType, file, log), kDone);
  ASSERT_EQ(users.Count(), 2U);
  EXPECT_EQ(users.records[1].value, "REVG");
  EXPECT_TRUE(log.Contains("GetRecords_File found a non-null \"user\" set"));
  EXPECT_TRUE(log.Contains("GetRecords_File retrieved 2 of 2 \"user\" records"));

  RecordSet equations;
  EXPECT_EQ(RecordsFromFile(equations, kEquationRecordType, file, log), kDone);
  ASSERT_EQ(equations.Count(), 1U);
  EXPECT_TRUE(log.Contains("GetRecords_File retrieved 1 of 3 \"eqn\" records"));
}

TEST(RecordSets, FromFileWithoutKeysGivesNoList) {
  const SettingsFileIndex file("type=\"HG4\"\r\nsn=\"1\"\r\n");
  RecordSet equations = SetOf({"stale"});
  EXPECT_EQ(RecordsFromFile(equations, kEquationRecordType, file, nullptr), kOk);
  EXPECT_TRUE(equations.records.empty());
  EXPECT_EQ(RecordsFromFile(equations, 7, file, nullptr), kErrProtoOutOfRange);
}

TEST(RecordSets, FromFileTakesAtMostTheTypesMaximum) {
  std::string text;
  for (int n = 0; n < 40; ++n) {
    text += "user" + std::string(n < 10 ? "0" : "") + std::to_string(n) + "=\"QUJD\"\r\n";
  }
  RecordSet users;
  EXPECT_EQ(RecordsFromFile(users, kUserRecordType, SettingsFileIndex(text), nullptr), kDone);
  EXPECT_EQ(users.Count(), kMaxUserRecords);
}

} // namespace
} // namespace zuro::test
