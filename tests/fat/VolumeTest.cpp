// The volume interface's behaviour, the same on every implementation: the
// in-memory form, a host folder (as a floppy drive, whose capacity a test
// can fill) and FAT images of each kind. FAT images are checked by fsck.fat
// after every test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <optional>

#include "platform/host_volume.h"
#include "platform/memory_volume.h"
#include "tests/fat/support.h"
#include "tests/support/host_attributes.h"

using namespace platform;
using namespace testing_fat;

namespace {

const DateTime kWhen{2001, 2, 3, 4, 5, 6};

struct Target {
  std::string name;
  std::optional<Kind> kind;  // none: the in-memory form or a host folder
  bool host = false;
};

void PrintTo(const Target& t, std::ostream* os) { *os << t.name; }

class VolumeTest : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    if (GetParam().kind) {
      image_ = makeImage(dir_.path(), *GetParam().kind);
      v_ = mount(*image_);
    } else if (GetParam().host) {
      HostVolumeOptions o;
      o.root = "C:";
      o.floppy = true;
      fs::create_directories(dir_ / "drive");
      v_ = std::make_unique<HostVolume>(dir_ / "drive", o);
    } else {
      MemoryVolumeOptions o;
      o.root = "C:";
      v_ = std::make_unique<MemoryVolume>(o);
    }
  }
  void TearDown() override {
    v_.reset();
    std::string report;
    if (image_) {
      EXPECT_TRUE(fsckClean(*image_, &report)) << report;
    }
  }
  // Protects the drive: a read-only image file, or the other forms' switch.
  void protect() {
    if (image_) {
      ::chmod(image_->path.c_str(), 0444);
    } else if (GetParam().host) {
      static_cast<HostVolume&>(*v_).setWriteProtected(true);
    } else {
      static_cast<MemoryVolume&>(*v_).setWriteProtected(true);
    }
  }
  void unprotect() {
    if (image_) {
      ::chmod(image_->path.c_str(), 0644);
    } else if (GetParam().host) {
      static_cast<HostVolume&>(*v_).setWriteProtected(false);
    } else {
      static_cast<MemoryVolume&>(*v_).setWriteProtected(false);
    }
  }
  // The folder form keeps short names, hidden, system and archive bits and
  // the order of entries in extended attributes and birth times, which
  // not every host file system has.
  bool keepsOnlyWhatTheHostCan() {
    return GetParam().host && !testsupport::keepsExtendedAttributes(dir_.path());
  }
  TempDir dir_;
  std::optional<Image> image_;
  std::unique_ptr<Volume> v_;
};

