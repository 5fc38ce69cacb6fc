// brakvel9x-machine: creates, fills and inspects an emulated Windows 9x machine.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "tools/command/floppy_boot.h"
#include "tools/machine/Install.h"
#include "tools/machine/MachineLayout.h"
#include "tools/rundll32/restart.h"

namespace fs = std::filesystem;
using platform::Machine;

namespace {

const char* kUsage =
    "usage: brakvel9x-machine [--machine DIR] COMMAND ...\n"
    "  init [DIR] [--me]     create a Windows 98 machine (ME with --me) and install the tools\n"
    "  install [DIR]         link the built tools, copy the program's data, convert text hives\n"
    "  info [DIR]            show the machine's drives, environment and program folder\n"
    "  short WINPATH         print the short (8.3) form of an existing path\n"
    "  resolve WINPATH       print the host path of a Windows path\n"
    "  run COMMANDLINE       run a program of the machine in the foreground\n"
    "  restart [DIR]         close the machine's programs and start it again (WinInit.ini)\n"
    "  boot-floppy [DIR]     start the machine from the floppy: run A:\\AUTOEXEC.BAT under DOS\n"
    "DIR defaults to --machine, then $BRAKVEL9X_MACHINE, then the demo machine\n"
    "($XDG_DATA_HOME/brakvel9x/demo).\n";

struct Usage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

fs::path binFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

std::string out(std::string_view ansi) { return platform::ansiToUtf8(ansi); }

struct Args {
  fs::path machine;  // from --machine, or empty
  std::vector<std::string> words;
  fs::path dirOr(size_t i) const {
    if (i < words.size()) return words[i];
    return machine.empty() ? Machine::defaultDir() : machine;
  }
  std::string winPath(size_t i) const {
    if (i >= words.size()) throw Usage("a Windows path is missing");
    return platform::utf8ToAnsi(words[i]);
  }
};

int cmdInit(const Args& a) {
  bool me = false;
  Args rest = a;
  rest.words.clear();
  for (const auto& w : a.words) {
    if (w == "--me") {
      me = true;
    } else {
      rest.words.push_back(w);
    }
  }
  fs::path dir = rest.dirOr(0);
  machine_tool::initMachine(dir, me);
  std::cout << "created a Windows " << (me ? "ME" : "98") << " machine in " << dir.string() << "\n";
  machine_tool::installTools(Machine::open(dir), binFolder(), std::cout);
  return 0;
}

int cmdInstall(const Args& a) {
  Machine m = Machine::open(a.dirOr(0));
  machine_tool::installTools(m, binFolder(), std::cout);
  return 0;
}

int cmdInfo(const Args& a) {
  Machine m = Machine::open(a.dirOr(0));
  std::cout << "Machine " << m.root().string() << " (Windows " << m.ini("Machine", "Version").value_or("98")
            << ")\n\nDrives:\n";
  for (char d : m.drives()) {
    fs::path folder = *m.driveFolder(d);
    std::cout << "  " << d << ":  " << folder.string();
    if (m.isFloppy(d) && !fs::is_directory(folder)) std::cout << "  (no disk)";
    if (m.isFloppy(d) && fs::is_directory(folder)) {
      std::cout << "  (floppy, " << platform::freeSpace(m, d) << " bytes free"
                << (m.ini("Floppy", "WriteProtected").value_or("0") == "1" ? ", write-protected" : "") << ")";
    }
    std::cout << "\n";
  }
  std::cout << "\nEnvironment:\n";
  for (auto& [k, v] : m.environment()) std::cout << "  " << out(k) << "=" << out(v) << "\n";
  const std::string program = "C:\\Program Files\\Brakvel 9x";
  std::cout << "\n" << program << " (" << m.shortPath(program) << "):\n";
  platform::DirEnum d;
  for (std::string n = d.first(m, program + "\\*.*", platform::kDirectory | platform::kHidden | platform::kSystem);
       !n.empty(); n = d.next()) {
    std::string path = platform::winJoin(program, n);
    bool folder = platform::folderExists(m, path);
    std::cout << "  " << (folder ? "<DIR> " : "      ") << out(n);
    if (!folder) std::cout << "  " << platform::fileSize(m, path) << " bytes";
    std::cout << "\n";
  }
  return 0;
}

int cmdShort(const Args& a) {
  std::string path = a.winPath(0);
  Machine m = Machine::open(a.dirOr(99));
  std::string s = m.shortPath(path);
  if (s.empty()) {
    std::cerr << "brakvel9x-machine: " << out(path) << ": no such file or folder\n";
    return 1;
  }
  std::cout << out(s) << "\n";
  return 0;
}

int cmdResolve(const Args& a) {
  std::string path = a.winPath(0);
  Machine m = Machine::open(a.dirOr(99));
  std::cout << m.toHost(path).string() << "\n";
  return 0;
}

// Runs a program as the launcher would, but in the foreground with the
// terminal: for starting the program itself.
int cmdRun(const Args& a) {
  if (a.words.empty()) throw Usage("a command line is missing");
  std::string line;
  for (const auto& w : a.words) line += (line.empty() ? "" : " ") + platform::utf8ToAnsi(w);
  Machine m = Machine::open(a.dirOr(99));
  platform::Launcher::Resolved r;
  {
    platform::WindowTable windows;
    platform::Launcher launcher(m, windows);
    r = launcher.resolve(line);
  }
  if (r.batch || ::access(r.host.c_str(), X_OK) != 0) throw platform::Error(platform::kPathFileAccess, r.winPath);
  // In the Windows folder, as the launcher starts programs.
  if (auto winDir = m.env("WinDir"); winDir && platform::folderExists(m, *winDir)) {
    std::string here = m.longPath(*winDir);
    ::setenv("BRAKVEL9X_CURRENT_FOLDER", out(here).c_str(), 1);
    if (m.driveFolder(here[0])) fs::current_path(m.toHost(here));
  }
  ::setenv("BRAKVEL9X_MACHINE", m.root().c_str(), 1);
  ::setenv("BRAKVEL9X_CMDLINE", out(r.argTail).c_str(), 1);
  ::setenv("BRAKVEL9X_WINDOW", platform::windowStyleName(platform::WindowStyle::NormalFocus), 1);
  ::setenv("BRAKVEL9X_PROGRAM", out(r.winPath).c_str(), 1);
  std::vector<std::string> store{r.host.string()};
  for (auto& arg : r.args) store.push_back(out(arg));
  std::vector<char*> argv;
  for (auto& s : store) argv.push_back(s.data());
  argv.push_back(nullptr);
  ::execv(r.host.c_str(), argv.data());
  throw platform::Error(platform::kPathFileAccess, r.winPath);
}

int cmdRestart(const Args& a) { return restart::restartMachine(Machine::open(a.dirOr(0)), std::cout); }

int cmdBootFloppy(const Args& a) {
  Machine m = Machine::open(a.dirOr(0));
  bool terminal = ::isatty(0) && ::isatty(1);
  return command::bootFloppy(m, std::cout, std::cerr, terminal, &std::cin).booted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::map<std::string, std::function<int(const Args&)>> commands{
      {"init", cmdInit},   {"install", cmdInstall}, {"info", cmdInfo},
      {"short", cmdShort}, {"resolve", cmdResolve}, {"run", cmdRun},
      {"restart", cmdRestart}, {"boot-floppy", cmdBootFloppy},
  };
  Args args;
  int i = 1;
  for (; i < argc; ++i) {
    std::string w = argv[i];
    if ((w == "--machine" || w == "-m") && i + 1 < argc) {
      args.machine = argv[++i];
    } else if (w == "--help" || w == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      break;
    }
  }
  if (i >= argc || !commands.count(argv[i])) {
    if (i < argc) std::cerr << "brakvel9x-machine: unknown command '" << argv[i] << "'\n";
    std::cerr << kUsage;
    return 2;
  }
  std::string command = argv[i++];
  for (; i < argc; ++i) args.words.emplace_back(argv[i]);
  try {
    return commands.at(command)(args);
  } catch (const Usage& e) {
    std::cerr << "brakvel9x-machine " << command << ": " << e.what() << "\n" << kUsage;
    return 2;
  } catch (const platform::Error& e) {
    std::cerr << "brakvel9x-machine " << command << ": " << out(e.what()) << "\n";
  } catch (const std::exception& e) {
    std::cerr << "brakvel9x-machine " << command << ": " << e.what() << "\n";
  }
  return 1;
}
