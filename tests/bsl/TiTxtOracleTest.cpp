// srec_cat (Debian srecord) writes TI-TXT files from random binaries; the host
// loads them and every word of the image must hold the binary's bytes. The
// writer is someone else's, so a shared misreading of the format cannot hide.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bsl/ZuroBSLHost.h"

namespace zuro {
namespace {

namespace fs = std::filesystem;

struct Block {
  std::uint32_t address;
  std::vector<std::uint8_t> bytes;
};

// Blocks with gaps between them, in the flash below the area the loader skips
// and in the extended flash above 64 KiB (where a block at 0x10000 joins the
// vectors into one section); lengths odd and even.
std::vector<Block> RandomBlocks(std::mt19937& random) {
  std::vector<Block> blocks;
  const std::uint32_t regions[][2] = {{0x1100, 0xF9F0}, {0x10000, 0xFFFF0}};
  for (const auto& region : regions) {
    std::uint32_t at = region[0] + random() % 64;
    const int count = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      const std::uint32_t length = 1 + random() % (random() % 4 == 0 ? 4000 : 41);
      if (at + length >= region[1]) {
        break;
      }
      Block b{at, std::vector<std::uint8_t>(length)};
      for (auto& byte : b.bytes) {
        byte = static_cast<std::uint8_t>(random());
      }
      blocks.push_back(std::move(b));
      at += length + 1 + random() % 3000; // a gap of at least one byte
    }
  }
  return blocks;
}

TEST(TiTxtOracle, SrecCatFilesLoadWordForWord) {
  if (std::system("srec_cat -version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
  }
  const fs::path dir =
      fs::temp_directory_path() / ("zuro-titxt-oracle-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::mt19937 random(20261211);
  ZuroBSLHost host(nullptr);

  for (int image = 0; image < 100; ++image) {
    std::vector<Block> blocks = RandomBlocks(random);
    Block vectors{kVectorTableStart, std::vector<std::uint8_t>(32)};
    for (auto& byte : vectors.bytes) {
      byte = static_cast<std::uint8_t>(random());
    }
    std::string command = "srec_cat";
    std::map<std::uint32_t, std::uint8_t> memory;
    std::vector<Block> all = blocks;
    all.push_back(vectors);
    for (std::size_t i = 0; i < all.size(); ++i) {
      const fs::path bin = dir / ("block" + std::to_string(i) + ".bin");
      std::ofstream(bin, std::ios::binary)
          .write(reinterpret_cast<const char*>(all[i].bytes.data()),
                 static_cast<std::streamsize>(all[i].bytes.size()));
      command += " " + bin.string() + " -binary -offset " + std::to_string(all[i].address);
    }
    const fs::path file = dir / "image.txt";
    command += " -o " + file.string() + " -TI_TXT";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const Block& b : blocks) {
      for (std::size_t i = 0; i < b.bytes.size(); ++i) {
        memory[b.address + static_cast<std::uint32_t>(i)] = b.bytes[i];
      }
    }

    ASSERT_EQ(host.BSLLoadTIFile(file.string()), 1) << "image " << image;
    std::vector<ImageSegment> segments;
    ASSERT_TRUE(SplitImageText(host.imageText(), segments)) << "image " << image;
    std::size_t seen = 0;
    for (const ImageSegment& s : segments) {
      for (std::size_t i = 0; i < s.bytes.size(); ++i) {
        const std::uint32_t a = s.address + static_cast<std::uint32_t>(i);
        const auto it = memory.find(a);
        if (it == memory.end()) {
          // Only the erased byte that completes an odd-length section.
          ASSERT_EQ(i, s.bytes.size() - 1) << "image " << image << " address " << a;
          ASSERT_EQ(s.bytes[i], 0xFF) << "image " << image << " address " << a;
        } else {
          ASSERT_EQ(s.bytes[i], it->second) << "image " << image << " address " << a;
          ++seen;
        }
      }
    }
    EXPECT_EQ(seen, memory.size()) << "image " << image;
    for (std::size_t k = 0; k < kVectorCount; ++k) {
      ASSERT_EQ(host.vectors()[k], vectors.bytes[2 * k] | (vectors.bytes[2 * k + 1] << 8))
          << "image " << image << " vector " << k;
    }
  }
  fs::remove_all(dir);
}

} // namespace
} // namespace zuro
