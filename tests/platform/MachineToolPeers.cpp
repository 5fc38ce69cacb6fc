// The tools for people (ls, copy-in, copy-out) against mtools on the
// machine's images, the same on folder drives; and booting the floppy, our
// DOS against DOSBox, with A: a folder and an image.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <sstream>

#include "MachineToolSupport.h"
#include "tests/support/host_attributes.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "tests/fat/support.h"

using namespace platform;
using namespace machine_tool_test;
namespace tf = testing_fat;

namespace {

// One line of "ls" taken apart at the columns its usage gives.
struct LsLine {
  std::string attributes, size, date, shortName, longName;
};

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::map<std::string, LsLine> parseLs(const std::string& text) {
  std::map<std::string, LsLine> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (l.size() < 54) continue;
    LsLine e{l.substr(0, 4), trimmed(l.substr(6, 10)), l.substr(18, 19), trimmed(l.substr(39, 12)), l.substr(53)};
    out[e.longName] = e;
  }
  return out;
}

// The attribute letters mattrib shows, in ls's RHSA form.
std::string mattribOf(const tf::Image& img, const std::string& dosPath) {
  tf::Result r = tf::mtools("mattrib", img, {dosPath});
  std::string flags = r.out.substr(0, r.out.find("::"));
  std::string out = "----";
  const char* letters = "RHSA";
  for (int i = 0; i < 4; ++i)
    if (flags.find(letters[i]) != std::string::npos) out[i] = letters[i];
  return out;
}

// A host file with a modification time on an even second, which FAT keeps.
fs::path hostFile(const fs::path& p, const std::string& bytes) {
  tf::spit(p, bytes);
  struct timespec t[2] = {{1700000000, 0}, {1700000000, 0}};
  ::utimensat(AT_FDCWD, p.c_str(), t, 0);
  return p;
}

std::string withoutFolderTimes(const std::string& listing) {
  std::istringstream in(listing);
  std::string out;
  for (std::string l; std::getline(in, l);) {
    if (l.size() > 37 && l.find("<DIR>") == 11) l.replace(18, 19, 19, '.');
    out += l + "\n";
  }
  return out;
}

// A host time as ls shows it (local time).
std::string shownTime(std::time_t t) {
  DateTime d = DateTime::fromTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute, d.second);
  return buf;
}

std::string binary(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 131 + i / 7) & 0xFF);
  return s + "\r\n\x1A";
}

}  // namespace

