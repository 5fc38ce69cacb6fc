// The machine's help viewer and START.EXE, run as the programs they are.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files.h"
#include "tests/support/host_files.h"
#include "tests/support/process.h"
#include "tests/support/test_machine.h"
#include "tests/support/wait.h"

namespace fs = std::filesystem;
using TempMachine = testsupport::TestMachine;

namespace {

using ToolRun = testsupport::Ran;
using testsupport::slurp;

// A command line for the shell, its standard error within the output.
ToolRun run(const std::string& command) {
  return testsupport::runShell(command, std::chrono::seconds(60), {.mergeOutput = true});
}

// A machine with the built help file in the program folder.
class HelpViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto m = tm_.open();
    platform::makeFolder(m, "C:\\Program Files\\Brakvel 9x");
    fs::copy_file(BRAKVEL9X_HELP_FILE, m.toHost("C:\\Program Files\\Brakvel 9x\\BRAKVEL 9X.hlp"));
  }
  ToolRun winhelp(const std::string& args) {
    return run("BRAKVEL9X_MACHINE=" + testsupport::quote(tm_.dir().string()) + " " + BRAKVEL9X_WINHELP + " " + args);
  }
  TempMachine tm_;
};

}  // namespace

TEST_F(HelpViewerTest, OpensEveryTopicByContextNumberAndTheContents) {
  const char* first[] = {"Making a new backup", "Importing a Windows backup", "Restoring the system",
                         "Making the automated rescue disk", "Undoing the program's last change",
                         "Making the clean reinstall disk", "Spyware blocking"};
  for (int n = 1; n <= 7; ++n) {
    // The short form of the path, as the program hands it over.
    const ToolRun r = winhelp("--print -n " + std::to_string(n) + " 'C:\\PROGRA~1\\BRAKVE~1\\BRAKVE~1.HLP'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind(std::string(first[n - 1]) + "\n\n", 0), 0u) << r.out;
  }
  const ToolRun contents = winhelp("--print 'C:\\Program Files\\Brakvel 9x\\BRAKVEL 9X.hlp'");
  EXPECT_EQ(contents.status, 0);
  EXPECT_EQ(contents.out.rfind("Contents\n\n", 0), 0u) << contents.out;
  EXPECT_NE(contents.out.find("  6  Making the clean reinstall disk\n"), std::string::npos);
}

TEST_F(HelpViewerTest, ShippedFileHasCrLfLineEnds) {
  const std::string text = slurp(BRAKVEL9X_HELP_FILE);
  ASSERT_FALSE(text.empty());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at byte " << i;
    }
  }
}

