// The texts of the Help menu: the short guide to an update and the About
// box. Both are composed at each opening from the target name and the
// window caption, so a target renamed in the meantime (the sensor-type menu)
// shows up at once. Plain text only; the window shows them as notices.
#pragma once

#include <optional>
#include <string>

namespace zuro {

constexpr const char* kHelpCaption = "Help";
constexpr const char* kProtocolVersion = "1.8.4"; ///< the instruments' command protocol
/// Shown in place of the engine version when the version information has no
/// file version for the program's language.
constexpr const char* kUnknownVersion = "Unknown";

/// The program file's version information as far as the platform has one.
/// No information at all gives an empty engine version; information without a
/// file version gives "Unknown".
struct ProgramVersionInfo {
  bool present = false;
  std::optional<std::string> fileVersion;
};

/// The version information this program was built with (the build's version,
/// 1.16.0.72, as the file version).
ProgramVersionInfo BuiltProgramVersion();

/// The engine version text of the About box.
std::string EngineVersionText(const ProgramVersionInfo& info);

/// The help guide. `eraseWarning`: the target kind's erase-warning flag.
std::string HelpText(const std::string& name, const std::string& caption, bool eraseWarning,
                     bool sensorTarget);

/// The About text; `platformName` names the system the updater was built for.
std::string AboutText(const std::string& engineVersion, const std::string& platformName);
/// "About " + name + " Firmware Updater": the About box's caption and the menu item's text.
std::string AboutCaption(const std::string& name);

/// The system the program was built for, as the About text names it.
std::string BuiltPlatformName();

} // namespace zuro
