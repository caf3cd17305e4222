// Any file a user picks goes through the TI-TXT converter before a single
// byte of the instrument is erased. Whatever the input: no crash, no overrun,
// and a file that is taken yields a well-formed image text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "bsl/ImageText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  zuro::FirmwareImage image;
  image.text = "@01200FFFF";
  const zuro::TiTxtStatus status = zuro::ConvertTiTxt(file, image);
  if (status != zuro::TiTxtStatus::kConverted) {
    if (image.text != "@01200FFFF") {
      std::abort(); // a refused file must leave the image alone
    }
    return 0;
  }
  std::vector<zuro::ImageSegment> segments;
  if (!zuro::SplitImageText(image.text, segments) || segments.empty()) {
    std::abort(); // a taken file must give image text the boot loader can be sent
  }
  const std::string dump = zuro::FormatImageDump(image.text, image.vectors);
  if (dump.size() < image.text.size()) {
    std::abort();
  }
  return 0;
}
