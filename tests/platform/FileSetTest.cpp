// Files of a folder replaced as one set: what changes, what stays, and what
// is refused before anything is written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "tests/support/host_attributes.h"
#include "tests/support/test_machine.h"
#include "tests/support/errors.h"
#include "platform/error.h"
#include "platform/fileset.h"
#include "platform/temporaries.h"

using namespace platform;
using TempMachine = testsupport::TestMachine;
using testsupport::errorOf;
namespace fs = std::filesystem;

namespace {

ino_t inode(const fs::path& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return st.st_ino;
}

// Every entry below dir with its bytes ("/" after folders).
std::map<std::string, std::string> contents(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::end(it); ++it) {
    std::string rel = fs::relative(it->path(), dir).generic_string();
    if (it->is_directory()) {
      out[rel + "/"] = "";
    } else {
      std::ifstream f(it->path(), std::ios::binary);
      out[rel] = std::string(std::istreambuf_iterator<char>(f), {});
    }
  }
  return out;
}

void writeTemp(FileSet& set, size_t i, const std::string& bytes) {
  int fd = set.create(i);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

class Sets : public testing::Test {
 protected:
  TempMachine tm;
  Machine m = tm.open();
  const std::string folder = "C:\\Long Folder Name";
  void SetUp() override {
    makeFolder(m, folder + "\\Sub Folder");
    writeFile(m, folder + "\\SYSTEM.DAT", "old system");
    setAttributes(m, folder + "\\SYSTEM.DAT", kHidden | kSystem | kArchive);
    writeFile(m, folder + "\\A long file name.txt", "untouched");
    writeFile(m, folder + "\\Sub Folder\\deep.txt", "deep");
    writeFile(m, "C:\\Long Folder Names too.txt", "a neighbour");
  }
};

TEST_F(Sets, ReplacesTheFilesAtOnceAndKeepsWhatTheSetDoesNotTouch) {
  const std::string folderShort = m.shortPath(folder);
  const std::string untouchedShort = m.shortPath(folder + "\\A long file name.txt");
  const fs::path host = m.toHost(folder);
  const ino_t untouched = inode(host / "A long file name.txt");
  const ino_t before = inode(host);

  FileSet set(m, folder, {{"System.dat", 10}, {"User.dat", 8}, {"Sub Folder\\New.ini", 3}});
  EXPECT_TRUE(set.exists(0));
  EXPECT_FALSE(set.exists(1));
  EXPECT_EQ(set.path(2), folder + "\\Sub Folder\\New.ini");
  writeTemp(set, 0, "new system");
  writeTemp(set, 1, "new user");
  writeTemp(set, 2, "ini");
  set.setInfo(0, DateTime{1999, 4, 23, 21, 5, 10}, kReadOnly | kHidden | kSystem | kArchive);
  set.setInfo(1, DateTime{2001, 1, 2, 3, 4, 6}, kArchive);
  set.setInfo(2, DateTime{2001, 1, 2, 3, 4, 6}, kArchive);
  // Nothing shows before the commit.
  EXPECT_EQ(readFile(m, folder + "\\System.dat"), "old system");
  EXPECT_FALSE(fileExists(m, folder + "\\User.dat"));
  set.commit();

  EXPECT_EQ(contents(host), (std::map<std::string, std::string>{{"A long file name.txt", "untouched"},
                                                                 {"SYSTEM.DAT", "new system"},
                                                                 {"Sub Folder/", ""},
                                                                 {"Sub Folder/New.ini", "ini"},
                                                                 {"Sub Folder/deep.txt", "deep"},
                                                                 {"User.dat", "new user"}}));
  EXPECT_EQ(getAttributes(m, folder + "\\System.dat"), testsupport::attributesKept(m, 'C', kReadOnly | kHidden | kSystem | kArchive));
  DateTime t = lastModified(m, folder + "\\System.dat");
  EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
            std::vector<int>({1999, 4, 23, 21, 5, 10}));
  // The folder was exchanged whole; the file it did not touch is the same
  // file, and every short name is what it was.
  EXPECT_NE(inode(host), before);
  EXPECT_EQ(inode(host / "A long file name.txt"), untouched);
  EXPECT_EQ(m.shortPath(folder), folderShort);
  EXPECT_EQ(m.shortPath(folder + "\\A long file name.txt"), untouchedShort);
  EXPECT_EQ(readFile(m, "C:\\Long Folder Names too.txt"), "a neighbour");
  for (const fs::path& dir : {host, host.parent_path()})
    for (const auto& e : fs::directory_iterator(dir))
      EXPECT_FALSE(temporaries::isTemporary(e.path().filename().string())) << e.path();
}

