// The finished-window watchers and the status-bar timer, on the virtual
// clock. Finished windows are put into the window table as the launcher
// leaves them when a job ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "TestMachine.h"
#include "app/frmGlavni.h"
#include "platform/files.h"

using testing::ElementsAre;

namespace {

class Watchers : public testing::Test {
 protected:
  void SetUp() override {
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    t.program->start();
    main = &t.program->form<app::frmGlavni>();
    t.newLines();
  }
  platform::HWND finish(const std::string& title, uint64_t job, int status = 0, bool hidden = true) {
    platform::FinishedWindow w;
    w.title = title;
    w.job = platform::JobId{job};
    w.exitStatus = status;
    w.hidden = hidden;
    return t.windows.add(w);
  }
  // Virtual time at which the watcher took its window.
  int64_t takenAt(app::Watcher& w, int64_t limit = 20000) {
    while (t.clock.nowMs() < limit) {
      t.clock.advance(1);
      if (!w.polling()) return t.clock.nowMs();
    }
    return -1;
  }

  apptest::TestProgram t;
  app::frmGlavni* main = nullptr;
};

TEST_F(Watchers, IntervalsAndTitles) {
  struct {
    app::Watcher* w;
    const char* title;
    int interval;
  } expected[] = {
      {&main->watchMakeCab, "Finished - kvt", 1000},     {&main->watchExtract, "Finished - pux", 2000},
      {&main->watchExtractWin, "Finished - pux", 1000},  {&main->watchExtractDisk, "Finished - pux", 1000},
      {&main->watchReinstallDisk, "Finished - pux", 1000},
  };
  for (auto& e : expected) {
    EXPECT_EQ(e.w->title(), e.title);
    EXPECT_EQ(e.w->timer().interval(), e.interval);
  }
  EXPECT_EQ(main->tmrStatusBar.interval(), 3000);
}

TEST_F(Watchers, AWindowFiveSecondsAfterTheStartIsSeenAtTheNextTick) {
  // tmrExtract (2000 ms) sees it on its third tick; a 1000 ms watcher on its fifth.
  struct {
    app::Watcher* w;
    int64_t expected;
  } cases[] = {{&main->watchExtract, 6000}, {&main->watchExtractWin, 5000}};
  uint64_t job = 10;
  for (auto& c : cases) {
    int64_t start = t.clock.nowMs();
    c.w->start(platform::JobId{++job});
    t.clock.advance(4999);
    EXPECT_TRUE(c.w->polling());
    finish("Finished - pux", job);
    EXPECT_EQ(takenAt(*c.w) - start, c.expected);
    EXPECT_TRUE(t.windows.all().empty());
    t.clock.advance(5000);
  }
}

TEST_F(Watchers, ExtractionShowsDoneStartsTheStatusTimerThenContinues) {
  std::vector<std::string> order;
  main->watchExtract.onSuccess = [&] {
    order.push_back("continuation");
    EXPECT_TRUE(main->tmrStatusBar.enabled());
    EXPECT_EQ(main->SBar->text(), "Done .");
  };
  main->watchExtract.start(platform::JobId{7});
  finish("Finished - pux", 7, 0, /*hidden=*/true);
  t.clock.advance(2000);
  EXPECT_THAT(order, ElementsAre("continuation"));
  EXPECT_FALSE(main->tmrExtract.enabled());
  t.clock.advance(2999);
  EXPECT_EQ(main->SBar->text(), "Done .");
  t.clock.advance(1);
  EXPECT_EQ(main->SBar->text(), "");
  EXPECT_FALSE(main->tmrStatusBar.enabled());
  EXPECT_THAT(t.newLines(), ElementsAre("status: Done .", "status: "));
}

TEST_F(Watchers, SuccessMessagesKeepDoneUntilTheyAreClosed) {
  struct {
    app::Watcher* w;
    const char* title;
    const char* message;
  } cases[] = {
      {&main->watchMakeCab, "Finished - kvt", "Backup archive successfully created ."},
      {&main->watchExtractDisk, "Finished - pux", "Automated rescue disk successfully created ."},
      {&main->watchReinstallDisk, "Finished - pux",
       "Automated clean Windows reinstall disk successfully created ."},
  };
  // The disk watchers confirm that the batch file reached the floppy.
  std::filesystem::create_directories(t.dir / "drive_a");
  platform::writeFile(*t.machine, "A:\\Autoexec.bat", "@ECHO OFF\r\n");
  // The backup screens also ask for the archive itself (tests/backup).
  main->watchMakeCab.confirm = nullptr;
  uint64_t job = 100;
  for (auto& c : cases) {
    bool statusTimerDuringMessage = true;
    t.desktop.onMessage = [&](const std::string&, app::MsgIcon, const std::string&) {
      statusTimerDuringMessage = main->tmrStatusBar.enabled();
      EXPECT_EQ(main->SBar->text(), "Done .");
    };
    c.w->start(platform::JobId{++job});
    finish(c.title, job);
    t.clock.advance(1000);
    EXPECT_FALSE(statusTimerDuringMessage);
    EXPECT_THAT(t.newLines(), ElementsAre("status: Done .",
                                          std::string("message: Brakvel 9x | information | ") + c.message));
    EXPECT_TRUE(main->tmrStatusBar.enabled());
    t.clock.advance(3000);
    EXPECT_THAT(t.newLines(), ElementsAre("status: "));
  }
}

TEST_F(Watchers, AFailedToolIsReportedAndNotContinued) {
  bool continued = false;
  main->watchExtract.onSuccess = [&] { continued = true; };
  main->watchExtract.onFailure = nullptr;  // the restore screens name what failed (tests/restore)
  main->watchExtract.start(platform::JobId{5});
  finish("Finished - pux", 5, 3);
  // The backup screens report the cabinet maker's own words (tests/backup).
  main->watchMakeCab.onFailure = nullptr;
  main->watchMakeCab.start(platform::JobId{6});
  finish("Finished - kvt", 6, 1);
  t.clock.advance(2000);
  EXPECT_FALSE(continued);
  EXPECT_FALSE(main->anyWatcherPolling());
  auto messages = t.linesStartingWith("message: ");
  EXPECT_THAT(messages, ElementsAre("message: Brakvel 9x | exclamation | Makecab.exe failed with exit status 1 .",
                                    "message: Brakvel 9x | exclamation | pux.exe failed with exit status 3 ."));
  EXPECT_TRUE(t.windows.all().empty());
}

TEST_F(Watchers, AStartedAgainWatcherDropsTheOlderJob) {
  std::vector<int> results;
  main->watchExtract.onSuccess = [&] { results.push_back(main->watchExtract.lastExitStatus()); };
  main->watchExtract.onFailure = [&](int status, const std::string&) { results.push_back(status); };
  main->watchExtract.start(platform::JobId{7});
  main->watchExtract.start(platform::JobId{8});
  finish("Finished - pux", 7, 5);  // the older ends first, and fails
  t.clock.advance(2000);
  EXPECT_TRUE(results.empty());
  EXPECT_TRUE(t.windows.all().empty());  // its window is closed all the same
  EXPECT_TRUE(main->watchExtract.polling());
  finish("Finished - pux", 8, 0);
  t.clock.advance(2000);
  EXPECT_EQ(results, std::vector<int>{0});
  EXPECT_TRUE(t.windows.all().empty());
}

TEST_F(Watchers, EachWatcherTakesOnlyItsOwnJobsWindow) {
  // Two extractions at once with the same title: each watcher waits for its own.
  std::vector<std::string> order;
  main->watchExtract.onSuccess = [&] { order.push_back("extract"); };
  main->watchExtractWin.onSuccess = [&] { order.push_back("extractWin"); };
  main->watchExtract.start(platform::JobId{1});
  main->watchExtractWin.start(platform::JobId{2});
  finish("Finished - pux", 1);
  t.clock.advance(1000);  // only tmrExtractWin ticks: the window is not its job's
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(t.windows.all().size(), 1u);
  t.clock.advance(1000);
  EXPECT_THAT(order, ElementsAre("extract"));
  EXPECT_TRUE(main->watchExtractWin.polling());
  finish("Finished - pux", 2);
  t.clock.advance(1000);
  EXPECT_THAT(order, ElementsAre("extract", "extractWin"));
}

TEST_F(Watchers, TitlesOfOtherToolsAreIgnored) {
  main->watchMakeCab.start(platform::JobId{1});
  main->watchExtractDisk.start(platform::JobId{2});
  finish("Finished - pux", 1);
  finish("Finished - kvt", 2);
  t.clock.advance(10000);
  EXPECT_TRUE(main->watchMakeCab.polling());
  EXPECT_TRUE(main->watchExtractDisk.polling());
  EXPECT_TRUE(t.newLines().empty());
}

TEST_F(Watchers, AStoppedWatcherStartsAfreshForTheNextJob) {
  main->watchMakeCab.start(platform::JobId{1});
  finish("Finished - kvt", 1);
  t.clock.advance(1000);
  EXPECT_FALSE(main->watchMakeCab.polling());
  int64_t start = t.clock.nowMs();
  t.clock.advance(500);
  main->watchMakeCab.start(platform::JobId{2});
  finish("Finished - kvt", 2);
  EXPECT_EQ(takenAt(main->watchMakeCab) - start, 1500);
  EXPECT_EQ(t.linesStartingWith("message: ").size(), 2u);
}

TEST_F(Watchers, ClosingTheMainWindowStopsEveryTimer) {
  main->watchExtract.start(platform::JobId{1});
  main->tmrStatusBar.start();
  main->userClose();
  EXPECT_TRUE(t.program->ended());
  for (platform::Timer* timer : main->timers()) EXPECT_FALSE(timer->enabled()) << timer->name();
}

}  // namespace

