#pragma once
// File-name patterns with * and ? as Windows 98 matches them in a Dir, a
// DEL or a COPY, on long names and 8.3 names alike. The one matcher of the
// machine: the file functions and the command interpreter both use it.
#include <string_view>

namespace platform {

// Whether name (one component, ANSI) fits pattern, letter case ignored:
//   *        any run of characters, dots included ("*" and "*.*" fit every name)
//   ?        one character, or none where the name's base or extension ends
//            ("AB?" fits AB and ABC, "AB?.TXT" fits AB.TXT); never a dot
//   X.*      also X without an extension; "X." only X
//   *.       only names without an extension
// Characters after a * count, as in the long-name finds of Windows (real-mode
// DOS ignored them). An entry fits when its long name or its 8.3 name does:
// callers try both. An empty name fits nothing.
bool dosPatternMatches(std::string_view pattern, std::string_view name);

// The text holds * or ?.
bool hasDosWildcards(std::string_view text);

}  // namespace platform