TEST_F(Sets, RefusesBeforeAnythingIsWritten) {
  fs::path machineDir;
  struct {
    const char* what;
    std::function<void()> prepare;
    std::string folder;
    std::vector<FileSet::File> files;
    int error;
  } cases[] = {
      {"a read-only file", [&] { setAttributes(m, folder + "\\SYSTEM.DAT", kReadOnly); }, folder,
       {{"User.dat", 1}, {"system.dat", 1}}, kPathFileAccess},
      {"a folder in the way", [] {}, folder, {{"Sub Folder", 1}}, kPathFileAccess},
      {"a name Windows cannot hold", [] {}, folder, {{"a*b.txt", 1}}, kBadFileNameSyntax},
      {"a device name", [] {}, folder, {{"Sub Folder\\lpt1.txt", 1}}, kBadFileNameSyntax},
      {"two names that differ in case", [] {}, folder, {{"User.dat", 1}, {"USER.DAT", 1}}, 58},
      {"no such folder", [] {}, "C:\\Missing", {{"x", 1}}, kPathNotFound},
      {"a write-protected floppy", [&] { m.setIni("Floppy", "WriteProtected", "1"); }, "A:\\", {{"x", 1}},
       kPermissionDenied},
      {"a floppy too small", [&] { m.setIni("Floppy", "Capacity", "1000"); }, "A:\\", {{"a", 600}, {"b", 600}},
       kDiskFull},
      {"no floppy", [&] { fs::remove_all(machineDir / "drive_a"); }, "A:\\", {{"x", 1}}, kDiskNotReady},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine fresh;
    machineDir = fresh.dir();
    m = fresh.open();
    SetUp();
    writeFile(m, "A:\\OLD.TXT", "old");
    c.prepare();
    auto before = contents(fresh.dir());
    EXPECT_EQ(errorOf([&] { FileSet set(m, c.folder, c.files); }), c.error);
    EXPECT_EQ(contents(fresh.dir()), before);
  }
}

TEST_F(Sets, WriteProtectionOrAFullFloppyFoundAtTheEndLeavesNothing) {
  for (const char* change : {"WriteProtected", "Capacity"}) {
    SCOPED_TRACE(change);
    TempMachine fresh;
    m = fresh.open();
    writeFile(m, "A:\\AUTOEXEC.BAT", "old batch");
    m.setIni("Floppy", "Capacity", "2000");
    FileSet set(m, "A:\\", {{"AUTOEXEC.BAT", 5}, {"DOSRESET.COM", 5}});
    writeTemp(set, 0, "batch");
    writeTemp(set, 1, std::string(std::string(change) == "Capacity" ? 3000 : 5, 'x'));
    if (std::string(change) == "WriteProtected") m.setIni("Floppy", "WriteProtected", "1");
    EXPECT_EQ(errorOf([&] { set.commit(); }), std::string(change) == "Capacity" ? kDiskFull : kPermissionDenied);
    EXPECT_EQ(contents(fresh.dir() / "drive_a"), (std::map<std::string, std::string>{{"AUTOEXEC.BAT", "old batch"}}));
  }
}

TEST_F(Sets, ASnapshotPutsTheOldFilesBackAsOneSet) {
  setAttributes(m, folder + "\\SYSTEM.DAT", kReadOnly | kHidden | kSystem);
  FolderSnapshot snap(m, folder, {"System.dat", "A long file name.txt", "Classes.dat"});
  // A preparation that replaced two and added one.
  {
    FileSet set(m, folder, {{"System.dat", 1}, {"Classes.dat", 1}, {"A long file name.txt", 1}}, true);
    writeTemp(set, 0, "n");
    writeTemp(set, 1, "c");
    writeTemp(set, 2, "t");
    set.setInfo(0, DateTime::now(), kReadOnly);
    set.commit();
  }
  ASSERT_EQ(readFile(m, folder + "\\Classes.dat"), "c");
  snap.restore();
  EXPECT_EQ(readFile(m, folder + "\\System.dat"), "old system");
  EXPECT_EQ(getAttributes(m, folder + "\\System.dat"), testsupport::attributesKept(m, 'C', kReadOnly | kHidden | kSystem));
  EXPECT_EQ(readFile(m, folder + "\\A long file name.txt"), "untouched");
  EXPECT_FALSE(fileExists(m, folder + "\\Classes.dat"));
  EXPECT_EQ(readFile(m, folder + "\\Sub Folder\\deep.txt"), "deep");
}

TEST_F(Sets, CopiesReplaceReadOnlyCopiesOfTheProgramsOwn) {
  writeFile(m, "C:\\WINDOWS\\User.dat", "live user");
  setAttributes(m, "C:\\WINDOWS\\User.dat", kReadOnly | kHidden | kSystem);
  copyFilesAsSet(m, folder, {{"C:\\WINDOWS\\User.dat", "User.dat"}, {"C:\\Long Folder Names too.txt", "System.dat"}});
  EXPECT_EQ(readFile(m, folder + "\\User.dat"), "live user");
  EXPECT_EQ(getAttributes(m, folder + "\\User.dat"), testsupport::attributesKept(m, 'C', kReadOnly | kHidden | kSystem));
  copyFilesAsSet(m, folder, {{"C:\\Long Folder Names too.txt", "User.dat"}});
  EXPECT_EQ(readFile(m, folder + "\\User.dat"), "a neighbour");
  EXPECT_EQ(readFile(m, folder + "\\System.dat"), "a neighbour");
}

TEST(HostSets, AHostFolderWithATrailingSlash) {
  TempMachine tm;
  const fs::path dir = tm.dir() / "out";
  fs::create_directories(dir);
  std::ofstream(dir / "a.txt") << "old a";
  FileSet set(dir.string() + "/", {{"a.txt", 5}, {"b.txt", 5}});
  writeTemp(set, 0, "new a");
  writeTemp(set, 1, "new b");
  set.commit();
  EXPECT_EQ(contents(dir), (std::map<std::string, std::string>{{"a.txt", "new a"}, {"b.txt", "new b"}}));
}

}  // namespace
