#include "tools/makecab/directive.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace makecab {

namespace {

bool same(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (blank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool number(std::string_view s, uint64_t& v) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// A value as written, without enclosing double quotes ("" inside one quote).
std::string unquote(std::string_view v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
    std::string out;
    for (size_t i = 1; i + 1 < v.size(); ++i) {
      out += v[i];
      if (v[i] == '"' && i + 2 < v.size() && v[i + 1] == '"') ++i;
    }
    return out;
  }
  return std::string(v);
}

bool onOff(std::string_view v, bool& on) {
  for (auto w : {"on", "yes", "true", "1"})
    if (same(v, w)) return on = true;
  for (auto w : {"off", "no", "false", "0"})
    if (same(v, w)) return !(on = false);
  return false;
}

// makecab puts the disk number where a template has "*"; we make one disk.
std::string firstDisk(std::string v) {
  for (size_t p; (p = v.find('*')) != std::string::npos;) v.replace(p, 1, "1");
  return v;
}

struct Parser {
  const std::string& name;
  int line = 0;
  bool isExplicit = false;
  Directive d;

  [[noreturn]] void fail(const std::string& msg) const {
    throw DirectiveError(name + ":" + std::to_string(line) + ": " + msg);
  }

  void command(std::string_view text) {
    size_t end = 1;
    while (end < text.size() && !blank(text[end])) ++end;
    std::string_view word = text.substr(1, end - 1);
    std::string_view rest = trim(text.substr(end));
    if (same(word, "OPTION")) {
      if (!same(rest, "EXPLICIT")) fail("unknown option \"" + std::string(rest) + "\" (only EXPLICIT is known)");
      isExplicit = true;
    } else if (same(word, "Set")) {
      set(rest);
    } else if (same(word, "Define") || same(word, "New") || same(word, "Dump") || same(word, "Delete") ||
               same(word, "InfBegin") || same(word, "InfEnd") || same(word, "InfWrite") ||
               same(word, "InfWriteDisk") || same(word, "InfWriteCabinet") || same(word, "Dump")) {
      fail("the command ." + std::string(word) + " is not supported");
    } else {
      fail("unknown command \"." + std::string(word) + "\"");
    }
  }

  void set(std::string_view rest) {
    size_t eq = rest.find('=');
    if (eq == std::string_view::npos) fail("expected .Set NAME=VALUE");
    std::string_view var = trim(rest.substr(0, eq));
    std::string value = unquote(trim(rest.substr(eq + 1)));
    if (var.empty()) fail("expected .Set NAME=VALUE");
    for (char c : var)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
        fail("\"" + std::string(var) + "\" is not a variable name");
    bool on = false;
    uint64_t n = 0;
    if (same(var, "Cabinet")) {
      if (!onOff(value, on)) fail("Cabinet must be on or off, not \"" + value + "\"");
      if (!on) fail("Cabinet=off (files without a cabinet) is not supported");
    } else if (same(var, "Compress")) {
      if (!onOff(value, on)) fail("Compress must be on or off, not \"" + value + "\"");
      if (!on) d.compression = cab::Compression::Stored;
      else if (d.compression == cab::Compression::Stored) d.compression = cab::Compression::MSZIP;
    } else if (same(var, "MaxDiskSize")) {
      if (!diskSize(value, d.maxDiskSize)) fail("MaxDiskSize \"" + value + "\" is neither a size nor a known disk");
    } else if (same(var, "ReservePerCabinetSize")) {
      if (!number(value, n) || n > 60000) fail("ReservePerCabinetSize must be a number from 0 to 60000");
      d.reserve = static_cast<uint32_t>(n);
    } else if (same(var, "DiskDirectoryTemplate")) {
      d.diskDirectory = firstDisk(value);
      d.diskDirectoryLine = line;
    } else if (same(var, "CabinetNameTemplate")) {
      d.cabinetName = firstDisk(value);
      d.cabinetNameLine = line;
    } else if (same(var, "CompressionType")) {
      if (same(value, "MSZIP")) {
        d.compression = cab::Compression::MSZIP;
      } else if (same(value, "NONE")) {
        d.compression = cab::Compression::Stored;
      } else if (same(value.substr(0, 3), "LZX") || same(value, "QUANTUM")) {
        fail("CompressionType=" + value + " is not supported (MSZIP and NONE are)");
      } else {
        fail("unknown CompressionType \"" + value + "\" (MSZIP or NONE)");
      }
    } else if (same(var, "CompressionLevel")) {
      if (!number(value, n) || n < 1 || n > 7) fail("CompressionLevel must be a number from 1 to 7");
    } else if (same(var, "CompressionMemory")) {
      if (!number(value, n) || n < 10 || n > 21) fail("CompressionMemory must be a number from 10 to 21");
    } else if (same(var, "InfFileName") || same(var, "RptFileName")) {
      // We write neither file; naming them is harmless.
    } else if (isExplicit) {
      fail("unknown variable \"" + std::string(var) + "\" (.OPTION EXPLICIT is on)");
    }
  }

  // One path or name: quoted (blanks allowed) or up to the next blank.
  std::string token(std::string_view& s) {
    std::string out;
    if (s.front() == '"') {
      size_t i = 1;
      for (;; ++i) {
        if (i >= s.size()) fail("a double quote is not closed");
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            out += '"';
            ++i;
            continue;
          }
          break;
        }
        out += s[i];
      }
      s = trim(s.substr(i + 1));
    } else {
      size_t i = 0;
      while (i < s.size() && !blank(s[i])) ++i;
      out = std::string(s.substr(0, i));
      if (out.find('"') != std::string::npos) fail("a double quote inside a name");
      s = trim(s.substr(i));
    }
    return out;
  }