TEST_P(VolumeTest, NamesLookupAndListing) {
  if (keepsOnlyWhatTheHostCan()) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Volume& v = *v_;
  v.makeFolder("Program Files");
  v.makeFolder("Program Files\\Brakvel 9x");
  put(v, "Program Files\\Brakvel 9x\\Brakvel 9x.exe", "MZ");
  put(v, "readme.txt", "r");
  put(v, "UPPER.TXT", "u");
  put(v, "My Document.text", "d");
  put(v, "a+b,c;d=e[f].txt", "x");
  // Stored without its trailing dots and blanks; a folder drive keeps them,
  // as it always has.
  put(v, "trailing. . ", "t");
  const bool asGiven = GetParam().host;
  struct Case {
    std::string given, longPath;
  } lookups[] = {
      {"Program Files\\Brakvel 9x\\Brakvel 9x.exe", "Program Files\\Brakvel 9x\\Brakvel 9x.exe"},
      {"PROGRA~1\\BRAKVE~1\\BRAKVE~1.EXE", "Program Files\\Brakvel 9x\\Brakvel 9x.exe"},
      {"program files/brakvel 9X/brakve~1.exe", "Program Files\\Brakvel 9x\\Brakvel 9x.exe"},
      {"\\Program Files\\.\\Brakvel 9x\\..\\Brakvel 9x\\Brakvel 9x.exe", "Program Files\\Brakvel 9x\\Brakvel 9x.exe"},
      {"README.TXT", "readme.txt"},
      {"readme.txt...", "readme.txt"},
      {"mydocu~1.tex", "My Document.text"},
      {"A_B_C_~1.TXT", "a+b,c;d=e[f].txt"},
      {"TRAILING", asGiven ? "" : "trailing"},
      {"trailing. . ", asGiven ? "trailing. . " : "trailing"},
  };
  for (const Case& c : lookups) {
    std::vector<FileEntry> w = v.walk(c.given);
    std::string got;
    for (const FileEntry& e : w) got += (got.empty() ? "" : "\\") + e.name;
    EXPECT_EQ(got, c.longPath) << c.given;
  }
  EXPECT_EQ(v.walk("Program Files\\nothing\\deeper").size(), 1u);
  EXPECT_FALSE(v.find("Program Files\\nothing"));
  ASSERT_TRUE(v.find(""));
  EXPECT_TRUE(v.find("")->isFolder());

  struct Listed {
    std::string name, shortName;
    uint8_t attributes;
  } expected[] = {
      {"Program Files", "PROGRA~1", kDirectory}, {"readme.txt", "README.TXT", kArchive},
      {"UPPER.TXT", "UPPER.TXT", kArchive},      {"My Document.text", "MYDOCU~1.TEX", kArchive},
      {"a+b,c;d=e[f].txt", "A_B_C_~1.TXT", kArchive},
      {asGiven ? "trailing. . " : "trailing", asGiven ? "TRAILI~1" : "TRAILING", kArchive},
  };
  std::vector<FileEntry> root = v.list("");
  ASSERT_EQ(root.size(), std::size(expected));
  for (size_t i = 0; i < root.size(); ++i) {
    EXPECT_EQ(root[i].name, expected[i].name);
    EXPECT_EQ(root[i].shortName, expected[i].shortName);
    EXPECT_EQ(root[i].attributes, expected[i].attributes) << root[i].name;
  }
  EXPECT_EQ(v.list("PROGRA~1").size(), 1u);
}

TEST_P(VolumeTest, TailsCountUpAndStayWhileTheFileLives) {
  if (keepsOnlyWhatTheHostCan()) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Volume& v = *v_;
  for (int i = 1; i <= 11; ++i) put(v, "Long name " + std::to_string(i) + ".txt", std::to_string(i));
  EXPECT_EQ(v.find("Long name 1.txt")->shortName, "LONGNA~1.TXT");
  EXPECT_EQ(v.find("Long name 9.txt")->shortName, "LONGNA~9.TXT");
  EXPECT_EQ(v.find("Long name 10.txt")->shortName, "LONGN~10.TXT");
  v.remove("Long name 1.txt");
  put(v, "Long name 2.txt", "replaced");
  EXPECT_EQ(v.find("Long name 2.txt")->shortName, "LONGNA~2.TXT");
  put(v, "Long name 12.txt", "12");
  EXPECT_EQ(v.find("Long name 12.txt")->shortName, "LONGNA~1.TXT");  // the freed tail
}

TEST_P(VolumeTest, ReplacingKeepsNameShortNameAndCreationTime) {
  if (keepsOnlyWhatTheHostCan()) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Volume& v = *v_;
  v.makeFolder("WINDOWS");
  put(v, "WINDOWS\\System.dat", "old registry", {kHidden | kSystem | kArchive, kWhen});
  FileEntry before = *v.find("WINDOWS\\SYSTEM.DAT");
  EXPECT_EQ(before.modified.toTime(), kWhen.toTime());
  EXPECT_EQ(before.size, 12u);
  EXPECT_EQ(before.attributes, kHidden | kSystem | kArchive);
  put(v, "windows\\SYSTEM.DAT", "the new registry, longer", {kArchive, std::nullopt});
  FileEntry after = *v.find("WINDOWS\\System.dat");
  EXPECT_EQ(after.name, "System.dat");
  EXPECT_EQ(after.shortName, "SYSTEM.DAT");
  EXPECT_EQ(after.attributes, kArchive);
  EXPECT_EQ(after.size, 24u);
  EXPECT_EQ(after.created.toTime(), before.created.toTime());
  EXPECT_GT(after.modified.toTime(), kWhen.toTime());
  EXPECT_EQ(v.readAll("WINDOWS\\System.dat"), "the new registry, longer");

  put(v, "WINDOWS\\Long file name.text", "1");
  std::string s = v.find("WINDOWS\\Long file name.text")->shortName;
  put(v, "WINDOWS\\Long file name 2.text", "2");
  put(v, "WINDOWS\\LONGFI~1.TEX", "3");  // replaced through its short name
  EXPECT_EQ(v.find("WINDOWS\\Long file name.text")->shortName, s);
  EXPECT_EQ(v.readAll("WINDOWS\\Long file name.text"), "3");
  EXPECT_EQ(v.list("WINDOWS").size(), 3u);
}

