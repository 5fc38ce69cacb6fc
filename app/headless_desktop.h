#pragma once
// A desktop without a screen, for the script driver and the tests. It keeps
// a transcript, one event a line:
//   status: TEXT                     the status bar's text changed
//   message: TITLE | ICON | TEXT     a message box (answered at once)
//   start: STYLE COMMANDLINE         a program was started
//   help: N / help: contents         the help viewer was asked for
//   dialog: NAME                     a form became visible
//   screen: NAME                     a panel was brought to the front
//   print: NAME: TEXT                (written by the script driver)
//   exit                             the last window is gone
// Texts are shown in UTF-8 with CR and LF written as \r and \n.
#include <deque>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/desktop.h"

namespace app {

class Program;

// A script or test asked for something the windows do not have.
class AnswerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class HeadlessDesktop : public Desktop {
 public:
  HeadlessDesktop();
  ~HeadlessDesktop() override;

  // Every transcript line, in order.
  std::vector<std::string> lines;
  // Called with each new line (the script driver prints it).
  std::function<void(const std::string&)> onLine;
  void addLine(std::string line);

  // Answers for the coming modal dialogs and message boxes, first first: the
  // caption of a button, or of an option (then the dialog's default button
  // is pressed). A message box without an answer is closed with OK (or its
  // first button).
  std::deque<std::string> answers;
  // Runs while a modal form is open and unanswered; when it returns with
  // the form still open, the modal call returns anyway.
  std::function<void(Form&)> onModal;
  // Runs when a message box comes up, before it is answered.
  std::function<void(const std::string& title, MsgIcon, const std::string& text)> onMessage;

  int messageBox(std::string_view text, std::string_view title, MsgIcon icon, int buttons) override;
  void formLoaded(Form& form) override;
  void showForm(Form& form, bool modal) override;
  void hideForm(Form& form) override;
  void formUnloaded(Form& form) override;
  void showHelp(std::string_view helpFile, int context) override;
  void showHelpContents(std::string_view helpFile) override;
  void programStarted(std::string_view commandLine, platform::WindowStyle style) override;
  void programEnded() override;

  // Applies an answer to an open modal form: clicks the button with that
  // caption, or selects the option and presses the default button. Throws
  // AnswerError when the form has neither.
  static void answerForm(Form& form, const std::string& answer);
  // Transcript form of a text.
  static std::string escape(std::string_view ansi);

 protected:
  // While a modal form is open and unanswered.
  virtual void runModal(Form& form);

 private:
  std::set<Form*> shown_;
};

}  // namespace app
