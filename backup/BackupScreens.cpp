// The Backup and Windows-backup screens of the main window: the information
// file, gathering the system files or extracting a Windows backup, naming
// the archive and making it with MakeCAB.
#include "app/frmGlavni.h"
#include "app/program.h"
#include "backup/ArchiveDirective.h"
#include "backup/modListPrograms.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "restore/modReplaceFiles.h"

namespace app {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kNotCreated = "The backup archive was not created .";

// A tool's console output for a message box: ANSI, CR LF line ends, no
// blank lines around it.
std::string toolReport(const std::string& output) {
  std::string ansi = platform::utf8ToAnsi(output);
  std::string text;
  for (char c : ansi) {
    if (c == '\r') continue;
    if (c == '\n') {
      text += kCrLf;
    } else {
      text += c;
    }
  }
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return text.substr(start);
}

}  // namespace

void frmGlavni::bindBackup() {
  cmdNewBackup->Click = [this] { cmdNewBackup_Click(); };
  cmdSystemInfo->Click = [this] { cmdSystemInfo_Click(); };
  cmdWriteFile->Click = [this] { cmdWriteFile_Click(); };
  cmdClearFile->Click = [this] { cmdClearFile_Click(); };
  txtComments->Change = [this] { txtComments_Change(); };
  txtComments->Click = [this] { txtComments_Click(); };
  txtNameFileBackup->Change = [this] { txtNameFileBackup_Change(); };
  cmdMakeBackup->Click = [this] { cmdMakeBackup_Click(); };

  lvwWinBackup->Click = [this] { lvwWinBackup_Click(); };
  cmdImportWin->Click = [this] { cmdImportWin_Click(); };
  cmdWinSysInfo->Click = [this] { cmdWinSysInfo_Click(); };
  cmdWinWriteComments->Click = [this] { cmdWinWriteComments_Click(); };
  cmdWinClearComments->Click = [this] { cmdWinClearComments_Click(); };
  txtWinComments->Change = [this] { txtWinComments_Change(); };
  txtWinComments->Click = [this] { txtWinComments_Click(); };
  txtWinNameFileBackup->Change = [this] { txtWinNameFileBackup_Change(); };
  cmdWinMakeBackup->Click = [this] { cmdWinMakeBackup_Click(); };

  // The name boxes wait for "Write to file".
  txtNameFileBackup->setEnabled(false);
  txtWinNameFileBackup->setEnabled(false);

  watchMakeCab.confirm = [this] { return archiveMade(); };
  watchMakeCab.onFailure = [this](int status, const std::string& output) {
    std::string why = toolReport(output);
    if (why.empty()) why = "The cabinet maker ended with exit status " + std::to_string(status) + " .";
    program().msgBox(std::string(kNotCreated) + kCrLf + why, MsgIcon::Exclamation);
  };
  watchExtractWin.onSuccess = [this] { WinBackupConverted = true; };
}

// --- shared steps ----------------------------------------------------------------

void frmGlavni::showSystemInfo(Control& infoBox) {
  SBar->setText("Getting system info...");
  std::string text;
  std::string failure;
  try {
    if (!backup::MakeSystemInfo(program(), text)) return;  // the program has ended
  } catch (const platform::Error& e) {
    failure = e.what();
  }
  infoBox.setText(text);
  if (!failure.empty()) {
    program().msgBox(std::string("The information file could not be written :") + kCrLf + failure,
                     MsgIcon::Exclamation);
  }
  SBar->setText("Done .");
  tmrStatusBar.start();
}

bool frmGlavni::writeInfoFile(Control& infoBox, Control& comments) {
  SBar->setText("Creating info file...");
  try {
    platform::writeFileAtomic(context().machine, backup::infoFilePath(context().programFolder),
                              backup::finalInfoText(infoBox.text(), comments.text()));
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The information file could not be written :") + kCrLf + e.what(),
                     MsgIcon::Exclamation);
    return false;
  }
  return true;
}

// --- Backup screen -----------------------------------------------------------------

void frmGlavni::cmdNewBackup_Click() {
  SBar->setText("Removing old information...");
  txtSystemInfo->setText("");
  txtComments->setText("");
  txtNameFileBackup->setEnabled(false);
  cmdWriteFile->setEnabled(false);
  cmdClearFile->setEnabled(false);
  cmdMakeBackup->setEnabled(false);
  SBar->setText("Done .");
  tmrStatusBar.start();
}

void frmGlavni::cmdSystemInfo_Click() { showSystemInfo(*txtSystemInfo); }

void frmGlavni::cmdWriteFile_Click() {
  writeInfoFile(*txtSystemInfo, *txtComments);
  const platform::Machine& m = context().machine;
  SBar->setText("Preparing necessary files...");
  const std::string exchange = context().programFolder + "\\Exchange";
  const std::string winDir = m.env("WinDir").value_or("");
  // Copies left by earlier work keep the registry files' attributes; clear
  // them so that the new copies can replace them.
  for (const std::string& name : backup::systemFileSet(HasClassesDat)) {
    if (name == "System.ini") break;
    try {
      platform::setAttributes(m, exchange + "\\" + name, platform::kArchive);
    } catch (const platform::Error&) {
    }
  }
  for (const std::string& name : backup::systemFileSet(HasClassesDat)) {
    try {
      platform::copyFile(m, winDir + "\\" + name, exchange + "\\" + name);
    } catch (const platform::Error&) {
    }
  }
  SBar->setText("Done .");
  tmrStatusBar.start();
  txtNameFileBackup->setEnabled(true);
}

void frmGlavni::cmdClearFile_Click() { txtComments->setText(""); }

void frmGlavni::txtComments_Change() {
  cmdWriteFile->setEnabled(true);
  cmdClearFile->setEnabled(true);
}

