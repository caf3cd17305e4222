// zuro-firmware-gen: writes a firmware image as a TI-TXT file. Without options
// it writes the Du70 2.30 image that the updater carries (firmware/du70-2.30.txt);
// options make other images for tests and for other targets, e.g.
//   zuro-firmware-gen --identity "DU70 2.31" --output du70-2.31.txt
//   zuro-firmware-gen --identity "SENSOR 1.10" --start 0x8000 --length 30000 --fill-length 0
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "firmware/FirmwareGenerator.h"

namespace {

constexpr const char* kUsage =
    "usage: zuro-firmware-gen [--identity TEXT] [--start ADDR] [--length BYTES]\n"
    "                         [--fill-start ADDR] [--fill-length BYTES]\n"
    "                         [--vectors W0,W1,...,W15] [--output FILE]\n"
    "Numbers may be decimal or 0x-prefixed hex; vector words are hex.\n";

bool ParseNumber(const char* text, std::uint32_t& value) {
  errno = 0;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v > 0xFFFFFFFFul) {
    return false;
  }
  value = static_cast<std::uint32_t>(v);
  return true;
}

bool ParseVectors(const std::string& text, zuro::VectorTable& vectors) {
  std::size_t k = 0;
  std::size_t at = 0;
  while (k < zuro::kVectorCount) {
    const std::size_t comma = text.find(',', at);
    const std::string word =
        text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    char* end = nullptr;
    const unsigned long v = std::strtoul(word.c_str(), &end, 16);
    if (word.empty() || *end != '\0' || v > 0xFFFF) {
      return false;
    }
    vectors[k++] = static_cast<std::uint16_t>(v);
    if (comma == std::string::npos) {
      break;
    }
    at = comma + 1;
  }
  return k == zuro::kVectorCount && text.find(',', at) == std::string::npos;
}

} // namespace

int main(int argc, char** argv) {
  zuro::FirmwareLayout layout;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help") {
      (void)std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      (void)std::fprintf(stderr, "zuro-firmware-gen: %s needs a value\n%s", option.c_str(), kUsage);
      return 2;
    }
    const char* value = argv[++i];
    bool ok = true;
    if (option == "--identity") {
      layout.identity = value;
    } else if (option == "--start") {
      ok = ParseNumber(value, layout.programStart);
    } else if (option == "--length") {
      ok = ParseNumber(value, layout.programLength);
    } else if (option == "--fill-start") {
      ok = ParseNumber(value, layout.fillStart);
    } else if (option == "--fill-length") {
      ok = ParseNumber(value, layout.fillLength);
    } else if (option == "--vectors") {
      zuro::VectorTable vectors{};
      ok = ParseVectors(value, vectors);
      layout.vectors = vectors;
    } else if (option == "--output") {
      output = value;
    } else {
      (void)std::fprintf(stderr, "zuro-firmware-gen: unknown option %s\n%s", option.c_str(),
                         kUsage);
      return 2;
    }
    if (!ok) {
      (void)std::fprintf(stderr, "zuro-firmware-gen: bad value for %s: %s\n", option.c_str(),
                         value);
      return 2;
    }
  }
  std::string error;
  const std::string file = zuro::GenerateFirmwareTiTxt(layout, &error);
  if (file.empty()) {
    (void)std::fprintf(stderr, "zuro-firmware-gen: %s\n", error.c_str());
    return 1;
  }
  if (output.empty()) {
    return std::fwrite(file.data(), 1, file.size(), stdout) == file.size() ? 0 : 1;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(file.data(), static_cast<std::streamsize>(file.size()));
  out.close();
  if (!out) {
    (void)std::fprintf(stderr, "zuro-firmware-gen: cannot write %s: %s\n", output.c_str(),
                       std::strerror(errno));
    return 1;
  }
  return 0;
}
