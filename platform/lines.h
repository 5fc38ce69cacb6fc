#pragma once
// Splitting text into lines the way the classic Line Input reads them.
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Lines without their ends (CR LF, CR or LF); a last line without an end
// counts, empty text has no lines.
std::vector<std::string> splitLines(std::string_view text);

}  // namespace platform
