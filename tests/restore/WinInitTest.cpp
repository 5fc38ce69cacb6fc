// The [Rename] lines of WinInit.ini: what staging adds, what a cancel takes
// away, and that other programs' bytes survive both.
#include <gtest/gtest.h>

#include "Station.h"
#include "platform/files.h"
#include "restore/modReplaceFiles.h"

using station::kProgram;
using station::kWin;

namespace {

TEST(RenameText, OurLinesGoIntoTheRenameSectionEveryOtherByteStays) {
  const std::string line = "C:\\WINDOWS\\SYSTEM.DAT=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\SYSTEM.DAT";
  const std::string ours = line + "\r\n";
  struct {
    const char* name;
    std::optional<std::string> before;
    std::string after;
    bool headerOurs;
  } cases[] = {
      {"no file", std::nullopt, "[Rename]\r\n" + ours, true},
      {"an empty file", std::string(), "[Rename]\r\n" + ours, true},
      {"rename last, with CR LF", std::string("[Rename]\r\nNUL=C:\\X.TMP\r\n"),
       "[Rename]\r\nNUL=C:\\X.TMP\r\n" + ours, false},
      {"rename last, without CR LF", std::string("[Rename]\r\nNUL=C:\\X.TMP"),
       "[Rename]\r\nNUL=C:\\X.TMP\r\n" + ours, false},
      {"another section after rename",
       std::string("[Rename]\r\nNUL=C:\\X.TMP\r\n\r\n[CombineVxDs]\r\nC:\\WINDOWS\\SYSTEM\\VMM32.VXD=C:\\A.VXD\r\n"),
       "[Rename]\r\nNUL=C:\\X.TMP\r\n" + ours + "\r\n[CombineVxDs]\r\nC:\\WINDOWS\\SYSTEM\\VMM32.VXD=C:\\A.VXD\r\n",
       false},
      {"an empty rename section", std::string("[rename]\r\n[Other]\r\nk=v\r\n"),
       "[rename]\r\n" + ours + "[Other]\r\nk=v\r\n", false},
      {"no rename section", std::string("[CombineVxDs]\r\nk=v\r\n"), "[CombineVxDs]\r\nk=v\r\n[Rename]\r\n" + ours,
       true},
      {"no rename section, no line end", std::string("[Other]\r\nk=v"), "[Other]\r\nk=v\r\n[Rename]\r\n" + ours, true},
      {"two rename sections: the last", std::string("[Rename]\r\nA=B\r\n[X]\r\n[ Rename ]\r\nC=D\r\n[Y]\r\n"),
       "[Rename]\r\nA=B\r\n[X]\r\n[ Rename ]\r\nC=D\r\n" + ours + "[Y]\r\n", false},
      {"line ends of LF only", std::string("[Rename]\nA=B\n[X]\n"), "[Rename]\nA=B\n" + ours + "[X]\n", false},
      {"already staged", std::string("[Rename]\r\nc:\\windows\\system.dat=c:\\progra~1\\brakve~1\\exchange\\system.dat\r\n"),
       "[Rename]\r\nc:\\windows\\system.dat=c:\\progra~1\\brakve~1\\exchange\\system.dat\r\n", false},
      {"a NUL byte inside", std::string("[Rename]\r\nA=B\0junk\r\n", 20),
       std::string("[Rename]\r\nA=B\0junk\r\n", 20) + ours, false},
  };
  for (auto& c : cases) {
    bool header = !c.headerOurs;
    EXPECT_EQ(app::addRenameLines(c.before ? &*c.before : nullptr, {line}, &header), c.after) << c.name;
    EXPECT_EQ(header, c.headerOurs) << c.name;
  }
}

TEST(RenameText, CancelTakesOnlyOurLines) {
  const std::vector<std::string> ours = {"C:\\WINDOWS\\WIN.INI=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\WIN.INI",
                                         "C:\\WINDOWS\\USER.DAT=C:\\PROGRA~1\\BRAKVE~1\\UNDO\\USER.DAT"};
  struct {
    const char* name;
    std::string text;
    bool ownHeader;
    std::string left;
  } cases[] = {
      {"only ours, our header", "[Rename]\r\n" + ours[0] + "\r\n" + ours[1] + "\r\n", true, ""},
      {"only ours, lower case", "[Rename]\r\nc:\\windows\\win.ini=c:\\progra~1\\brakve~1\\exchange\\win.ini\r\n",
       true, ""},
      {"someone else's line stays", "[Rename]\r\nNUL=C:\\X.TMP\r\n" + ours[0] + "\r\n", false,
       "[Rename]\r\nNUL=C:\\X.TMP\r\n"},
      {"their line after ours keeps our header", "[Rename]\r\n" + ours[0] + "\r\nNUL=C:\\Y.TMP\r\n", true,
       "[Rename]\r\nNUL=C:\\Y.TMP\r\n"},
      {"a header not ours stays", "[Rename]\r\n" + ours[0] + "\r\n", false, "[Rename]\r\n"},
      {"other sections stay", "[Rename]\r\n" + ours[1] + "\r\n[Other]\r\nk=v\r\n", true, "[Other]\r\nk=v\r\n"},
      {"a last line without line end", "[Rename]\r\nNUL=C:\\X.TMP\r\n" + ours[0], true,
       "[Rename]\r\nNUL=C:\\X.TMP\r\n"},
      {"our header after another section", "[CombineVxDs]\r\nk=v\r\n[Rename]\r\n" + ours[0] + "\r\n", true,
       "[CombineVxDs]\r\nk=v\r\n"},
      {"a line like ours outside rename stays", "[Other]\r\n" + ours[0] + "\r\n", true,
       "[Other]\r\n" + ours[0] + "\r\n"},
  };
  for (auto& c : cases) EXPECT_EQ(app::removeRenameLines(c.text, ours, c.ownHeader), c.left) << c.name;
}

class Staging : public testing::Test {
 protected:
  station::Station s;
  std::string wininit() { return s.read(kWin + "\\WinInit.ini"); }
  std::string stagedLines(const std::string& folder) {
    std::string text;
    for (const std::string& n : s.set())
      text += s.shortPath(kWin + "\\" + n) + "=" + s.shortPath(kProgram + "\\" + folder + "\\" + n) + "\r\n";
    return text;
  }
  void fill(const std::string& folder) {
    for (const std::string& n : s.set()) s.write(kProgram + "\\" + folder + "\\" + n, "copy of " + n);
  }
};

TEST_F(Staging, MakeWininitOnANewFileAndAgain) {
  fill("Exchange");
  s.main->MakeWininit();
  const std::string expected =
      "[Rename]\r\n"
      "C:\\WINDOWS\\SYSTEM.DAT=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\SYSTEM.DAT\r\n"
      "C:\\WINDOWS\\USER.DAT=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\USER.DAT\r\n"
      "C:\\WINDOWS\\SYSTEM.INI=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\SYSTEM.INI\r\n"
      "C:\\WINDOWS\\WIN.INI=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\WIN.INI\r\n";
  EXPECT_EQ(wininit(), expected);
  // Staged again, the lines stand once: a second copy would only be a
  // missing source at the restart.
  s.main->MakeWininit();
  EXPECT_EQ(wininit(), expected);
}

TEST_F(Staging, AnExistingLargeFileKeepsEveryByte) {
  std::string theirs = "[Rename]\r\n";
  while (theirs.size() < 40000) theirs += "NUL=C:\\WINDOWS\\TEMP\\OLD" + std::to_string(theirs.size()) + ".TMP\r\n";
  theirs += std::string("A=B\0C", 5);  // no line end, a NUL byte
  s.write(kWin + "\\WinInit.ini", theirs);
  fill("Exchange");
  s.main->MakeWininit();
  EXPECT_EQ(wininit(), theirs + "\r\n" + stagedLines("Exchange"));
}

TEST_F(Staging, AMissingFileStagesNothing) {
  fill("Exchange");
  s.remove(kProgram + "\\Exchange\\System.ini");
  s.write(kWin + "\\WinInit.ini", "[Rename]\r\nNUL=C:\\X.TMP\r\n");
  try {
    s.main->MakeWininit();
    FAIL() << "staged with a missing file";
  } catch (const app::MissingFileError& e) {
    EXPECT_EQ(e.path(), kProgram + "\\Exchange\\System.ini");
  }
  EXPECT_EQ(wininit(), "[Rename]\r\nNUL=C:\\X.TMP\r\n");
}

TEST(StagingMe, ClassesDatFirst) {
  station::Station s(true);
  for (const std::string& n : s.set()) s.write(kProgram + "\\Exchange\\" + n, "x");
  s.main->MakeWininit();
  auto lines = platform::readLines(*s.machine, kWin + "\\WinInit.ini");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "[Rename]");
  EXPECT_EQ(lines[1], "C:\\WINDOWS\\CLASSES.DAT=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\CLASSES.DAT");
  EXPECT_EQ(lines[5], "C:\\WINDOWS\\WIN.INI=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\WIN.INI");
}

}  // namespace
