#include "spyware/DefinitionCheck.h"

#include <array>
#include <cstdio>

namespace spyware {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kActiveXKeys =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility\\";
constexpr std::string_view kZoneKeys =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";
constexpr std::string_view kKillBit = "Compatibility Flags";
constexpr std::array<std::string_view, 3> kZoneValues = {"*", "http", "https"};
constexpr uint32_t kKillBitFlags = 0x00000400;
constexpr uint32_t kRestrictedZone = 0x00000004;

enum class KeyKind { None, ActiveX, Zone };

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (lowerAscii(s[i]) != lowerAscii(prefix[i])) return false;
  }
  return true;
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (lowerAscii(c) >= 'a' && lowerAscii(c) <= 'f'); }

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
bool isClsid(std::string_view s) {
  if (s.size() != 38 || s.front() != '{' || s.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? s[i] != '-' : !isHex(s[i])) return false;
  }
  return true;
}

// A host name of at least two labels: letters, digits and inner hyphens.
bool isDomain(std::string_view s) {
  if (s.empty() || s.size() > 253) return false;
  size_t labels = 0;
  while (true) {
    const size_t dot = s.find('.');
    const std::string_view label = s.substr(0, dot);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
      const char l = lowerAscii(c);
      if (!((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9') || l == '-')) return false;
    }
    ++labels;
    if (dot == std::string_view::npos) break;
    s.remove_prefix(dot + 1);
  }
  return labels >= 2;
}

KeyKind kindOf(std::string_view key) {
  if (startsWithNoCase(key, kActiveXKeys) && isClsid(key.substr(kActiveXKeys.size()))) return KeyKind::ActiveX;
  if (startsWithNoCase(key, kZoneKeys) && isDomain(key.substr(kZoneKeys.size()))) return KeyKind::Zone;
  return KeyKind::None;
}

bool admits(KeyKind kind, std::string_view value) {
  if (kind == KeyKind::ActiveX) return value == kKillBit;
  if (kind == KeyKind::Zone) {
    for (auto v : kZoneValues) {
      if (value == v) return true;
    }
  }
  return false;
}

std::string dwordData(uint32_t n) {
  std::string d(4, '\0');
  for (int i = 0; i < 4; ++i) d[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return d;
}

// The line as a message can show it: control characters as '?', long lines
// cut.
std::string shown(std::string_view line) {
  constexpr size_t kShown = 80;
  std::string out;
  for (size_t i = 0; i < line.size() && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    out += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  }
  if (line.size() > kShown) out += "...";
  return "\"" + out + "\"";
}

std::string notAllowed(size_t n, std::string_view line) {
  return "line " + std::to_string(n) + " is not allowed: " + shown(line);
}

// One "name"=rest line: the name between the quotes and what follows "=".
bool splitValueLine(std::string_view line, std::string_view* name, std::string_view* rest) {
  if (line.size() < 4 || line.front() != '"') return false;
  const size_t close = line.find('"', 1);
  if (close == std::string_view::npos || close + 1 >= line.size() || line[close + 1] != '=') return false;
  *name = line.substr(1, close - 1);
  *rest = line.substr(close + 2);
  return true;
}

// dword:XXXXXXXX with exactly eight hex digits.
std::optional<uint32_t> dwordOf(std::string_view rest) {
  constexpr std::string_view kDword = "dword:";
  if (rest.substr(0, kDword.size()) != kDword || rest.size() != kDword.size() + 8) return std::nullopt;
  uint32_t n = 0;
  for (char c : rest.substr(kDword.size())) {
    if (!isHex(c)) return std::nullopt;
    const char l = lowerAscii(c);
    n = n * 16 + static_cast<uint32_t>(l <= '9' ? l - '0' : l - 'a' + 10);
  }
  return n;
}

// Splits into lines, each ending in CR LF. Any other line end or control
// character is a fault: the registry editor must see exactly the lines that
// were checked, and a file that was not encoded decodes to bytes without
// them.
std::optional<std::string> splitLines(std::string_view text, bool allowTab,
                                      std::vector<std::string_view>* lines) {
  size_t start = 0;
  size_t n = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      lines->push_back(text.substr(start, i - start));
      start = i + 2;
      ++i;
      ++n;
    } else if (c == '\r' || c == '\n') {
      return "line " + std::to_string(n) + " does not end with CR LF";
    } else if ((c < 0x20 && !(allowTab && c == '\t')) || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", c);
      return "line " + std::to_string(n) + " holds the control character " + hex;
    }
  }
  if (start < text.size()) return "line " + std::to_string(n) + " does not end with CR LF";
  return std::nullopt;
}

CheckedDefinition checkScript(bool block, const std::vector<std::string_view>& lines) {
  CheckedDefinition r;
  if (lines.empty() || lines[0] != kHeader) {
    r.fault = (lines.empty() ? std::string("line 1 is missing") : notAllowed(1, lines[0])) +
              " (a script starts with " + std::string(kHeader) + ")";
    return r;
  }
  KeyKind kind = KeyKind::None;
  std::string key;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const size_t n = i + 1;
    if (line.empty()) continue;
    if (line.front() == '[') {
      const bool removes = line.size() > 2 && line[1] == '-';
      const std::string_view path =
          line.back() == ']' ? line.substr(removes ? 2 : 1, line.size() - (removes ? 3 : 2)) : std::string_view{};
      kind = path.empty() || (removes && block) ? KeyKind::None : kindOf(path);
      if (kind == KeyKind::None) {
        r.fault = notAllowed(n, line);
        return r;
      }
      key = std::string(path);
      if (removes) {
        for (const auto& v : blockingValueNames(key)) r.entries.push_back({key, v});
        kind = KeyKind::None;  // no value lines under a removed key
      }
      continue;
    }
    std::string_view name, rest;
    bool ok = kind != KeyKind::None && splitValueLine(line, &name, &rest) && admits(kind, name);
    if (ok && block) {
      const auto data = dwordOf(rest);
      ok = data && *data == (kind == KeyKind::ActiveX ? kKillBitFlags : kRestrictedZone);
    } else if (ok) {
      ok = rest == "-";
    }
    if (!ok) {
      r.fault = notAllowed(n, line);
      return r;
    }
    r.entries.push_back({key, std::string(name)});
  }
  return r;
}

}  // namespace

