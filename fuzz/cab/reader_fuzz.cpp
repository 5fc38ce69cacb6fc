// Any bytes as a cabinet: the reader must list and extract, or refuse with
// CabError; never crash, hang or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cab/error.h"
#include "cab/reader.h"
#include "cab/stream.h"

namespace {

class Discard : public cab::OutStream {
 public:
  void write(const void*, size_t n) override { n_ += n; }
  void patch(uint64_t, const void*, size_t) override {}
  uint64_t written() const override { return n_; }

 private:
  uint64_t n_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    cab::Reader r(std::make_unique<cab::MemoryInStream>(bytes), "fuzz");
    for (size_t i = 0; i < r.members().size(); ++i) {
      Discard out;
      try {
        r.extract(i, out);
      } catch (const cab::CabError&) {
      }
    }
  } catch (const cab::CabError&) {
  }
  return 0;
}
