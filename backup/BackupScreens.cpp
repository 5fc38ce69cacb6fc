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

#include <algorithm>

namespace app {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kNotCreated = "The backup archive was not created .";

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
  watchExtractWin.onSuccess = [this] {
    WinBackupConverted = true;
    const std::string exchange = context().programFolder + "\\Exchange";
    for (const std::string& name : backup::systemFileSet(HasClassesDat))
      winGathered.take(context().machine, exchange, name);
  };
  watchExtractWin.onFailure = [this](int status, const std::string& output) {
    std::string why = toolReport(output);
    program().msgBox("The Windows backup was not converted : " + toolFailedMessage("pux.exe", status) +
                         (why.empty() ? std::string() : kCrLf + why),
                     MsgIcon::Exclamation);
  };
}

bool frmGlavni::archiveSourcesReady(const FileRecord& record, const char* setStep) {
  const platform::Machine& m = context().machine;
  const std::string exchange = context().programFolder + "\\Exchange";
  std::vector<std::string> names = backup::systemFileSet(HasClassesDat);
  names.push_back("info.txt");
  auto stepOf = [&](const std::string& name) { return name == "info.txt" ? std::string("\"Write to file\"") : std::string(setStep); };
  auto refuse = [&](const std::string& why, const std::string& name) {
    program().msgBox(std::string(kNotCreated) + kCrLf + why + " . Please ,press " + stepOf(name) + " again .",
                     MsgIcon::Exclamation);
    return false;
  };
  for (const std::string& name : names)
    if (!record.has(name))
      return refuse(name == "info.txt" ? exchange + "\\info.txt has not been written on this screen"
                                       : exchange + "\\" + name + " has not been put there by " + stepOf(name),
                    name);
  if (std::string changed = record.changed(m, exchange); !changed.empty())
    return refuse(exchange + "\\" + changed + " is no longer the file " + stepOf(changed) + " put there", changed);
  // A preparation or a conversion may be writing into the exchange folder.
  if (tmrExtractWin.enabled() || extractJob == ExtractJob::PrepareRestore ||
      std::any_of(extractQueue.begin(), extractQueue.end(),
                  [](const ExtractRequest& r) { return r.job == ExtractJob::PrepareRestore; })) {
    program().msgBox(std::string(kNotCreated) + kCrLf +
                         "Files are being extracted into the exchange folder . Please ,wait until that has ended .",
                     MsgIcon::Exclamation);
    return false;
  }
  return true;
}

// --- shared steps ----------------------------------------------------------------

void frmGlavni::showSystemInfo(Control& infoBox, FileRecord& record) {
  SBar->setText("Getting system info...");
  std::string text;
  std::string failure;
  try {
    if (!backup::MakeSystemInfo(program(), text)) return;  // the program has ended
  } catch (const platform::Error& e) {
    failure = e.what();
  }
  infoBox.setText(text);
  const std::string exchange = context().programFolder + "\\Exchange";
  if (!failure.empty()) {
    record.forget("info.txt");
    program().msgBox(std::string("The information file could not be written :") + kCrLf + failure,
                     MsgIcon::Exclamation);
  } else {
    record.take(context().machine, exchange, "info.txt");
  }
  SBar->setText("Done .");
  tmrStatusBar.start();
}

bool frmGlavni::writeInfoFile(Control& infoBox, Control& comments, FileRecord& record) {
  SBar->setText("Creating info file...");
  try {
    platform::writeFileAtomic(context().machine, backup::infoFilePath(context().programFolder),
                              backup::finalInfoText(infoBox.text(), comments.text()));
  } catch (const platform::Error& e) {
    record.forget("info.txt");
    SBar->setText("");
    program().msgBox(std::string("The information file could not be written :") + kCrLf + e.what() + kCrLf +
                         "No archive can be made until \"Write to file\" has written it .",
                     MsgIcon::Exclamation);
    return false;
  }
  record.take(context().machine, context().programFolder + "\\Exchange", "info.txt");
  return true;
}

