#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/test_machine.h"
#include "tests/support/wait.h"
#include "platform/tasks.h"

using namespace platform;
using TempMachine = testsupport::TestMachine;

namespace {

// A registered program in a child process; ignoring SIGTERM makes it one
// that does not close when asked.
pid_t startTask(const TempMachine& tm, const std::string& title, bool stubborn) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (stubborn) ::signal(SIGTERM, SIG_IGN);
    Machine m = tm.open();
    TaskRegistration reg(m, title);
    for (;;) ::pause();
  }
  return pid;
}

bool waitForTasks(const Machine& m, size_t n) {
  return testsupport::waitUntil([&] { return runningTasks(m).size() == n; }, std::chrono::seconds(5),
                                std::to_string(n) + " running programs");
}

}  // namespace

TEST(Tasks, CloseRequestsEndRegisteredPrograms) {
  TempMachine tm;
  Machine m = tm.open();
  pid_t a = startTask(tm, "Brakvel 9x", false);
  pid_t b = startTask(tm, "Registry Editor", false);
  ASSERT_TRUE(waitForTasks(m, 2));
  auto tasks = runningTasks(m);
  std::set<std::string> titles{tasks[0].title, tasks[1].title};
  EXPECT_EQ(titles, (std::set<std::string>{"Brakvel 9x", "Registry Editor"}));
  EXPECT_TRUE(closeAllTasks(m, 5000).empty());
  int status = 0;
  ASSERT_EQ(::waitpid(a, &status, 0), a);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  ::waitpid(b, &status, 0);
  EXPECT_TRUE(runningTasks(m).empty());
}

TEST(Tasks, ProgramsThatStayAreReported) {
  TempMachine tm;
  Machine m = tm.open();
  pid_t pid = startTask(tm, "Stubborn", true);
  ASSERT_TRUE(waitForTasks(m, 1));
  auto left = closeAllTasks(m, 150);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].pid, pid);
  EXPECT_EQ(left[0].title, "Stubborn");
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_TRUE(runningTasks(m).empty());
}

TEST(Tasks, StaleEntriesAreRemovedAndOwnRegistrationEnds) {
  TempMachine tm;
  Machine m = tm.open();
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  fs::create_directories(tm.dir() / ".run");
  std::ofstream(tm.dir() / ".run" / std::to_string(gone)) << "Crashed program\n";
  std::ofstream(tm.dir() / ".run" / "1") << "An old entry for a reused pid\n123\n";
  {
    TaskRegistration self(m, "This test");
    auto tasks = runningTasks(m);
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].pid, ::getpid());
    EXPECT_TRUE(closeAllTasks(m, 100).empty());  // never asks itself
  }
  EXPECT_TRUE(runningTasks(m).empty());
  EXPECT_TRUE(fs::is_empty(tm.dir() / ".run"));
}
