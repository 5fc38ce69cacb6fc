#pragma once
// A volume held in memory, for tests of the code above the file system: the
// same names, short names, errors and space accounting as a FAT drive, with
// nothing on the host.
#include <memory>
#include <mutex>
#include <string>

#include "platform/volume.h"

namespace platform {

struct MemoryVolumeOptions {
  std::string root = "A:";           // names the paths in messages
  uint64_t capacity = 1457664;       // bytes of file space (a 1.44 MB floppy)
  uint32_t clusterBytes = 512;       // files and folders take whole clusters
  bool writeProtected = false;
};

class MemoryVolume : public Volume {
 public:
  explicit MemoryVolume(MemoryVolumeOptions options = {});
  ~MemoryVolume() override;

  void setWriteProtected(bool on);

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
  struct Node;
  class Writer;
  struct Place {
    Node* folder = nullptr;
    Node* node = nullptr;  // null when the last component does not exist
    std::string name;      // the last component as given
  };
  Node* existing(std::string_view path, const std::string& shown);
  Place placeFor(std::string_view path, const std::string& shown);
  void checkWritable(const std::string& shown) const;
  uint64_t used(const Node& n) const;
  uint64_t rounded(uint64_t bytes) const;
  std::unique_ptr<Node> makeNode(Node* folder, const std::string& name, uint8_t attributes);
  void commitLocked(const std::vector<Writer*>& writers);

  MemoryVolumeOptions options_;
  std::unique_ptr<Node> root_;
  std::recursive_mutex mutex_;
};

}  // namespace platform
