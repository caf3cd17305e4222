#include "sim/Instrument.h"

#include <cerrno>
#include <cstdlib>

#include "core/Text.h"
#include "sim/SimDevice.h"

namespace zuro::sim {

namespace {

constexpr const char* kOk = "OK";
constexpr const char* kError = "ERROR";
constexpr const char* kUnsupported = "Unsupported";
constexpr const char* kUnknownCommand = "?";
constexpr const char* kNoRadio = "No Radio";
constexpr const char* kCodeGood = "Code Good!";
constexpr const char* kCodeCorrupt = "Code Corrupt!";
constexpr const char* kBootMissing = "ZuroBSL MISSING";
constexpr const char* kDataFlashFail = "DataFlash FAIL";
constexpr std::int64_t kDaysFrom1970To2000 = 10957;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMaxZuroSeconds = 0xFFFFFFFFLL;
constexpr int kMaxTrait = 255;
constexpr SimTime kRadioLogoutQuietUs = 1000 * kUsPerMs; ///< deaf after a radio logout
/// A serial-sum setting (the Hygrant 4 family's config word) minus the
/// serial number's character sum.
constexpr long long kSerialSumBase = 5000;

// Link speeds by the code of "set -baud".
constexpr std::uint32_t kBaudByCode[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800};

/// Which record list a record word ("eqn", "user") names: kNoRecords for none.
std::uint8_t RecordListOf(const std::string& word) {
  if (word == "eqn") {
    return kEquationRecords;
  }
  return word == "user" ? kUserRecords : kNoRecords;
}

bool IsCellularKey(const std::string& key) {
  return key == "apn" || key == "user" || key == "passwd" || key == "authkey" || key == "host" ||
         key == "ipport";
}

bool ParseInt(std::string_view text, long long low, long long high, long long& value) {
  std::string s(text);
  while (!s.empty() && s.back() == ' ') {
    s.pop_back();
  }
  if (s.empty() || s.size() > 20) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v < low || v > high) {
    return false;
  }
  value = v;
  return true;
}

bool ParseHexNumber(std::string_view text, std::uint32_t& value) {
  if (text.empty() || text.size() > 6) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    int d = -1;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    }
    if (d < 0) {
      return false;
    }
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return true;
}

// Reads "a<sep>b<sep>c" of three numbers.
bool ParseTriple(std::string_view text, char sep, long long (&v)[3]) {
  std::size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? text.find(sep, pos) : text.size();
    if (end == std::string_view::npos || !ParseInt(text.substr(pos, end - pos), 0, 999999, v[i])) {
      return false;
    }
    pos = end + 1;
  }
  return true;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

} // namespace

CivilTime CivilFromZuroSeconds(std::int64_t zuroSeconds) {
  std::int64_t days = zuroSeconds / kSecondsPerDay;
  std::int64_t rest = zuroSeconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  const std::int64_t z = days + kDaysFrom1970To2000 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  CivilTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (t.month <= 2));
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest % 3600 / 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

std::int64_t ZuroSecondsFromCivil(const CivilTime& t) {
  const std::int64_t days =
      DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) -
      kDaysFrom1970To2000;
  return days * kSecondsPerDay + std::int64_t{t.hour} * 3600 + std::int64_t{t.minute} * 60 +
         t.second;
}

Instrument::Instrument(SimDevice& device, const InstrumentProfile& profile, int version)
    : device_(device), profile_(profile), version_(version),
      capabilities_(LoggerCapabilities(profile.family, version)) {}

void Instrument::Receive(char byte, SimTime now, LineOutput& out) {
  if (byte == '\n') {
    return; // terminal programs send CR LF; the firmware ends lines at CR
  }
  if (byte != '\r') {
    if (line_.size() < kFirmwareMaxLine) {
      line_.push_back(byte);
    } else {
      overflow_ = true;
    }
    return;
  }
  std::string line;
  line.swap(line_);
  const bool overflow = overflow_;
  overflow_ = false;
  if (overflow) {
    Status(out, kError);
    return;
  }
  Execute(line, now, out);
}

void Instrument::Value(LineOutput& out, std::string_view value, SimTime delayUs) {
  const char* lead = profile_.style == FirmwareStyle::kInstrument ? "\r\n" : "\r";
  out.Send(std::string(lead) + std::string(value) + "\r>", delayUs);
}

