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
#include "tools/machine/DriveTools.h"
#include "tools/machine/FloppyDisk.h"
#include "tools/machine/Install.h"
#include "tools/machine/MachineLayout.h"
#include "tools/rundll32/restart.h"

namespace fs = std::filesystem;
using platform::Machine;

namespace {

const char* kUsage =
    "usage: brakvel9x-machine [--machine DIR] COMMAND ...\n"
    "  init [DIR] [--me] [--floppy-folder] [--disk IMAGE]\n"
    "                        create a Windows 98 machine (ME with --me) and install the tools;\n"
    "                        A: is the floppy image DIR/floppy.img (the folder DIR/drive_a with\n"
    "                        --floppy-folder). With --disk, C: is IMAGE, a raw FAT16/FAT32 disk\n"
    "                        image holding Windows 98 or ME (ME when its Windows folder has\n"
    "                        CLASSES.DAT), used where it is, not copied: the program folder and\n"
    "                        the tools are written into it, and the tools replace Windows' own\n"
    "                        REGEDIT.EXE, COMMAND.COM, ... (kept in the program folder's\n"
    "                        Originals), so give it a copy of a virtual machine's disk\n"
    "                        (qemu-img convert -O raw disk.vdi disk.img)\n"
    "  install [DIR]         link the built tools (stand-in files on an image), copy the\n"
    "                        program's data, convert text hives\n"
    "  info [DIR]            show the machine's drives, environment and program folder\n"
    "  short WINPATH         print the short (8.3) form of an existing path\n"
    "  resolve WINPATH       print the host path of a Windows path (folder drives only)\n"
    "  run COMMANDLINE       run a program of the machine in the foreground\n"
    "  restart [DIR]         close the machine's programs and start it again (WinInit.ini)\n"
    "  boot-floppy [DIR]     start the machine from the floppy: run A:\\AUTOEXEC.BAT under DOS\n"
    "  eject [DIR]           take the disk out of A: (floppy.img or drive_a becomes NAME.out)\n"
    "  insert [DIR]          put it back (a blank formatted disk when none was taken out)\n"
    "  ls [DIR] WINPATH      list a folder (or a pattern such as C:\\WINDOWS\\*.DAT), one line\n"
    "                        each: RHSA  SIZE|<DIR>  YYYY-MM-DD HH:MM:SS  SHORTNAME  LONG NAME\n"
    "  copy-out [DIR] WINPATH HOSTFILE   copy a file of the machine to the host\n"
    "  copy-in [DIR] HOSTFILE WINPATH    copy a host file into the machine\n"
    "DIR defaults to --machine, then $BRAKVEL9X_MACHINE, then the demo machine\n"
    "($XDG_DATA_HOME/brakvel9x/demo). Every drive may be a host folder or a FAT disk image.\n";

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
  machine_tool::InitOptions o;
  Args rest = a;
  rest.words.clear();
  for (size_t i = 0; i < a.words.size(); ++i) {
    const std::string& w = a.words[i];
    if (w == "--me") {
      o.me = true;
    } else if (w == "--floppy-folder") {
      o.floppyFolder = true;
    } else if (w == "--disk") {
      if (i + 1 >= a.words.size()) throw Usage("--disk needs a disk image");
      o.disk = fs::path(a.words[++i]);
    } else if (w.starts_with("--")) {
      throw Usage("unknown option " + w);
    } else {
      rest.words.push_back(w);
    }
  }
  fs::path dir = rest.dirOr(0);
  std::string version = machine_tool::initMachine(dir, o);
  std::cout << "created a Windows " << version << " machine in " << dir.string();
  if (o.disk) std::cout << " on the disk image " << fs::absolute(*o.disk).lexically_normal().string();
  std::cout << "\n";
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
    auto image = m.driveImage(d);
    fs::path place = image ? *image : *m.driveFolder(d);
    std::cout << "  " << d << ":  " << place.string();
    std::error_code ec;
    if (!fs::exists(place, ec)) {
      std::cout << "  (no disk)\n";
      continue;
    }
    if (m.isFloppy(d) || image) {
      std::string state;
      try {
        state = std::string(m.isFloppy(d) ? "floppy" : "disk") + (image ? " image" : "") + ", " +
                std::to_string(platform::freeSpace(m, d)) + " bytes free" +
                (platform::isWriteProtected(m, d) ? ", write-protected" : "");
      } catch (const platform::Error& e) {
        state = out(e.what());
      }
      std::cout << "  (" << state << ")";
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

int cmdEject(const Args& a) {
  machine_tool::ejectFloppy(Machine::open(a.dirOr(0)), std::cout);
  return 0;
}

int cmdInsert(const Args& a) {
  machine_tool::insertFloppy(Machine::open(a.dirOr(0)), std::cout);
  return 0;
}

// The people tools take the machine folder first when one more word is
// given than they need.
Args withMachineFirst(const Args& a, size_t need) {
  if (a.words.size() < need) throw Usage("too few arguments");
  if (a.words.size() > need + 1) throw Usage("too many arguments");
  Args r = a;
  if (a.words.size() == need + 1) {
    r.machine = a.words[0];
    r.words.erase(r.words.begin());
  }
  return r;
}

int cmdLs(const Args& a) {
  Args r = withMachineFirst(a, 1);
  machine_tool::listFolder(Machine::open(r.dirOr(99)), r.winPath(0), std::cout);
  return 0;
}

int cmdCopyOut(const Args& a) {
  Args r = withMachineFirst(a, 2);
  machine_tool::copyOut(Machine::open(r.dirOr(99)), r.winPath(0), r.words[1]);
  return 0;
}

int cmdCopyIn(const Args& a) {
  Args r = withMachineFirst(a, 2);
  machine_tool::copyIn(Machine::open(r.dirOr(99)), r.words[0], r.winPath(1));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::map<std::string, std::function<int(const Args&)>> commands{
      {"init", cmdInit},   {"install", cmdInstall}, {"info", cmdInfo},
      {"short", cmdShort}, {"resolve", cmdResolve}, {"run", cmdRun},
      {"restart", cmdRestart}, {"boot-floppy", cmdBootFloppy},
      {"eject", cmdEject},     {"insert", cmdInsert},   {"ls", cmdLs},
      {"copy-out", cmdCopyOut}, {"copy-in", cmdCopyIn},
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
