// Booting the machine from its rescue and reinstall floppies: the batch
// files the program's own generator writes, run by DOS seeing 8.3 names.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/files.h"
#include "tools/command/floppy_boot.h"
#include "disks/autoexec.h"
#include "test_machine.h"
#include "tests/support/host_files.h"
#include "tests/support/process.h"

using command::Stop;
using dostest::TestMachine;
namespace fs = std::filesystem;

namespace {

const std::string kProgram = "C:\\Program Files\\Brakvel 9x";
constexpr uint8_t kRahs =
    platform::kReadOnly | platform::kArchive | platform::kHidden | platform::kSystem;

size_t lineCount(const std::string& text) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++n;
  return n;
}

using testsupport::slurp;

struct Boot {
  command::BootResult result;
  std::string screen;
  std::string errors;
};

// The program's disk extraction: pux puts every member of a floppy archive
// into the root of drive A:.
void extractDiskArchive(const TestMachine& t, const std::string& hostKvt, const std::string& name) {
  std::string kvt = kProgram + "\\util\\" + name;
  t.write(kvt, testsupport::slurp(hostKvt));
  testsupport::Ran r = testsupport::run({PUX_EXE, t.m().shortPath(kvt), "/Y", "/E", "/L", "A:\\"},
                                        std::chrono::seconds(120), {.machine = t.root()});
  ASSERT_EQ(r.status, 0) << r.output();
}

Boot boot(const TestMachine& t) {
  std::ostringstream out, err;
  Boot b;
  b.result = command::bootFloppy(t.m(), out, err);
  b.screen = out.str();
  b.errors = err.str();
  return b;
}

// A rescue floppy as the program leaves it: Autoexec.bat and the members of
// util\ad.kvt; the prepared backup in Rescue; the live files damaged and
// protected as Windows keeps its registry.
void makeRescueDisk(const TestMachine& t, bool me) {
  for (auto& name : TestMachine::systemFiles(me)) {
    t.write(kProgram + "\\Rescue\\" + name, "backup of " + name + std::string("\0\x01\xff", 3));
    t.write("C:\\WINDOWS\\" + name, "damaged " + name);
    if (name.find(".dat") != std::string::npos)
      platform::setAttributes(t.m(), "C:\\WINDOWS\\" + name,
                              platform::kReadOnly | platform::kHidden | platform::kSystem);
  }
  std::string P = t.m().shortPath(kProgram);
  std::string W = t.m().shortPath("C:\\WINDOWS");
  ASSERT_EQ(P, "C:\\PROGRA~1\\BRAKVE~1");
  // The batch file as the program writes it.
  std::string batch = app::rescueAutoexec(P, W, me);
  ASSERT_EQ(lineCount(batch), me ? 72u : 67u);
  t.write("A:\\Autoexec.bat", batch);
  extractDiskArchive(t, AD_KVT, "ad.kvt");
}

}  // namespace

TEST(RescueFloppy, RestoresTheBackupByteIdenticalAndProtected) {
  for (bool me : {false, true}) {
    SCOPED_TRACE(me ? "Windows ME" : "Windows 98");
    // On images, where hidden and system are the file system's own.
    TestMachine t(me, testsupport::DriveForm::Image);
    makeRescueDisk(t, me);
    Boot b = boot(t);
    ASSERT_TRUE(b.result.booted) << b.errors;
    EXPECT_EQ(b.result.outcome.stop, Stop::Restart);
    std::string copies;
    for (size_t i = 0; i < TestMachine::systemFiles(me).size(); ++i)
      copies += "        1 file(s) copied\n";
    EXPECT_EQ(b.screen, std::string(me ? "ACCESSING BACKUP FILE CLASSES.DAT .....\n" : "") +
                            "ACCESSING BACKUP FILE SYSTEM.DAT .....\n"
                            "ACCESSING BACKUP FILE USER.DAT .....\n" +
                            copies +
                            "*\n"
                            "SYSTEM FILES RESTORATION WAS SUCCESSFULL.\n"
                            "IN CASE OF 'FILE NOT FOUND' MESSAGE\n"
                            "PLEASE,CONSULT QUALIFIED TECHNICAL SUPPORT.\n"
                            "*\n"
                            "PLEASE ,REMOVE DISK AFTER SYSTEM REBOOT...\n"
                            "Press any key to continue . . .\n"
                            "DOSRESET.COM: the computer restarts.\n");
    for (auto& name : TestMachine::systemFiles(me)) {
      EXPECT_EQ(t.read("C:\\WINDOWS\\" + name), t.read(kProgram + "\\Rescue\\" + name)) << name;
      // the live file keeps its long name
      EXPECT_EQ(platform::DirEnum().first(t.m(), "C:\\WINDOWS\\" + name, kRahs), name);
      bool registry = name.find(".dat") != std::string::npos;
      EXPECT_EQ(t.attrs("C:\\WINDOWS\\" + name), registry ? kRahs : uint8_t{platform::kArchive})
          << name;
      if (registry) {
        EXPECT_EQ(t.attrs(kProgram + "\\Rescue\\" + name), kRahs) << name;
      }
    }
  }
}

