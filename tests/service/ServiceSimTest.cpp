// The settings snapshot end to end against the device simulator on a
// pseudo-terminal: a configured instrument of each kind is saved to the
// settings file, its information memory is erased (the instrument restarts
// with factory values), and a new service object, as after an interrupted
// update, restores it from the file alone. Its settings store must equal the
// original.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>

#include "service/ServiceFixture.h"
#include "service/SettingsFile.h"
#include "sim/PtyServer.h"
#include "sim/SensorSetup.h"
#include "sim/SimSetup.h"

namespace zuro::test {
namespace {

namespace fs = std::filesystem;
using sim::DeviceMode;
using sim::SimDevice;
using sim::SimLine;

/// A simulated instrument served on a pseudo-terminal in real time.
class SimInstrument {
public:
  explicit SimInstrument(const sim::InstrumentProfile& profile, bool configured = true) {
    sim::DeviceConfig device;
    device.profile = &profile;
    device.configured = configured;
    line_ = sim::MakeDeviceLine(device, sim::LineConfig{});
    server_ = std::make_unique<sim::PtyServer>(*line_);
    ok_ = server_->Open() == 0 && server_->Start() == 0;
  }
  ~SimInstrument() { server_->Stop(); }

  bool Ok() const { return ok_; }
  const std::string& Port() const { return server_->SlavePath(); }

  template <class F> auto WithDevice(F&& f) {
    return server_->WithLine([&](SimLine& line) { return f(sim::DeviceOf(line), line); });
  }

  sim::SettingsStore Store() {
    return WithDevice([](SimDevice& d, SimLine&) { return d.Settings(); });
  }

  /// Erases the information memory and cuts the power: the firmware comes
  /// back with factory settings. Waits until it listens again.
  bool EraseInfoAndRestart() {
    const std::uint32_t starts = WithDevice([](SimDevice& d, SimLine& line) {
      const sim::MemoryLayout& layout = d.Layout();
      for (std::uint32_t s = 0; s < layout.infoSegments; ++s) {
        d.FlashMemory().EraseSegment(layout.infoStart + s * layout.infoSegmentSize);
      }
      const std::uint32_t before = d.Starts();
      d.PowerCut(line.Now());
      return before;
    });
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const bool back = WithDevice([&](SimDevice& d, SimLine&) {
        return d.Starts() > starts && d.Mode() == DeviceMode::kFirmware;
      });
      if (back) {
        return !WithDevice([](SimDevice& d, SimLine&) { return d.SettingsFromInfo(); });
      }
    }
    return false;
  }