// What the tools put on the floppy image, mtools reads the same: long and
// short names, attributes, sizes, bytes; and the listing is the same on a
// folder floppy given the same steps.
TEST_F(MachineTool, CopiedInByTheToolMtoolsSeesTheSame) {
  const fs::path host = base / "host";
  fs::create_directories(host);
  const std::string data = binary(5000);
  hostFile(host / "Long file name.txt", "first\r\n");
  hostFile(host / "data", data);
  hostFile(host / "readme", "read me\r\n");
  std::map<std::string, std::string> listings;
  // A folder floppy keeps hidden and system only where the host keeps
  // extended attributes.
  const bool folderToo = testsupport::keepsExtendedAttributes(base);
  for (const char* form : {"", " --floppy-folder"}) {
    if (*form && !folderToo) continue;
    SCOPED_TRACE(*form ? "folder" : "image");
    fs::path d = base / (*form ? "folder" : "image");
    ASSERT_EQ(run("init " + quote(d.string()) + form).status, 0);
    Machine m = Machine::open(d);
    makeFolder(m, "A:\\Some Folder");
    const std::string machine = quote(d.string()) + " ";
    for (auto [from, to] : {std::pair{"Long file name.txt", "A:\\Some Folder"}, {"data", "A:\\Some Folder\\DATA.BIN"},
                            {"readme", "A:\\READ ME.TXT"}, {"data", "A:\\Some Folder\\Second long name.bin"}}) {
      Result r = run("copy-in " + machine + quote((host / from).string()) + " " + quote(to));
      ASSERT_EQ(r.status, 0) << r.output;
    }
    // Copied again over the first: the short name stays.
    hostFile(host / "Long file name.txt", "second\r\n");
    ASSERT_EQ(run("copy-in " + machine + quote((host / "Long file name.txt").string()) + " 'A:\\Some Folder'").status, 0);
    setAttributes(m, "A:\\READ ME.TXT", kReadOnly | kArchive);
    setAttributes(m, "A:\\Some Folder\\DATA.BIN", kHidden | kSystem | kArchive);

    Result root = run("ls " + machine + "'A:\\'");
    Result folder = run("ls " + machine + "'a:\\some folder'");
    ASSERT_EQ(folder.status, 0) << folder.output;
    // A host folder's time moves with what is put into it, a FAT folder's does not.
    listings[form] = withoutFolderTimes(root.output + folder.output);
    auto top = parseLs(root.output), inside = parseLs(folder.output);
    ASSERT_EQ(top.size(), 2u) << root.output;
    EXPECT_EQ(top["Some Folder"].size, "<DIR>");
    EXPECT_EQ(top["Some Folder"].shortName, "SOMEFO~1");
    EXPECT_EQ(top["READ ME.TXT"].attributes, "R--A");
    EXPECT_EQ(top["READ ME.TXT"].shortName, "README~1.TXT");
    ASSERT_EQ(inside.size(), 3u) << folder.output;
    EXPECT_EQ(inside["Long file name.txt"].shortName, "LONGFI~1.TXT");
    EXPECT_EQ(inside["Long file name.txt"].size, "8");
    EXPECT_EQ(inside["DATA.BIN"].attributes, "-HSA");
    EXPECT_EQ(inside["DATA.BIN"].date, shownTime(1700000000));
    EXPECT_EQ(inside["Second long name.bin"].shortName, "SECOND~1.BIN");
    // The listing's order is the classic Dir's: names without regard to case.
    EXPECT_LT(folder.output.find("DATA.BIN"), folder.output.find("Long file name.txt"));

    if (!*form) {
      tf::Image img{d / "floppy.img", 0, 1474560};
      for (auto& [name, e] : inside) {
        SCOPED_TRACE(name);
        auto seen = tf::mdir(img, "::/SOMEFO~1");
        auto it = std::find_if(seen.begin(), seen.end(), [&](auto& s) { return s.shortName == e.shortName; });
        ASSERT_NE(it, seen.end());
        EXPECT_EQ(it->longName.empty() ? it->shortName : it->longName, name);
        EXPECT_EQ(it->size, e.size);
        EXPECT_EQ(it->date, e.date.substr(0, 10));
        EXPECT_EQ(mattribOf(img, "::/SOMEFO~1/" + e.shortName), e.attributes);
      }
      EXPECT_EQ(mattribOf(img, "::/README~1.TXT"), "R--A");
      EXPECT_EQ(tf::mtools("mtype", img, {"::/SOMEFO~1/DATA.BIN"}).out, data);
      EXPECT_EQ(tf::mtools("mtype", img, {"::/Some Folder/Long file name.txt"}).out, "second\r\n");
      std::string report;
      EXPECT_TRUE(tf::fsckClean(img, &report)) << report;
    }
    hostFile(host / "Long file name.txt", "first\r\n");
  }
  if (folderToo) {
    EXPECT_EQ(listings[""], listings[" --floppy-folder"]);
  }
}

