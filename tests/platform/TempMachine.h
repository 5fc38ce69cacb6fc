#pragma once
// A throw-away machine folder for one test: drive C: (drive_c), floppy A:
// (drive_a, present unless asked otherwise) and a Windows 98 environment.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "platform/error.h"
#include "platform/machine.h"

namespace testing_machine {

namespace fs = std::filesystem;

inline const char* kStandardIni =
    "[Machine]\n"
    "Version=98\n"
    "[Drives]\n"
    "C=drive_c\n"
    "A=drive_a\n"
    "[Floppy]\n"
    "WriteProtected=0\n"
    "[Environment]\n"
    "WinDir=C:\\WINDOWS\n"
    "PATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND\n"
    "TEMP=C:\\WINDOWS\\TEMP\n"
    "COMSPEC=C:\\WINDOWS\\COMMAND.COM\n";

class TempMachine {
 public:
  explicit TempMachine(const std::string& ini = kStandardIni, bool floppyInserted = true) {
    std::string tmpl = (fs::temp_directory_path() / "brakvel-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    fs::create_directories(dir_ / "drive_c" / "WINDOWS");
    if (floppyInserted) fs::create_directories(dir_ / "drive_a");
    writeIni(ini);
  }
  ~TempMachine() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir_, ec); !ec && it != fs::end(it); it.increment(ec)) {
      ::chmod(it->path().c_str(), 0755);
    }
    fs::remove_all(dir_, ec);
  }
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  void writeIni(const std::string& ini) { std::ofstream(dir_ / "machine.ini", std::ios::binary) << ini; }
  platform::Machine open() const { return platform::Machine::open(dir_); }
  const fs::path& dir() const { return dir_; }
  fs::path c() const { return dir_ / "drive_c"; }

 private:
  fs::path dir_;
};

// The error number a call throws, 0 when it succeeds.
inline int errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e.number();
  }
  return 0;
}

// Sets a host variable for one scope (unset when value is null).
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old, had_ = true;
    if (value) {
      ::setenv(name_.c_str(), value, 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ~ScopedEnv() {
    if (had_) {
      ::setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

}  // namespace testing_machine
