#include "tools/command/command_line.h"

#include <cctype>

#include "platform/machine.h"
#include "platform/text.h"

namespace command {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isDelimiter(char c) { return isBlank(c) || c == '=' || c == ',' || c == ';'; }

std::string_view trimLeft(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view trim(std::string_view s) {
  s = trimLeft(s);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

std::string_view skipDelimiters(std::string_view s) {
  while (!s.empty() && isDelimiter(s.front())) s.remove_prefix(1);
  return s;
}

std::string takeWord(std::string_view& s) {
  s = trimLeft(s);
  std::string word;
  bool quoted = false;
  while (!s.empty()) {
    char c = s.front();
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && isBlank(c)) {
      break;
    } else {
      word += c;
    }
    s.remove_prefix(1);
  }
  return word;
}

std::vector<std::string> splitArgs(std::string_view s) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, has = false;
  for (char c : s) {
    if (c == '"') {
      quoted = !quoted;
      has = true;
    } else if (!quoted && isDelimiter(c)) {
      if (has) out.push_back(cur);
      cur.clear();
      has = false;
    } else {
      cur += c;
      has = true;
    }
  }
  if (has) out.push_back(cur);
  return out;
}

std::string stemOf(const std::string& token) {
  std::string base = platform::upperAnsi(platform::winBaseName(token));
  auto dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

std::string extOf(const std::string& token) {
  std::string base = platform::upperAnsi(platform::winBaseName(token));
  auto dot = base.rfind('.');
  return dot == std::string::npos ? std::string() : base.substr(dot);
}

bool hasDrive(std::string_view s) {
  return s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]));
}

}  // namespace command