TEST_P(VolumeTest, AWriterShowsNothingUntilCommittedAndAbortKeepsTheOld) {
  Volume& v = *v_;
  put(v, "keep.txt", "old");
  {
    auto w = v.create("keep.txt");
    w->write(std::string(5000, 'n'));
    EXPECT_EQ(w->written(), 5000u);
    EXPECT_EQ(v.readAll("keep.txt"), "old");
    auto fresh = v.create("fresh.txt");
    fresh->write("x");
    fresh->abort();
    EXPECT_FALSE(v.find("fresh.txt"));
  }  // destroyed uncommitted
  EXPECT_EQ(v.readAll("keep.txt"), "old");
  EXPECT_FALSE(v.find("fresh.txt"));
  // Big and empty files, written in pieces of odd sizes.
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>('a' + i % 23);
  auto w = v.create("big.bin");
  for (size_t at = 0; at < big.size(); at += 7777) w->write(std::string_view(big).substr(at, 7777));
  w->commit();
  EXPECT_EQ(v.readAll("big.bin"), big);
  auto r = v.open("big.bin");
  char part[10];
  ASSERT_EQ(r->readAt(123457, part, sizeof part), sizeof part);
  EXPECT_EQ(std::string(part, sizeof part), big.substr(123457, 10));
  EXPECT_EQ(r->readAt(big.size() - 3, part, sizeof part), 3u);
  EXPECT_EQ(r->readAt(big.size() + 5, part, sizeof part), 0u);
  r.reset();
  put(v, "empty.txt", "");
  EXPECT_EQ(v.find("empty.txt")->size, 0u);
  EXPECT_EQ(v.readAll("empty.txt"), "");
}

TEST_P(VolumeTest, InPlaceWritesTruncateOrAppend) {
  if (keepsOnlyWhatTheHostCan()) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Volume& v = *v_;
  v.writeInPlace("WIN.INI", "[windows]\r\n", false);
  v.writeInPlace("win.ini", "load=\r\n", true);
  EXPECT_EQ(v.readAll("WIN.INI"), "[windows]\r\nload=\r\n");
  v.setAttributes("WIN.INI", kHidden);
  v.writeInPlace("WIN.INI", "short", false);
  EXPECT_EQ(v.readAll("WIN.INI"), "short");
  EXPECT_EQ(v.find("WIN.INI")->attributes, kHidden | kArchive);  // writing sets the archive bit
  v.writeInPlace("new.txt", "made by append", true);
  EXPECT_EQ(v.readAll("NEW.TXT"), "made by append");
}

TEST_P(VolumeTest, ASetGoesInWholeOrNotAtAll) {
  Volume& v = *v_;
  v.makeFolder("Rescue");
  put(v, "Rescue\\SYSTEM.DAT", "old system");
  put(v, "Rescue\\USER.DAT", "old user");
  put(v, "Rescue\\LOCKED.INI", "locked", {kReadOnly, std::nullopt});
  auto a = v.create("Rescue\\SYSTEM.DAT"), b = v.create("Rescue\\USER.DAT"), c = v.create("Rescue\\Win.ini");
  a->write("new system");
  b->write("new user");
  c->write("new win");
  // A writer of the set made before the target became read-only.
  auto d = v.create("Rescue\\System.ini");
  d->write("new system.ini");
  put(v, "Rescue\\System.ini", "old system.ini", {kReadOnly, std::nullopt});
  EXPECT_EQ(errorOf([&] { v.commitSet({a.get(), b.get(), c.get(), d.get()}); }), kPathFileAccess);
  EXPECT_EQ(v.readAll("Rescue\\SYSTEM.DAT"), "old system");
  EXPECT_EQ(v.readAll("Rescue\\USER.DAT"), "old user");
  EXPECT_FALSE(v.find("Rescue\\Win.ini"));

  std::vector<std::unique_ptr<FileWriter>> ws;
  for (const char* n : {"SYSTEM.DAT", "USER.DAT", "Win.ini", "Classes.dat"}) {
    ws.push_back(v.create(std::string("Rescue\\") + n, {kArchive, kWhen}));
    ws.back()->write(std::string("set ") + n);
  }
  v.commitSet({ws[0].get(), ws[1].get(), ws[2].get(), ws[3].get()});
  for (const char* n : {"SYSTEM.DAT", "USER.DAT", "Win.ini", "Classes.dat"}) {
    EXPECT_EQ(v.readAll(std::string("Rescue\\") + n), std::string("set ") + n);
    EXPECT_EQ(v.find(std::string("Rescue\\") + n)->modified.toTime(), kWhen.toTime());
  }
  // Writers of two folders are no set.
  v.makeFolder("Other");
  auto x = v.create("Rescue\\x.txt"), y = v.create("Other\\y.txt");
  EXPECT_EQ(errorOf([&] { v.commitSet({x.get(), y.get()}); }), kInvalidCall);
}

