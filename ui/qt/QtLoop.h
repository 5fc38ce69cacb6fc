#pragma once
// The user-interface thread's loop on Qt: timer ticks arrive from a QTimer,
// so they keep coming while a modal message box or dialog runs its own loop.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "platform/timer.h"

namespace qtui {

class QtLoop : public QObject, public platform::EventLoop {
 public:
  QtLoop();
  int64_t nowMs() const override;
  void sleep(int ms) override;
  void doEvents() override;
  void timerStarted(platform::Timer& t) override;
  void timerStopped(platform::Timer& t) override;

 private:
  void onTimeout();
  void reschedule();
  QElapsedTimer clock_;
  QTimer wake_;
  int firing_ = 0;
};

}  // namespace qtui
