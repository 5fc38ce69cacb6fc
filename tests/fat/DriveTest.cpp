// The image file as the disk in a drive: its mode is the write protection,
// its name is the drive slot, its folder holds the journal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "tests/fat/support.h"

using namespace platform;
using namespace testing_fat;

namespace {

TEST(Drive, WriteProtectionIsTheImageFilesMode) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Floppy, "floppy.img");
  ::chmod(img.path.c_str(), 0444);
  auto v = mount(img, "A:");  // opened while protected
  EXPECT_TRUE(v->writeProtected());
  EXPECT_EQ(errorOf([&] { v->writeInPlace("X.TXT", "x", false); }), kPermissionDenied);
  ::chmod(img.path.c_str(), 0644);
  EXPECT_FALSE(v->writeProtected());
  v->writeInPlace("X.TXT", "x", false);
  EXPECT_EQ(v->readAll("X.TXT"), "x");
  // The machine's setting protects a writable image too.
  auto set = platform::fat::FatVolume::openImage(img.path, {"A:", true, std::chrono::milliseconds(1000)});
  EXPECT_TRUE(set->writeProtected());
  EXPECT_EQ(errorOf([&] { set->remove("X.TXT"); }), kPermissionDenied);
  EXPECT_EQ(set->readAll("X.TXT"), "x");
}

TEST(Drive, RemovingTheImageIsRemovingTheDisk) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Floppy, "floppy.img");
  auto v = mount(img, "A:");
  v->writeInPlace("FIRST.TXT", "1", false);
  auto reader = v->open("FIRST.TXT");
  fs::rename(img.path, dir / "elsewhere.img");
  EXPECT_EQ(errorOf([&] { v->list(""); }), kDiskNotReady);
  char c = 0;
  EXPECT_EQ(reader->readAt(0, &c, 1), 1u);  // still reads the disk it was opened on
  EXPECT_EQ(c, '1');
  reader.reset();
  platform::fat::createFloppyImage(img.path);  // another disk goes in
  EXPECT_TRUE(v->list("").empty());
  fs::rename(dir / "elsewhere.img", img.path);
  EXPECT_EQ(v->readAll("FIRST.TXT"), "1");
}

TEST(Drive, NoJournalNoWriting) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Floppy, "floppy.img");
  mount(img, "A:")->writeInPlace("KEEP.TXT", "keep", false);
  fs::create_directory(img.path.string() + ".journal");  // where the journal would go
  std::string before = slurp(img.path);
  auto v = mount(img, "A:");
  try {
    v->writeInPlace("NEW.TXT", "n", false);
    ADD_FAILURE() << "written without a journal";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kPermissionDenied);
    EXPECT_NE(std::string(e.what()).find(img.path.string() + ".journal cannot be made"), std::string::npos) << e.what();
  }
  EXPECT_EQ(slurp(img.path), before);
  EXPECT_EQ(v->readAll("KEEP.TXT"), "keep");
}

}  // namespace