// Files mtools put on an image are listed and copied out exactly.
TEST_F(MachineTool, WhatMtoolsWroteIsListedAndCopiedOutExactly) {
  ASSERT_EQ(run("init " + quote(dir.string())).status, 0);
  tf::Image img{dir / "floppy.img", 0, 1474560};
  const fs::path host = base / "host";
  fs::create_directories(host);
  const std::string data = binary(40000);
  hostFile(host / "Backup of the registry.dat", data);
  hostFile(host / "SHORT.TXT", "short\r\n");
  ASSERT_EQ(tf::mtools("mmd", img, {"::/Saved Files"}).status, 0);
  ASSERT_EQ(tf::mtools("mcopy", img, {"-m", (host / "Backup of the registry.dat").string(),
                                      (host / "SHORT.TXT").string(), "::/Saved Files/"})
                .status,
            0);
  ASSERT_EQ(tf::mtools("mattrib", img, {"+h", "+r", "::/Saved Files/SHORT.TXT"}).status, 0);
  auto seen = tf::mdir(img, "::/SAVEDF~1");

  Result ls = run("ls " + quote(dir.string()) + " 'A:\\SAVEDF~1'");
  ASSERT_EQ(ls.status, 0) << ls.output;
  auto listed = parseLs(ls.output);
  ASSERT_EQ(listed.size(), seen.size()) << ls.output;
  for (auto& s : seen) {
    const std::string name = s.longName.empty() ? s.shortName : s.longName;
    SCOPED_TRACE(name);
    ASSERT_TRUE(listed.count(name)) << ls.output;
    EXPECT_EQ(listed[name].shortName, s.shortName);
    EXPECT_EQ(listed[name].size, s.size);
    EXPECT_EQ(listed[name].date.substr(0, 10), s.date);
    EXPECT_EQ(listed[name].date.substr(11, 5), s.time.size() == 4 ? "0" + s.time : s.time);
    EXPECT_EQ(listed[name].attributes, mattribOf(img, "::/SAVEDF~1/" + s.shortName));
  }
  EXPECT_EQ(listed["SHORT.TXT"].attributes, "RH-A");

  const fs::path out = base / "out";
  fs::create_directories(out);
  ASSERT_EQ(run("copy-out " + quote(dir.string()) + " 'A:\\Saved Files\\BACKUP~1.DAT' " + quote(out.string())).status,
            0);
  EXPECT_TRUE(tf::slurp(out / "Backup of the registry.dat") == data);
  EXPECT_EQ(fs::last_write_time(out / "Backup of the registry.dat"), fs::last_write_time(host / "Backup of the registry.dat"));
  ASSERT_EQ(run("copy-out " + quote(dir.string()) + " 'A:\\saved files\\short.txt' " + quote((out / "s.txt").string())).status,
            0);
  EXPECT_EQ(tf::slurp(out / "s.txt"), "short\r\n");
  std::vector<std::string> left;
  for (auto& e : fs::directory_iterator(out)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Backup of the registry.dat", "s.txt"}));  // no temporaries

  // What cannot be done is said.
  struct {
    std::string args, message;
  } bad[] = {
      {"ls " + quote(dir.string()) + " 'A:\\nothing'", "File not found: A:\\nothing"},
      {"ls " + quote(dir.string()) + " 'A:\\no\\where'", "Path not found: A:\\no\\where"},
      {"copy-out " + quote(dir.string()) + " 'A:\\nothing' " + quote(out.string()), "File not found"},
      {"copy-out " + quote(dir.string()) + " 'A:\\Saved Files' " + quote(out.string()), "is a folder, not a file"},
      {"copy-in " + quote(dir.string()) + " " + quote((base / "none").string()) + " 'A:\\'", "none: no such file"},
      {"copy-in " + quote(dir.string()) + " " + quote((host / "SHORT.TXT").string()) + " 'A:\\a|b'",
       "cannot be a Windows file name"},
      {"copy-in " + quote(dir.string()) + " " + quote((host / "SHORT.TXT").string()) + " 'A:\\no\\where.txt'",
       "Path not found"},
  };
  for (auto& b : bad) {
    Result r = run(b.args);
    EXPECT_EQ(r.status, 1) << b.args;
    EXPECT_NE(r.output.find(b.message), std::string::npos) << b.args << "\n" << r.output;
  }
}

namespace {

// A batch in the manner of the rescue disk: the live system files saved to
// the floppy, then replaced from the program's Rescue folder and the floppy.
const char* kRescueStyle =
    "@ECHO OFF\r\n"
    "IF NOT EXIST C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\SYSTEM.INI GOTO NOFILES\r\n"
    "COPY C:\\WINDOWS\\SYSTEM.INI A:\\SAVED\\OLD.INI\r\n"
    "COPY C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\SYSTEM.INI C:\\WINDOWS\r\n"
    "COPY A:\\SAVED\\WIN.INI C:\\WINDOWS\\WIN.INI\r\n"
    "IF EXIST C:\\WINDOWS\\NOSUCH.TXT GOTO NOFILES\r\n"
    "GOTO DONE\r\n"
    ":NOFILES\r\n"
    "COPY A:\\SAVED\\WIN.INI A:\\FAILED.TXT\r\n"
    ":DONE\r\n";

}  // namespace

// The same floppy booted by our DOS and by DOSBox does the same, with A: a
// folder (mounted as one) and an image (imgmount).
TEST_F(MachineTool, ARescueStyleBatchDoesTheSameInDosBox) {
  struct {
    const char* name;  // also the machine's folder: DOSBox takes no blanks in a path
    const char* option;
    bool dosbox;
  } cases[] = {
      {"image-ours", "", false},
      {"image-dosbox", "", true},
      {"folder-ours", " --floppy-folder", false},
      {"folder-dosbox", " --floppy-folder", true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path d = base / c.name;
    ASSERT_EQ(run("init " + quote(d.string()) + c.option).status, 0);
    Machine m = Machine::open(d);
    const std::string liveSystem = readFile(m, "C:\\WINDOWS\\System.ini");
    writeFile(m, "C:\\Program Files\\Brakvel 9x\\Rescue\\System.ini", "[boot]\r\nshell=rescued.exe\r\n");
    makeFolder(m, "A:\\SAVED");
    writeFile(m, "A:\\SAVED\\WIN.INI", "[windows]\r\nload=from the floppy\r\n");
    writeFile(m, "A:\\AUTOEXEC.BAT", kRescueStyle);

    if (c.dosbox) {
      fs::path home = base / "home";
      fs::create_directories(home);
      tf::spit(home / "dosbox.conf", "[sdl]\noutput=surface\n[mixer]\nnosound=true\n[speaker]\npcspeaker=false\n"
                                     "[cpu]\ncycles=max\n");
      std::string a = m.driveImage('A') ? "imgmount a " + m.driveImage('A')->string() + " -t floppy"
                                        : "mount a " + m.driveFolder('A')->string() + " -t floppy";
      // DOSBox needs a second or two; past its budget it is killed and fails.
      testsupport::Ran r = testsupport::run(
          {"dosbox", "-conf", (home / "dosbox.conf").string(), "-c", "mount c " + m.driveFolder('C')->string(),
           "-c", a, "-c", "a:", "-c", "call autoexec.bat", "-c", "exit"},
          std::chrono::seconds(20),
          {.env = {{"HOME", home.string()}, {"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}}});
      ASSERT_EQ(r.status, 0) << "DOSBox did not end in time\n" << r.output();
    } else {
      Result r = run("boot-floppy " + quote(d.string()));
      ASSERT_EQ(r.status, 0) << r.output;
    }
    Machine after = Machine::open(d);
    EXPECT_EQ(readFile(after, "C:\\WINDOWS\\System.ini"), "[boot]\r\nshell=rescued.exe\r\n");
    EXPECT_EQ(readFile(after, "C:\\WINDOWS\\Win.ini"), "[windows]\r\nload=from the floppy\r\n");
    EXPECT_EQ(readFile(after, "A:\\SAVED\\OLD.INI"), liveSystem);
    EXPECT_FALSE(pathExists(after, "A:\\FAILED.TXT"));
    if (after.driveImage('A')) {
      std::string report;
      EXPECT_TRUE(tf::fsckClean({*after.driveImage('A'), 0, 1474560}, &report)) << report;
    }
  }
}
