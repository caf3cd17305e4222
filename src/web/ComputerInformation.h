// A one-line description of the operating system the updater runs on, sent
// with every feedback report: its name, then " (Version <major.minor> build
// <rest of the release>)".
#pragma once

#include <string>
#include <string_view>

namespace zuro {

/// The system actually running (os-release and uname on Linux).
std::string ComputerInformation();

/// The text from an os-release file's content and uname's system name and
/// release ("6.1.0-18-amd64": version 6.1, build 0-18-amd64).
std::string DescribeComputer(std::string_view osRelease, std::string_view systemName,
                             std::string_view release);

} // namespace zuro
