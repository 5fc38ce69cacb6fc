#pragma once
// The file allocation table: cluster links, free space, allocation, and
// the FAT32 FSInfo sector. Blocks of the copy in use (the first, unless a
// FAT32 volume turned mirroring off) are read as they are needed and kept
// until dropped; changes go to every mirrored copy on flush(), the first
// copy first.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fat/device.h"
#include "platform/fat/layout.h"

namespace platform::fat {

class Table {
 public:
  Table(Device& d, const Geometry& g) : d_(d), g_(g) {}

  uint32_t next(uint32_t c);  // the link of cluster c
  void set(uint32_t c, uint32_t value);
  bool isEnd(uint32_t v) const { return v >= endThreshold(); }
  bool isBad(uint32_t v) const { return v == endThreshold() - 1; }
  uint32_t endMark() const { return endThreshold() | 7; }

  // The clusters of a chain from first, checked: a chain that loops, runs
  // into a free or bad cluster or leaves the disk is damage, named by what.
  std::vector<uint32_t> chain(uint32_t first, const std::string& what);
  // A free cluster, preferably at or after near, marked as a chain's end
  // (in the cache); 0 when the disk is full.
  uint32_t allocate(uint32_t near);
  void release(const std::vector<uint32_t>& clusters);  // marks them free

  uint32_t freeClusters();
  // Counts the free clusters afresh, and has FSInfo rewritten at the end.
  void recount();
  bool dirty() const { return !dirtyBlocks_.empty(); }
  // Writes changed blocks to each copy. On FAT32 the FSInfo count is set to
  // unknown first, so that a kill never leaves a wrong count behind.
  void flush();
  // Sets the FSInfo count to unknown on the disk (FAT32).
  void markCountUnknown();
  // After the last flush of a session: the FSInfo count and hint made right.
  void finishFsInfo();
  // Forgets every cached block; nothing may be waiting to be written.
  void drop();

  // Every copy made equal to the first, block by block; true when one differed.
  bool syncCopies();
  // Frees every used cluster that reachable() does not hold; returns how many.
  uint32_t releaseUnreachable(const std::vector<bool>& reachable);

 private:
  static constexpr uint32_t kBlock = 4096;
  uint32_t endThreshold() const;
  uint8_t* block(uint32_t index);
  uint8_t byteAt(uint64_t at);
  void setByte(uint64_t at, uint8_t v);
  void readFsInfo();

  Device& d_;
  const Geometry& g_;
  std::vector<std::vector<uint8_t>> blocks_;  // by block number; empty until read
  std::set<uint32_t> dirtyBlocks_;
  uint32_t lastIndex_ = UINT32_MAX;
  uint8_t* last_ = nullptr;
  std::optional<uint32_t> free_;
  uint32_t hint_ = 2;
  bool fsInfoRead_ = false;
  bool fsInfoUnknownOnDisk_ = false;
  bool changedThisSession_ = false;
  bool ownUnknown_ = false;  // this session set the count to unknown
};

}  // namespace platform::fat
