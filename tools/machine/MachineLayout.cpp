#include "tools/machine/MachineLayout.h"

#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/fat/fat_volume.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "tools/machine/MachineRegistry.h"
#include "tools/machine/WindowsOnDisk.h"
#include "tools/sysbckup/sysbckup.h"

namespace machine_tool {

namespace fs = std::filesystem;
using platform::Machine;

namespace {

constexpr const char* kProgramFolder = "C:\\Program Files\\Brakvel 9x";

// The [Drives] and [Floppy] lines and the environment for the machine the
// options describe: C: a folder or the disk image in place, A: an image or a
// folder.
std::string machineIni(const InitOptions& o, bool me, const std::string& winDir) {
  std::string drives = o.disk ? "; C: is this disk image, used where it is (not copied)\n"
                                "C=" + fs::absolute(*o.disk).lexically_normal().string() + "\n"
                              : "C=drive_c\n";
  std::string floppy = o.floppyFolder
                           ? "; A: is the floppy drive: remove drive_a to take the disk out\n"
                             "A=drive_a\n"
                           : "; A: is the floppy drive, a 1.44 MB image: without floppy.img\n"
                             "; there is no disk (brakvel9x-machine eject / insert)\n"
                             "A=floppy.img\n";
  // An image's capacity is its file system's; a folder floppy needs one.
  std::string capacity = o.floppyFolder ? "Capacity=1457664\n" : "";
  return std::string("; An emulated Windows ") + (me ? "ME" : "98") +
         " machine for Brakvel 9x. Drive folders are relative to this file;\n"
         "; a host variable (or BRAKVEL9X_ENV_<NAME>) overrides [Environment].\n"
         "[Machine]\n"
         "Version=" + (me ? "ME" : "98") + "\n"
         "\n"
         "[Drives]\n" + drives + floppy +
         "\n"
         "[Floppy]\n"
         "WriteProtected=0\n" + capacity +
         "\n"
         "[Environment]\n"
         "WinDir=" + winDir + "\n"
         "winbootdir=" + winDir + "\n"
         "PATH=" + winDir + ";" + winDir + "\\COMMAND\n"
         "TEMP=" + winDir + "\\TEMP\n"
         "TMP=" + winDir + "\\TEMP\n"
         "COMSPEC=" + winDir + "\\COMMAND.COM\n"
         "PROMPT=$p$g\n"
         "\n"
         "[Internet]\n"
         "Connection=host\n"
         "WorkMode=online\n";
}

// Lines joined with CR LF, as Windows writes its ini files.
std::string crlf(std::initializer_list<const char*> lines) {
  std::string out;
  for (const char* l : lines) out += std::string(l) + "\r\n";
  return out;
}

std::string systemIni() {
  return crlf({
      "[boot]", "oemfonts.fon=vgaoem.fon", "shell=Explorer.exe", "system.drv=system.drv",
      "drivers=mmsystem.dll power.drv", "user.exe=user.exe", "gdi.exe=gdi.exe",
      "sound.drv=mmsound.drv", "fixedfon.fon=vgafix.fon", "fonts.fon=vgasys.fon",
      "keyboard.drv=keyboard.drv", "mouse.drv=mouse.drv", "display.drv=pnpdrvr.drv",
      "comm.drv=comm.drv", "386grabber=vgafull.3gr", "language.dll=", "network.drv=",
      "", "[boot.description]", "keyboard.typ=Standard 101/102-Key or Microsoft Natural Keyboard",
      "mouse.drv=Standard mouse", "aspect=100,96,96", "display.drv=Standard PCI Graphics Adapter (VGA)",
      "", "[386Enh]", "ebios=*ebios", "woafont=dosapp.fon", "mouse=*vmouse, msmouse.vxd",
      "device=*dynapage", "device=*vcd", "device=*vpd", "device=*int13", "keyboard=*vkd",
      "display=*vdd,*vflatd", "MinSPs=16", "PagingDrive=C:",
      "", "[NonWindowsApp]", "TTInitialSizes=4 5 6 7 8 9 10 11 12 13 14 15 16 18 20 22",
      "", "[power.drv]", "", "[drivers]", "wave=mmsystem.dll", "midi=mmsystem.dll",
      "timer=timer.drv", "", "[iccvid.drv]", "", "[mciseq.drv]", "", "[mci]",
      "cdaudio=mcicda.drv", "sequencer=mciseq.drv", "waveaudio=mciwave.drv",
      "avivideo=mciavi.drv", "videodisc=mcipionr.drv", "vcr=mcivisca.drv",
      "MPEGVideo=mciqtz.drv", "", "[vcache]", "", "[MSNP32]", "", "[Password Lists]", "",
      "[driver32]", "", "[TTFontDimenCache]",
  });
}

std::string winIni() {
  return crlf({
      "[windows]", "load=", "run=", "NullPort=None", "device=",
      "", "[Desktop]", "Wallpaper=(None)", "TileWallpaper=0", "WallpaperStyle=0",
      "Pattern=(None)", "", "[intl]", "iCountry=1", "sCountry=United States",
      "sLanguage=enu", "", "[fonts]", "", "[extensions]", "txt=notepad.exe ^.txt",
      "ini=notepad.exe ^.ini", "bmp=mspaint.exe ^.bmp", "hlp=winhlp32.exe ^.hlp", "",
      "[mci extensions]", "wav=waveaudio", "mid=sequencer", "rmi=sequencer", "avi=AVIVideo",
      "", "[Network]", "", "[ports]", "COM1:=9600,n,8,1,x", "COM2:=9600,n,8,1,x",
      "LPT1:=", "FILE:=", "", "[FontSubstitutes]", "MS Shell Dlg=MS Sans Serif",
      "Helv=MS Sans Serif", "Tms Rmn=MS Serif", "Times=Times New Roman",
      "Helvetica=Arial", "", "[TrueType]", "", "[Sounds]", "", "[PrinterPorts]", "",
      "[devices]", "", "[Compatibility]", "", "[ModemUI]", "MaxConnectSpeed=115200",
  });
}

std::string autoexecBat() { return crlf({"SET BLASTER=A220 I5 D1 T4 P330", "SET PATH=%PATH%"}); }

std::string configSys() { return crlf({"DEVICE=C:\\WINDOWS\\HIMEM.SYS", "DOS=HIGH,UMB", "FILES=60"}); }

void nameFolder(const Machine& m, const std::string& winFolder, const fs::path& host) {
  std::error_code ec;
  std::vector<fs::path> subfolders;
  for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = platform::utf8ToAnsi(it->path().filename().string());
    std::string win = platform::winJoin(winFolder, name);
    m.shortPath(win);
    if (it->is_directory(ec) && !it->is_symlink(ec)) nameFolder(m, win, it->path());
  }
}

}  // namespace