  std::string SentByHost() {
    return server_->WithLine(
        [](SimLine& line) { return line.Record().AllBytes(sim::LineDirection::kToDevice); });
  }

private:
  std::unique_ptr<SimLine> line_;
  std::unique_ptr<sim::PtyServer> server_;
  bool ok_ = false;
};

/// Connects a service to the instrument and logs in when its kind wants it.
Result Connect(TestService& service, const std::string& port, DeviceKindEntry& entry) {
  Result r = service.ZPConnect(port, Zuro_protocol::kConnectBaudIndex, Zuro_protocol::kConnectTries,
                               &entry);
  if (r > 0 && entry.logInFirst) {
    r = service.ZPLogin();
  }
  return r;
}

/// The settings a kind's snapshot does not carry, with the reason; every
/// other setting of the store must come back.
const std::map<std::string, std::set<std::string>>& NotCarried() {
  // None: the simulated instruments configure only what their snapshots
  // carry, and keep their fixed values (build text, the qT7's radio mode, the
  // Trellisbase's trait) through an erase.
  static const std::map<std::string, std::set<std::string>> keys = {};
  return keys;
}

void ExpectSameStore(const sim::SettingsStore& original, const sim::SettingsStore& restored,
                     const std::string& code) {
  std::set<std::string> skip;
  if (NotCarried().count(code) != 0) {
    skip = NotCarried().at(code);
  }
  for (const auto& [key, value] : original.Values()) {
    if (skip.count(key) != 0) {
      continue;
    }
    const auto other = restored.Get(key);
    ASSERT_TRUE(other.has_value()) << code << " " << key;
    EXPECT_EQ(*other, value) << code << " setting " << key;
  }
  EXPECT_EQ(restored.CalSlots(), original.CalSlots()) << code;
  // Records are written back in name order, as the instruments list them.
  EXPECT_THAT(restored.Equations(), ::testing::UnorderedElementsAreArray(original.Equations()))
      << code;
  EXPECT_THAT(restored.Users(), ::testing::UnorderedElementsAreArray(original.Users())) << code;
}

std::string SettingsPath(const char* name) {
  return (fs::temp_directory_path() /
          ("zuro-sim-" + std::to_string(::getpid()) + "-" + name + ".settings.txt"))
      .string();
}

TEST(ServiceSim, Hg4NewSerialNumberMovesTheConfigChecksum) {
  // The HG4 refuses a config word whose checksum does not match its serial number.
  SimInstrument instrument(*sim::ProfileByName("hg4"));
  ASSERT_TRUE(instrument.Ok());
  const std::string path = SettingsPath("hg4-new-sn");
  TestLog log;
  {
    TestService before(log);
    DeviceKindEntry entry;
    ASSERT_EQ(Connect(before, instrument.Port(), entry), kDone);
    ASSERT_EQ(before.ZPSaveInfo(path), kDone);
    ASSERT_EQ(before.InstInfo().serialNumber, "AB");
    ASSERT_EQ(before.InstInfo().config, "5131");
    before.ZPDisconnect(false);
  }
  ASSERT_TRUE(instrument.EraseInfoAndRestart());
  TestService after(log);
  DeviceKindEntry entry;
  ASSERT_EQ(Connect(after, instrument.Port(), entry), kDone);
  EXPECT_EQ(after.ZPRestoreInfo(path, "AC"), kDone) << log.Text();
  const sim::SettingsStore store = instrument.Store();
  EXPECT_EQ(store.Get("sn").value_or(""), "AC");
  EXPECT_EQ(store.Get("config").value_or(""), "5132"); // 5131 - 'A'-'B' + 'A'-'C'
  const std::string sent = instrument.SentByHost();
  const std::size_t serial = sent.find("set -sn AC\r");
  const std::size_t config = sent.find("set -config 5132\r");
  ASSERT_NE(serial, std::string::npos);
  ASSERT_NE(config, std::string::npos);
  EXPECT_LT(serial, config);
  fs::remove(path);
}

TEST(ServiceSim, LoggerWithADeviceIdKeepsItsSerialNumber) {
  SimInstrument instrument(*sim::ProfileByName("du70"));
  ASSERT_TRUE(instrument.Ok());
  const std::string path = SettingsPath("du70-devid");
  TestLog log;
  TestService service(log);
  DeviceKindEntry entry;
  ASSERT_EQ(Connect(service, instrument.Port(), entry), kDone);
  const Result saved = service.ZPSaveInfo(path);
  ASSERT_TRUE(saved == kDone || saved == kErrPartialSettings) << saved;
  ASSERT_TRUE(service.SettingsSaved());
  ASSERT_NE(service.SavedSettingsMask() & kSetDeviceId, 0U);
  // The snapshot in memory is used: nothing is read from the file.
  fs::remove(path);
  EXPECT_EQ(service.ZPRestoreInfo(path, "NEWSN"), kDone) << log.Text();
  EXPECT_EQ(instrument.SentByHost().find("set -sn"), std::string::npos);
  EXPECT_EQ(instrument.Store().Get("sn").value_or(""), "DU7010442");
  EXPECT_EQ(instrument.Store().Get("i").value_or(""), "NODE1");
}

TEST(ServiceSim, UninitialisedLoggerIsNotSaved) {
  SimInstrument instrument(*sim::ProfileByName("du70"), /*configured=*/false);
  ASSERT_TRUE(instrument.Ok());
  const std::string path = SettingsPath("du70-blank");
  TestLog log;
  TestService service(log);
  DeviceKindEntry entry;
  ASSERT_EQ(Connect(service, instrument.Port(), entry), kDone);
  EXPECT_EQ(service.ZPSaveInfo(path), kErrProtoNoName);
  EXPECT_FALSE(service.SettingsSaved());
  EXPECT_EQ(service.SavedSettingsMask(), 0U);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(log.Contains("ZPSaveInfo does not save data for an uninitialized device"));
}

TEST(ServiceSim, SecretsAreInTheFileButNotInTheServiceLog) {
  SimInstrument instrument(*sim::ProfileByName("du70"));
  ASSERT_TRUE(instrument.Ok());
  const std::string path = SettingsPath("du70-secrets");
  TestLog log;
  {
    TestService before(log);
    DeviceKindEntry entry;
    ASSERT_EQ(Connect(before, instrument.Port(), entry), kDone);
    before.ZPSaveInfo(path);
    before.ZPDisconnect(false);
  }
  TestService after(log); // restores from the file
  DeviceKindEntry entry;
  ASSERT_EQ(Connect(after, instrument.Port(), entry), kDone);
  EXPECT_EQ(after.ZPRestoreInfo(path, nullptr), kDone);
  std::ifstream in(path, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(file.find("passwd=\"s3cret\""), std::string::npos);
  EXPECT_NE(file.find("authkey=\"00112233445566778899AABBCCDDEEFF\""), std::string::npos);
  for (const std::string& line : log.Lines()) {
    if (line.find("Zuro_protocol:") != std::string::npos) {
      EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
      EXPECT_EQ(line.find("00112233445566778899AABBCCDDEEFF"), std::string::npos) << line;
    }
  }
  fs::remove(path);
}

TEST(ServiceSim, ChecksAroundAnUpdate) {
  SimInstrument instrument(*sim::ProfileByName("hg4"));
  ASSERT_TRUE(instrument.Ok());
  TestLog log;
  TestService service(log);
  DeviceKindEntry entry;
  ASSERT_EQ(Connect(service, instrument.Port(), entry), kDone);
  std::int32_t percent = 0;
  EXPECT_EQ(service.ZPCheckBattery(&percent), kDone);
  EXPECT_EQ(percent, 87);
  EXPECT_EQ(service.ZPCheckFirmware(entry.selfTestWithInit), kDone);
  EXPECT_EQ(service.ZPSetTime(), kDone);
  EXPECT_EQ(service.ZPEraseData(), kDone) << log.Text();
  EXPECT_EQ(instrument.WithDevice([](SimDevice& d, SimLine&) { return d.Data().records; }), 0U);
  EXPECT_EQ(service.ZPDisconnect(true), kDone);
}

TEST(ServiceSim, DigitalSensorRestoredFromTheFileAlone) {
  sim::ReaderConfig config;
  config.firmware.profile = sim::ProfileByName("vantorix");
  std::unique_ptr<SimLine> line = sim::MakeReaderLine(config, sim::LineConfig{});
  sim::PtyServer server(*line);
  ASSERT_EQ(server.Open(), 0);
  ASSERT_EQ(server.Start(), 0);
  const auto sensor = [&](auto&& f) {
    return server.WithLine([&](SimLine& l) { return f(sim::ReaderOf(l)->Sensor(), l); });
  };
  const std::string path = SettingsPath("sensor");
  TestLog log;
  const auto open = [&](TestService& service) {
    service.SetKind(kSensorDeviceKind);
    ASSERT_EQ(service.Protocol().ZSOpen(server.SlavePath().c_str(), 9600), 1);
    ASSERT_GT(service.Protocol().ZSWrite("["), 0); // the reader passes SDI-12 commands on
    DelayMs(50);
  };

  sim::SensorSettings original;
  {
    TestService before(log);
    open(before);
    ASSERT_EQ(before.ZPSaveInfo(path), kDone) << log.Text();
    original = sensor([](sim::Sdi12Sensor& s, SimLine&) { return s.Settings(); });
    ASSERT_FALSE(original.mainCal.empty());
  }
  const std::uint32_t starts = sensor([](sim::Sdi12Sensor& s, SimLine& l) {
    const sim::MemoryLayout& layout = s.FlashMemory().Layout();
    for (std::uint32_t seg = 0; seg < layout.infoSegments; ++seg) {
      s.FlashMemory().EraseSegment(layout.infoStart + seg * layout.infoSegmentSize);
    }
    const std::uint32_t before = s.Starts();
    s.PowerCut(l.Now());
    return before;
  });
  bool back = false;
  for (int i = 0; i < 100 && !back; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    back = sensor([&](sim::Sdi12Sensor& s, SimLine&) {
      return s.Starts() > starts && s.Mode() == sim::SensorMode::kFirmware;
    });
  }
  ASSERT_TRUE(back);
  ASSERT_FALSE(sensor([&](sim::Sdi12Sensor& s, SimLine&) { return s.Settings() == original; }));

  TestService after(log);
  open(after);
  EXPECT_EQ(after.ZPRestoreInfo(path, nullptr), kDone) << log.Text();
  const sim::SensorSettings restored =
      sensor([](sim::Sdi12Sensor& s, SimLine&) { return s.Settings(); });
  EXPECT_EQ(restored.address, original.address);
  EXPECT_EQ(restored.serial, original.serial);
  EXPECT_EQ(restored.mainCal, original.mainCal);
  EXPECT_EQ(restored.secondCal, original.secondCal);
  EXPECT_EQ(restored.thirdCal, original.thirdCal);
  server.Stop();
  fs::remove(path);
}

class SaveEraseRestore : public ::testing::TestWithParam<const sim::InstrumentProfile*> {};

TEST_P(SaveEraseRestore, RestoredFromTheFileAloneTheStoreEqualsTheOriginal) {
  const sim::InstrumentProfile& profile = *GetParam();
  SimInstrument instrument(profile);
  ASSERT_TRUE(instrument.Ok());
  const std::string path = (fs::temp_directory_path() / ("zuro-sim-" + std::to_string(::getpid()) +
                                                         "-" + profile.simName + ".settings.txt"))
                               .string();
  TestLog log;

  sim::SettingsStore original;
  {
    TestService before(log);
    DeviceKindEntry entry;
    ASSERT_EQ(Connect(before, instrument.Port(), entry), kDone) << log.Text();
    ASSERT_EQ(entry.kind, profile.kind);
    // A logger without a radio module answers the radio settings with -35.
    const Result saved = before.ZPSaveInfo(path);
    if (SnapshotGroupOf(profile.kind) == SnapshotGroup::kLogger && saved == kErrPartialSettings) {
      EXPECT_EQ(before.SavedSettingsMask() & kSetRadioItems, 0U);
    } else {
      EXPECT_EQ(saved, kDone) << log.Text();
    }
    original = instrument.Store(); // after the save: the HG4's sensor reset is part of it
    EXPECT_EQ(before.ZPDisconnect(false), kDone);
  }
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  ASSERT_TRUE(instrument.EraseInfoAndRestart());
  ASSERT_NE(instrument.Store().Values(), original.Values()) << "the erase changed nothing";

  {
    TestService after(log);
    DeviceKindEntry entry;
    ASSERT_EQ(Connect(after, instrument.Port(), entry), kDone) << log.Text();
    EXPECT_EQ(after.ZPRestoreInfo(path, nullptr), kDone) << log.Text();
    EXPECT_EQ(after.ZPDisconnect(true), kDone);
  }
  ExpectSameStore(original, instrument.Store(), profile.code);
  fs::remove(path);
}

std::vector<const sim::InstrumentProfile*> SaveTableProfiles() {
  std::vector<const sim::InstrumentProfile*> profiles;
  for (const sim::InstrumentProfile& p : sim::AllProfiles()) {
    if (SnapshotGroupOf(p.kind) == SnapshotGroup::kLogger ||
        SnapshotGroupOf(p.kind) == SnapshotGroup::kInstrument) {
      profiles.push_back(&p);
    }
  }
  return profiles;
}

INSTANTIATE_TEST_SUITE_P(SimulatedKinds, SaveEraseRestore, ::testing::ValuesIn(SaveTableProfiles()),
                         [](const ::testing::TestParamInfo<const sim::InstrumentProfile*>& p) {
                           return std::string(p.param->simName);
                         });

} // namespace
} // namespace zuro::test
