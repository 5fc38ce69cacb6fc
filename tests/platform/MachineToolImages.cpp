// Machines whose drives are FAT disk images: the floppy image init makes,
// taking it out and putting it back, and a machine made on a disk that holds
// Windows already, checked with mtools and fsck.fat.
#include <gtest/gtest.h>

#include "MachineToolSupport.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/stand_in.h"
#include "tests/fat/support.h"

using namespace platform;
using namespace machine_tool_test;
namespace tf = testing_fat;

namespace {

const std::string kProgram = "C:\\Program Files\\Brakvel 9x";

}  // namespace

TEST_F(MachineTool, TheFloppyIsAnImageOrAFolder) {
  struct {
    const char* name;
    const char* option;
    bool image;
  } cases[] = {{"image", "", true}, {"folder", " --floppy-folder", false}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path d = base / c.name;
    Result r = run("init " + quote(d.string()) + c.option);
    ASSERT_EQ(r.status, 0) << r.output;
    Machine m = Machine::open(d);
    EXPECT_EQ(m.driveImage('A').has_value(), c.image);
    EXPECT_EQ(fs::exists(d / "floppy.img"), c.image);
    EXPECT_EQ(fs::is_directory(d / "drive_a"), !c.image);
    // An image's capacity is its file system's; only a folder has a setting.
    EXPECT_EQ(m.ini("Floppy", "Capacity").has_value(), !c.image);
    EXPECT_EQ(freeSpace(m, 'A'), 1457664u);
    writeFile(m, "A:\\Rescue notes.txt", "on the disk\r\n");
    EXPECT_EQ(m.shortPath("A:\\Rescue notes.txt"), "A:\\RESCUE~1.TXT");
    EXPECT_EQ(readFile(m, "A:\\RESCUE~1.TXT"), "on the disk\r\n");
    if (c.image) {
      tf::Image img{d / "floppy.img", 0, 1474560};
      std::string report;
      EXPECT_TRUE(tf::fsckClean(img, &report)) << report;
      EXPECT_EQ(tf::mtools("mtype", img, {"::/RESCUE~1.TXT"}).out, "on the disk\r\n");
      EXPECT_NE(tf::mtools("mdir", img, {"::/"}).out.find("has no label"), std::string::npos);
    }
    Result info = run("info " + quote(d.string()));
    EXPECT_NE(info.output.find(c.image ? "(floppy image, " : "(floppy, "), std::string::npos) << info.output;
  }
}

// Removing the floppy is moving the disk aside; meanwhile the machine,
// also a process that opened it before, finds no disk in A:.
TEST_F(MachineTool, EjectAndInsertMoveTheDiskAsideAndBack) {
  struct {
    const char* name;
    const char* option;
    const char* disk;
  } cases[] = {{"image", "", "floppy.img"}, {"folder", " --floppy-folder", "drive_a"}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path d = base / c.name;
    ASSERT_EQ(run("init " + quote(d.string()) + c.option).status, 0);
    Machine before = Machine::open(d);
    writeFile(before, "A:\\KEEP.TXT", "kept");
    const std::string machine = quote(d.string());

    Result out = run("eject " + machine);
    ASSERT_EQ(out.status, 0) << out.output;
    EXPECT_FALSE(fs::exists(d / c.disk));
    EXPECT_TRUE(fs::exists(d / (std::string(c.disk) + ".out")));
    for (const Machine& m : {before, Machine::open(d)}) {
      EXPECT_EQ(testsupport::errorOf([&] { writeFile(m, "A:\\NEW.TXT", "x"); }), kDiskNotReady);
      EXPECT_EQ(testsupport::errorOf([&] { readFile(m, "A:\\KEEP.TXT"); }), kDiskNotReady);
      EXPECT_FALSE(fileExists(m, "A:\\KEEP.TXT"));
    }
    Result ls = run("ls " + machine + " 'A:\\'");
    EXPECT_EQ(ls.status, 1);
    EXPECT_NE(ls.output.find("Disk not ready"), std::string::npos) << ls.output;
    Result boot = run("boot-floppy " + machine);
    EXPECT_EQ(boot.status, 1);
    EXPECT_NE(boot.output.find("No disk in drive A:"), std::string::npos) << boot.output;
    Result twice = run("eject " + machine);
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.output.find("there is no disk in drive A:"), std::string::npos) << twice.output;

    ASSERT_EQ(run("insert " + machine).status, 0);
    EXPECT_EQ(readFile(before, "A:\\KEEP.TXT"), "kept");
    Result full = run("insert " + machine);
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.output.find("holds a disk already"), std::string::npos) << full.output;

    // With nothing aside, a blank disk goes in.
    ASSERT_EQ(run("eject " + machine).status, 0);
    fs::remove_all(d / (std::string(c.disk) + ".out"));
    Result blank = run("insert " + machine);
    ASSERT_EQ(blank.status, 0) << blank.output;
    EXPECT_NE(blank.output.find("a blank disk"), std::string::npos);
    Machine after = Machine::open(d);
    EXPECT_FALSE(fileExists(after, "A:\\KEEP.TXT"));
    EXPECT_EQ(freeSpace(after, 'A'), 1457664u);
  }
}

