#include "platform/fat/layout.h"

#include <ctime>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace platform::fat {

namespace {

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return u16(p) | static_cast<uint32_t>(u16(p + 2)) << 16; }
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

bool powerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// A boot sector whose parameter block makes sense; Windows checks no more.
bool looksLikeBootSector(const uint8_t* s) {
  bool jump = (s[0] == 0xEB && s[2] == 0x90) || s[0] == 0xE9 || s[0] == 0xEB;
  bool signature = s[510] == 0x55 && s[511] == 0xAA;
  uint32_t bps = u16(s + 11);
  uint32_t spc = s[13];
  return (jump || signature) && (bps == 512 || bps == 1024 || bps == 2048 || bps == 4096) && powerOfTwo(spc) &&
         u16(s + 14) >= 1 && s[16] >= 1 && (u16(s + 19) != 0 || u32(s + 32) != 0) &&
         (s[21] >= 0xF8 || s[21] == 0xF0);
}

Geometry parse(Device& d, const uint8_t* s, uint64_t offset) {
  Geometry g;
  g.offset = offset;
  g.bytesPerSector = u16(s + 11);
  g.sectorsPerCluster = s[13];
  g.reservedSectors = u16(s + 14);
  g.fatCount = s[16];
  g.rootEntries = u16(s + 17);
  g.totalSectors = u16(s + 19) ? u16(s + 19) : u32(s + 32);
  g.media = s[21];
  uint32_t fat16 = u16(s + 22);
  g.fatSectors = fat16 ? fat16 : u32(s + 36);
  if (g.fatSectors == 0) damaged(d, "the boot sector gives the FAT no size");
  if (g.clusterBytes() > 65536) damaged(d, "the boot sector gives clusters of more than 64 KB");
  uint64_t rootSectors = (uint64_t{g.rootEntries} * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
  uint64_t meta = uint64_t{g.reservedSectors} + uint64_t{g.fatCount} * g.fatSectors + rootSectors;
  if (meta >= g.totalSectors) damaged(d, "the boot sector leaves no room for data");
  uint64_t clusters = (g.totalSectors - meta) / g.sectorsPerCluster;
  g.clusterCount = static_cast<uint32_t>(clusters);
  // The type follows from the count of clusters alone.
  if (clusters < 4085) {
    g.type = FatType::Fat12;
  } else if (clusters < 65525) {
    g.type = FatType::Fat16;
  } else {
    g.type = FatType::Fat32;
    if (clusters > 0x0FFFFFF5) damaged(d, "the boot sector gives more clusters than FAT32 can number");
  }
  uint64_t bits = g.type == FatType::Fat12 ? 12 : g.type == FatType::Fat16 ? 16 : 32;
  if (g.fatBytes() * 8 / bits < clusters + 2) damaged(d, "the FAT is too small for the clusters of the disk");
  if (g.type == FatType::Fat32) {
    if (fat16 != 0 || g.rootEntries != 0) damaged(d, "a FAT32 boot sector with FAT16 fields");
    uint32_t flags = u16(s + 40);
    if (flags & 0x80) {
      g.mirrored = false;
      g.activeFat = flags & 0x0F;
      if (g.activeFat >= g.fatCount) damaged(d, "the boot sector names a FAT copy that is not there");
    }
    g.rootCluster = u32(s + 44);
    if (!g.validCluster(g.rootCluster)) damaged(d, "the root folder starts outside the disk");
    g.fsInfoSector = u16(s + 48);
    if (g.fsInfoSector == 0 || g.fsInfoSector >= g.reservedSectors) g.fsInfoSector = 0;
    g.serial = u32(s + 67);
  } else {
    if (g.rootEntries == 0) damaged(d, "a FAT12/16 boot sector without a root folder");
    g.serial = s[38] == 0x29 ? u32(s + 39) : 0;
  }
  if (g.end() > d.size()) {
    damaged(d, "truncated: the file system needs " + std::to_string(g.end()) + " bytes, the image has " +
                   std::to_string(d.size()));
  }
  if (g.fsInfoSector) {
    std::vector<uint8_t> fsi(g.bytesPerSector);
    d.read(offset + uint64_t{g.fsInfoSector} * g.bytesPerSector, fsi.data(), fsi.size());
    if (u32(fsi.data()) != 0x41615252 || u32(fsi.data() + 484) != 0x61417272) g.fsInfoSector = 0;
  }
  return g;
}

bool isFatPartition(uint8_t type) {
  switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x0E:  // FAT12, FAT16
    case 0x0B: case 0x0C:                        // FAT32
      return true;
    default:
      return false;
  }
}

}  // namespace

