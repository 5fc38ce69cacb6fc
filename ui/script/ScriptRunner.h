#pragma once
// Runs a script of user actions against the program's forms, headless, and
// writes the transcript. One action a line; "#" starts a comment line:
//   click NAME          a button, toolbar button, check box, option
//                       (optContinue(3)), a list as a whole, or a text box
//                       (a click into it)
//   menu KEY            a menu item by key
//   type NAME TEXT      replace a text box's text (its Change event runs)
//   select NAME ROWTEXT select the list row with that text and click the list
//   answer TEXT         the button or option to choose in the next modal
//                       dialog or message box (message boxes get OK otherwise)
//   wait                until no watcher polls, at most 60 s
//   sleep MS            let MS milliseconds pass, timers ticking
//   close               close the main window
//   print NAME          print: NAME: TEXT
// NAME may be qualified by its window (frmIntro.SmartNetButton1); otherwise
// it is that control on the topmost open window that has one. In TEXT, \r,
// \n, \t and \\ stand for those characters.
#include <atomic>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/headless_desktop.h"
#include "app/program.h"
#include "platform/error.h"
#include "platform/timer.h"

namespace script {

class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ScriptRunner;

// The headless desktop of a script: a modal window keeps the script's next
// lines for itself until it closes.
class ScriptDesktop : public app::HeadlessDesktop {
 public:
  ScriptRunner* runner = nullptr;
  // Visible forms, the topmost last.
  std::vector<app::Form*> stack;

  void showForm(app::Form& form, bool modal) override;
  void hideForm(app::Form& form) override;
  void formUnloaded(app::Form& form) override;

 protected:
  void runModal(app::Form& form) override;
};

class ScriptRunner {
 public:
  ScriptRunner(app::Program& program, ScriptDesktop& desktop, platform::PlainLoop& loop,
               std::vector<std::string> lines, std::ostream& out);

  // Starts the program as a start on the machine does, then runs every
  // line. Returns 0 when the script ran to its end; otherwise writes
  // "error: line N: WHAT" and returns 1.
  int run();

  // Set from a signal handler: the machine asks the program to close.
  static std::atomic<bool> closeRequested;

  // Runs lines while the modal form stays open.
  void runWhileOpen(app::Form& form);

 private:
  bool step();  // false at the end of the script
  void execute(const std::string& line);
  void pump();  // pending ticks, and a close request
  app::Control& resolve(const std::string& name, bool forInput);
  app::Form& topmostWithMenu();
  void checkInput(app::Form& form, const std::string& what);
  void print(const std::string& name);

  app::Program& program_;
  ScriptDesktop& desktop_;
  platform::PlainLoop& loop_;
  std::vector<std::string> lines_;
  size_t next_ = 0;
  std::ostream& out_;
};

// "\r\n" and friends in a script's TEXT; UTF-8 in, ANSI out.
std::string unescapeText(const std::string& text);

}  // namespace script