TEST(RescueFloppy, WithoutWinIniSaysFileNotFound) {
  TestMachine t;
  makeRescueDisk(t, false);
  platform::deleteFile(t.m(), kProgram + "\\Rescue\\Win.ini");
  Boot b = boot(t);
  EXPECT_EQ(b.screen,
            "ACCESSING BACKUP FILE SYSTEM.DAT .....\n"
            "ACCESSING BACKUP FILE USER.DAT .....\n"
            "        1 file(s) copied\n"
            "        1 file(s) copied\n"
            "        1 file(s) copied\n"
            "*\n"
            "FILE NOT FOUND !\n"
            "*\n"
            "*\n"
            "PLEASE,CONSULT QUALIFIED TECHNICAL SUPPORT...\n"
            "*\n"
            "PLEASE ,REMOVE DISK AFTER SYSTEM REBOOT...\n"
            "Press any key to continue . . .\n"
            "DOSRESET.COM: the computer restarts.\n");
  EXPECT_EQ(t.read("C:\\WINDOWS\\System.dat"), t.read(kProgram + "\\Rescue\\System.dat"));
  EXPECT_EQ(t.read("C:\\WINDOWS\\System.ini"), t.read(kProgram + "\\Rescue\\System.ini"));
  EXPECT_EQ(t.read("C:\\WINDOWS\\Win.ini"), "damaged Win.ini");
}

TEST(RescueFloppy, TheDiskArchiveHoldsARealRestartProgramAndInstructions) {
  TestMachine t;
  extractDiskArchive(t, AD_KVT, "ad.kvt");
  std::string com = t.read("A:\\DOSRESET.COM");
  EXPECT_EQ(com, slurp(DOSRESET_COM));
  // a .COM program small enough for any floppy, ending in JMP FFFF:0000
  ASSERT_GE(com.size(), 11u);
  EXPECT_LT(com.size(), 256u);
  EXPECT_EQ(com.substr(com.size() - 5), std::string("\xEA\x00\x00\xFF\xFF", 5));
  // MOV WORD [0072h],1234h: the BIOS warm-boot flag
  EXPECT_NE(com.find(std::string("\xC7\x06\x72\x00\x34\x12", 6)), std::string::npos);
  std::string readme = t.read("A:\\README.TXT");
  for (const char* needed : {"SYS A:", "IO.SYS", "MSDOS.SYS", "COMMAND.COM", "ATTRIB.EXE", "\r\n"})
    EXPECT_NE(readme.find(needed), std::string::npos) << needed;
}

TEST(ReinstallFloppy, TheDiskArchiveLoadsTheCdDriverAsMscd001) {
  TestMachine t;
  extractDiskArchive(t, ARD_KVT, "ard.kvt");
  EXPECT_NE(t.read("A:\\CONFIG.SYS").find("/D:MSCD001\r\n"), std::string::npos);
  std::string readme = t.read("A:\\README.TXT");
  for (const char* needed : {"SYS A:", "HIMEM.SYS", "MSCDEX.EXE", "DOSKEY.COM", "SMARTDRV.EXE",
                             "DELTREE.EXE", "MSCD001"})
    EXPECT_NE(readme.find(needed), std::string::npos) << needed;
}

