#include "app/frmGlavni.h"

#include "app/modFileExists.h"
#include "app/modListviewFill.h"
#include "app/program.h"
#include "dialogs/frmAbout.h"
#include "platform/text.h"

namespace app {

namespace {

constexpr ScreenInfo kScreens[kScreenCount] = {
    {"tlbCmdBackup", "System backup", "fraBackup", "mnuScreenBackup"},
    {"tlbCmdWinBackup", "Win backup", "fraWinBackup", "mnuScreenWinBackup"},
    {"tlbCmdRestore", "System restore", "fraRestore", "mnuScreenRestore"},
    {"tlbCmdRescueDisk", "Rescue disk", "fraRescueDisk", "mnuScreenRescueDisk"},
    {"tlbCmdReinstall", "Reinstall disk", "fraReinstallDisk", "mnuScreenReinstallDisk"},
    {"tlbCmdSpy", "Spy manager", "fraSpyware", "mnuScreenSpyware"},
    {"tlbCmdUndo", "Undo changes", "fraUndo", "mnuScreenUndo"},
};

// Artwork names, one per screen: toolbar picture, banner, screen icon.
constexpr const char* kArtNames[kScreenCount] = {"backup",     "winbackup", "restore", "rescue",
                                                 "reinstall", "spyware",   "undo"};

const Font kLabelFont{"MS Sans Serif", 8.25, false};
const Font kBoldLabelFont{"MS Sans Serif", 8.25, true};
const Font kHeadingFont{"MS Sans Serif", 9.75, true};
const Font kNameBoxFont{"MS Sans Serif", 9.75, false};

}  // namespace

const ScreenInfo& screenInfo(Screen s) { return kScreens[static_cast<int>(s)]; }

std::string reinstallWarning() {
  const char* lines[] = {
      "Before any use of this disk you must seriously consider to backup :",
      "- your mail folders (see help for more instructions)",
      "- your Favorites folder",
      "- your system drivers (see help for more instructions)",
      "",
      "You must also have working CD with Windows version you want to ",
      "install after deletition of your current Windows directory .",
  };
  std::string text;
  for (size_t i = 0; i < std::size(lines); ++i) {
    if (i) text += platform::kCrLf;
    text += lines[i];
  }
  return text;
}

frmGlavni::frmGlavni(Program& program)
    : Form(program, "frmGlavni"),
      SmartMenuXP1(*this),
      watchMakeCab(program, tmrMakeCab, "Finished - kvt", "Makecab.exe",
                   Watcher::Report::MessageThenStatus, *(SBar = &add(ControlKind::StatusBar, "SBar", 0, 550, 625, 19)),
                   tmrStatusBar, "Backup archive successfully created ."),
      watchExtract(program, tmrExtract, "Finished - pux", "pux.exe",
                   Watcher::Report::StatusThenContinue, *SBar, tmrStatusBar),
      watchExtractWin(program, tmrExtractWin, "Finished - pux", "pux.exe",
                      Watcher::Report::StatusThenContinue, *SBar, tmrStatusBar),
      watchExtractDisk(program, tmrExtractDisk, "Finished - pux", "pux.exe",
                       Watcher::Report::MessageThenStatus, *SBar, tmrStatusBar,
                       "Automated rescue disk successfully created ."),
      watchReinstallDisk(program, tmrReinstallDisk, "Finished - pux", "pux.exe",
                         Watcher::Report::MessageThenStatus, *SBar, tmrStatusBar,
                         "Automated clean Windows reinstall disk successfully created .") {
  setCaption(kAppTitle);
  setClientSize(625, 569);
  setSizable(true);
  setBackColor(kButtonFace);
  SBar->setBackColor(kButtonFace);
  SBar->setForeColor(kBlack);
  buildControls();
  for (platform::Timer* t : {&tmrExtract, &tmrExtractDisk, &tmrExtractWin, &tmrMakeCab,
                             &tmrReinstallDisk, &tmrStatusBar})
    addTimer(*t);
  tmrMakeCab.onTick = [this] { tmrMakeCab_Timer(); };
  tmrExtract.onTick = [this] { tmrExtract_Timer(); };
  tmrExtractWin.onTick = [this] { tmrExtractWin_Timer(); };
  tmrExtractDisk.onTick = [this] { tmrExtractDisk_Timer(); };
  tmrReinstallDisk.onTick = [this] { tmrReinstallDisk_Timer(); };
  tmrStatusBar.onTick = [this] { tmrStatusBar_Timer(); };
  bindHandlers();
}

frmGlavni::~frmGlavni() = default;

void frmGlavni::buildControls() {
  auto button = [&](std::string name, int x, int y, int w, int h, std::string text, Control* on) {
    Control& c = add(ControlKind::Button, std::move(name), x, y, w, h, std::move(text), on);
    c.setForeColor(kTextColor);
    c.setBackColor(kWhite);
    c.setCaptionBackColor(kWhite);
    return &c;
  };
  auto label = [&](std::string name, int x, int y, int w, int h, std::string text, Control* on,
                   const Font& font = kLabelFont) {
    Control& c = add(ControlKind::Label, std::move(name), x, y, w, h, std::move(text), on);
    c.setForeColor(kTextColor);
    c.setBackColor(kWhite);
    c.setFont(font);
    return &c;
  };
  auto heading = [&](std::string name, int x, int y, int w, int h, std::string text, Control* on) {
    return label(std::move(name), x, y, w, h, std::move(text), on, kHeadingFont);
  };
  auto textBox = [&](std::string name, int x, int y, int w, int h, Control* on, bool multi = true) {
    Control& c = add(ControlKind::TextBox, std::move(name), x, y, w, h, {}, on);
    c.setForeColor(kTextColor);
    c.setBackColor(kHighlight);
    c.setMultiLine(multi);
    return &c;
  };
  auto list = [&](std::string name, int x, int y, int w, int h, Control* on,
                  std::vector<ListColumn> cols) {
    Control& c = add(ControlKind::ListView, std::move(name), x, y, w, h, {}, on);
    c.setForeColor(kTextColor);
    c.setBackColor(kHighlight);
    c.setColumns(std::move(cols));
    return &c;
  };
  auto image = [&](std::string name, int x, int y, int w, int h, std::string art, Control* on) {
    Control& c = add(ControlKind::Image, std::move(name), x, y, w, h, {}, on);
    c.setPicture(std::move(art));
    return &c;
  };
  auto line = [&](std::string name, int x1, int x2, int y, Control* on) {
    Control& c = add(ControlKind::Line, std::move(name), x1, y, x2 - x1, 1, {}, on);
    c.setForeColor(kTextColor);
    return &c;
  };

  cmdVantrel = &add(ControlKind::Button, "cmdVantrel", 484, 0, 141, 31);
  cmdVantrel->setPicture("vantrel");
  cmdVantrel->setBackColor(kButtonFace);
  cmdVantrel->setCaptionBackColor(kButtonFace);

  for (int i = 0; i < kScreenCount; ++i) {
    Control& b = add(ControlKind::Button, kScreens[i].button, 78 * i, 32, 78, 57, kScreens[i].caption);
    b.setPicture(std::string("tlb_") + kArtNames[i]);
    b.setForeColor(kTextColor);
    b.setBackColor(kButtonFace);
    b.setCaptionBackColor(kButtonFace);
    toolbar[static_cast<size_t>(i)] = &b;
  }
  // The panels, stacked; the Backup panel is added last so it starts in front.
  for (int i = kScreenCount - 1; i >= 0; --i) {
    int x = i == static_cast<int>(Screen::Undo) ? 2 : 0;
    Control& p = add(ControlKind::Frame, kScreens[i].panel, x, 90, 625, 460);
    p.setBackColor(kWhite);
    panels[static_cast<size_t>(i)] = &p;
    bool spy = i == static_cast<int>(Screen::Spyware);
    image(std::string("imgBanner") + kArtNames[i], 0, 0, spy ? 627 : 626, spy ? 93 : 81,
          std::string("banner_") + kArtNames[i], &p);
  }

  // Backup screen
  Control* f = panels[static_cast<size_t>(Screen::Backup)];
  image("Image2", 20, 20, 32, 32, "icon_backup", f);
  heading("Label2", 62, 28, 145, 17, "Create new backup", f);
  cmdSystemInfo = button("cmdSystemInfo", 100, 106, 81, 49, "Get system info", f);
  cmdNewBackup = button("cmdNewBackup", 420, 106, 81, 49, "New backup", f);
  line("Line2", 8, 616, 176, f);
  label("Label1", 8, 180, 145, 17, "System backup informations :", f);
  label("Label3", 320, 180, 137, 17, "Additional comments :", f);
  txtSystemInfo = textBox("txtSystemInfo", 8, 196, 297, 186, f);
  txtComments = textBox("txtComments", 320, 196, 297, 133, f);
  cmdClearFile = button("cmdClearFile", 373, 344, 81, 41, "Clear", f);
  cmdWriteFile = button("cmdWriteFile", 486, 344, 81, 41, "Write to file", f);
  line("Line3", 8, 616, 393, f);
  txtNameFileBackup = textBox("txtNameFileBackup", 154, 404, 153, 25, f, false);
  txtNameFileBackup->setFont(kNameBoxFont);
  label("Label4", 152, 430, 105, 15, "Backup file name", f);
  cmdMakeBackup = button("cmdMakeBackup", 320, 404, 161, 48, "Create  backup", f);
  for (Control* c : {cmdClearFile, cmdWriteFile, cmdMakeBackup}) c->setEnabled(false);

  // Windows-backup screen
  f = panels[static_cast<size_t>(Screen::WinBackup)];
  image("Image7", 20, 20, 32, 32, "icon_winbackup", f);
  heading("Label13", 68, 24, 155, 37, "Convert Windows existing backup files", f);
  label("Label19", 210, 78, 49, 13, "Name :", f);
  label("Label20", 300, 78, 81, 15, "Creation date :", f);
  lvwWinBackup = list("lvwWinBackup", 210, 94, 179, 49, f,
                      {{"backupfile", "Backup file", 83}, {"created", "Created :", 80}});
  cmdWinSysInfo = button("cmdWinSysInfo", 100, 106, 81, 49, "Get system info", f);
  cmdImportWin = button("cmdImportWin", 420, 106, 81, 49, "Convert", f);
  label("Label11", 216, 144, 169, 25, "Import-Convert existing Windows backup files", f);
  line("Line5", 8, 616, 176, f);
  label("Label12", 8, 180, 145, 17, "System backup informations :", f);
  label("Label10", 320, 180, 137, 17, "Additional comments :", f);
  txtWinInfo = textBox("txtWinInfo", 8, 196, 297, 186, f);
  txtWinComments = textBox("txtWinComments", 320, 196, 297, 133, f);
  cmdWinClearComments = button("cmdWinClearComments", 373, 344, 81, 41, "Clear", f);
  cmdWinWriteComments = button("cmdWinWriteComments", 486, 344, 81, 41, "Write to file", f);
  line("Line4", 8, 616, 393, f);
  txtWinNameFileBackup = textBox("txtWinNameFileBackup", 152, 404, 153, 25, f, false);
  txtWinNameFileBackup->setFont(kNameBoxFont);
  label("Label17", 152, 430, 95, 20, "Backup file name", f);
  cmdWinMakeBackup = button("cmdWinMakeBackup", 320, 404, 161, 48, "Create  backup", f);
  for (Control* c : {cmdImportWin, cmdWinClearComments, cmdWinWriteComments, cmdWinMakeBackup})
    c->setEnabled(false);

  // Restore screen
  f = panels[static_cast<size_t>(Screen::Restore)];
  image("Image10", 20, 20, 32, 32, "icon_restore", f);
  heading("Label16", 66, 13, 141, 55, "Restore your system to previous backup state", f);
  label("Label6", 27, 132, 133, 17, "Backup file info :", f);
  label("Label5", 400, 129, 141, 17, "Select backup file to restore :", f);
  txtFileRestoreInfo = textBox("txtFileRestoreInfo", 24, 152, 326, 293, f);
  lvwRestore = list("lvwRestore", 400, 150, 187, 133, f, {{"name", "Name", 97}, {"date", "Date", 73}});
  cmdPrepareRestore = button("cmdPrepareRestore", 400, 319, 177, 47, "Prepare restoring files", f);
  cmdRestore = button("cmdRestore", 400, 386, 180, 47, "Restore system", f);
  for (Control* c : {cmdPrepareRestore, cmdRestore}) c->setEnabled(false);

  // Rescue-disk screen
  f = panels[static_cast<size_t>(Screen::RescueDisk)];
  image("Image9", 16, 22, 32, 32, "icon_rescue", f);
  heading("Label15", 66, 13, 139, 50, "Create automated disk for Windows failure situations", f);
  label("Label18", 82, 84, 471, 41,
        "Make fully formated 3 1/2 floppy disk ,label it as \"System rescue automated disk - do NOT "
        "insert on system reboot unless you want automated restore from Brakvel backup\", and "
        "insert it into drive A:",
        f, kBoldLabelFont);
  label("Label7", 27, 132, 137, 17, "Backup file info :", f);
  label("Label8", 400, 129, 189, 19, "Select backup file to restore from disk :", f);
  txtDiskFileInfo = textBox("txtDiskFileInfo", 24, 152, 326, 293, f);
  lvwRescueDisk = list("lvwRescueDisk", 400, 150, 187, 133, f, {{"name", "Name", 97}, {"date", "Date", 73}});
  cmdPrepareDisk = button("cmdPrepareDisk", 400, 319, 180, 47, "Prepare restoring files", f);
  cmdMakeDisk = button("cmdMakeDisk", 400, 382, 180, 47, "Create automated system restore disk", f);
  for (Control* c : {cmdPrepareDisk, cmdMakeDisk}) c->setEnabled(false);

  // Reinstall-disk screen
  f = panels[static_cast<size_t>(Screen::ReinstallDisk)];
  image("Image1", 14, 16, 54, 32, "icon_reinstall", f);
  heading("Label21", 74, 21, 169, 33, "Make Windows clean reinstall automated disk", f);
  label("Label22", 112, 120, 415, 57,
        "Make fully formated 3 1/2 floppy disk ,label it as \"Automated Windows clean reinstall disk - "
        "do NOT insert on system reboot unless you want automated Windows deletition with new "
        "Windows installation from CD .\" and insert it into drive A:",
        f, kBoldLabelFont);
  cmdMakeReinstallDisk =
      button("cmdMakeReinstallDisk", 202, 218, 233, 61, "Create automated Windows clean reinstall disk", f);
  Label24 = label("Label24", 111, 320, 411, 113, "", f, kBoldLabelFont);
  Label24->setForeColor(kWarningRed);

  // Spyware screen
  f = panels[static_cast<size_t>(Screen::Spyware)];
  image("Image4", 16, 19, 32, 32, "icon_spyware", f);
  heading("Label23", 62, 22, 169, 41, "Disable spyware activity on this computer", f);
  txtSpyList = textBox("txtSpyList", 24, 152, 326, 293, f);
  cmdInternetUpdate = button("cmdInternetUpdate", 392, 320, 203, 57, "Update spyware list and definitions", f);
  cmdBlockSpy = button("cmdBlockSpy", 392, 384, 201, 57, "Block and protect from spyware activity", f);

  // Undo screen
  f = panels[static_cast<size_t>(Screen::Undo)];
  image("Image8", 16, 14, 48, 48, "icon_undo", f);
  heading("Label14", 66, 13, 169, 49, "Undo last system changes made by Brakvel", f);
  SmartNetButton2 = button("SmartNetButton2", 212, 200, 201, 57, "Undo last system changes", f);
  cmdUndoSpy = button("cmdUndoSpy", 212, 272, 201, 57, "Remove KVT spyware protection", f);
}

void frmGlavni::bindHandlers() {
  toolbar[0]->Click = [this] { tlbCmdBackup_Click(); };
  toolbar[1]->Click = [this] { tlbCmdWinBackup_Click(); };
  toolbar[2]->Click = [this] { tlbCmdRestore_Click(); };
  toolbar[3]->Click = [this] { tlbCmdRescueDisk_Click(); };
  toolbar[4]->Click = [this] { tlbCmdReinstall_Click(); };
  toolbar[5]->Click = [this] { tlbCmdSpy_Click(); };
  toolbar[6]->Click = [this] { tlbCmdUndo_Click(); };
  cmdVantrel->Click = [this] { cmdVantrel_Click(); };
  SmartMenuXP1.Click = [this](int number) { SmartMenuXP1_Click(number); };

  // backup/ binds its handlers here.
  bindBackup();

  // restore/ binds its handlers here.
  bindRestore();

  // disks/ binds its handlers here.
  bindDisks();

  // spyware/ binds its handlers here.
  cmdBlockSpy->Click = [this] { cmdBlockSpy_Click(); };
  cmdUndoSpy->Click = [this] { cmdUndoSpy_Click(); };
  cmdInternetUpdate->Click = [this] { cmdInternetUpdate_Click(); };

  // shell/ binds its handlers here.
}

bool frmGlavni::anyWatcherPolling() const {
  return tmrMakeCab.enabled() || tmrExtract.enabled() || tmrExtractWin.enabled() ||
         tmrExtractDisk.enabled() || tmrReinstallDisk.enabled();
}

void frmGlavni::tmrStatusBar_Timer() {
  SBar->setText("");
  tmrStatusBar.stop();
}

// --- opening and closing -------------------------------------------------------

void frmGlavni::Form_Load() {
  Context& ctx = context();
  if (ctx.machine.env("OS").value_or("") == "Windows_NT") {
    std::string text = std::string("Thank you for your interest in Brakvel 9x .") + platform::kCrLf +
                       "However ,you use NT based Windows operating system ," + platform::kCrLf +
                       "which this software doesn't support ." + platform::kCrLf +
                       "Please visit us at " + kVendorSite + " to evaluate our other products .";
    program().msgBox(text, MsgIcon::Information, "OS incompatibility");
    closeMain();
    return;
  }
  std::string winDir = ctx.machine.env("WinDir").value_or("");
  if (winDir.substr(0, 1) != ctx.programFolder.substr(0, 1)) {
    std::string text = std::string("You must install Brakvel 9x on same drive where your ") +
                       platform::kCrLf + "Windows directory is located . Please reinstall Brakvel 9x .";
    program().msgBox(text, MsgIcon::Exclamation, "Wrong drive installation");
    closeMain();
    return;
  }
  HasClassesDat = FileExists(ctx.machine, winDir + "\\Classes.dat");
  BuildMenu();
  FileAssociate();
  fillWindowsBackupList();
  fillArchiveLists();
  FillSpywareList();
  toolbar[0]->setBackColor(kHighlight);
  toolbar[0]->setCaptionBackColor(kHighlight);
  panels[0]->bringToFront();
  current_ = Screen::Backup;
  createConnection();
}

void frmGlavni::fillWindowsBackupList() {
  const Context& ctx = context();
  FillWindowsBackupList(*lvwWinBackup, ctx.machine, ctx.machine.env("WinDir").value_or("") + "\\Sysbckup",
                        "Winbackup", 1);
}

void frmGlavni::fillArchiveLists() {
  const Context& ctx = context();
  FillArchiveList(*lvwRestore, ctx.machine, ctx.programFolder + "\\archive", 2);
  FillArchiveList(*lvwRescueDisk, ctx.machine, ctx.programFolder + "\\archive", 2);
}

void frmGlavni::closeMain() { program().unload(*this); }

void frmGlavni::Form_QueryUnload(int& cancel, int unloadMode) {
  (void)cancel;
  (void)unloadMode;
  dropConnection();
}

void frmGlavni::Form_Unload(int& cancel) {
  (void)cancel;
  // Every window of the program, last loaded first; this one is already on
  // its way out.
  std::vector<Form*> forms = program().loadedForms();
  for (auto it = forms.rbegin(); it != forms.rend(); ++it) program().unload(**it);
}

// --- screens -----------------------------------------------------------------

void frmGlavni::switchTo(Screen s) {
  int n = static_cast<int>(s);
  for (int i = 0; i < kScreenCount; ++i) {
    Color c = i == n ? kHighlight : kButtonFace;
    toolbar[static_cast<size_t>(i)]->setBackColor(c);
    toolbar[static_cast<size_t>(i)]->setCaptionBackColor(c);
  }
  for (int i = 0; i < kScreenCount; ++i) SmartMenuXP1.setChecked(kScreens[i].viewKey, i == n ? 1 : 0);
  panels[static_cast<size_t>(n)]->bringToFront();
  current_ = s;
  switch (s) {
    case Screen::Restore:
      FillArchiveList(*lvwRestore, context().machine, context().programFolder + "\\archive", 2);
      break;
    case Screen::RescueDisk:
      FillArchiveList(*lvwRescueDisk, context().machine, context().programFolder + "\\archive", 2);
      break;
    case Screen::ReinstallDisk:
      ContextHelp(6);
      Label24->setText(reinstallWarning());
      break;
    default:
      break;
  }
}

void frmGlavni::tlbCmdBackup_Click() { switchTo(Screen::Backup); }
void frmGlavni::tlbCmdWinBackup_Click() { switchTo(Screen::WinBackup); }
void frmGlavni::tlbCmdRestore_Click() { switchTo(Screen::Restore); }
void frmGlavni::tlbCmdRescueDisk_Click() { switchTo(Screen::RescueDisk); }
void frmGlavni::tlbCmdReinstall_Click() { switchTo(Screen::ReinstallDisk); }
void frmGlavni::tlbCmdSpy_Click() { switchTo(Screen::Spyware); }
void frmGlavni::tlbCmdUndo_Click() { switchTo(Screen::Undo); }

// --- menu --------------------------------------------------------------------

void frmGlavni::BuildMenu() {
  struct Row {
    const char* parent;
    const char* key;
    int kind;
    const char* caption;
    int icon, shortcut, checked;
  };
  static const Row rows[] = {
      {"", "mnuBackup", kMenuPlain, "&Backup", 0, 0, 0},
      {"mnuBackup", "mnuMakeNewBackup", kMenuDefault, "&Make new", 1, 0, 0},
      {"mnuBackup", "mnuImportWin", kMenuPlain, "&Import from Windows", 2, 0, 0},
      {"mnuBackup", "", kMenuSeparator, "", 0, 0, 0},
      {"mnuBackup", "mnuSystemDisk", kMenuPlain, "Make &automated system disk", 3, 0, 0},
      {"", "mnuRestore", kMenuPlain, "&Restore", 0, 0, 0},
      {"mnuRestore", "mnuRestoreManager", kMenuPlain, "Restore your &system", 4, 0, 0},
      {"mnuRestore", "mnuUndo", kMenuPlain, "Undo Brakvel's &changes", 5, 0, 0},
      {"", "keyView", kMenuPlain, "&View", 0, 0, 0},
      {"keyView", "mnuScreenBackup", kMenuCheck, "&Backup screen", 0, 0, 1},
      {"keyView", "mnuScreenWinBackup", kMenuCheck, "&Backup from Windows screen", 0, 0, 0},
      {"keyView", "mnuScreenRestore", kMenuCheck, "&Restore screen", 0, 0, 0},
      {"keyView", "mnuScreenRescueDisk", kMenuCheck, "&Rescue disk screen", 0, 0, 0},
      {"keyView", "mnuScreenReinstallDisk", kMenuCheck, "&Reinstall disk screen", 0, 0, 0},
      {"keyView", "mnuScreenSpyware", kMenuCheck, "&Spyware blocking management", 0, 0, 0},
      {"keyView", "mnuScreenUndo", kMenuCheck, "&Undo screen", 0, 0, 0},
      {"", "keyHelp", kMenuPlain, "&Help", 0, 0, 0},
      {"keyHelp", "mnuContents", kMenuPlain, "&Contents...", 6, kKeyF1, 0},
      {"keyHelp", "", kMenuSeparator, "", 0, 0, 0},
      {"keyHelp", "mnuOnlineSupport", kMenuPlain, "&Support online", 7, 0, 0},
      {"keyHelp", "mnuAbout", kMenuPlain, "&About Brakvel...", 8, 0, 0},
  };
  for (const Row& r : rows) {
    MenuItem item;
    item.parent = r.parent;
    item.key = r.key;
    item.kind = r.kind;
    item.caption = r.caption;
    item.icon = r.icon;
    item.shortcut = r.shortcut;
    item.checked = r.checked;
    SmartMenuXP1.add(std::move(item));
  }
  SmartMenuXP1.setFont(Font{"Ms Sans Serif", 9, false});
}

void frmGlavni::SmartMenuXP1_Click(int number) {
  const std::string key = SmartMenuXP1.itemKey(number);
  auto screenItem = [&](Screen s) {
    for (int i = 0; i < kScreenCount; ++i)
      SmartMenuXP1.setChecked(kScreens[i].viewKey, i == static_cast<int>(s) ? 1 : 0);
    switchTo(s);
    panels[static_cast<size_t>(s)]->bringToFront();
  };
  if (key == "mnuMakeNewBackup") {
    ContextHelp(1);
    tlbCmdBackup_Click();
  } else if (key == "mnuImportWin") {
    ContextHelp(2);
    tlbCmdWinBackup_Click();
  } else if (key == "mnuSystemDisk") {
    ContextHelp(4);
    tlbCmdRescueDisk_Click();
  } else if (key == "mnuRestoreManager") {
    ContextHelp(3);
    tlbCmdRestore_Click();
  } else if (key == "mnuUndo") {
    ContextHelp(5);
    tlbCmdUndo_Click();
  } else if (key == "mnuContents") {
    ShowHelpContents();
  } else if (key == "mnuOnlineSupport") {
    OpenSupportPage();
  } else if (key == "mnuAbout") {
    program().form<frmAbout>().Show(true);
  } else if (key == "mnuScreenRestore") {
    screenItem(Screen::Restore);
  } else if (key == "mnuScreenBackup") {
    screenItem(Screen::Backup);
  } else if (key == "mnuScreenWinBackup") {
    screenItem(Screen::WinBackup);
  } else if (key == "mnuScreenRescueDisk") {
    screenItem(Screen::RescueDisk);
  } else if (key == "mnuScreenReinstallDisk") {
    screenItem(Screen::ReinstallDisk);
  } else if (key == "mnuScreenSpyware") {
    screenItem(Screen::Spyware);
  } else if (key == "mnuScreenUndo") {
    screenItem(Screen::Undo);
  }
}

// --- help and links ----------------------------------------------------------

std::string frmGlavni::helpFile() const { return context().programFolder + "\\BRAKVEL 9X.hlp"; }

void frmGlavni::ContextHelp(int context) { program().desktop().showHelp(helpFile(), context); }

void frmGlavni::ShowHelpContents() {
  try {
    program().desktop().showHelpContents(helpFile());
  } catch (...) {
    // A help file that cannot be opened is not worth a message here.
  }
}

void frmGlavni::OpenSupportPage() {
  try {
    program().shell(std::string("start ") + kVendorSite + "/support/index.htm",
                    platform::WindowStyle::Hide);
  } catch (...) {
  }
}

void frmGlavni::cmdVantrel_Click() {
  try {
    program().shell(std::string("start ") + kVendorSite, platform::WindowStyle::Hide);
  } catch (...) {
  }
}

}  // namespace app
