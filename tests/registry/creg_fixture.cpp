#include "creg_fixture.h"

#include <stdexcept>

namespace cregfix {

std::string le16(uint32_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

uint32_t get16(std::string_view b, size_t at) {
  return static_cast<unsigned char>(b.at(at)) | (static_cast<uint32_t>(static_cast<unsigned char>(b.at(at + 1))) << 8);
}
uint32_t get32(std::string_view b, size_t at) { return get16(b, at) | (get16(b, at + 2) << 16); }

void set16(std::string& b, size_t at, uint32_t v) { b.replace(at, 2, le16(v)); }
void set32(std::string& b, size_t at, uint32_t v) { b.replace(at, 4, le32(v)); }

uint32_t nameHash(std::string_view name) {
  uint32_t h = 0;
  for (unsigned char c : name)
    if (c < 0x80) h += (c >= 'a' && c <= 'z') ? c - 32 : c;
  return h;
}

std::string nameEntry(uint16_t index, std::string_view name, const std::vector<Val>& values, size_t slack) {
  std::string vals;
  for (const Val& v : values)
    vals += le32(v.type) + le32(0xFFFFFFFF) + le16(static_cast<uint32_t>(v.name.size())) +
            le16(static_cast<uint32_t>(v.data.size())) + v.name + v.data;
  const uint32_t used = static_cast<uint32_t>(20 + name.size() + vals.size());
  return le32(used + static_cast<uint32_t>(slack)) + le16(index) + le16(0) + le32(used) +
         le16(static_cast<uint32_t>(name.size())) + le16(static_cast<uint32_t>(values.size())) + le32(0) +
         std::string(name) + vals + std::string(slack, '\x5a');
}

std::string freeEntry(size_t size) {
  if (size < 20) throw std::logic_error("a free entry has at least 20 bytes");
  // The used size of free space is whatever it was; libcreg wants at least 20.
  std::string e = le32(static_cast<uint32_t>(size)) + le16(0xFFFF) + le16(0xFFFF) + le32(20);
  e.resize(size, '\0');
  return e;
}

std::string dataBlock(uint16_t number, const std::vector<std::string>& entries, size_t size) {
  std::string body;
  for (const auto& e : entries) body += e;
  if (size == 0) {
    size = (32 + body.size() + 4095) / 4096 * 4096;
    if (size - 32 - body.size() < 20 && size - 32 - body.size() > 0) size += 4096;
  }
  if (size < 32 + body.size()) throw std::logic_error("entries larger than their block");
  const size_t left = size - 32 - body.size();
  size_t freeBytes = 0;
  if (left >= 20) {
    body += freeEntry(left);
    freeBytes = left;
  } else {
    body.append(left, '\0');
  }
  return "RGDB" + le32(static_cast<uint32_t>(size)) + le32(static_cast<uint32_t>(freeBytes)) + le16(8) +
         le16(number) + le32(static_cast<uint32_t>(size - freeBytes)) + le16(254) + le16(255) +
         std::string(8, '\0') + body;
}

std::string keyEntry(uint32_t hash, uint32_t parent, uint32_t child, uint32_t next, uint16_t index,
                     uint16_t block) {
  return le32(0) + le32(hash) + le32(0) + le32(parent) + le32(child) + le32(next) + le16(index) + le16(block);
}

std::string navBlock(size_t size, uint32_t root, const std::vector<std::pair<uint32_t, std::string>>& entries) {
  std::string nav = "RGKN" + le32(static_cast<uint32_t>(size)) + le32(root) + le32(0x3E8) + le32(8) + le32(0) +
                    std::string(8, '\0');
  nav.resize(size, '\0');
  for (const auto& [at, e] : entries) nav.replace(at, e.size(), e);
  return nav;
}

std::string cregFile(const std::string& nav, const std::vector<std::string>& blocks) {
  std::string f = "CREG" + le16(0) + le16(1) + le32(static_cast<uint32_t>(32 + nav.size())) + le32(0) +
                  le16(static_cast<uint32_t>(blocks.size())) + le16(32) + le16(0) + le16(1) + std::string(8, '\0');
  f += nav;
  for (const auto& b : blocks) f += b;
  return f;
}

namespace {

const std::string kCafe = "Caf\xe9 Soci\xe9t\xe9";

std::vector<Val> cafeValues() {
  return {
      {"Name", 1, std::string("Ol\xe9\0", 4)},
      {"NoNul", 1, "abc"},
      {"", 1, std::string("def\0", 4)},
      {"Bin", 3, std::string("\x00\x01\xff", 3)},
      {"DW", 4, std::string("\x2a\0\0\0", 4)},
      {"Multi", 7, std::string("a\0bc\0\0", 6)},
      {"Exp", 2, std::string("%WinDir%\\x\0", 11)},
      {"Odd", 0x1234, "\x99"},
      {"Empty", 3, ""},
      {"\xc9t\xe9", 1, std::string("\xe0\0", 2)},
  };
}

std::string hex(std::string_view s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

}  // namespace

std::string realShapedHive() {
  // RGKN offsets of the keys; 88 and 228 are unused slots.
  enum : uint32_t { kRoot = 32, kHardware = 60, kStale = 88, kSoftware = 116, kDescription = 144, kCafe = 172,
                    kMicrosoft = 200, kJunk = 228, kWindows = 256, kSystem = 284 };
  std::vector<std::pair<uint32_t, std::string>> keys = {
      {kRoot, keyEntry(0, kNone, kHardware, kNone, 0xFFFF, 0xFFFF)},
      {kHardware, keyEntry(nameHash("hardware"), kRoot, kDescription, kSoftware, 0, 1)},
      // Looks like a key and names a real entry, but nothing links to it.
      {kStale, keyEntry(nameHash("Stale"), kRoot, kNone, kNone, 9, 0)},
      {kSoftware, keyEntry(nameHash("SOFTWARE"), kRoot, kCafe, kSystem, 2, 1)},
      {kDescription, keyEntry(nameHash("DESCRIPTION"), kHardware, kNone, kNone, 7, 0)},
      {kCafe, keyEntry(nameHash(cregfix::kCafe), kSoftware, kNone, kMicrosoft, 5, 0)},
      {kMicrosoft, keyEntry(nameHash("Microsoft"), kSoftware, kWindows, kNone, 3, 1)},
      {kJunk, std::string(28, '\xff')},
      {kWindows, keyEntry(nameHash("Windows"), kMicrosoft, kNone, kNone, 0, 0)},
      {kSystem, keyEntry(nameHash("System"), kRoot, kNone, kNone, 2, 0)},
  };
  const std::string nav = navBlock(4096, kRoot, keys);

  const std::string block1 = dataBlock(1, {nameEntry(0, "hardware", {}), freeEntry(24), nameEntry(2, "SOFTWARE", {}),
                                           nameEntry(3, "Microsoft", {}, 6)});
  std::vector<std::string> zero = {nameEntry(0, "Windows", {{"Version", 1, std::string("4.10\0", 5)}}),
                                   nameEntry(2, "System", {{"Flag", 4, std::string("\x01\0\0\0", 4)}}),
                                   nameEntry(5, cregfix::kCafe, cafeValues()),
                                   nameEntry(7, "DESCRIPTION", {}),
                                   nameEntry(9, "Stale", {{"x", 1, "y"}})};
  const std::string block0 = dataBlock(0, zero);
  return cregFile(nav, {block0, block1});
}

std::string realShapedDump() {
  std::string d = "K 0 \n";
  d += "K 1 " + hex("hardware") + "\n";
  d += "K 2 " + hex("DESCRIPTION") + "\n";
  d += "K 1 " + hex("SOFTWARE") + "\n";
  d += "K 2 " + hex(kCafe) + "\n";
  for (const Val& v : cafeValues()) d += "V " + hex(v.name) + " " + std::to_string(v.type) + " " + hex(v.data) + "\n";
  d += "K 2 " + hex("Microsoft") + "\n";
  d += "K 3 " + hex("Windows") + "\n";
  d += "V " + hex("Version") + " 1 " + hex(std::string("4.10\0", 5)) + "\n";
  d += "K 1 " + hex("System") + "\n";
  d += "V " + hex("Flag") + " 4 01000000\n";
  return d;
}

}  // namespace cregfix
