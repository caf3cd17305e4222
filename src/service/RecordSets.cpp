#include "service/RecordSets.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "core/Text.h"
#include "service/SettingsFile.h"

namespace zuro {
namespace {

constexpr std::size_t kEquationNameMax = 20; ///< characters of an equation's first word
constexpr std::size_t kUserNameMax = 9;      ///< characters of a user's name
constexpr std::size_t kUserNameTab = 3;      ///< the name follows this many tabs
constexpr std::size_t kSortPositions = 32;   ///< name positions the sort compares
constexpr char kEquationSpace = '_';         ///< stands for a space in an equation name
constexpr char kEquationComma = '`';         ///< stands for a comma in an equation name

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

unsigned Base64Value(char c) {
  const std::size_t at = kBase64Alphabet.find(c);
  return at == std::string_view::npos ? 0U : static_cast<unsigned>(at);
}

std::string EquationName(std::string_view value) {
  std::string name(value.substr(0, std::min(value.find(' '), kEquationNameMax)));
  std::replace(name.begin(), name.end(), kEquationSpace, ' ');
  std::replace(name.begin(), name.end(), kEquationComma, ',');
  return name;
}

std::string UserName(std::string_view value) {
  const std::string decoded = Base64DecodeLoose(value);
  std::size_t at = 0;
  for (std::size_t tabs = 0; tabs < kUserNameTab; ++tabs) {
    at = decoded.find('\t', at);
    if (at == std::string::npos) {
      return {}; // fewer than three tabs: the record has no name
    }
    ++at;
  }
  const std::size_t end = decoded.find('\t', at);
  std::string name;
  BoundedCopy(name, std::string_view(decoded).substr(at, end == std::string::npos ? end : end - at),
              kUserNameMax);
  return name;
}

} // namespace

const char* RecordWord(int type) {
  switch (type) {
  case kEquationRecordType:
    return "eqn";
  case kUserRecordType:
    return "user";
  default:
    return nullptr;
  }
}

std::size_t RecordTypeMaximum(int type) {
  return type == kEquationRecordType ? kMaxEquationRecords
         : type == kUserRecordType   ? kMaxUserRecords
                                     : 0;
}

std::string Base64DecodeLoose(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  for (std::size_t at = 0; at < text.size(); at += 4) {
    std::uint32_t group = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      group = (group << 6) | (at + i < text.size() ? Base64Value(text[at + i]) : 0U);
    }
    out.push_back(static_cast<char>((group >> 16) & 0xFF));
    out.push_back(static_cast<char>((group >> 8) & 0xFF));
    out.push_back(static_cast<char>(group & 0xFF));
  }
  return out;
}

Result ExtractNames(RecordSet& set, int type, ZuroLog* log) {
  if (set.records.empty()) {
    if (log != nullptr) {
      log->LogMessage(kLogMilestones, kServiceModule, "ExtractNames found an null record pointer");
    }
    return kErrMissingArgument;
  }
  if (RecordWord(type) == nullptr) {
    if (log != nullptr) {
      log->LogMessage(kLogMilestones, kServiceModule,
                      "ExtractNames found an unexpected record type \"%d\"", type);
    }
    return kErrProtoOutOfRange;
  }
  for (InfoRecord& record : set.records) {
    const std::string name =
        type == kEquationRecordType ? EquationName(record.value) : UserName(record.value);
    BoundedCopy(record.name, name, kRecordNameMax);
  }
  return kDone;
}

bool RecordNameBefore(std::string_view a, std::string_view b) {
  for (std::size_t at = 0; at < kSortPositions; ++at) {
    if (at >= a.size()) {
      return true; // a ends first, or both end together
    }
    if (at >= b.size()) {
      return false;
    }
    const auto ca = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(a[at])));
    const auto cb = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(b[at])));
    if (ca != cb) {
      return ca < cb;
    }
  }
  return false;
}

Result AlphabetizeRecords(RecordSet& set, int type, ZuroLog* log) {
  if (RecordWord(type) == nullptr) {
    if (log != nullptr) {
      log->LogMessage(kLogMilestones, kServiceModule,
                      "AlphabetizeRecords found an unexpected record type \"%d\"", type);
    }
    return kErrProtoOutOfRange;
  }
  ExtractNames(set, type, log);
  // Insertion sort: a record that sorts before its neighbour moves down past
  // every record it sorts before, so of two equal names the later one ends in front.
  std::vector<InfoRecord>& records = set.records;
  for (std::size_t i = 1; i < records.size(); ++i) {
    if (!RecordNameBefore(records[i].name, records[i - 1].name)) {
      continue;
    }
    InfoRecord moving = std::move(records[i]);
    std::size_t j = i;
    while (j > 0 && RecordNameBefore(moving.name, records[j - 1].name)) {
      records[j] = std::move(records[j - 1]);
      --j;
    }
    records[j] = std::move(moving);
  }
  return kDone;
}

Result RecordsFromFile(RecordSet& set, int type, const SettingsFileIndex& file, ZuroLog* log) {
  const char* word = RecordWord(type);
  if (word == nullptr) {
    if (log != nullptr) {
      log->LogMessage(kLogMilestones, kServiceModule,
                      "GetRecords_File found an unexpected record type \"%d\"", type);
    }
    return kErrProtoOutOfRange;
  }
  if (!set.records.empty()) {
    if (log != nullptr) {
      log->LogMessage(kLogMilestones, kServiceModule, "GetRecords_File found a non-null \"%s\" set",
                      word);
    }
    set.records.clear();
  }
  const std::size_t maximum = RecordTypeMaximum(type);
  std::vector<std::string_view> values;
  for (std::size_t n = 0; n < maximum; ++n) {
    std::string_view value;
    if (!file.Find(StrFormat("%s%02zu", word, n), &value)) {
      break;
    }
    values.push_back(value);
  }
  if (values.empty()) {
    if (log != nullptr) {
      log->LogMessage(kLogMilestones, kServiceModule,
                      "GetRecords_File found no \"%s\" records in instrument", word);
    }
    return kOk;
  }
  std::vector<InfoRecord> records;
  for (std::size_t n = 0; n < values.size(); ++n) {
    InfoRecord record;
    BoundedCopy(record.value, values[n], kRecordValueMax);
    if (record.value.empty()) {
      break;
    }
    if (log != nullptr) {
      log->LogMessage(kLogMilestones, kServiceModule, "GetRecords_File found \"%s\" %d as \"%s\"",
                      word, static_cast<int>(n), record.value.c_str());
    }
    records.push_back(std::move(record));
  }
  if (log != nullptr) {
    log->LogMessage(kLogMilestones, kServiceModule,
                    "GetRecords_File retrieved %d of %d \"%s\" records",
                    static_cast<int>(records.size()), static_cast<int>(values.size()), word);
  }
  set.records = std::move(records);
  return kDone;
}

} // namespace zuro
