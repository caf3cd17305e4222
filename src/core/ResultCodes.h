// Result codes shared by every layer below the user interface. An operation
// returns a signed 32-bit result: zero or more is success, a negative value
// an error. The serial layer passes negated system error numbers; the other
// layers use these fixed codes. Each subsystem adds its own codes here so the
// whole vocabulary can be read in one place.
#pragma once

#include <cstdint>

namespace zuro {

using Result = std::int32_t;

constexpr Result kOk = 0;
constexpr Result kDone = 1;

// Codes that cross subsystems.
constexpr Result kErrMissingArgument = -10;   ///< a required argument is missing or empty
constexpr Result kErrNoConnection = -20;      ///< no connection to the device
constexpr Result kErrNoAnswer = -21;          ///< port closed or the device gave no answer
constexpr Result kErrNotUnderstood = -30;     ///< the answer or text could not be understood
constexpr Result kErrPartialSettings = -35;   ///< some but not all settings read or written
constexpr Result kErrStopped = -40;           ///< stopped by the user or the progress callback
constexpr Result kErrOutOfMemory = -60;       ///< out of memory
constexpr Result kErrDataMemory = -65;        ///< the instrument's data memory is failing
constexpr Result kErrBootLoaderActive = -80;  ///< the boot loader answered, already active
constexpr Result kErrBootLoaderWaiting = -81; ///< the boot loader answered, waiting for contact
constexpr Result kErrDamagedImage = -101;     ///< the built-in firmware image is damaged
constexpr Result kErrSettingsFileMissing = -102; ///< the settings file is missing
constexpr Result kErrBootLoader = -110;       ///< the boot loader reported an error
constexpr Result kErrNoBootLoader = -112;     ///< the device has no boot loader
constexpr Result kErrNotSupported = -120;     ///< firmware or device not supported

// Instrument command protocol (the instruments' ASCII command line, their
// radio module and the settings, clock and erase commands).
constexpr Result kErrProtoCannotDo = -1;        ///< the device cannot do this; nothing was sent
constexpr Result kErrProtoOutOfRange = -11;     ///< argument or option out of range, or not for this device
constexpr Result kErrProtoRefused = -12;        ///< the device refused the value
constexpr Result kErrProtoNotSupported = -13;   ///< link type or firmware not supported
constexpr Result kErrProtoLastSilent = -22;     ///< the last attempt heard nothing; no answer to the query
constexpr Result kErrProtoRadioModule = -23;    ///< the radio module could not be configured or is absent
constexpr Result kErrProtoEmptyAnswer = -31;    ///< the device answered with its prompt only
constexpr Result kErrProtoEcho = -32;           ///< the answer holds the command that was sent
constexpr Result kErrProtoRelayActive = -33;    ///< a relay echoes the line: it must be active
constexpr Result kErrProtoErrorAnswer = -34;    ///< the device answered "ERROR", "Unsupported" or '?'
constexpr Result kErrProtoNoName = -36;         ///< the device has no name: it is uninitialised
constexpr Result kErrProtoWrongDevice = -37;    ///< the device's name is not the connected device's
constexpr Result kErrProtoNoRadio = -45;        ///< the device has no radio module
constexpr Result kErrNameBadChar = -50;         ///< device name with a control character, space, 127 or 255
constexpr Result kErrNameForbiddenChar = -51;   ///< device name with one of ? \ " / < > * | : ; ,
constexpr Result kErrNameReserved = -52;        ///< device name is a word of the command language
constexpr Result kErrNameEmpty = -53;           ///< device name missing or empty
constexpr Result kErrNameLength = -54;          ///< device name longer than 8 characters
constexpr Result kErrNameHighChar = -56;        ///< device name with another character above 127

// Serial link (the port driver and port enumeration). Other system errors are
// passed on as the negated error number.
constexpr Result kErrPortUnavailable = -2;  ///< no such port (ENOENT, ENODEV, ENXIO): "isn't available"
constexpr Result kErrPortInUse = -5;        ///< another program holds the port (EBUSY or its lock)
constexpr Result kErrPortNoName = -6;       ///< a baud change on an object that has no port name
constexpr Result kErrPortNameTooLong = -7;  ///< port name longer than a port name field holds
constexpr Result kErrPortNoCapacity = -11;  ///< port enumeration into a list of capacity 0
constexpr Result kErrPortNoAccess = -13;    ///< no permission to open the port (EACCES); not "in use"
constexpr Result kErrPortNotSerial = -25;   ///< the path is not a serial device (regular file, directory)

// Boot-loader host (firmware image, TI-TXT files, the boot-loader protocol).
constexpr Result kErrBslRefused = -1;       ///< the boot loader refused ("-", "?") or answered something else
constexpr Result kErrBslBadArgument = -11;  ///< too many fields, erase start in 0xFA00-0xFFFF, malformed image text
constexpr Result kErrBslNoAttempt = -22;    ///< tries 0: no attempt was made
constexpr Result kErrNotTiTxt = -100;       ///< the file is not a valid TI-TXT firmware file

// Instrument services (connection, settings snapshot and settings file,
// checks and maintenance).
constexpr Result kErrFirmwareCorrupt = -1;       ///< the instrument's self-test reports corrupt code
constexpr Result kErrLoginRefused = -25;         ///< the access-code login was not confirmed
constexpr Result kErrSettingsFileDenied = -105;  ///< the settings file may not be read (access denied)
constexpr Result kErrSettingsFileHandle = -106;  ///< the settings file gave an invalid handle
constexpr Result kErrSettingsFileTooLarge = -107; ///< far larger than any settings file: not one

// SDI-12 sensor access (commands to a digital sensor through the hand-held
// reader). Codes shared with the instrument protocol keep its meaning: -21
// nothing answered, -30 an answer not understood.
constexpr Result kErrSdiNoVerdict = -1;        ///< the type or the firmware check gave no verdict
constexpr Result kErrSdiBadArgument = -11;     ///< text unfit for one command; type code 0, 255, unknown
constexpr Result kErrSdiSilent = -22;          ///< command unanswered, though the address query was
constexpr Result kErrSdiErrorAnswer = -34;     ///< the sensor answered "ERROR" to a write
constexpr Result kErrSdiFirmwareCorrupt = -66; ///< the sensor found its new firmware corrupt
constexpr Result kErrSdiNoBootLoader = -82;    ///< the sensor reports that it has no boot loader

// Web services (the newer-version check and the feedback upload to the
// maker's web host). Errors of the HTTP client become these codes at once.
constexpr Result kErrWebSendFailed = -1000;     ///< feedback upload failed or the script did not confirm it
constexpr Result kErrWebConnect = -1001;        ///< the request failed: no connection, HTTP error, cancelled
constexpr Result kErrWebAnswer = -1002;         ///< the version answer could not be read
constexpr Result kErrWebFileTooBig = -1003;     ///< a file to send is larger than the upload limit
constexpr Result kErrWebFileUnreadable = -1004; ///< a file to send cannot be read

}  // namespace zuro