TEST_F(HelpViewerTest, ClearMessages) {
  ToolRun r = winhelp("--print -n 99 'C:\\Program Files\\Brakvel 9x\\BRAKVEL 9X.hlp'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "winhelp: C:\\Program Files\\Brakvel 9x\\BRAKVEL 9X.hlp has no topic 99\n");
  r = winhelp("--print 'C:\\Program Files\\Brakvel 9x\\NONE.HLP'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "winhelp: cannot open the help file C:\\Program Files\\Brakvel 9x\\NONE.HLP\n");
  const auto bad = tm_.dir() / "bad.hlp";
  std::ofstream(bad) << "#HELP x\n#CONTENTS\nsee {4|four}\n";
  r = winhelp("--check " + testsupport::quote(bad.string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "winhelp: " + bad.string() + ":3: jump to topic 4, which does not exist\n");
}

// START.EXE hands the address to the host's opener; tests put a recording
// stand-in on PATH, so nothing is ever contacted.
TEST(StartToolTest, HandsTheAddressToTheHostsOpener) {
  TempMachine tm;
  const fs::path bin = tm.dir() / "bin";
  fs::create_directories(bin);
  const fs::path log = tm.dir() / "opened";
  {
    std::ofstream script(bin / "xdg-open");
    script << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << testsupport::quote(log.string()) << "\n";
  }
  fs::permissions(bin / "xdg-open", fs::perms::owner_all);
  const std::string env = "BRAKVEL9X_MACHINE=" + testsupport::quote(tm.dir().string()) + " PATH=" + testsupport::quote(bin.string());

  ToolRun r = run(env + " " + BRAKVEL9X_START + " http://www.vantrel.example/support/index.htm");
  EXPECT_EQ(r.status, 0) << r.out;
  r = run(env + " BRAKVEL9X_CMDLINE='\"C:\\WINDOWS\"' " + BRAKVEL9X_START);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(slurp(log), "http://www.vantrel.example/support/index.htm\n" +
                            (tm.dir() / "drive_c" / "WINDOWS").string() + "\n");
}

// A file on a drive that is a disk image has no host file: the opener gets
// a copy under the file's long name, so it picks the program by extension.
TEST(StartToolTest, OpensACopyOfAFileOnADiskImage) {
  TempMachine tm({.c = testsupport::DriveForm::Image});
  const fs::path bin = tm.dir() / "bin", tmp = tm.dir() / "tmp";
  fs::create_directories(bin);
  fs::create_directories(tmp);
  const fs::path log = tm.dir() / "opened";
  {
    std::ofstream script(bin / "xdg-open");
    script << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> " << testsupport::quote(log.string()) << "\n";
  }
  fs::permissions(bin / "xdg-open", fs::perms::owner_all);
  const std::string bytes = "notes\r\nline two\r\n";
  platform::writeFile(tm.machine(), "C:\\WINDOWS\\Notes for you.txt", bytes);
  const std::string env = "BRAKVEL9X_MACHINE=" + testsupport::quote(tm.dir().string()) +
                          " PATH=" + testsupport::quote(bin.string()) + " TMPDIR=" + testsupport::quote(tmp.string());

  ToolRun r = run(env + " BRAKVEL9X_CMDLINE='\"C:\\WINDOWS\\NOTESF~1.TXT\"' " + BRAKVEL9X_START);
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(testsupport::waitUntil([&] { return !slurp(log).empty(); }, std::chrono::seconds(10),
                                     "the opener to be handed the copy"));
  const std::string opened = slurp(log);
  ASSERT_EQ(opened.find('\n'), opened.size() - 1) << opened;
  const fs::path copy = opened.substr(0, opened.size() - 1);
  EXPECT_EQ(copy.filename(), "Notes for you.txt");
  EXPECT_EQ(copy.parent_path().parent_path(), tmp);
  EXPECT_EQ(slurp(copy), bytes);  // it stays: the opener outlives START

  // A folder of the image has no host folder to hand over: said, nothing opened.
  r = run(env + " BRAKVEL9X_CMDLINE='\"C:\\WINDOWS\"' " + BRAKVEL9X_START);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("start: cannot open C:\\WINDOWS: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("disk image"), std::string::npos) << r.out;
  r = run(env + " BRAKVEL9X_CMDLINE='\"C:\\WINDOWS\\none.txt\"' " + BRAKVEL9X_START);
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "start: cannot open C:\\WINDOWS\\none.txt: File not found: C:\\WINDOWS\\none.txt\n");
  EXPECT_EQ(slurp(log), opened);
}

TEST(StartToolTest, SaysSoWhenTheHostCannotOpenIt) {
  TempMachine tm;
  const fs::path empty = tm.dir() / "empty";
  fs::create_directories(empty);
  ToolRun r = run("PATH=" + testsupport::quote(empty.string()) + " " + BRAKVEL9X_START + " http://www.vantrel.example");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out,
            "start: cannot open http://www.vantrel.example: this host has no program to open it with "
            "(xdg-open not found)\n");

  const fs::path failing = tm.dir() / "failing";
  fs::create_directories(failing);
  std::ofstream(failing / "xdg-open") << "#!/bin/sh\nexit 4\n";
  fs::permissions(failing / "xdg-open", fs::perms::owner_all);
  r = run("PATH=" + testsupport::quote(failing.string()) + " " + BRAKVEL9X_START + " http://www.vantrel.example");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "start: cannot open http://www.vantrel.example: xdg-open failed (exit status 4)\n");
}
