// The registry editor of the machine, as the program and scripts use it:
//   regedit /s FILE        import a registry script without asking
//   regedit FILE           ask on standard input, then import
//   regedit /e FILE [KEY]  export the whole registry or one key
// FILE is a Windows path of the machine (BRAKVEL9X_MACHINE), long or short.
// Exit status 0 only when the import or export happened.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/file_streams.h"
#include "platform/files.h"
#include "platform/registry/hive_store.h"
#include "platform/machine.h"
#include "platform/registry/import_export.h"
#include "platform/text.h"

namespace {

using platform::Machine;

int usage() {
  std::cerr << "usage: regedit [/s] FILE\n"
               "       regedit /e FILE [KEY]\n";
  return 2;
}

// A drive path as given; a bare name is taken in the current folder: the
// one the launcher names (a drive that is an image has no host folder to
// be in), else the host folder we are in.
std::string windowsPath(const Machine& m, const std::string& arg) {
  if (arg.size() >= 2 && arg[1] == ':') return arg;
  std::optional<std::string> here;
  if (const char* named = std::getenv("BRAKVEL9X_CURRENT_FOLDER"); named && *named)
    here = platform::utf8ToAnsi(named);
  else
    here = m.toWindows(platform::fs::current_path());
  if (!here) throw platform::Error(platform::kPathNotFound, arg);
  return platform::winJoin(*here, arg);
}

int importFile(const Machine& m, const std::string& file, bool silent) {
  platform::FileBytes script;
  try {
    script = platform::mapFile(m, windowsPath(m, file));
  } catch (const platform::Error& e) {
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
  platform::hive::ImportResult r = platform::hive::importScript(m, script.view(), file);
  if (!r.ok) {
    std::cerr << r.error << "\n";
    return 1;
  }
  if (!silent)
    std::cout << "Information in " << file << " has been successfully entered into the registry.\n";
  return 0;
}

int exportFile(const Machine& m, const std::string& file, const std::string& key) {
  struct NoSuchKey {};
  try {
    // Written as it is made: the text of a big registry needs no memory of its size.
    platform::writeFileAtomicStreamed(m, windowsPath(m, file), platform::kArchive,
                                      [&](const platform::PutBytes& put) {
                                        if (!platform::hive::exportText(m, key, put)) throw NoSuchKey{};
                                      });
  } catch (const NoSuchKey&) {
    std::cerr << "regedit: " << key << ": no such key\n";
    return 1;
  } catch (const std::invalid_argument& e) {
    std::cerr << "regedit: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

// The script is mapped, not copied: another program cutting it short
// meanwhile takes the pages away. The hives are replaced only after the
// whole script was read, so nothing has been imported then.
void onScriptCut(int) {
  static const char kMessage[] = "regedit: the file was cut short while it was read; nothing was imported\n";
  ssize_t ignored = ::write(2, kMessage, sizeof kMessage - 1);
  (void)ignored;
  ::_exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGBUS, onScriptCut);
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
