// The definition file codec, on bytes and on files of a real temporary
// machine.
#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "spyware/FileConverter.h"
#include "tests/support/test_machine.h"

using spyware::ConvertFile;
using spyware::ConvertString;
using TempMachine = testsupport::TestMachine;

namespace fs = std::filesystem;

namespace {

std::string allBytes(size_t length) {
  std::string s(length, '\0');
  for (size_t i = 0; i < length; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return s;
}

const std::string kUtil = "C:\\Program Files\\Brakvel 9x\\util";

class FileConverterTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::makeFolder(m_, kUtil); }
  std::string at(const std::string& name) const { return kUtil + "\\" + name; }
  void put(const std::string& name, const std::string& bytes) { platform::writeFile(m_, at(name), bytes); }
  std::string get(const std::string& name) { return platform::readFile(m_, at(name)); }
  size_t entries() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(m_.toHost(kUtil))) ++n;
    return n;
  }
  TempMachine tm_;
  platform::Machine m_ = tm_.open();
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
    put("src", plain);
    int yields = 0;
    ConvertFile(m_, at("src"), at("dst"), [&] { ++yields; });
    EXPECT_EQ(yields, c.yields);
    const std::string encoded = get("dst");
    ASSERT_EQ(encoded.size(), c.length);
    EXPECT_EQ(encoded, ConvertString(plain));
    // Short and differently cased forms of the same folder.
    ConvertFile(m_, "c:\\progra~1\\brakve~1\\UTIL\\dst", at("back"));
    EXPECT_EQ(get("back"), plain);
  }
}

// The yield sees the destination still holding the old content: the new one
// is renamed into place only when complete, and nothing else is left.
TEST_F(FileConverterTest, DestinationReplacedOnlyWhenComplete) {
  put("src", allBytes(30000));
  put("dst", "old");
  ConvertFile(m_, at("src"), at("dst"), [&] { EXPECT_EQ(get("dst"), "old"); });
  EXPECT_EQ(get("dst").size(), 30000u);
  EXPECT_EQ(entries(), 2u);
}

TEST_F(FileConverterTest, LongerDestinationIsReplacedNotOverwritten) {
  put("dst", std::string(50000, 'x'));
  put("src", "abc");
  ConvertFile(m_, at("src"), at("dst"));
  EXPECT_EQ(get("dst"), "\x9E\x9D\x9C");
}

TEST_F(FileConverterTest, EmptyOrMissingSourceLeavesDestinationAlone) {
  put("empty", "");
  ConvertFile(m_, at("empty"), at("new"));
  EXPECT_FALSE(platform::fileExists(m_, at("new")));

  put("dst", "keep me");
  ConvertFile(m_, at("empty"), at("dst"));
  EXPECT_EQ(get("dst"), "keep me");

  EXPECT_NO_THROW(ConvertFile(m_, at("missing"), at("dst")));
  EXPECT_EQ(get("dst"), "keep me");
  EXPECT_NO_THROW(ConvertFile(m_, at("missing"), at("new")));
  EXPECT_FALSE(platform::fileExists(m_, at("new")));
  EXPECT_EQ(entries(), 2u) << "no temporary file is left behind";
}

// A failure names the file it concerns; the destination stays intact.
TEST_F(FileConverterTest, FailuresNameTheFile) {
  put("src", "abc");
  put("dst", "locked");
  platform::setAttributes(m_, at("dst"), platform::kReadOnly);
  struct Case {
    std::string destination;
    int number;
  };
  for (const Case& c : {Case{at("dst"), platform::kPathFileAccess},
                        Case{kUtil + "\\nowhere\\dst", platform::kPathNotFound}}) {
    SCOPED_TRACE(c.destination);
    try {
      ConvertFile(m_, at("src"), c.destination);
      ADD_FAILURE() << "no error";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), c.number);
      EXPECT_EQ(e.detail(), c.destination);
    }
  }
  platform::setAttributes(m_, at("dst"), platform::kNormal);
  EXPECT_EQ(get("dst"), "locked");
  EXPECT_EQ(entries(), 2u);
}
