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

void PrintTo(const Workflow& w, std::ostream* os) { *os << w.name; }

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
  // A kill lands at a random point of a cycle whose length is measured
  // first, so a slow build (sanitizers) is hit as a fast one is. Rounds go
  // on until kills have landed both inside a commit (its journal is left)
  // and outside one, within a bound.
  std::mt19937 random(20240611u);
  std::uniform_real_distribution<double> within(0.0, 1.0);
  int inCommit = 0, elsewhere = 0;
  int last = 1;
  int round = 0;
  for (; round < 40 && (round < 10 || inCommit < 2 || elsewhere < 2); ++round) {
    std::vector<std::string> argv{FAT_DRIVER, img.path.string(), "cycle", std::to_string(last + 1), "100000",
                                  std::to_string(w.size)};
    argv.insert(argv.end(), w.files.begin(), w.files.end());
    Child killed(argv);
    // The last version it reported is committed; the one after may be too.
    int reported = last;
    auto report = [&] {
      std::string line = killed.readLine();
      if (!line.empty()) reported = std::stoi(line);
      return !line.empty();
    };
    ASSERT_TRUE(report()) << "round " << round;
    const auto begun = std::chrono::steady_clock::now();
    ASSERT_TRUE(report()) << "round " << round;
    const auto cycle = std::chrono::steady_clock::now() - begun;
    if (round % 2 == 0) {
      std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(cycle * within(random)));
    } else {
      // Every other kill waits for a commit to begin, so the recovery from
      // its journal is tested however short the commits are next to the rest.
      const auto until = std::chrono::steady_clock::now() + 2 * cycle + std::chrono::seconds(1);
      while (!fs::exists(img.path.string() + ".journal") && std::chrono::steady_clock::now() < until) {
      }
      std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int>(200 * within(random))));
    }
    killed.kill();
    while (report()) {
    }
    const bool journal = fs::exists(img.path.string() + ".journal");
    (journal ? inCommit : elsewhere) += 1;

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
      EXPECT_GE(*first, reported) << "a reported commit lost in round " << round;
      EXPECT_LE(*first, reported + 1) << "round " << round;
      last = *first;
    }
    std::string fsck;
    EXPECT_TRUE(fsckClean(img, &fsck)) << "round " << round << ":\n" << fsck;
    EXPECT_FALSE(fs::exists(img.path.string() + ".journal"));
  }
  RecordProperty("rounds", round);
  RecordProperty("inCommit", inCommit);
  EXPECT_GE(inCommit, 2) << "in " << round << " rounds";
  EXPECT_GE(elsewhere, 2) << "in " << round << " rounds";
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