bool frmGlavni::refuseWhileArchiving() {
  if (!tmrMakeCab.enabled()) return false;
  SBar->setText("");
  program().msgBox("An archive is being made from the exchange folder . Please ,wait until it is ready .",
                   MsgIcon::Exclamation);
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

void frmGlavni::cmdSystemInfo_Click() { showSystemInfo(*txtSystemInfo, backupGathered); }

void frmGlavni::cmdWriteFile_Click() {
  if (refuseWhileStaged("\"Write to file\"", /*writesExchange=*/true, /*writesUndo=*/false) ||
      refuseWhileArchiving())
    return;
  if (!writeInfoFile(*txtSystemInfo, *txtComments, backupGathered)) return;
  const platform::Machine& m = context().machine;
  SBar->setText("Preparing necessary files...");
  const std::string exchange = context().programFolder + "\\Exchange";
  const std::string winDir = m.env("WinDir").value_or("");
  std::vector<std::pair<std::string, std::string>> copies;
  for (const std::string& name : backup::systemFileSet(HasClassesDat))
    copies.emplace_back(winDir + "\\" + name, name);
  for (const std::string& name : backup::systemFileSet(true)) backupGathered.forget(name);
  try {
    // The live files as they are now, all of them or none: the copies
    // there replace each other's older generation whole, read-only or not.
    platform::copyFilesAsSet(m, exchange, copies);
  } catch (const platform::Error& e) {
    SBar->setText("");
    program().msgBox(std::string("The system files could not be gathered in the exchange folder : ") + e.what() +
                         kCrLf + "No archive can be made until \"Write to file\" has gathered them .",
                     MsgIcon::Exclamation);
    return;
  }
  for (const std::string& name : backup::systemFileSet(HasClassesDat)) backupGathered.take(m, exchange, name);
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
  if (backup::backupNameProblem(BackupName).empty() && !archiveSourcesReady(backupGathered, "\"Write to file\""))
    return;
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
      watchMakeCab.start(program().shell(commandProgram(batch), platform::WindowStyle::Hide));
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
  if (refuseWhileStaged("\"Convert\"", /*writesExchange=*/true, /*writesUndo=*/false) || refuseWhileArchiving())
    return;
  const std::string key = row->key;
  Context& ctx = context();
  const std::string& p = ctx.programFolder;
  SBar->setText("Converting Windows backup...");
  std::string commandLine;
  try {
    commandLine = commandProgram(p + "\\util\\pux.exe") + " " + shortOf(key) + " /Y /E /L " + shortOf(p) +
                  "\\Exchange\\";
  } catch (const std::exception& e) {
    SBar->setText("");
    program().msgBox(std::string("The Windows backup could not be converted :") + kCrLf + e.what(),
                     MsgIcon::Exclamation);
    return;
  }
  // Files of the set left by earlier work must not slip into this archive
  // when the Windows backup lacks them; info.txt stays, the user may have
  // written it already.
  WinBackupConverted = false;
  for (const std::string& name : backup::systemFileSet(true)) {
    winGathered.forget(name);
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

void frmGlavni::cmdWinSysInfo_Click() { showSystemInfo(*txtWinInfo, winGathered); }

void frmGlavni::cmdWinWriteComments_Click() {
  if (!writeInfoFile(*txtWinInfo, *txtWinComments, winGathered)) return;
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
  for (const std::string& name : backup::systemFileSet(HasClassesDat)) {
    if (winGathered.has(name)) continue;
    program().msgBox("The converted Windows backup lacks " + name + " , so no archive was created .",
                     MsgIcon::Exclamation);
    return;
  }
  BackupName = txtWinNameFileBackup->text();
  if (backup::backupNameProblem(BackupName).empty() && !archiveSourcesReady(winGathered, "\"Convert\""))
    return;
  MakeCAB();
}

}  // namespace app
