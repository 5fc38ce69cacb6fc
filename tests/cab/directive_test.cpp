// The directive language on its own.
#include <gtest/gtest.h>

#include "tools/makecab/directive.h"

namespace {

using makecab::DirectiveError;
using makecab::parseDirective;

TEST(Directive, ProgramTextGivesTheCabinetItAsksFor) {
  std::string text =
      ".OPTION EXPLICIT\r\n.Set Cabinet=on\r\n.set Compress=on\r\n.Set MaxDiskSize=CDROM\r\n"
      ".set ReservePerCabinetSize=6144\r\n"
      ".Set DiskDirectoryTemplate=C:\\Program Files\\Brakvel 9x\\archive\r\n"
      ".Set CompressionType=MSZip\r\n.Set CompressionLevel=7\r\n.Set CompressionMemory=21\r\n"
      ".Set CabinetNameTemplate=.kvt\r\n"
      "\"C:\\Program Files\\Brakvel 9x\\Exchange\\System.dat\"\r\n"
      "\"C:\\Program Files\\Brakvel 9x\\Exchange\\info.txt\"\r\n";
  makecab::Directive d = parseDirective(text, "kvt.ddf");
  EXPECT_EQ(d.compression, cab::Compression::MSZIP);
  EXPECT_EQ(d.maxDiskSize, 681984000u);
  EXPECT_EQ(d.reserve, 6144u);
  EXPECT_EQ(d.diskDirectory, "C:\\Program Files\\Brakvel 9x\\archive");
  EXPECT_EQ(d.diskDirectoryLine, 6);
  EXPECT_EQ(d.cabinetName, ".kvt");
  ASSERT_EQ(d.files.size(), 2u);
  EXPECT_EQ(d.files[0].source, "C:\\Program Files\\Brakvel 9x\\Exchange\\System.dat");
  EXPECT_EQ(d.files[0].member, "System.dat");
  EXPECT_EQ(d.files[0].line, 11);
  EXPECT_EQ(d.files[1].member, "info.txt");
}

TEST(Directive, FileLinesCommentsAndSettings) {
  std::string text =
      "; a comment\n"
      "   \n"
      ".set compresSIONtype = none\n"
      ".Set CabinetNameTemplate=\"My backup*.kvt\"\n"
      ".Set MaxDiskSize=1457664\n"
      "plain.txt\n"
      "\"with blank.txt\" renamed.txt ; trailing comment\n"
      "C:\\dir\\x.dat \"sub\\y.dat\"\n"
      ".Set UserVariable=anything\n";
  makecab::Directive d = parseDirective(text, "d");
  EXPECT_EQ(d.compression, cab::Compression::Stored);
  EXPECT_EQ(d.cabinetName, "My backup1.kvt");
  EXPECT_EQ(d.maxDiskSize, 1457664u);
  ASSERT_EQ(d.files.size(), 3u);
  EXPECT_EQ(d.files[0].member, "plain.txt");
  EXPECT_EQ(d.files[1].source, "with blank.txt");
  EXPECT_EQ(d.files[1].member, "renamed.txt");
  EXPECT_EQ(d.files[2].source, "C:\\dir\\x.dat");
  EXPECT_EQ(d.files[2].member, "sub\\y.dat");
}

struct Bad {
  const char* text;
  const char* message;  // expected start of what()
};

class DirectiveBad : public testing::TestWithParam<Bad> {};

TEST_P(DirectiveBad, NamesTheLineAndTheFault) {
  try {
    parseDirective(GetParam().text, "kvt.ddf");
    FAIL() << "accepted";
  } catch (const DirectiveError& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, std::string(GetParam().message).size()), GetParam().message)
        << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DirectiveBad,
    testing::Values(
        Bad{".OPTION EXPLICIT\r\n.Set Cabnet=on\r\na.txt\r\n", "kvt.ddf:2: unknown variable \"Cabnet\""},
        Bad{"a.txt\r\n.Set Compress\r\n", "kvt.ddf:2: expected .Set NAME=VALUE"},
        Bad{"a.txt\n.Set =x\n", "kvt.ddf:2: expected .Set NAME=VALUE"},
        Bad{".Sat x=1\na.txt\n", "kvt.ddf:1: unknown command \".Sat\""},
        Bad{".OPTION IMPLICIT\n", "kvt.ddf:1: unknown option"},
        Bad{"\"a.txt\n", "kvt.ddf:1: a double quote is not closed"},
        Bad{"a.txt b.txt c.txt\n", "kvt.ddf:1: unexpected text"},
        Bad{"a.txt /inf=no\n", "kvt.ddf:1: file options"},
        Bad{"a.txt\nb\\A.TXT\n", "kvt.ddf:2: \"A.TXT\" is in the cabinet already (line 1)"},
        Bad{"a.txt ..\\evil.txt\n", "kvt.ddf:1: the name \"..\\evil.txt\" has"},
        Bad{"a.txt C:\\evil.txt\n", "kvt.ddf:1: the name \"C:\\evil.txt\" is not a relative name"},
        Bad{"a.txt \\evil.txt\n", "kvt.ddf:1: the name \"\\evil.txt\" is not a relative name"},
        Bad{"C:\\folder\\\n", "kvt.ddf:1: \"C:\\folder\\\" names a folder"},
        Bad{".Set CompressionType=LZX:21\na\n", "kvt.ddf:1: CompressionType=LZX:21 is not supported"},
        Bad{".Set CompressionType=Quantum\na\n", "kvt.ddf:1: CompressionType=Quantum is not supported"},
        Bad{".Set CompressionType=ZIP\na\n", "kvt.ddf:1: unknown CompressionType"},
        Bad{".Set MaxDiskSize=floppy\na\n", "kvt.ddf:1: MaxDiskSize"},
        Bad{".Set ReservePerCabinetSize=70000\na\n", "kvt.ddf:1: ReservePerCabinetSize"},
        Bad{".Set CompressionLevel=9\na\n", "kvt.ddf:1: CompressionLevel"},
        Bad{".Set CompressionMemory=x\na\n", "kvt.ddf:1: CompressionMemory"},
        Bad{".Set Cabinet=off\na\n", "kvt.ddf:1: Cabinet=off"},
        Bad{".Set CabinetNameTemplate=sub\\x.cab\na\n", "kvt.ddf:1: the cabinet name"},
        Bad{".Set CabinetNameTemplate=\na\n", "kvt.ddf:1: the cabinet name is empty"},
        Bad{"; nothing\r\n", "kvt.ddf: no files"},
        Bad{"", "kvt.ddf: no files"}));

TEST(Directive, NulCharacterIsNamed) {
  EXPECT_THROW(parseDirective(std::string("a.txt\nb\0c\n", 10), "d"), DirectiveError);
}

}  // namespace
