// The texts that come from outside through the web code: the version
// finder's answer from the network, and the operating system's description
// files. Any bytes must parse without overrun, and a parsed answer must keep
// the limits the version check relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "web/ComputerInformation.h"
#include "web/VersionCheck.h"

namespace {
void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const zuro::VersionAnswer answer = zuro::ParseVersionAnswer(text);
  if (answer.status == zuro::kOk) {
    Check(answer.newestVersion >= 0);
    Check(answer.address.size() <= zuro::kVersionAddressMax);
    Check(answer.address.rfind(zuro::kAddressStart, 0) == 0);
  } else {
    Check(answer.status < 0);
  }
  // The same bytes as an os-release file and as uname's fields.
  const std::size_t third = size / 3;
  (void)zuro::DescribeComputer(text.substr(0, third), text.substr(third, third),
                               text.substr(2 * third));
  return 0;
}
