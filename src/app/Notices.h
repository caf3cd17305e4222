// The notices of the updater that carry a decision of their own, beyond the
// failure notices the update sequences compose inline: the close guard that
// keeps the user from quitting in the middle of an update, the data-erase
// warning at start-up, the start-up failure when the built-in image is
// damaged, the firmware version range guard and the calibration reminders.
// Every front end calls these, so the words and the decisions are the same
// in the window and on the command line.
#pragma once

#include <cstdint>
#include <string>

#include "app/UpdateSession.h"

namespace zuro {

constexpr const char* kCloseGuardCaption = "Don't Quit Now!";
constexpr const char* kDataEraseWarningCaption = "Data Erase Warning";
constexpr const char* kStartupFailureCaption = "Application Launch Error";
constexpr const char* kWrongFirmwareVersionCaption = "Wrong Firmware Version";
/// The maker's support literature page, named at the end of the Stomatrix reminder.
constexpr const char* kSupportLiteratureAddress = "https://www.brenvik.com/support/literature";

/// A version in hundredths as the user reads it: 102 gives "1.02".
std::string VersionText(std::uint32_t hundredths);

/// The text of the close guard's box while an update runs.
std::string CloseGuardText(const std::string& caption, const std::string& name);
/// The close guard: while an update runs it shows its box, and when that is
/// closed with OK the window stays open and the update goes on (false).
/// Otherwise keepGoing is cleared and the front end may close (true).
bool CloseGuard(UpdateSession& session);

std::string DataEraseWarningText(const std::string& caption, const std::string& name);
/// Shows the data-erase warning as a warning notice.
void ShowDataEraseWarning(UpdateSession& session);

/// The start-up failure text for the host's imageStatus `code`.
std::string StartupFailureText(const std::string& caption, Result code);
/// Shows the start-up failure notice and logs the host's error; the front
/// end closes afterwards.
void ShowStartupFailure(UpdateSession& session);

/// Checks the entry's firmware version against its kind's supported range.
/// True to go on; false after the user was told (or declined to force it in
/// "-rep" and "-factory" runs).
bool ConfirmFirmwareRange(UpdateSession& session, const DeviceKindEntry& entry);

/// The calibration reminder of `kind`, for the kinds that have one.
void ShowCalibrationReminder(UpdateSession& session, int kind);

} // namespace zuro
