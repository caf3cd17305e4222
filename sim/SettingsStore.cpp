#include "sim/SettingsStore.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "bsl/FirmwareIdentity.h"
#include "core/Text.h"

namespace zuro::sim {

namespace {

constexpr double kMaxDegrees = 180.0;

bool ParseLong(std::string_view text, long& value) {
  std::string s(text);
  if (s.empty() || s.size() > 20) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v < std::numeric_limits<int>::min() ||
      v > std::numeric_limits<int>::max()) {
    return false;
  }
  value = v;
  return true;
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string current;
  for (const char c : text) {
    if (c == ' ' || c == '\t') {
      if (!current.empty()) {
        words.push_back(current);
        current.clear();
      }
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) {
    words.push_back(current);
  }
  return words;
}

std::optional<std::vector<long>> Numbers(std::string_view text, std::size_t count, long low,
                                         long high) {
  const auto words = Words(text);
  if (words.size() != count) {
    return std::nullopt;
  }
  std::vector<long> numbers;
  for (const auto& w : words) {
    long v = 0;
    if (!ParseLong(w, v) || v < low || v > high) {
      return std::nullopt;
    }
    numbers.push_back(v);
  }
  return numbers;
}

std::string Join(const std::vector<long>& numbers) {
  std::string out;
  for (const long n : numbers) {
    out += (out.empty() ? "" : " ") + std::to_string(n);
  }
  return out;
}

std::string Escape(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Unescape(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char n = value[++i];
      out.push_back(n == 'n' ? '\n' : n == 'r' ? '\r' : n);
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

std::vector<std::string> ConfiguredEquations() {
  return {"TEMP_C 1.0000 0.0000", "RH_PCT 0.9950 1.2000", "SOIL_VWC 0.0120 -0.0400"};
}

std::vector<std::string> ConfiguredUsers() {
  // A user record's decoded text: three tab-separated fields, then the name.
  return {Base64Encode("1\t0\t3\tMaria\tadmin"), Base64Encode("2\t1\t1\tJoe\tfield"),
          Base64Encode("3\t1\t1\tanne\tfield")};
}

std::vector<std::string> ConfiguredCalibrations() {
  return {"0 1.0000 0.0000", "1 0.9981 0.0102", "2 1.0040 -0.0031"};
}

} // namespace

std::string Base64Encode(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<std::uint8_t>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out.push_back(k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=');
    }
  }
  return out;
}

std::optional<std::string> NormaliseSetting(const SettingDefinition& def, std::string_view value,
                                            int adcChannels) {
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return std::nullopt;
    }
  }
  switch (def.type) {
  case SettingType::kText:
    if (value.size() > def.maxLength) {
      return std::nullopt;
    }
    return std::string(value);
  case SettingType::kFixed: {
    const auto words = Words(value);
    if (words.size() != 1 || words[0] != def.factory) {
      return std::nullopt;
    }
    return words[0];
  }
  case SettingType::kNumber:
  case SettingType::kSerialSum: {
    long v = 0;
    const auto words = Words(value);
    if (words.size() != 1 || !ParseLong(words[0], v)) {
      return std::nullopt;
    }
    return std::to_string(v);
  }
  case SettingType::kFiveBytes: {
    const auto numbers = Numbers(value, 5, 0, 255);
    if (!numbers) {
      return std::nullopt;
    }
    return Join(*numbers);
  }
  case SettingType::kAdcCal: {
    const std::size_t pairs = adcChannels == 1 ? 1 : 5;
    const auto numbers = Numbers(value, 2 * pairs + 1, 0, 255);
    if (!numbers) {
      return std::nullopt;
    }
    long sum = 0;
    for (std::size_t i = 0; i < 2 * pairs; ++i) {
      sum += (*numbers)[i];
    }
    if (sum % 256 != numbers->back()) {
      return std::nullopt; // the factors travel with their checksum
    }
    return Join(*numbers);
  }
  case SettingType::kCoordinate: {
    const auto words = Words(value);
    if (words.empty()) {
      return std::string();
    }
    if (words.size() != 1 || words[0].size() > 24) {
      return std::nullopt;
    }
    char* end = nullptr;
    const double v = std::strtod(words[0].c_str(), &end);
    if (end == words[0].c_str() || *end != '\0' || !std::isfinite(v) ||
        std::fabs(v) > kMaxDegrees) {
      return std::nullopt;
    }
    return StrFormat("%+.5f", v);
  }
  case SettingType::kHexKey: {
    if (value.empty()) {
      return std::string();
    }
    if (value.size() != 32) {
      return std::nullopt;
    }
    for (const char c : value) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        return std::nullopt;
      }
    }
    return ToUpperAscii(value);
  }
  }
  return std::nullopt;
}

