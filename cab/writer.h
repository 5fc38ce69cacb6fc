#pragma once
// Writing one Microsoft Cabinet with one folder, MSZIP-compressed (or
// stored). Streams the sources with bounded memory; 32 KiB blocks are
// compressed on several threads at once, each with the input just before it
// as its dictionary, so the bytes do not depend on the thread count.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cab/stream.h"

namespace cab {

struct Source {
  std::string name;                  // member name as stored (ANSI)
  std::unique_ptr<InStream> data;    // read from its start, size() bytes
  std::string label;                 // names the source in messages
  int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  uint8_t attributes = 0x20;         // DOS bits
};

enum class Compression { Stored, MSZIP };

struct WriteOptions {
  Compression compression = Compression::MSZIP;
  uint32_t reserve = 0;      // per-cabinet reserve area, zeros (<= 60000)
  unsigned threads = 0;      // 0: every core
  uint64_t maxSize = 0;      // 0: no limit; a larger cabinet is an error
  std::string label;         // names the cabinet in messages
};

struct WriteResult {
  uint64_t inBytes = 0;
  uint64_t outBytes = 0;
  uint32_t blocks = 0;
};

// Largest amount of member data one folder can hold (65535 blocks).
inline constexpr uint64_t kMaxFolderBytes = 65535ull * 32768ull;

// Throws CabError naming the source or the cabinet; out then holds a partial
// cabinet the caller must drop.
WriteResult write(std::vector<Source>& sources, OutStream& out, const WriteOptions& options);

// The CFDATA checksum of the cabinet format (seed 0 for a fresh sum).
uint32_t checksum(const uint8_t* data, size_t n, uint32_t seed);

}  // namespace cab
