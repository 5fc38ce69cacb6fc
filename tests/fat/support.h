#pragma once
// What the FAT tests share: images made by mkfs.fat
// (with or without a partition table in front), and the peers run as
// processes: mtools on IMAGE@@OFFSET and fsck.fat -n on the partition.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/fat/fat_volume.h"
#include "tests/support/errors.h"
#include "tests/support/host_files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/fat/versions.h"

namespace testing_fat {

namespace fs = std::filesystem;

using testsupport::errorOf;
using testsupport::slurp;
using testsupport::spit;
using testsupport::TempDir;
// A peer's exit status and its output (standard error within it).
using Result = testsupport::Ran;

// Writes a file through a writer and commits it.
void put(platform::Volume& v, const std::string& path, const std::string& bytes, platform::NewFile file = {});

// What one run of a peer (mtools, fsck.fat, mkfs.fat) may take.
inline constexpr testsupport::Budget kPeerBudget = std::chrono::seconds(120);

enum class Kind { Floppy, Fat12, Fat16, Fat32, Fat16Mbr, Fat32Mbr };
std::string kindName(Kind k);

struct Image {
  fs::path path;
  uint64_t offset = 0;  // of the partition
  uint64_t length = 0;  // of the partition
  // "::" with the image given to mtools as -i TARGET.
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
