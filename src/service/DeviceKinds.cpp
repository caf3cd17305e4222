#include "service/DeviceKinds.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace zuro {
namespace {

constexpr bool kYes = true;
constexpr bool kNo = false;

// One row per instrument kind, in kind order, as the instruments name
// themselves. The erase-warning column is not copied into an entry: the main
// window reads it for its build's target kind.
struct KindRow {
  std::string_view identityCode;
  std::string_view displayName;
  std::uint32_t restartWaitMs;
  bool saveSettings;
  bool eraseData;
  bool checkBattery;
  bool logInFirst;
  bool setClock;
  bool selfTestWithInit;
  bool calibrationReminder;
  bool eraseWarning;
};

constexpr std::string_view kTerminatorCode = "END";

// clang-format off
constexpr KindRow kKinds[kDeviceKindCount + 1] = {
  //  identity code  display name          restart  save  erase battery login clock  post   calib  erase
  //                                       wait ms  sets  data  check   first set    -init  remind warning
  /*  0 */ {"UNKNOWN",  "UNKNOWN",            7000, kNo,  kNo,  kNo,    kNo,  kNo,   kNo,   kNo,   kNo },
  /*  1 */ {"LQ7",      "Lq7",                1000, kYes, kNo,  kYes,   kNo,  kYes,  kYes,  kNo,   kYes},
  /*  2 */ {"LQ7B",     "Lq7b",               1000, kYes, kNo,  kYes,   kNo,  kYes,  kYes,  kNo,   kYes},
  /*  3 */ {"DU70",     "Du70",               6000, kYes, kYes, kYes,   kNo,  kYes,  kYes,  kNo,   kYes},
  /*  4 */ {"ZS",       "Trellisbase",        6000, kYes, kYes, kYes,   kNo,  kNo,   kYes,  kNo,   kYes},
  /*  5 */ {"WJ",       "Trellisnet",         4000, kYes, kYes, kNo,    kNo,  kNo,   kYes,  kNo,   kYes},
  /*  6 */ {"HLITE",    "Hygrant Lite",       8500, kYes, kNo,  kNo,    kYes, kNo,   kNo,   kNo,   kNo },
  /*  7 */ {"TQ",       "TQ8 Pro",            7000, kYes, kYes, kYes,   kNo,  kYes,  kNo,   kNo,   kYes},
  /*  8 */ {"QX20",     "LumaBar QX-20",      3000, kYes, kYes, kNo,    kNo,  kYes,  kNo,   kYes,  kYes},
  /*  9 */ {"VH",       "Vivu Stomatrix",     7000, kYes, kYes, kYes,   kNo,  kYes,  kNo,   kYes,  kYes},
  /* 10 */ {"VUSKA-TE", "Digital Sensor",     1000, kNo,  kNo,  kNo,    kNo,  kNo,   kNo,   kNo,   kNo },
  /* 11 */ {"HSIG",     "Hygrsorb IG",        2000, kYes, kYes, kNo,    kNo,  kYes,  kNo,   kNo,   kYes},
  /* 12 */ {"Q3B",      "Hygrant Series 3",   2000, kYes, kNo,  kNo,    kYes, kNo,   kNo,   kNo,   kNo },
  /* 13 */ {"VCD",      "VCD",                7000, kYes, kNo,  kYes,   kNo,  kNo,   kNo,   kNo,   kNo },
  /* 14 */ {"VX",       "Vantorix",           2000, kYes, kYes, kYes,   kNo,  kYes,  kNo,   kNo,   kYes},
  /* 15 */ {"HG4",      "Hygrant 4",         14000, kYes, kYes, kNo,    kYes, kYes,  kNo,   kNo,   kYes},
  /* 16 */ {"KWM",      "Hygrant KWM",        9500, kYes, kYes, kNo,    kNo,  kYes,  kNo,   kNo,   kYes},
  /* 17 */ {"WQ7C",     "WQ7C",               2000, kYes, kNo,  kNo,    kYes, kNo,   kNo,   kNo,   kNo },
  /* 18 */ {"QT7",      "qT7",                6000, kYes, kYes, kYes,   kNo,  kYes,  kYes,  kNo,   kYes},
  /* 19 */ {"KVL",      "KVL3 Logger",        6000, kYes, kYes, kNo,    kNo,  kYes,  kYes,  kNo,   kYes},
  /* 20 */ {"ZUV",      "Hygrant Pre",        2000, kYes, kNo,  kNo,    kYes, kNo,   kNo,   kNo,   kNo },
  /* 21 */ {"SYLNODE",  "sylnode",            6000, kYes, kNo,  kNo,    kNo,  kYes,  kYes,  kNo,   kNo },
  /* 22 */ {"HG4TDL",   "Hygrant 4 TDL",      8000, kYes, kYes, kNo,    kNo,  kYes,  kNo,   kNo,   kYes},
  /* 23 */ {"RWZ",      "PERMIX",             8000, kYes, kYes, kYes,   kNo,  kYes,  kNo,   kNo,   kYes},
  /* 24 */ {"FLOWDRIV", "FlowDriv",           2000, kYes, kNo,  kYes,   kNo,  kNo,   kNo,   kNo,   kNo },
           {kTerminatorCode, "", 0, kNo, kNo, kNo, kNo, kNo, kNo, kNo, kNo},
};
// clang-format on

/// A set of kinds as a bit mask, so the tables below can list their kinds.
constexpr std::uint32_t Kinds(std::initializer_list<int> kinds) {
  std::uint32_t mask = 0;
  for (const int kind : kinds) {
    mask |= std::uint32_t{1} << kind;
  }
  return mask;
}
constexpr std::uint32_t kAllKinds = (std::uint32_t{1} << kDeviceKindCount) - 1;

struct BootLoaderLayout {
  std::uint32_t flashStart;
  std::uint32_t flashEnd;
  bool extendedAddressing;
  std::uint32_t infoStart;
  std::uint32_t infoSegments;
  std::uint32_t infoSegmentSize;
  std::uint32_t bootLoaderBaud;
};

struct LayoutRow {
  std::uint32_t kinds;
  BootLoaderLayout layout;
};

// Boot-loader memory layouts. The small parts share the default; the larger
// parts with 20-bit addresses and the faster boot-loader link have their own.
// clang-format off
constexpr BootLoaderLayout kDefaultLayout =
  // flash    flash     extended  INFO    INFO  segment  boot-loader
  // start    end       address   start   segs  bytes    baud
    {0x1100,  0xF9FF,   kNo,      0x1000, 2,    128,     9600};  // 0 to 9, 11, 12, 13, 17 to 20
constexpr LayoutRow kLayouts[] = {
  {Kinds({10}),             {0x8000,  0xF9FF,   kNo,      0x1000, 3,    64,      9600}},
  {Kinds({14, 15, 21, 23}), {0x2100,  0x1FF00,  kYes,     0x1000, 3,    64,      57600}},
  {Kinds({16}),             {0x5C00,  0x3BFFF,  kYes,     0x1800, 3,    128,     57600}},
  {Kinds({22}),             {0x8000,  0x27FFF,  kYes,     0x1800, 4,    128,     57600}},
  {Kinds({24}),             {0x8000,  0xF9FF,   kNo,      0x1000, 3,    64,      9600}},
};
// clang-format on

enum class UpdatableMode { kNever, kFromVersion, kAlways };

struct UpdatableRule {
  std::uint32_t kinds;
  UpdatableMode mode;
  std::uint32_t fromVersion; ///< kFromVersion: lowest updatable version
  bool versionRangeCheck;    ///< the version guard checks lowest..highest
  std::uint32_t lowestVersion;
  std::uint32_t highestVersion;
};

constexpr UpdatableRule Never(std::uint32_t kinds) {
  return {kinds, UpdatableMode::kNever, 0, kNo, 0, 0};
}
constexpr UpdatableRule FromVersion(std::uint32_t kinds, std::uint32_t version) {
  return {kinds, UpdatableMode::kFromVersion, version, kNo, 0, 0};
}
constexpr UpdatableRule Always(std::uint32_t kinds) {
  return {kinds, UpdatableMode::kAlways, 0, kNo, 0, 0};
}
/// Updatable at any version; the version guard asks before leaving the range.
constexpr UpdatableRule AlwaysWithRange(std::uint32_t kinds, std::uint32_t lowest,
                                        std::uint32_t highest) {
  return {kinds, UpdatableMode::kAlways, 0, kYes, lowest, highest};
}

// Which kinds this program may update, by firmware version number. Older
// firmware of some kinds lacks the boot-loader request or the settings
// commands the update relies on.
// clang-format off
constexpr UpdatableRule kUpdatableRules[] = {
  Never(Kinds({0})),
  Never(Kinds({1, 5})),
  FromVersion(Kinds({3}), 103),
  FromVersion(Kinds({4}), 105),
  FromVersion(Kinds({6}), 118),
  FromVersion(Kinds({8}), 150),
  FromVersion(Kinds({12}), 351),
  AlwaysWithRange(Kinds({15}), 202, 999),
  AlwaysWithRange(Kinds({22}), 200, 299),
  Always(Kinds({2, 7, 9, 10, 11, 13, 14, 16, 17, 18, 19, 20, 21, 23, 24})),
};
// clang-format on

struct SensorTypeRow {
  unsigned int typeCode;
  std::string_view name;
};

// clang-format off
constexpr SensorTypeRow kSensorTypes[] = {
  {92,  "SKYRA 22 Anemometer"},
  {93,  "SKYRA 41 Sensor Suite"},
  {94,  "PLU-3 Rain Gauge"},
  {95,  "WV-8 Anemometer"},
  {102, "HT-6 Sensor"},
  {103, "BALVO 12 Sensor"},
  {104, "BALVO 11 Sensor"},
  {107, "BALVO 21 Sensor"},
  {108, "WPT-6 Sensor"},
  {109, "QM-4F Sensor"},
  {112, "HT-5 Sensor"},
  {113, "QM-4 Sensor"},
  {116, "WLX Sensor"},
  {117, "P7 Drain Gauge"},
  {119, "JR3 Sensor"},
  {120, "K4M Sensor"},
  {121, "WPT-2 Sensor"},
  {122, "K4E Sensor"},
  {123, "SKYRA 14 Sensor"},
  {124, "VUSKA-TE Sensor"},
  {126, "VUSKA-TE Sensor"},
  {127, "VUSKA-TE Sensor"},
  {125, "VU-QM Sensor"},
  {260, "NVX Family"},
  {261, "WPT-2 WPT-6 BALVO 21"},
  {262, "WLX Family"},
  {264, "BALVO 1x Family"},
};
// clang-format on

// The tables are checked where they are written: a kind missing from the
// updatable rules, a kind in two rules or two layouts, or a name too long for
// its field would otherwise show up only on some instrument in the field.
constexpr bool TablesAreConsistent() {
  if (kKinds[kDeviceKindCount].identityCode != kTerminatorCode) {
    return false;
  }
  for (int kind = 0; kind < kDeviceKindCount; ++kind) {
    const KindRow& row = kKinds[kind];
    if (row.identityCode.empty() || row.identityCode == kTerminatorCode ||
        row.displayName.size() > kDisplayNameMax) {
      return false;
    }
    for (const char c : row.identityCode) {
      if (c >= 'a' && c <= 'z') { // codes are compared upper-cased
        return false;
      }
    }
  }
  std::uint32_t covered = 0;
  for (const UpdatableRule& rule : kUpdatableRules) {
    if ((covered & rule.kinds) != 0 || (rule.kinds & ~kAllKinds) != 0) {
      return false;
    }
    covered |= rule.kinds;
  }
  if (covered != kAllKinds) {
    return false;
  }
  std::uint32_t laidOut = 0;
  for (const LayoutRow& row : kLayouts) {
    if ((laidOut & row.kinds) != 0 || (row.kinds & ~kAllKinds) != 0) {
      return false;
    }
    laidOut |= row.kinds;
  }
  return true;
}
static_assert(TablesAreConsistent(), "device kind tables disagree with each other");

// Largest major number whose version (major * 100 + minor * 10 + sub) still
// fits the 32-bit version field.
constexpr std::uint32_t kMaxMajor = (UINT32_MAX - 99) / 100;

constexpr bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
constexpr char ToUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

/// Keeps "at most N characters" for a text field; the copy also stops at a
/// NUL, as a device text does. (The core helper does the same for the other
/// layers; this library links nothing.)
void CopyBounded(std::string& dst, std::string_view src, std::size_t maxChars) {
  dst.assign(src.substr(0, std::min(src.find('\0'), maxChars)));
}

int ValidKindOrUnknown(int kind) {
  return (kind >= 0 && kind < kDeviceKindCount) ? kind : kUnknownDeviceKind;
}

bool HasKind(std::uint32_t kinds, int kind) {
  return ((kinds >> kind) & 1U) != 0;
}

/// Reads an identity answer with the acceptance of scanf's "%s %d.%1d%1d":
/// blanks skipped before the code and before each number, the code ends at a
/// blank, the major number may carry a sign, the '.' must follow it at once,
/// the minor digit is required and the sub digit optional (0 when absent);
/// whatever follows is ignored. Unlike scanf it cannot overflow: a major number
/// whose version would not fit 32 bits, or a negative one (no firmware has a
/// negative version, and as an unsigned number it would look like the newest),
/// does not read. Returns false when fewer than code, major and minor read.
bool ReadIdentity(const char* text, std::string_view& code, std::uint32_t& version) {
  const char* p = text;
  while (IsSpace(*p)) {
    ++p;
  }
  const char* codeStart = p;
  while (*p != '\0' && !IsSpace(*p)) {
    ++p;
  }
  if (p == codeStart) {
    return false;
  }
  code = std::string_view(codeStart, static_cast<std::size_t>(p - codeStart));

  while (IsSpace(*p)) {
    ++p;
  }
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  if (!IsDigit(*p)) {
    return false;
  }
  std::uint32_t major = 0;
  bool tooLarge = false;
  for (; IsDigit(*p); ++p) {
    if (!tooLarge) { // major <= kMaxMajor here, so the next step cannot wrap
      major = major * 10 + static_cast<std::uint32_t>(*p - '0');
      tooLarge = major > kMaxMajor;
    }
  }
  if (tooLarge || (negative && major != 0)) {
    return false;
  }
  if (*p != '.') {
    return false;
  }
  ++p;

  while (IsSpace(*p)) {
    ++p;
  }
  if (!IsDigit(*p)) {
    return false;
  }
  const auto minor = static_cast<std::uint32_t>(*p - '0');
  ++p;
  while (IsSpace(*p)) {
    ++p;
  }
  const std::uint32_t sub = IsDigit(*p) ? static_cast<std::uint32_t>(*p - '0') : 0;

  version = major * 100 + minor * 10 + sub;
  return true;
}

} // namespace

