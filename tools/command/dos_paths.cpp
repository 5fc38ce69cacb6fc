#include "tools/command/dos_paths.h"

#include "platform/dos_pattern.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace command {

using platform::upperAnsi;

namespace {

std::vector<std::string> splitComponents(std::string_view s) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == '\\' || c == '/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

bool hasDrive(std::string_view s) {
  return s.size() >= 2 && s[1] == ':' &&
         ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'));
}

}  // namespace

std::string DosPaths::absolute(std::string_view given, std::string_view cwd) {
  std::string drive;
  std::string rest;
  if (hasDrive(given)) {
    drive = upperAnsi(given.substr(0, 2));
    std::string_view tail = given.substr(2);
    if (!tail.empty() && (tail[0] == '\\' || tail[0] == '/')) {
      rest = std::string(tail);
    } else if (hasDrive(cwd) && upperAnsi(cwd.substr(0, 2)) == drive) {
      rest = std::string(cwd.substr(2)) + "\\" + std::string(tail);
    } else {
      rest = "\\" + std::string(tail);  // other drives start at their root
    }
  } else {
    drive = hasDrive(cwd) ? upperAnsi(cwd.substr(0, 2)) : std::string("C:");
    if (!given.empty() && (given[0] == '\\' || given[0] == '/'))
      rest = std::string(given);
    else
      rest = std::string(hasDrive(cwd) ? cwd.substr(2) : cwd) + "\\" + std::string(given);
  }
  std::vector<std::string> out;
  for (auto& part : splitComponents(rest)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(part);
  }
  std::string abs = drive + "\\";
  for (size_t i = 0; i < out.size(); ++i) {
    if (i) abs += "\\";
    abs += out[i];
  }
  return abs;
}

bool DosPaths::visibleInDos(std::string_view abs) const {
  // Every component given must be the entry's 8.3 name, so the short form
  // of the whole path is the path itself in capitals.
  std::string shortForm = m_.shortPath(abs);
  if (shortForm.empty()) return false;
  std::string want = upperAnsi(abs);
  if (want.size() > 3 && want.back() == '\\') want.pop_back();
  return shortForm == want;
}

bool DosPaths::exists(std::string_view abs) const {
  try {
    if (!platform::pathExists(m_, abs)) return false;
    return mode_ == Mode::Windows || visibleInDos(abs);
  } catch (const platform::Error&) {
    return false;
  }
}

bool DosPaths::isFile(std::string_view abs) const {
  try {
    return exists(abs) && platform::fileExists(m_, abs);
  } catch (const platform::Error&) {
    return false;
  }
}

bool DosPaths::isFolder(std::string_view abs) const {
  try {
    return exists(abs) && platform::folderExists(m_, abs);
  } catch (const platform::Error&) {
    return false;
  }
}

bool DosPaths::creatable(std::string_view abs) const {
  std::string folder = platform::winDirName(abs);
  if (folder.size() == 2) folder += "\\";
  if (!isFolder(folder)) return false;
  if (mode_ == Mode::Dos) return platform::isValid83(upperAnsi(platform::winBaseName(abs)));
  return true;
}

std::vector<Match> DosPaths::match(std::string_view abs, bool folders) const {
  std::vector<Match> result;
  std::string base = platform::winBaseName(abs);
  if (!platform::hasDosWildcards(base)) {
    if (isFile(abs) || (folders && isFolder(abs)))
      result.push_back({std::string(abs), isFolder(abs)});
    return result;
  }
  std::string folder = platform::winDirName(abs);
  if (folder.size() == 2) folder += "\\";
  if (!isFolder(folder)) return result;
  const uint8_t mask = platform::kHidden | platform::kSystem | platform::kReadOnly |
                       platform::kArchive | platform::kDirectory;
  platform::DirEnum dir;
  std::string prefix = folder.back() == '\\' ? folder : folder + "\\";
  for (std::string name = dir.first(m_, prefix, mask); !name.empty(); name = dir.next()) {
    if (name == "." || name == "..") continue;
    std::string full = platform::winJoin(folder, name);
    std::string seen = name;
    if (mode_ == Mode::Dos) seen = platform::winBaseName(m_.shortPath(full));
    bool isDir = false;
    try {
      isDir = platform::folderExists(m_, full);
    } catch (const platform::Error&) {
      continue;
    }
    if (isDir && !folders) continue;
    // From Windows the short name fits as well as the long one (a valid 8.3
    // name is its own short name).
    bool hit = platform::dosPatternMatches(base, seen);
    if (!hit && mode_ == Mode::Windows && !platform::isValid83(name))
      hit = platform::dosPatternMatches(base, platform::winBaseName(m_.shortPath(full)));
    if (hit) result.push_back({platform::winJoin(folder, seen), isDir});
  }
  return result;
}

std::string DosPaths::shown(std::string_view abs) const {
  if (mode_ == Mode::Dos) {
    std::string s = m_.shortPath(abs);
    return s.empty() ? upperAnsi(abs) : s;
  }
  std::string l = m_.longPath(abs);
  return l.empty() ? std::string(abs) : l;
}

}  // namespace command