void nameEverything(const fs::path& dir) {
  Machine m = Machine::open(dir);
  for (char d : m.drives()) {
    auto folder = m.driveFolder(d);
    if (folder && fs::is_directory(*folder)) nameFolder(m, std::string(1, d) + ":\\", *folder);
  }
}

namespace {

// machine.ini and the floppy: the part of a new machine that lives in its folder.
void writeMachineFolder(const fs::path& dir, const InitOptions& o, bool me, const std::string& winDir) {
  if (!o.disk) fs::create_directories(dir / "drive_c");
  if (o.floppyFolder) {
    fs::create_directories(dir / "drive_a");
  } else {
    fs::create_directories(dir);
    platform::fat::createFloppyImage(dir / "floppy.img");
  }
  std::ofstream out(dir / "machine.ini", std::ios::binary);
  out << machineIni(o, me, winDir);
  if (!out.flush()) throw std::runtime_error((dir / "machine.ini").string() + ": cannot be written");
}

// The program's own folders, on a new machine or on a disk that has Windows already.
void makeProgramFolders(const Machine& m, const std::string& winDir) {
  using namespace platform;
  for (const char* sub : {"archive", "Exchange", "undo", "Rescue", "util"}) {
    makeFolder(m, winJoin(kProgramFolder, sub));
  }
  makeFolder(m, "C:\\Program Files\\Common Files\\Microsoft Shared\\MSINFO");
  makeFolder(m, winJoin(winDir, "TEMP"));
  makeFolder(m, winJoin(winDir, "COMMAND"));
}

}  // namespace

std::string initMachine(const fs::path& dir, const InitOptions& o) {
  if (fs::exists(dir / "machine.ini")) {
    throw std::runtime_error(dir.string() + " already holds a machine (machine.ini); remove it first");
  }
  if (o.disk) {
    // Everything is checked before anything is written.
    WindowsOnDisk found = findWindows(*o.disk, o.me);
    writeMachineFolder(dir, o, found.me, found.winDir);
    makeProgramFolders(Machine::open(dir), found.winDir);
    return found.me ? "ME" : "98";
  }
  const bool me = o.me;
  writeMachineFolder(dir, o, me, "C:\\WINDOWS");
  Machine m = Machine::open(dir);
  using namespace platform;

  // The order of creation is the order of the short names (PROGRA~1 first).
  for (const char* folder :
       {"C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\COMMAND", "C:\\WINDOWS\\TEMP",
        "C:\\WINDOWS\\Sysbckup", "C:\\WINDOWS\\Start Menu\\Programs", "C:\\WINDOWS\\Desktop",
        "C:\\Program Files\\Brakvel 9x\\archive", "C:\\Program Files\\Brakvel 9x\\Exchange",
        "C:\\Program Files\\Brakvel 9x\\undo", "C:\\Program Files\\Brakvel 9x\\Rescue",
        "C:\\Program Files\\Brakvel 9x\\util",
        "C:\\Program Files\\Common Files\\Microsoft Shared\\MSINFO", "C:\\My Documents"}) {
    makeFolder(m, folder);
  }
  if (me) {
    makeFolder(m, "C:\\_restore");
    setAttributes(m, "C:\\_restore", kHidden | kSystem);
  }
  writeFileAtomic(m, "C:\\AUTOEXEC.BAT", autoexecBat());
  writeFileAtomic(m, "C:\\CONFIG.SYS", configSys());
  writeFileAtomic(m, "C:\\WINDOWS\\System.ini", systemIni());
  writeFileAtomic(m, "C:\\WINDOWS\\Win.ini", winIni());

  writeDemoRegistry(m, me);
  for (const char* hive : {"Classes.dat", "System.dat", "User.dat"}) {
    std::string path = winJoin("C:\\WINDOWS", hive);
    if (fileExists(m, path)) setAttributes(m, path, kReadOnly | kHidden | kSystem);
  }
  sysbckup::writeWindowsBackups(m);  // after the hives and .ini files they copy
  nameEverything(dir);
  return me ? "ME" : "98";
}

}  // namespace machine_tool
