#include "gui/HelpAbout.h"

namespace zuro {

namespace {

// The maker's contact block closes the guide: a postal address of three
// lines, then telephone, fax, e-mail and web, without a final line break.
constexpr const char* kContactAddress = "Brenvik Devices, Inc.\n"
                                        "2150 Harbor Works Road\n"
                                        "Astoria, OR 97103, USA\n";
constexpr const char* kContactLines = "Phone: +1 503 555 0148\n"
                                      "Toll free: +1 800 555 0162\n"
                                      "Fax: +1 503 555 0149\n"
                                      "E-mail: support@brenvik.example\n"
                                      "Web: https://www.brenvik.example";
constexpr const char* kCopyright = "\xC2\xA9 2008-2026 Brenvik Devices, Inc. All rights reserved.";

#ifndef ZURO_ENGINE_VERSION
#define ZURO_ENGINE_VERSION ""
#endif
#ifndef ZURO_PLATFORM_NAME
#define ZURO_PLATFORM_NAME ""
#endif

} // namespace

ProgramVersionInfo BuiltProgramVersion() {
  ProgramVersionInfo info;
  info.present = true;
  const std::string version = ZURO_ENGINE_VERSION;
  if (!version.empty()) {
    info.fileVersion = version;
  }
  return info;
}

std::string BuiltPlatformName() {
  return ZURO_PLATFORM_NAME;
}

std::string EngineVersionText(const ProgramVersionInfo& info) {
  if (!info.present) {
    return {};
  }
  return info.fileVersion ? *info.fileVersion : std::string(kUnknownVersion);
}

std::string HelpText(const std::string& name, const std::string& caption, bool eraseWarning,
                     bool sensorTarget) {
  std::string text;
  text += "The " + caption + " replaces the firmware that operates your " + name + ".\n";
  text += "Following the simple steps will help ensure a successful update.\n\n";
  if (eraseWarning) {
    text += "WARNING: Updating the firmware in your " + name +
            " will erase any stored measurement data.\n";
    text += "Please download any measurement data stored in your " + name +
            " that you want to save.\n\n";
  }
  text += "Before beginning these steps, please make sure your instrument is powered on.\n\n";
  if (sensorTarget) {
    text += "Step 1. Connect your Vantorix and " + name +
            " to an available serial communication port \non your computer.\n\n";
  } else {
    text += "Step 1. Connect your " + name +
            " to an available serial communication port on your computer.\n\n";
  }
  text += "Step 2. Select the correct serial port from the Comm Port control.\n\n";
  text += "Step 3. Click the \"Start\" button. The updater shows progress in the Status area.\n\n";
  text += "WARNING: Do not disconnect your " + name +
          " from the computer while the updater is running.\n";
  text += "An incomplete firmware update could leave your " + name + " unusable.\n\n";
  text += "WARNING: Do not quit the " + name + " Firmware Updater while the updater is running.\n";
  text += "An incomplete firmware update could leave your " + name + " unusable.\n\n";
  text += "Step 4. Once the update is complete, you can disconnect your " + name +
          " from the computer.\n";
  text += "Please verify your " + name + " configuration is correct. ";
  text += "Enjoy using the updated firmware version.\n\n";
  text += "If you have trouble with this " + name + " Firmware Updater, Please contact QUOLT or\n";
  text += "an authorized QUOLT Group Distributor for help:\n\n";
  text += kContactAddress;
  text += kContactLines;
  return text;
}

std::string AboutText(const std::string& engineVersion, const std::string& platformName) {
  std::string text = "Firmware Updater for " + platformName + "\n\n";
  text += "ZuroBSL Engine version " + engineVersion + "\n";
  text += std::string("Communication Protocol version ") + kProtocolVersion + "\n\n";
  text += kCopyright;
  return text;
}

std::string AboutCaption(const std::string& name) {
  return "About " + name + " Firmware Updater";
}

} // namespace zuro
