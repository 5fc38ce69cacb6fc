#include "dialogs/frmIntro.h"

#include "app/frmGlavni.h"
#include "app/program.h"

namespace app {

namespace {
constexpr IntroTask kTasks[kIntroTaskCount] = {
    {"Make Brakvel 9x backup", 1},
    {"Import - Convert Windows embeded backup archive", 2},
    {"Restore system from KVT backup", 3},
    {"Make automated rescue system disk", 4},
    {"Undo last change made by Brakvel 9x", 5},
    {"Make clean Windows reinstall disk", 6},
    {"Manage spyware blocking", 7},
};
}  // namespace

const IntroTask& introTask(int index) { return kTasks[index]; }

frmIntro::frmIntro(Program& program) : Form(program, "frmIntro") {
  setCaption(kAppTitle);
  setClientSize(430, 312);
  setBackColor(kWhite);
  add(ControlKind::Image, "Image1", 0, 0, 120, 312).setPicture("intro");
  Label1 = &add(ControlKind::Label, "Label1", 134, 14, 284, 22, "What would you like to do :");
  Label1->setFont(Font{"MS Sans Serif", 12, true});
  Label1->setForeColor(kTextColor);
  for (int i = 0; i < kIntroTaskCount; ++i) {
    Control& o = add(ControlKind::OptionButton, "optContinue", 144, 46 + 23 * i, 276, 20,
                     kTasks[i].caption, nullptr, i);
    o.setForeColor(kTextColor);
    optContinue[static_cast<size_t>(i)] = &o;
  }
  optContinue[0]->setValue(1);
  chkHelp = &add(ControlKind::CheckBox, "chkHelp", 134, 214, 280, 18, "Show help about selected option");
  chkDisplay = &add(ControlKind::CheckBox, "chkDisplay", 134, 236, 280, 18, "Show this dialog in the future");
  chkHelp->setForeColor(kTextColor);
  chkDisplay->setForeColor(kTextColor);
  chkDisplay->setValue(1);
  SmartNetButton1 = &add(ControlKind::Button, "SmartNetButton1", 318, 266, 97, 34, "Continue");
  SmartNetButton1->setForeColor(kTextColor);
  SmartNetButton1->setBackColor(kHighlight);
  SmartNetButton1->setCaptionBackColor(kHighlight);
  setDefaultButton(SmartNetButton1);

  chkDisplay->Click = [this] { chkDisplay_Click(); };
  SmartNetButton1->Click = [this] { SmartNetButton1_Click(); };
}

void frmIntro::Form_Load() {
  if (preferenceNumber(program().getSetting("Show Intro", "1")) != 0) {
    chkDisplay->setValue(1);
    centre();
  } else {
    Hide();
    program().form<frmGlavni>().Show();
  }
}

void frmIntro::chkDisplay_Click() { program().saveSetting("Show Intro", chkDisplay->value() ? "1" : "0"); }

void frmIntro::SmartNetButton1_Click() {
  frmGlavni& main = program().form<frmGlavni>();
  main.Show();
  if (program().ended() || !main.loaded()) return;
  // Plain functions rather than member-function pointers: GCC 12's
  // sanitizers misread a table of those.
  using Handler = void (*)(frmGlavni&);
  static constexpr Handler handlers[kIntroTaskCount] = {
      [](frmGlavni& m) { m.tlbCmdBackup_Click(); },  [](frmGlavni& m) { m.tlbCmdWinBackup_Click(); },
      [](frmGlavni& m) { m.tlbCmdRestore_Click(); }, [](frmGlavni& m) { m.tlbCmdRescueDisk_Click(); },
      [](frmGlavni& m) { m.tlbCmdUndo_Click(); },    [](frmGlavni& m) { m.tlbCmdReinstall_Click(); },
      [](frmGlavni& m) { m.tlbCmdSpy_Click(); },
  };
  for (int i = 0; i < kIntroTaskCount; ++i) {
    if (optContinue[static_cast<size_t>(i)]->value()) {
      handlers[i](main);
      if (chkHelp->value()) main.ContextHelp(kTasks[i].helpTopic);
    }
  }
  Hide();
}

}  // namespace app