int DeviceKindFromCode(std::string_view code) {
  // Kinds 1 to 24 in order; the search ends at the terminator, so "END" is no kind.
  for (int kind = 1; kKinds[kind].identityCode != kTerminatorCode; ++kind) {
    const std::string_view candidate = kKinds[kind].identityCode;
    if (candidate.size() == code.size() &&
        std::equal(code.begin(), code.end(), candidate.begin(),
                   [](char a, char b) { return ToUpper(a) == b; })) {
      return kind;
    }
  }
  return kUnknownDeviceKind;
}

std::string_view DeviceKindIdentityCode(int kind) {
  return kKinds[ValidKindOrUnknown(kind)].identityCode;
}

std::string_view DeviceKindDisplayName(int kind) {
  return kKinds[ValidKindOrUnknown(kind)].displayName;
}

bool DeviceKindEraseWarning(int kind) {
  return kind >= 0 && kind < kDeviceKindCount && kKinds[kind].eraseWarning;
}

void FillDeviceKindEntry(int kind, std::uint32_t version, DeviceKindEntry* entry) {
  if (entry == nullptr) {
    return;
  }
  kind = ValidKindOrUnknown(kind);
  *entry = DeviceKindEntry{};
  entry->kind = static_cast<std::int8_t>(kind);
  entry->version = version;

  const KindRow& row = kKinds[kind];
  CopyBounded(entry->displayName, row.displayName, kDisplayNameMax);
  entry->restartWaitMs = row.restartWaitMs;
  entry->saveSettings = row.saveSettings;
  entry->eraseData = row.eraseData;
  entry->checkBattery = row.checkBattery;
  entry->logInFirst = row.logInFirst;
  entry->setClock = row.setClock;
  entry->selfTestWithInit = row.selfTestWithInit;
  entry->calibrationReminder = row.calibrationReminder;

  BootLoaderLayout layout = kDefaultLayout;
  for (const LayoutRow& layoutRow : kLayouts) {
    if (HasKind(layoutRow.kinds, kind)) {
      layout = layoutRow.layout;
      break;
    }
  }
  entry->flashStart = layout.flashStart;
  entry->flashEnd = layout.flashEnd;
  entry->extendedAddressing = layout.extendedAddressing;
  entry->infoStart = layout.infoStart;
  entry->infoSegments = layout.infoSegments;
  entry->infoSegmentSize = layout.infoSegmentSize;
  entry->bootLoaderBaud = layout.bootLoaderBaud;

  for (const UpdatableRule& rule : kUpdatableRules) {
    if (!HasKind(rule.kinds, kind)) {
      continue;
    }
    switch (rule.mode) {
    case UpdatableMode::kNever:
      entry->updatable = false;
      break;
    case UpdatableMode::kFromVersion:
      entry->updatable = version >= rule.fromVersion;
      break;
    case UpdatableMode::kAlways:
      entry->updatable = true;
      break;
    }
    entry->versionRangeCheck = rule.versionRangeCheck;
    entry->lowestVersion = rule.lowestVersion;
    entry->highestVersion = rule.highestVersion;
    break;
  }
}

