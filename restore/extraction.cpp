// The Restore and Rescue-disk screens: an archive's information on
// selection, and the extraction of the whole archive by "Prepare restoring
// files", both by the cabinet extractor watched by tmrExtract.
#include "app/frmGlavni.h"
#include "app/program.h"
#include "platform/error.h"
#include "platform/files.h"
#include "restore/modReplaceFiles.h"
#include "restore/systemFiles.h"

namespace app {

namespace {

constexpr const char* kWaitText = "Please ,wait for archive info...";

std::string selectedKey(const Control* list) {
  const ListRow* row = list->selectedItem();
  return row ? row->key : std::string();
}

// Removes a file of ours that may carry the attributes of the live copy it
// came from.
void removeFile(const platform::Machine& m, const std::string& path) {
  if (!platform::fileExists(m, path)) return;
  platform::setAttributes(m, path, platform::kNormal);
  platform::deleteFile(m, path);
}

}  // namespace

void frmGlavni::bindRestore() {
  lvwRestore->Click = [this] { lvwRestore_Click(); };
  lvwRescueDisk->Click = [this] { lvwRescueDisk_Click(); };
  cmdPrepareRestore->Click = [this] { cmdPrepareRestore_Click(); };
  cmdPrepareDisk->Click = [this] { cmdPrepareDisk_Click(); };
  cmdRestore->Click = [this] { cmdRestore_Click(); };
  SmartNetButton2->Click = [this] { SmartNetButton2_Click(); };
  watchExtract.onSuccess = [this] { extractFinished(); };
}

void frmGlavni::startExtract(ExtractJob job, const std::string& archive, const std::string& folder) {
  const Context& ctx = context();
  std::string cmd = ctx.programFolder + "\\util\\pux.exe " + ShortPath(ctx.machine, archive);
  if (job == ExtractJob::Inspect)
    cmd += " /Y /L " + ShortPath(ctx.machine, folder) + " info.txt";
  else
    cmd += " /Y /E /L " + ShortPath(ctx.machine, folder);
  try {
    platform::JobId id = program().shell(cmd, platform::WindowStyle::Hide);
    extractJob = job;
    extractFolder = folder;
    watchExtract.start(id);
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The cabinet extractor could not be started : ") + e.what(),
                     MsgIcon::Exclamation);
  }
}

namespace {

// Inspection goes into a folder of its own, so that the exchange folder of
// a backup being composed is never touched by looking at an archive.
std::string inspectFolder(const Context& ctx) { return ctx.programFolder + "\\Inspect"; }

}  // namespace

void frmGlavni::lvwRestore_Click() {
  txtFileRestoreInfo->setText(kWaitText);
  std::string archive = selectedKey(lvwRestore);
  if (archive.empty()) return;
  cmdPrepareRestore->setEnabled(true);
  const Context& ctx = context();
  try {
    platform::makeFolder(ctx.machine, inspectFolder(ctx));
    removeFile(ctx.machine, inspectFolder(ctx) + "\\info.txt");
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The archive information cannot be shown : ") + e.what(),
                     MsgIcon::Exclamation);
    return;
  }
  startExtract(ExtractJob::Inspect, archive, inspectFolder(ctx));
}

void frmGlavni::lvwRescueDisk_Click() {
  txtDiskFileInfo->setText(kWaitText);
  std::string archive = selectedKey(lvwRescueDisk);
  if (archive.empty()) return;
  cmdPrepareDisk->setEnabled(true);
  const Context& ctx = context();
  try {
    platform::makeFolder(ctx.machine, inspectFolder(ctx));
    removeFile(ctx.machine, inspectFolder(ctx) + "\\info.txt");
  } catch (const platform::Error&) {
    // Steps that fail are passed over here; the extractor then reports.
  }
  startExtract(ExtractJob::Inspect, archive, inspectFolder(ctx));
}

namespace {

// Clears the system-file set out of a working folder, so that an extraction
// that fails or an archive that lacks a file cannot leave the files of an
// earlier archive to be restored. Throws platform::Error.
void clearSet(const Context& ctx, const std::string& folder) {
  platform::makeFolder(ctx.machine, folder);
  for (const std::string& n : systemFileSet(true)) removeFile(ctx.machine, folder + "\\" + n);
}

}  // namespace

void frmGlavni::cmdPrepareRestore_Click() {
  SBar->setText("Preparing restore files...");
  std::string archive = selectedKey(lvwRestore);
  if (archive.empty()) {
    program().msgBox("Select the backup file to restore first .", MsgIcon::Exclamation);
    return;
  }
  const Context& ctx = context();
  const std::string folder = ctx.programFolder + "\\Exchange";
  cmdRestore->setEnabled(false);
  try {
    clearSet(ctx, folder);
  } catch (const platform::Error& e) {
    program().msgBox(std::string("Restoring files cannot be prepared : ") + e.what(), MsgIcon::Exclamation);
    return;
  }
  startExtract(ExtractJob::PrepareRestore, archive, folder);
  SBar->setText("Done .");
  tmrStatusBar.start();
  // "Restore system" waits for the extraction to finish with success.
}

void frmGlavni::cmdPrepareDisk_Click() {
  std::string archive = selectedKey(lvwRescueDisk);
  if (archive.empty()) {
    program().msgBox("Select the backup file to restore from disk first .", MsgIcon::Exclamation);
    return;
  }
  const Context& ctx = context();
  const std::string folder = ctx.programFolder + "\\Rescue";
  cmdMakeDisk->setEnabled(false);
  try {
    clearSet(ctx, folder);
  } catch (const platform::Error& e) {
    program().msgBox(std::string("Restoring files cannot be prepared : ") + e.what(), MsgIcon::Exclamation);
    return;
  }
  startExtract(ExtractJob::PrepareDisk, archive, folder);
}

void frmGlavni::extractFinished() {
  ExtractJob job = extractJob;
  std::string folder = extractFolder;
  extractJob = ExtractJob::None;
  if (job == ExtractJob::None) return;
  showInfo(folder + "\\info.txt");
  if (job == ExtractJob::Inspect) return;
  const Context& ctx = context();
  for (const std::string& n : systemFileSet(HasClassesDat)) {
    std::string path = folder + "\\" + n;
    if (!platform::fileExists(ctx.machine, path)) {
      program().msgBox("The backup archive holds no " + n + " : " + path +
                           " is missing . Restoring files were not prepared .",
                       MsgIcon::Exclamation);
      return;
    }
  }
  (job == ExtractJob::PrepareRestore ? cmdRestore : cmdMakeDisk)->setEnabled(true);
}

void frmGlavni::showInfo(const std::string& infoFile) {
  txtDiskFileInfo->setText("");
  txtFileRestoreInfo->setText("");
  std::vector<std::string> lines;
  try {
    lines = platform::readLines(context().machine, infoFile);
  } catch (const platform::Error&) {
    return;  // no information: both boxes stay empty
  }
  std::string disk, restore;
  for (const std::string& line : lines) {
    disk += "\r\n" + line;
    restore += "\r\n" + line;
  }
  txtDiskFileInfo->setText(disk);
  txtFileRestoreInfo->setText(restore);
}

}  // namespace app
