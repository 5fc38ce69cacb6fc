// A machine whose C: is a FAT32 disk image (behind a partition table) and
// whose A: is a floppy image, driven through the file functions the program
// and the tools use; mtools and fsck.fat check what they left.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/file_streams.h"
#include "platform/files.h"
#include "platform/fileset.h"
#include "platform/machine.h"
#include "tests/fat/support.h"

using namespace platform;
using namespace testing_fat;

namespace {

struct ImageMachine {
  TempDir dir;
  Image c, a;
  std::optional<Machine> machine;

  ImageMachine() {
    c = makeImage(dir.path(), Kind::Fat32Mbr, "disk.img");
    a = makeImage(dir.path(), Kind::Floppy, "floppy.img");
    fs::create_directories(dir / "drive_d");
    spit(dir / "machine.ini",
         "[Machine]\nVersion=98\n[Drives]\nC=disk.img\nA=floppy.img\nD=drive_d\n"
         "[Environment]\nWinDir=C:\\WINDOWS\n");
    machine = Machine::open(dir.path());
    makeFolder(m(), "C:\\WINDOWS");
  }
  const Machine& m() const { return *machine; }
  std::string mtype(const Image& img, const std::string& dosPath) {
    Result r = mtools("mtype", img, {"::" + dosPath});
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out;
  }
  void expectClean() {
    for (const Image* img : {&c, &a}) {
      std::string report;
      EXPECT_TRUE(fsckClean(*img, &report)) << img->path << "\n" << report;
    }
  }
};

TEST(MachineDrive, TheFileFunctionsWorkOnImagesAndMtoolsSeesTheResult) {
  ImageMachine im;
  const Machine& m = im.m();
  EXPECT_TRUE(m.driveImage('c'));
  EXPECT_FALSE(m.driveFolder('C'));
  EXPECT_TRUE(m.hasDrive('A'));
  EXPECT_EQ(errorOf([&] { m.toHost("C:\\WINDOWS"); }), kPathFileAccess);

  writeFile(m, "C:\\WINDOWS\\Win.ini", "[windows]\r\n");
  appendFile(m, "C:\\WINDOWS\\Win.ini", "load=\r\n");
  writeFileAtomic(m, "C:\\WINDOWS\\System.ini", "[boot]\r\n", kArchive | kReadOnly);
  makeFolder(m, "C:\\Program Files\\Brakvel 9x\\Exchange");
  writeFileAtomicStreamed(m, "C:\\Program Files\\Brakvel 9x\\Exchange\\info.txt", kArchive,
                          [](const PutBytes& put) {
                            for (int i = 0; i < 1000; ++i) put("line of the archive's info\r\n");
                          });

  EXPECT_EQ(readFile(m, "c:\\windows\\WIN.INI"), "[windows]\r\nload=\r\n");
  EXPECT_TRUE(fileExists(m, "C:\\WINDOWS\\SYSTEM.INI"));
  EXPECT_TRUE(folderExists(m, "C:\\PROGRA~1\\BRAKVE~1"));
  EXPECT_FALSE(fileExists(m, "C:\\PROGRA~1"));
  EXPECT_FALSE(pathExists(m, "C:\\nowhere\\x"));
  EXPECT_EQ(getAttributes(m, "C:\\WINDOWS\\System.ini"), kArchive | kReadOnly);
  EXPECT_EQ(fileSize(m, "C:\\Program Files\\Brakvel 9x\\Exchange\\info.txt"), 28000u);
  EXPECT_EQ(m.shortPath("C:\\Program Files\\Brakvel 9x\\Exchange"), "C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE");
  EXPECT_EQ(m.longPath("c:\\progra~1\\brakve~1"), "C:\\Program Files\\Brakvel 9x");
  EXPECT_EQ(m.shortPath("C:\\"), "C:\\");
  EXPECT_EQ(m.shortPath("C:\\missing"), "");

  // Copies between the image drives and a folder drive, both ways.
  copyFile(m, "C:\\WINDOWS\\System.ini", "A:\\SYSTEM.INI");
  copyFile(m, "A:\\SYSTEM.INI", "D:\\system.ini");
  copyFile(m, "D:\\system.ini", "C:\\WINDOWS\\System.cpy");
  EXPECT_EQ(readFile(m, "C:\\WINDOWS\\System.cpy"), "[boot]\r\n");
  EXPECT_EQ(getAttributes(m, "A:\\SYSTEM.INI") & kReadOnly, kReadOnly);
  std::string piece;
  readFileInPieces(m, "A:\\SYSTEM.INI", 3, [&](std::string_view s) { piece += std::string(s) + "|"; });
  EXPECT_EQ(piece, "[bo|ot]|\r\n|");

  DateTime when{2001, 6, 9, 14, 30, 8};
  setLastModified(m, "C:\\WINDOWS\\Win.ini", when);
  EXPECT_EQ(lastModified(m, "C:\\WINDOWS\\Win.ini").toTime(), when.toTime());

  renameFile(m, "C:\\WINDOWS\\System.cpy", "C:\\WINDOWS\\System.old");
  EXPECT_EQ(errorOf([&] { renameFile(m, "C:\\WINDOWS\\System.old", "D:\\x"); }), 74);

  DirEnum dir;
  std::vector<std::string> names;
  for (std::string n = dir.first(m, "C:\\WINDOWS\\*.ini"); !n.empty(); n = dir.next()) names.push_back(n);
  EXPECT_EQ(names, (std::vector<std::string>{"System.ini", "Win.ini"}));
  EXPECT_EQ(dir.first(m, "C:\\", kDirectory), "Program Files");

  // mtools reads what the program wrote, long and short names alike.
  EXPECT_EQ(im.mtype(im.c, "/WINDOWS/WIN.INI"), "[windows]\r\nload=\r\n");
  EXPECT_EQ(im.mtype(im.a, "/SYSTEM.INI"), "[boot]\r\n");
  auto lines = mdir(im.c, "::/PROGRA~1");
  ASSERT_TRUE(std::any_of(lines.begin(), lines.end(), [](const MdirLine& l) {
    return l.shortName == "BRAKVE~1" && l.longName == "Brakvel 9x";
  }));

  EXPECT_EQ(errorOf([&] { deleteFile(m, "C:\\WINDOWS\\*.old"); }), kPathFileAccess);  // kept read-only
  setAttributes(m, "C:\\WINDOWS\\System.old", kArchive);
  deleteFile(m, "C:\\WINDOWS\\*.old");
  EXPECT_FALSE(fileExists(m, "C:\\WINDOWS\\System.old"));
  EXPECT_EQ(errorOf([&] { deleteFile(m, "C:\\WINDOWS\\System.ini"); }), kPathFileAccess);  // read-only
  removeTree(m, "C:\\Program Files");
  EXPECT_FALSE(folderExists(m, "C:\\Program Files"));
  im.expectClean();
}

TEST(MachineDrive, ErrorsAreTheClassicOnesAndLeaveTheImageAlone) {
  ImageMachine im;
  const Machine& m = im.m();
  writeFile(m, "A:\\KEEP.TXT", "kept");
  writeFileAtomic(m, "C:\\WINDOWS\\RO.TXT", "ro", kReadOnly);
  struct Case {
    const char* what;
    int error;
    std::function<void()> f;
  };
  std::vector<Case> cases = {
      {"missing file", kFileNotFound, [&] { readFile(m, "C:\\WINDOWS\\none.ini"); }},
      {"missing folder on the way", kPathNotFound, [&] { readFile(m, "C:\\NONE\\x.ini"); }},
      {"write into a missing folder", kPathNotFound, [&] { writeFileAtomic(m, "C:\\NONE\\x", "x"); }},
      {"read a folder", kPathFileAccess, [&] { readFile(m, "C:\\WINDOWS"); }},
      {"replace a read-only file", kPathFileAccess, [&] { writeFileAtomic(m, "C:\\WINDOWS\\RO.TXT", "x"); }},
      {"a name Windows cannot hold", kBadFileNameSyntax, [&] { writeFile(m, "C:\\WINDOWS\\a|b", "x"); }},
      {"a device name", kBadFileNameSyntax, [&] { writeFile(m, "C:\\WINDOWS\\CON.TXT", "x"); }},
      {"more than the floppy holds", kDiskFull,
       [&] { writeFileAtomic(m, "A:\\KEEP.TXT", std::string(1500000, 'x')); }},
  };
  for (const Case& c : cases) EXPECT_EQ(errorOf(c.f), c.error) << c.what;
  EXPECT_EQ(readFile(m, "A:\\KEEP.TXT"), "kept");

  ::chmod(im.a.path.c_str(), 0444);
  EXPECT_TRUE(isWriteProtected(m, 'A'));
  EXPECT_EQ(errorOf([&] { writeFile(m, "A:\\NEW.TXT", "x"); }), kPermissionDenied);
  ::chmod(im.a.path.c_str(), 0644);
  EXPECT_FALSE(isWriteProtected(m, 'A'));

  fs::rename(im.a.path, im.dir / "aside.img");  // the floppy taken out
  EXPECT_EQ(errorOf([&] { readFile(m, "A:\\KEEP.TXT"); }), kDiskNotReady);
  EXPECT_FALSE(fileExists(m, "A:\\KEEP.TXT"));
  fs::rename(im.dir / "aside.img", im.a.path);
  EXPECT_EQ(readFile(m, "A:\\KEEP.TXT"), "kept");
  im.expectClean();
}

TEST(MachineDrive, FileSetsAndSnapshotsOnAnImageAreWholeOrNothing) {
  ImageMachine im;
  const Machine& m = im.m();
  makeFolder(m, "A:\\SET");
  writeFileAtomic(m, "A:\\SET\\ONE.DAT", "old one");
  writeFileAtomic(m, "A:\\SET\\TWO.DAT", "old two", kReadOnly);

  FolderSnapshot snap(m, "A:\\SET", {"ONE.DAT", "TWO.DAT", "NEW.DAT"});
  {
    FileSet set(m, "A:\\SET", {{"ONE.DAT", 7}, {"TWO.DAT", 7}, {"NEW.DAT", 3}}, /*replaceReadOnly=*/true);
    set.write(0, "new one");
    set.write(1, "new two");
    set.setInfo(1, DateTime{2002, 2, 2, 2, 2, 2}, kArchive);
    EXPECT_EQ(errorOf([&] { set.copyFrom(2, "C:\\WINDOWS"); }), kPathFileAccess);  // a folder
  }
  EXPECT_EQ(readFile(m, "A:\\SET\\ONE.DAT"), "old one");  // a set never committed changes nothing
  EXPECT_FALSE(fileExists(m, "A:\\SET\\NEW.DAT"));

  writeFile(m, "C:\\WINDOWS\\src.txt", "src");
  FileSet set(m, "A:\\SET", {{"ONE.DAT", 7}, {"TWO.DAT", 7}, {"NEW.DAT", 3}}, true);
  set.write(0, "new one");
  set.write(1, "new two");
  set.setInfo(1, DateTime{2002, 2, 2, 2, 2, 2}, kArchive);
  set.copyFrom(2, "C:\\WINDOWS\\src.txt");
  set.commit();
  EXPECT_EQ(readFile(m, "A:\\SET\\ONE.DAT"), "new one");
  EXPECT_EQ(readFile(m, "A:\\SET\\TWO.DAT"), "new two");
  EXPECT_EQ(getAttributes(m, "A:\\SET\\TWO.DAT"), kArchive);
  EXPECT_EQ(readFile(m, "A:\\SET\\NEW.DAT"), "src");
  EXPECT_FALSE(snap.unchanged("ONE.DAT"));

  // A set that does not fit is refused before anything is written.
  EXPECT_EQ(errorOf([&] { FileSet big(m, "A:\\SET", {{"BIG.DAT", 2000000}}); }), kDiskFull);

  snap.restore();
  EXPECT_EQ(readFile(m, "A:\\SET\\ONE.DAT"), "old one");
  EXPECT_EQ(readFile(m, "A:\\SET\\TWO.DAT"), "old two");
  EXPECT_EQ(getAttributes(m, "A:\\SET\\TWO.DAT") & kReadOnly, kReadOnly);
  EXPECT_FALSE(fileExists(m, "A:\\SET\\NEW.DAT"));
  EXPECT_TRUE(snap.unchanged("ONE.DAT"));
  EXPECT_TRUE(snap.unchanged("NEW.DAT"));
  im.expectClean();
}

TEST(MachineDrive, StreamsReadAtAnyOffsetAndWriteWhole) {
  ImageMachine im;
  const Machine& m = im.m();
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes += static_cast<char>('a' + i % 26);
  {
    auto w = createFile(m, "C:\\WINDOWS\\BIG.BIN");
    w->write(bytes.substr(0, 70000));
    w->write(bytes.substr(70000));
    EXPECT_FALSE(fileExists(m, "C:\\WINDOWS\\BIG.BIN"));  // nothing visible before the commit
    w->commit();
  }
  auto r = openFile(m, "C:\\WINDOWS\\BIG.BIN");
  ASSERT_EQ(r->size(), bytes.size());
  std::string mid(10, '\0');
  EXPECT_EQ(r->readAt(123456, mid.data(), mid.size()), 10u);
  EXPECT_EQ(mid, bytes.substr(123456, 10));
  {
    auto w = createFile(m, "C:\\WINDOWS\\BIG.BIN");
    w->write("replaced");
  }  // dropped without commit
  EXPECT_EQ(readFile(m, "C:\\WINDOWS\\BIG.BIN"), bytes);
  EXPECT_EQ(errorOf([&] { openFile(m, "C:\\WINDOWS"); }), kPathFileAccess);
  // Whole files as one view, mapped on a folder drive, read on an image.
  copyFile(m, "C:\\WINDOWS\\BIG.BIN", "D:\\BIG.BIN");
  writeFile(m, "D:\\EMPTY", "");
  EXPECT_EQ(mapFile(m, "C:\\WINDOWS\\BIG.BIN").view(), bytes);
  FileBytes mapped = mapFile(m, "D:\\BIG.BIN");
  deleteFile(m, "D:\\BIG.BIN");  // the view keeps the file it was made of
  EXPECT_EQ(mapped.view(), bytes);
  EXPECT_EQ(mapFile(m, "D:\\EMPTY").view(), "");
  EXPECT_EQ(errorOf([&] { mapFile(m, "D:\\none"); }), kFileNotFound);
  EXPECT_EQ(errorOf([&] { mapFile(m, "C:\\none"); }), kFileNotFound);
  im.expectClean();
}

TEST(MachineDrive, AMissingDiskImageIsNamedWhenTheMachineOpens) {
  TempDir dir;
  spit(dir / "machine.ini", "[Machine]\nVersion=98\n[Drives]\nC=gone.img\nA=floppy.img\n");
  try {
    Machine::open(dir.path());
    FAIL() << "opened";
  } catch (const MachineError& e) {
    EXPECT_NE(std::string(e.what()).find("gone.img"), std::string::npos) << e.what();
  }
  // A floppy image that is not there is a drive without disk.
  spit(dir / "machine.ini", "[Machine]\nVersion=98\n[Drives]\nC=c\nA=floppy.img\n");
  fs::create_directories(dir / "c");
  Machine m = Machine::open(dir.path());
  EXPECT_EQ(errorOf([&] { readFile(m, "A:\\X"); }), kDiskNotReady);
  // A file that holds no FAT file system is named with what is wrong.
  spit(dir / "floppy.img", std::string(1474560, '\xF6'));
  try {
    readFile(m, "A:\\X");
    FAIL() << "read";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kDeviceError);
    EXPECT_NE(std::string(e.what()).find("floppy.img"), std::string::npos) << e.what();
  }
}

}  // namespace
