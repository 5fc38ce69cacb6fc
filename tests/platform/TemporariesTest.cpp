// Temporaries of killed runs: named after their owner, removed by the next
// writer in their folder, while those of live runs stay.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/test_machine.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/temporaries.h"

using namespace platform;
using TempMachine = testsupport::TestMachine;
namespace fs = std::filesystem;

namespace {

// A process that has run and is gone: its id and start time.
std::pair<pid_t, std::string> goneProcess() {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::pause();
    ::_exit(0);
  }
  std::string started;
  for (int i = 0; i < 100 && started.empty(); ++i) started = processStartTime(pid);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return {pid, started};
}

void touch(const fs::path& p) { std::ofstream(p) << "partial"; }

std::vector<std::string> names(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Temporaries, TheNextWriterRemovesThoseOfGoneRunsOnly) {
  TempMachine tm;
  Machine m = tm.open();
  const fs::path win = tm.c() / "WINDOWS";
  auto [gone, goneStart] = goneProcess();
  ASSERT_FALSE(goneStart.empty());
  const std::string self = std::to_string(::getpid());
  struct {
    std::string name;
    bool folder;
    bool stays;
  } cases[] = {
      {".~brakvel-" + std::to_string(gone) + "-" + goneStart + "-0", false, false},  // a killed run
      {".~brakvel-" + std::to_string(gone) + "-" + goneStart + "-1", true, false},   // a set being built
      {".~brakvel-" + std::to_string(gone) + "-4", false, false},                    // named by older runs
      {".~brakvel-" + self + "-" + ownStartTime() + "-9", false, true},              // this run's own
      {".~brakvel-" + self + "-1-9", false, false},      // this id, but another process had it
      {".~brakvel-cab-Ab12Cd", false, true},             // no owner to tell: left alone
      {"~brakvel-" + std::to_string(gone) + "-0-0", false, true},  // not a temporary
  };
  for (auto& c : cases) {
    if (c.folder) {
      fs::create_directories(win / c.name / "sub");
      touch(win / c.name / "sub" / "SYSTEM.DAT");
      ::chmod((win / c.name / "sub").c_str(), 0555);
    } else {
      touch(win / c.name);
    }
  }
  writeFileAtomic(m, "C:\\WINDOWS\\Win.ini", "[windows]\r\n");
  std::vector<std::string> want = {"Win.ini"};
  for (auto& c : cases)
    if (c.stays) want.push_back(c.name);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(names(win), want);
  // Listings never show temporaries.
  DirEnum d;
  EXPECT_EQ(d.first(m, "C:\\WINDOWS\\*.*", kHidden | kSystem), "Win.ini");
  EXPECT_EQ(d.next(), "~brakvel-" + std::to_string(gone) + "-0-0");
  EXPECT_EQ(d.next(), "");
}

TEST(Temporaries, NamesCarryTheOwnerAndNeverRepeat) {
  std::string a = temporaries::newName(), b = temporaries::newName();
  EXPECT_NE(a, b);
  EXPECT_TRUE(temporaries::isTemporary(a));
  EXPECT_EQ(a.rfind(".~brakvel-" + std::to_string(::getpid()) + "-" + ownStartTime() + "-", 0), 0u) << a;
}

}  // namespace
