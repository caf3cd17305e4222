// How fast a firmware file loads: BSLLoadTIFile beside srec_cat (Debian
// srecord) reading the same TI-TXT file in the same run, for flash images from
// 128 KiB to 1 MiB, to show the ratio and how both grow with the file size.
// Prints figures; asserts nothing.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bsl/ImageText.h"
#include "bsl/ZuroBSLHost.h"

namespace {

constexpr int kRepeats = 5; ///< the best of this many runs counts

// A TI-TXT file holding `flashBytes` of random program: the flash below the
// area the loader skips, then the extended flash from 0x10000, in 4 KiB sections.
std::string MakeFile(std::uint32_t flashBytes) {
  std::mt19937 random(flashBytes);
  std::vector<zuro::MemoryBlock> blocks;
  std::uint32_t left = flashBytes;
  constexpr std::uint32_t kSection = 4096;
  for (std::uint32_t a = 0x1000; left > 0 && a + kSection <= 0xFA00; a += kSection) {
    blocks.push_back({a, std::vector<std::uint8_t>(kSection)});
    left -= kSection;
  }
  for (std::uint32_t a = 0x10000; left > 0 && a + kSection <= zuro::kImageAddressLimit;
       a += kSection) {
    blocks.push_back({a, std::vector<std::uint8_t>(std::min(kSection, left))});
    left -= static_cast<std::uint32_t>(blocks.back().bytes.size());
  }
  for (auto& b : blocks) {
    for (auto& byte : b.bytes) {
      byte = static_cast<std::uint8_t>(random());
    }
  }
  return zuro::FormatTiTxt(blocks, zuro::ErasedVectors());
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The best of kRepeats loads, each by a new host; `first` gets the first
// load's time, when the process's memory for the image was still fresh.
double BestHostLoad(const std::string& path, double& first) {
  double best = 1e9;
  for (int i = 0; i < kRepeats; ++i) {
    zuro::ZuroBSLHost host(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const zuro::Result r = host.BSLLoadTIFile(path);
    const double took = Seconds(std::chrono::steady_clock::now() - start);
    best = std::min(best, took);
    if (i == 0) {
      first = took;
    }
    if (r != 1) {
      std::fprintf(stderr, "BSLLoadTIFile failed with %d\n", r);
      std::exit(1);
    }
  }
  return best;
}

double BestSrecCat(const std::string& path) {
  const std::string command = "srec_cat " + path + " -TI_TXT -o /dev/null -binary";
  double best = 1e9;
  for (int i = 0; i < kRepeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    if (status != 0) {
      std::fprintf(stderr, "srec_cat failed (%d); is the srecord package installed?\n", status);
      std::exit(1);
    }
  }
  return best;
}

} // namespace

int main() {
  const auto dir =
      std::filesystem::temp_directory_path() / ("zuro-bench-titxt-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::printf("%-10s %12s %14s %14s %14s %8s %12s\n", "flash", "file bytes", "BSLLoadTIFile",
              "(first load)", "srec_cat", "ratio", "ratio first");
  for (const std::uint32_t kib : {128u, 256u, 512u, 1024u}) {
    const std::string file = MakeFile(kib * 1024);
    const std::string path = (dir / ("flash-" + std::to_string(kib) + ".txt")).string();
    std::ofstream(path, std::ios::binary) << file;
    double first = 0;
    const double host = BestHostLoad(path, first);
    const double srec = BestSrecCat(path);
    std::printf("%6u KiB %12zu %11.2f ms %11.2f ms %11.2f ms %7.1fx %11.1fx\n", kib, file.size(),
                host * 1e3, first * 1e3, srec * 1e3, srec / host, srec / first);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
