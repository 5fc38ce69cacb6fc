// Drives the FAT library from the command line, for the tests that need it
// in a process of its own (kill tests, several processes on one image).
//   fat_driver IMAGE format                      a fresh 1.44 MB floppy image
//   fat_driver IMAGE put PATH [HOSTFILE]         HOSTFILE (or stdin) as PATH
//   fat_driver IMAGE get PATH                    the file to stdout
//   fat_driver IMAGE ls PATH                     one line per entry
//   fat_driver IMAGE mkdir PATH | rmdir PATH | rm PATH | mv FROM TO | mvr FROM TO
//   fat_driver IMAGE attrib PATH RHSA-letters
//   fat_driver IMAGE touch                       a write session that changes nothing
//   fat_driver IMAGE cycle FIRST N SIZE PATH...  N rounds from version FIRST on;
//        each writes every PATH as one set, all holding that version
//        (see versionBytes), and prints the version when it is in
//   fat_driver IMAGE hold PATH SECONDS           keeps a reader open
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/fat/fat_volume.h"
#include "tests/fat/versions.h"

using namespace platform;

namespace {

int usage() {
  std::cerr << "usage: fat_driver IMAGE format|put|get|ls|mkdir|rmdir|rm|mv|mvr|attrib|touch|cycle|hold ...\n";
  return 2;
}

uint8_t attrsOf(const std::string& letters) {
  uint8_t a = 0;
  for (char c : letters) {
    if (c == 'R') a |= kReadOnly;
    if (c == 'H') a |= kHidden;
    if (c == 'S') a |= kSystem;
    if (c == 'A') a |= kArchive;
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string image = argv[1], cmd = argv[2];
  std::vector<std::string> a(argv + 3, argv + argc);
  try {
    if (cmd == "format") {
      fat::createFloppyImage(image);
      return 0;
    }
    auto v = fat::FatVolume::openImage(image, {"A:", false, std::chrono::milliseconds(20000)});
    if (cmd == "put" && !a.empty()) {
      std::string bytes;
      if (a.size() > 1) {
        bytes = testing_fat::readHost(a[1]);
      } else {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
      }
      auto w = v->create(a[0]);
      w->write(bytes);
      w->commit();
    } else if (cmd == "get" && a.size() == 1) {
      std::cout << v->readAll(a[0]);
    } else if (cmd == "ls" && a.size() == 1) {
      for (const FileEntry& e : v->list(a[0])) {
        std::cout << e.shortName << "\t" << e.name << "\t" << e.size << "\t" << int(e.attributes) << "\n";
      }
    } else if (cmd == "mkdir" && a.size() == 1) {
      v->makeFolder(a[0]);
    } else if (cmd == "rmdir" && a.size() == 1) {
      v->removeFolder(a[0]);
    } else if (cmd == "rm" && a.size() == 1) {
      v->remove(a[0]);
    } else if ((cmd == "mv" || cmd == "mvr") && a.size() == 2) {
      v->rename(a[0], a[1], cmd == "mvr");
    } else if (cmd == "attrib" && a.size() == 2) {
      v->setAttributes(a[0], attrsOf(a[1]));
    } else if (cmd == "touch") {
      v->writeInPlace("TOUCHED.TXT", "", false);
      v->remove("TOUCHED.TXT");
    } else if (cmd == "cycle" && a.size() >= 4) {
      int first = std::stoi(a[0]), rounds = std::stoi(a[1]);
      size_t size = std::stoul(a[2]);
      std::vector<std::string> paths(a.begin() + 3, a.end());
      for (int k = first; k < first + rounds; ++k) {
        std::vector<std::unique_ptr<FileWriter>> ws;
        std::vector<FileWriter*> set;
        for (const std::string& p : paths) {
          ws.push_back(v->create(p));
          std::string bytes = testing_fat::versionBytes(p, k, size);
          // In pieces, as a stream would come.
          for (size_t at = 0; at < bytes.size(); at += 4096) ws.back()->write(std::string_view(bytes).substr(at, 4096));
          set.push_back(ws.back().get());
        }
        v->commitSet(set);
        std::cout << k << std::endl;
      }
    } else if (cmd == "hold" && a.size() == 2) {
      auto r = v->open(a[0]);
      std::cout << "open" << std::endl;
      std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(std::stod(a[1]) * 1000)));
    } else {
      return usage();
    }
  } catch (const std::exception& e) {
    std::cerr << "fat_driver: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
