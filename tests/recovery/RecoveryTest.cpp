// Backups, restores, undos and rescue disks as a user goes through them, on
// machines made by brakvel9x-machine init: the program driven by
// brakvel9x-script with the real tools, the machine restarted or booted
// from its floppy, and then the bytes of the live files, the archives (read
// with cabextract) and the floppy checked. What the user chose is what gets
// archived, staged, restored or put on the floppy, or the step refuses and
// says which step to repeat; nothing else is reported as success.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "tests/fat/support.h"
#include "tests/support/host_files.h"
#include "tests/support/process.h"
#include "tests/support/test_machine.h"

using testing::Contains;
using testing::HasSubstr;
using testing::Not;

namespace {

namespace fs = std::filesystem;

const std::string kProgram = "C:\\Program Files\\Brakvel 9x";
const std::string kWin = "C:\\WINDOWS";
const std::string kExchange = kProgram + "\\Exchange";
const char* kCreated = "message: Brakvel 9x | information | Backup archive successfully created .";
const char* kRescueMade = "message: Brakvel 9x | information | Automated rescue disk successfully created .";

using testsupport::quote;

struct Ran {
  int status = -1;
  std::string output;
  // The lines of the output starting with prefix.
  std::vector<std::string> lines(const std::string& prefix) const {
    std::vector<std::string> out;
    std::istringstream in(output);
    for (std::string l; std::getline(in, l);)
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
  std::vector<std::string> messages() const { return lines("message: "); }
};

// A command line for the shell, its standard error within the output.
Ran run(const std::string& command) {
  testsupport::Ran r = testsupport::runShell(command, std::chrono::seconds(300), {.mergeOutput = true});
  return {r.status, r.out};
}

using testsupport::slurp;

// A machine from brakvel9x-machine init, the program's start-up dialogs
// switched off.
class Box {
 public:
  // floppyFolder: A: is the folder drive_a (with a Capacity), not floppy.img.
  // diskImage: C: is a FAT32 disk image, as a virtual machine's disk,
  // holding what init puts into a folder C:, the tools as stand-ins.
  explicit Box(bool me, bool floppyFolder = false, bool diskImage = false)
      : tm_({.windows = me ? testsupport::Windows::WinME : testsupport::Windows::Win98,
             .layout = testsupport::Layout::Installed,
             .c = diskImage ? testsupport::DriveForm::Image : testsupport::DriveForm::Folder,
             .a = floppyFolder ? testsupport::DriveForm::Folder : testsupport::DriveForm::Image,
             .quietStart = true}),
        dir(tm_.dir()) {
    machine.emplace(tm_.open());
    if (diskImage) disk = testing_fat::Image{tm_.image('C'), 0, fs::file_size(tm_.image('C'))};
  }

  Ran script(const std::string& text, const std::string& env = {}) {
    fs::path file = dir / ("script" + std::to_string(++scripts_) + ".txt");
    std::ofstream(file, std::ios::binary) << text << "close\n";
    return run("BRAKVEL9X_MACHINE=" + quote(dir.string()) + " " + env + " " + quote(BRAKVEL9X_SCRIPT) + " " +
               quote(file.string()));
  }
  Ran restart() { return run(quote(BRAKVEL9X_MACHINE_TOOL) + " restart " + quote(dir.string())); }
  Ran bootFloppy() { return run(quote(BRAKVEL9X_MACHINE_TOOL) + " boot-floppy " + quote(dir.string())); }

  std::string read(const std::string& p) const { return platform::readFile(*machine, p); }
  bool exists(const std::string& p) const { return platform::fileExists(*machine, p); }
  void write(const std::string& p, const std::string& bytes) const {
    if (exists(p)) platform::setAttributes(*machine, p, platform::kArchive);
    platform::writeFile(*machine, p, bytes);
  }
  fs::path host(const std::string& p) const { return machine->toHost(p); }
  // A file of the machine where host programs can read it: in place on a
  // folder drive, copied out of an image; empty when it does not exist.
  fs::path hostCopy(const std::string& p) const {
    if (!exists(p)) return {};
    if (!machine->driveImage(p[0])) return host(p);
    fs::path out = dir / ("out-" + std::to_string(++copies_) + "-" + platform::winBaseName(p));
    std::ofstream(out, std::ios::binary) << read(p);
    return out;
  }
  std::vector<std::string> set() const {
    std::vector<std::string> s;
    if (exists(kWin + "\\Classes.dat")) s.push_back("Classes.dat");
    for (const char* n : {"System.dat", "User.dat", "System.ini", "Win.ini"}) s.push_back(n);
    return s;
  }
  // The files of the set in a folder, by name.
  std::map<std::string, std::string> files(const std::string& folder) const {
    std::map<std::string, std::string> out;
    for (const std::string& n : set())
      if (exists(folder + "\\" + n)) out[n] = read(folder + "\\" + n);
    return out;
  }
  std::map<std::string, std::string> live() const { return files(kWin); }
  // Changes every live file of the set, so that a restore shows.
  void changeLive(const std::string& tag) const {
    for (const std::string& n : set()) write(kWin + "\\" + n, read(kWin + "\\" + n) + "\r\n; " + tag + "\r\n");
  }
  // An archive's members as cabextract gives them (empty when it cannot
  // read it).
  std::map<std::string, std::string> archive(const std::string& name) const {
    std::map<std::string, std::string> out;
    fs::path file = hostCopy(kProgram + "\\archive\\" + name + ".kvt");
    if (file.empty() || run("cabextract -t -q " + quote(file.string())).status != 0) return out;
    fs::path into = dir / ("cab-" + name);
    fs::remove_all(into);
    fs::create_directories(into);
    run("cabextract -q -d " + quote(into.string()) + " " + quote(file.string()));
    for (const auto& e : fs::directory_iterator(into)) out[e.path().filename().string()] = slurp(e.path());
    return out;
  }
  // The members of the set in an archive.
  std::map<std::string, std::string> archivedSet(const std::string& name) const {
    auto all = archive(name);
    all.erase("info.txt");
    return all;
  }

