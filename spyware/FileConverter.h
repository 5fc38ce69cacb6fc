#pragma once
// The definition files are stored with every byte complemented (b -> 255 - b).
// The mapping is its own inverse: the same call decodes a definition file and
// encodes a plain one. No header, no length, no padding.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <stdexcept>
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

// Host paths. A missing or empty source returns without touching the
// destination. Otherwise the destination is replaced by the converted bytes:
// written to a temporary file beside it and renamed into place, holding at
// most one chunk in memory. Throws ConvertError naming the file that failed.
void convertHostFile(const std::filesystem::path& source,
                     const std::filesystem::path& destination, const YieldFn& yield = {});

// Windows paths of the machine; failures come as platform::Error with the
// Windows path as detail.
void ConvertFile(const platform::Machine& m, std::string_view source,
                 std::string_view destination, const YieldFn& yield = {});

class ConvertError : public std::runtime_error {
 public:
  enum class Kind { Open, Read, Write };
  ConvertError(Kind kind, std::filesystem::path file, int errnum, const std::string& message)
      : std::runtime_error(message), kind_(kind), file_(std::move(file)), errnum_(errnum) {}
  Kind kind() const { return kind_; }
  const std::filesystem::path& file() const { return file_; }
  int errnum() const { return errnum_; }  // the host's errno

 private:
  Kind kind_;
  std::filesystem::path file_;
  int errnum_;
};

}  // namespace spyware
