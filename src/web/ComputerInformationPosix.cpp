// The POSIX source of the computer description: /etc/os-release (or the
// copy under /usr/lib) and uname.
#include <sys/utsname.h>

#include <fstream>
#include <iterator>

#include "web/ComputerInformation.h"

namespace zuro {

namespace {
constexpr std::streamsize kMaxOsReleaseBytes = 16384;
}

std::string ComputerInformation() {
  std::string osRelease;
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      osRelease.resize(static_cast<std::size_t>(kMaxOsReleaseBytes));
      in.read(osRelease.data(), kMaxOsReleaseBytes);
      osRelease.resize(static_cast<std::size_t>(in.gcount()));
      break;
    }
  }
  utsname names{};
  if (uname(&names) != 0) {
    return DescribeComputer(osRelease, {}, {});
  }
  return DescribeComputer(osRelease, names.sysname, names.release);
}

} // namespace zuro