 private:
  // Made before dir, removed last.
  testsupport::TestMachine tm_;

 public:
  const fs::path dir;
  std::optional<platform::Machine> machine;
  std::optional<testing_fat::Image> disk;

 private:
  int scripts_ = 0;
  mutable int copies_ = 0;
};

// The rows of a table run at once, each on its own machine: they spend
// their time waiting for the program's timers.
template <class Row, size_t N>
void concurrently(const Row (&rows)[N], void (*check)(const Row&)) {
  std::vector<std::thread> threads;
  for (const Row& row : rows)
    threads.emplace_back([&row, check] {
      SCOPED_TRACE(row.name);
      check(row);
    });
  for (std::thread& t : threads) t.join();
}

// Script pieces, as a person clicks them.
std::string backUp(const std::string& name, const std::string& comments) {
  return "click tlbCmdBackup\nclick cmdSystemInfo\ntype txtComments " + comments +
         "\nclick cmdWriteFile\ntype txtNameFileBackup " + name + "\nclick cmdMakeBackup\nwait\n";
}
std::string prepareRestore(const std::string& name) {
  return "click tlbCmdRestore\nselect lvwRestore " + name + ".kvt\nwait\nclick cmdPrepareRestore\nwait\n";
}
std::string restoreLater() { return "answer No, I'll reboot my computer later\nclick cmdRestore\n"; }
std::string undo(const std::string& choice) {
  return "click tlbCmdUndo\nanswer " + choice + "\nclick SmartNetButton2\n";
}

// --- 1: the staged lines land in a [Rename] section the restart carries out --------

struct WinInitCase {
  const char* name;
  bool me;
  std::string before;   // WinInit.ini of another program
  std::string staged;   // what it holds then; {OURS} stands for our lines
  bool cancel;          // "No, cancel restore command" instead of the restart
};

void LandInARenameSectionTheRestartCarriesOut(const WinInitCase& c) {
  Box b(c.me);
  Ran first = b.script(backUp("one", "before"));
  ASSERT_THAT(first.messages(), testing::ElementsAre(kCreated)) << first.output;
  auto backup = b.archivedSet("one");
  ASSERT_EQ(backup, b.live());
  b.changeLive("changed after the backup");
  b.write(kWin + "\\TEMP\\SETUP.TMP", "setup leftovers");
  b.write(kWin + "\\WinInit.ini", c.before);
  Ran second = b.script(prepareRestore("one") + restoreLater() +
                        (c.cancel ? undo("No, cancel restore command") : std::string()));
  ASSERT_EQ(second.status, 0) << second.output;
  EXPECT_THAT(second.messages(), testing::IsEmpty()) << second.output;
  if (c.cancel) {
    // Exactly our lines go; the other program's bytes are as they were.
    EXPECT_EQ(b.read(kWin + "\\WinInit.ini"), c.before);
    return;
  }
  std::string ours;
  for (const std::string& n : b.set()) {
    std::string up = n;
    for (auto& ch : up) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ours += "C:\\WINDOWS\\" + up + "=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\" + up + "\r\n";
  }
  std::string expected = c.staged;
  expected.replace(expected.find("{OURS}"), 6, ours);
  EXPECT_EQ(b.read(kWin + "\\WinInit.ini"), expected);
  Ran r = b.restart();
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(b.live(), backup);
  EXPECT_EQ(b.read(kWin + "\\WinInit.bak"), expected);
  EXPECT_EQ(b.exists(kWin + "\\TEMP\\SETUP.TMP"), c.before.find("[Rename]") == std::string::npos);
}

const std::string kTheirs = "[Rename]\r\nNUL=C:\\WINDOWS\\TEMP\\SETUP.TMP\r\n";
const std::string kVxds = "[CombineVxDs]\r\nC:\\WINDOWS\\SYSTEM\\VMM32.VXD=C:\\WINDOWS\\SYSTEM\\VMM32\\NEW.VXD\r\n";

const WinInitCase kStagedLines[] = {
        WinInitCase{"another_section_last", false, kTheirs + "\r\n" + kVxds, kTheirs + "{OURS}\r\n" + kVxds, false},
        WinInitCase{"another_section_last_ME", true, kTheirs + "\r\n" + kVxds, kTheirs + "{OURS}\r\n" + kVxds, false},
        WinInitCase{"no_rename_section", false, kVxds + "NUL=C:\\WINDOWS\\TEMP\\SETUP.TMP",
                    kVxds + "NUL=C:\\WINDOWS\\TEMP\\SETUP.TMP\r\n[Rename]\r\n{OURS}", false},
        WinInitCase{"empty_file", false, "", "[Rename]\r\n{OURS}", false},
        WinInitCase{"cancel_beside_another_section", false, kTheirs + "\r\n" + kVxds, "", true},
        WinInitCase{"cancel_after_another_section", true, kVxds, "", true}};

TEST(StagedLines, LandInARenameSectionTheRestartCarriesOut) {
  concurrently(kStagedLines, LandInARenameSectionTheRestartCarriesOut);
}

// --- 2: what a staged restore installs does not change before the restart ----------

struct StagedCase {
  const char* name;
  std::string step;      // the script of the step tried while staged
  const char* refusal;   // in its message
  bool undoStaged = false;  // the step staged the undo as well: the restart undoes the restore
};

void NothingChangesWhatTheRestartInstalls(const StagedCase& c) {
  Box b(false);
  ASSERT_THAT(b.script(backUp("one", "first") + backUp("two", "second")).messages(),
              testing::ElementsAre(kCreated, kCreated));
  auto backup = b.archivedSet("one");
  b.changeLive("changed");
  auto changed = b.live();
  Ran staged = b.script(prepareRestore("one") + restoreLater() + c.step);
  EXPECT_THAT(staged.messages(), testing::ElementsAre(HasSubstr(c.refusal))) << staged.output;
  EXPECT_THAT(staged.messages()[0], HasSubstr("No, cancel restore command"));
  EXPECT_EQ(b.files(kExchange), backup);
  EXPECT_EQ(b.files(kProgram + "\\undo"), changed);
  Ran r = b.restart();
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(b.live(), c.undoStaged ? changed : backup);
}

const StagedCase kWhileStaged[] = {
        StagedCase{"write_to_file", "click tlbCmdBackup\ntype txtComments again\nclick cmdWriteFile\n",
                   "\"Write to file\" would change the files in the exchange folder"},
        StagedCase{"convert", "click tlbCmdWinBackup\nselect lvwWinBackup Winbackup1\nclick cmdImportWin\nwait\n",
                   "\"Convert\" would change the files in the exchange folder"},
        StagedCase{"prepare_another", "select lvwRestore two.kvt\nwait\nclick cmdPrepareRestore\nwait\n",
                   "\"Prepare restoring files\" would change the files in the exchange folder"},
        StagedCase{"restore_after_undo",
                   "click tlbCmdUndo\nanswer No, I'll reboot my computer later\nclick SmartNetButton2\n"
                   "click tlbCmdRestore\nclick cmdRestore\n",
                   "\"Restore system\" would replace the undo copies", true}};

TEST(WhileStaged, NothingChangesWhatTheRestartInstalls) {
  concurrently(kWhileStaged, NothingChangesWhatTheRestartInstalls);
}

TEST(WhileStaged, TheWayOutIsTheCancelAndThenTheStepWorks) {
  Box b(false);
  ASSERT_THAT(b.script(backUp("one", "first")).messages(), testing::ElementsAre(kCreated));
  b.changeLive("changed");
  auto changed = b.live();
  Ran r = b.script(prepareRestore("one") + restoreLater() + undo("No, cancel restore command") +
                   backUp("after", "after the cancel"));
  EXPECT_THAT(r.messages(), testing::ElementsAre(kCreated)) << r.output;
  EXPECT_FALSE(b.exists(kWin + "\\WinInit.ini"));
  EXPECT_EQ(b.archivedSet("after"), changed);
}

// --- 3, 4, 9: an archive holds what its own screen gathered, or is not made -------

struct ArchiveCase {
  const char* name;
  std::function<void(Box&)> before;  // done to the machine first
  std::string steps;                 // then the script
  const char* refusal;               // the message; no archive "x" is made
};

void WhenExchangeNoLongerHoldsWhatItsStepsGathered(const ArchiveCase& c) {
  Box b(false);
  ASSERT_THAT(b.script(backUp("one", "first")).messages(), testing::ElementsAre(kCreated));
  if (c.before) c.before(b);
  Ran r = b.script(c.steps);
  EXPECT_THAT(r.messages(), Not(Contains(kCreated))) << r.output;
  EXPECT_THAT(r.messages(), Contains(HasSubstr(c.refusal))) << r.output;
  EXPECT_FALSE(fs::exists(b.host(kProgram + "\\archive\\x.kvt")));
}

const ArchiveCase kArchiveRefused[] = {
        ArchiveCase{"backup_after_a_preparation", nullptr,
                    "click tlbCmdBackup\nclick cmdSystemInfo\ntype txtComments c\nclick cmdWriteFile\n" +
                        prepareRestore("one") +
                        "click tlbCmdBackup\ntype txtNameFileBackup x\nclick cmdMakeBackup\nwait\n",
                    "is no longer the file \"Write to file\" put there . Please ,press \"Write to file\" again ."},
        ArchiveCase{"conversion_after_a_preparation", nullptr,
                    "click tlbCmdWinBackup\nclick cmdWinSysInfo\ntype txtWinComments c\nclick cmdWinWriteComments\n"
                    "select lvwWinBackup Winbackup1\nclick cmdImportWin\nwait\n" +
                        prepareRestore("one") +
                        "click tlbCmdWinBackup\ntype txtWinNameFileBackup x\nclick cmdWinMakeBackup\nwait\n",
                    "is no longer the file \"Convert\" put there . Please ,press \"Convert\" again ."},
        ArchiveCase{"backup_after_the_other_screens_information", nullptr,
                    "click tlbCmdBackup\nclick cmdSystemInfo\ntype txtComments c\nclick cmdWriteFile\n"
                    "click tlbCmdWinBackup\nclick cmdWinSysInfo\n"
                    "click tlbCmdBackup\ntype txtNameFileBackup x\nclick cmdMakeBackup\nwait\n",
                    "info.txt is no longer the file \"Write to file\" put there"},
        ArchiveCase{"a_missing_live_file", [](Box& b) { platform::deleteFile(*b.machine, kWin + "\\Win.ini"); },
                    "click cmdSystemInfo\ntype txtComments c\nclick cmdWriteFile\ntype txtNameFileBackup x\n"
                    "click cmdMakeBackup\nwait\n",
                    "The system files could not be gathered in the exchange folder : File not found: "
                    "C:\\WINDOWS\\Win.ini"},
        ArchiveCase{"a_read_only_information_file",
                    [](Box& b) { platform::setAttributes(*b.machine, kExchange + "\\info.txt", platform::kReadOnly); },
                    "click cmdSystemInfo\ntype txtComments c\nclick cmdWriteFile\ntype txtNameFileBackup x\n"
                    "click cmdMakeBackup\nwait\n",
                    "The information file could not be written"}};

TEST(ArchiveRefused, WhenExchangeNoLongerHoldsWhatItsStepsGathered) {
  concurrently(kArchiveRefused, WhenExchangeNoLongerHoldsWhatItsStepsGathered);
}

TEST(Archives, AReadOnlyLiveFileIsArchivedAsItIsNow) {
  Box b(false);
  platform::setAttributes(*b.machine, kWin + "\\System.ini", platform::kReadOnly | platform::kArchive);
  ASSERT_THAT(b.script(backUp("one", "first")).messages(), testing::ElementsAre(kCreated));
  b.changeLive("later");
  platform::setAttributes(*b.machine, kWin + "\\System.ini", platform::kReadOnly | platform::kArchive);
  Ran r = b.script(backUp("two", "second"));
  EXPECT_THAT(r.messages(), testing::ElementsAre(kCreated)) << r.output;
  EXPECT_EQ(b.archivedSet("two"), b.live());
  EXPECT_NE(b.archivedSet("two"), b.archivedSet("one"));
}

// --- 5: a failed preparation leaves the prepared set whole ------------------------

struct RescueCase {
  const char* name;
  bool me;
};

void AFailedPreparationLeavesTheRescueDiskWorking(const RescueCase& c) {
  Box b(c.me);
  ASSERT_THAT(b.script(backUp("one", "for the floppy")).messages(), testing::ElementsAre(kCreated));
  auto backup = b.archivedSet("one");
  // A damaged archive, and one that lacks User.dat.
  std::string good = b.read(kProgram + "\\archive\\one.kvt");
  b.write(kProgram + "\\archive\\damaged.kvt", good.substr(0, good.size() * 2 / 3));
  ASSERT_THAT(b.script(backUp("nouser", "without")).messages(), testing::ElementsAre(kCreated));
  {
    // The same archive without User.dat, made by our own Makecab.
    std::string ddf = b.read(kProgram + "\\util\\kvt.ddf");
    size_t at = ddf.find("\"" + kExchange + "\\User.dat\"\r\n");
    ddf.erase(at, kExchange.size() + 13);
    b.write(kProgram + "\\util\\kvt.ddf", ddf);
    ASSERT_EQ(run("BRAKVEL9X_MACHINE=" + quote(b.dir.string()) + " " + quote(b.host(kProgram + "\\util\\Makecab.exe").string()) +
                  " /f " + quote(kProgram + "\\util\\kvt.ddf")).status, 0);
  }
  ASSERT_FALSE(b.archive("nouser").count("User.dat"));
  Ran r = b.script("click tlbCmdRescueDisk\nselect lvwRescueDisk one.kvt\nwait\nclick cmdPrepareDisk\nwait\n"
                   "click cmdMakeDisk\nwait\n"
                   "select lvwRescueDisk damaged.kvt\nwait\nclick cmdPrepareDisk\nwait\n"
                   "select lvwRescueDisk nouser.kvt\nwait\nclick cmdPrepareDisk\nwait\n");
  auto messages = r.messages();
  ASSERT_EQ(messages.size(), 4u) << r.output;
  EXPECT_EQ(messages[0], kRescueMade);
  EXPECT_THAT(messages[1], HasSubstr("The information of"));  // the damaged archive's info.txt
  EXPECT_THAT(messages[2], HasSubstr("Restoring files were not prepared from C:\\Program Files\\Brakvel 9x\\archive\\damaged.kvt"));
  EXPECT_THAT(messages[3], HasSubstr("The backup archive holds no User.dat"));
  EXPECT_EQ(b.files(kProgram + "\\Rescue"), backup);
  // The floppy written first restores the first archive still.
  b.changeLive("broken");
  Ran boot = b.bootFloppy();
  EXPECT_THAT(boot.output, HasSubstr("SYSTEM FILES RESTORATION WAS SUCCESSFULL.")) << boot.output;
  EXPECT_THAT(boot.output, Not(HasSubstr("FILE NOT FOUND !")));
  EXPECT_EQ(b.live(), backup);
}

const RescueCase kRescueKept[] = {{"98", false}, {"ME", true}};

TEST(RescueKept, AFailedPreparationLeavesTheRescueDiskWorking) {
  concurrently(kRescueKept, AFailedPreparationLeavesTheRescueDiskWorking);
}

// --- 6: hostile member names -------------------------------------------------------

struct HostileCase {
  const char* name;
  std::vector<std::string> members;  // besides info.txt; "SYSTEM.DAT" as well as "System.dat" ...
  const char* refusal;
};

void AreRefusedWholeBeforeAnythingIsWritten(const HostileCase& c) {
  Box b(false);
  ASSERT_THAT(b.script(backUp("one", "first") + prepareRestore("one")).messages(), testing::ElementsAre(kCreated));
  auto prepared = b.files(kExchange);
  // The cabinet made by gcab, which keeps names as given.
  fs::path scratch = b.dir / "hostile";
  fs::create_directories(scratch);
  std::string cmd = "cd " + quote(scratch.string()) + " && gcab -c -n -z " +
                    quote(b.host(kProgram + "\\archive").string() + "/bad.kvt");
  for (const std::string& n : b.set()) {
    std::ofstream(scratch / n, std::ios::binary) << "from the hostile archive";
    cmd += " " + quote(n);
  }
  for (const std::string& n : c.members) {
    std::ofstream(scratch / n, std::ios::binary) << "hostile";
    cmd += " " + quote(n);
  }
  std::ofstream(scratch / "info.txt", std::ios::binary) << "hostile\r\n";
  ASSERT_EQ(run(cmd + " info.txt").status, 0);
  Ran r = b.script(prepareRestore("bad") + "click cmdRestore\n");
  EXPECT_THAT(r.messages(), Contains(HasSubstr(c.refusal))) << r.output;
  EXPECT_THAT(r.messages(), Contains(HasSubstr("Please ,press \"Prepare restoring files\" again"))) << r.output;
  EXPECT_EQ(b.files(kExchange), prepared);
  EXPECT_FALSE(b.exists(kWin + "\\WinInit.ini"));
}

const HostileCase kHostileNames[] = {HostileCase{"letter_case_twins", {"SYSTEM.DAT"}, "differ only in letter case"},
                    HostileCase{"wildcard", {"a*b.txt"}, "the member name a*b.txt cannot stand on Windows"},
                    HostileCase{"pipe", {"a|b"}, "it holds the character |"},
                    HostileCase{"control_character", {"bell\x07.txt"}, "it holds a control character"},
                    HostileCase{"device", {"CON"}, "it is the name of the device CON"},
                    HostileCase{"device_with_extension", {"com1.txt"}, "it is the name of the device COM1"}};

TEST(HostileNames, AreRefusedWholeBeforeAnythingIsWritten) {
  concurrently(kHostileNames, AreRefusedWholeBeforeAnythingIsWritten);
}

// --- 7: a floppy that cannot hold the files ----------------------------------------

TEST(Floppy, ADiskTooSmallIsSaidToBeFullAndKeepsWhatItHeld) {
  Box b(false, true);
  ASSERT_THAT(b.script(backUp("one", "first")).messages(), testing::ElementsAre(kCreated));
  b.write("A:\\AUTOEXEC.BAT", "@ECHO OFF\r\nECHO an older disk\r\n");
  // Room for the batch file, not for the disk's other files.
  b.machine->setIni("Floppy", "Capacity", "3000");
  Ran r = b.script("click tlbCmdRescueDisk\nselect lvwRescueDisk one.kvt\nwait\nclick cmdPrepareDisk\nwait\n"
                   "click cmdMakeDisk\nwait\n");
  EXPECT_THAT(r.messages(), testing::ElementsAre("message: Brakvel 9x | exclamation | The automated rescue disk was "
                                                 "not created : the disk in A: is full ."))
      << r.output;
  EXPECT_EQ(b.read("A:\\AUTOEXEC.BAT"), "@ECHO OFF\r\nECHO an older disk\r\n");
  std::vector<std::string> onDisk;
  for (const auto& e : fs::directory_iterator(b.dir / "drive_a")) onDisk.push_back(e.path().filename().string());
  EXPECT_EQ(onDisk, std::vector<std::string>{"AUTOEXEC.BAT"});
}

// --- 10: no restore without its undo copies ----------------------------------------

TEST(Undo, NothingIsStagedWhenTheUndoCopiesCannotBeMade) {
  Box b(false);
  ASSERT_THAT(b.script(backUp("one", "first")).messages(), testing::ElementsAre(kCreated));
  for (const std::string& n : b.set()) b.write(kProgram + "\\undo\\" + n, "an older undo of " + n);
  // User.dat cannot be copied: a folder stands in its place.
  platform::deleteFile(*b.machine, kProgram + "\\undo\\User.dat");
  platform::makeFolder(*b.machine, kProgram + "\\undo\\User.dat");
  auto before = b.files(kProgram + "\\undo");
  Ran r = b.script(prepareRestore("one") + "answer Yes, reboot my computer now\nclick cmdRestore\n");
  EXPECT_THAT(r.messages(), testing::ElementsAre(HasSubstr("The undo copies could not be made"))) << r.output;
  EXPECT_THAT(r.output, Not(HasSubstr("dialog: frmRestart")));
  EXPECT_FALSE(b.exists(kWin + "\\WinInit.ini"));
  EXPECT_EQ(b.files(kProgram + "\\undo"), before);
}

// --- 11: device names as backup names ------------------------------------------------

TEST(BackupNames, DeviceNamesAreRefused) {
  Box b(false);
  std::string steps = "click cmdSystemInfo\ntype txtComments c\nclick cmdWriteFile\n";
  const char* names[] = {"CON", "nul", "Com1", "LPT9.old", "aux.txt"};
  for (const char* n : names) steps += std::string("type txtNameFileBackup ") + n + "\nclick cmdMakeBackup\n";
  Ran r = b.script(steps);
  ASSERT_EQ(r.messages().size(), std::size(names)) << r.output;
  for (size_t i = 0; i < std::size(names); ++i)
    EXPECT_EQ(r.messages()[i], std::string("message: Brakvel 9x | exclamation | The backup file name ") + names[i] +
                                   " is the name of a device , which cannot stand as a file name .");
  EXPECT_TRUE(fs::is_empty(b.host(kProgram + "\\archive")));
}

// --- 12: two inspections in quick succession ---------------------------------------

TEST(Inspection, TheLastSelectedArchiveIsShown) {
  Box b(false);
  ASSERT_THAT(b.script(backUp("one", "the first") + backUp("two", "the second")).messages(),
              testing::ElementsAre(kCreated, kCreated));
  Ran r = b.script("click tlbCmdRestore\nselect lvwRestore one.kvt\nselect lvwRestore two.kvt\n"
                   "select lvwRestore one.kvt\nselect lvwRestore two.kvt\nwait\nprint txtFileRestoreInfo\n");
  auto printed = r.lines("print: txtFileRestoreInfo: ");
  ASSERT_EQ(printed.size(), 1u) << r.output;
  EXPECT_THAT(printed[0], HasSubstr("the second"));
  EXPECT_THAT(printed[0], Not(HasSubstr("the first")));
  EXPECT_THAT(r.messages(), testing::IsEmpty());
}

// --- 13, 14: the program folder's path ---------------------------------------------

TEST(ProgramFolder, TooDeepForShortPathsIsNamedAtTheFirstStepThatNeedsThem) {
  Box b(false);
  ASSERT_THAT(b.script(backUp("one", "first")).messages(), testing::ElementsAre(kCreated));
  std::string deep = "C:\\";
  for (int i = 0; i < 20; ++i) deep += "Folder number " + std::to_string(i) + "\\";
  deep += "Brakvel 9x";
  for (const char* sub : {"\\archive", "\\Exchange", "\\undo", "\\Rescue", "\\util"}) platform::makeFolder(*b.machine, deep + sub);
  for (const char* tool : {"\\util\\pux.exe", "\\util\\Makecab.exe"})
    fs::create_symlink(fs::read_symlink(b.host(kProgram + tool)), b.host(deep + tool));
  platform::copyFile(*b.machine, kProgram + "\\archive\\one.kvt", deep + "\\archive\\one.kvt");
  for (const std::string& n : b.set()) b.write(deep + "\\undo\\" + n, "an undo copy");
  ASSERT_GT(b.machine->shortPath(deep).size(), 164u);
  Ran r = b.script(backUp("deep", "a backup needs no short path") +
                       "click tlbCmdRestore\nselect lvwRestore one.kvt\nwait\n" + undo("No, I'll reboot my computer later"),
                   "BRAKVEL9X_PROGRAM=" + quote(deep + "\\Brakvel 9x.exe"));
  auto messages = r.messages();
  ASSERT_EQ(messages.size(), 3u) << r.output;
  EXPECT_EQ(messages[0], kCreated);
  for (size_t i : {1u, 2u}) {
    EXPECT_THAT(messages[i], HasSubstr("The path of the program folder is too long"));
    EXPECT_THAT(messages[i], HasSubstr(deep));
  }
  EXPECT_THAT(messages[2], HasSubstr("Nothing was staged for undo ."));
  EXPECT_FALSE(b.exists(kWin + "\\WinInit.ini"));
}

TEST(ProgramFolder, AProgramOnTheWayToTheToolIsNotRun) {
  Box b(false);
  // C:\Program.exe would be taken for "C:\Program" of an unquoted path.
  fs::create_symlink(fs::read_symlink(b.host(kWin + "\\RUNDLL32.EXE")), b.host("C:\\Program.exe"));
  Ran r = b.script(backUp("one", "quoted") + "click tlbCmdRestore\nselect lvwRestore one.kvt\nwait\n"
                   "print txtFileRestoreInfo\n");
  EXPECT_THAT(r.messages(), testing::ElementsAre(kCreated)) << r.output;
  EXPECT_THAT(r.output, HasSubstr("start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\pux.exe\" "));
  EXPECT_THAT(r.output, HasSubstr("start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\kvt.bat\""));
  EXPECT_THAT(r.lines("print: txtFileRestoreInfo: "), testing::ElementsAre(HasSubstr("quoted")));
}

// --- 15, 18: killed at any moment --------------------------------------------------

TEST(Restart, KilledAtAnyMomentTheNextOneFinishesTheRestore) {
  Box b(true);
  ASSERT_THAT(b.script(backUp("one", "first")).messages(), testing::ElementsAre(kCreated));
  auto backup = b.archivedSet("one");
  b.changeLive("changed");
  ASSERT_EQ(b.script(prepareRestore("one") + restoreLater()).status, 0);
  ASSERT_TRUE(b.exists(kWin + "\\WinInit.ini"));
  // The staged machine, copied afresh for every trial.
  const fs::path staged = b.dir.string() + "-staged";
  ASSERT_EQ(run("cp -a " + quote(b.dir.string()) + " " + quote(staged.string())).status, 0);
  auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(b.restart().status, 0);
  const long runUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began).count();
  ASSERT_EQ(b.live(), backup);
  std::mt19937 random(4);
  for (int trial = 0; trial < 8; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    fs::remove_all(b.dir);
    ASSERT_EQ(run("cp -a " + quote(staged.string()) + " " + quote(b.dir.string())).status, 0);
    b.machine.emplace(platform::Machine::open(b.dir));
    testsupport::Child restart({BRAKVEL9X_MACHINE_TOOL, "restart", b.dir.string()}, testsupport::Child::Output::Discard);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<long>(0, runUs)(random)));
    restart.kill();
    Ran again = b.restart();
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_THAT(again.output, Not(HasSubstr("not replaced"))) << again.output;
    EXPECT_EQ(b.live(), backup);
    for (const auto& e : fs::directory_iterator(b.host(kWin)))
      EXPECT_EQ(e.path().filename().string().rfind(".~brakvel-", 0), std::string::npos) << e.path();
  }
  fs::remove_all(staged);
}


