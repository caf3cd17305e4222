#include "web/ComputerInformation.h"

#include <cstddef>

namespace zuro {

namespace {

constexpr std::size_t kMaxNameChars = 120; ///< an os-release name is a line, not a file
constexpr std::string_view kUnknownSystem = "Unknown System";

/// The value of `key` in os-release text: KEY=value or KEY="value".
std::string OsReleaseValue(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=') {
      continue;
    }
    std::string_view value = line.substr(key.size() + 1);
    if (!value.empty() && value.back() == '\r') {
      value.remove_suffix(1);
    }
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    std::string out;
    for (char c : value.substr(0, kMaxNameChars)) {
      out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return out;
  }
  return {};
}

} // namespace

std::string DescribeComputer(std::string_view osRelease, std::string_view systemName,
                             std::string_view release) {
  std::string name = OsReleaseValue(osRelease, "PRETTY_NAME");
  if (name.empty()) {
    name = OsReleaseValue(osRelease, "NAME");
  }
  if (name.empty()) {
    name = std::string(systemName.empty() ? kUnknownSystem : systemName.substr(0, kMaxNameChars));
  }
  // "6.1.0-18-amd64": the first two numbers are the version, the rest the build.
  std::string_view version = release;
  std::string_view build;
  const std::size_t firstDot = release.find('.');
  if (firstDot != std::string_view::npos) {
    const std::size_t secondDot = release.find('.', firstDot + 1);
    if (secondDot != std::string_view::npos) {
      version = release.substr(0, secondDot);
      build = release.substr(secondDot + 1);
    }
  }
  if (version.empty()) {
    version = "0.0";
  }
  return name + " (Version " + std::string(version.substr(0, kMaxNameChars)) + " build " +
         std::string(build.empty() ? "0" : build.substr(0, kMaxNameChars)) + ")";
}

} // namespace zuro
