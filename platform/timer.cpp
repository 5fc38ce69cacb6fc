#include "platform/timer.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {

// --- Timer ------------------------------------------------------------------------

Timer::Timer(std::string name, int intervalMs) : name_(std::move(name)), interval_(intervalMs) {}

Timer::~Timer() {
  if (loop_) loop_->timerDestroyed(*this);
}

void Timer::attach(EventLoop& loop) {
  if (loop_ == &loop) return;
  if (loop_) loop_->timerDestroyed(*this);
  loop_ = &loop;
  if (enabled_) {
    due_ = loop.nowMs() + interval_;
    loop.timerStarted(*this);
  }
}

void Timer::start() {
  if (enabled_) return;
  enabled_ = true;
  if (loop_) {
    due_ = loop_->nowMs() + interval_;
    loop_->timerStarted(*this);
  }
}

void Timer::stop() {
  if (!enabled_) return;
  enabled_ = false;
  if (loop_) loop_->timerStopped(*this);
}

// As with the classic control, a new interval counts from now.
void Timer::setInterval(int ms) {
  interval_ = ms;
  if (enabled_ && loop_) due_ = loop_->nowMs() + interval_;
}

// --- EventLoop -------------------------------------------------------------------

EventLoop::~EventLoop() {
  for (Timer* t : timers_) t->loop_ = nullptr;
}

void EventLoop::timerStarted(Timer& t) {
  if (std::find(timers_.begin(), timers_.end(), &t) == timers_.end()) timers_.push_back(&t);
}

void EventLoop::timerStopped(Timer&) {}

void EventLoop::timerDestroyed(Timer& t) {
  timers_.erase(std::remove(timers_.begin(), timers_.end(), &t), timers_.end());
  t.loop_ = nullptr;
}

void EventLoop::fireDue(int64_t now) {
  // Each timer ticks at most once per call: re-armed after now, it cannot be
  // due again before the next call. An interval of 0 never ticks.
  for (;;) {
    Timer* next = nullptr;
    for (Timer* t : timers_) {
      if (t->enabled_ && t->interval_ > 0 && t->due_ <= now && (!next || t->due_ < next->due_)) next = t;
    }
    if (!next) return;
    next->due_ = now + next->interval_;
    auto tick = next->onTick;  // the tick may destroy its own timer
    if (tick) tick();
  }
}

int64_t EventLoop::nextDue() const {
  int64_t best = -1;
  for (const Timer* t : timers_) {
    if (t->enabled_ && t->interval_ > 0 && (best < 0 || t->due_ < best)) best = t->due_;
  }
  return best;
}

// --- VirtualClock ----------------------------------------------------------------

void VirtualClock::advance(int64_t ms) {
  const int64_t end = now_ + ms;
  for (;;) {
    if (onIdle) onIdle();
    int64_t due = nextDue();
    if (due < 0 || due > end) break;
    now_ = std::max(now_, due);
    fireDue(now_);
  }
  now_ = std::max(now_, end);
}

bool VirtualClock::advanceUntil(const std::function<bool()>& pred, int64_t limitMs,
                                int64_t realLimitMs) {
  using Clock = std::chrono::steady_clock;
  const auto realEnd = Clock::now() + std::chrono::milliseconds(realLimitMs);
  const int64_t end = now_ + limitMs;
  // Real waits between steps grow, so quick tools cost little virtual time
  // and slow ones still get their real seconds.
  int slice = 1;
  for (;;) {
    if (onIdle) onIdle();
    if (pred()) return true;
    if (now_ >= end) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(realEnd - Clock::now()).count();
    if (left > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(slice, left)));
      slice = std::min(slice * 2, 100);
      if (onIdle) onIdle();
      if (pred()) return true;
    }
    int64_t due = nextDue();
    int64_t step = due < 0 ? now_ + 100 : std::max(due, now_);
    now_ = std::min(step, end);
    fireDue(now_);
  }
}

// --- PlainLoop ----------------------------------------------------------------------

namespace {
int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

PlainLoop::PlainLoop() : start_(steadyMs()) {}

int64_t PlainLoop::nowMs() const { return steadyMs() - start_; }

void PlainLoop::sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void PlainLoop::doEvents() {
  if (onIdle) onIdle();
  fireDue(nowMs());
}

bool PlainLoop::runUntil(const std::function<bool()>& pred, int64_t timeoutMs) {
  const int64_t end = timeoutMs < 0 ? -1 : nowMs() + timeoutMs;
  for (;;) {
    doEvents();
    if (pred()) return true;
    int64_t now = nowMs();
    if (end >= 0 && now >= end) return false;
    // Wake for the next tick, and often enough to see what other threads did.
    int64_t wake = now + 10;
    int64_t due = nextDue();
    if (due >= 0) wake = std::min(wake, due);
    if (end >= 0) wake = std::min(wake, end);
    if (wake > now) std::this_thread::sleep_for(std::chrono::milliseconds(wake - now));
  }
}

}  // namespace platform