std::optional<DefinitionKind> definitionKindOf(std::string_view encodedFileName) {
  std::string name;
  for (char c : encodedFileName) name += lowerAscii(c);
  if (name == "spylist.enc") return DefinitionKind::SpywareList;
  if (name == "antispy.enc") return DefinitionKind::BlockScript;
  if (name == "undospy.enc") return DefinitionKind::UnblockScript;
  return std::nullopt;
}

std::vector<std::string> blockingValueNames(std::string_view key) {
  switch (kindOf(key)) {
    case KeyKind::ActiveX:
      return {std::string(kKillBit)};
    case KeyKind::Zone:
      return {kZoneValues.begin(), kZoneValues.end()};
    case KeyKind::None:
      break;
  }
  return {};
}

std::string blockingData(std::string_view valueName) {
  return dwordData(valueName == kKillBit ? kKillBitFlags : kRestrictedZone);
}

CheckedDefinition checkDefinition(DefinitionKind kind, std::string_view plain) {
  CheckedDefinition r;
  if (plain.empty()) {
    r.fault = "the file is empty";
    return r;
  }
  if (plain.size() > kMaxDefinitionBytes) {
    r.fault = "the file is larger than " + sizeText(kMaxDefinitionBytes);
    return r;
  }
  std::vector<std::string_view> lines;
  if (auto fault = splitLines(plain, kind == DefinitionKind::SpywareList, &lines)) {
    r.fault = std::move(fault);
    return r;
  }
  if (kind == DefinitionKind::SpywareList) return r;
  return checkScript(kind == DefinitionKind::BlockScript, lines);
}

std::string sizeText(uint64_t bytes) {
  constexpr uint64_t kKiB = 1024, kMiB = 1024 * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

}  // namespace spyware