  void file(std::string_view text) {
    FileLine f;
    f.line = line;
    f.source = token(text);
    if (f.source.empty()) fail("an empty file name");
    if (!text.empty() && text.front() != ';' && text.front() != '/') f.member = token(text);
    if (!text.empty() && text.front() == '/') fail("file options (" + std::string(text) + ") are not supported");
    if (!text.empty() && text.front() != ';') fail("unexpected text after the file name: " + std::string(text));
    if (f.member.empty()) {
      size_t cut = f.source.find_last_of("\\/:");
      f.member = cut == std::string::npos ? f.source : f.source.substr(cut + 1);
      if (f.member.empty()) fail("\"" + f.source + "\" names a folder, not a file");
    }
    checkMember(f.member);
    for (auto& other : d.files)
      if (same(other.member, f.member))
        fail("\"" + f.member + "\" is in the cabinet already (line " + std::to_string(other.line) + ")");
    d.files.push_back(std::move(f));
  }

  void checkMember(const std::string& m) {
    if (m.size() > 255) fail("the name \"" + m.substr(0, 40) + "...\" is longer than 255 characters");
    if (m.front() == '\\' || m.front() == '/' || m.find(':') != std::string::npos)
      fail("the name \"" + m + "\" is not a relative name");
    size_t start = 0;
    while (start <= m.size()) {
      size_t end = m.find_first_of("\\/", start);
      if (end == std::string::npos) end = m.size();
      std::string_view part(m.data() + start, end - start);
      if (part.empty() || part == "." || part == "..")
        fail("the name \"" + m + "\" has an empty, \".\" or \"..\" part");
      start = end + 1;
    }
  }
};

}  // namespace

bool diskSize(std::string_view value, uint64_t& bytes) {
  static const std::pair<const char*, uint64_t> named[] = {
      {"CDROM", 681984000}, {"2.88M", 2915328}, {"1.44M", 1457664}, {"1.25M", 1250304},
      {"1.2M", 1213952},    {"720K", 730112},   {"360K", 362496},   {"DMF168", 1716224}};
  for (auto& [n, b] : named)
    if (same(value, n)) return bytes = b, true;
  return number(value, bytes);
}

Directive parseDirective(std::string_view text, const std::string& name) {
  Parser p{name, 0, false, {}};
  while (!text.empty() || p.line == 0) {
    size_t nl = text.find('\n');
    std::string_view raw = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    ++p.line;
    if (raw.find('\0') != std::string_view::npos) p.fail("a NUL character (is this a directive file?)");
    std::string_view l = trim(raw);
    if (l.empty() || l.front() == ';') {
    } else if (l.front() == '.') {
      p.command(l);
    } else {
      p.file(l);
    }
    if (text.empty()) break;
  }
  if (p.d.files.empty()) throw DirectiveError(name + ": no files to put into the cabinet");
  std::string_view cabName = trim(p.d.cabinetName);
  if (cabName.empty()) {
    p.line = p.d.cabinetNameLine;
    p.fail("the cabinet name is empty");
  }
  if (p.d.cabinetName.find_first_of("\\/:") != std::string::npos) {
    p.line = p.d.cabinetNameLine;
    p.fail("the cabinet name \"" + p.d.cabinetName + "\" has a folder part (use DiskDirectoryTemplate)");
  }
  return p.d;
}

}  // namespace makecab