Geometry readGeometry(Device& d) {
  if (d.size() < 512) damaged(d, "not a FAT disk image (shorter than one sector)");
  uint8_t s[512];
  d.read(0, s, sizeof s);
  if (looksLikeBootSector(s)) return parse(d, s, 0);
  if (s[510] == 0x55 && s[511] == 0xAA) {
    for (int i = 0; i < 4; ++i) {
      const uint8_t* e = s + 446 + 16 * i;
      if (!isFatPartition(e[4])) continue;
      uint64_t at = uint64_t{u32(e + 8)} * 512;
      if (at == 0 || at + 512 > d.size()) damaged(d, "the FAT partition lies outside the image (truncated)");
      uint8_t b[512];
      d.read(at, b, sizeof b);
      if (!looksLikeBootSector(b)) damaged(d, "the first FAT partition holds no FAT boot sector");
      return parse(d, b, at);
    }
    damaged(d, "not a FAT disk image (a partition table without a FAT12, FAT16 or FAT32 partition)");
  }
  damaged(d, "not a FAT disk image (no boot sector and no partition table)");
}

uint32_t serialFromTime() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  // Date and time folded the way DOS FORMAT folds them.
  uint32_t hi = static_cast<uint32_t>((tm.tm_hour << 8 | tm.tm_min) + (tm.tm_year + 1900));
  uint32_t lo = static_cast<uint32_t>((tm.tm_mon + 1) << 8 | tm.tm_mday) + static_cast<uint32_t>(tm.tm_sec << 8);
  return (hi & 0xFFFF) << 16 | (lo & 0xFFFF);
}

void formatFloppy(Device& d, uint32_t serial) {
  std::vector<uint8_t> img(19 * 512 + 14 * 512, 0);  // boot sector, two FATs, root folder
  uint8_t* b = img.data();
  const uint8_t head[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1'};
  std::copy(std::begin(head), std::end(head), b);
  put16(b + 11, 512);  // bytes per sector
  b[13] = 1;           // sectors per cluster
  put16(b + 14, 1);    // reserved sectors
  b[16] = 2;           // FATs
  put16(b + 17, 224);  // root entries
  put16(b + 19, 2880); // sectors
  b[21] = 0xF0;        // media: 3.5" 1.44 MB
  put16(b + 22, 9);    // sectors per FAT
  put16(b + 24, 18);   // sectors per track
  put16(b + 26, 2);    // heads
  b[36] = 0x00;        // drive number of a floppy
  b[38] = 0x29;        // extended boot signature
  put32(b + 39, serial);
  std::string_view label = "NO NAME    FAT12   ";
  std::copy(label.begin(), label.end(), b + 43);
  // At 0x3E: print the message, wait for a key, try the next boot device.
  const uint8_t code[] = {0xFA, 0x31, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0x8E, 0xD8, 0xFB, 0xFC,
                          0xBE, 0x61, 0x7C, 0xAC, 0x84, 0xC0, 0x74, 0x09, 0xB4, 0x0E, 0xBB, 0x07,
                          0x00, 0xCD, 0x10, 0xEB, 0xF2, 0x30, 0xE4, 0xCD, 0x16, 0xCD, 0x19};
  std::copy(std::begin(code), std::end(code), b + 0x3E);
  std::string_view msg = "\r\nNon-system disk or disk error\r\nReplace and press any key when ready\r\n";
  std::copy(msg.begin(), msg.end(), b + 0x3E + sizeof code);  // NUL-terminated by the zeros after it
  b[510] = 0x55;
  b[511] = 0xAA;
  for (int copy = 0; copy < 2; ++copy) {
    uint8_t* fat = b + 512 + copy * 9 * 512;
    fat[0] = 0xF0;
    fat[1] = 0xFF;
    fat[2] = 0xFF;
  }
  d.write(0, img.data(), img.size());
  std::vector<uint8_t> zeros(64 * 1024, 0);
  for (uint64_t at = img.size(); at < kFloppyBytes; at += zeros.size()) {
    d.write(at, zeros.data(), static_cast<size_t>(std::min<uint64_t>(zeros.size(), kFloppyBytes - at)));
  }
}

}  // namespace platform::fat
