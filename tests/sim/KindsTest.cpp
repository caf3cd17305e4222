#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "sim/SimTestSupport.h"

namespace zuro::sim {
namespace {

using test::SimFixture;

TEST(SimKinds, EveryKindReportsItsIdentityAndLayout) {
  const struct {
    const char* kind;
    const char* identity;
    std::uint32_t bootLoaderBaud;
  } cases[] = {
      {"du70", "DU70 2.20", 9600},      {"qt7", "QT7 1.40", 9600},
      {"kvl", "KVL 1.12", 9600},        {"lq7b", "LQ7B 2.04", 9600},
      {"trellisbase", "ZS 1.12", 9600}, {"hg4", "HG4 2.05", 57600},
      {"vantorix", "VX 1.23", 57600},   {"vcd", "VCD 1.05", 9600},
      {"qx20", "QX20 2.01", 9600},      {"tq8", "TQ 1.31", 9600},
      {"hlite", "HLITE 1.24", 9600},    {"vh", "VH 1.12", 9600},
      {"hsig", "HSIG 1.07", 9600},      {"q3b", "Q3B 3.62", 9600},
      {"kwm", "KWM 1.30", 57600},       {"wq7c", "WQ7C 1.03", 9600},
      {"zuv", "ZUV 1.15", 9600},        {"hg4tdl", "HG4TDL 2.10", 57600},
      {"rwz", "RWZ 1.41", 57600},       {"flowdriv", "FLOWDRIV 1.02", 9600},
      {"unknown", "XYZ 1.00", 9600},
  };
  for (const auto& c : cases) {
    SimFixture sim(c.kind);
    EXPECT_EQ(sim.Ex("get -ver\r"), StrFormat("\r%s\r>", c.identity)) << c.kind;
    EXPECT_EQ(sim.Device().Layout().bootLoaderBaud, c.bootLoaderBaud) << c.kind;
    EXPECT_EQ(sim.Device().Identity(), c.identity);
  }
}

TEST(SimKinds, OldLq7KnowsOnlyShowAndItsOldCommands) {
  SimFixture sim("lq7");
  EXPECT_EQ(sim.Ex("get -ver\r"), "\r?\r>");
  EXPECT_EQ(sim.Ex("show\r"), "\rID: NODE7\rVersion: 1.20\rRadio: 1\rWake: 900\rResets: 1\r>");
  EXPECT_EQ(sim.Ex("set -w 600\r"), "\r>"); // taken with the bare prompt
  EXPECT_EQ(sim.Ex("hertz\r"), "\r20\r>");
  EXPECT_EQ(sim.Ex("set -p 30\r"), "\r>");
  EXPECT_NE(sim.Ex("time\r").find("Date\\Time: "), std::string::npos);
  EXPECT_EQ(sim.Ex("set -t 1:2:3\r"), "\r>");
  EXPECT_EQ(sim.Ex("yes\r"), "\rData erased OK!\r>"); // ends in '!' on old firmware
  EXPECT_EQ(sim.Ex("get -i\r"), "\r?\r>");
  EXPECT_EQ(sim.Ex("boot KWAX\r"), "\r?\r>");
  EXPECT_EQ(sim.Device().Mode(), DeviceMode::kFirmware);
  EXPECT_NE(sim.Ex("show\r").find("Wake: 600"), std::string::npos);
}

TEST(SimKinds, LoggerFamiliesDifferWhereTheirFirmwareDoes) {
  SimFixture kvl("kvl");
  EXPECT_EQ(kvl.Ex("set -adc30 10 20 30\r"), "\rERROR\r>"); // five channels
  EXPECT_EQ(kvl.Ex("get -rch\r"), "\rUnsupported\r>");
  EXPECT_EQ(kvl.Ex("get -apn\r"), "\rUnsupported\r>");

  SimFixture lq7b("lq7b");
  EXPECT_EQ(lq7b.Ex("set -baud 3\r"), "\rUnsupported\r>");
  EXPECT_EQ(lq7b.Ex("get -build\r"), "\rL0204\r>");
  EXPECT_EQ(lq7b.Ex("get -site\r"), "\rUnsupported\r>");

  SimFixture base("trellisbase");
  EXPECT_EQ(base.Ex("get -rch\r"), "\rOK\r3\r>"); // its radio is built in
  EXPECT_EQ(base.Ex("set -rch 5\r"), "\rOK\r>");
  EXPECT_EQ(base.Ex("set -rsch 1F00\r"), "\rOK\r>");
  EXPECT_EQ(base.Ex("get -rsch\r"), "\rOK\r1F00\r>");
  EXPECT_EQ(base.Ex("set -rch 7\r"), "\rERROR\r>");
  EXPECT_EQ(base.Ex("get -rver\r"), "\rOK\r1A07\r>");
  EXPECT_EQ(base.Ex("get -t\r"), "\rUnsupported\r>"); // no clock
  EXPECT_EQ(base.Ex("get -data\r"), "\r2\r>");
}

TEST(SimKinds, Hygrant4NeedsTheAccessCodeAndGuardsItsConfigWord) {
  SimFixture sim("hg4");
  EXPECT_EQ(sim.Ex("get -sn\r"), "\rERROR\r>");
  EXPECT_EQ(sim.Ex("get -batt\r"), "\r\n87\r>");
  EXPECT_EQ(sim.Ex("login *2293\r\n\r"), "\r7035\r>");
  EXPECT_EQ(sim.Ex("get -sn\r"), "\r\nAB\r>");
  EXPECT_EQ(sim.Ex("get -config\r"), "\r\n5131\r>");
  EXPECT_EQ(sim.Ex("set -sensor 0\r"), "\rOK\r>");
  // A new serial number needs the config word corrected by the character sums.
  EXPECT_EQ(sim.Ex("set -sn AC\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("set -config 5131\r"), "\rERROR\r>");
  EXPECT_EQ(sim.Ex("set -config 5132\r"), "\rOK\r>");
  // Records: a count, then each record by number.
  EXPECT_EQ(sim.Ex("get -eqn\r"), "\r\n3\r>");
  EXPECT_EQ(sim.Ex("get -eqn 1\r"), "\r\nRH_PCT 0.9950 1.2000\r>");
  EXPECT_EQ(sim.Ex("get -eqn 3\r"), "\rERROR\r>");
  EXPECT_EQ(sim.Ex("get -user\r"), "\r\n3\r>");
  EXPECT_EQ(sim.Ex("reset -users\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("get -user\r"), "\r\n0\r>");
  EXPECT_EQ(sim.Ex("set -user 1 QQ==\r"), "\rERROR\r>"); // no gaps
  EXPECT_EQ(sim.Ex("set -user 0 QQ==\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("get -user 0\r"), "\r\nQQ==\r>");
  EXPECT_EQ(sim.Ex("set -sec 757382400\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("logout\r"), "\r>");
  EXPECT_EQ(sim.Ex("yes\r"), "\rERROR\r>");
}

TEST(SimKinds, SingleSettingInstrumentsServeTheirSettings) {
  const struct {
    const char* kind;
    const char* key;
    const char* initial;
    const char* set;
  } cases[] = {
      {"vantorix", "contr", "62", "40"},
      {"vantorix", "adc15", "1.0012 0.0031", "1 0"},
      {"vcd", "i", "VCD01", "VCD02"},
      {"vcd", "sn", "VCD330017", "VCD1"},
      {"qx20", "loc", "Greenhouse 2, bench 4", "Lab"},
      {"qx20", "x", "CH4", "CH5"},
      {"qx20", "ext", "EXT1", "EXT2"},
      {"qx20", "adccal", "1.0021 0.0004", "1 0"},
      {"tq8", "units", "1", "2"},
      {"tq8", "sample", "10 s avg", "1 s"},
      {"tq8", "adc", "0.998", "1.001"},
  };
  for (const auto& c : cases) {
    SimFixture sim(c.kind);
    EXPECT_EQ(sim.Ex(StrFormat("get -%s\r", c.key)), StrFormat("\r\n%s\r>", c.initial))
        << c.kind << " " << c.key;
    EXPECT_EQ(sim.Ex(StrFormat("set -%s %s\r", c.key, c.set)), "\rOK\r>");
    EXPECT_EQ(sim.Ex(StrFormat("get -%s\r", c.key)), StrFormat("\r\n%s\r>", c.set));
  }
  SimFixture tq8("tq8");
  EXPECT_EQ(tq8.Ex("set -units mm\r"), "\rERROR\r>"); // a number on this instrument
  SimFixture vx("vantorix");
  EXPECT_EQ(vx.Ex("get -cal 1\r"), "\r\n1 0.9981 0.0102\r>");
  EXPECT_EQ(vx.Ex("get -cal 3\r"), "\r\n\r>");
  EXPECT_EQ(vx.Ex("set -cal 3 3 1.0 0.0\r"), "\rOK\r>");
  EXPECT_EQ(vx.Ex("get -cal 20\r"), "\rERROR\r>");
  EXPECT_EQ(vx.Ex("yes\r"), "\rOK\r>");
  SimFixture vcd("vcd");
  EXPECT_EQ(vcd.Ex("yes\r"), "\r?\r>"); // nothing to erase
  EXPECT_EQ(vcd.Ex("get -t\r"), "\rUnsupported\r>");
}

/// Cuts the power and waits until the firmware listens again.
void Restart(SimFixture& sim) {
  sim.Device().PowerCut(sim.Line().Now());
  sim.Line().RunFor(3000 * kUsPerMs);
}

/// Erases the information memory, then restarts.
void EraseInfoAndRestart(SimFixture& sim) {
  const MemoryLayout& layout = sim.Device().Layout();
  for (std::uint32_t s = 0; s < layout.infoSegments; ++s) {
    sim.Device().FlashMemory().EraseSegment(layout.infoStart + s * layout.infoSegmentSize);
  }
  Restart(sim);
}

std::string LogIn(SimFixture& sim, const InstrumentProfile& profile) {
  return profile.logInFirst ? sim.Ex("login *2293\r") : std::string();
}

// Every setting of every single-setting instrument reads back what was set,
// survives a power cut, and is gone (factory value) once the information
// memory is erased.
TEST(SimKinds, SingleSettingsLiveInInformationMemory) {
  for (const InstrumentProfile& profile : AllProfiles()) {
    if (profile.style != FirmwareStyle::kInstrument) {
      continue;
    }
    SimFixture sim(profile.simName);
    if (profile.logInFirst) {
      EXPECT_EQ(sim.Ex("get -sn\r"), "\rERROR\r>") << profile.simName;
      EXPECT_EQ(LogIn(sim, profile), StrFormat("\r%s\r>", profile.loginAnswer));
    }
    std::map<std::string, std::string> changed;
    for (const SettingDefinition& def : profile.settings) {
      const std::string get = StrFormat("get -%s\r", def.key);
      EXPECT_EQ(sim.Ex(get), StrFormat("\r\n%s\r>", def.configured))
          << profile.simName << " " << def.key;
      if (def.type == SettingType::kText || def.type == SettingType::kNumber) {
        const std::string value = def.type == SettingType::kText ? "Z9" : "7";
        EXPECT_EQ(sim.Ex(StrFormat("set -%s %s\r", def.key, value.c_str())), "\rOK\r>")
            << profile.simName << " " << def.key;
        changed[def.key] = value;
      }
    }
    Restart(sim);
    LogIn(sim, profile);
    for (const auto& [key, value] : changed) {
      EXPECT_EQ(sim.Ex("get -" + key + "\r"), "\r\n" + value + "\r>") << profile.simName << key;
    }
    EraseInfoAndRestart(sim);
    LogIn(sim, profile);
    for (const SettingDefinition& def : profile.settings) {
      EXPECT_EQ(sim.Ex(StrFormat("get -%s\r", def.key)), StrFormat("\r\n%s\r>", def.factory))
          << profile.simName << " " << def.key;
    }
  }
}

TEST(SimKinds, NewerFirmwareOffersTheSettingsItsVersionAdded) {
  DeviceConfig config;
  config.version = "1.99";
  SimFixture oldQx20("qx20", config);
  EXPECT_EQ(oldQx20.Ex("get -sn\r"), "\rUnsupported\r>");
  EXPECT_EQ(oldQx20.Ex("set -config A2\r"), "\rUnsupported\r>");
  EXPECT_EQ(oldQx20.Ex("get -loc\r"), "\r\nGreenhouse 2, bench 4\r>");
  EXPECT_EQ(SimFixture("qx20").Ex("get -sn\r"), "\r\nQX20-7781\r>");

  config.version = "2.04";
  SimFixture oldHg4("hg4", config);
  oldHg4.Ex("login *2293\r");
  EXPECT_EQ(oldHg4.Ex("get -pvuser\r"), "\rUnsupported\r>");
  EXPECT_EQ(oldHg4.Ex("get -tau\r"), "\r\n30\r>");
}

TEST(SimKinds, FixedValuesStayThroughAnInfoErase) {
  SimFixture qt7("qt7");
  EXPECT_EQ(qt7.Ex("get -r\r"), "\r16\r>");
  EXPECT_EQ(qt7.Ex("set -r 2\r"), "\rERROR\r>"); // its radio has one mode
  EXPECT_EQ(qt7.Ex("set -r 16\r"), "\rOK\r>");
  EraseInfoAndRestart(qt7);
  EXPECT_EQ(qt7.Ex("get -r\r"), "\r16\r>");
  EXPECT_EQ(qt7.Ex("get -i\r"), "\r\r>");

  SimFixture du70("du70");
  EraseInfoAndRestart(du70);
  EXPECT_EQ(du70.Ex("get -build\r"), "\rB2041\r>"); // comes with the firmware

  // The Trellisbase does not answer its trait, but keeps it: its radio is always there.
  SimFixture base("trellisbase");
  EraseInfoAndRestart(base);
  EXPECT_EQ(base.Device().Settings().Get("trait"), "254");
}

TEST(SimKinds, Hygrant4TdlGuardsItsConfigWordAndKeepsBothRecordLists) {
  SimFixture sim("hg4tdl");
  EXPECT_EQ(sim.Ex("get -config\r"), "\r\n5207\r>"); // 5000 + 'T' + 'D' + '7'
  EXPECT_EQ(sim.Ex("set -sn TD8\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("set -config 5207\r"), "\rERROR\r>");
  EXPECT_EQ(sim.Ex("set -config 5208\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("get -eqn\r"), "\r\n3\r>");
  EXPECT_EQ(sim.Ex("get -user\r"), "\r\n3\r>");
  EXPECT_EQ(sim.Ex("get -cal 0\r"), "\rUnsupported\r>");
  EXPECT_EQ(sim.Ex("yes\r"), "\rOK\r>");
}

TEST(SimKinds, KwmKeepsUserRecordsOnly) {
  SimFixture sim("kwm");
  EXPECT_EQ(sim.Ex("get -user\r"), "\r\n3\r>");
  EXPECT_EQ(sim.Ex("get -eqn\r"), "\rUnsupported\r>");
  EXPECT_EQ(sim.Ex("set -eqn 0 TEMP_C 1 0\r"), "\rUnsupported\r>");
  EXPECT_EQ(sim.Ex("reset -eqn\r"), "\r?\r>");
  EXPECT_EQ(sim.Ex("reset -users\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("get -user\r"), "\r\n0\r>");
  EXPECT_EQ(sim.Ex("set -user 0 QQ==\r"), "\rOK\r>");
  EraseInfoAndRestart(sim);
  EXPECT_EQ(sim.Ex("get -user\r"), "\r\n0\r>");
  EXPECT_EQ(sim.Ex("get -pv\r"), "\r\n\r>");
}

TEST(SimKinds, InstrumentsWithoutClockOrDataSayWhatTheyLack) {
  for (const char* kind : {"hlite", "q3b", "wq7c", "zuv", "flowdriv"}) {
    SimFixture sim(kind);
    sim.Ex("login *2293\r");
    EXPECT_EQ(sim.Ex("get -t\r"), "\rUnsupported\r>") << kind;
    EXPECT_EQ(sim.Ex("yes\r"), "\r?\r>") << kind;
    EXPECT_EQ(sim.Ex("get -batt\r"), "\r\n87\r>") << kind;
  }
  SimFixture vh("vh");
  EXPECT_EQ(vh.Ex("set -units kPa\r"), "\rERROR\r>"); // a number on this instrument
  SimFixture rwz("rwz");
  EXPECT_EQ(rwz.Ex("set -units mbar\r"), "\rOK\r>"); // a text on this one
}

TEST(SimKinds, UnknownDeviceAnswersItsIdentityAndLittleElse) {
  SimFixture sim("unknown");
  EXPECT_EQ(sim.Ex("get -batt\r"), "\r87\r>");
  EXPECT_EQ(sim.Ex("get -i\r"), "\rUnsupported\r>");
  EXPECT_EQ(sim.Ex("yes\r"), "\r?\r>");
  EXPECT_EQ(sim.Ex("boot KWAX\r"), "\rOK\r>");
}

TEST(SimKinds, FirmwareOfAnotherKindRunsWithItsOwnBehaviour) {
  // The hardware stays a Du70; the identity block decides the firmware.
  SimFixture sim("du70");
  FirmwareImage image;
  image.vectors = ErasedVectors();
  image.vectors[15] = 0x1200;
  const auto program = MakeFirmwareProgram("QT7 1.40", 2048);
  image.text = FormatImageMarker(0x1200);
  AppendImageWords(image.text, program.data(), program.size());
  ASSERT_EQ(test::ScriptedFlash(sim.Line(), sim.Device().Layout(), image).refused, 0);
  sim.Line().RunFor(6000 * kUsPerMs);
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rQT7 1.40\r>");
  EXPECT_EQ(sim.Ex("get -apn\r"), "\rUnsupported\r>");
  EXPECT_EQ(sim.Ex("get -i\r"), "\r\r>");
}

} // namespace
} // namespace zuro::sim

namespace zuro::sim {
namespace {

// Whatever arrives, every kind answers in its own words or not at all, keeps
// its settings sound and still answers its identity afterwards.
TEST(SimKinds, RandomLinesNeverCrashOrCorruptAnyKind) {
  const char* words[] = {"get", "set", "login", "boot", "post", "yes", "reset", "show", "query"};
  const char* options[] = {"-i", "-sn",  "-site", "-eqn",   "-user",  "-cal",    "-baud",  "-t",
                           "-d", "-sec", "-rch",  "-trait", "-adc30", "-config", "-ports", "-lat"};
  std::uint32_t state = 99;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  std::vector<std::string> kinds;
  for (const InstrumentProfile& p : AllProfiles()) {
    kinds.push_back(p.simName);
  }
  kinds.push_back(UnknownProfile().simName);
  for (const std::string& kind : kinds) {
    SimFixture sim(kind.c_str());
    sim.Ex("login *2293\r");
    for (int i = 0; i < 300; ++i) {
      std::string line = std::string(words[next() % 9]) + " " + options[next() % 16];
      const int extra = static_cast<int>(next() % 4);
      for (int k = 0; k < extra; ++k) {
        line += " " + std::to_string(static_cast<int>(next() % 70000) - 1000);
      }
      if (next() % 5 == 0) {
        for (int k = 0; k < 12; ++k) {
          line.push_back(static_cast<char>(next() & 0xFF));
        }
      }
      if (line.rfind("boot KWAX", 0) == 0 || line.rfind("set -baud", 0) == 0) {
        continue; // those leave the command line on purpose
      }
      const std::string answer = sim.Ex(line + "\r");
      if (!answer.empty()) {
        EXPECT_EQ(answer.back(), '>') << kind << ": " << line;
      }
    }
    EXPECT_EQ(sim.Device().Mode(), DeviceMode::kFirmware) << kind;
    for (const auto& [key, value] : sim.Device().Settings().Values()) {
      const SettingDefinition* def = sim.Device().Settings().Definition(key);
      if (def != nullptr && def->type == SettingType::kText) {
        EXPECT_LE(value.size(), def->maxLength) << kind << " " << key;
      }
    }
    const bool old = kind == "lq7"; // early firmware tells only through "show"
    EXPECT_NE(
        sim.Ex(old ? "show\r" : "get -ver\r").find(old ? "Version: 1.20" : sim.Device().Identity()),
        std::string::npos)
        << kind;
  }
}

} // namespace
} // namespace zuro::sim
