#pragma once
// Timers whose ticks arrive on the user-interface thread, the classic Sleep
// and DoEvents, and two event loops: a virtual clock for tests and a plain
// real-time loop for headless runs. The Qt front end brings a third.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

class EventLoop;

// A form's timer control: an interval and Enabled. Enabling starts the
// interval from now; enabling a running timer changes nothing; a tick comes
// once per interval while enabled (late ticks do not pile up).
class Timer {
 public:
  Timer(std::string name, int intervalMs);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void attach(EventLoop& loop);  // once, before the first start
  void start();                  // Enabled = True
  void stop();                   // Enabled = False
  bool enabled() const { return enabled_; }
  int interval() const { return interval_; }
  void setInterval(int ms);
  const std::string& name() const { return name_; }
  int64_t due() const { return due_; }  // loop time of the next tick

  std::function<void()> onTick;

 private:
  friend class EventLoop;
  std::string name_;
  int interval_;
  bool enabled_ = false;
  int64_t due_ = 0;
  EventLoop* loop_ = nullptr;
};

// The user-interface thread's services.
class EventLoop {
 public:
  virtual ~EventLoop();
  virtual int64_t nowMs() const = 0;
  // Sleep: blocks the thread; no tick and no event runs meanwhile.
  virtual void sleep(int ms) = 0;
  // DoEvents: runs what is pending now (due ticks included), then returns.
  virtual void doEvents() = 0;

  // Called by Timer; loops that need it override and call the base.
  virtual void timerStarted(Timer& t);
  virtual void timerStopped(Timer& t);
  void timerDestroyed(Timer& t);

 protected:
  // Runs every enabled timer that is due at now, earliest first; each tick
  // re-arms its timer one interval after now.
  void fireDue(int64_t now);
  // Earliest due time among enabled timers, or -1.
  int64_t nextDue() const;
  std::vector<Timer*> timers_;
};

// Test clock: time moves only when the test says so.
class VirtualClock : public EventLoop {
 public:
  int64_t nowMs() const override { return now_; }
  void sleep(int ms) override { now_ += ms; }  // blocks: no tick fires
  void doEvents() override { fireDue(now_); }
  // Moves time forward to now+ms, firing every tick that falls due on the
  // way, in time order. Between steps it runs idle hooks (e.g. a launcher
  // reaping real child processes) so real tools can finish meanwhile.
  void advance(int64_t ms);
  // Advances in steps until pred() holds or virtual time limitMs has
  // passed; between steps it also waits real time (up to realLimitMs in
  // all) so that real child processes get to finish. True when pred held.
  bool advanceUntil(const std::function<bool()>& pred, int64_t limitMs,
                    int64_t realLimitMs = 60000);
  std::function<void()> onIdle;

 private:
  int64_t now_ = 0;
};

// Real-time loop for headless runs (script driver, tools).
class PlainLoop : public EventLoop {
 public:
  PlainLoop();
  int64_t nowMs() const override;
  void sleep(int ms) override;
  void doEvents() override;
  // Runs ticks in real time until pred() holds or timeoutMs passes
  // (negative: no limit). True when pred held.
  bool runUntil(const std::function<bool()>& pred, int64_t timeoutMs);
  std::function<void()> onIdle;

 private:
  int64_t start_;
};

}  // namespace platform
