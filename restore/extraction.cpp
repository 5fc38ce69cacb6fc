// The Restore and Rescue-disk screens: an archive's information on
// selection, and the extraction of the whole archive by "Prepare restoring
// files", both by the cabinet extractor watched by tmrExtract.
#include "app/frmGlavni.h"
#include "app/program.h"

#include <algorithm>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "restore/modReplaceFiles.h"
#include "restore/systemFiles.h"

namespace app {

namespace {

constexpr const char* kWaitText = "Please ,wait for archive info...";
constexpr const char* kCrLf = "\r\n";

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

// Inspection goes into a folder of its own, so that the exchange folder of
// a backup being composed is never touched by looking at an archive.
std::string inspectFolder(const Context& ctx) { return ctx.programFolder + "\\Inspect"; }

// The files a preparation replaces: the whole set, whatever this system
// has, and the information file.
std::vector<std::string> preparedNames() {
  std::vector<std::string> names = systemFileSet(true);
  names.push_back("info.txt");
  return names;
}

}  // namespace

void frmGlavni::bindRestore() {
  lvwRestore->Click = [this] { lvwRestore_Click(); };
  lvwRescueDisk->Click = [this] { lvwRescueDisk_Click(); };
  cmdPrepareRestore->Click = [this] { cmdPrepareRestore_Click(); };
  cmdPrepareDisk->Click = [this] { cmdPrepareDisk_Click(); };
  cmdRestore->Click = [this] { cmdRestore_Click(); };
  SmartNetButton2->Click = [this] { SmartNetButton2_Click(); };
  watchExtract.onSuccess = [this] { extractEnded(true, 0, watchExtract.lastOutput()); };
  watchExtract.onFailure = [this](int status, const std::string& output) { extractEnded(false, status, output); };
}

std::string frmGlavni::shortOf(const std::string& path) const {
  return RequireShortPath(context().machine, context().programFolder, path);
}

void frmGlavni::startExtract(ExtractJob job, const std::string& archive, const std::string& folder) {
  ExtractRequest request{job, archive, folder};
  if (!tmrExtract.enabled()) {
    runExtract(request);
    return;
  }
  // One extraction at a time: this one starts when the running one has
  // ended; of the requests waiting, only the newest inspection and the
  // newest preparation of each folder are kept.
  for (auto it = extractQueue.begin(); it != extractQueue.end();) {
    bool replaced = job == ExtractJob::Inspect ? it->job == ExtractJob::Inspect
                                               : it->job != ExtractJob::Inspect && it->folder == folder;
    it = replaced ? extractQueue.erase(it) : it + 1;
  }
  extractQueue.push_back(request);
}

void frmGlavni::runExtract(const ExtractRequest& r) {
  const Context& ctx = context();
  try {
    std::string cmd = commandProgram(ctx.programFolder + "\\util\\pux.exe") + " " + shortOf(r.archive);
    if (r.job == ExtractJob::Inspect)
      cmd += " /Y /L " + shortOf(r.folder) + " info.txt";
    else
      cmd += " /Y /E /L " + shortOf(r.folder);
    platform::JobId id = program().shell(cmd, platform::WindowStyle::Hide);
    extractJob = r.job;
    extractFolder = r.folder;
    extractArchive = r.archive;
    watchExtract.start(id);
  } catch (const std::exception& e) {
    if (r.job != ExtractJob::Inspect) forgetPreparation(true);
    const char* what = r.job == ExtractJob::Inspect ? "The archive information cannot be shown : "
                                                    : "Restoring files were not prepared : ";
    program().msgBox(std::string(what) + e.what(), MsgIcon::Exclamation);
  }
}

void frmGlavni::inspect(Control* list, Control* infoBox, Control* prepareButton) {
  infoBox->setText(kWaitText);
  std::string archive = selectedKey(list);
  if (archive.empty()) return;
  prepareButton->setEnabled(true);
  const Context& ctx = context();
  try {
    platform::makeFolder(ctx.machine, inspectFolder(ctx));
    // An older inspection may still be writing there; it is dropped then.
    if (!tmrExtract.enabled()) removeFile(ctx.machine, inspectFolder(ctx) + "\\info.txt");
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The archive information cannot be shown : ") + e.what(), MsgIcon::Exclamation);
    return;
  }
  startExtract(ExtractJob::Inspect, archive, inspectFolder(ctx));
}

void frmGlavni::lvwRestore_Click() { inspect(lvwRestore, txtFileRestoreInfo, cmdPrepareRestore); }

void frmGlavni::lvwRescueDisk_Click() { inspect(lvwRescueDisk, txtDiskFileInfo, cmdPrepareDisk); }

bool frmGlavni::prepare(Control* list, ExtractJob job, const std::string& folder, Control* next) {
  std::string archive = selectedKey(list);
  if (archive.empty()) {
    program().msgBox(job == ExtractJob::PrepareRestore ? "Select the backup file to restore first ."
                                                       : "Select the backup file to restore from disk first .",
                     MsgIcon::Exclamation);
    return false;
  }
  auto preparing = [](ExtractJob j) { return j == ExtractJob::PrepareRestore || j == ExtractJob::PrepareDisk; };
  if ((tmrExtract.enabled() && preparing(extractJob)) ||
      std::any_of(extractQueue.begin(), extractQueue.end(), [&](const ExtractRequest& r) { return preparing(r.job); })) {
    program().msgBox("Restoring files are being prepared already . Please ,wait until that has ended .",
                     MsgIcon::Exclamation);
    return false;
  }
  if (job == ExtractJob::PrepareRestore &&
      (refuseWhileStaged("\"Prepare restoring files\"", /*writesExchange=*/true, /*writesUndo=*/false) ||
       refuseWhileArchiving()))
    return false;
  const Context& ctx = context();
  next->setEnabled(false);
  if (job == ExtractJob::PrepareRestore) restorePrepared.clear();
  // The files prepared before stay until the new archive is out whole.
  forgetPreparation(true);
  try {
    platform::makeFolder(ctx.machine, folder);
    prepareSnapshot = std::make_unique<platform::FolderSnapshot>(ctx.machine, folder, preparedNames());
    // The extractor does not replace read-only files; these are ours.
    for (const std::string& n : preparedNames()) {
      const std::string path = folder + "\\" + n;
      if (!platform::fileExists(ctx.machine, path)) continue;
      uint8_t a = platform::getAttributes(ctx.machine, path);
      if (!(a & platform::kReadOnly)) continue;
      platform::setAttributes(ctx.machine, path, static_cast<uint8_t>(a & ~platform::kReadOnly));
      prepareAttributes.emplace_back(path, a);
    }
  } catch (const platform::Error& e) {
    forgetPreparation(true);
    program().msgBox(std::string("Restoring files cannot be prepared : ") + e.what(), MsgIcon::Exclamation);
    return false;
  }
  startExtract(job, archive, folder);
  return true;
}

void frmGlavni::cmdPrepareRestore_Click() {
  SBar->setText("Preparing restore files...");
  const std::string folder = context().programFolder + "\\Exchange";
  if (!prepare(lvwRestore, ExtractJob::PrepareRestore, folder, cmdRestore)) {
    SBar->setText("");
    return;
  }
  SBar->setText("Done .");
  tmrStatusBar.start();
  // "Restore system" waits for the extraction to finish with success.
}

void frmGlavni::cmdPrepareDisk_Click() {
  prepare(lvwRescueDisk, ExtractJob::PrepareDisk, context().programFolder + "\\Rescue", cmdMakeDisk);
}

void frmGlavni::forgetPreparation(bool putBack) {
  if (putBack) {
    for (const auto& [path, attrs] : prepareAttributes) {
      try {
        if (platform::fileExists(context().machine, path)) platform::setAttributes(context().machine, path, attrs);
      } catch (const platform::Error&) {
      }
    }
  }
  prepareAttributes.clear();
  prepareSnapshot.reset();
}

void frmGlavni::extractEnded(bool succeeded, int exitStatus, const std::string& output) {
  const ExtractJob job = extractJob;
  const std::string folder = extractFolder, archive = extractArchive;
  extractJob = ExtractJob::None;
  const bool preparing = job == ExtractJob::PrepareRestore || job == ExtractJob::PrepareDisk;
  // A newer inspection waits: this one's result is dropped.
  bool superseded = job == ExtractJob::Inspect &&
                    std::any_of(extractQueue.begin(), extractQueue.end(),
                                [](const ExtractRequest& r) { return r.job == ExtractJob::Inspect; });
  auto next = [&] {
    if (extractQueue.empty()) return;
    ExtractRequest r = extractQueue.front();
    extractQueue.pop_front();
    if (r.job == ExtractJob::Inspect) removeFile(context().machine, r.folder + "\\info.txt");
    runExtract(r);
  };
  if (job == ExtractJob::None || superseded) {
    next();
    return;
  }
  if (!succeeded) {
    std::string why = toolReport(output);
    if (why.empty()) why = toolFailedMessage("pux.exe", exitStatus);
    if (preparing) {
      // The extractor replaces a set whole or not at all: the files
      // prepared before are there as they were.
      forgetPreparation(true);
      program().msgBox("Restoring files were not prepared from " + archive + " :" + kCrLf + why + kCrLf +
                           "The files prepared before are kept . Please ,press \"Prepare restoring files\" again .",
                       MsgIcon::Exclamation);
    } else {
      txtDiskFileInfo->setText("");
      txtFileRestoreInfo->setText("");
      program().msgBox("The information of " + archive + " cannot be shown :" + kCrLf + why, MsgIcon::Exclamation);
    }
    next();
    return;
  }
  showInfo(folder + "\\info.txt");
  if (!preparing) {
    next();
    return;
  }
  const Context& ctx = context();
  for (const std::string& n : systemFileSet(HasClassesDat)) {
    // Each file of the set must have come from this archive.
    if (platform::fileExists(ctx.machine, folder + "\\" + n) && !(prepareSnapshot && prepareSnapshot->unchanged(n)))
      continue;
    std::string kept = "The files prepared before are kept .";
    try {
      if (prepareSnapshot) prepareSnapshot->restore();
    } catch (const platform::Error& e) {
      kept = std::string("The files prepared before could not be put back : ") + e.what();
    }
    forgetPreparation(true);
    program().msgBox("The backup archive holds no " + n + " , so restoring files were not prepared from " +
                         archive + " . " + kept,
                     MsgIcon::Exclamation);
    next();
    return;
  }
  forgetPreparation(false);
  if (job == ExtractJob::PrepareRestore) {
    for (const std::string& n : systemFileSet(HasClassesDat)) restorePrepared.take(ctx.machine, folder, n);
    cmdRestore->setEnabled(true);
  } else {
    cmdMakeDisk->setEnabled(true);
  }
  next();
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
