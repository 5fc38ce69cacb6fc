#include "tests/support/test_machine.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "platform/files.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/registry.h"
#include "tests/support/environment.h"
#include "tests/support/host_files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

namespace {

const std::string kProgram = "C:\\Program Files\\Brakvel 9x";

std::string iniFor(const MachineOptions& o) {
  std::string ini = std::string("[Machine]\r\nVersion=") + (o.windows == Windows::WinME ? "ME" : "98") +
                    "\r\n[Drives]\r\nC=drive_c\r\nA=drive_a\r\n";
  if (o.driveD) ini += "D=drive_d\r\n";
  ini += std::string("[Floppy]\r\nWriteProtected=") + (o.floppy == Floppy::WriteProtected ? "1" : "0") + "\r\n";
  ini += "[Environment]\r\n";
  for (const auto& [k, v] : o.environment) ini += k + "=" + v + "\r\n";
  return ini;
}

Ran mtools(const std::string& tool, const fs::path& image, std::vector<std::string> args) {
  std::vector<std::string> argv{tool, "-i", image.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  RunOptions o;
  o.env = {{"MTOOLS_SKIP_CHECK", "1"}};
  Ran r = run(argv, 120s, o);
  if (r.status != 0) throw std::runtime_error(tool + " on " + image.string() + " failed: " + r.output());
  return r;
}

std::string dosPath(const fs::path& rel) {
  std::string s = "::/" + rel.generic_string();
  if (s.size() > 3 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

MachineOptions& MachineOptions::setVariable(const std::string& name, const std::string& value) {
  for (auto& [k, v] : environment) {
    if (k == name) {
      v = value;
      return *this;
    }
  }
  environment.emplace_back(name, value);
  return *this;
}

MachineOptions& MachineOptions::unsetVariable(const std::string& name) {
  std::erase_if(environment, [&](auto& kv) { return kv.first == name; });
  return *this;
}

TestMachine::TestMachine(const MachineOptions& options) : options_(options) {
  clearHostOverrides();
  std::string tmpl = (fs::temp_directory_path() / "brakvel-machine-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a temporary folder from " + tmpl);
  dir_ = tmpl;
  try {
    build();
  } catch (...) {
    removeTree(dir_);
    throw;
  }
}

TestMachine::~TestMachine() {
  machine_.reset();
  removeTree(dir_);
}

void TestMachine::build() {
  const MachineOptions& o = options_;
  if (o.layout == Layout::Installed) {
#ifdef BRAKVEL9X_MACHINE_TOOL
    std::vector<std::string> flags;
    if (o.windows == Windows::WinME) flags.push_back("--me");
    if (o.a == DriveForm::Folder) flags.push_back("--floppy-folder");
    std::vector<std::string> argv{BRAKVEL9X_MACHINE_TOOL, "init", dir_.string()};
    argv.insert(argv.end(), flags.begin(), flags.end());
    Ran r = run(argv, 120s);
    if (r.status != 0) throw std::runtime_error("brakvel9x-machine init failed: " + r.output());
    if (o.c == DriveForm::Image) {
      // init's C: onto a disk, and the machine made again on that disk, as
      // a virtual machine's disk is taken: the tools go in as stand-ins.
      toImage(c(), image('C'), false);
      fs::remove(dir_ / "machine.ini");
      argv = {BRAKVEL9X_MACHINE_TOOL, "init", dir_.string(), "--disk", image('C').string()};
      argv.insert(argv.end(), flags.begin(), flags.end());
      r = run(argv, 120s);
      if (r.status != 0) throw std::runtime_error("brakvel9x-machine init --disk failed: " + r.output());
      // The hives as a Windows disk has them, whatever the host folder kept
      // of init's attributes on the way.
      platform::Machine m = open();
      std::vector<std::string> hives{"System.dat", "User.dat"};
      if (o.windows == Windows::WinME) hives.push_back("Classes.dat");
      for (const std::string& h : hives)
        platform::setAttributes(m, "C:\\WINDOWS\\" + h, platform::kReadOnly | platform::kHidden | platform::kSystem);
    }
#else
    throw std::runtime_error("this build has no brakvel9x-machine to make an installed machine");
#endif
  } else {
    fs::create_directories(windows());
    if (o.floppy != Floppy::None) fs::create_directories(dir_ / "drive_a");
    if (o.driveD) fs::create_directories(dir_ / "drive_d" / "Brakvel 9x");
    spit(dir_ / "machine.ini", o.ini ? *o.ini : iniFor(o));
  }
  if (o.ini && o.c == DriveForm::Folder && o.a == DriveForm::Folder && o.layout == Layout::Bare) return;

  platform::Machine m = open();
  fill(m);
  if (o.layout == Layout::Installed) {
    for (const auto& [k, v] : o.environment) m.setIni("Environment", k, v);
    if (o.floppy == Floppy::WriteProtected) m.setIni("Floppy", "WriteProtected", "1");
    if (o.floppy == Floppy::None) {
      fs::remove_all(dir_ / "drive_a");
      fs::remove(image('A'));
    }
  }
  for (const auto& s : o.settings) m.setIni(s[0], s[1], s[2]);
  if (o.quietStart) {
    platform::SaveSetting(m, "Brakvel 9x", "Options", "Show Intro", "0");
    platform::SaveSetting(m, "Brakvel 9x", "Options", "Show Tips at Startup", "0");
  }
  if (o.c == DriveForm::Image && o.layout != Layout::Installed) {
    toImage(c(), image('C'), false);
    m.setIni("Drives", "C", image('C').filename().string());
  }
  if (o.a == DriveForm::Image && o.layout != Layout::Installed) {
    if (o.floppy != Floppy::None) toImage(dir_ / "drive_a", image('A'), true);
    fs::remove_all(dir_ / "drive_a");
    m.setIni("Drives", "A", image('A').filename().string());
  }
}

void TestMachine::fill(platform::Machine& m) {
  const bool me = options_.windows == Windows::WinME;
  switch (options_.layout) {
    case Layout::Bare:
    case Layout::Installed:
      break;
    case Layout::EmptyHives: {
      using namespace platform::hive;
      auto empty = [](HiveId id) { return cregBytes(Hive(kHiveTop[id]).top()); };
      spit(hive("System.dat"), empty(kSystemHive));
      spit(hive("User.dat"), empty(kUserHive));
      if (me) spit(hive("Classes.dat"), empty(kClassesHive));
      break;
    }
    case Layout::SystemSet: {
      // Through the machine, so that the short names come in this order.
      for (const char* f : {"C:\\WINDOWS\\COMMAND", "C:\\Program Files\\Brakvel 9x\\Rescue",
                            "C:\\Program Files\\Brakvel 9x\\Exchange", "C:\\Program Files\\Brakvel 9x\\undo",
                            "C:\\Program Files\\Brakvel 9x\\util", "C:\\My Documents"})
        platform::makeFolder(m, f);
      std::vector<std::string> set;
      if (me) set.push_back("Classes.dat");
      for (const char* n : {"System.dat", "User.dat", "System.ini", "Win.ini"}) set.push_back(n);
      for (const std::string& name : set) platform::writeFile(m, "C:\\WINDOWS\\" + name, "live " + name);
      if (me) {
        platform::makeFolder(m, "C:\\_restore\\ARCHIVE");
        platform::writeFile(m, "C:\\_restore\\ARCHIVE\\FS0.CAB", "restore point");
      }
      break;
    }
    case Layout::Fresh: {
      spit(hive("System.dat"), "REGEDIT4\r\n\r\n");
      spit(hive("User.dat"), "REGEDIT4\r\n\r\n");
      if (me) spit(hive("Classes.dat"), "REGEDIT4\r\n\r\n");
      spit(hive("System.ini"), "[boot]\r\nshell=Explorer.exe\r\n");
      spit(hive("Win.ini"), "[windows]\r\n");
      fs::create_directories(windows() / "COMMAND");
      fs::create_directories(windows() / "Sysbckup");
      const fs::path prog = c() / "Program Files" / "Brakvel 9x";
      for (const char* sub : {"archive", "Exchange", "undo", "Rescue", "util"}) fs::create_directories(prog / sub);
      break;
    }
  }
}

// What the folder holds, put into a new FAT image by mtools: folders first
// (parents before children), then the files of each folder in one go.
void TestMachine::toImage(const fs::path& folder, const fs::path& img, bool floppy) {
  std::vector<std::string> mkfs{"mkfs.fat"};
  if (!floppy) mkfs.insert(mkfs.end(), {"-F", "32"});
  mkfs.insert(mkfs.end(), {"-C", img.string(), floppy ? "1440" : "65536"});
  Ran made = run(mkfs, 60s);
  if (made.status != 0) throw std::runtime_error("mkfs.fat " + img.string() + " failed: " + made.output());
  std::vector<std::string> folders;
  std::map<std::string, std::vector<std::string>> files;  // DOS folder -> host files
  files["::/"];
  if (fs::is_directory(folder)) {
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::end(it); ++it) {
      fs::path rel = fs::relative(it->path(), folder);
      if (it->is_directory() && !it->is_symlink()) {
        folders.push_back(dosPath(rel));
      } else if (it->is_regular_file() && !it->is_symlink()) {  // links to our tools cannot go in
        std::string parent = rel.has_parent_path() ? dosPath(rel.parent_path()) + "/" : "::/";
        files[parent].push_back(it->path().string());
      }
    }
  }
  std::sort(folders.begin(), folders.end());
  if (!folders.empty()) mtools("mmd", img, folders);
  for (auto& [to, hostFiles] : files) {
    if (hostFiles.empty()) continue;
    std::vector<std::string> args{"-o"};
    args.insert(args.end(), hostFiles.begin(), hostFiles.end());
    args.push_back(to);
    mtools("mcopy", img, args);
  }
  removeTree(folder);
}

platform::Machine& TestMachine::machine() const {
  if (!machine_) machine_.emplace(open());
  return *machine_;
}

fs::path TestMachine::put(const std::string& rel, const std::string& bytes) const {
  fs::path p = c() / rel;
  spit(p, bytes);
  return p;
}

void TestMachine::writeIni(const std::string& ini) {
  spit(dir_ / "machine.ini", ini);
  machine_.reset();
}

fs::path TestMachine::image(char letter) const {
  return dir_ / (letter == 'A' || letter == 'a' ? "floppy.img" : "disk.img");
}

}  // namespace testsupport
