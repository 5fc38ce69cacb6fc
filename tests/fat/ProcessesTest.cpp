// Several processes on one image: each sees what the others wrote, waits
// while another holds the image, and none spoils another's work.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/fat/support.h"

using namespace platform;
using namespace testing_fat;
using testsupport::Child;

namespace {

TEST(Processes, EachSeesWhatAnotherWroteAtOnce) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Floppy, "floppy.img");
  auto v = mount(img, "A:");
  // Back and forth without pause: the other process's change lands within
  // the same clock tick as ours, and must still be seen.
  for (int i = 0; i < 12; ++i) {
    std::string mine = "MINE" + std::to_string(i) + ".TXT", theirs = "THEIRS" + std::to_string(i) + ".TXT";
    v->writeInPlace(mine, "m" + std::to_string(i), false);
    ASSERT_EQ(testsupport::run({FAT_DRIVER, img.path.string(), "put", theirs}, kPeerBudget, {.input = "t" + std::to_string(i)})
                  .status,
              0);
    EXPECT_EQ(v->readAll(theirs), "t" + std::to_string(i));
    EXPECT_EQ(testsupport::run({FAT_DRIVER, img.path.string(), "get", mine}, kPeerBudget).out, "m" + std::to_string(i));
    ASSERT_EQ(testsupport::run({FAT_DRIVER, img.path.string(), "rm", mine}, kPeerBudget).status, 0);
    EXPECT_FALSE(v->find(mine)) << i;
  }
  EXPECT_EQ(v->list("").size(), 12u);
  v.reset();
  std::string report;
  EXPECT_TRUE(fsckClean(img, &report)) << report;
}

TEST(Processes, AnOpenReaderElsewhereHoldsTheImage) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Floppy, "floppy.img");
  {
    auto v = mount(img, "A:");
    v->writeInPlace("HELD.TXT", "held", false);
  }
  auto v = platform::fat::FatVolume::openImage(img.path, {"A:", false, std::chrono::milliseconds(0)});
  Child holder({FAT_DRIVER, img.path.string(), "hold", "HELD.TXT", "30"});
  ASSERT_EQ(holder.readLine(), "open");
  EXPECT_EQ(errorOf([&] { v->writeInPlace("NEW.TXT", "n", false); }), kPermissionDenied);
  try {
    v->list("");
    ADD_FAILURE() << "listed while another process held the image";
  } catch (const Error& e) {
    EXPECT_EQ(e.detail(), img.path.string() + ": in use by another program");
  }
  holder.kill();
  v->writeInPlace("NEW.TXT", "n", false);
  EXPECT_EQ(v->readAll("HELD.TXT"), "held");
}

TEST(Processes, TwoWritersAtOnceBothFinishWhole) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Fat16, "disk.img");
  Child one({FAT_DRIVER, img.path.string(), "cycle", "1", "25", "20000", "ONE.BIN", "TWO.BIN"});
  Child two({FAT_DRIVER, img.path.string(), "cycle", "1", "25", "30000", "THREE.BIN"});
  EXPECT_EQ(one.wait(kPeerBudget), 0);
  EXPECT_EQ(two.wait(kPeerBudget), 0);
  auto v = mount(img);
  EXPECT_EQ(versionOf("ONE.BIN", v->readAll("ONE.BIN"), 20000), 25);
  EXPECT_EQ(versionOf("TWO.BIN", v->readAll("TWO.BIN"), 20000), 25);
  EXPECT_EQ(versionOf("THREE.BIN", v->readAll("THREE.BIN"), 30000), 25);
  v.reset();
  std::string report;
  EXPECT_TRUE(fsckClean(img, &report)) << report;
}

}  // namespace
