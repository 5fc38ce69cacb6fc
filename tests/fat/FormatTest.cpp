// The 1.44 MB floppy as the library formats it, checked field by field and
// by every peer that reads floppies: mtools, fsck.fat, blkid, DOSBox.
#include <gtest/gtest.h>

#include "tests/fat/support.h"

using namespace platform;
using namespace testing_fat;

namespace {

uint32_t le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
  return v;
}

TEST(FloppyFormat, TheBootSectorIsWindows98s) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Floppy, "floppy.img");
  std::string b = slurp(img.path);
  ASSERT_EQ(b.size(), 1474560u);
  struct Field {
    const char* what;
    size_t at;
    int bytes;
    uint32_t value;
  } fields[] = {
      {"jump", 0, 3, 0x903CEB},   {"bytes per sector", 11, 2, 512}, {"sectors per cluster", 13, 1, 1},
      {"reserved", 14, 2, 1},     {"FATs", 16, 1, 2},               {"root entries", 17, 2, 224},
      {"sectors", 19, 2, 2880},   {"media", 21, 1, 0xF0},           {"sectors per FAT", 22, 2, 9},
      {"per track", 24, 2, 18},   {"heads", 26, 2, 2},              {"hidden", 28, 4, 0},
      {"large sectors", 32, 4, 0}, {"drive", 36, 1, 0},             {"boot signature", 38, 1, 0x29},
      {"signature", 510, 2, 0xAA55}, {"FAT start", 512, 3, 0xFFFFF0}, {"second FAT", 512 + 9 * 512, 3, 0xFFFFF0},
  };
  for (const Field& f : fields) EXPECT_EQ(le(b, f.at, f.bytes), f.value) << f.what;
  EXPECT_EQ(b.substr(3, 8), "MSWIN4.1");
  EXPECT_EQ(b.substr(43, 11), "NO NAME    ");
  EXPECT_EQ(b.substr(54, 8), "FAT12   ");
  EXPECT_NE(b.find("Non-system disk or disk error\r\nReplace and press any key when ready\r\n"), std::string::npos);
  EXPECT_EQ(b.substr(19 * 512, 14 * 512), std::string(14 * 512, '\0'));  // no label entry
  EXPECT_NE(le(b, 39, 4), 0u);                                           // a serial number

  std::string report;
  EXPECT_TRUE(fsckClean(img, &report)) << report;
  Result dirList = mtools("mdir", img, {"::/"});
  EXPECT_NE(dirList.out.find("Volume in drive : has no label"), std::string::npos) << dirList.out;
  EXPECT_NE(dirList.out.find("1 457 664 bytes free"), std::string::npos) << dirList.out;
  Result probe = testsupport::run({"blkid", "-p", img.path.string()}, kPeerBudget, {.mergeOutput = true});
  EXPECT_NE(probe.out.find("TYPE=\"vfat\""), std::string::npos) << probe.out;
  EXPECT_NE(probe.out.find("VERSION=\"FAT12\""), std::string::npos) << probe.out;
  auto v = mount(img, "A:");
  EXPECT_EQ(v->space().freeBytes, 1457664u);
  EXPECT_EQ(v->space().totalBytes, 1457664u);
}

TEST(FloppyFormat, FormattingReplacesTheOldDiskWhole) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Floppy, "floppy.img");
  {
    auto v = mount(img, "A:");
    v->writeInPlace("OLD.TXT", "old", false);
  }
  platform::fat::createFloppyImage(img.path);
  EXPECT_TRUE(mount(img, "A:")->list("").empty());
  for (auto& e : fs::directory_iterator(dir.path())) EXPECT_EQ(e.path().filename(), "floppy.img");
}

TEST(FloppyFormat, DosBoxReadsAndWritesIt) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Floppy, "floppy.img");
  {
    auto v = mount(img, "A:");
    v->makeFolder("Long Folder Name");
    auto w = v->create("Long Folder Name\\Some text file.txt");
    w->write("written by the library\r\n");
    w->commit();
  }
  fs::path c = dir / "c";
  fs::create_directories(c);
  spit(dir / "dosbox.conf", "[sdl]\noutput=surface\n[mixer]\nnosound=true\n[speaker]\npcspeaker=false\n");
  Result r = testsupport::run({"dosbox", "-conf", (dir / "dosbox.conf").string(), "-c", "mount c " + c.string(), "-c",
                               "imgmount a " + img.path.string() + " -t floppy", "-c",
                               "copy a:\\LONGFO~1\\SOMETE~1.TXT c:\\OUT.TXT", "-c", "echo from dosbox> a:\\DOSBOX.TXT",
                               "-c", "exit"},
                              std::chrono::seconds(60),
                              {.env = {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}}, .mergeOutput = true});
  EXPECT_EQ(slurp(c / "OUT.TXT"), "written by the library\r\n") << r.out;
  auto v = mount(img, "A:");
  EXPECT_EQ(v->readAll("DOSBOX.TXT"), "from dosbox\r\n");
  v.reset();
  std::string report;
  EXPECT_TRUE(fsckClean(img, &report)) << report;
}

}  // namespace
