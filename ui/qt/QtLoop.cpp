#include "ui/qt/QtLoop.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

namespace qtui {

QtLoop::QtLoop() {
  clock_.start();
  wake_.setSingleShot(true);
  wake_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&wake_, &QTimer::timeout, this, [this] { onTimeout(); });
}

int64_t QtLoop::nowMs() const { return clock_.elapsed(); }

void QtLoop::sleep(int ms) {
  if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
}

void QtLoop::doEvents() {
  QCoreApplication::processEvents();
  ++firing_;
  fireDue(nowMs());
  --firing_;
  reschedule();
}

void QtLoop::timerStarted(platform::Timer& t) {
  EventLoop::timerStarted(t);
  reschedule();
}

void QtLoop::timerStopped(platform::Timer& t) {
  EventLoop::timerStopped(t);
  reschedule();
}

void QtLoop::onTimeout() {
  // A tick may open a modal box; the poll keeps the other timers going
  // inside it.
  ++firing_;
  wake_.start(10);
  fireDue(nowMs());
  --firing_;
  reschedule();
}

void QtLoop::reschedule() {
  int64_t due = nextDue();
  if (firing_ > 0) {
    // Inside a tick: never wait longer than the poll.
    int64_t wait = due < 0 ? 10 : std::clamp<int64_t>(due - nowMs(), 0, 10);
    wake_.start(static_cast<int>(wait));
    return;
  }
  if (due < 0) {
    wake_.stop();
    return;
  }
  wake_.start(static_cast<int>(std::max<int64_t>(0, due - nowMs())));
}

}  // namespace qtui
