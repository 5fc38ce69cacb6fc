#include "tools/machine/Install.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/files.h"
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

std::string windowsPath(const char* winPath) {
  std::string p = winPath;
  if (p.starts_with("PROGRAM\\")) p = platform::winJoin(kProgramFolder, p.substr(8));
  return p;
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
    fs::path host = m.toHost(target);
    if (platform::fileExists(m, target)) platform::setAttributes(m, target, platform::kArchive);
    fs::copy_file(it->path(), host, fs::copy_options::overwrite_existing);
    m.shortPath(target);
    log << "copied " << platform::ansiToUtf8(target) << "\n";
  }
}

}  // namespace

void installTools(const platform::Machine& m, const fs::path& bin, std::ostream& log) {
  for (const ToolLink& t : kTools) {
    fs::path built = bin / t.tool;
    if (!fs::exists(built)) continue;  // not built (yet): the machine goes without it
    std::string win = windowsPath(t.winPath);
    platform::makeFolder(m, platform::winDirName(win));
    fs::path host = m.toHost(win);
    std::error_code ec;
    if (fs::is_symlink(host, ec) && fs::read_symlink(host, ec) == fs::absolute(built)) {
      continue;  // already in place
    }
    if (fs::is_directory(host, ec)) {
      log << "skipped " << platform::ansiToUtf8(win) << ": a folder is in the way\n";
      continue;
    }
    // A new link beside the old one, then renamed over it: never a moment without.
    fs::path tmp = host.parent_path() / (".~brakvel-link-" + std::string(t.tool));
    fs::remove(tmp, ec);
    fs::create_symlink(fs::absolute(built), tmp);
    fs::rename(tmp, host);
    m.shortPath(win);
    log << "linked " << platform::ansiToUtf8(win) << " -> " << fs::absolute(built).string() << "\n";
  }
  fs::path share = bin.parent_path() / "share" / "brakvel9x";
  if (fs::is_directory(share / "program")) copyTree(m, share / "program", kProgramFolder, log);
  if (fs::is_directory(share / "windows")) {
    copyTree(m, share / "windows", m.env("WinDir").value_or("C:\\WINDOWS"), log);
  }
  // A machine made before the hives were registry files gets them now.
  convertTextHives(m, log);
}

}  // namespace machine_tool
