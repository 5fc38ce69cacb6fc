#pragma once
// The cabinet maker's directive language, as far as the program and its
// users need it: .OPTION EXPLICIT, .Set for the standard variables, file
// lines with an optional destination name, ";" comments. Pure text in, a
// plan out; no files are touched, so it can be fuzzed.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cab/writer.h"

namespace makecab {

// what() is "DIRECTIVE:LINE: message" (or "DIRECTIVE: message").
class DirectiveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FileLine {
  std::string source;  // path as written
  std::string member;  // name in the cabinet
  int line = 0;
};

struct Directive {
  cab::Compression compression = cab::Compression::MSZIP;
  uint64_t maxDiskSize = 0;  // 0: no limit
  uint32_t reserve = 0;
  std::string diskDirectory;  // empty: the directive's own folder
  int diskDirectoryLine = 0;
  std::string cabinetName = "1.cab";
  int cabinetNameLine = 0;
  std::vector<FileLine> files;
};

// `name` is how the directive is named in messages.
Directive parseDirective(std::string_view text, const std::string& name);

// The size of a named MaxDiskSize ("CDROM", "1.44M", ...) or a number of
// bytes; false when it is neither.
bool diskSize(std::string_view value, uint64_t& bytes);

}  // namespace makecab