std::int32_t ParseDeviceIdentity(const char* identityText, DeviceKindEntry* entry) {
  if (identityText == nullptr || identityText[0] == '\0' || entry == nullptr) {
    return kDeviceKindMissingArgument;
  }
  const std::string_view text(identityText);

  int kind = kUnknownDeviceKind;
  std::uint32_t version = 0;
  if (text.find('.') != std::string_view::npos) {
    std::string_view code;
    if (!ReadIdentity(identityText, code, version)) {
      return kDeviceKindNotUnderstood;
    }
    kind = DeviceKindFromCode(code);
  }
  // Without a '.' the answer carries no version, so the instrument stays kind
  // 0 with version 0: an instrument that cannot say which firmware it runs is
  // never taken for one this program may update.

  FillDeviceKindEntry(kind, version, entry);
  CopyBounded(entry->identityText, text, kKindIdentityTextMax);
  return kind == kUnknownDeviceKind ? kDeviceKindNotUnderstood : kDeviceKindFound;
}

void SensorTypeName(unsigned int typeCode, char (&name)[kSensorTypeNameSize]) {
  for (const SensorTypeRow& row : kSensorTypes) {
    if (row.typeCode == typeCode) {
      const std::size_t length = std::min(row.name.size(), kSensorTypeNameSize - 1);
      std::copy_n(row.name.data(), length, name);
      name[length] = '\0';
      return;
    }
  }
  // "Unknown Sensor (type 4294967295)" is 32 characters, so the largest code fits.
  (void)std::snprintf(name, kSensorTypeNameSize, "Unknown Sensor (type %u)", typeCode);
}

} // namespace zuro
