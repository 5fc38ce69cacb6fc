#include "app/watcher.h"

#include "app/program.h"

namespace app {

Watcher::Watcher(Program& program, platform::Timer& timer, std::string title, std::string tool,
                 Report report, Control& statusBar, platform::Timer& statusTimer,
                 std::string successMessage)
    : program_(&program),
      timer_(&timer),
      title_(std::move(title)),
      tool_(std::move(tool)),
      report_(report),
      statusBar_(&statusBar),
      statusTimer_(&statusTimer),
      successMessage_(std::move(successMessage)) {}

void Watcher::start(platform::JobId job) {
  job_ = job;
  timer_->start();
}

std::string toolFailedMessage(const std::string& tool, int exitStatus) {
  return tool + " failed with exit status " + std::to_string(exitStatus) + " .";
}

void Watcher::tick() {
  platform::WindowTable& windows = program_->context().windows;
  // Only the window of our own job: another job of the same title is
  // another watcher's business.
  platform::HWND h = windows.find(title_, job_);
  if (h <= 0) return;
  auto w = windows.get(h);
  lastStatus_ = w ? w->exitStatus : 0;
  lastOutput_ = w ? w->output : std::string();
  windows.postClose(h);
  timer_->stop();
  statusBar_->setText("Done .");
  if (lastStatus_ != 0) {
    if (onFailure) {
      onFailure(lastStatus_, lastOutput_);
    } else {
      program_->msgBox(toolFailedMessage(tool_, lastStatus_), MsgIcon::Exclamation);
    }
    statusTimer_->start();
    return;
  }
  if (report_ == Report::StatusThenContinue) {
    statusTimer_->start();
    if (onSuccess) onSuccess();
  } else {
    if ((!confirm || confirm()) && !successMessage_.empty())
      program_->msgBox(successMessage_, MsgIcon::Information);
    statusTimer_->start();
  }
}

}  // namespace app
