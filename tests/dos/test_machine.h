#pragma once
// A temporary Windows 98 machine folder for the DOS and restart tests.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"

namespace dostest {

namespace fs = std::filesystem;

class TestMachine {
 public:
  // me: a Windows ME machine (Classes.dat, C:\_restore).
  explicit TestMachine(bool me = false) {
    char tmpl[] = "/tmp/brakvel9x-dos-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    fs::create_directories(root_ / "drive_c");
    fs::create_directories(root_ / "drive_a");
    writeHost(root_ / "machine.ini",
              std::string("[Machine]\r\nVersion=") + (me ? "ME" : "98") +
                  "\r\n[Drives]\r\nC=drive_c\r\nA=drive_a\r\n"
                  "[Environment]\r\nWinDir=C:\\WINDOWS\r\n"
                  "PATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\n");
    machine_ = std::make_unique<platform::Machine>(platform::Machine::open(root_));
    for (const char* f : {"C:\\WINDOWS\\COMMAND", "C:\\Program Files\\Brakvel 9x\\Rescue",
                          "C:\\Program Files\\Brakvel 9x\\Exchange",
                          "C:\\Program Files\\Brakvel 9x\\undo",
                          "C:\\Program Files\\Brakvel 9x\\util", "C:\\My Documents"})
      platform::makeFolder(m(), f);
    for (auto& name : systemFiles(me)) write("C:\\WINDOWS\\" + name, "live " + name);
    if (me) {
      platform::makeFolder(m(), "C:\\_restore\\ARCHIVE");
      write("C:\\_restore\\ARCHIVE\\FS0.CAB", "restore point");
    }
  }
  ~TestMachine() {
    std::error_code ec;
    // read-only files keep their folder; give write access back first
    for (auto& e : fs::recursive_directory_iterator(root_, ec))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }

  static std::vector<std::string> systemFiles(bool me) {
    std::vector<std::string> v;
    if (me) v.push_back("Classes.dat");
    for (const char* n : {"System.dat", "User.dat", "System.ini", "Win.ini"}) v.push_back(n);
    return v;
  }

  const platform::Machine& m() const { return *machine_; }
  const fs::path& root() const { return root_; }

  void write(const std::string& winPath, const std::string& bytes) const {
    platform::writeFile(m(), winPath, bytes);
  }
  std::string read(const std::string& winPath) const { return platform::readFile(m(), winPath); }
  bool exists(const std::string& winPath) const { return platform::pathExists(m(), winPath); }
  uint8_t attrs(const std::string& winPath) const { return platform::getAttributes(m(), winPath); }

  // A batch file: the lines, each ended by CR LF.
  void writeBatch(const std::string& winPath, const std::vector<std::string>& lines) const {
    std::string text;
    for (auto& l : lines) text += l + "\r\n";
    write(winPath, text);
  }

  static void writeHost(const fs::path& p, const std::string& bytes) {
    FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }

 private:
  fs::path root_;
  std::unique_ptr<platform::Machine> machine_;
};

}  // namespace dostest
