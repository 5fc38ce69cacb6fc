#pragma once
// Registry files (CREG) built byte by byte from the layout, for tests: the
// pieces a real Windows 9x hive is made of, put together by hand, so that a
// test can build what our own writer never makes (entries out of order,
// free space, gaps, damage).
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cregfix {

inline constexpr uint32_t kNone = 0xFFFFFFFF;

std::string le16(uint32_t v);
std::string le32(uint32_t v);
uint32_t get16(std::string_view b, size_t at);
uint32_t get32(std::string_view b, size_t at);
void set32(std::string& b, size_t at, uint32_t v);
void set16(std::string& b, size_t at, uint32_t v);

// The sum of the name's bytes in upper case, those from 0x80 up left out.
uint32_t nameHash(std::string_view name);

struct Val {
  std::string name;
  uint32_t type;
  std::string data;
};

// A key name entry; slack bytes after its values count in its size, not in
// its used size.
std::string nameEntry(uint16_t index, std::string_view name, const std::vector<Val>& values, size_t slack = 0);
// Free space inside a data block (at least 20 bytes).
std::string freeEntry(size_t size);
// A data block of these entries; size 0 rounds up to 4096 with one free
// entry at the end. Whatever is left after the entries becomes free space
// (or, below 20 bytes, plain zeros).
std::string dataBlock(uint16_t number, const std::vector<std::string>& entries, size_t size = 0);

// A 28-byte key entry; offsets from the start of RGKN.
std::string keyEntry(uint32_t hash, uint32_t parent, uint32_t child, uint32_t next, uint16_t index,
                     uint16_t block);
// RGKN of the given size with entries at their offsets (from its start);
// the root key's offset goes into the header.
std::string navBlock(size_t size, uint32_t root, const std::vector<std::pair<uint32_t, std::string>>& entries);
// Header, RGKN, the data blocks in the order given.
std::string cregFile(const std::string& nav, const std::vector<std::string>& blocks);

// A hive of the shape Windows 98 leaves behind, with everything a reader
// must take in its stride: keys spread over the data blocks in any order,
// entries packed without alignment, index numbers with gaps, free space
// between entries, an entry longer than its used size, unused slots in
// RGKN (one looking like a key), REG_SZ with and without its NUL, names in
// Windows-1252, every value type.
std::string realShapedHive();
// What it holds, in the dump format of tests/registry/creg_dump.py.
std::string realShapedDump();

}  // namespace cregfix
