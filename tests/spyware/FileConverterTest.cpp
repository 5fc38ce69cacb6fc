#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "spyware/FileConverter.h"

namespace fs = std::filesystem;
using spyware::ConvertString;
using spyware::convertHostFile;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string allBytes(size_t length) {
  std::string s(length, '\0');
  for (size_t i = 0; i < length; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return s;
}

class FileConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("spyconv-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

}  // namespace

TEST(ConvertStringTest, KnownBytes) {
  EXPECT_EQ(ConvertString("abc"), "\x9E\x9D\x9C");
  EXPECT_EQ(ConvertString("\r\n"), "\xF2\xF5");
  EXPECT_EQ(ConvertString(std::string(1, '\0')), "\xFF");
  EXPECT_EQ(ConvertString("\xFF"), std::string(1, '\0'));
  EXPECT_EQ(ConvertString(""), "");
}

TEST(ConvertStringTest, EveryByteComesBackAfterTwoConversions) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string once = ConvertString(all);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(static_cast<unsigned char>(once[b]), 255 - b);
  }
  EXPECT_EQ(ConvertString(once), all);
}

// Yields happen once before each full chunk, and only for files longer than
// one chunk; the destination always has the source's length.
TEST_F(FileConverterTest, ChunkingAndYields) {
  struct Case {
    size_t length;
    int yields;
  };
  for (const Case c : {Case{1, 0}, Case{10239, 0}, Case{10240, 0}, Case{10241, 1},
                       Case{20480, 2}, Case{20481, 2}, Case{123457, 12}}) {
    SCOPED_TRACE(c.length);
    const std::string plain = allBytes(c.length);
    spit(dir_ / "src", plain);
    int yields = 0;
    convertHostFile(dir_ / "src", dir_ / "dst", [&] { ++yields; });
    EXPECT_EQ(yields, c.yields);
    const std::string encoded = slurp(dir_ / "dst");
    ASSERT_EQ(encoded.size(), c.length);
    EXPECT_EQ(encoded, ConvertString(plain));
    convertHostFile(dir_ / "dst", dir_ / "back");
    EXPECT_EQ(slurp(dir_ / "back"), plain);
  }
}

// The yield sees the destination still holding the old content: the new one
// is renamed into place only when complete.
TEST_F(FileConverterTest, DestinationReplacedOnlyWhenComplete) {
  spit(dir_ / "src", allBytes(30000));
  spit(dir_ / "dst", "old");
  convertHostFile(dir_ / "src", dir_ / "dst",
                  [&] { EXPECT_EQ(slurp(dir_ / "dst"), "old"); });
  EXPECT_EQ(slurp(dir_ / "dst").size(), 30000u);
}

TEST_F(FileConverterTest, LongerDestinationIsReplacedNotOverwritten) {
  spit(dir_ / "dst", std::string(50000, 'x'));
  spit(dir_ / "src", "abc");
  convertHostFile(dir_ / "src", dir_ / "dst");
  EXPECT_EQ(slurp(dir_ / "dst"), "\x9E\x9D\x9C");
}

TEST_F(FileConverterTest, EmptyOrMissingSourceLeavesDestinationAlone) {
  spit(dir_ / "empty", "");
  convertHostFile(dir_ / "empty", dir_ / "new");
  EXPECT_FALSE(fs::exists(dir_ / "new"));

  spit(dir_ / "dst", "keep me");
  convertHostFile(dir_ / "empty", dir_ / "dst");
  EXPECT_EQ(slurp(dir_ / "dst"), "keep me");

  EXPECT_NO_THROW(convertHostFile(dir_ / "missing", dir_ / "dst"));
  EXPECT_EQ(slurp(dir_ / "dst"), "keep me");
  EXPECT_NO_THROW(convertHostFile(dir_ / "missing", dir_ / "new"));
  EXPECT_FALSE(fs::exists(dir_ / "new"));
  // No temporary file is left behind either.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(FileConverterTest, ReadOnlyDestinationFailsAndStaysIntact) {
  spit(dir_ / "src", "abc");
  spit(dir_ / "dst", "locked");
  fs::permissions(dir_ / "dst", fs::perms::owner_read);
  try {
    convertHostFile(dir_ / "src", dir_ / "dst");
    ADD_FAILURE() << "a read-only destination must not be replaced";
  } catch (const spyware::ConvertError& e) {
    EXPECT_EQ(e.file(), dir_ / "dst");
    EXPECT_NE(std::string(e.what()).find("dst"), std::string::npos);
  }
  fs::permissions(dir_ / "dst", fs::perms::owner_all);
  EXPECT_EQ(slurp(dir_ / "dst"), "locked");
}

TEST_F(FileConverterTest, MissingDestinationFolderNamesTheFile) {
  spit(dir_ / "src", "abc");
  EXPECT_THROW(convertHostFile(dir_ / "src", dir_ / "nowhere" / "dst"), spyware::ConvertError);
}
