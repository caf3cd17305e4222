// The settings file: every kind's snapshot survives the round trip through
// the file, keys are found only where a line starts, the file is written
// whole or not at all and only its owner may read it, and damaged or foreign
// files are refused or read without mixing anything into the snapshot.
#include "service/SettingsFile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

#include "service/SnapshotSamples.h"
#include "support/TestLog.h"

namespace zuro::test {
namespace {

namespace fs = std::filesystem;

class TempFolder {
public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "zuro-settings-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string File(const char* name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

private:
  std::string path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

/// Reads `text` for `kind` into the snapshot a freshly connected service holds.
Result ReadBack(int kind, std::string_view text, SettingsSnapshot* out, ZuroLog* log = nullptr) {
  *out = ConnectedSnapshot(kind);
  return ParseSettingsFile(kind, text, out, log);
}

// ---- Round trip ----

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, EveryCollectedSettingComesBackUnchanged) {
  const int kind = GetParam();
  const SettingsSnapshot original = SampleFor(kind);
  const std::string text = FormatSettingsFile(kind, original);
  ASSERT_FALSE(text.empty());

  SettingsSnapshot back;
  ASSERT_EQ(ReadBack(kind, text, &back), kDone) << text;
  switch (SnapshotGroupOf(kind)) {
  case SnapshotGroup::kLogger:
    // The file carries no identity answer; the capability mask it gives is the
    // group's, everything else must be what was collected.
    back.settings.capabilityMask = original.settings.capabilityMask;
    EXPECT_EQ(back.savedSettingsMask, original.savedSettingsMask);
    EXPECT_EQ(back.settings, original.settings) << text;
    break;
  case SnapshotGroup::kInstrument:
    EXPECT_EQ(back.instInfo, original.instInfo) << text;
    EXPECT_EQ(back.users, original.users);
    EXPECT_EQ(back.equations, original.equations);
    break;
  case SnapshotGroup::kSensor:
    EXPECT_TRUE(SameSensorRecord(back.sensor, original.sensor)) << text;
    break;
  case SnapshotGroup::kNone:
    FAIL();
  }
}

TEST_P(RoundTrip, SettingsNotCollectedStayUnset) {
  // Only the serial number was collected: the zero and empty lines the
  // writer always adds must not become settings to write back.
  const int kind = GetParam();
  if (SnapshotGroupOf(kind) == SnapshotGroup::kSensor) {
    GTEST_SKIP() << "a sensor file has no optional settings";
  }
  SettingsSnapshot partial = SampleFor(kind);
  partial.savedSettingsMask = kSetSerialNumber;
  partial.settings.validFlags = kSetSerialNumber;
  partial.instInfo.validFlags = kInfoSerialNumber & InstInfoFileFlags(kind);
  SettingsSnapshot back;
  const Result r = ReadBack(kind, FormatSettingsFile(kind, partial), &back);
  EXPECT_EQ(r, kDone);
  if (SnapshotGroupOf(kind) == SnapshotGroup::kLogger) {
    EXPECT_EQ(back.savedSettingsMask, kSetSerialNumber);
    EXPECT_EQ(back.settings.serialNumber, "SN-12345");
    EXPECT_EQ(back.settings.trait, 0);
    EXPECT_EQ(back.settings.timeZone, 0);
  } else {
    EXPECT_EQ(back.instInfo.validFlags, partial.instInfo.validFlags);
    EXPECT_TRUE(back.users.records.empty());
    EXPECT_EQ(back.instInfo.tau, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(SaveTableKinds, RoundTrip, ::testing::ValuesIn(kSaveTableKinds),
                         [](const ::testing::TestParamInfo<int>& kind) {
                           return "Kind" + std::to_string(kind.param);
                         });

TEST(SettingsFileFormat, LoggerFileHasTheDocumentedLines) {
  const std::string text = FormatSettingsFile(3, LoggerSample(3));
  EXPECT_EQ(
      text.rfind("***** Auto-Generated Settings File -- DO NOT EDIT *****\r\n\r\ntype=\"Du70\"\r\n",
                 0),
      0U);
  for (const char* line :
       {"\r\nname=\"NODE7\"\r\n", "\r\ntrait=\"16393\"\r\n", "\r\nports=\"1 2 3 4 255\"\r\n",
        "\r\nlat=\"-33.86882\"\r\n", "\r\nlon=\"+151.20930\"\r\n", "\r\nipport=\"8080\"\r\n",
        "\r\nADC15 slopes=\"11 21 31 41 51\"\r\n", "\r\nend=\"1\"\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  // Every line ends with CR LF and nothing else.
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(text.begin(), text.end(), '\r'));
}

TEST(SettingsFileFormat, WrittenTypesAreTheKindsOwn) {
  EXPECT_EQ(SettingsFileType(2), "Lq7b");
  EXPECT_EQ(SettingsFileType(4), "Trellisbase");
  EXPECT_EQ(SettingsFileType(9), "VH"); // the reader takes the type the writer writes
  EXPECT_EQ(SettingsFileType(19), "KVL3");
  EXPECT_EQ(SettingsFileType(10), "Digital Sensor");
  EXPECT_EQ(SettingsFileType(21), "");
  EXPECT_EQ(FormatSettingsFile(21, SettingsSnapshot{}), "");
}

TEST(SettingsFileFormat, SaveFlagsFollowTheFirmwareVersion) {
  EXPECT_EQ(InstInfoSaveFlags(8, 199, 0), 0x7000400U);
  EXPECT_EQ(InstInfoSaveFlags(8, 200, 0), 0x7000C12U);
  // The HG4 family adds its humidity adjustment and time constant (0x40000000).
  EXPECT_EQ(InstInfoSaveFlags(15, 0, 204), 0x78000802U);
  EXPECT_EQ(InstInfoSaveFlags(15, 0, 205), 0x78000842U);
  EXPECT_EQ(InstInfoSaveFlags(22, 0, 0), 0x78000806U);
  EXPECT_EQ(InstInfoSaveFlags(3, 230, 230), 0U);
  EXPECT_EQ(LoggerSaveFlags(3), 0x7FFEFFFU);
  EXPECT_EQ(LoggerSaveFlags(2), 0x8000077U);
  EXPECT_EQ(LoggerSaveFlags(4), 0xD07U);
}

TEST(SettingsFileFormat, ValueWithALineEndCannotStartALineOfItsOwn) {
  SettingsSnapshot s = InstrumentSample(13);
  s.instInfo.name = "A\r\nsn=\"EVIL\"";
  const std::string text = FormatSettingsFile(13, s);
  EXPECT_EQ(text.find("\r\nsn=\"EVIL\""), std::string::npos);
  SettingsSnapshot back;
  EXPECT_EQ(ReadBack(13, text, &back), kDone);
  EXPECT_EQ(back.instInfo.serialNumber, "X1234");
  EXPECT_EQ(back.instInfo.name, "A");
}

// ---- Finding keys ----

TEST(SettingsFileKeys, KeyCountsOnlyAtTheStartOfALine) {
  const std::string text = "site=\"sn=\"EVIL\" Hill\"\r\n"
                           "name=\"personal\"\r\n"
                           "sn=\"GOOD-1\"\r\n";
  std::string_view value;
  ASSERT_TRUE(FindSettingValue(text, "sn", &value));
  EXPECT_EQ(value, "GOOD-1");
  ASSERT_TRUE(FindSettingValue(text, "site", &value));
  EXPECT_EQ(value, "sn=\"EVIL\" Hill"); // up to the line's last quote
  EXPECT_FALSE(FindSettingValue(text, "person", &value));
  EXPECT_FALSE(FindSettingValue(text, "s", &value));
}

TEST(SettingsFileKeys, HandEditedSpacingIsAccepted) {
  const std::string text = "  sn = \"A B\"   \r\n\tname\t=\t\"N1\"\nwake=\" 15 \"";
  std::string_view value;
  ASSERT_TRUE(FindSettingValue(text, "sn", &value));
  EXPECT_EQ(value, "A B");
  ASSERT_TRUE(FindSettingValue(text, "name", &value));
  EXPECT_EQ(value, "N1");
  ASSERT_TRUE(FindSettingValue(text, "wake", &value));
  EXPECT_EQ(value, " 15 ");
}

TEST(SettingsFileKeys, DamagedValuesAreNotFound) {
  struct Case {
    const char* text;
    const char* why;
  };
  for (const Case& c : {Case{"sn=\"ABC\r\n", "no closing quote"},
                        Case{"sn=\"A\x01"
                             "B\"\r\n",
                             "control character"},
                        Case{"sn=\"A\tB\"\r\n", "tab"}, Case{"sn=ABC\r\n", "no quotes"},
                        Case{"sn\"ABC\"\r\n", "no equals sign"}, Case{"=\"ABC\"\r\n", "no key"}}) {
    std::string_view value;
    EXPECT_FALSE(FindSettingValue(c.text, "sn", &value)) << c.why;
  }
  // The first line of a key decides, even when a later one would read.
  std::string_view value;
  EXPECT_FALSE(FindSettingValue("sn=\"ABC\r\nsn=\"DEF\"\r\n", "sn", &value));
  ASSERT_TRUE(FindSettingValue("sn=\"ABC\"\r\nsn=\"DEF\"\r\n", "sn", &value));
  EXPECT_EQ(value, "ABC");
}

// ---- Reading refused or damaged files ----

TEST(SettingsFileRead, RestoredSettingsNeverMixWithTheSnapshotBefore) {
  // The service still holds another instrument's settings; the file holds
  // only a serial number. Nothing of the other instrument may be restored.
  SettingsSnapshot held = InstrumentSample(16);
  held.instInfo.serialNumber = "OTHER";
  const std::string text =
      std::string(kSettingsFileHeader) + "\r\n\r\ntype=\"KWM\"\r\nsn=\"MINE\"\r\n";
  ASSERT_EQ(ParseSettingsFile(16, text, &held, nullptr), kErrPartialSettings);
  EXPECT_EQ(held.instInfo.validFlags, kInfoSerialNumber);
  EXPECT_EQ(held.instInfo.serialNumber, "MINE");
  EXPECT_EQ(held.instInfo.config, "");
  EXPECT_TRUE(held.users.records.empty());
}

TEST(SettingsFileRead, ForeignOrBrokenFilesLeaveTheSnapshotAsItWas) {
  const SettingsSnapshot before = SampleFor(3);
  const std::string du70 = FormatSettingsFile(3, before);
  std::string binary;
  for (int i = 0; i < 4096; ++i) {
    binary.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
  }
  struct Case {
    int kind;
    std::string text;
    Result expected;
    const char* what;
  };
  const Case cases[] = {
      {3, "", kErrNotUnderstood, "empty"},
      {3, binary, kErrNotUnderstood, "binary"},
      {18, du70, kErrNotUnderstood, "a Du70's file for a qT7"},
      {15, FormatSettingsFile(16, SampleFor(16)), kErrNotUnderstood, "a KWM's file for an HG4"},
      {3, FormatSettingsFile(10, SampleFor(10)), kErrNotUnderstood, "a sensor's file for a Du70"},
      {3, "type=\"Du70\r\nname=\"X\"\r\n", kErrNotUnderstood, "unterminated type"},
      {3, "xtype=\"Du70\"\r\n", kErrNotUnderstood, "type only inside another key"},
      {3, "type=\"Du70\"\r\nsaved=\"banana\"\r\n", kErrNotUnderstood, "unreadable saved line"},
      {21, du70, kErrProtoNotSupported, "kind without a snapshot"},
  };
  for (const Case& c : cases) {
    SettingsSnapshot snapshot = before;
    EXPECT_EQ(ParseSettingsFile(c.kind, c.text, &snapshot, nullptr), c.expected) << c.what;
    EXPECT_EQ(snapshot, before) << c.what;
  }
}

TEST(SettingsFileRead, TruncatedFileRestoresWhatItHoldsAndSaysSomeAreMissing) {
  const SettingsSnapshot original = SampleFor(3);
  const std::string text = FormatSettingsFile(3, original);
  const std::size_t cut = text.find("passwd=\"") + 10; // in the middle of the password
  TestLog log;
  SettingsSnapshot back;
  EXPECT_EQ(ReadBack(3, text.substr(0, cut), &back, log), kErrPartialSettings);
  EXPECT_EQ(back.settings.deviceName, "NODE7");
  EXPECT_EQ(back.settings.apnUser, "apnuser");
  EXPECT_EQ(back.settings.apnPassword, "");
  EXPECT_EQ(back.savedSettingsMask & (kSetApnPassword | kSetHost | kSetAuthKey | kSetIpPort), 0U);
  EXPECT_TRUE(log.Contains("ReadInfoFile found an incomplete settings file"));

  // Cut after a whole line: the values are all good, but the end line is missing.
  const std::size_t lineCut = text.find("end=\"1\"");
  EXPECT_EQ(ReadBack(3, text.substr(0, lineCut), &back), kErrPartialSettings);
  back.settings.capabilityMask = original.settings.capabilityMask;
  EXPECT_EQ(back.settings, original.settings);
}

TEST(SettingsFileRead, HandWrittenFileRestoresEveryKeyItHolds) {
  // No saved line: a file made by hand restores every setting it holds.
  const std::string text = "type=\"Du70\"\r\n"
                           "  name = \"HAND\"  \r\n"
                           "wake=\" 600 \"\r\n"
                           "timezone=\"-8\"\r\n"
                           "lat=\"45.5\"\r\n"
                           "ports=\"1  2 3 4 5\"\r\n"
                           "padc=\"12x\"\r\n"    // not a number: left alone
                           "depth=\"1 2 3\"\r\n" // too few: left alone
                           "rch=\"99999999999\"\r\n"
                           "end=\"1\"\r\n";
  TestLog log;
  SettingsSnapshot back;
  EXPECT_EQ(ReadBack(3, text, &back, log), kDone);
  EXPECT_EQ(back.savedSettingsMask, kSetName | kSetWake | kSetTimeZone | kSetLatitude | kSetPorts);
  EXPECT_EQ(back.settings.deviceName, "HAND");
  EXPECT_EQ(back.settings.wake, 600);
  EXPECT_EQ(back.settings.timeZone, -8);
  EXPECT_DOUBLE_EQ(back.settings.latitude, 45.5);
  EXPECT_EQ(back.settings.ports, (PortBytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(back.settings.capabilityMask, 0x707FFF7U);
  EXPECT_TRUE(log.Contains("ReadInfoFile ignored \"padc\""));
}

TEST(SettingsFileRead, TrellisbaseRadioSubChannelMeansARadio) {
  const std::string text = "type=\"Trellisbase\"\r\nrsch=\"12\"\r\ntrait=\"3\"\r\nend=\"1\"\r\n";
  SettingsSnapshot back;
  EXPECT_EQ(ReadBack(4, text, &back), kDone);
  EXPECT_EQ(back.savedSettingsMask, kSetRadioSubChannel | kSetTrait);
  EXPECT_EQ(back.settings.trait, 0x4001);
  EXPECT_EQ(back.settings.radioSubChannel, 12U);
  EXPECT_EQ(back.settings.capabilityMask, 0x24583U);
}

TEST(SettingsFileRead, SensorAddressMustBeAnSdiAddress) {
  for (const auto& [text, address] :
       {std::pair<const char*, char>{"type=\"Digital Sensor\"\r\naddressInt=\"98\"\r\n", 'b'},
        {"type=\"Digital Sensor\"\r\naddressInt=\"0\"\r\n", '0'},
        {"type=\"Digital Sensor\"\r\naddressInt=\"300\"\r\n", '0'},
        {"type=\"Digital Sensor\"\r\naddressInt=\"33\"\r\n", '0'}}) {
    SettingsSnapshot back;
    back.sensor.sensorAddress = 'z';
    ParseSettingsFile(10, text, &back, nullptr);
    EXPECT_EQ(back.sensor.sensorAddress, address) << text;
  }
}

// ---- The file on disk ----

TEST(SettingsFileDisk, WrittenWholeOwnerOnlyAndWithoutLeftovers) {
  TempFolder folder;
  const std::string path = folder.File("Du70.settings.txt");
  WriteAll(path, "old settings");
  ::chmod(path.c_str(), 0644);
  const mode_t oldMask = ::umask(0);
  const std::string text = FormatSettingsFile(3, SampleFor(3));
  const Result r = WriteSettingsFileText(path, text, nullptr);
  ::umask(oldMask);
  ASSERT_EQ(r, kDone);
  EXPECT_EQ(ReadAll(path), text);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);
  EXPECT_THAT(folder.Names(), ::testing::ElementsAre("Du70.settings.txt"));

  std::string back;
  EXPECT_EQ(ReadSettingsFileText(path, &back, nullptr), kDone);
  EXPECT_EQ(back, text);
}

TEST(SettingsFileDisk, FailedWriteKeepsTheGoodFileAndIsReported) {
  // A file-size limit makes the write fail part-way, as a full disk does.
  TempFolder folder;
  const std::string path = folder.File("KWM.settings.txt");
  const std::string good = FormatSettingsFile(16, SampleFor(16));
  ASSERT_EQ(WriteSettingsFileText(path, good, nullptr), kDone);

  std::string big(std::size_t{64} * 1024, 'x');
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  TestLog log;
  const Result r = WriteSettingsFileText(path, big, log);
  EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
  (void)std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(r, -EFBIG);
  EXPECT_EQ(ReadAll(path), good);
  EXPECT_THAT(folder.Names(), ::testing::ElementsAre("KWM.settings.txt"));
  EXPECT_TRUE(log.Contains("WriteInfoFile got error " + std::to_string(EFBIG) +
                           " trying to write settings file " + path));
}

TEST(SettingsFileDisk, UnwritableFolderIsReported) {
  TestLog log;
  const std::string path = "/nonexistent-zuro-folder/x.settings.txt";
  EXPECT_EQ(WriteSettingsFileText(path, "text", log), -ENOENT);
  EXPECT_TRUE(log.Contains("WriteInfoFile got error " + std::to_string(ENOENT) +
                           " trying to open settings file " + path));
  EXPECT_EQ(WriteSettingsFileText("", "text", nullptr), kErrMissingArgument);
}

TEST(SettingsFileDisk, ReadErrorsHaveTheirCodes) {
  TempFolder folder;
  std::string text;
  EXPECT_EQ(ReadSettingsFileText(folder.File("missing.txt"), &text, nullptr),
            kErrSettingsFileMissing);
  EXPECT_EQ(ReadSettingsFileText("", &text, nullptr), kErrMissingArgument);
  EXPECT_EQ(ReadSettingsFileText(folder.Path(), &text, nullptr), -EISDIR);

  const std::string fifo = folder.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadSettingsFileText(fifo, &text, nullptr), -EINVAL); // and it does not hang

  const std::string huge = folder.File("huge.txt");
  {
    std::ofstream out(huge, std::ios::binary);
    const std::string block(std::size_t{1024} * 1024, 'A');
    for (int i = 0; i < 50; ++i) {
      out << block;
    }
  }
  text = "unchanged";
  EXPECT_EQ(ReadSettingsFileText(huge, &text, nullptr), kErrSettingsFileTooLarge);
  EXPECT_EQ(text, "unchanged");

  const std::string empty = folder.File("empty.txt");
  WriteAll(empty, "");
  EXPECT_EQ(ReadSettingsFileText(empty, &text, nullptr), kDone);
  EXPECT_EQ(text, "");
}

TEST(SettingsFileDisk, UnreadableFileGivesAccessDenied) {
  TempFolder folder;
  const std::string path = folder.File("secret.txt");
  ASSERT_EQ(WriteSettingsFileText(path, "type=\"Du70\"\r\n", nullptr), kDone);
  ::chmod(folder.Path().c_str(), 0755);
  if (::geteuid() != 0) {
    std::string text;
    EXPECT_EQ(ReadSettingsFileText(path, &text, nullptr), kErrSettingsFileDenied);
    return;
  }
  // Root reads everything: try as an ordinary user in a child process.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(1);
    }
    std::string text;
    ::_exit(-ReadSettingsFileText(path, &text, nullptr));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(-WEXITSTATUS(status), kErrSettingsFileDenied);
}

TEST(SettingsFileDisk, SecretsAreMaskedForTheLog) {
  EXPECT_EQ(MaskSecret(""), "");
  EXPECT_EQ(MaskSecret("hunter2"), "****");
}

} // namespace
} // namespace zuro::test
