#include "platform/dos_pattern.h"

#include <vector>

#include "platform/text.h"

namespace platform {

namespace {

// The pattern read the way Windows reads it before it compares: a * or a
// dot means something else depending on what follows it.
enum class Kind {
  Char,             // this character, any case
  AnyRun,           // *
  AnyRunToLastDot,  // * before a dot: may not swallow the name's last dot, so
                    // that "*." cannot fit "A.TXT" by taking all of it
  OneOrNone,        // ?: one character, none at a dot or at the end
  DotOrEnd,         // a dot before * or ?, or last: the name's dot, or its end
};

struct Token {
  Kind kind;
  char upper;  // of a Char
};

std::vector<Token> translate(std::string_view pattern) {
  std::vector<Token> tokens;
  tokens.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char after = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '*') {
      tokens.push_back({after == '.' ? Kind::AnyRunToLastDot : Kind::AnyRun, 0});
    } else if (c == '?') {
      tokens.push_back({Kind::OneOrNone, 0});
    } else if (c == '.' && (after == '\0' || after == '*' || after == '?')) {
      tokens.push_back({Kind::DotOrEnd, 0});
    } else {
      tokens.push_back({Kind::Char, upperAnsi(c)});
    }
  }
  return tokens;
}

}  // namespace

bool dosPatternMatches(std::string_view pattern, std::string_view name) {
  if (name.empty()) return false;
  const std::vector<Token> tokens = translate(pattern);
  const size_t n = name.size();
  const size_t lastDot = name.rfind('.');
  // fits[i]: tokens t.. fit name[i..]; rest[i]: tokens t+1.. do. Worked from
  // the last token back, so that no pattern of many * takes exponential time.
  std::vector<bool> rest(n + 1, false), fits(n + 1, false);
  rest[n] = true;
  for (size_t t = tokens.size(); t-- > 0;) {
    const Token& k = tokens[t];
    for (size_t i = n + 1; i-- > 0;) {
      const bool end = i == n;
      bool fit = false;
      switch (k.kind) {
        case Kind::Char: fit = !end && upperAnsi(name[i]) == k.upper && rest[i + 1]; break;
        case Kind::AnyRun: fit = rest[i] || (!end && fits[i + 1]); break;
        case Kind::AnyRunToLastDot: fit = rest[i] || (!end && i != lastDot && fits[i + 1]); break;
        case Kind::OneOrNone: fit = (end || name[i] == '.') ? rest[i] : rest[i + 1]; break;
        case Kind::DotOrEnd: fit = end ? rest[i] : (name[i] == '.' && rest[i + 1]); break;
      }
      fits[i] = fit;
    }
    rest.swap(fits);
  }
  return rest[0];
}

bool hasDosWildcards(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

}  // namespace platform
