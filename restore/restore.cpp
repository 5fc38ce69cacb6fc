// "Restore system" and "Undo last system changes": stage the replacement of
// the live system files in WinInit.ini and ask for the restart.
#include "app/frmGlavni.h"
#include "app/program.h"
#include "platform/error.h"
#include "platform/fileset.h"
#include "platform/files.h"
#include "platform/text.h"
#include "restore/frmRestart.h"
#include "restore/modReplaceFiles.h"
#include "restore/systemFiles.h"

namespace app {

namespace {

constexpr const char* kCrLf = "\r\n";

std::vector<RenameEntry> entriesFrom(const Context& ctx, bool hasClassesDat, const std::string& folder) {
  std::vector<RenameEntry> entries;
  for (const std::string& n : systemFileSet(hasClassesDat)) {
    std::string winDir = ctx.machine.env("WinDir").value_or("");
    entries.push_back({winDir + "\\" + n, ctx.programFolder + folder + "\\" + n});
  }
  return entries;
}

// Our lines whose sources lie in folder (short form), upper case.
std::vector<std::string> linesFrom(const Context& ctx, const std::string& folder) {
  std::vector<std::string> lines;
  std::string winDir = ShortPath(ctx.machine, ctx.machine.env("WinDir").value_or(""));
  std::string from = ShortPath(ctx.machine, ctx.programFolder + folder);
  if (winDir.empty() || from.empty()) return lines;
  for (const std::string& n : systemFileSet(true)) {
    std::string name = platform::upperAnsi(n);
    lines.push_back(winDir + "\\" + name + "=" + from + "\\" + name);
  }
  return lines;
}

}  // namespace

void frmGlavni::MakeWininit() {
  if (WriteRenameEntries(context().machine, context().programFolder,
                         entriesFrom(context(), HasClassesDat, "\\Exchange")))
    renameHeaderOurs = true;
}

std::vector<std::string> frmGlavni::ownRenameLines() const {
  std::vector<std::string> lines = linesFrom(context(), "\\Exchange");
  for (std::string& l : linesFrom(context(), "\\undo")) lines.push_back(std::move(l));
  return lines;
}

frmGlavni::Staged frmGlavni::staged() const {
  Staged s;
  const platform::Machine& m = context().machine;
  std::string text;
  try {
    if (!platform::fileExists(m, winInitPath(m))) return s;
    text = platform::readFile(m, winInitPath(m));
  } catch (const platform::Error&) {
    return s;
  }
  auto holdsAny = [&](const std::vector<std::string>& ours) {
    for (const std::string& line : renameSectionLines(text))
      for (const std::string& o : ours)
        if (platform::equalsNoCase(line, o)) return true;
    return false;
  };
  s.restore = holdsAny(linesFrom(context(), "\\Exchange"));
  s.undo = holdsAny(linesFrom(context(), "\\undo"));
  return s;
}

bool frmGlavni::refuseWhileStaged(const std::string& step, bool writesExchange, bool writesUndo) {
  Staged s = staged();
  std::string what;
  if (writesExchange && s.restore) {
    what = "A restore of the system files is staged and waits for the restart of Windows : " + step +
           " would change the files in the exchange folder that it installs .";
  } else if (writesUndo && s.undo) {
    what = "An undo of the last system changes is staged and waits for the restart of Windows : " + step +
           " would replace the undo copies that it installs .";
  } else {
    return false;
  }
  SBar->setText("");
  program().msgBox(what + kCrLf +
                       "Please ,restart Windows to finish it first , or take it back : \"Undo last system "
                       "changes\" opens the restart question , whose \"No, cancel restore command\" removes every "
                       "change this program has staged .",
                   MsgIcon::Exclamation);
  return true;
}

void frmGlavni::cmdRestore_Click() {
  const Context& ctx = context();
  const platform::Machine& m = ctx.machine;
  const std::string exchange = ctx.programFolder + "\\Exchange";
  if (refuseWhileStaged("\"Restore system\"", /*writesExchange=*/false, /*writesUndo=*/true)) return;
  // Exactly the set the preparation extracted, and all of it.
  std::string changed = restorePrepared.empty() ? std::string("System.dat") : restorePrepared.changed(m, exchange);
  for (const std::string& n : systemFileSet(HasClassesDat))
    if (changed.empty() && !restorePrepared.has(n)) changed = n;
  if (!changed.empty()) {
    program().msgBox(exchange + "\\" + changed +
                         " is not the file \"Prepare restoring files\" extracted , so nothing was staged for "
                         "restore . Please ,press \"Prepare restoring files\" again .",
                     MsgIcon::Exclamation);
    return;
  }
  // WinInit.ini as it was, to put back when the undo copies cannot be made.
  const std::string ini = winInitPath(m);
  std::optional<std::string> before;
  const bool headerBefore = renameHeaderOurs;
  try {
    if (platform::fileExists(m, ini)) before = platform::readFile(m, ini);
    MakeWininit();
  } catch (const MissingFileError& e) {
    program().msgBox(std::string(e.what()) + " Nothing was staged for restore .", MsgIcon::Exclamation);
    return;
  } catch (const ShortPathError& e) {
    program().msgBox(std::string(e.what()) + kCrLf + "Nothing was staged for restore .", MsgIcon::Exclamation);
    return;
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The restore could not be staged in WinInit.ini : ") + e.what(),
                     MsgIcon::Exclamation);
    return;
  }
  SBar->setText("Creating undo...");
  const std::string winDir = m.env("WinDir").value_or("");
  const std::string undo = ctx.programFolder + "\\undo";
  std::vector<std::pair<std::string, std::string>> copies;
  for (const std::string& n : systemFileSet(HasClassesDat)) copies.emplace_back(winDir + "\\" + n, n);
  std::string failed;
  try {
    platform::makeFolder(m, undo);
    // All new copies or the old ones whole: an undo never mixes two.
    platform::copyFilesAsSet(m, undo, copies);
  } catch (const platform::Error& e) {
    failed = e.what();
  }
  SBar->setText("Done .");
  tmrStatusBar.start();
  if (!failed.empty()) {
    std::string back;
    try {
      if (before) {
        platform::writeFileAtomic(m, ini, *before);
      } else if (platform::fileExists(m, ini)) {
        platform::deleteFile(m, ini);
      }
      renameHeaderOurs = headerBefore;
    } catch (const platform::Error& e) {
      back = kCrLf + std::string("The staged lines could not be taken out of WinInit.ini again : ") + e.what();
    }
    program().msgBox("The undo copies could not be made : " + failed + kCrLf +
                         "Nothing was staged for restore ; the undo copies made before are kept ." + back,
                     MsgIcon::Exclamation);
    return;
  }
  program().form<frmRestart>().Show(true);
}

void frmGlavni::SmartNetButton2_Click() { UndoChange(); }

void frmGlavni::UndoChange() {
  try {
    if (WriteRenameEntries(context().machine, context().programFolder,
                           entriesFrom(context(), HasClassesDat, "\\undo")))
      renameHeaderOurs = true;
  } catch (const MissingFileError& e) {
    program().msgBox(std::string(e.what()) + " Nothing was staged for undo .", MsgIcon::Exclamation);
    return;
  } catch (const ShortPathError& e) {
    program().msgBox(std::string(e.what()) + kCrLf + "Nothing was staged for undo .", MsgIcon::Exclamation);
    return;
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The undo could not be staged in WinInit.ini : ") + e.what(),
                     MsgIcon::Exclamation);
    return;
  }
  program().form<frmRestart>().Show(true);
}

}  // namespace app