namespace {

// A disk as Windows 98 or ME left it, from the machine's own demo layout:
// its Windows folder (with stand-ins for Windows' own programs, as the
// links to our tools cannot go into an image) copied in by mcopy.
struct WindowsDisk {
  tf::Kind kind;
  bool me;
  std::string winDir;  // its folder's name on the disk
};

tf::Image makeWindowsDisk(const fs::path& work, const fs::path& demo, const WindowsDisk& w) {
  fs::path stage = work / "stage";
  fs::remove_all(stage);
  fs::create_directories(stage);
  fs::copy(demo / "drive_c" / "WINDOWS", stage / w.winDir,
           fs::copy_options::recursive | fs::copy_options::skip_symlinks);
  tf::spit(stage / w.winDir / "REGEDIT.EXE", "MZ the disk's own regedit");
  tf::spit(stage / w.winDir / "COMMAND.COM", "MZ the disk's own command");
  if (!w.me) fs::remove(stage / w.winDir / "Classes.dat");
  tf::Image img = tf::makeImage(work, w.kind, "disk.img");
  std::vector<std::string> args{"-s", (stage / w.winDir).string(), (demo / "drive_c" / "AUTOEXEC.BAT").string()};
  if (w.winDir != "WINDOWS") {
    tf::spit(stage / "MSDOS.SYS", "[Paths]\r\nWinDir=C:\\" + w.winDir + "\r\nWinBootDir=C:\\" + w.winDir +
                                      "\r\nHostWinBootDrv=C\r\n\r\n[Options]\r\nBootGUI=1\r\n");
    args.push_back((stage / "MSDOS.SYS").string());
  }
  args.push_back("::/");
  tf::Result r = tf::mtools("mcopy", img, args);
  if (r.status != 0) throw std::runtime_error("mcopy: " + r.out);
  return img;
}

}  // namespace

