#include "app/program.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "dialogs/TipOfDay.h"
#include "dialogs/frmIntro.h"
#include "platform/error.h"
#include "platform/registry/registry.h"

namespace app {

Program::Program(Context context) : ctx_(std::move(context)) {}

Program::~Program() {
  // Views and observers may hold on to forms until here; timers go with
  // their forms before the loop they are attached to.
  forms_.clear();
  unloadedForms_.clear();
}

void Program::start() {
  Form& intro = form<frmIntro>();
  show(intro, false);
  if (ended_) return;
  if (preferenceNumber(getSetting("Show Tips at Startup", "1")) == 1) show(form<TipOfDay>(), true);
}

void Program::load(Form& f) {
  if (f.loaded_ || ended_) return;
  f.loaded_ = true;
  f.loading_ = true;
  loaded_.push_back(&f);
  ctx_.desktop.formLoaded(f);
  f.Form_Load();
  f.loading_ = false;
}

void Program::show(Form& f, bool modal) {
  if (ended_) return;
  bool wasLoaded = f.loaded_;
  load(f);
  if (!f.loaded_ || ended_) return;
  if (!wasLoaded && f.hiddenWhileLoading_) {
    // Form_Load hid the window: it stays hidden.
    f.hiddenWhileLoading_ = false;
    return;
  }
  f.visible_ = true;
  f.modal_ = modal;
  f.notify(nullptr, Change::Visible);
  ctx_.desktop.showForm(f, modal);
  if (modal && f.loaded_) f.modal_ = false;
}

void Program::hide(Form& f) {
  if (!f.loaded_) {
    load(f);  // Hide loads a form, as the classic Hide does
    if (!f.loaded_) return;
  }
  if (f.loading_) f.hiddenWhileLoading_ = true;
  if (!f.visible_) return;
  f.visible_ = false;
  f.modal_ = false;
  f.notify(nullptr, Change::Visible);
  ctx_.desktop.hideForm(f);
}

void Program::unload(Form& f, int unloadMode) {
  if (!f.loaded_ || f.unloading_) return;
  f.unloading_ = true;
  int cancel = 0;
  f.Form_QueryUnload(cancel, unloadMode);
  if (!cancel) f.Form_Unload(cancel);
  if (cancel) {
    f.unloading_ = false;
    return;
  }
  for (platform::Timer* t : f.timers_) t->stop();
  f.loaded_ = false;
  f.visible_ = false;
  f.modal_ = false;
  f.unloading_ = false;
  loaded_.erase(std::remove(loaded_.begin(), loaded_.end(), &f), loaded_.end());
  f.notify(nullptr, Change::Visible);
  ctx_.desktop.formUnloaded(f);
  // The next use of this kind of form makes a fresh one; this one lives on
  // until the end, since one of its handlers may still be running.
  for (auto it = forms_.begin(); it != forms_.end(); ++it) {
    if (it->second.get() == &f) {
      unloadedForms_.push_back(std::move(it->second));
      forms_.erase(it);
      break;
    }
  }
  if (loaded_.empty() && !ended_) {
    ended_ = true;
    ctx_.desktop.programEnded();
  }
}

Form* Program::loadedForm(std::string_view name) const {
  for (Form* f : loaded_)
    if (f->name() == name) return f;
  return nullptr;
}

void Program::closeAll() {
  while (!loaded_.empty() && !ended_) {
    Form* last = loaded_.back();
    unload(*last, vbAppWindows);
    if (!loaded_.empty() && loaded_.back() == last) break;  // refused to close
  }
}

int Program::msgBox(std::string_view text, MsgIcon icon, std::string_view title, int buttons) {
  return ctx_.desktop.messageBox(text, title.empty() ? std::string_view(kAppTitle) : title, icon,
                                 buttons);
}

platform::JobId Program::shell(std::string_view commandLine, platform::WindowStyle style) {
  ctx_.desktop.programStarted(commandLine, style);
  return ctx_.launcher.start(commandLine, style);
}

std::string Program::getSetting(std::string_view key, std::string_view defaultValue) const {
  return platform::GetSetting(ctx_.machine, ctx_.exeName, "Options", key, defaultValue);
}

void Program::saveSetting(std::string_view key, std::string_view value) {
  try {
    platform::SaveSetting(ctx_.machine, ctx_.exeName, "Options", key, value);
  } catch (const platform::Error&) {
  }
}

std::string commandProgram(std::string_view path) {
  if (path.find(' ') == std::string_view::npos) return std::string(path);
  return "\"" + std::string(path) + "\"";
}

int preferenceNumber(std::string_view text) {
  auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  if (text.empty() || text.size() > 30) return 1;
  // Decimal number, optionally signed, optionally with a fraction; the
  // classic conversion rounds to the nearest whole number.
  size_t i = 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  size_t digits = 0;
  double value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    value = value * 10 + (text[i++] - '0');
    ++digits;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    double scale = 0.1;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      value += (text[i++] - '0') * scale;
      scale /= 10;
      ++digits;
    }
  }
  if (digits == 0 || i != text.size() || value > 2e9) return 1;
  long rounded = std::lround(value);
  // Banker's rounding of the classic conversion for exact halves.
  if (value - static_cast<double>(static_cast<long>(value)) == 0.5 && (rounded % 2) != 0) --rounded;
  return static_cast<int>(negative ? -rounded : rounded);
}

}  // namespace app