void frmGlavni::txtComments_Click() {
  SBar->setText("Enter your notes ,please...");
  tmrStatusBar.start();
}

void frmGlavni::txtNameFileBackup_Change() { cmdMakeBackup->setEnabled(true); }

void frmGlavni::cmdMakeBackup_Click() {
  BackupName = txtNameFileBackup->text();
  MakeCAB();
}

// --- the archive ---------------------------------------------------------------------

void frmGlavni::MakeCAB() {
  if (std::string problem = backup::backupNameProblem(BackupName); !problem.empty()) {
    program().msgBox(problem, MsgIcon::Exclamation);
    return;
  }
  Context& ctx = context();
  const std::string& p = ctx.programFolder;
  const std::string batch = p + "\\util\\kvt.bat";
  std::string failure;
  auto attempt = [&](const std::string& path, const std::string& text) {
    try {
      platform::writeFileAtomic(ctx.machine, path, text);
    } catch (const platform::Error& e) {
      if (failure.empty()) failure = e.what();
    }
  };
  attempt(batch, backup::kvtBatText(p));
  SBar->setText("Creating directive...");
  ctx.loop.sleep(1000);
  attempt(p + "\\util\\kvt.ddf", backup::kvtDdfText(p, BackupName, HasClassesDat));
  ctx.loop.sleep(500);
  SBar->setText("Creating archive , please wait...");
  if (failure.empty()) {
    makingArchive_ = p + "\\archive\\" + BackupName + ".kvt";
    try {
      watchMakeCab.start(program().shell(batch, platform::WindowStyle::Hide));
      return;
    } catch (const platform::Error& e) {
      failure = e.what();
    }
  }
  program().msgBox(std::string(kNotCreated) + kCrLf + failure, MsgIcon::Exclamation);
}

bool frmGlavni::archiveMade() {
  if (platform::fileExists(context().machine, makingArchive_)) return true;
  program().msgBox(std::string(kNotCreated) + kCrLf + "The cabinet maker ended, but " + makingArchive_ +
                       " is not there .",
                   MsgIcon::Exclamation);
  return false;
}

// --- Windows-backup screen ---------------------------------------------------------

void frmGlavni::lvwWinBackup_Click() { cmdImportWin->setEnabled(true); }

void frmGlavni::cmdImportWin_Click() {
  const ListRow* row = lvwWinBackup->selectedItem();
  if (!row) {
    program().msgBox("Please choose a Windows backup from the list first .", MsgIcon::Exclamation);
    return;
  }
  const std::string key = row->key;
  Context& ctx = context();
  const std::string& p = ctx.programFolder;
  SBar->setText("Converting Windows backup...");
  // Files of the set left by earlier work must not slip into this archive
  // when the Windows backup lacks them; info.txt stays, the user may have
  // written it already.
  WinBackupConverted = false;
  for (const std::string& name : backup::systemFileSet(true)) {
    const std::string path = p + "\\Exchange\\" + name;
    try {
      if (!platform::fileExists(ctx.machine, path)) continue;
      platform::setAttributes(ctx.machine, path, platform::kArchive);
      platform::deleteFile(ctx.machine, path);
    } catch (const platform::Error& e) {
      SBar->setText("");
      program().msgBox("The old " + name + " could not be removed from the exchange folder :" + kCrLf +
                           e.what(),
                       MsgIcon::Exclamation);
      return;
    }
  }
  const std::string commandLine =
      p + "\\util\\pux.exe " + ShortPath(ctx.machine, key) + " /Y /E /L " + ShortPath(ctx.machine, p) + "\\Exchange\\";
  try {
    watchExtractWin.start(program().shell(commandLine, platform::WindowStyle::Hide));
  } catch (const platform::Error& e) {
    SBar->setText("");
    program().msgBox(std::string("The Windows backup could not be converted :") + kCrLf + e.what(),
                     MsgIcon::Exclamation);
    return;
  }
  SBar->setText("Done .");
  tmrStatusBar.start();
}

void frmGlavni::cmdWinSysInfo_Click() { showSystemInfo(*txtWinInfo); }

void frmGlavni::cmdWinWriteComments_Click() {
  if (!writeInfoFile(*txtWinInfo, *txtWinComments)) return;
  SBar->setText("Done .");
  tmrStatusBar.start();
  txtWinNameFileBackup->setEnabled(true);
}

void frmGlavni::cmdWinClearComments_Click() { txtWinComments->setText(""); }

void frmGlavni::txtWinComments_Change() {
  cmdWinClearComments->setEnabled(true);
  cmdWinWriteComments->setEnabled(true);
}

void frmGlavni::txtWinComments_Click() {
  SBar->setText("Enter your notes ,please...");
  tmrStatusBar.start();
}

void frmGlavni::txtWinNameFileBackup_Change() { cmdWinMakeBackup->setEnabled(true); }

void frmGlavni::cmdWinMakeBackup_Click() {
  if (!WinBackupConverted) {
    program().msgBox(tmrExtractWin.enabled()
                         ? "Please wait until the Windows backup has been converted ."
                         : "Please convert a Windows backup first : an archive is made only from a Windows "
                           "backup that has been extracted with success .",
                     MsgIcon::Exclamation);
    return;
  }
  const platform::Machine& m = context().machine;
  for (const std::string& name : backup::systemFileSet(HasClassesDat)) {
    if (platform::fileExists(m, context().programFolder + "\\Exchange\\" + name)) continue;
    program().msgBox("The converted Windows backup lacks " + name + " , so no archive was created .",
                     MsgIcon::Exclamation);
    return;
  }
  BackupName = txtWinNameFileBackup->text();
  MakeCAB();
}

}  // namespace app
