// A process that writes through the library, killed at random moments: each
// file stays some version whole, a set stays one version, fsck.fat finds
// lost clusters at worst, and the next session leaves it nothing to find.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "tests/fat/support.h"

using namespace platform;
using namespace testing_fat;
using testsupport::Child;

namespace {

struct Workflow {
  std::string name;
  Kind kind;
  std::vector<std::string> files;  // written together as one set each round
  size_t size;
  int padding;  // entries made first, so that the set's entries lie in several pages
};

class Kills : public ::testing::TestWithParam<Workflow> {};

TEST_P(Kills, LeaveOldOrNewAndLostClustersAtWorst) {
  const Workflow& w = GetParam();
  TempDir dir;
  Image img = makeImage(dir.path(), w.kind, "disk.img");
  {
    auto v = mount(img);
    if (w.files.front().find('\\') != std::string::npos) v->makeFolder(w.files.front().substr(0, w.files.front().find('\\')));
    for (size_t i = 0; i < w.files.size(); ++i) {
      v->writeInPlace(w.files[i], versionBytes(w.files[i], 1, w.size), false);
      for (int k = 0; k < w.padding; ++k)
        v->writeInPlace("Padding entry " + std::to_string(i) + "-" + std::to_string(k) + ".txt", "p", false);
    }
  }
  std::mt19937 random(20240611u);
  std::uniform_int_distribution<int> delay(15, 140);  // ms: past the start, inside the writing
  int interrupted = 0, journals = 0;
  int last = 1;
  for (int round = 0; round < 10; ++round) {
    std::vector<std::string> argv{FAT_DRIVER, img.path.string(), "cycle", std::to_string(last + 1), "100000",
                                  std::to_string(w.size)};
    argv.insert(argv.end(), w.files.begin(), w.files.end());
    Child killed(argv);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
    killed.kill();
    journals += fs::exists(img.path.string() + ".journal");

    // Before any session of ours: only what a kill may leave.
    EXPECT_EQ(fsckBeyondKill(img), "") << "round " << round;
    for (const std::string& f : w.files) {
      std::string dos = "::/" + f;
      for (char& c : dos)
        if (c == '\\') c = '/';
      std::string bytes = mtools("mtype", img, {dos}).out;
      EXPECT_TRUE(versionOf(f, bytes, w.size)) << f << " is no version whole after round " << round;
    }
    // The next session: the set is one version, and nothing is left to repair.
    {
      auto v = mount(img);
      std::optional<int> first;
      for (const std::string& f : w.files) {
        std::optional<int> k = versionOf(f, v->readAll(f), w.size);
        ASSERT_TRUE(k) << f << " after round " << round;
        if (!first) first = k;
        EXPECT_EQ(k, first) << "a mixed set after round " << round;
      }
      if (*first > last) ++interrupted;
      EXPECT_GE(*first, last);
      last = *first;
    }
    std::string report;
    EXPECT_TRUE(fsckClean(img, &report)) << "round " << round << ":\n" << report;
    EXPECT_FALSE(fs::exists(img.path.string() + ".journal"));
  }
  // Some kills landed while a session was writing (it left its journal),
  // and the writer got on between kills.
  EXPECT_GE(journals, 2);
  EXPECT_GE(interrupted, 3);
}

std::vector<Workflow> workflows() {
  return {
      {"FloppyOneFile", Kind::Floppy, {"RESCUE.BIN"}, 300000, 0},
      {"FloppyRootSet", Kind::Floppy, {"Autoexec.bat", "SYSTEM.DAT", "Long named user file.dat"}, 40000, 20},
      {"Fat32FolderSet", Kind::Fat32Mbr, {"Exchange\\System.dat", "Exchange\\User.dat"}, 200000, 0},
  };
}

INSTANTIATE_TEST_SUITE_P(Workflows, Kills, ::testing::ValuesIn(workflows()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
