// The record sets some instruments keep (numbered equation and user records):
// the names that order them, their sorting before they are written back, and
// reading them from the settings file. Reading them from and writing them to
// the instrument are operations of the service object (Zuro_protocol).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/ResultCodes.h"
#include "log/ZuroLog.h"
#include "service/SettingsFile.h"
#include "service/SettingsSnapshot.h"

namespace zuro {

/// Log module name of the instrument service layer.
constexpr const char* kServiceModule = "Zuro_protocol";

/// "eqn" for type 1, "user" for type 2, null for any other type.
const char* RecordWord(int type);

/// The most records of a type the instruments keep: 100 equations, 25 users.
std::size_t RecordTypeMaximum(int type);

/// Decodes Base64 (the standard alphabet) in groups of four characters into
/// three bytes each; a character outside the alphabet (the padding '='
/// included) counts as 0. A trailing group of fewer than four characters is
/// decoded as if padded with zeros.
std::string Base64DecodeLoose(std::string_view text);

/// Fills every record's name from its value: an equation's name is its first
/// word (at most 20 characters, '_' read as a space and '`' as a comma); a
/// user record's value is Base64 text whose decoded form carries the name
/// after its third tab, up to the next tab (at most 9 characters).
/// 1; -10 when the set has no list; -11 for another type.
Result ExtractNames(RecordSet& set, int type, ZuroLog* log);

/// Sorts the records by name, case-insensitively over at most 32 characters,
/// so the instrument gets them back in the order it lists them. 1 or -11.
Result AlphabetizeRecords(RecordSet& set, int type, ZuroLog* log);

/// True when name `a` sorts before name `b`: compared position by position in
/// upper case over at most 32 positions, `a` ending first or both ending
/// together sorts before; at the first difference the smaller character does.
bool RecordNameBefore(std::string_view a, std::string_view b);

/// Reads the records of `type` from the settings file text: the keys
/// "eqn00", "eqn01", ... (or "user00" ...) up to the first missing one, at most
/// the type's maximum. 1 with the list; 0 and no list when there is none;
/// -11 for another type.
Result RecordsFromFile(RecordSet& set, int type, const SettingsFileIndex& file, ZuroLog* log);

} // namespace zuro
