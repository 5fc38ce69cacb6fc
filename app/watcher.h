#pragma once
// A finished-window watcher: one timer of the main window that polls, once
// per tick, for the "Finished - NAME" window of the one job it was started
// for. When the window is there it closes it, stops its timer, writes
// "Done ." and reports: a tool that ended with exit status 0 gets the
// success continuation, any other status a message with the exclamation
// icon naming the tool and its status, and no continuation.
#include <functional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "platform/launcher.h"
#include "platform/timer.h"

namespace app {

class Program;

class Watcher {
 public:
  enum class Report {
    StatusThenContinue,  // start the status-bar timer, then the continuation
    MessageThenStatus,   // the success message (modal), then the status-bar timer
  };
  Watcher(Program& program, platform::Timer& timer, std::string title, std::string tool,
          Report report, Control& statusBar, platform::Timer& statusTimer,
          std::string successMessage = {});

  // Call right after the tool has been started (start, then timer). A
  // second start while polling keeps the timer's rhythm and follows the
  // newer job: the older one's finished window is closed when it comes up,
  // and its result dropped.
  void start(platform::JobId job);
  // The timer's tick.
  void tick();

  bool polling() const { return timer_->enabled(); }
  platform::JobId job() const { return job_; }
  const std::string& title() const { return title_; }
  platform::Timer& timer() { return *timer_; }

  // StatusThenContinue: what runs after a success (may be empty).
  std::function<void()> onSuccess;
  // MessageThenStatus: runs before the success message; returning false
  // means it has reported a failure itself and the success message is not
  // shown.
  std::function<bool()> confirm;
  // A failed job (non-zero exit status): reports the failure in place of
  // the message naming the tool and its status.
  std::function<void(int exitStatus, const std::string& output)> onFailure;
  // The finished window's exit status and console output of the last job
  // seen, for continuations that report more.
  int lastExitStatus() const { return lastStatus_; }
  const std::string& lastOutput() const { return lastOutput_; }

 private:
  Program* program_;
  platform::Timer* timer_;
  std::string title_, tool_;
  Report report_;
  Control* statusBar_;
  platform::Timer* statusTimer_;
  std::string successMessage_;
  platform::JobId job_;
  std::vector<platform::JobId> dropped_;
  void closeDropped();
  int lastStatus_ = 0;
  std::string lastOutput_;
};

// The message for a tool that ended with a non-zero exit status.
std::string toolFailedMessage(const std::string& tool, int exitStatus);
// A tool's console output for a message box: ANSI, CR LF line ends, no
// blank lines around it.
std::string toolReport(const std::string& output);

}  // namespace app
