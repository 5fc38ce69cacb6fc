// Any bytes as the members of a cabinet we write: our reader must give them
// back exactly, the bytes must be the same on one thread and on three, and
// no block may cost more than storing it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cab/reader.h"
#include "cab/stream.h"
#include "cab/writer.h"

namespace {

std::string cabinet(const std::vector<std::string>& members, const cab::WriteOptions& o) {
  std::vector<cab::Source> sources;
  for (size_t i = 0; i < members.size(); ++i) {
    cab::Source s;
    s.name = "m" + std::to_string(i);
    s.data = std::make_unique<cab::MemoryInStream>(members[i]);
    s.label = s.name;
    sources.push_back(std::move(s));
  }
  cab::MemoryOutStream out;
  cab::write(sources, out, o);
  return out.bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // First byte: members (1 to 4), reserve, stored; second: how often the
  // rest is repeated, every other copy changed, so that blocks both match
  // far back and meet bytes that do not compress.
  const size_t count = 1 + (data[0] & 3);
  cab::WriteOptions o;
  o.reserve = data[0] & 4 ? 6144 : 0;
  o.compression = data[0] & 8 ? cab::Compression::Stored : cab::Compression::MSZIP;
  const size_t copies = 1 + data[1] % 40;
  std::string payload;
  for (size_t c = 0; c < copies; ++c)
    for (size_t i = 2; i < size; ++i) payload.push_back(static_cast<char>(data[i] ^ (c % 2 ? c * 37 + i : 0)));
  std::vector<std::string> members(count);
  for (size_t i = 0; i < payload.size(); ++i) members[(i * count) / payload.size()].push_back(payload[i]);

  o.threads = 1;
  const std::string one = cabinet(members, o);
  o.threads = 3;
  if (cabinet(members, o) != one) std::abort();

  size_t blocks = (payload.size() + 32767) / 32768, header = 36 + 8 + (o.reserve ? 4 + o.reserve : 0);
  for (size_t i = 0; i < count; ++i) header += 16 + ("m" + std::to_string(i)).size() + 1;
  if (one.size() > header + payload.size() + blocks * (8 + 2 + 5)) std::abort();

  cab::Reader r(std::make_unique<cab::MemoryInStream>(one), "fuzz");
  if (r.members().size() != count) std::abort();
  for (size_t i = 0; i < count; ++i) {
    cab::MemoryOutStream back;
    r.extract(i, back);
    if (back.bytes() != members[i]) std::abort();
  }
  return 0;
}