TEST(FloppyBoot, NoDiskAndNoAutoexec) {
  TestMachine t;
  Boot b = boot(t);
  EXPECT_FALSE(b.result.booted);
  EXPECT_EQ(b.errors, "No Autoexec.bat on the disk in drive A:\n");
  fs::remove_all(t.root() / "drive_a");
  b = boot(t);
  EXPECT_FALSE(b.result.booted);
  EXPECT_NE(b.errors.find("No disk in drive A:"), std::string::npos) << b.errors;
  EXPECT_EQ(b.screen, "");
}

TEST(FloppyBoot, ABatchThatEndsLeavesDosAtItsPrompt) {
  TestMachine t;
  t.writeBatch("A:\\AUTOEXEC.BAT", {"@ECHO OFF", "ECHO hello"});
  Boot b = boot(t);
  EXPECT_TRUE(b.result.booted);
  EXPECT_EQ(b.result.outcome.stop, Stop::Finished);
  EXPECT_EQ(b.screen, "hello\n\nA:\\>\n");
}

TEST(ReinstallFloppy, DeletesWindowsKeepsTheRestAndStartsSetup) {
  for (bool me : {false, true}) {
    SCOPED_TRACE(me ? "Windows ME" : "Windows 98");
    TestMachine t(me);
    platform::makeFolder(t.m(), "C:\\WINDOWS\\SYSTEM");
    platform::makeFolder(t.m(), kProgram + "\\archive");
    t.write("C:\\WINDOWS\\SYSTEM\\VMM32.VXD", "vxd");
    platform::setAttributes(t.m(), "C:\\WINDOWS\\System.dat",
                            platform::kReadOnly | platform::kHidden | platform::kSystem);
    t.write("C:\\My Documents\\Letter to Bob.doc", "Dear Bob");
    t.write("C:\\AUTOEXEC.BAT", "@ECHO OFF\r\n");
    t.write(kProgram + "\\archive\\Monday.kvt", "MSCF");
    // everything on C: outside the Windows folder and _restore
    std::map<std::string, std::string> before;
    auto snapshot = [&] {
      std::map<std::string, std::string> s;
      fs::path c = t.root() / "drive_c";
      for (auto& e : fs::recursive_directory_iterator(c)) {
        std::string rel = fs::relative(e.path(), c).string();
        if (rel.rfind("WINDOWS", 0) == 0 || rel.rfind("_restore", 0) == 0) continue;
        s[rel] = e.is_regular_file() ? slurp(e.path()) : "<dir>";
      }
      return s;
    };
    extractDiskArchive(t, ARD_KVT, "ard.kvt");
    before = snapshot();

    std::string W = t.m().shortPath("C:\\WINDOWS");
    std::string batch = app::reinstallAutoexec(W, me);
    ASSERT_EQ(lineCount(batch), me ? 26u : 25u);
    t.write("A:\\Autoexec.bat", batch);
    Boot b = boot(t);
    ASSERT_TRUE(b.result.booted) << b.errors;
    EXPECT_EQ(b.result.outcome.stop, Stop::Setup);
    EXPECT_EQ(b.screen,
              "MSCDEX Version 2.25\n"
              "Copyright (C) Microsoft Corp. 1986-1995. All rights reserved.\n"
              "Drive X: = Driver MSCD001 unit 0\n"
              "DOSKey installed.\n"
              "Microsoft SMARTDrive Disk Cache version 5.0 installed (no effect on this machine).\n"
              "  Deleting your test Windows directory\n"
              "  Depending of your system speed and size\n"
              "  of your Windows directory it may take from\n"
              "  few minutes to few hours\n"
              "  Please ,wait...\n"
              "\n"
              "Deleting C:\\WINDOWS...\n" +
                  std::string(me ? "Deleting C:\\_RESTORE...\n" : "") +
                  "  Windows directory successfully deleted .\n"
                  "\n"
                  "  Starting new Windows instalation ,\n"
                  "  please follow onscreen instructions...\n"
                  "\n"
                  "Windows Setup starts now from X:\\SETUP (this machine stops here).\n");
    EXPECT_FALSE(t.exists("C:\\WINDOWS"));
    EXPECT_FALSE(t.exists("C:\\_restore"));
    EXPECT_EQ(snapshot(), before);
  }
}
