#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bsl/ZuroBSLHost.h"

namespace zuro {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

constexpr const char* kVectorSection = "@FFE0\n"
                                       "00 14 01 14 02 14 03 14 04 14 05 14 06 14 07 14\n"
                                       "08 14 09 14 0A 14 0B 14 0C 14 0D 14 0E 14 00 12\n";

// A host with its own log file in a folder of its own.
class HostImage : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zuro-bsl-image-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_ = std::make_unique<ZuroLog>((dir_ / "log.txt").c_str(), kLogTraces, true);
    host_ = std::make_unique<ZuroBSLHost>(log_.get());
  }
  void TearDown() override {
    host_.reset();
    fs::remove_all(dir_);
  }
  std::string Log() const { return ReadText(dir_ / "log.txt"); }
  fs::path File(const std::string& name, const std::string& text) const {
    WriteText(dir_ / name, text);
    return dir_ / name;
  }

  fs::path dir_;
  std::unique_ptr<ZuroLog> log_;
  std::unique_ptr<ZuroBSLHost> host_;
};

TEST_F(HostImage, BuiltInImagePassesItsCheck) {
  EXPECT_EQ(host_->imageStatus(), 0);
  EXPECT_EQ(host_->imageName(), "Du70 2.30");
  EXPECT_EQ(host_->imageKind(), 3);
  EXPECT_EQ(host_->imageTextLength(), 113764u);
  EXPECT_EQ(host_->imageText().substr(0, 6), "@01200");
  EXPECT_EQ(host_->vectors()[15], 0x1200);
  EXPECT_FALSE(host_->imageFromFile());
}

TEST(HostConstruction, DamagedBuiltInImageIsRefused) {
  const std::string text = "@01200" + std::string(64, 'A');
  const BuiltInImage good{
      "Du70 9.99",       3, ErasedVectors(), text.c_str(), static_cast<std::uint32_t>(text.size()),
      ImageTextSum(text)};
  EXPECT_EQ(ZuroBSLHost(nullptr, good).imageStatus(), 0);
  BuiltInImage badSum = good;
  badSum.textSum += 1; // one flipped character
  EXPECT_EQ(ZuroBSLHost(nullptr, badSum).imageStatus(), kErrDamagedImage);
  BuiltInImage badLength = good;
  badLength.textLength -= 1; // a cut text
  EXPECT_EQ(ZuroBSLHost(nullptr, badLength).imageStatus(), kErrDamagedImage);
}

TEST_F(HostImage, LoadsAFileAndNamesTheImageAfterIt) {
  const fs::path path =
      File("Du70 2.31.txt", "@1200\nB2 40 80 5A\n" + std::string(kVectorSection) + "q\n");
  ASSERT_EQ(host_->BSLLoadTIFile(path), 1);
  EXPECT_EQ(host_->imageText(), "@0120040B25A80");
  EXPECT_EQ(host_->imageTextLength(), 14u);
  EXPECT_EQ(host_->vectors()[0], 0x1400);
  EXPECT_EQ(host_->vectors()[15], 0x1200);
  EXPECT_TRUE(host_->imageFromFile());
  EXPECT_EQ(host_->imageName(), "Du70 2.31");
  EXPECT_EQ(host_->imageKind(), 3);
  EXPECT_EQ(host_->imageVersion(), 231);
  EXPECT_NE(Log().find("ZuroBSL: BSLLoadTIFile loaded file " + path.string() + " ("),
            std::string::npos);
}

// Every bad file is refused with its code, and the image and vectors in force
// before stay exactly as they were.
TEST_F(HostImage, BadFilesLeaveTheImageInForce) {
  const std::string v = kVectorSection;
  std::string longLine = "@1200\n" + std::string(10 * 1024 * 1024, '7');
  const struct {
    const char* name;
    std::string text;
  } files[] = {
      {"empty", ""},
      {"only-q", "q\n"},
      {"no-at", "1200\n01 02\n" + v + "q\n"},
      {"no-line-end", "@1200"},
      {"no-line-end-before-q", "@1200 01 02 q\n"},
      {"odd-vectors", "@1200\n01 02\n@FFE0\n00 12 0\nq\n"},
      {"nine-digit-address", "@123456789\n01 02\n" + v + "q\n"},
      {"ten-mb-one-line", longLine},
      {"ten-mb-one-line-beyond-memory", longLine + "\n" + v + "q\n"},
      {"nul-bytes", std::string("@1200\n01 \0\0 02\n", 15) + v + "q\n"},
      {"cr-only", "@1200\r01 02\r@FFE0\r00 12\rq\r"},
      {"no-vectors", "@1200\n01 02\nq\n"},
  };
  // Start from a loaded file so both the text and the vectors differ from
  // the built-in image and from every bad file.
  ASSERT_EQ(host_->BSLLoadTIFile(File("Du70 2.31.txt", "@2000\n11 22\n@FFFE\n34 12\nq\n")), 1);
  const std::string text = host_->imageText();
  const VectorTable vectors = host_->vectors();
  for (const auto& f : files) {
    EXPECT_EQ(host_->BSLLoadTIFile(File(std::string(f.name) + ".txt", f.text)), kErrNotTiTxt)
        << f.name;
    EXPECT_EQ(host_->imageText(), text) << f.name;
    EXPECT_EQ(host_->vectors(), vectors) << f.name;
    EXPECT_EQ(host_->imageName(), "Du70 2.31") << f.name;
  }
  EXPECT_NE(Log().find("ZuroBSL: BSLLoadTIFile: file " + (dir_ / "cr-only.txt").string() +
                       " is not a valid TI-Text file ("),
            std::string::npos);
}