TEST_P(VolumeTest, ErrorsAreTheRuntimesNumbers) {
  Volume& v = *v_;
  v.makeFolder("Dir");
  v.makeFolder("Dir\\Sub");
  put(v, "Dir\\file.txt", "f");
  put(v, "Dir\\locked.txt", "l", {kReadOnly, std::nullopt});
  struct Case {
    std::string what;
    std::function<void()> call;
    int error;
  } cases[] = {
      {"open a missing file", [&] { v.open("Dir\\none.txt"); }, kFileNotFound},
      {"open in a missing folder", [&] { v.open("None\\file.txt"); }, kPathNotFound},
      {"open below a file", [&] { v.open("Dir\\file.txt\\x"); }, kPathNotFound},
      {"open a folder", [&] { v.open("Dir\\Sub"); }, kPathFileAccess},
      {"list a file", [&] { v.list("Dir\\file.txt"); }, kPathNotFound},
      {"create in a missing folder", [&] { v.create("None\\new.txt"); }, kPathNotFound},
      {"create a wildcard name", [&] { v.create("Dir\\a*b.txt"); }, kBadFileNameSyntax},
      {"create a name with a colon", [&] { v.create("Dir\\a:b"); }, kBadFileNameSyntax},
      {"create a control character", [&] { v.create("Dir\\a\tb"); }, kBadFileNameSyntax},
      {"create a device name", [&] { v.create("Dir\\CON"); }, kBadFileNameSyntax},
      {"create a device name with extension", [&] { v.create("Dir\\lpt1.txt"); }, kBadFileNameSyntax},
      {"create 256 characters", [&] { v.create("Dir\\" + std::string(256, 'n')); }, kBadFileName},
      {"create over a folder", [&] { v.create("Dir\\Sub"); }, kPathFileAccess},
      {"create over a read-only file", [&] { v.create("Dir\\locked.txt"); }, kPathFileAccess},
      {"append to a read-only file", [&] { v.writeInPlace("Dir\\locked.txt", "x", true); }, kPathFileAccess},
      {"remove a read-only file", [&] { v.remove("Dir\\locked.txt"); }, kPathFileAccess},
      {"remove a folder as a file", [&] { v.remove("Dir\\Sub"); }, kPathFileAccess},
      {"remove a missing file", [&] { v.remove("Dir\\none.txt"); }, kFileNotFound},
      {"remove a folder that holds files", [&] { v.removeFolder("Dir"); }, kPathFileAccess},
      {"remove a file as a folder", [&] { v.removeFolder("Dir\\file.txt"); }, kPathFileAccess},
      {"remove the root", [&] { v.removeFolder(""); }, kPathFileAccess},
      {"make a folder that exists", [&] { v.makeFolder("DIR"); }, kPathFileAccess},
      {"make a folder where a file is", [&] { v.makeFolder("Dir\\file.txt"); }, kPathFileAccess},
      {"make a folder in a missing one", [&] { v.makeFolder("None\\New"); }, kPathNotFound},
      {"rename onto another file", [&] { v.rename("Dir\\file.txt", "Dir\\locked.txt"); }, kFileAlreadyExists},
      {"replace a read-only file", [&] { v.rename("Dir\\file.txt", "Dir\\locked.txt", true); }, kPathFileAccess},
      {"replace a folder", [&] { v.rename("Dir\\file.txt", "Dir\\Sub", true); }, kFileAlreadyExists},
      {"move a folder into itself", [&] { v.rename("Dir", "Dir\\Sub\\Dir"); }, kPathFileAccess},
      {"rename a missing file", [&] { v.rename("Dir\\none.txt", "Dir\\x.txt"); }, kFileNotFound},
      {"rename into a missing folder", [&] { v.rename("Dir\\file.txt", "None\\x.txt"); }, kPathNotFound},
      {"attributes of a missing file", [&] { v.setAttributes("Dir\\none.txt", 0); }, kFileNotFound},
      {"attributes of the root", [&] { v.setAttributes("", 0); }, kPathFileAccess},
  };
  for (const Case& c : cases) EXPECT_EQ(errorOf(c.call), c.error) << c.what;
  // Nothing of it changed anything.
  EXPECT_EQ(v.list("Dir").size(), 3u);
  EXPECT_EQ(v.readAll("Dir\\locked.txt"), "l");
  // The detail is the path as the user knows it.
  try {
    v.open("Dir\\none.txt");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.detail(), "C:\\Dir\\none.txt");
  }
}