TEST_F(MachineTool, InitOnAWindowsDiskImageInstallsIntoIt) {
  const fs::path demo98 = base / "demo98", demoMe = base / "demoME";
  ASSERT_EQ(run("init --floppy-folder " + quote(demo98.string())).status, 0);
  ASSERT_EQ(run("init --floppy-folder --me " + quote(demoMe.string())).status, 0);
  const WindowsDisk cases[] = {
      {tf::Kind::Fat32, false, "WINDOWS"},
      {tf::Kind::Fat16Mbr, true, "WINDOWS"},
      {tf::Kind::Fat32Mbr, false, "WIN98"},  // MSDOS.SYS says where
  };
  for (const WindowsDisk& w : cases) {
    SCOPED_TRACE(tf::kindName(w.kind) + (w.me ? " ME " : " 98 ") + w.winDir);
    fs::path work = base / ("work-" + tf::kindName(w.kind));
    fs::create_directories(work);
    tf::Image img = makeWindowsDisk(work, w.me ? demoMe : demo98, w);
    const std::string winDir = "C:\\" + w.winDir;
    const std::string winIni = tf::mtools("mtype", img, {"::/" + w.winDir + "/WIN.INI"}).out;
    fs::path d = work / "machine";
    Result r = run("init " + quote(d.string()) + " --disk " + quote(img.path.string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(std::string("created a Windows ") + (w.me ? "ME" : "98") + " machine"), std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(d / "drive_c"));
    Machine m = Machine::open(d);
    EXPECT_EQ(m.ini("Machine", "Version"), w.me ? "ME" : "98");
    EXPECT_EQ(m.driveImage('C'), img.path);  // used where it is
    EXPECT_EQ(m.driveImage('A'), d / "floppy.img");
    EXPECT_EQ(m.ini("Environment", "WinDir"), winDir);
    EXPECT_EQ(m.env("COMSPEC"), winDir + "\\COMMAND.COM");
    EXPECT_EQ(readFile(m, winDir + "\\Win.ini"), winIni);
    for (const char* sub : {"archive", "Exchange", "undo", "Rescue", "util"}) {
      EXPECT_TRUE(folderExists(m, kProgram + "\\" + sub)) << sub;
    }
    EXPECT_EQ(m.shortPath(kProgram), "C:\\PROGRA~1\\BRAKVE~1");
    // The tools are stand-ins; the disk's own programs are kept.
    EXPECT_EQ(readFile(m, winDir + "\\REGEDIT.EXE"), standInBytes("regedit"));
    EXPECT_EQ(readFile(m, winDir + "\\COMMAND\\START.EXE"), standInBytes("start"));
    EXPECT_EQ(readFile(m, kProgram + "\\util\\pux.exe"), standInBytes("pux"));
    EXPECT_EQ(readFile(m, kProgram + "\\Originals\\" + w.winDir + "\\REGEDIT.EXE"), "MZ the disk's own regedit");
    EXPECT_EQ(readFile(m, kProgram + "\\Originals\\" + w.winDir + "\\COMMAND.COM"), "MZ the disk's own command");
    EXPECT_EQ(tf::mtools("mtype", img, {"::/" + w.winDir + "/REGEDIT.EXE"}).out, standInBytes("regedit"));
    EXPECT_NE(tf::mtools("mdir", img, {"::/PROGRA~1"}).out.find("Brakvel 9x"), std::string::npos);
    std::string report;
    EXPECT_TRUE(tf::fsckClean(img, &report)) << report;

    // install again changes nothing at all.
    const std::string bytes = tf::slurp(img.path);
    Result again = run("install " + quote(d.string()));
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(again.output, "");
    EXPECT_TRUE(tf::slurp(img.path) == bytes);
    // A stand-in a person removed comes back, and the original stays kept once.
    deleteFile(m, winDir + "\\REGEDIT.EXE");
    again = run("install " + quote(d.string()));
    EXPECT_EQ(again.output, "stand-in " + winDir + "\\REGEDIT.EXE for regedit\n");
    EXPECT_EQ(readFile(m, kProgram + "\\Originals\\" + w.winDir + "\\REGEDIT.EXE"), "MZ the disk's own regedit");
  }
}

TEST_F(MachineTool, InitRefusesADiskWithoutWindowsAndWritesNothing) {
  const fs::path demo = base / "demo";
  ASSERT_EQ(run("init --floppy-folder " + quote(demo.string())).status, 0);
  struct {
    const char* name;
    std::function<void(tf::Image&)> spoil;
    const char* options;
    std::string message;
  } cases[] = {
      {"no Windows folder", [](tf::Image& i) { tf::mtools("mdeltree", i, {"::/WINDOWS"}); }, "",
       "holds no Windows folder C:\\WINDOWS"},
      {"no USER.DAT", [](tf::Image& i) { tf::mtools("mdel", i, {"::/WINDOWS/USER.DAT"}); }, "",
       "the Windows folder C:\\WINDOWS lacks USER.DAT"},
      {"no WIN.INI nor USER.DAT",
       [](tf::Image& i) { tf::mtools("mdel", i, {"::/WINDOWS/WIN.INI", "::/WINDOWS/USER.DAT"}); }, "",
       "lacks WIN.INI, USER.DAT"},
      {"ME without CLASSES.DAT", [](tf::Image&) {}, " --me", "lacks CLASSES.DAT (Windows ME keeps CLASSES.DAT"},
      {"a hive that is text",
       [](tf::Image& i) {
         fs::path t = i.path.parent_path() / "SYSTEM.DAT";
         tf::spit(t, "REGEDIT4\r\n");
         tf::mtools("mcopy", i, {"-o", t.string(), "::/WINDOWS/SYSTEM.DAT"});
       },
       "", "SYSTEM.DAT in C:\\WINDOWS is not a Windows 9x registry file"},
      {"read-only image", [](tf::Image& i) { fs::permissions(i.path, fs::perms::owner_read); }, "",
       "the image is read-only"},
      {"not a FAT image", [](tf::Image& i) { tf::spit(i.path, std::string(1 << 20, 'x')); }, "", "disk.img"},
      {"no image", [](tf::Image& i) { fs::remove(i.path); }, "", "disk.img: no such disk image"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path work = base / "work";
    fs::remove_all(work);
    fs::create_directories(work);
    tf::Image img = makeWindowsDisk(work, demo, {tf::Kind::Fat32, false, "WINDOWS"});
    c.spoil(img);
    if (std::string(c.name) == "read-only image" && ::access(img.path.c_str(), W_OK) == 0) {
      continue;  // root writes whatever the mode says
    }
    const std::string before = fs::exists(img.path) ? tf::slurp(img.path) : "";
    fs::path d = work / "machine";
    Result r = run("init " + quote(d.string()) + c.options + " --disk " + quote(img.path.string()));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(d));
    if (!before.empty()) {
      EXPECT_TRUE(tf::slurp(img.path) == before);
    }
  }
}