// --- the same on a virtual machine's disk ---------------------------------------

// Backup, restore with restart, undo, the rescue and reinstall disks and
// their boots on a machine whose C: is a FAT32 disk image and whose A: is a
// floppy image; both images are checked by fsck.fat after every step.
struct ImageCase {
  const char* name;
  bool me;
};

void TheWholeChainWorksOnDiskImages(const ImageCase& c) {
  Box b(c.me, false, true);
  ASSERT_TRUE(b.machine->driveImage('C'));
  ASSERT_TRUE(b.machine->driveImage('A'));
  testing_fat::Image floppy{b.dir / "floppy.img", 0, 1474560};
  auto clean = [&](const char* after) {
    std::string report;
    EXPECT_TRUE(testing_fat::fsckClean(*b.disk, &report)) << after << ": " << report;
    EXPECT_TRUE(testing_fat::fsckClean(floppy, &report)) << after << ": " << report;
  };
  Ran backup = b.script(backUp("one", "on the disk image"));
  ASSERT_THAT(backup.messages(), testing::ElementsAre(kCreated)) << backup.output;
  auto archived = b.archivedSet("one");
  ASSERT_EQ(archived, b.live());
  EXPECT_THAT(testing_fat::mtools("mdir", *b.disk, {"-b", "::/PROGRA~1/BRAKVE~1/ARCHIVE"}).out, HasSubstr("/one.kvt"));
  clean("backup");

  b.changeLive("changed on the disk");
  auto changed = b.live();
  Ran staged = b.script(prepareRestore("one") + restoreLater());
  EXPECT_THAT(staged.messages(), testing::IsEmpty()) << staged.output;
  Ran restart = b.restart();
  EXPECT_EQ(restart.status, 0) << restart.output;
  EXPECT_EQ(b.live(), archived);
  clean("restore");

  Ran undone = b.script(undo("No, I'll reboot my computer later"));
  EXPECT_THAT(undone.messages(), testing::IsEmpty()) << undone.output;
  restart = b.restart();
  EXPECT_EQ(restart.status, 0) << restart.output;
  EXPECT_EQ(b.live(), changed);
  clean("undo");

  Ran rescue = b.script("click tlbCmdRescueDisk\nselect lvwRescueDisk one.kvt\nwait\nclick cmdPrepareDisk\nwait\n"
                        "click cmdMakeDisk\nwait\n");
  EXPECT_THAT(rescue.messages(), testing::ElementsAre(kRescueMade)) << rescue.output;
  EXPECT_THAT(testing_fat::mtools("mtype", floppy, {"::/AUTOEXEC.BAT"}).out, HasSubstr("RESCUE"));
  Ran boot = b.bootFloppy();
  EXPECT_THAT(boot.output, HasSubstr("SYSTEM FILES RESTORATION WAS SUCCESSFULL.")) << boot.output;
  EXPECT_EQ(b.live(), archived);
  clean("rescue disk");

  Ran reinstall = b.script("click tlbCmdReinstall\nclick cmdMakeReinstallDisk\nwait\n");
  EXPECT_THAT(reinstall.messages(),
              testing::ElementsAre("message: Brakvel 9x | information | Automated clean Windows reinstall disk "
                                   "successfully created ."))
      << reinstall.output;
  boot = b.bootFloppy();
  EXPECT_THAT(boot.output, HasSubstr("Windows directory successfully deleted .")) << boot.output;
  EXPECT_FALSE(platform::folderExists(*b.machine, kWin));
  EXPECT_TRUE(platform::folderExists(*b.machine, kProgram + "\\archive"));
  clean("reinstall disk");
}