TEST_F(HostImage, LowerCaseHexIsTakenAndWrittenUpperCase) {
  ASSERT_EQ(host_->BSLLoadTIFile(File("fw.txt", "@1a00\nb2 40 80 5a\n@ffe0\nff ff\nq\n")), 1);
  EXPECT_EQ(host_->imageText(), "@01A0040B25A80");
  EXPECT_EQ(host_->imageKind(), 0);
}

TEST_F(HostImage, UnreadableFilesGiveTheNegatedErrorNumber) {
  const std::string text = host_->imageText();
  EXPECT_EQ(host_->BSLLoadTIFile((dir_ / "missing.txt").string()), -ENOENT);
  EXPECT_EQ(host_->BSLLoadTIFile(dir_.string()), -EISDIR);
  const fs::path notFolder = File("plain.txt", "x");
  EXPECT_EQ(host_->BSLLoadTIFile((notFolder / "fw.txt").string()), -ENOTDIR);
  EXPECT_EQ(host_->imageText(), text);
  EXPECT_FALSE(host_->imageFromFile());
  EXPECT_NE(Log().find("ZuroBSL: BSLLoadTIFile got error 2 trying to open datafile "),
            std::string::npos);
}

TEST(ImageFileName, NameKindAndVersionFromThePath) {
  const struct {
    const char* path;
    const char* name;
    int kind;
    int version;
  } cases[] = {
      {"Du70 2.31.txt", "Du70 2.31", 3, 231},
      {"Du70-2-31.txt", "Du70-2.31", 3, 231},
      {"du70_231.txt", "du70_231", 3, 0},
      {"Firmware.txt", "Firmware", 0, 0},
      {"C:\\firmware\\LQ7B 1.05.txt", "LQ7B 1.05", 2, 105},
      {"/home/maker/fw/du70 2.30.TXT", "du70 2.30.TXT", 3, 230},
      {"Du70 123456789012.txt", "Du70 123456789012", 3, 0}, // 11 digits do not fit
      {"Du70 2.31.txt.bak", "Du70 2.31", 3, 231},
  };
  for (const auto& c : cases) {
    const ImageFileName got = ParseImageFileName(c.path);
    EXPECT_EQ(got.name, c.name) << c.path;
    EXPECT_EQ(got.kind, c.kind) << c.path;
    EXPECT_EQ(got.version, c.version) << c.path;
  }
  EXPECT_EQ(ParseImageFileName(std::string(100, 'x')).name.size(), 64u);
}

TEST_F(HostImage, BuiltInImageDumpLayout) {
  const fs::path path = dir_ / "dump.txt";
  ASSERT_EQ(host_->BSLWriteTIFile(path.string()), 1);
  std::istringstream dump(ReadText(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(dump, line);) {
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 1u + 3552 + 1 + 2 + 1 + 1 + 2);
  EXPECT_EQ(lines[0], "@01200");
  for (std::size_t i = 1; i <= 3552; ++i) {
    ASSERT_EQ(lines[i].size(), 32u) << i;
  }
  EXPECT_EQ(lines[3553].size(), 24u + 6);
  EXPECT_EQ(lines[3553].substr(24), "@0FFC0");
  EXPECT_EQ(lines[3554], std::string(32, 'F'));
  EXPECT_EQ(lines[3555], std::string(32, 'F'));
  EXPECT_EQ(lines[3556], "");
  EXPECT_EQ(lines[3557], "@FFE0");
  EXPECT_EQ(lines[3558], "FFFF174C14E01582177414E014E014E0");
  EXPECT_EQ(lines[3559], "14E014E614E014E014E0123214E01200");
  EXPECT_FALSE(fs::exists(path.string() + ".partial"));
  EXPECT_NE(Log().find("ZuroBSL: BSLWriteTIFile wrote file " + path.string()), std::string::npos);
}

TEST_F(HostImage, DumpToAMissingFolderLeavesNoFile) {
  const fs::path path = dir_ / "no-such-folder" / "dump.txt";
  EXPECT_EQ(host_->BSLWriteTIFile(path.string()), -ENOENT);
  EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));
  // A dump over a folder of that name fails at the rename: nothing is left.
  fs::create_directories(dir_ / "taken.txt" / "inside");
  EXPECT_LT(host_->BSLWriteTIFile((dir_ / "taken.txt").string()), 0);
  EXPECT_FALSE(fs::exists(dir_ / "taken.txt.partial"));
  EXPECT_NE(
      Log().find("ZuroBSL: BSLWriteTIFile got error 2 trying to open datafile " + path.string()),
      std::string::npos);
}

} // namespace
} // namespace zuro
