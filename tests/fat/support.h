#pragma once
// What the FAT tests share: a temporary folder, images made by mkfs.fat
// (with or without a partition table in front), and the peers run as
// processes: mtools on IMAGE@@OFFSET and fsck.fat -n on the partition.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/fat/fat_volume.h"
#include "tests/fat/versions.h"

namespace testing_fat {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct Result {
  int status = -1;  // exit status; -1 when the program could not run
  std::string out;  // stdout and stderr together
};
// Writes a file through a writer and commits it.
void put(platform::Volume& v, const std::string& path, const std::string& bytes, platform::NewFile file = {});

// The number of the platform::Error f throws, 0 when it throws none.
int errorOf(const std::function<void()>& f);

// Runs argv without a shell, stdin from /dev/null unless input is given.
Result run(const std::vector<std::string>& argv, const std::string& input = {});

enum class Kind { Floppy, Fat12, Fat16, Fat32, Fat16Mbr, Fat32Mbr };
std::string kindName(Kind k);

struct Image {
  fs::path path;
  uint64_t offset = 0;  // of the partition
  uint64_t length = 0;  // of the partition
  // "::" with the image given to mtools as -i SPEC.
  std::string mtoolsTarget() const;
};

// A fresh image: the floppy as the library formats it, the others made by
// mkfs.fat (FAT12 2 MB, FAT16 32 MB, FAT32 64 MB), with a partition table
// built here in front for the *Mbr kinds.
Image makeImage(const fs::path& dir, Kind kind, const std::string& name = "disk.img");

std::unique_ptr<platform::fat::FatVolume> mount(const Image& img, const std::string& root = "C:");

// mtools on the image; the DOS path is given as mtools takes it ("::/A/B").
Result mtools(const std::string& tool, const Image& img, const std::vector<std::string>& args);

// fsck.fat -n on the partition (copied out when it does not start the image).
Result fsck(const Image& img);
// fsck.fat found nothing at all to change.
bool fsckClean(const Image& img, std::string* report = nullptr);
// What fsck.fat reported beyond what a kill may leave (lost clusters, FAT
// copies that differ but are intact, an unknown free count); empty when
// nothing else.
std::string fsckBeyondKill(const Image& img);

// Bytes of a host file, and a host file made of bytes.
std::string slurp(const fs::path& p);
void spit(const fs::path& p, const std::string& bytes);

// One line of mdir output parsed: short name, extension, size or <DIR>,
// date, time, long name.
struct MdirLine {
  std::string shortName;  // "PROGRA~1.TXT"
  std::string size;       // bytes, or "<DIR>"
  std::string date, time; // "2026-12-10", "12:18"
  std::string longName;   // empty when mdir shows none
};
std::vector<MdirLine> mdir(const Image& img, const std::string& dosPath);

}  // namespace testing_fat
