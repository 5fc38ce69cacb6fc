#pragma once
// The DOS and restart tests' machine: the shared temporary machine with the
// system files and the program's folders, and Windows-path file helpers.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"
#include "tests/support/test_machine.h"

namespace dostest {

namespace fs = std::filesystem;

class TestMachine {
 public:
  // me: a Windows ME machine (Classes.dat, C:\_restore). form: of drives C:
  // and A:; on images, attributes and short names are the file system's own.
  explicit TestMachine(bool me = false, testsupport::DriveForm form = testsupport::DriveForm::Folder)
      : machine_({.windows = me ? testsupport::Windows::WinME : testsupport::Windows::Win98,
                  .layout = testsupport::Layout::SystemSet,
                  .c = form,
                  .a = form}) {}

  static std::vector<std::string> systemFiles(bool me) {
    std::vector<std::string> v;
    if (me) v.push_back("Classes.dat");
    for (const char* n : {"System.dat", "User.dat", "System.ini", "Win.ini"}) v.push_back(n);
    return v;
  }

  const platform::Machine& m() const { return machine_.machine(); }
  const fs::path& root() const { return machine_.dir(); }

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

 private:
  testsupport::TestMachine machine_;
};

}  // namespace dostest
