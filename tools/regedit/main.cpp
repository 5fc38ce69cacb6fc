// The registry editor of the machine, as the program and scripts use it:
//   regedit /s FILE        import a registry script without asking
//   regedit FILE           ask on standard input, then import
//   regedit /e FILE [KEY]  export the whole registry or one key
// FILE is a Windows path of the machine (BRAKVEL9X_MACHINE), long or short.
// Exit status 0 only when the import or export happened.
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/hive_store.h"
#include "platform/machine.h"
#include "platform/regscript.h"

namespace {

using platform::Machine;

int usage() {
  std::cerr << "usage: regedit [/s] FILE\n"
               "       regedit /e FILE [KEY]\n";
  return 2;
}

// A drive path as given; a bare name is taken in the current folder.
std::string windowsPath(const Machine& m, const std::string& arg) {
  if (arg.size() >= 2 && arg[1] == ':') return arg;
  auto here = m.toWindows(platform::fs::current_path());
  if (!here) throw platform::Error(platform::kPathNotFound, arg);
  return platform::winJoin(*here, arg);
}

// The script's bytes, mapped: a script may be megabytes.
class Mapped {
 public:
  explicit Mapped(const std::string& host) {
    fd_ = open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error(std::strerror(errno));
    struct stat st;
    if (fstat(fd_, &st) != 0) throw std::runtime_error(std::strerror(errno));
    if (S_ISDIR(st.st_mode)) throw std::runtime_error("it is a folder");
    size_ = static_cast<size_t>(st.st_size);
    if (size_) {
      void* p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, 0);
      if (p == MAP_FAILED) throw std::runtime_error(std::strerror(errno));
      data_ = static_cast<const char*>(p);
    }
  }
  ~Mapped() {
    if (data_) munmap(const_cast<char*>(data_), size_);
    if (fd_ >= 0) close(fd_);
  }
  std::string_view text() const { return {data_ ? data_ : "", size_}; }

 private:
  int fd_ = -1;
  const char* data_ = nullptr;
  size_t size_ = 0;
};

int importFile(const Machine& m, const std::string& file, bool silent) {
  std::string win = windowsPath(m, file);
  std::string host = m.toHost(win).string();
  std::unique_ptr<Mapped> script;
  try {
    script = std::make_unique<Mapped>(host);
  } catch (const std::exception& e) {
    std::cerr << "regedit: cannot import " << file << ": " << e.what() << "\n";
    return 1;
  }
  if (!silent) {
    std::cout << "Are you sure you want to add the information in " << file
              << " to the registry? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer.empty() || (answer[0] != 'y' && answer[0] != 'Y')) {
      std::cout << "Nothing was imported.\n";
      return 1;
    }
  }
  platform::hive::ImportResult r = platform::hive::importScript(m, script->text(), file);
  if (!r.ok) {
    std::cerr << r.error << "\n";
    return 1;
  }
  if (!silent)
    std::cout << "Information in " << file << " has been successfully entered into the registry.\n";
  return 0;
}

int exportFile(const Machine& m, const std::string& file, const std::string& key) {
  std::optional<std::string> text;
  try {
    text = platform::hive::exportText(m, key);
  } catch (const std::invalid_argument& e) {
    std::cerr << "regedit: " << e.what() << "\n";
    return 1;
  }
  if (!text) {
    std::cerr << "regedit: " << key << ": no such key\n";
    return 1;
  }
  platform::writeFileAtomic(m, windowsPath(m, file), *text, platform::kArchive);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool silent = false, exporting = false;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.size() == 2 && (a[0] == '/' || a[0] == '-')) {
      char s = static_cast<char>(std::tolower(static_cast<unsigned char>(a[1])));
      if (s == 's') silent = true;
      else if (s == 'e') exporting = true;
      else return usage();
    } else {
      rest.push_back(a);
    }
  }
  try {
    Machine m = Machine::open(Machine::defaultDir());
    if (exporting) {
      if (rest.empty() || rest.size() > 2) return usage();
      return exportFile(m, rest[0], rest.size() == 2 ? rest[1] : std::string());
    }
    if (rest.size() != 1) return usage();
    return importFile(m, rest[0], silent);
  } catch (const platform::hive::HiveError& e) {
    std::cerr << e.what() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "regedit: " << e.what() << "\n";
  }
  return 1;
}
