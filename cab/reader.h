#pragma once
// Reading Microsoft Cabinet files through libmspack: every compression method
// (stored, MSZIP, Quantum, LZX), data checksums verified. All I/O goes
// through InStream/OutStream.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cab/stream.h"

namespace cab {

struct Member {
  std::string name;        // as stored: ANSI, or UTF-8 when utf8Name
  bool utf8Name = false;
  uint32_t size = 0;
  int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  uint8_t attributes = 0;  // DOS bits (read-only, hidden, system, archive)
  std::string method;      // "stored", "MSZIP", "Quantum", "LZX"
};

class Reader {
 public:
  // Reads the cabinet's headers; throws CabError naming `label` when it is
  // not a cabinet, is damaged or truncated, or is one part of a spanned set.
  Reader(std::unique_ptr<InStream> in, std::string label);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  const std::string& label() const;
  const std::vector<Member>& members() const;
  // Index of the member of that name, letters compared without case.
  std::optional<size_t> find(std::string_view name) const;
  // Writes the member's bytes; throws CabError when its data is damaged
  // (the output then holds a partial member the caller must drop).
  void extract(size_t index, OutStream& out);

 struct Impl;  // libmspack state, opaque

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace cab
