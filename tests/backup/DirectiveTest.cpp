// The directive and batch file texts, and the names an archive may take.
#include <gtest/gtest.h>

#include "backup/ArchiveDirective.h"

namespace {

TEST(ArchiveDirective, BatchFileQuotesBothPaths) {
  EXPECT_EQ(backup::kvtBatText("C:\\Program Files\\Brakvel 9x"),
            "@Echo Off\r\n\"C:\\Program Files\\Brakvel 9x\\util\\Makecab.exe\" /f "
            "\"C:\\Program Files\\Brakvel 9x\\util\\kvt.ddf\"\r\n");
  EXPECT_EQ(backup::kvtBatText("C:\\KVT"), "@Echo Off\r\n\"C:\\KVT\\util\\Makecab.exe\" /f \"C:\\KVT\\util\\kvt.ddf\"\r\n");
}

TEST(ArchiveDirective, DirectiveLineForLine) {
  const std::string head =
      ".OPTION EXPLICIT\r\n.Set Cabinet=on\r\n.set Compress=on\r\n.Set MaxDiskSize=CDROM\r\n"
      ".set ReservePerCabinetSize=6144\r\n";
  const std::string codec = ".Set CompressionType=MSZip\r\n.Set CompressionLevel=7\r\n.Set CompressionMemory=21\r\n";
  struct Case {
    const char* folder;
    const char* name;
    bool classes;
    std::string expected;
  } cases[] = {
      {"C:\\Program Files\\Brakvel 9x", "Before update", false,
       head + ".Set DiskDirectoryTemplate=C:\\Program Files\\Brakvel 9x\\archive\r\n" + codec +
           ".Set CabinetNameTemplate=Before update.kvt\r\n"
           "\"C:\\Program Files\\Brakvel 9x\\Exchange\\System.dat\"\r\n"
           "\"C:\\Program Files\\Brakvel 9x\\Exchange\\User.dat\"\r\n"
           "\"C:\\Program Files\\Brakvel 9x\\Exchange\\System.ini\"\r\n"
           "\"C:\\Program Files\\Brakvel 9x\\Exchange\\Win.ini\"\r\n"
           "\"C:\\Program Files\\Brakvel 9x\\Exchange\\info.txt\"\r\n"},
      {"C:\\KVT", "first", true,
       head + ".Set DiskDirectoryTemplate=C:\\KVT\\archive\r\n" + codec +
           ".Set CabinetNameTemplate=first.kvt\r\n"
           "\"C:\\KVT\\Exchange\\Classes.dat\"\r\n\"C:\\KVT\\Exchange\\System.dat\"\r\n"
           "\"C:\\KVT\\Exchange\\User.dat\"\r\n\"C:\\KVT\\Exchange\\System.ini\"\r\n"
           "\"C:\\KVT\\Exchange\\Win.ini\"\r\n\"C:\\KVT\\Exchange\\info.txt\"\r\n"},
      // An empty name is refused before the directive is written; the text
      // itself follows the rule all the same.
      {"C:\\KVT", "", false,
       head + ".Set DiskDirectoryTemplate=C:\\KVT\\archive\r\n" + codec +
           ".Set CabinetNameTemplate=.kvt\r\n"
           "\"C:\\KVT\\Exchange\\System.dat\"\r\n\"C:\\KVT\\Exchange\\User.dat\"\r\n"
           "\"C:\\KVT\\Exchange\\System.ini\"\r\n\"C:\\KVT\\Exchange\\Win.ini\"\r\n"
           "\"C:\\KVT\\Exchange\\info.txt\"\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(backup::kvtDdfText(c.folder, c.name, c.classes), c.expected);
  }
}

TEST(ArchiveDirective, SystemFileSetOrder) {
  EXPECT_EQ(backup::systemFileSet(true),
            (std::vector<std::string>{"Classes.dat", "System.dat", "User.dat", "System.ini", "Win.ini"}));
  EXPECT_EQ(backup::systemFileSet(false),
            (std::vector<std::string>{"System.dat", "User.dat", "System.ini", "Win.ini"}));
}

TEST(ArchiveDirective, NamesThatCannotBeArchives) {
  struct Case {
    std::string name;
    const char* says;  // a word the message must hold; null when the name is fine
  } cases[] = {
      {"", "enter a name"},
      {"..\\..\\WINDOWS\\x", "character \\"},
      {"a:b", "character :"},
      {"a/b", "character /"},
      {"a*b", "character *"},
      {"a?b", "character ?"},
      {"a\"b", "character \""},
      {"a<b", "character <"},
      {"a>b", "character >"},
      {"a|b", "character |"},
      {std::string("a\tb"), "control character"},
      {" lead", "blank"},
      {"trail ", "blank"},
      {"Before update", nullptr},
      {"x.old", nullptr},
      {"\xC8" "as", nullptr},  // Windows-1252 letters are fine
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string problem = backup::backupNameProblem(c.name);
    if (c.says) {
      EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
    } else {
      EXPECT_EQ(problem, "");
    }
  }
}

}  // namespace
