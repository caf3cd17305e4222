// Feeds arbitrary identity answers to ParseDeviceIdentity and checks what the
// rest of the updater relies on: known results only, fields within their
// maxima, no updatable entry from an answer without a version, an entry left
// alone when the version does not read. Where the C library's scanf is
// well defined (short text, short major number) its reading of
// "%s %d.%1d%1d" serves as an independent oracle for the version.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "service/DeviceKinds.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    (void)std::fprintf(stderr, "fuzz_device_identity: %s\n", what);
    std::abort();
  }
}

constexpr std::size_t kOracleTextMax = 63; ///< characters scanf may copy into its code buffer
/// Keeps scanf's %d clear of overflow and the version within 32 bits.
constexpr std::size_t kOracleMajorDigitsMax = 7;

/// Runs scanf on `text` when that is well defined. Returns false when it is not.
bool ScanfOracle(const char* text, int& fields, std::string& code, std::uint32_t& version,
                 bool& negativeMajor) {
  if (std::strlen(text) > kOracleTextMax) {
    return false;
  }
  char codeBuffer[kOracleTextMax + 1] = {};
  int afterCode = -1;
  if (std::sscanf(text, "%63s %n", codeBuffer, &afterCode) < 1 || afterCode < 0) {
    fields = 0; // no code at all
    return true;
  }
  const char* p = text + afterCode;
  if (*p == '+' || *p == '-') {
    ++p;
  }
  std::size_t digits = 0;
  while (p[digits] >= '0' && p[digits] <= '9') {
    ++digits;
  }
  if (digits > kOracleMajorDigitsMax) {
    return false;
  }
  int major = 0;
  int minor = 0;
  int sub = 0;
  fields = std::sscanf(text, "%63s %d.%1d%1d", codeBuffer, &major, &minor, &sub);
  code = codeBuffer;
  negativeMajor = major < 0;
  version = static_cast<std::uint32_t>(major) * 100 + static_cast<std::uint32_t>(minor) * 10 +
            static_cast<std::uint32_t>(fields >= 4 ? sub : 0);
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input =
      size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
  const char* text = input.c_str(); // an embedded NUL ends the answer, as on the wire
  const std::size_t length = std::strlen(text);
  const bool hasPoint = std::string_view(text).find('.') != std::string_view::npos;

  // A kind-3 entry whose identity text no parse can produce: a text with a
  // '.' copies the '.', a text without one gives kind 0.
  zuro::DeviceKindEntry before;
  zuro::FillDeviceKindEntry(3, 230, &before);
  before.identityText = "#";
  zuro::DeviceKindEntry entry = before;
  const std::int32_t result = zuro::ParseDeviceIdentity(text, &entry);

  Check(result == zuro::kDeviceKindFound || result == zuro::kDeviceKindNotUnderstood ||
            result == zuro::kDeviceKindMissingArgument,
        "unexpected result");
  Check(entry.displayName.size() <= zuro::kDisplayNameMax, "display name too long");
  Check(entry.identityText.size() <= zuro::kKindIdentityTextMax, "identity text too long");
  Check(entry.kind >= 0 && entry.kind < zuro::kDeviceKindCount, "kind outside the table");

  if (length == 0) {
    Check(result == zuro::kDeviceKindMissingArgument && entry == before, "empty text");
    return 0;
  }
  const bool untouched = entry == before;
  if (result == zuro::kDeviceKindFound) {
    Check(entry.kind >= 1 && hasPoint, "found without a kind or a version");
  } else if (!untouched) {
    Check(entry.kind == 0 && !entry.updatable, "unknown identity left updatable");
  }
  if (!hasPoint) {
    Check(!untouched && entry.kind == 0 && entry.version == 0 && !entry.updatable,
          "answer without a version must give the unknown kind");
  }
  if (!untouched) {
    Check(entry.identityText == std::string(text, std::min(length, zuro::kKindIdentityTextMax)),
          "identity text not copied");
  }

  int fields = 0;
  std::string code;
  std::uint32_t version = 0;
  bool negativeMajor = false;
  if (hasPoint && ScanfOracle(text, fields, code, version, negativeMajor)) {
    const bool reads = fields >= 3 && !negativeMajor;
    Check(reads != untouched, "disagrees with scanf on whether the version reads");
    if (reads) {
      Check(entry.version == version, "disagrees with scanf on the version");
      Check(entry.kind == zuro::DeviceKindFromCode(code), "disagrees with scanf on the code");
    }
  }

  // The same bytes as a sensor type code and as a kind index.
  if (size >= 4) {
    unsigned int typeCode = 0;
    std::memcpy(&typeCode, data, sizeof typeCode);
    char name[zuro::kSensorTypeNameSize];
    zuro::SensorTypeName(typeCode, name);
    Check(std::memchr(name, '\0', sizeof name) != nullptr, "sensor name not terminated");
    int kind = 0;
    std::memcpy(&kind, data, sizeof kind);
    zuro::DeviceKindEntry filled;
    zuro::FillDeviceKindEntry(kind, typeCode, &filled);
    Check(filled.kind == ((kind >= 0 && kind < zuro::kDeviceKindCount) ? kind : 0),
          "fill chose the wrong kind");
  }
  return 0;
}
