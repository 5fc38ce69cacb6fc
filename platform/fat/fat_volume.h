#pragma once
// A drive that is a FAT disk image: a 1.44 MB floppy image, or a hard-disk
// image (raw with a partition table whose first FAT partition is the drive,
// or a bare partition).
//
// Sessions and locks. Every call, and every open reader and writer, holds a
// session on the image: flock() on the image file, exclusive when the file
// is open for writing, shared when it is read-only. One process keeps one
// open file per image (shared by all its volumes), so its readers and
// writers never wait for each other. A session ends when its last holder
// goes; the next one trusts what it read before only when the image file's
// stamp (inode, size, modification and change time) is the one left by the
// last session and that stamp was set by this library: a write session ends
// by setting the modification time to a value of its own, which a foreign
// write (mtools, a virtual machine, cp) replaces, so what it left can be
// told apart from what anything else left. Otherwise every cached block is
// read afresh.
//
// Kills. The first write of a session creates IMAGE.journal beside the
// image; the session's end removes it. A session that finds a journal (its
// writer was killed) first replays the directory writes the journal holds
// when they were recorded whole, then frees the clusters no folder holds,
// makes every FAT copy equal to the first and counts the free space afresh.
// So after a kill fsck.fat -n reports lost clusters at worst (and, for a
// kill between the writes of the two FAT copies, that they differ) until
// the next session, which leaves it nothing to find. Writing needs the
// journal: an image whose folder refuses new files is refused for writing.
//
// Sets. commitSet() writes every new file's data and FAT first; then all
// directory slots the set changes go out in one write when they lie in one
// 4 KB page of the image, otherwise they are recorded in the journal before
// the first of them is written, so that a kill in between is finished by the
// next session. The same works for the fixed root folder of FAT12/16 and for
// a folder with subfolders, which swapping in a rebuilt folder (a new
// cluster chain and one changed entry) could not give: the fixed root has
// no chain to swap, and the subfolders' ".." entries name the old chain.
//
// A writer holds the image from create() until commit or abort; other
// processes wait for it (at most lockTimeout, then error 70). The same holds
// for an open reader; a process's readers and writers of one image never
// wait for each other. Two processes that each hold one image and wait for
// the other's would wait until lockTimeout ends it with error 70.
//
// Another file under the image's name is another disk in the drive; no
// file there is no disk (error 71). Readers and writers opened before keep
// working on the disk they were opened on.
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "platform/volume.h"

namespace platform::fat {

struct FatVolumeOptions {
  std::string root = "C:";        // names paths in messages
  bool writeProtected = false;    // the machine's setting; a read-only image file is protected anyway
  std::chrono::milliseconds lockTimeout{60000};
};

class FatImage;

class FatVolume : public Volume {
 public:
  // Opens and checks the image; throws Error(kDiskNotReady) when it is
  // missing and Error(kDeviceError) naming it when it is no usable FAT image.
  static std::unique_ptr<FatVolume> openImage(const std::filesystem::path& image, FatVolumeOptions options = {});
  ~FatVolume() override;

  std::string label() const override;
  std::vector<FileEntry> walk(std::string_view path) override;
  std::vector<FileEntry> list(std::string_view folder) override;
  std::unique_ptr<FileReader> open(std::string_view path) override;
  std::unique_ptr<FileWriter> create(std::string_view path, const NewFile& file = {}) override;
  void commitSet(const std::vector<FileWriter*>& files) override;
  void writeInPlace(std::string_view path, std::string_view bytes, bool append) override;
  void makeFolder(std::string_view path) override;
  void removeFolder(std::string_view path) override;
  void remove(std::string_view path) override;
  void rename(std::string_view from, std::string_view to, bool replace = false) override;
  void setAttributes(std::string_view path, uint8_t attributes) override;
  void setTimes(std::string_view path, const FileTimes& times) override;
  Space space() override;
  bool writeProtected() override;

 private:
  class Session;
  FatVolume(std::filesystem::path image, FatVolumeOptions options);
  std::shared_ptr<FatImage> image(const std::string& shown);
  template <class F>
  auto run(std::string_view path, F&& f);

  std::filesystem::path path_;
  FatVolumeOptions options_;
  std::mutex imageMutex_;
  std::shared_ptr<FatImage> image_;  // the disk in the drive when last looked at
};

// A freshly formatted 1.44 MB floppy image at path, put in place whole (an
// existing file is replaced).
void createFloppyImage(const std::filesystem::path& path);

}  // namespace platform::fat
