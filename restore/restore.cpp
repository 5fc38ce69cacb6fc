// "Restore system" and "Undo last system changes": stage the replacement of
// the live system files in WinInit.ini and ask for the restart.
#include "app/frmGlavni.h"
#include "app/program.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "restore/frmRestart.h"
#include "restore/modReplaceFiles.h"
#include "restore/systemFiles.h"

namespace app {

namespace {

std::vector<RenameEntry> entriesFrom(const Context& ctx, bool hasClassesDat, const std::string& folder) {
  std::vector<RenameEntry> entries;
  for (const std::string& n : systemFileSet(hasClassesDat)) {
    std::string winDir = ctx.machine.env("WinDir").value_or("");
    entries.push_back({winDir + "\\" + n, ctx.programFolder + folder + "\\" + n});
  }
  return entries;
}

}  // namespace

void frmGlavni::MakeWininit() {
  if (WriteRenameEntries(context().machine, entriesFrom(context(), HasClassesDat, "\\Exchange")))
    renameHeaderOurs = true;
}

std::vector<std::string> frmGlavni::ownRenameLines() const {
  const Context& ctx = context();
  std::vector<std::string> lines;
  std::string winDir = ShortPath(ctx.machine, ctx.machine.env("WinDir").value_or(""));
  if (winDir.empty()) return lines;
  for (const char* folder : {"\\Exchange", "\\undo"}) {
    std::string from = ShortPath(ctx.machine, ctx.programFolder + folder);
    if (from.empty()) continue;
    for (const std::string& n : systemFileSet(true)) {
      std::string name = platform::upperAnsi(n);
      lines.push_back(winDir + "\\" + name + "=" + from + "\\" + name);
    }
  }
  return lines;
}

void frmGlavni::cmdRestore_Click() {
  const Context& ctx = context();
  try {
    MakeWininit();
  } catch (const MissingFileError& e) {
    program().msgBox(std::string(e.what()) + " Nothing was staged for restore .", MsgIcon::Exclamation);
    return;
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The restore could not be staged in WinInit.ini : ") + e.what(),
                     MsgIcon::Exclamation);
    return;
  }
  SBar->setText("Creating undo...");
  const std::string winDir = ctx.machine.env("WinDir").value_or("");
  const std::string undo = ctx.programFolder + "\\undo";
  std::string failed;
  for (const std::string& n : systemFileSet(HasClassesDat)) {
    try {
      platform::makeFolder(ctx.machine, undo);
      // The older copy carries the live file's attributes (read-only among
      // them); it is ours to replace.
      if (platform::fileExists(ctx.machine, undo + "\\" + n))
        platform::setAttributes(ctx.machine, undo + "\\" + n, platform::kNormal);
      platform::copyFile(ctx.machine, winDir + "\\" + n, undo + "\\" + n);
    } catch (const platform::Error& e) {
      failed += std::string("\r\n") + e.what();
    }
  }
  SBar->setText("Done .");
  tmrStatusBar.start();
  if (!failed.empty())
    program().msgBox("The undo copies of these files could not be made :" + failed, MsgIcon::Exclamation);
  program().form<frmRestart>().Show(true);
}

void frmGlavni::SmartNetButton2_Click() { UndoChange(); }

void frmGlavni::UndoChange() {
  try {
    if (WriteRenameEntries(context().machine, entriesFrom(context(), HasClassesDat, "\\undo")))
      renameHeaderOurs = true;
  } catch (const MissingFileError& e) {
    program().msgBox(std::string(e.what()) + " Nothing was staged for undo .", MsgIcon::Exclamation);
    return;
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The undo could not be staged in WinInit.ini : ") + e.what(),
                     MsgIcon::Exclamation);
    return;
  }
  program().form<frmRestart>().Show(true);
}

}  // namespace app
