#pragma once
// What the forms need from a front end: message boxes, showing and hiding
// windows, the help viewer, and word of what the program starts. The Qt
// views implement it for people; the headless desktop for scripts and tests.
#include <string>
#include <string_view>
#include <vector>

#include "platform/launcher.h"

namespace app {

class Form;

enum class MsgIcon : int { None = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };
const char* msgIconName(MsgIcon icon);  // "none", "critical", "question", "exclamation", "information"

// Buttons of a message box and the answers, with the classic numbers.
enum MsgButtons : int { vbOKOnly = 0, vbOKCancel = 1, vbAbortRetryIgnore = 2, vbYesNoCancel = 3, vbYesNo = 4, vbRetryCancel = 5 };
enum MsgResult : int { vbOK = 1, vbCancel = 2, vbAbort = 3, vbRetry = 4, vbIgnore = 5, vbYes = 6, vbNo = 7 };
const char* msgResultCaption(int result);  // "OK", "Cancel", "Yes", ...
// The buttons of a message box, in order (the first is the default).
std::vector<int> messageButtons(int buttons);

class Desktop {
 public:
  virtual ~Desktop();

  // A modal message box; returns when the user has closed it (timers keep
  // ticking meanwhile) with the button pressed.
  virtual int messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                         int buttons = vbOKOnly) = 0;

  // A form has been loaded (its controls exist; Form_Load runs next).
  virtual void formLoaded(Form& form) = 0;
  // Show a loaded form. Modal: returns only when the form has been hidden
  // or unloaded, or the program has ended.
  virtual void showForm(Form& form, bool modal) = 0;
  virtual void hideForm(Form& form) = 0;
  // The form is gone; drop every reference to it.
  virtual void formUnloaded(Form& form) = 0;

  // The help viewer: at a context number, or at the contents.
  virtual void showHelp(std::string_view helpFile, int context) = 0;
  virtual void showHelpContents(std::string_view helpFile) = 0;

  // The program has asked the platform to start a command line.
  virtual void programStarted(std::string_view commandLine, platform::WindowStyle style) = 0;
  // The last window is gone.
  virtual void programEnded() = 0;

  // Screen size in pixels, for centring dialogs.
  virtual int screenWidth() const { return 1024; }
  virtual int screenHeight() const { return 768; }
};

}  // namespace app