#if defined(BRAKVEL9X_COMMAND_EXE) && defined(BRAKVEL9X_PUX_EXE)
namespace {

// Real jobs: a batch file run by the machine's command interpreter, as the
// archiver's kvt.bat is, ending well or with the extractor's failure.
class RealJobs : public Watchers {
 protected:
  void SetUp() override {
    Watchers::SetUp();
    link(BRAKVEL9X_COMMAND_EXE, "C:\\WINDOWS\\COMMAND.COM");
    link(BRAKVEL9X_PUX_EXE, "C:\\Program Files\\Brakvel 9x\\util\\pux.exe");
  }
  void link(const char* built, const char* winPath) {
    std::filesystem::create_symlink(built, t.machine->toHost(winPath));
  }
  std::string runBatch(const std::string& body) {
    const std::string bat = "C:\\Program Files\\Brakvel 9x\\util\\kvt.bat";
    platform::writeFile(*t.machine, bat, "@Echo Off\r\n" + body);
    // The title comes from the name as written: "Finished - kvt".
    platform::JobId job = t.program->shell(t.machine->shortPath(platform::winDirName(bat)) + "\\kvt.bat",
                                           platform::WindowStyle::Hide);
    // The backup screens' own archive check and report are tested in tests/backup.
    main->watchMakeCab.confirm = nullptr;
    main->watchMakeCab.onFailure = nullptr;
    main->watchMakeCab.start(job);
    EXPECT_TRUE(t.clock.advanceUntil([&] { return !main->watchMakeCab.polling(); }, 120000));
    auto messages = t.linesStartingWith("message: ");
    return messages.empty() ? std::string() : messages.back();
  }
};

TEST_F(RealJobs, ABatchThatEndsWellIsASuccess) {
  EXPECT_EQ(runBatch("REM nothing to do\r\n"), "message: Brakvel 9x | information | Backup archive successfully created .");
  EXPECT_TRUE(t.windows.all().empty());
}

TEST_F(RealJobs, AFailingToolIsNamedWithItsExitStatus) {
  std::string message = runBatch("C:\\PROGRA~1\\BRAKVE~1\\UTIL\\PUX.EXE /E C:\\NOSUCH.KVT\r\n");
  EXPECT_EQ(message.rfind("message: Brakvel 9x | exclamation | Makecab.exe failed with exit status ", 0), 0u)
      << message;
  EXPECT_EQ(message.find("exit status 0 "), std::string::npos);
}

}  // namespace
#endif