void Instrument::Status(LineOutput& out, std::string_view word, SimTime delayUs) {
  out.Send("\r" + std::string(word) + "\r>", delayUs);
}

void Instrument::Accepted(LineOutput& out) {
  if (profile_.style == FirmwareStyle::kOldLogger) {
    out.Send("\r>"); // early firmware takes a setting with its bare prompt
  } else {
    Status(out, kOk);
  }
}

std::string Instrument::Name() const {
  return device_.Settings().Get("i").value_or("");
}

int Instrument::AdcChannels() const {
  return (capabilities_ & kCapOneAdcChannel) != 0 ? 1 : 5;
}

void Instrument::Store() {
  device_.SaveSettingsToInfo();
}

bool Instrument::Allowed(const std::string& key, bool setting) const {
  if (!profile_.logInFirst || accessGranted_) {
    return true;
  }
  // Identity and battery answer anyone; everything else waits for the code.
  return !setting && (key == "ver" || key == "batt");
}

bool Instrument::KeepsRecords(const std::string& word) const {
  return (profile_.records & RecordListOf(word)) != 0;
}

bool Instrument::SettingSupported(const std::string& key) const {
  const SettingDefinition* def = device_.Settings().Definition(key);
  if (def == nullptr) {
    return false;
  }
  if (profile_.style == FirmwareStyle::kLogger && def->capability != 0 &&
      (capabilities_ & def->capability) == 0) {
    return false;
  }
  if (IsCellularKey(key) && !profile_.cellular) {
    return false;
  }
  for (const VersionGate& gate : profile_.gates) {
    if (key == gate.key && version_ < gate.fromVersion) {
      return false;
    }
  }
  return true;
}

void Instrument::Execute(const std::string& line, SimTime now, LineOutput& out) {
  if (line.empty()) {
    return; // a wake-up carriage return
  }
  Command c;
  const std::size_t space = line.find(' ');
  c.word = line.substr(0, space);
  if (space != std::string::npos) {
    c.args = line.substr(space + 1);
    if (!c.args.empty() && c.args[0] == '-') {
      const std::size_t optEnd = c.args.find(' ');
      c.option = c.args.substr(1, optEnd == std::string::npos ? std::string::npos : optEnd - 1);
      if (optEnd != std::string::npos) {
        c.rest = c.args.substr(optEnd + 1);
      }
    }
  }
  if (device_.TakeInjectedError()) {
    Status(out, kError);
    return;
  }
  if (profile_.style == FirmwareStyle::kOldLogger) {
    ExecuteOld(c, now, out);
    return;
  }
  if (ExecuteCommon(c, now, out)) {
    return;
  }
  if (c.word == "get" && !c.option.empty()) {
    Get(c, now, out);
  } else if (c.word == "set" && !c.option.empty()) {
    Set(c, now, out);
  } else if (c.word == "reset" && (c.option == "eqn" || c.option == "users") &&
             KeepsRecords(c.option == "eqn" ? "eqn" : "user")) {
    if (!Allowed(c.option, true)) {
      Status(out, kError);
      return;
    }
    (c.option == "eqn" ? device_.Settings().Equations() : device_.Settings().Users()).clear();
    Store();
    Status(out, kOk);
  } else {
    Status(out, kUnknownCommand);
  }
}

bool Instrument::ExecuteCommon(const Command& c, SimTime now, LineOutput& out) {
  if (c.word == "login") {
    if (!c.args.empty() && c.args[0] == '*') {
      accessGranted_ = c.args == kAccessCode;
      Status(out, accessGranted_ ? profile_.loginAnswer : kError);
    } else if (c.args.empty() || c.args == Name()) {
      out.Send("\r>");
    }
    // Another device's name: not for this device, which keeps quiet.
    return true;
  }
  if (c.word == "logout") {
    accessGranted_ = false;
    if (device_.HasRadio()) {
      // Over the air a logout ends the session: the device drops its radio
      // link without a word and does not listen again for a moment.
      device_.SetBusyUntil(now + kRadioLogoutQuietUs);
      return true;
    }
    out.Send("\r>");
    return true;
  }
  if (c.word == "query" && c.args.empty()) {
    const std::string name = Name();
    if (!name.empty()) {
      out.Send(name + "\r");
    }
    return true;
  }
  if (c.word == "post") {
    if (c.args.empty() || c.args == "-init") {
      SelfTest(!c.args.empty(), out);
    } else {
      Status(out, kError);
    }
    return true;
  }
  if (c.word == "boot") {
    if (c.args != kBootAccessWord) {
      Status(out, kError);
    } else if (device_.Config().bootLoaderMissing) {
      Status(out, kBootMissing);
    } else {
      Status(out, kOk);
      device_.StartBootLoader(now);
    }
    return true;
  }
  if (c.word == "yes") {
    if (!profile_.hasDataStore) {
      Status(out, kUnknownCommand);
    } else if (!Allowed("data", true)) {
      Status(out, kError);
    } else {
      EraseData(now, out);
    }
    return true;
  }
  if (c.word == "term") {
    out.Send("\r>");
    return true;
  }
  return false;
}

