// The settings file: a text file of key="value" lines holding an instrument's
// settings snapshot. It is the only copy of a customer's configuration while
// the instrument's memory is erased and reprogrammed, so it is written to a
// temporary file that is flushed to disk and then renamed into place, it is
// readable by its owner only (it holds APN passwords and authentication
// keys), and reading it is strict: a key counts only at the start of a line,
// and a file for another kind of device is refused before anything is sent.
//
// Layout: a header line, an empty line, then one section chosen by the device
// kind, and a last line end="1". Every line ends with CR LF. The line
// saved="N" records which settings were collected, so a file read back gives
// the same snapshot; a file without it (written by hand) restores every
// setting it holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/ResultCodes.h"
#include "log/ZuroLog.h"
#include "service/SettingsSnapshot.h"

namespace zuro {

constexpr const char* kSettingsFileHeader =
    "***** Auto-Generated Settings File -- DO NOT EDIT *****";
constexpr const char* kSettingsFileLineEnd = "\r\n";
/// A settings file is a few tens of kilobytes at most (100 equations of 256
/// characters are the largest part); anything far larger is not one.
constexpr std::uint64_t kSettingsFileMaxBytes = std::uint64_t{1024} * 1024;
constexpr const char* kSensorTypeLine = "Digital Sensor";

/// The settings record bits a logger of `kind` has collected (its save request).
std::uint32_t LoggerSaveFlags(int kind);

/// The instrument info bits collected for `kind`. `entryVersion` is the
/// identity version of the connected instrument, `recordVersion` the version
/// number of the service's settings record (both decide for some kinds).
/// 0 for kinds without single-setting commands.
std::uint32_t InstInfoSaveFlags(int kind, std::uint32_t entryVersion, std::int32_t recordVersion);

/// Every bit any firmware version of `kind` collects: what its file may restore.
std::uint32_t InstInfoFileFlags(int kind);

/// The type line a file for `kind` carries: the logger family name, the
/// instrument's identity code, or "Digital Sensor". Empty for other kinds.
std::string SettingsFileType(int kind);

/// The whole text of the settings file of `kind` from `snapshot`. Kinds
/// without a snapshot give an empty text.
std::string FormatSettingsFile(int kind, const SettingsSnapshot& snapshot);

/// Finds `key` at the start of a line (blanks before it allowed), followed by
/// '=' and a double quote (blanks around '=' allowed); the value runs to the
/// line's last double quote. False when the key is missing or its line has no
/// closing quote.
bool FindSettingValue(std::string_view text, std::string_view key, std::string_view* value);

/// The key="value" lines of a settings file, indexed once. A key counts only
/// at the start of a line (blanks before it and around '=' allowed) and only
/// its first line counts; the value runs from the opening double quote to the
/// line's last double quote. The index refers into the text, which must outlive it.
class SettingsFileIndex {
public:
  explicit SettingsFileIndex(std::string_view text);
  /// True with the value of `key`; false when the key is missing, its line has
  /// no closing quote, or its value holds control characters (a damaged or
  /// binary file must not send them to an instrument).
  bool Find(std::string_view key, std::string_view* value) const;
  /// The key has a line, but its value cannot be used.
  bool Damaged(std::string_view key) const;

private:
  struct Entry {
    std::string_view value;
    bool closed;
  };
  void AddLine(std::string_view line);
  std::unordered_map<std::string_view, Entry> keys_;
};

/// Reads the section for `kind` from `text` into `snapshot`. The part of the
/// snapshot that the kind uses is replaced as a whole, and only on success: a
/// refused file leaves the snapshot as it was. Logger identity fields
/// (family code, version, identity text, new-firmware flag) are kept from
/// `snapshot`, which holds those of the connected instrument.
/// 1; -35 when the file was read but lacks settings it says were saved, or
/// its end line (it was cut short: what it holds is in `snapshot`); -30
/// without the kind's type line or with an unreadable saved line (nothing
/// changed); -13 for a kind without a snapshot.
Result ParseSettingsFile(int kind, std::string_view text, SettingsSnapshot* snapshot, ZuroLog* log);

/// Writes `text` to `path` through a temporary file in the same folder that
/// is flushed to disk and renamed into place; the file is created readable
/// and writable by its owner only. 1, -10 for an empty path, or the negated
/// system error number (the old file, if any, is then left untouched).
Result WriteSettingsFileText(const std::string& path, std::string_view text, ZuroLog* log);

/// Reads the whole file at `path`. 1; -10 for an empty path; -102 when it does
/// not exist; -105 when access is denied; -106 for a bad handle; -107 when it
/// is larger than any settings file; -60 out of memory; otherwise the negated
/// system error number.
Result ReadSettingsFileText(const std::string& path, std::string* text, ZuroLog* log);

/// "****" for any text that is not empty, an empty text for an empty one: how
/// APN passwords and authentication keys appear in log lines.
std::string MaskSecret(std::string_view secret);

} // namespace zuro