TEST_P(VolumeTest, WriteProtectionRefusesEveryChange) {
  Volume& v = *v_;
  put(v, "file.txt", "f");
  v.makeFolder("Dir");
  auto pending = v.create("pending.txt");
  pending->write("p");
  pending->abort();
  protect();
  EXPECT_TRUE(v.writeProtected());
  struct Case {
    std::string what;
    std::function<void()> call;
  } cases[] = {
      {"create", [&] { put(v, "new.txt", "n"); }},
      {"replace", [&] { put(v, "file.txt", "n"); }},
      {"in place", [&] { v.writeInPlace("file.txt", "n", true); }},
      {"remove", [&] { v.remove("file.txt"); }},
      {"make a folder", [&] { v.makeFolder("New"); }},
      {"remove a folder", [&] { v.removeFolder("Dir"); }},
      {"rename", [&] { v.rename("file.txt", "other.txt"); }},
      {"attributes", [&] { v.setAttributes("file.txt", kReadOnly); }},
      {"times", [&] { v.setTimes("file.txt", {kWhen, std::nullopt, std::nullopt}); }},
  };
  for (const Case& c : cases) EXPECT_EQ(errorOf(c.call), kPermissionDenied) << c.what;
  EXPECT_EQ(v.readAll("file.txt"), "f");
  EXPECT_EQ(v.list("").size(), 2u);
  unprotect();
  EXPECT_FALSE(v.writeProtected());
  put(v, "file.txt", "after");
  EXPECT_EQ(v.readAll("file.txt"), "after");
}

TEST_P(VolumeTest, RenamesAndMoves) {
  if (keepsOnlyWhatTheHostCan()) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Volume& v = *v_;
  v.makeFolder("A");
  v.makeFolder("A\\Inner");
  v.makeFolder("B");
  put(v, "A\\one.txt", "1", {kHidden | kArchive, kWhen});
  put(v, "A\\Inner\\deep.txt", "deep");
  put(v, "B\\target.txt", "target");
  v.rename("A\\one.txt", "A\\ONE.TXT");  // letter case only: now an 8.3 name of its own
  EXPECT_EQ(v.find("A\\one.txt")->name, "ONE.TXT");
  v.rename("A\\ONE.TXT", "A\\A much longer name.txt");
  FileEntry e = *v.find("A\\A much longer name.txt");
  EXPECT_EQ(e.shortName, "AMUCHL~1.TXT");
  EXPECT_EQ(e.attributes, kHidden | kArchive);
  EXPECT_EQ(e.modified.toTime(), kWhen.toTime());
  v.rename("A\\AMUCHL~1.TXT", "B\\moved.txt");
  EXPECT_FALSE(v.find("A\\A much longer name.txt"));
  EXPECT_EQ(v.readAll("B\\moved.txt"), "1");
  v.rename("A\\Inner", "B\\Inner moved");  // a folder with what it holds
  EXPECT_EQ(v.readAll("B\\Inner moved\\deep.txt"), "deep");
  v.rename("B\\Inner moved", "Top");
  EXPECT_EQ(v.readAll("Top\\deep.txt"), "deep");
  FileEntry target = *v.find("B\\target.txt");
  v.rename("B\\moved.txt", "B\\target.txt", true);
  FileEntry replaced = *v.find("B\\target.txt");
  EXPECT_EQ(v.readAll("B\\target.txt"), "1");
  EXPECT_EQ(replaced.shortName, target.shortName);
  EXPECT_EQ(replaced.attributes, kHidden | kArchive);
  EXPECT_FALSE(v.find("B\\moved.txt"));
  EXPECT_TRUE(v.list("A").empty());
  v.removeFolder("A");
  EXPECT_FALSE(v.find("A"));
}