void Instrument::SelfTest(bool init, LineOutput& out) {
  // The self-test checks the program against the CRC it carries, as it
  // stands in flash now.
  const FirmwareInspection inspection = device_.FlashMemory().Inspect();
  const char* verdict = inspection.state == FirmwareState::kGood ? kCodeGood : kCodeCorrupt;
  std::string text = init ? "\rInit done" : "";
  text += "\rRAM test passed\r";
  text += verdict;
  text += "\r>";
  out.Send(text);
}

void Instrument::EraseData(SimTime now, LineOutput& out) {
  const SimTime delay = device_.Config().dataEraseUs;
  device_.SetBusyUntil(now + delay);
  const bool old = profile_.style == FirmwareStyle::kOldLogger;
  if (device_.Config().dataFlashFail) {
    out.Send(old ? "\rDataFlash FAIL!\r>" : "\rDataFlash FAIL\r>", delay);
    return;
  }
  device_.Data().records = 0;
  ++device_.Data().erasures;
  out.Send(old ? "\rData erased OK!\r>" : "\rOK\r>", delay);
}

void Instrument::Get(const Command& c, SimTime now, LineOutput& out) {
  const std::string& key = c.option;
  if (!Allowed(key, false)) {
    Status(out, kError);
    return;
  }
  if (key == "ver") {
    // Every kind answers its identity the same way: a carriage return, the
    // identity line, the prompt.
    out.Send("\r" + device_.Identity() + "\r>");
    return;
  }
  if (key == "batt") {
    Value(out, std::to_string(device_.Battery()));
    return;
  }
  if (GetClock(key, now, out) || GetRecord(c, out)) {
    return;
  }
  if (profile_.style == FirmwareStyle::kLogger) {
    if (key == "rch" || key == "rsch" || key == "rver") {
      if ((capabilities_ & kCapRadio) == 0) {
        Status(out, kUnsupported);
      } else {
        GetRadio(key, out);
      }
      return;
    }
    if (key == "trait" && (capabilities_ & kCapTraitRead) == 0) {
      Status(out, kUnsupported);
      return;
    }
  }
  if (!c.rest.empty() || !SettingSupported(key)) {
    Status(out, kUnsupported);
    return;
  }
  Value(out, device_.Settings().Get(key).value_or(""));
}

