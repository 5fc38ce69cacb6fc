#pragma once
// Where a FAT file system lies in an image and how it is laid out: the boot
// sector's parameter block, a partition table in front of it, the FAT type,
// and the 1.44 MB floppy as Windows 98's FORMAT makes it.
#include <cstdint>
#include <string>

#include "platform/fat/device.h"

namespace platform::fat {

enum class FatType { Fat12, Fat16, Fat32 };

struct Geometry {
  uint64_t offset = 0;  // the volume's first byte in the image
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 1;
  uint32_t reservedSectors = 1;
  uint32_t fatCount = 2;
  uint32_t rootEntries = 0;  // the fixed root of FAT12/16; 0 on FAT32
  uint32_t fatSectors = 0;   // per copy
  uint32_t totalSectors = 0;
  uint32_t rootCluster = 0;  // FAT32
  uint32_t fsInfoSector = 0; // FAT32, 0 when there is none worth keeping
  uint32_t clusterCount = 0; // data clusters: numbers 2 .. clusterCount + 1
  uint32_t activeFat = 0;    // the copy in use
  bool mirrored = true;      // every copy kept equal (FAT32 may turn it off)
  uint32_t serial = 0;
  uint8_t media = 0xF8;
  FatType type = FatType::Fat12;

  uint64_t clusterBytes() const { return uint64_t{bytesPerSector} * sectorsPerCluster; }
  uint64_t fatBytes() const { return uint64_t{fatSectors} * bytesPerSector; }
  uint64_t fatOffset(uint32_t copy) const {
    return offset + (uint64_t{reservedSectors} + uint64_t{copy} * fatSectors) * bytesPerSector;
  }
  uint64_t rootOffset() const { return fatOffset(fatCount); }  // the fixed root
  uint64_t dataOffset() const {
    return rootOffset() + (uint64_t{rootEntries} * 32 + bytesPerSector - 1) / bytesPerSector * bytesPerSector;
  }
  uint64_t clusterOffset(uint32_t c) const { return dataOffset() + uint64_t{c - 2} * clusterBytes(); }
  uint64_t end() const { return offset + uint64_t{totalSectors} * bytesPerSector; }
  uint32_t maxCluster() const { return clusterCount + 1; }
  bool validCluster(uint32_t c) const { return c >= 2 && c <= maxCluster(); }
};

// Finds the file system: a boot sector at the start (floppy, bare
// partition), else the first FAT partition of a partition table. Throws
// Error(kDeviceError) naming the image and what is wrong when it is not a
// FAT image or is truncated.
Geometry readGeometry(Device& d);

// Writes a formatted 1.44 MB floppy (FAT12, 2880 sectors, no label, a boot
// sector that says it is no system disk) over the first 1,474,560 bytes.
inline constexpr uint64_t kFloppyBytes = 1474560;
void formatFloppy(Device& d, uint32_t serial);

// The volume serial number Windows derives from the time of formatting.
uint32_t serialFromTime();

}  // namespace platform::fat