TEST_P(VolumeTest, AttributesAndTimes) {
  if (keepsOnlyWhatTheHostCan()) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Volume& v = *v_;
  put(v, "f.txt", "x");
  v.makeFolder("D");
  v.setAttributes("f.txt", kReadOnly | kHidden | kSystem);
  EXPECT_EQ(v.find("f.txt")->attributes, kReadOnly | kHidden | kSystem);
  v.setAttributes("D", kHidden | kDirectory);
  EXPECT_EQ(v.find("D")->attributes, kHidden | kDirectory);
  v.setAttributes("D", 0);  // a folder stays a folder
  EXPECT_EQ(v.find("D")->attributes, kDirectory);
  DateTime created{1999, 12, 31, 23, 59, 58}, accessed{2003, 4, 5, 0, 0, 0};
  v.setTimes("f.txt", {kWhen, created, accessed});
  FileEntry e = *v.find("f.txt");
  EXPECT_EQ(e.modified.toTime(), kWhen.toTime());
  EXPECT_EQ(e.created.toTime(), created.toTime());
  EXPECT_EQ(e.accessed.year, 2003);
  EXPECT_EQ(e.accessed.month, 4);
  EXPECT_EQ(e.accessed.day, 5);
  v.setAttributes("f.txt", 0);
  v.remove("f.txt");
}

TEST_P(VolumeTest, AReaderKeepsItsFile) {
  Volume& v = *v_;
  std::string old(70000, 'o');
  put(v, "f.bin", old);
  uint64_t freeBefore = v.space().freeBytes;
  auto r = v.open("f.bin");
  put(v, "f.bin", std::string(70000, 'n'));
  std::string got(old.size(), '\0');
  EXPECT_EQ(r->readAt(0, got.data(), got.size()), old.size());
  EXPECT_EQ(got, old);
  v.remove("f.bin");
  EXPECT_EQ(r->readAt(0, got.data(), got.size()), old.size());
  EXPECT_EQ(got, old);
  r.reset();
  EXPECT_EQ(v.space().freeBytes, freeBefore + v.space().clusterBytes * ((70000 + v.space().clusterBytes - 1) / v.space().clusterBytes));
}

TEST_P(VolumeTest, AFullDiskKeepsTheOldFileAndItsSpace) {
  Volume& v = *v_;
  put(v, "keep.bin", "old");
  Space before = v.space();
  EXPECT_GT(before.totalBytes, before.freeBytes);
  std::string big(static_cast<size_t>(before.freeBytes) + 4096, 'b');
  int error = errorOf([&] {
    auto w = v.create("keep.bin");
    for (size_t at = 0; at < big.size(); at += 65536) w->write(std::string_view(big).substr(at, 65536));
    w->commit();
  });
  EXPECT_EQ(error, kDiskFull);
  EXPECT_EQ(v.readAll("keep.bin"), "old");
  EXPECT_EQ(v.space().freeBytes, before.freeBytes);
  // What fits still goes in.
  put(v, "fits.bin", std::string(static_cast<size_t>(before.freeBytes) / 2, 'f'));
  EXPECT_LT(v.space().freeBytes, before.freeBytes);
}

std::vector<Target> targets() {
  return {{"Memory", std::nullopt},      {"Folder", std::nullopt, true}, {"Floppy", Kind::Floppy},
          {"Fat16", Kind::Fat16},         {"Fat32Mbr", Kind::Fat32Mbr}};
}

INSTANTIATE_TEST_SUITE_P(Every, VolumeTest, ::testing::ValuesIn(targets()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