void Instrument::Set(const Command& c, SimTime now, LineOutput& out) {
  const std::string& key = c.option;
  if (!Allowed(key, true)) {
    Status(out, kError);
    return;
  }
  if (key == "baud") {
    long long code = 0;
    if (!profile_.baudChange) {
      Status(out, kUnsupported);
    } else if (!ParseInt(c.rest, 0, 6, code)) {
      Status(out, kError);
    } else {
      // The answer still goes at the old rate; the UART changes after it.
      Status(out, kOk);
      device_.SetFirmwareBaud(kBaudByCode[code]);
    }
    return;
  }
  if (key == "ver" || key == "batt") {
    Status(out, kError);
    return;
  }
  if (SetClock(key, c.rest, now, out) || SetRecord(c, out)) {
    return;
  }
  if (profile_.style == FirmwareStyle::kLogger) {
    if (key == "rch" || key == "rsch") {
      if ((capabilities_ & kCapRadio) == 0) {
        Status(out, kUnsupported);
      } else {
        SetRadio(key, c.rest, out);
      }
      return;
    }
    if (key == "trait") {
      long long trait = 0;
      if ((capabilities_ & kCapLocation) == 0) {
        Status(out, kUnsupported);
      } else if (!ParseInt(c.rest, 0, kMaxTrait, trait)) {
        Status(out, kError);
      } else {
        device_.Settings().Force("trait", std::to_string(trait));
        Store();
        Status(out, kOk);
      }
      return;
    }
  }
  if (!SettingSupported(key)) {
    Status(out, kUnsupported);
    return;
  }
  if (device_.Settings().Definition(key)->type == SettingType::kSerialSum) {
    // The Hygrant 4 family's config word carries the sum of the serial
    // number's characters; a word that does not match the serial number is
    // refused, so a changed serial number needs its config word corrected.
    long long config = 0;
    long long sum = 0;
    for (const char ch : device_.Settings().Get("sn").value_or("")) {
      sum += static_cast<unsigned char>(ch);
    }
    if (!ParseInt(c.rest, 0, 0xFFFFFFFFLL, config) || config - sum != kSerialSumBase) {
      Status(out, kError);
      return;
    }
  }
  if (device_.Settings().Set(key, c.rest, AdcChannels()) != SetOutcome::kTaken) {
    Status(out, kError);
    return;
  }
  Store();
  Accepted(out);
}

