#include "platform/fat/table.h"

#include <algorithm>
#include <cstring>

namespace platform::fat {

namespace {
uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
constexpr uint32_t kUnknown = 0xFFFFFFFF;
}  // namespace

uint32_t Table::endThreshold() const {
  switch (g_.type) {
    case FatType::Fat12: return 0xFF8;
    case FatType::Fat16: return 0xFFF8;
    case FatType::Fat32: return 0x0FFFFFF8;
  }
  return 0xFF8;
}

uint8_t* Table::block(uint32_t index) {
  if (index == lastIndex_) return last_;
  if (blocks_.empty()) blocks_.resize(static_cast<size_t>((g_.fatBytes() + kBlock - 1) / kBlock) + 1);
  std::vector<uint8_t>& b = blocks_.at(index);
  if (b.empty()) {
    uint64_t start = uint64_t{index} * kBlock;
    size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, g_.fatBytes() - start));
    b.assign(kBlock, 0);
    d_.read(g_.fatOffset(g_.activeFat) + start, b.data(), n);
  }
  lastIndex_ = index;
  last_ = b.data();
  return last_;
}

uint8_t Table::byteAt(uint64_t at) { return block(static_cast<uint32_t>(at / kBlock))[at % kBlock]; }

void Table::setByte(uint64_t at, uint8_t v) {
  uint32_t index = static_cast<uint32_t>(at / kBlock);
  block(index)[at % kBlock] = v;
  dirtyBlocks_.insert(index);
}

uint32_t Table::next(uint32_t c) {
  switch (g_.type) {
    case FatType::Fat12: {
      uint64_t at = c + c / 2;
      uint32_t v = byteAt(at) | static_cast<uint32_t>(byteAt(at + 1)) << 8;
      return (c & 1) ? v >> 4 : v & 0xFFF;
    }
    case FatType::Fat16: {
      uint64_t at = uint64_t{c} * 2;
      const uint8_t* b = block(static_cast<uint32_t>(at / kBlock)) + at % kBlock;
      return b[0] | static_cast<uint32_t>(b[1]) << 8;
    }
    case FatType::Fat32: {
      uint64_t at = uint64_t{c} * 4;
      return u32(block(static_cast<uint32_t>(at / kBlock)) + at % kBlock) & 0x0FFFFFFF;
    }
  }
  return 0;
}

void Table::set(uint32_t c, uint32_t value) {
  readFsInfo();
  uint32_t old = next(c);
  if (old == value) return;
  if (free_) {
    if (old == 0) --*free_;
    if (value == 0) ++*free_;
  }
  changedThisSession_ = true;
  switch (g_.type) {
    case FatType::Fat12: {
      uint64_t at = c + c / 2;
      value &= 0xFFF;
      if (c & 1) {
        setByte(at, static_cast<uint8_t>((byteAt(at) & 0x0F) | (value << 4)));
        setByte(at + 1, static_cast<uint8_t>(value >> 4));
      } else {
        setByte(at, static_cast<uint8_t>(value));
        setByte(at + 1, static_cast<uint8_t>((byteAt(at + 1) & 0xF0) | (value >> 8)));
      }
      break;
    }
    case FatType::Fat16: {
      uint64_t at = uint64_t{c} * 2;
      setByte(at, static_cast<uint8_t>(value));
      setByte(at + 1, static_cast<uint8_t>(value >> 8));
      break;
    }
    case FatType::Fat32: {
      uint64_t at = uint64_t{c} * 4;
      // The top four bits are reserved and stay as they are.
      uint32_t keep = static_cast<uint32_t>(byteAt(at + 3) & 0xF0) << 24;
      uint32_t v = keep | (value & 0x0FFFFFFF);
      for (int i = 0; i < 4; ++i) setByte(at + i, static_cast<uint8_t>(v >> (8 * i)));
      break;
    }
  }
}

std::vector<uint32_t> Table::chain(uint32_t first, const std::string& what) {
  if (!g_.validCluster(first)) {
    damaged(d_, what + " starts at cluster " + std::to_string(first) + ", outside the disk");
  }
  std::vector<uint32_t> out;
  uint32_t c = first;
  for (;;) {
    out.push_back(c);
    if (out.size() > g_.clusterCount) damaged(d_, "the cluster chain of " + what + " loops");
    uint32_t v = next(c);
    if (isEnd(v)) break;
    if (v == 0) damaged(d_, "the cluster chain of " + what + " runs into a free cluster after cluster " + std::to_string(c));
    if (isBad(v)) damaged(d_, "the cluster chain of " + what + " runs into a bad cluster after cluster " + std::to_string(c));
    if (!g_.validCluster(v)) {
      damaged(d_, "the cluster chain of " + what + " points to cluster " + std::to_string(v) + ", outside the disk");
    }
    c = v;
  }
  return out;
}

