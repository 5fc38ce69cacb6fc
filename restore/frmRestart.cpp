#include "restore/frmRestart.h"

#include "app/frmGlavni.h"
#include "app/program.h"
#include "platform/error.h"
#include "platform/files.h"
#include "restore/modReplaceFiles.h"

namespace app {

namespace {
constexpr const char* kOptions[3] = {
    "Yes, reboot my computer now",
    "No, I'll reboot my computer later",
    "No, cancel restore command",
};
}  // namespace

frmRestart::frmRestart(Program& program) : Form(program, "frmRestart") {
  setCaption(kAppTitle);
  setClientSize(345, 186);
  setBackColor(kWhite);
  Label1 = &add(ControlKind::Label, "Label1", 16, 14, 313, 20,
                "To finish restore it is necessary to reboot your computer.");
  Label1->setForeColor(kTextColor);
  Label1->setFont(Font{"MS Sans Serif", 8.25, true});
  for (int i = 0; i < 3; ++i) {
    Control& o = add(ControlKind::OptionButton, "optFinish", 32, 46 + 24 * i, 290, 20, kOptions[i], nullptr, i);
    o.setForeColor(kTextColor);
    optFinish[static_cast<size_t>(i)] = &o;
  }
  optFinish[0]->setValue(1);
  SmartNetButton1 = &add(ControlKind::Button, "SmartNetButton1", 232, 140, 97, 34, "Finish");
  SmartNetButton1->setForeColor(kTextColor);
  SmartNetButton1->setBackColor(kHighlight);
  SmartNetButton1->setCaptionBackColor(kHighlight);
  setDefaultButton(SmartNetButton1);
  SmartNetButton1->Click = [this] { SmartNetButton1_Click(); };
}

void frmRestart::Form_Load() { centre(); }

std::string frmRestart::restartCommand() const {
  return commandProgram(context().machine.env("WinDir").value_or("") + "\\RUNDLL32.EXE") +
         " shell32.dll,SHExitWindowsEx 2";
}

void frmRestart::SmartNetButton1_Click() {
  if (optFinish[0]->value()) {
    try {
      program().shell(restartCommand(), platform::WindowStyle::MinimizedFocus);
    } catch (const platform::Error& e) {
      program().msgBox(std::string("Windows could not be restarted : ") + e.what() +
                           "\r\nPlease ,restart your computer yourself to finish .",
                       MsgIcon::Exclamation);
    }
    return;  // the dialog stays open while Windows shuts the program down
  }
  if (optFinish[1]->value()) {
    Unload();
    return;
  }
  if (optFinish[2]->value()) {
    const platform::Machine& m = context().machine;
    frmGlavni& main = program().form<frmGlavni>();
    const std::string f = winInitPath(m);
    try {
      if (platform::fileExists(m, f)) {
        std::string rest = removeRenameLines(platform::readFile(m, f), main.ownRenameLines(),
                                             main.renameHeaderOurs);
        if (rest.empty())
          platform::deleteFile(m, f);
        else
          platform::writeFileAtomic(m, f, rest);
      }
      main.renameHeaderOurs = false;
    } catch (const platform::Error& e) {
      program().msgBox(std::string("The restore command could not be cancelled : ") + e.what(),
                       MsgIcon::Exclamation);
      return;
    }
    Unload();
  }
}

}  // namespace app
