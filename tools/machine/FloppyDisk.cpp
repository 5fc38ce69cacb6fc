#include "tools/machine/FloppyDisk.h"

#include <stdexcept>

#include "platform/fat/fat_volume.h"

namespace machine_tool {

namespace fs = std::filesystem;

namespace {

struct Drive {
  fs::path disk;   // where the drive finds its disk
  fs::path aside;  // where a disk taken out waits
  bool image = false;
};

Drive driveA(const platform::Machine& m) {
  Drive d;
  if (auto image = m.driveImage('A')) {
    d.disk = *image;
    d.image = true;
  } else if (auto folder = m.driveFolder('A')) {
    d.disk = *folder;
  } else {
    throw std::runtime_error("the machine has no drive A: (see [Drives] in machine.ini)");
  }
  d.aside = d.disk;
  d.aside += ".out";
  return d;
}

bool there(const fs::path& p) {
  std::error_code ec;
  return fs::symlink_status(p, ec).type() != fs::file_type::not_found;
}

}  // namespace

void ejectFloppy(const platform::Machine& m, std::ostream& log) {
  Drive d = driveA(m);
  if (!there(d.disk)) throw std::runtime_error("there is no disk in drive A: (" + d.disk.string() + " does not exist)");
  if (there(d.aside)) {
    throw std::runtime_error(d.aside.string() + " holds a disk taken out before; move it away first");
  }
  fs::rename(d.disk, d.aside);
  log << "took the disk out of drive A: (" << d.disk.filename().string() << " is now "
      << d.aside.filename().string() << ")\n";
}

void insertFloppy(const platform::Machine& m, std::ostream& log) {
  Drive d = driveA(m);
  if (there(d.disk)) throw std::runtime_error("drive A: holds a disk already (" + d.disk.string() + ")");
  if (there(d.aside)) {
    fs::rename(d.aside, d.disk);
    log << "put the disk back into drive A: (" << d.disk.filename().string() << ")\n";
    return;
  }
  if (d.image) {
    platform::fat::createFloppyImage(d.disk);
  } else {
    fs::create_directory(d.disk);
  }
  log << "put a blank disk into drive A: (" << d.disk.filename().string() << ")\n";
}

}  // namespace machine_tool