void SettingsStore::Reset(const InstrumentProfile& profile, bool configured) {
  profile_ = &profile;
  values_.clear();
  for (const auto& def : profile.settings) {
    values_[def.key] = configured ? def.configured : def.factory;
  }
  cal_.assign(kCalSlots, std::string());
  equations_.clear();
  users_.clear();
  if (configured && profile.calSlots) {
    const auto cals = ConfiguredCalibrations();
    std::copy(cals.begin(), cals.end(), cal_.begin());
  }
  if (configured && (profile.records & kEquationRecords) != 0) {
    equations_ = ConfiguredEquations();
  }
  if (configured && (profile.records & kUserRecords) != 0) {
    users_ = ConfiguredUsers();
  }
}

const SettingDefinition* SettingsStore::Definition(std::string_view key) const {
  if (profile_ == nullptr) {
    return nullptr;
  }
  for (const auto& def : profile_->settings) {
    if (key == def.key) {
      return &def;
    }
  }
  return nullptr;
}

std::optional<std::string> SettingsStore::Get(std::string_view key) const {
  const auto it = values_.find(std::string(key));
  if (it == values_.end()) {
    return std::nullopt;
  }
  return it->second;
}

SetOutcome SettingsStore::Set(std::string_view key, std::string_view value, int adcChannels) {
  const SettingDefinition* def = Definition(key);
  if (def == nullptr) {
    return SetOutcome::kUnknownKey;
  }
  auto normal = NormaliseSetting(*def, value, adcChannels);
  if (!normal) {
    return SetOutcome::kBadValue;
  }
  values_[def->key] = *normal;
  return SetOutcome::kTaken;
}

std::string SettingsStore::Serialize() const {
  std::string out;
  for (const auto& [key, value] : values_) {
    out += "set " + key + "=" + Escape(value) + "\n";
  }
  for (std::size_t i = 0; i < cal_.size(); ++i) {
    if (!cal_[i].empty()) {
      out += StrFormat("cal %zu=", i) + Escape(cal_[i]) + "\n";
    }
  }
  for (std::size_t i = 0; i < equations_.size(); ++i) {
    out += StrFormat("eqn %zu=", i) + Escape(equations_[i]) + "\n";
  }
  for (std::size_t i = 0; i < users_.size(); ++i) {
    out += StrFormat("user %zu=", i) + Escape(users_[i]) + "\n";
  }
  return out;
}

bool SettingsStore::Deserialize(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t space = line.find(' ');
    const std::size_t equals = line.find('=');
    if (space == std::string_view::npos || equals == std::string_view::npos || equals < space) {
      if (!line.empty()) {
        return false;
      }
      continue;
    }
    const std::string_view word = line.substr(0, space);
    const std::string_view name = line.substr(space + 1, equals - space - 1);
    const std::string value = Unescape(line.substr(equals + 1));
    if (word == "set") {
      if (values_.count(std::string(name)) != 0) {
        values_[std::string(name)] = value.substr(0, kMaxRecordLength);
      }
      continue;
    }
    long index = 0;
    if (!ParseLong(name, index) || index < 0) {
      return false;
    }
    const auto n = static_cast<std::size_t>(index);
    if (word == "cal" && n < kCalSlots) {
      cal_.resize(kCalSlots);
      cal_[n] = value.substr(0, kMaxRecordLength);
    } else if ((word == "eqn" && n < kMaxEquationRecords) ||
               (word == "user" && n < kMaxUserRecords)) {
      auto& list = word == "eqn" ? equations_ : users_;
      if (list.size() <= n) {
        list.resize(n + 1);
      }
      list[n] = value.substr(0, kMaxRecordLength);
    } else {
      return false;
    }
  }
  return true;
}

std::uint32_t SettingsStore::Crc() const {
  const std::string text = Serialize();
  return Crc32(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

} // namespace zuro::sim
