#include "tools/machine/Install.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/stand_in.h"
#include "platform/text.h"
#include "tools/machine/MachineRegistry.h"

namespace machine_tool {

namespace fs = std::filesystem;

namespace {

struct ToolLink {
  const char* winPath;  // where the machine has it; "PROGRAM\" is the program folder
  const char* tool;     // the built program in the bin folder
};

// The tools of the machine, where Windows (or the program) keeps them.
const ToolLink kTools[] = {
    {"PROGRAM\\Brakvel 9x.exe", "brakvel9x"},
    {"PROGRAM\\util\\pux.exe", "pux"},
    {"PROGRAM\\util\\Makecab.exe", "makecab"},
    {"C:\\WINDOWS\\RUNDLL32.EXE", "rundll32"},
    {"C:\\WINDOWS\\REGEDIT.EXE", "regedit"},
    {"C:\\WINDOWS\\COMMAND.COM", "command"},
    {"C:\\WINDOWS\\COMMAND\\START.EXE", "start"},
    {"C:\\WINDOWS\\WINHLP32.EXE", "winhelp"},
    {"C:\\Program Files\\Common Files\\Microsoft Shared\\MSINFO\\MSINFO32.EXE", "msinfo32"},
};

const char* kProgramFolder = "C:\\Program Files\\Brakvel 9x";

// Where machine.ini puts Windows; a WinDir set in the host environment (a
// test of the program's own checks) does not move the tools.
std::string windowsFolder(const platform::Machine& m) {
  if (auto w = m.ini("Environment", "WinDir"); w && !w->empty()) return *w;
  return m.env("WinDir").value_or("C:\\WINDOWS");
}

// "PROGRAM\" is the program folder, "C:\WINDOWS\" the machine's Windows folder.
std::string windowsPath(const platform::Machine& m, const char* winPath) {
  std::string p = winPath;
  if (p.starts_with("PROGRAM\\")) return platform::winJoin(kProgramFolder, p.substr(8));
  const std::string windows = "C:\\WINDOWS\\";
  if (p.starts_with(windows)) return platform::winJoin(windowsFolder(m), p.substr(windows.size()));
  return p;
}

bool onImage(const platform::Machine& m, const std::string& winPath) { return m.driveImage(winPath[0]).has_value(); }

std::string hostBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  if (!in && !in.eof()) throw std::runtime_error(p.string() + ": cannot be read");
  return ss.str();
}

// Copies a host folder into a machine folder, keeping what is there already
// (and its short names) and replacing what the build brings anew.
void copyTree(const platform::Machine& m, const fs::path& from, const std::string& to, std::ostream& log) {
  std::error_code ec;
  platform::makeFolder(m, to);
  for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = platform::utf8ToAnsi(it->path().filename().string());
    std::string target = platform::winJoin(to, name);
    if (it->is_directory()) {
      copyTree(m, it->path(), target, log);
      continue;
    }
    std::string bytes = hostBytes(it->path());
    if (platform::fileExists(m, target)) {
      if (platform::readFile(m, target) == bytes) continue;  // the build brings nothing new
      platform::setAttributes(m, target, platform::kArchive);
    }
    platform::writeFileAtomic(m, target, bytes);
    m.shortPath(target);
    log << "copied " << platform::ansiToUtf8(target) << "\n";
  }
}

// On a folder drive: a link to the built program, put beside the old one and
// renamed over it, so there is never a moment without.
void linkTool(const platform::Machine& m, const std::string& win, const fs::path& built, const char* tool,
              std::ostream& log) {
  fs::path host = m.toHost(win);
  std::error_code ec;
  if (fs::is_symlink(host, ec) && fs::read_symlink(host, ec) == fs::absolute(built)) return;  // in place
  if (fs::is_directory(host, ec)) {
    log << "skipped " << platform::ansiToUtf8(win) << ": a folder is in the way\n";
    return;
  }
  fs::path tmp = host.parent_path() / (".~brakvel-link-" + std::string(tool));
  fs::remove(tmp, ec);
  fs::create_symlink(fs::absolute(built), tmp);
  fs::rename(tmp, host);
  m.shortPath(win);
  log << "linked " << platform::ansiToUtf8(win) << " -> " << fs::absolute(built).string() << "\n";
}

// On an image drive: a stand-in naming the built program. A program of the
// disk's own Windows in its place (its REGEDIT.EXE, COMMAND.COM) is kept in
// the program folder's Originals first, under the same path.
void putStandIn(const platform::Machine& m, const std::string& win, const char* tool, std::ostream& log) {
  using namespace platform;
  const std::string bytes = standInBytes(tool);
  if (folderExists(m, win)) {
    log << "skipped " << ansiToUtf8(win) << ": a folder is in the way\n";
    return;
  }
  if (fileExists(m, win)) {
    std::string old = readFile(m, win);
    if (old == bytes) return;  // in place
    if (!platform::standInTool(old)) {
      std::string kept = winJoin(winJoin(kProgramFolder, "Originals"), win.substr(3));
      if (!pathExists(m, kept)) {
        makeFolder(m, winDirName(kept));
        copyFile(m, win, kept);
        log << "kept " << ansiToUtf8(win) << " as " << ansiToUtf8(kept) << "\n";
      }
    }
    if (getAttributes(m, win) & kReadOnly) setAttributes(m, win, kArchive);
  }
  writeFileAtomic(m, win, bytes);
  log << "stand-in " << ansiToUtf8(win) << " for " << tool << "\n";
}

}  // namespace

void installTools(const platform::Machine& m, const fs::path& bin, std::ostream& log) {
  for (const ToolLink& t : kTools) {
    fs::path built = bin / t.tool;
    if (!fs::exists(built)) continue;  // not built (yet): the machine goes without it
    std::string win = windowsPath(m, t.winPath);
    platform::makeFolder(m, platform::winDirName(win));
    if (onImage(m, win)) {
      putStandIn(m, win, t.tool, log);
    } else {
      linkTool(m, win, built, t.tool, log);
    }
  }
  fs::path share = bin.parent_path() / "share" / "brakvel9x";
  if (fs::is_directory(share / "program")) copyTree(m, share / "program", kProgramFolder, log);
  if (fs::is_directory(share / "windows")) {
    copyTree(m, share / "windows", windowsFolder(m), log);
  }
  // A machine made before the hives were registry files gets them now.
  convertTextHives(m, log);
}

}  // namespace machine_tool