const ImageCase kOnImages[] = {{"98", false}, {"ME", true}};

TEST(DiskImages, TheWholeChainWorksOnDiskImages) { concurrently(kOnImages, TheWholeChainWorksOnDiskImages); }

// A floppy image too small for the rescue disk's files: said to be full,
// nothing claims success, what the disk held stays.
TEST(DiskImages, AFullFloppyImageIsRefused) {
  Box b(false, false, true);
  ASSERT_THAT(b.script(backUp("one", "first")).messages(), testing::ElementsAre(kCreated));
  b.write("A:\\AUTOEXEC.BAT", "@ECHO OFF\r\nECHO an older disk\r\n");
  // Room for the batch file (five clusters) but not for the files after it.
  b.write("A:\\FILLER.BIN", std::string(platform::freeSpace(*b.machine, 'A') - 3072, 'f'));
  Ran r = b.script("click tlbCmdRescueDisk\nselect lvwRescueDisk one.kvt\nwait\nclick cmdPrepareDisk\nwait\n"
                   "click cmdMakeDisk\nwait\n");
  EXPECT_THAT(r.messages(), Not(Contains(kRescueMade))) << r.output;
  EXPECT_THAT(r.messages(), Contains(HasSubstr("the disk in A: is full"))) << r.output;
  EXPECT_EQ(b.read("A:\\AUTOEXEC.BAT"), "@ECHO OFF\r\nECHO an older disk\r\n");
  EXPECT_FALSE(b.exists("A:\\DOSRESET.COM"));
  std::string report;
  EXPECT_TRUE(testing_fat::fsckClean(testing_fat::Image{b.dir / "floppy.img", 0, 1474560}, &report)) << report;
}

}  // namespace
