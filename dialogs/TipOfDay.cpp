#include "dialogs/TipOfDay.h"

#include "app/program.h"
#include "dialogs/frmIntro.h"

namespace app {

namespace {
const std::string kTips[kTipCount] = {
    "...Through Brakvel 9x you can convert existing embedded Windows backup archive at your choice "
    "and restore your system without any system disk, DOS commands,exact paths,DOS program switches.",
    "...You can create and use customizable system information file with every backup archive.",
    "...If you have fresh,fast,good working Windows with your usual software installed. You can make "
    "backup through Brakvel 9x and forget about further backups. When Windows become slow and "
    "outworn you simply restore it from your good state backup in few clicks...",
    "If you have Windows 98 or ME that refuses to start up .Instead of messing up with system "
    "disk,studying Microsoft DOS help,reinstalling Windows,calling technical support,you insert "
    "prepared Brakvel's automated rescue floppy disk and reboot your computer !!! Rescue disk will "
    "automatically restore your system with previously prepared system files without any DOS typing !",
    "You can undo any change made by Brakvel 9x .To do so,simply click Undo last system change button .",
    "Be sure you formatted your floppy disk before you make Automated system rescue disk .",
    "To format disk open My Computer ,right click 3 1/2 Floppy (A:),from context menu choose "
    "Format.In format dialog choose Full option button ,check No label check box and click Start button",
    "Selecting Brakvel's archive from list on restore screen ,corresponding backup info appears in "
    "Backup file info text box",
    "Brakvel 9x is safe,controlled,easy to use even for novices. ",
    "Usual size of Brakvel 9x backup archive is about 3MB...",
    "Brakvel 9x postpones need of Windows reinstall and enhances Windows permanence and stability .",
    "Through it's algorithms Brakvel 9x will automatically determine which Windows you run and pick "
    "appropriate vital system files for backup .",
};
}  // namespace

const std::string& tipText(int number) { return kTips[number - 1]; }

TipOfDay::TipOfDay(Program& program) : Form(program, "TipOfDay") {
  setCaption("Tip of the Day");
  setClientSize(430, 250);
  setBackColor(kWhite);
  add(ControlKind::Image, "Image1", 0, 0, 96, 250).setPicture("tips");
  Label1 = &add(ControlKind::Label, "Label1", 108, 12, 240, 28, "Did you know...");
  Label1->setFont(Font{"Times New Roman", 15, true});
  Label1->setForeColor(kTextColor);
  Label2 = &add(ControlKind::Label, "Label2", 370, 18, 44, 20);
  Label2->setForeColor(kTextColor);
  LblTip = &add(ControlKind::Label, "LblTip", 108, 48, 306, 140);
  LblTip->setBackColor(kWhite);
  LblTip->setForeColor(kBlack);
  chkLoadTipsAtStartup =
      &add(ControlKind::CheckBox, "chkLoadTipsAtStartup", 108, 212, 150, 18, "&Show Tips at Startup");
  chkLoadTipsAtStartup->setForeColor(kTextColor);
  SmartNetButton1 = &add(ControlKind::Button, "SmartNetButton1", 262, 204, 74, 32, "Next Tip");
  SmartNetButton2 = &add(ControlKind::Button, "SmartNetButton2", 342, 204, 74, 32, "Close");
  for (Control* b : {SmartNetButton1, SmartNetButton2}) {
    b->setForeColor(kTextColor);
    b->setBackColor(kHighlight);
    b->setCaptionBackColor(kHighlight);
  }
  setDefaultButton(SmartNetButton2);

  SmartNetButton1->Click = [this] { SmartNetButton1_Click(); };
  SmartNetButton2->Click = [this] { SmartNetButton2_Click(); };
  chkLoadTipsAtStartup->Click = [this] { chkLoadTipsAtStartup_Click(); };
}

void TipOfDay::Form_Load() {
  (void)preferenceNumber(program().getSetting("Show Tips at Startup", "1"));
  chkLoadTipsAtStartup->setValue(1);  // unticked at design: this stores "1"
  centre();
  Tip();
}

void TipOfDay::Tip() {
  ++CurrentTip;
  if (CurrentTip > kTipCount) CurrentTip = 1;
  LblTip->setText(kTips[CurrentTip - 1]);
  Label2->setText(std::to_string(CurrentTip));
}

void TipOfDay::SmartNetButton2_Click() {
  Program& p = program();
  Unload();
  p.form<frmIntro>().Show();
}

void TipOfDay::chkLoadTipsAtStartup_Click() {
  program().saveSetting("Show Tips at Startup", chkLoadTipsAtStartup->value() ? "1" : "0");
}

}  // namespace app