uint32_t Table::allocate(uint32_t near) {
  readFsInfo();
  if (!g_.validCluster(near)) near = hint_;
  if (!g_.validCluster(near)) near = 2;
  uint32_t c = near;
  for (uint32_t step = 0; step < g_.clusterCount; ++step) {
    if (next(c) == 0) {
      set(c, endMark());
      hint_ = c + 1;
      return c;
    }
    c = c == g_.maxCluster() ? 2 : c + 1;
  }
  return 0;
}

void Table::release(const std::vector<uint32_t>& clusters) {
  for (uint32_t c : clusters) set(c, 0);
}

void Table::readFsInfo() {
  if (fsInfoRead_) return;
  fsInfoRead_ = true;
  if (!g_.fsInfoSector) return;
  uint8_t s[512];
  d_.read(g_.offset + uint64_t{g_.fsInfoSector} * g_.bytesPerSector, s, sizeof s);
  uint32_t count = u32(s + 488), hint = u32(s + 492);
  fsInfoUnknownOnDisk_ = count == kUnknown;
  if (!free_ && count != kUnknown && count <= g_.clusterCount) free_ = count;
  if (g_.validCluster(hint)) hint_ = hint;
}

uint32_t Table::freeClusters() {
  readFsInfo();
  if (!free_) {
    uint32_t n = 0;
    for (uint32_t c = 2; c <= g_.maxCluster(); ++c) n += next(c) == 0;
    free_ = n;
  }
  return *free_;
}

void Table::recount() {
  readFsInfo();
  uint32_t n = 0;
  for (uint32_t c = 2; c <= g_.maxCluster(); ++c) n += next(c) == 0;
  free_ = n;
  changedThisSession_ = true;
}

void Table::markCountUnknown() {
  if (!g_.fsInfoSector) return;
  readFsInfo();
  if (fsInfoUnknownOnDisk_) return;
  uint8_t v[4];
  put32(v, kUnknown);
  fsInfoUnknownOnDisk_ = true;
  ownUnknown_ = true;
  d_.write(g_.offset + uint64_t{g_.fsInfoSector} * g_.bytesPerSector + 488, v, 4);
}

void Table::flush() {
  if (dirtyBlocks_.empty()) return;
  markCountUnknown();
  for (uint32_t copy = 0; copy < g_.fatCount; ++copy) {
    if (!g_.mirrored && copy != g_.activeFat) continue;
    // Runs of neighbouring blocks go out in one write each.
    auto it = dirtyBlocks_.begin();
    while (it != dirtyBlocks_.end()) {
      uint32_t first = *it, last = first;
      auto run = it;
      while (++run != dirtyBlocks_.end() && *run == last + 1) last = *run;
      std::vector<uint8_t> bytes;
      for (uint32_t b = first; b <= last; ++b) {
        const uint8_t* p = block(b);
        bytes.insert(bytes.end(), p, p + kBlock);
      }
      uint64_t start = uint64_t{first} * kBlock;
      size_t n = static_cast<size_t>(std::min<uint64_t>(bytes.size(), g_.fatBytes() - start));
      d_.write(g_.fatOffset(copy) + start, bytes.data(), n);
      it = run;
    }
  }
  dirtyBlocks_.clear();
}

void Table::finishFsInfo() {
  if (!g_.fsInfoSector || (!changedThisSession_ && !ownUnknown_)) return;
  flush();
  uint8_t v[8];
  put32(v, freeClusters());
  put32(v + 4, g_.validCluster(hint_) ? hint_ : 2);
  d_.write(g_.offset + uint64_t{g_.fsInfoSector} * g_.bytesPerSector + 488, v, 8);
  fsInfoUnknownOnDisk_ = false;
  changedThisSession_ = false;
  ownUnknown_ = false;
}

void Table::drop() {
  blocks_.clear();
  dirtyBlocks_.clear();
  lastIndex_ = UINT32_MAX;
  last_ = nullptr;
  free_.reset();
  fsInfoRead_ = false;
  fsInfoUnknownOnDisk_ = false;
  changedThisSession_ = false;
  ownUnknown_ = false;
}

bool Table::syncCopies() {
  bool differed = false;
  if (!g_.mirrored) return false;
  uint64_t total = g_.fatBytes();
  std::vector<uint8_t> other(kBlock);
  for (uint32_t copy = 1; copy < g_.fatCount; ++copy) {
    for (uint64_t start = 0; start < total; start += kBlock) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, total - start));
      const uint8_t* mine = block(static_cast<uint32_t>(start / kBlock));
      d_.read(g_.fatOffset(copy) + start, other.data(), n);
      if (std::memcmp(mine, other.data(), n) != 0) {
        d_.write(g_.fatOffset(copy) + start, mine, n);
        differed = true;
      }
    }
  }
  return differed;
}

uint32_t Table::releaseUnreachable(const std::vector<bool>& reachable) {
  uint32_t n = 0;
  for (uint32_t c = 2; c <= g_.maxCluster(); ++c) {
    uint32_t v = next(c);
    if (v != 0 && !isBad(v) && !reachable[c]) {
      set(c, 0);
      ++n;
    }
  }
  return n;
}

}  // namespace platform::fat
