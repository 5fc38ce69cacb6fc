#pragma once
// What the block replaced, so that the unblock gives back exactly that: for
// each blocking entry the block set, the value as it was before (or that
// there was none) and the first key on its path that the block created.
// Kept beside the definitions as util\spyblock.bak, one entry a line.
//
// The unblock takes an entry away only where the registry still holds the
// blocking value: it puts back the value that was there before (or removes
// it when there was none), and removes the keys the block created once
// nothing is left in them. The user's own values and subkeys stay. Without
// a record (an unblock without a block) the blocking value is removed, and
// its key with it when nothing else is left in it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"
#include "spyware/DefinitionCheck.h"

namespace spyware {

inline constexpr const char* kBlockRecordFile = "spyblock.bak";

struct PriorValue {
  bool present = false;
  uint32_t type = 0;
  std::string data;  // as stored
};

struct RecordedEntry {
  BlockingEntry entry;
  PriorValue before;
  // The first key on the entry's path that the block made (the entry's key
  // itself or one above it); empty when the key was there before.
  std::string created;
};

class BlockRecord {
 public:
  // Lines that do not read as an entry are passed over.
  static BlockRecord parse(std::string_view text);
  std::string text() const;

  bool empty() const { return entries_.empty(); }
  const std::vector<RecordedEntry>& entries() const { return entries_; }
  const RecordedEntry* find(const BlockingEntry& e) const;
  // An entry already recorded keeps what it recorded first.
  void add(RecordedEntry r);
  void remove(const BlockingEntry& e);

 private:
  std::vector<RecordedEntry> entries_;
};

// Records how reg holds each entry the block is about to set, unless the
// record has it already. True when it added any.
bool recordBefore(platform::reg::Registry& reg, const std::vector<BlockingEntry>& sets,
                  BlockRecord& record);

struct UnblockPlan {
  std::string script;                  // REGEDIT4, for the registry editor
  std::vector<BlockingEntry> handled;  // what the record no longer needs once imported
};

// What the unblock imports for the entries its script takes away.
UnblockPlan planUnblock(platform::reg::Registry& reg, const std::vector<BlockingEntry>& takeAway,
                        const BlockRecord& record);

}  // namespace spyware
