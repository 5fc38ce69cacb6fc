// The Rescue-disk and Reinstall-disk screens: A:\Autoexec.bat, then the
// boot files of the disk's archive extracted onto the floppy.
#include "app/frmGlavni.h"
#include "app/program.h"
#include "disks/autoexec.h"
#include "platform/error.h"
#include "platform/files.h"
#include "restore/modReplaceFiles.h"

namespace app {

namespace {
constexpr const char* kAutoexec = "A:\\Autoexec.bat";
}  // namespace

void frmGlavni::bindDisks() {
  cmdMakeDisk->Click = [this] { cmdMakeDisk_Click(); };
  cmdMakeReinstallDisk->Click = [this] { cmdMakeReinstallDisk_Click(); };
  watchExtractDisk.confirm = [this] { return floppyWritten(watchExtractDisk); };
  watchReinstallDisk.confirm = [this] { return floppyWritten(watchReinstallDisk); };
  watchExtractDisk.onFailure = [this](int status, const std::string& output) { floppyFailed(true, status, output); };
  watchReinstallDisk.onFailure = [this](int status, const std::string& output) {
    floppyFailed(false, status, output);
  };
}

void frmGlavni::MakeAutoexecBat() {
  const Context& ctx = context();
  std::string p = shortOf(ctx.programFolder);
  std::string w = shortOf(ctx.machine.env("WinDir").value_or(""));
  platform::writeFileAtomic(ctx.machine, kAutoexec, rescueAutoexec(p, w, HasClassesDat));
}

void frmGlavni::MakeAutoexecBatReinstall() {
  const Context& ctx = context();
  std::string w = shortOf(ctx.machine.env("WinDir").value_or(""));
  platform::writeFileAtomic(ctx.machine, kAutoexec, reinstallAutoexec(w, HasClassesDat));
}

void frmGlavni::cmdMakeDisk_Click() { makeFloppy(true); }

void frmGlavni::cmdMakeReinstallDisk_Click() { makeFloppy(false); }

void frmGlavni::makeFloppy(bool rescue) {
  const char* what = rescue ? "automated rescue disk" : "automated clean Windows reinstall disk";
  const Context& ctx = context();
  std::string archive = ctx.programFolder + (rescue ? "\\util\\ad.kvt" : "\\util\\ard.kvt");
  std::string cmd;
  try {
    cmd = commandProgram(ctx.programFolder + "\\util\\pux.exe") + " " + shortOf(archive) + " /Y /E /L A:\\";
  } catch (const std::exception& e) {
    program().msgBox(std::string("The ") + what + " was not created : " + e.what(), MsgIcon::Exclamation);
    return;
  }
  try {
    previousAutoexec.reset();
    if (platform::fileExists(ctx.machine, kAutoexec)) previousAutoexec = platform::readFile(ctx.machine, kAutoexec);
    if (rescue)
      MakeAutoexecBat();
    else
      MakeAutoexecBatReinstall();
  } catch (const ShortPathError& e) {
    program().msgBox(std::string("The ") + what + " was not created : " + e.what(), MsgIcon::Exclamation);
    return;
  } catch (const platform::Error& e) {
    program().msgBox(std::string("The ") + what + " was not created : " + e.what() +
                         "\r\nPlease ,insert a formatted, writable floppy disk with free space into drive A: .",
                     MsgIcon::Exclamation);
    return;
  }
  SBar->setText("Copying necessary files to your disk...");
  Watcher& w = rescue ? watchExtractDisk : watchReinstallDisk;
  try {
    w.start(program().shell(cmd, platform::WindowStyle::Hide));
  } catch (const platform::Error& e) {
    SBar->setText("");
    program().msgBox(std::string("The ") + what + " was not created : the cabinet extractor could not be started : " +
                         e.what(),
                     MsgIcon::Exclamation);
  }
}

void frmGlavni::floppyFailed(bool rescue, int exitStatus, const std::string& output) {
  const platform::Machine& m = context().machine;
  std::string why;
  switch (exitStatus) {
    case 3: why = "the disk in A: is full ."; break;
    case 4: why = "the disk in A: is write-protected ."; break;
    default: {
      std::string report = toolReport(output);
      why = toolFailedMessage("pux.exe", exitStatus) + (report.empty() ? std::string() : "\r\n" + report);
    }
  }
  // Nothing of a disk that was not made stays: A:\Autoexec.bat goes back to
  // what it was.
  std::string back;
  try {
    if (previousAutoexec)
      platform::writeFileAtomic(m, kAutoexec, *previousAutoexec);
    else if (platform::fileExists(m, kAutoexec))
      platform::deleteFile(m, kAutoexec);
  } catch (const platform::Error& e) {
    back = std::string("\r\nA:\\Autoexec.bat could not be taken back : ") + e.what();
  }
  previousAutoexec.reset();
  program().msgBox(std::string("The ") + (rescue ? "automated rescue disk" : "automated clean Windows reinstall disk") +
                       " was not created : " + why + back,
                   MsgIcon::Exclamation);
}

bool frmGlavni::floppyWritten(Watcher& w) {
  const platform::Machine& m = context().machine;
  std::vector<std::string> missing;
  try {
    if (!platform::fileExists(m, kAutoexec)) missing.push_back(kAutoexec);
    // The extractor names every file it has written.
    const std::string& out = w.lastOutput();
    size_t pos = 0;
    while (pos < out.size()) {
      size_t end = out.find('\n', pos);
      std::string line = out.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end == std::string::npos ? out.size() : end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("pux: ", 0) != 0) continue;
      std::string path = line.substr(5);
      if (!platform::fileExists(m, path)) missing.push_back(path);
    }
  } catch (const platform::Error& e) {
    missing.push_back(e.what());
  }
  if (missing.empty()) return true;
  std::string list;
  for (const std::string& s : missing) list += "\r\n" + s;
  program().msgBox("The disk was not created : these files are missing on it :" + list, MsgIcon::Exclamation);
  return false;
}

}  // namespace app
