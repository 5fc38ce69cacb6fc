#pragma once
// The definition files are stored with every byte complemented (b -> 255 - b).
// The mapping is its own inverse: the same call decodes a definition file and
// encodes a plain one. No header, no length, no padding.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform {
class Machine;
}

namespace spyware {

inline constexpr std::size_t kChunkSize = 10240;

// Called before each full chunk of a file longer than one chunk, so that the
// window keeps repainting (the forms pass DoEvents).
using YieldFn = std::function<void()>;

std::string ConvertString(std::string_view bytes);
void convertInPlace(char* bytes, std::size_t length);

// Windows paths of the machine. A missing or empty source returns without
// touching the destination. Otherwise the destination is replaced by the
// converted bytes (written beside it and renamed into place), holding one
// chunk in memory at a time. Failures come as platform::Error naming the
// file concerned.
void ConvertFile(const platform::Machine& m, std::string_view source,
                 std::string_view destination, const YieldFn& yield = {});

}  // namespace spyware