bool Instrument::GetClock(const std::string& key, SimTime now, LineOutput& out) {
  if (key != "sec" && key != "t") {
    return false;
  }
  if (!profile_.hasClock) {
    Status(out, kUnsupported);
    return true;
  }
  const std::int64_t secs = device_.ClockAt(now);
  if (key == "sec") {
    Value(out, std::to_string(secs));
    return true;
  }
  const CivilTime t = CivilFromZuroSeconds(secs);
  Value(out, StrFormat("Date\\Time: %04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                       t.minute, t.second));
  return true;
}

bool Instrument::SetClock(const std::string& key, const std::string& value, SimTime now,
                          LineOutput& out) {
  if (key != "sec" && key != "t" && key != "d") {
    return false;
  }
  if (!profile_.hasClock) {
    Status(out, kUnsupported);
    return true;
  }
  const std::int64_t current = device_.ClockAt(now);
  CivilTime t = CivilFromZuroSeconds(current);
  long long v[3] = {};
  if (key == "sec") {
    long long secs = 0;
    if (!ParseInt(value, 0, kMaxZuroSeconds, secs)) {
      Status(out, kError);
      return true;
    }
    device_.SetClock(secs, now);
  } else if (key == "t") {
    if (!ParseTriple(value, ':', v) || v[0] > 23 || v[1] > 59 || v[2] > 59) {
      Status(out, kError);
      return true;
    }
    t.hour = static_cast<int>(v[0]);
    t.minute = static_cast<int>(v[1]);
    t.second = static_cast<int>(v[2]);
    device_.SetClock(ZuroSecondsFromCivil(t), now);
  } else {
    if (!ParseTriple(value, '-', v) || v[0] < 2000 || v[0] > 2099 || v[1] < 1 || v[1] > 12 ||
        v[2] < 1 || v[2] > DaysInMonth(static_cast<int>(v[0]), static_cast<int>(v[1]))) {
      Status(out, kError);
      return true;
    }
    t.year = static_cast<int>(v[0]);
    t.month = static_cast<int>(v[1]);
    t.day = static_cast<int>(v[2]);
    device_.SetClock(ZuroSecondsFromCivil(t), now);
  }
  Accepted(out);
  return true;
}

bool Instrument::GetRecord(const Command& c, LineOutput& out) {
  auto& s = device_.Settings();
  if (c.option == "cal" && profile_.calSlots) {
    long long n = 0;
    if (!ParseInt(c.rest, 0, kCalSlots - 1, n)) {
      Status(out, kError);
    } else {
      Value(out, s.CalSlots()[static_cast<std::size_t>(n)]);
    }
    return true;
  }
  if (KeepsRecords(c.option)) {
    const auto& list = c.option == "eqn" ? s.Equations() : s.Users();
    if (c.rest.empty()) {
      Value(out, std::to_string(list.size()));
      return true;
    }
    long long n = 0;
    if (!ParseInt(c.rest, 0, 1000, n) || static_cast<std::size_t>(n) >= list.size()) {
      Status(out, kError);
    } else {
      Value(out, list[static_cast<std::size_t>(n)]);
    }
    return true;
  }
  return false;
}

bool Instrument::SetRecord(const Command& c, LineOutput& out) {
  const bool cal = c.option == "cal" && profile_.calSlots;
  const bool record = KeepsRecords(c.option);
  if (!cal && !record) {
    return false;
  }
  const std::size_t space = c.rest.find(' ');
  long long n = 0;
  const std::string value = space == std::string::npos ? "" : c.rest.substr(space + 1);
  if (!ParseInt(c.rest.substr(0, space), 0, 1000, n) || value.size() > kMaxRecordLength) {
    Status(out, kError);
    return true;
  }
  const auto index = static_cast<std::size_t>(n);
  auto& s = device_.Settings();
  if (cal) {
    if (index >= kCalSlots) {
      Status(out, kError);
      return true;
    }
    s.CalSlots()[index] = value;
  } else {
    auto& list = c.option == "eqn" ? s.Equations() : s.Users();
    const std::size_t max = c.option == "eqn" ? kMaxEquationRecords : kMaxUserRecords;
    // Records are numbered without gaps: a new one may only follow the last.
    if (index > list.size() || index >= max || value.empty()) {
      Status(out, kError);
      return true;
    }
    if (index == list.size()) {
      list.push_back(value);
    } else {
      list[index] = value;
    }
  }
  Store();
  Status(out, kOk);
  return true;
}

void Instrument::GetRadio(const std::string& key, LineOutput& out) {
  RadioModule* radio = device_.Radio();
  if (radio == nullptr) {
    Status(out, kNoRadio);
    return;
  }
  std::string value;
  if (key == "rch") {
    value = StrFormat("%X", static_cast<unsigned>(radio->Working().channel));
  } else if (key == "rsch") {
    value = StrFormat("%X", static_cast<unsigned>(radio->Working().subChannel));
  } else {
    value = radio->Version();
  }
  // The firmware relays the module's "OK" before the value.
  Value(out, "OK\r" + value);
}

void Instrument::SetRadio(const std::string& key, const std::string& value, LineOutput& out) {
  RadioModule* radio = device_.Radio();
  if (radio == nullptr) {
    Status(out, kNoRadio);
    return;
  }
  std::uint32_t v = 0;
  const bool ok = ParseHexNumber(value, v) &&
                  (key == "rch" ? radio->SetChannel(static_cast<int>(v)) : radio->SetSubChannel(v));
  if (!ok) {
    Status(out, kError);
    return;
  }
  radio->Store();
  Status(out, kOk);
}

void Instrument::Show(LineOutput& out) {
  const auto& s = device_.Settings();
  const std::string& identity = device_.Identity();
  const std::size_t space = identity.find(' ');
  const std::string version = space == std::string::npos ? "" : identity.substr(space + 1);
  out.Send(StrFormat("\rID: %s\rVersion: %s\rRadio: %s\rWake: %s\rResets: %u\r>",
                     s.Get("i").value_or("").c_str(), version.c_str(),
                     s.Get("r").value_or("0").c_str(), s.Get("w").value_or("0").c_str(),
                     device_.Starts()));
}

void Instrument::ExecuteOld(const Command& c, SimTime now, LineOutput& out) {
  // Early loggers know a handful of commands and answer '?' to the rest,
  // "get -ver" included.
  if (c.word == "show") {
    Show(out);
  } else if (c.word == "time") {
    GetClock("t", now, out);
  } else if (c.word == "hertz") {
    Value(out, device_.Settings().Get("p").value_or("0"));
  } else if (c.word == "set" && (c.option == "t" || c.option == "d")) {
    SetClock(c.option, c.rest, now, out);
  } else if (c.word == "set" &&
             (c.option == "w" || c.option == "p" || c.option == "i" || c.option == "r")) {
    if (device_.Settings().Set(c.option, c.rest) != SetOutcome::kTaken) {
      Status(out, kError);
      return;
    }
    Store();
    Accepted(out);
  } else if (c.word == "login" || c.word == "logout" || c.word == "yes" || c.word == "term" ||
             c.word == "query") {
    ExecuteCommon(c, now, out);
  } else {
    Status(out, kUnknownCommand);
  }
}

} // namespace zuro::sim
