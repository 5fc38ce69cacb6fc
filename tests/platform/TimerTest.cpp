#include <gtest/gtest.h>

#include <memory>

#include "platform/launcher.h"
#include "platform/timer.h"

using namespace platform;

namespace {

// A finished-window watcher as the program's forms have them: looks for its
// title once per tick, closes the window and stops when it is there.
struct Watcher {
  Watcher(EventLoop& loop, WindowTable& table, std::string title, int interval, JobId job = {})
      : timer("watcher", interval), table(table), title(std::move(title)), job(job) {
    timer.attach(loop);
    timer.onTick = [this, &loop] {
      ++ticks;
      HWND h = this->job ? this->table.find(this->title, this->job) : this->table.find(this->title);
      if (h <= 0) return;
      found = this->table.get(h);
      this->table.postClose(h);
      timer.stop();
      foundAt = loop.nowMs();
      foundOnTick = ticks;
    };
  }
  Timer timer;
  WindowTable& table;
  std::string title;
  JobId job;
  int ticks = 0;
  int foundOnTick = 0;
  int64_t foundAt = -1;
  std::optional<FinishedWindow> found;
};

// Adds a finished window at a virtual time, as the launcher would.
struct FinishesAt {
  FinishesAt(EventLoop& loop, WindowTable& table, int atMs, std::string title, JobId job)
      : timer("tool", atMs) {
    timer.attach(loop);
    timer.onTick = [this, &table, title, job] {
      timer.stop();
      table.add(FinishedWindow{0, title, job, 0, true, ""});
    };
    timer.start();
  }
  Timer timer;
};

}  // namespace

TEST(Watchers, FindTheWindowOnTheTickAfterItAppears) {
  struct Case {
    int interval;
    int tick;
    int64_t at;
  } cases[] = {{2000, 3, 6000}, {1000, 5, 5000}, {5000, 1, 5000}, {3000, 2, 6000}};
  for (const auto& c : cases) {
    VirtualClock clock;
    WindowTable table;
    FinishesAt tool(clock, table, 5000, "Finished - pux", JobId{1});  // started first
    Watcher w(clock, table, "Finished - pux", c.interval);
    w.timer.start();
    clock.advance(20000);
    EXPECT_EQ(w.foundOnTick, c.tick) << c.interval;
    EXPECT_EQ(w.foundAt, c.at) << c.interval;
    EXPECT_FALSE(w.timer.enabled());
    EXPECT_EQ(table.find("Finished - pux"), 0);  // closed
  }
}

TEST(Watchers, IgnoreWindowsOfOtherTitles) {
  VirtualClock clock;
  WindowTable table;
  FinishesAt kvt(clock, table, 1000, "Finished - kvt", JobId{1});
  Watcher pux(clock, table, "Finished - pux", 1000);
  pux.timer.start();
  clock.advance(10000);
  EXPECT_EQ(pux.foundOnTick, 0);
  EXPECT_EQ(pux.ticks, 10);
  EXPECT_NE(table.find("Finished - kvt"), 0);
}

TEST(Watchers, TwoJobsOfOneTitleAreEachSeenOnlyByTheirOwnWatcher) {
  VirtualClock clock;
  WindowTable table;
  // Job 2 ends first, at 2500; job 1's watcher ticks right after that (both
  // watchers tick at 2500, job 1's first) and must leave it to job 2's.
  FinishesAt second(clock, table, 2500, "Finished - pux", JobId{2});
  FinishesAt first(clock, table, 7000, "Finished - pux", JobId{1});
  Watcher w1(clock, table, "Finished - pux", 1000, JobId{1});
  clock.advance(500);
  Watcher w2(clock, table, "Finished - pux", 2000, JobId{2});
  w1.timer.start();
  w2.timer.start();
  clock.advance(20000);
  ASSERT_TRUE(w1.found && w2.found);
  EXPECT_EQ(w1.found->job, JobId{1});
  EXPECT_EQ(w1.foundAt, 7500);
  EXPECT_EQ(w2.found->job, JobId{2});
  EXPECT_EQ(w2.foundAt, 2500);
  EXPECT_EQ(w2.foundOnTick, 1);
  EXPECT_TRUE(table.all().empty());
}

TEST(Timers, BehaveLikeTheFormTimer) {
  VirtualClock clock;
  std::vector<std::string> log;
  Timer a("a", 1000), b("b", 300);
  a.attach(clock);
  b.attach(clock);
  a.onTick = [&] { log.push_back("a" + std::to_string(clock.nowMs())); };
  b.onTick = [&] { log.push_back("b" + std::to_string(clock.nowMs())); };
  a.start();
  clock.advance(400);
  a.start();  // already running: nothing changes
  b.start();  // due at 700
  clock.advance(700);
  EXPECT_EQ(log, (std::vector<std::string>{"b700", "a1000", "b1000"}));
  log.clear();

  // Sleep blocks: nothing ticks, and the late ticks do not pile up.
  clock.sleep(5000);
  EXPECT_TRUE(log.empty());
  clock.doEvents();
  EXPECT_EQ(log, (std::vector<std::string>{"b6100", "a6100"}));  // earliest due first
  log.clear();

  a.stop();
  a.setInterval(200);
  EXPECT_FALSE(a.enabled());
  b.stop();
  a.start();
  clock.advance(450);
  EXPECT_EQ(log, (std::vector<std::string>{"a6300", "a6500"}));
  log.clear();

  // A new interval counts from now; an interval of 0 never ticks.
  clock.advance(100);  // 6650, next due 6700
  a.setInterval(500);
  clock.advance(400);
  EXPECT_TRUE(log.empty());
  clock.advance(100);
  EXPECT_EQ(log, (std::vector<std::string>{"a7150"}));
  a.setInterval(0);
  clock.advance(5000);
  EXPECT_EQ(log.size(), 1u);
}

TEST(Timers, TicksMayStopOrDestroyTimers) {
  VirtualClock clock;
  auto victim = std::make_unique<Timer>("victim", 100);
  victim->attach(clock);
  int victimTicks = 0;
  victim->onTick = [&] { ++victimTicks; };
  Timer killer("killer", 100);
  killer.attach(clock);
  killer.onTick = [&] {
    victim.reset();
    killer.stop();
  };
  killer.start();  // started first: ticks first at 100
  victim->start();
  clock.advance(1000);
  EXPECT_EQ(victimTicks, 0);
  // A timer that destroys itself in its own tick.
  auto self = std::make_unique<Timer>("self", 50);
  self->attach(clock);
  self->onTick = [&] { self.reset(); };
  self->start();
  clock.advance(200);
  EXPECT_FALSE(self);
  // A timer outliving its loop does not crash.
  Timer orphan("orphan", 10);
  {
    VirtualClock shortLived;
    orphan.attach(shortLived);
    orphan.start();
  }
  orphan.stop();
}

TEST(Timers, PlainLoopTicksInRealTime) {
  PlainLoop loop;
  Timer t("t", 20);
  t.attach(loop);
  int ticks = 0;
  t.onTick = [&] { ++ticks; };
  t.start();
  EXPECT_TRUE(loop.runUntil([&] { return ticks >= 3; }, 5000));
  EXPECT_GE(loop.nowMs(), 60);
  t.stop();
  EXPECT_FALSE(loop.runUntil([] { return false; }, 30));
  int64_t before = loop.nowMs();
  loop.sleep(20);
  EXPECT_GE(loop.nowMs() - before, 20);
}
