#include "platform/registry/creg_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace platform::hive {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint16_t kNoEntry = 0xFFFF;
constexpr size_t kFileHeader = 32;
constexpr size_t kRgknHeader = 32;
constexpr size_t kKeyEntry = 28;
constexpr size_t kBlockHeader = 32;
constexpr size_t kNameHeader = 20;
constexpr size_t kValueHeader = 12;
constexpr size_t kPage = 4096;
// A block holds index numbers 0 to 254.
constexpr size_t kKeysPerBlock = 255;

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void put16(char* p, uint32_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(char* p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

size_t roundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

std::string printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

std::string num(uint64_t n) { return std::to_string(n); }

// The name hash Windows keeps beside each key: the sum of the name's bytes
// in upper case, bytes from 0x80 up not counted.
uint32_t nameHash(std::string_view name) {
  uint32_t h = 0;
  for (unsigned char c : name) {
    if (c >= 0x80) continue;
    h += (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
  }
  return h;
}

// --- reading ---------------------------------------------------------------

struct Fault {
  CregError e;
};

[[noreturn]] void fail(uint64_t offset, std::string what) { throw Fault{{offset, std::move(what)}}; }

class Reader {
 public:
  Reader(std::string_view b, Hive& hive) : b_(b), p_(reinterpret_cast<const unsigned char*>(b.data())), hive_(hive) {}

  void run() {
    if (b_.size() < kFileHeader)
      fail(0, "the file is cut short: " + num(b_.size()) + " bytes, less than the 32 of its header");
    if (!isCreg(b_))
      fail(0, "wrong signature \"" + printable(b_.substr(0, 4)) + "\" (a registry file starts with CREG)");
    if (u16(p_ + 6) != 1)
      fail(4, "format version " + num(u16(p_ + 6)) + "." + num(u16(p_ + 4)) + " (only 1.0 is known)");
    readNavigation();
    readBlocks();
    walk();
  }

 private:
  struct Block {
    size_t start = 0, end = 0;
    std::vector<uint32_t> entry;                      // by index below 256; 0: none
    std::vector<std::pair<uint16_t, uint32_t>> more;  // higher index numbers
    std::string stop;                                 // why the scan ended early
  };

  void readNavigation() {
    const size_t at = kFileHeader;
    if (b_.size() < at + kRgknHeader) fail(at, "the file is cut short: no room for the key navigation block");
    if (b_.substr(at, 4) != "RGKN")
      fail(at, "wrong signature \"" + printable(b_.substr(at, 4)) + "\" of the key navigation block (RGKN)");
    rgknSize_ = u32(p_ + at + 4);
    if (rgknSize_ < kRgknHeader + kKeyEntry)
      fail(at + 4, "key navigation block of " + num(rgknSize_) + " bytes, too small for its header and the root key");
    if (rgknSize_ > b_.size() - at)
      fail(at + 4, "key navigation block of " + num(rgknSize_) + " bytes runs past the end of the file (" +
                       num(b_.size()) + " bytes)");
    root_ = u32(p_ + at + 8);
    if (!entryInside(root_))
      fail(at + 8, "root key entry at " + num(root_) + " lies outside the key navigation block");
  }

  bool entryInside(uint32_t off) const {
    return off >= kRgknHeader && off <= rgknSize_ && rgknSize_ - off >= kKeyEntry;
  }

  void readBlocks() {
    const size_t count = u16(p_ + 16);
    size_t pos = u32(p_ + 8);
    const size_t navEnd = kFileHeader + rgknSize_;
    if (pos < navEnd || pos > b_.size())
      fail(8, "first data block at " + num(pos) + " lies " +
                  (pos < navEnd ? "inside the key navigation block" : "past the end of the file"));
    // Blocks are known by their place in the file, as libcreg knows them;
    // Windows writes each block's number (offset 14) to match.
    // The header's count first; data blocks written after it are read too.
    for (size_t i = 0; pos + kBlockHeader <= b_.size() || i < count; ++i) {
      if (pos + kBlockHeader > b_.size())
        fail(pos, "the file is cut short: data block " + num(i + 1) + " of " + num(count) + " is missing");
      if (b_.substr(pos, 4) != "RGDB") {
        if (i >= count) break;  // bytes after the last block
        fail(pos, "wrong signature \"" + printable(b_.substr(pos, 4)) + "\" of data block " + num(i + 1) +
                      " (RGDB)");
      }
      const size_t size = u32(p_ + pos + 4);
      if (size < kBlockHeader) fail(pos + 4, "data block of " + num(size) + " bytes, smaller than its header");
      if (size > b_.size() - pos)
        fail(pos + 4, "data block of " + num(size) + " bytes runs past the end of the file (" + num(b_.size()) +
                          " bytes)");
      if (blocks_.size() == kNoEntry) break;  // no key could name another
      blocks_.emplace_back();
      scan(blocks_.back(), pos, pos + size);
      pos += size;
    }
  }

  // Where each key name entry of a block begins. Free space and what a
  // block holds after its last entry are passed over.
  void scan(Block& blk, size_t start, size_t end) {
    blk.start = start;
    blk.end = end;
    blk.entry.assign(256, 0);
    size_t p = start + kBlockHeader;
    while (end - p >= 8) {
      const uint32_t size = u32(p_ + p);
      const uint16_t index = u16(p_ + p + 4);
      if (index == kNoEntry) {  // free space
        if (size < 8 || size > end - p) return;
        p += size;
        continue;
      }
      if (size < kNameHeader || size > end - p) {
        blk.stop = "the entry at offset " + num(p) + " claims " + num(size) + " bytes where " +
                   (size < kNameHeader ? "a key entry has at least 20" : "the block has " + num(end - p) + " left");
        return;
      }
      if (index < 256) {
        if (!blk.entry[index]) blk.entry[index] = static_cast<uint32_t>(p);
      } else {
        blk.more.emplace_back(index, static_cast<uint32_t>(p));
      }
      p += size;
    }
  }

  size_t findEntry(uint32_t keyAt, uint16_t index, uint16_t number) const {
    if (number >= blocks_.size())
      fail(keyAt + 26, "the key entry at offset " + num(keyAt) + " names data block " + num(number) +
                           ", which the file does not have (it has " + num(blocks_.size()) + ")");
    const Block& blk = blocks_[number];
    size_t at = 0;
    if (index < 256) {
      at = blk.entry[index];
    } else {
      for (const auto& [i, p] : blk.more)
        if (i == index) {
          at = p;
          break;
        }
    }
    if (!at)
      fail(keyAt + 24, "the key entry at offset " + num(keyAt) + " names entry " + num(index) + " of data block " +
                           num(number) + " (at offset " + num(blk.start) + "), which that block does not hold" +
                           (blk.stop.empty() ? "" : "; its entries end early: " + blk.stop));
    return at;
  }

  // The name and values of a key name entry, into a new subkey of parent
  // (or into `into`, the root).
  Key& readEntry(size_t at, Key* into, Key* parent) {
    const size_t size = u32(p_ + at);
    const size_t nameLen = u16(p_ + at + 12);
    const size_t values = u16(p_ + at + 14);
    if (kNameHeader + nameLen > size)
      fail(at + 12, "a key name of " + num(nameLen) + " bytes is longer than its entry (" + num(size) + " bytes)");
    std::string_view name = b_.substr(at + kNameHeader, nameLen);
    Key& k = into ? *into : parent->appendChild(name);
    k.reserveValues(values);
    size_t p = at + kNameHeader + nameLen;
    const size_t end = at + size;
    for (size_t v = 0; v < values; ++v) {
      if (end - p < kValueHeader)
        fail(p, "value " + num(v + 1) + " of " + num(values) + " of key \"" + printable(name) +
                    "\" runs past the end of its entry at offset " + num(end));
      const uint32_t type = u32(p_ + p);
      const size_t vnLen = u16(p_ + p + 8), dataLen = u16(p_ + p + 10);
      if (vnLen + dataLen > end - p - kValueHeader)
        fail(p + 8, "value " + num(v + 1) + " of key \"" + printable(name) + "\" (" + num(vnLen) + " bytes of name, " +
                        num(dataLen) + " of data) runs past the end of its entry at offset " + num(end));
      k.appendValue(b_.substr(p + kValueHeader, vnLen), type, b_.substr(p + kValueHeader + vnLen, dataLen));
      p += kValueHeader + vnLen + dataLen;
    }
    return k;
  }

  // Follows the links from the root with a stack of its own: neither the
  // depth nor a loop in the links can take the reader anywhere.
  void walk() {
    std::vector<uint8_t> seen(rgknSize_, 0);
    const size_t base = kFileHeader;
    seen[root_] = 1;
    const unsigned char* r = p_ + base + root_;
    if (!(u16(r + 24) == kNoEntry && u16(r + 26) == kNoEntry))
      readEntry(findEntry(static_cast<uint32_t>(base + root_), u16(r + 24), u16(r + 26)), &hive_.top(), nullptr);
    struct Pending {
      uint32_t off;
      size_t linkAt;  // where the link to it was read, for messages
      Key* parent;
    };
    std::vector<Pending> stack;
    if (u32(r + 16) != kNone) stack.push_back({u32(r + 16), base + root_ + 16, &hive_.top()});
    while (!stack.empty()) {
      Pending pend = stack.back();
      stack.pop_back();
      uint32_t off = pend.off;
      size_t linkAt = pend.linkAt;
      while (off != kNone) {
        if (!entryInside(off))
          fail(linkAt, "a key link points to " + num(off) + " bytes into the key navigation block, which has " +
                           num(rgknSize_) + " (a key entry there would lie outside it)");
        if (seen[off])
          fail(linkAt, "a loop in the key links: the key entry at offset " + num(base + off) + " is reached twice");
        seen[off] = 1;
        const size_t at = base + off;
        const unsigned char* e = p_ + at;
        if (u16(e + 24) == kNoEntry && u16(e + 26) == kNoEntry)
          fail(at + 24, "the key entry at offset " + num(at) + " has no name entry");
        Key* parent = pend.parent;
        Key* k = &readEntry(findEntry(static_cast<uint32_t>(at), u16(e + 24), u16(e + 26)), nullptr, parent);
        if (u32(e + 16) != kNone) stack.push_back({u32(e + 16), at + 16, k});
        off = u32(e + 20);
        linkAt = at + 20;
      }
    }
  }

  std::string_view b_;
  const unsigned char* p_;
  Hive& hive_;
  size_t rgknSize_ = 0;
  uint32_t root_ = 0;
  std::vector<Block> blocks_;
};

// --- writing ---------------------------------------------------------------

struct Node {
  const Key* key;
  uint32_t parent;
  uint32_t first = kNone, next = kNone;
  uint16_t block = kNoEntry, index = kNoEntry;
};

struct BlockPlan {
  uint32_t firstNode = 0, endNode = 0;  // the nodes [first, end) with an entry here
  size_t used = 0;                      // bytes of key entries
  size_t size = 0;
  size_t slack = 0;  // added to the last entry when no free entry fits
};

[[noreturn]] void tooBig(const Key& k, const std::string& what) {
  throw std::length_error("key \"" + std::string(k.name()) + "\": " + what);
}

size_t entrySizeChecked(const Key& k, bool isTop) {
  const std::string_view name = isTop ? std::string_view() : k.name();
  if (name.size() > 0xFFFF) tooBig(k, "a name of " + num(name.size()) + " bytes (a registry file holds at most 65,535)");
  if (k.valueCount() > 0xFFFF) tooBig(k, num(k.valueCount()) + " values (a registry file holds at most 65,535)");
  for (size_t i = 0; i < k.valueCount(); ++i) {
    const Value& v = k.value(i);
    if (v.name.size() > 0xFFFF || v.data.size() > 0xFFFF)
      tooBig(k, "value \"" + std::string(v.name.substr(0, 40)) + "\" of " + num(v.name.size() + v.data.size()) +
                    " bytes (a registry file holds at most 65,535 of name and 65,535 of data)");
  }
  return kNameHeader + name.size() + kValueHeader * k.valueCount() + k.valueBytes();
}

// Keys in the order of a walk down the tree, each with its links.
std::vector<Node> orderKeys(const Key& top) {
  std::vector<Node> nodes;
  nodes.push_back({&top, kNone});
  struct Frame {
    uint32_t node;
    size_t nextChild = 0;
    uint32_t last = kNone;
  };
  std::vector<Frame> stack{{0}};
  while (!stack.empty()) {
    Frame& f = stack.back();
    const Key& k = *nodes[f.node].key;
    if (f.nextChild == k.childCount()) {
      stack.pop_back();
      continue;
    }
    const uint32_t c = static_cast<uint32_t>(nodes.size());
    if (f.last == kNone)
      nodes[f.node].first = c;
    else
      nodes[f.last].next = c;
    f.last = c;
    const uint32_t parent = f.node;
    nodes.push_back({&k.child(f.nextChild++), parent});
    stack.push_back({c});
  }
  return nodes;
}

// Key entries fill data blocks in that order, each block at most 61,440
// bytes and 255 keys; a block ends in one free entry up to its size, a
// multiple of 4096.
std::vector<BlockPlan> planBlocks(std::vector<Node>& nodes, std::vector<uint32_t>& entrySize) {
  std::vector<BlockPlan> blocks;
  auto close = [&](BlockPlan& b) {
    b.size = roundUp(kBlockHeader + b.used, kPage);
    const size_t left = b.size - kBlockHeader - b.used;
    if (left > 0 && left < kNameHeader) {
      if (b.size + kPage <= kMaxDataBlock)
        b.size += kPage;
      else
        b.slack = left;  // the last key's entry takes the rest
    }
  };
  const size_t room = kMaxDataBlock - kBlockHeader;
  for (uint32_t i = 0; i < nodes.size(); ++i) {
    const Key& k = *nodes[i].key;
    if (i == 0 && k.valueCount() == 0) continue;  // the root key has no name entry
    const size_t size = entrySize[i];
    // A block at its largest whose end would be too short for a free entry
    // is left as it is (only a key alone in its block takes that rest).
    auto noFreeEntryFits = [&](const BlockPlan& b) {
      const size_t n = kBlockHeader + b.used + size, left = roundUp(n, kPage) - n;
      return roundUp(n, kPage) >= kMaxDataBlock && left > 0 && left < kNameHeader;
    };
    if (blocks.empty() || blocks.back().used + size > room ||
        blocks.back().endNode - blocks.back().firstNode == kKeysPerBlock ||
        (blocks.back().used > 0 && noFreeEntryFits(blocks.back()))) {
      if (!blocks.empty()) close(blocks.back());
      if (blocks.size() == kNoEntry) throw std::length_error("the registry needs more than 65,535 data blocks");
      blocks.push_back({i, i, 0, 0, 0});
    }
    BlockPlan& b = blocks.back();
    nodes[i].block = static_cast<uint16_t>(blocks.size() - 1);
    nodes[i].index = static_cast<uint16_t>(b.endNode - b.firstNode);
    b.endNode = i + 1;
    b.used += size;
  }
  // Even an empty hive has a data block: the header's offset points at one.
  if (blocks.empty()) blocks.push_back({0, 0, 0, 0, 0});
  close(blocks.back());
  return blocks;
}

// Writes a key's name entry at p; returns the end.
char* putEntry(char* p, const Key& k, bool isTop, uint16_t index, size_t size, size_t slack) {
  const std::string_view name = isTop ? std::string_view() : k.name();
  put32(p, static_cast<uint32_t>(size + slack));
  put16(p + 4, index);
  put16(p + 6, 0);
  put32(p + 8, static_cast<uint32_t>(size));
  put16(p + 12, static_cast<uint32_t>(name.size()));
  put16(p + 14, static_cast<uint32_t>(k.valueCount()));
  put32(p + 16, 0);
  p += kNameHeader;
  if (!name.empty()) std::memcpy(p, name.data(), name.size());
  p += name.size();
  for (size_t i = 0; i < k.valueCount(); ++i) {
    const Value& v = k.value(i);
    put32(p, v.type);
    put32(p + 4, kNone);
    put16(p + 8, static_cast<uint32_t>(v.name.size()));
    put16(p + 10, static_cast<uint32_t>(v.data.size()));
    p += kValueHeader;
    if (!v.name.empty()) std::memcpy(p, v.name.data(), v.name.size());
    p += v.name.size();
    if (!v.data.empty()) std::memcpy(p, v.data.data(), v.data.size());
    p += v.data.size();
  }
  return p + slack;  // the buffer is zeroed
}

}  // namespace

std::string CregError::message() const {
  char hex[24];
  std::snprintf(hex, sizeof hex, "0x%llX", static_cast<unsigned long long>(offset));
  return "offset " + num(offset) + " (" + hex + "): " + what;
}

size_t keyEntrySize(const Key& key) {
  return kNameHeader + key.name().size() + kValueHeader * key.valueCount() + key.valueBytes();
}

std::string keyNameFault(std::string_view name) {
  if (name.size() <= kMaxKeyName) return {};
  return "a key name of " + num(name.size()) + " characters (Windows 9x allows at most " + num(kMaxKeyName) + ")";
}

std::string valueFault(const Key& key, std::string_view valueName, std::string_view data) {
  if (data.size() > kMaxValueData)
    return "value \"" + printable(valueName.substr(0, 40)) + "\" has " + num(data.size()) +
           " bytes of data (Windows 9x allows at most " + num(kMaxValueData) + ")";
  const size_t before = keyEntrySize(key);
  if (before + kValueHeader + valueName.size() + data.size() <= kMaxKeyEntry) return {};  // fits even as a new one
  size_t after = before + valueName.size() + data.size();
  if (const Value* old = key.findValue(valueName))
    after -= old->name.size() + old->data.size();
  else
    after += kValueHeader;
  if (after > kMaxKeyEntry && after > before)
    return "the values of key \"" + printable(key.name().substr(0, 40)) + "\" would take " + num(after) +
           " bytes with its name (Windows 9x keeps at most " + num(kMaxKeyEntry) +
           " of a key's name and values in one data block)";
  return {};
}

CregLoad readCreg(std::string bytes, std::string_view topName) {
  CregLoad r;
  r.hive.emplace(topName, bytes.size());
  std::string_view kept = r.hive->keep(std::move(bytes));
  try {
    Reader(kept, *r.hive).run();
  } catch (Fault& f) {
    r.hive.reset();
    r.error = std::move(f.e);
  }
  return r;
}

void writeCreg(const Key& top, const PutPiece& put) {
  std::vector<Node> nodes = orderKeys(top);
  std::vector<uint32_t> entrySize(nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i)
    entrySize[i] = static_cast<uint32_t>(entrySizeChecked(*nodes[i].key, i == 0));
  std::vector<BlockPlan> blocks = planBlocks(nodes, entrySize);

  const uint64_t navSize = roundUp(kRgknHeader + kKeyEntry * uint64_t{nodes.size()}, kPage);
  uint64_t total = kFileHeader + navSize;
  for (const auto& b : blocks) total += b.size;
  if (total > 0xFFFFFFFFu) throw std::length_error("the registry would be larger than 4 GB");

  std::string head(kFileHeader + navSize, '\0');
  char* h = head.data();
  std::memcpy(h, "CREG", 4);
  put16(h + 4, 0);  // version 1.0
  put16(h + 6, 1);
  put32(h + 8, static_cast<uint32_t>(kFileHeader + navSize));
  put32(h + 12, 0);
  put16(h + 16, static_cast<uint32_t>(blocks.size()));
  put16(h + 18, 32);
  put16(h + 20, 0);
  put16(h + 22, 1);
  char* n = h + kFileHeader;
  std::memcpy(n, "RGKN", 4);
  put32(n + 4, static_cast<uint32_t>(navSize));
  put32(n + 8, kRgknHeader);
  put32(n + 12, static_cast<uint32_t>(kRgknHeader + kKeyEntry * nodes.size()));
  put32(n + 16, 8);
  put32(n + 20, 0);
  auto offsetOf = [](uint32_t node) {
    return node == kNone ? kNone : static_cast<uint32_t>(kRgknHeader + kKeyEntry * node);
  };
  for (size_t i = 0; i < nodes.size(); ++i) {
    char* e = n + kRgknHeader + kKeyEntry * i;
    const Node& nd = nodes[i];
    put32(e, 0);
    put32(e + 4, i == 0 ? 0 : nameHash(nd.key->name()));
    put32(e + 8, 0);
    put32(e + 12, offsetOf(nd.parent));
    put32(e + 16, offsetOf(nd.first));
    put32(e + 20, offsetOf(nd.next));
    put16(e + 24, nd.index);
    put16(e + 26, nd.block);
  }
  put(head);
  head = {};

  std::string out;
  for (size_t bi = 0; bi < blocks.size(); ++bi) {
    const BlockPlan& b = blocks[bi];
    out.assign(b.size, '\0');
    const size_t keys = b.endNode - b.firstNode;
    const size_t free = b.size - kBlockHeader - b.used - b.slack;
    char* bh = out.data();
    std::memcpy(bh, "RGDB", 4);
    put32(bh + 4, static_cast<uint32_t>(b.size));
    put32(bh + 8, static_cast<uint32_t>(free));
    put16(bh + 12, 8);
    put16(bh + 14, static_cast<uint32_t>(bi));
    put32(bh + 16, static_cast<uint32_t>(b.size - free));
    put16(bh + 20, 254);
    put16(bh + 22, static_cast<uint32_t>(keys < kKeysPerBlock ? keys : 255));
    char* p = bh + kBlockHeader;
    for (uint32_t i = b.firstNode; i < b.endNode; ++i)
      p = putEntry(p, *nodes[i].key, i == 0, nodes[i].index, entrySize[i], i + 1 == b.endNode ? b.slack : 0);
    if (free > 0) {
      put32(p, static_cast<uint32_t>(free));
      put16(p + 4, kNoEntry);
      put16(p + 6, kNoEntry);
      // As if a key's header: libcreg refuses a used size below that.
      put32(p + 8, kNameHeader);
    }
    put(out);
  }
}

std::string cregBytes(const Key& top) {
  std::string all;
  writeCreg(top, [&](std::string_view s) { all.append(s); });
  return all;
}

}  // namespace platform::hive
