#include "app/watcher.h"

#include "app/program.h"
#include "platform/text.h"

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
  if (timer_->enabled() && job_ && !(job_ == job)) dropped_.push_back(job_);
  job_ = job;
  timer_->start();
}

void Watcher::closeDropped() {
  platform::WindowTable& windows = program_->context().windows;
  for (auto it = dropped_.begin(); it != dropped_.end();) {
    platform::HWND h = windows.find(title_, *it);
    if (h > 0) {
      windows.postClose(h);
      it = dropped_.erase(it);
    } else {
      ++it;
    }
  }
}

std::string toolFailedMessage(const std::string& tool, int exitStatus) {
  return tool + " failed with exit status " + std::to_string(exitStatus) + " .";
}

std::string toolReport(const std::string& output) {
  std::string ansi = platform::utf8ToAnsi(output), text;
  for (char c : ansi) {
    if (c == '\r') continue;
    text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  size_t b = text.find_first_not_of(" \t\r\n"), e = text.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
}

void Watcher::tick() {
  closeDropped();
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
