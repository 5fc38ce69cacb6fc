#pragma once
// The Windows 9x registry file (CREG), read into a key tree and written
// from one: a 32-byte header, the key navigation block RGKN with a 28-byte
// entry per key, and data blocks RGDB with each key's name and values.
// Pure in-memory code: bytes in, bytes out.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/key_tree.h"

namespace platform::hive {

// What Windows 9x lets a key hold. A key's name and all its values live
// in one entry of one data block, and a data block is at most 61,440
// bytes, its 32-byte header included.
inline constexpr size_t kMaxKeyName = 255;
inline constexpr size_t kMaxValueData = 16300;
inline constexpr size_t kMaxDataBlock = 61440;
inline constexpr size_t kMaxKeyEntry = kMaxDataBlock - 32;

// The size of a key's entry in its data block: header, name, values.
size_t keyEntrySize(const Key& key);

// Why a change breaks one of those limits, empty when it does not. The
// key name is checked as a new subkey's; the value as set on key.
std::string keyNameFault(std::string_view name);
std::string valueFault(const Key& key, std::string_view valueName, std::string_view data);

inline bool isCreg(std::string_view bytes) { return bytes.substr(0, 4) == "CREG"; }

// A damaged file: what is wrong, at which byte of the file.
struct CregError {
  uint64_t offset = 0;
  std::string what;
  std::string message() const;  // "offset 40 (0x28): what"
};

struct CregLoad {
  std::optional<Hive> hive;
  std::optional<CregError> error;
};
// Reads every key and value reachable from the root key entry. Accepts
// what hives of Windows 95, 98 and ME hold: entries packed without
// alignment, free space and unused entries between them, index numbers
// with gaps, data blocks in any order, bytes left over after entries.
// Refuses, naming the offset, anything that would send it outside the file
// or round a loop. The hive keeps the bytes.
CregLoad readCreg(std::string bytes, std::string_view topName);

// The file of a hive, handed to put in pieces (the headers and the key
// navigation block, then each data block). Keys and values keep their
// order, names their letter case, values their type and bytes. Throws
// std::length_error for a tree no CREG file can hold (a name or value of
// more than 65,535 bytes, a file beyond 4 GB), naming the key.
using PutPiece = std::function<void(std::string_view)>;
void writeCreg(const Key& top, const PutPiece& put);
std::string cregBytes(const Key& top);

}  // namespace platform::hive
