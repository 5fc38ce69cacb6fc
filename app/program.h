#pragma once
// The program: its forms (one instance of each kind, created when first
// used, as classic forms are), the loaded windows in load order, the
// start-up sequence, and the end when the last window is unloaded.
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "app/context.h"
#include "app/desktop.h"
#include "app/form.h"

namespace app {

class Program {
 public:
  explicit Program(Context context);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  Context& context() { return ctx_; }
  Desktop& desktop() { return ctx_.desktop; }

  // The form of type F, created (not loaded) on first use. After F has been
  // unloaded, the next use makes a fresh one.
  template <class F>
  F& form() {
    auto& slot = forms_[std::type_index(typeid(F))];
    if (!slot) slot = std::make_unique<F>(*this);
    return static_cast<F&>(*slot);
  }

  // The start-up sequence: the intro, then the tip of the day by the
  // preference. Returns when both steps are done (or the program ended).
  void start();

  // Load (runs Form_Load once), Show, Hide, Unload of a form.
  void load(Form& f);
  void show(Form& f, bool modal);
  void hide(Form& f);
  // Form_QueryUnload, Form_Unload, then the form is gone. When no loaded
  // form is left, the program has ended.
  void unload(Form& f, int unloadMode = vbFormCode);
  const std::vector<Form*>& loadedForms() const { return loaded_; }
  Form* loadedForm(std::string_view name) const;

  bool ended() const { return ended_; }
  // Closes every window, last loaded first (a request from outside: the
  // machine shuts down). The main window closes as the user closes it.
  void closeAll();

  // MsgBox: a title left empty is the program's title.
  int msgBox(std::string_view text, MsgIcon icon = MsgIcon::None, std::string_view title = {},
             int buttons = vbOKOnly);
  // The classic Shell: tells the desktop, then starts the command line
  // without waiting. Throws platform::Error when it cannot be started.
  platform::JobId shell(std::string_view commandLine, platform::WindowStyle style);

  // Preferences under the application name, section "Options". A
  // preference that cannot be stored (a full disk, a damaged User.dat) is
  // let go: the dialogs store one as they load, and the program must start.
  std::string getSetting(std::string_view key, std::string_view defaultValue) const;
  void saveSetting(std::string_view key, std::string_view value);

 private:
  Context ctx_;
  std::unordered_map<std::type_index, std::unique_ptr<Form>> forms_;
  std::vector<std::unique_ptr<Form>> unloadedForms_;  // kept until the end: handlers may still run
  std::vector<Form*> loaded_;
  bool ended_ = false;
};

// The program of a command line as the command line names it: in double
// quotes when its path holds a blank, so that a C:\Program.exe cannot run
// in its place.
std::string commandProgram(std::string_view path);

// A preference read as a number: decimal text, surrounding blanks allowed;
// text that is not a number reads as the default, 1.
int preferenceNumber(std::string_view text);

}  // namespace app
