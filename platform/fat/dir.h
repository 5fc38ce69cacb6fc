#pragma once
// Directory entries as FAT keeps them: 32-byte slots, the short name in the
// OEM code page (850, which goes with Windows-1252), the long name in
// UTF-16 spread over long-name slots bound to the short name by a checksum,
// DOS dates and times.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/volume.h"

namespace platform::fat {

using Slot = std::array<uint8_t, 32>;

inline constexpr uint8_t kLongNameAttr = 0x0F;
inline constexpr uint8_t kVolumeAttr = 0x08;
inline constexpr uint8_t kDeleted = 0xE5;

// Whether a short name can hold the (ANSI) character.
bool oemHolds(char ansi);

// "NAME.EXT" <-> the 11 name bytes of a slot.
std::array<uint8_t, 11> packShortName(std::string_view ansi83);
// Case flags of byte 12 (lower-case base 0x08, extension 0x10), as Windows
// NT and mtools write them, are applied when applyCase is set.
std::string unpackShortName(const uint8_t* name11, uint8_t caseFlags, bool applyCase);
uint8_t checksum(const uint8_t* name11);

uint16_t packDate(const DateTime& t);
uint16_t packTime(const DateTime& t);
DateTime unpack(uint16_t date, uint16_t time);

// The long-name slots of name bound to the short name's checksum, in the
// order they lie in the folder (the last part first). Empty for a name that
// the short name holds exactly.
std::vector<Slot> longNameSlots(std::string_view ansi, const std::string& shortName, uint8_t sum);

struct ShortFields {
  std::array<uint8_t, 11> name{};
  uint8_t attributes = 0;
  uint32_t firstCluster = 0;
  uint32_t size = 0;
  DateTime modified, created, accessed;
};
Slot makeShortSlot(const ShortFields& f);
// The slot with cluster, size, attributes and times replaced; name, case
// flags and the rest kept.
void setCluster(Slot& s, uint32_t c);
uint32_t clusterOf(const uint8_t* s);
void setTimesOf(Slot& s, const FileTimes& t);

// One entry of a folder where it lies.
struct Record {
  FileEntry entry;
  uint32_t firstCluster = 0;
  size_t first = 0;  // its first slot (a long-name slot, or the short one)
  size_t count = 1;  // slots it takes, the short one last
  size_t shortSlot() const { return first + count - 1; }
};

// The entries of slots up to the end marker, whose index goes to *end.
// "." and "..", the volume label and deleted entries are left out;
// long-name slots that do not belong to the next short one are ignored.
std::vector<Record> parseSlots(const uint8_t* slots, size_t count, size_t* end);

}  // namespace platform::fat
