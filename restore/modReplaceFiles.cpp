#include "restore/modReplaceFiles.h"

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace app {

std::string ShortPath(const platform::Machine& m, std::string_view path) {
  constexpr size_t kBuffer = 165;
  std::string s = m.shortPath(path);
  // Too long for the buffer: GetShortPathName reports the size it would
  // need and writes nothing, so the caller gets nothing.
  if (s.size() >= kBuffer) return {};
  return s;
}

MissingFileError::MissingFileError(std::string path)
    : std::runtime_error("The file " + path + " is missing ."), path_(std::move(path)) {}

std::string RequireShortPath(const platform::Machine& m, std::string_view programFolder, std::string_view path) {
  std::string s = ShortPath(m, path);
  if (!s.empty()) return s;
  if (!platform::pathExists(m, path)) throw MissingFileError(std::string(path));
  const std::string p(programFolder);
  if (!p.empty() && ShortPath(m, p).empty() && platform::pathExists(m, p))
    throw ShortPathError("The path of the program folder is too long : its short form , which DOS and the tools "
                         "need , has more than 164 characters :\r\n" +
                         p + "\r\nPlease ,install Brakvel 9x in a folder with a shorter path .");
  throw ShortPathError("The short form of " + std::string(path) +
                       " has more than 164 characters , more than DOS and the tools take .");
}

std::string winInitPath(const platform::Machine& m) {
  return m.env("WinDir").value_or("") + "\\WinInit.ini";
}

namespace {

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\r\n", "\n", "\r" or nothing
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find_first_of("\r\n", i);
    if (e == std::string_view::npos) {
      lines.push_back({std::string(text.substr(i)), ""});
      break;
    }
    size_t endLen = (text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ? 2 : 1;
    lines.push_back({std::string(text.substr(i, e - i)), std::string(text.substr(e, endLen))});
    i = e + endLen;
  }
  return lines;
}

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

bool isHeader(const std::string& t) { return !t.empty() && t.front() == '['; }
bool isRenameHeader(const std::string& t) {
  if (!isHeader(t)) return false;
  size_t close = t.find(']');
  return platform::equalsNoCase(trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)),
                                "Rename");
}

std::string join(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& l : lines) out += l.text + l.end;
  return out;
}

}  // namespace

std::vector<std::string> renameSectionLines(std::string_view text) {
  std::vector<std::string> out;
  bool inRename = false;
  for (const Line& l : splitLines(text)) {
    std::string t = trim(l.text);
    if (isHeader(t)) {
      inRename = isRenameHeader(t);
    } else if (inRename && !t.empty()) {
      out.push_back(t);
    }
  }
  return out;
}

std::string addRenameLines(const std::string* existing, const std::vector<std::string>& lines, bool* headerAdded) {
  if (headerAdded) *headerAdded = false;
  std::vector<Line> file = existing ? splitLines(*existing) : std::vector<Line>{};
  std::vector<std::string> staged = existing ? renameSectionLines(*existing) : std::vector<std::string>{};
  std::vector<Line> adding;
  for (const std::string& l : lines) {
    bool there = false;
    for (const std::string& s : staged)
      if (platform::equalsNoCase(s, l)) there = true;
    if (there) continue;
    staged.push_back(l);
    adding.push_back({l, "\r\n"});
  }
  // The last [Rename] section, and its last line that is not blank.
  long header = -1;
  for (size_t i = 0; i < file.size(); ++i)
    if (isRenameHeader(trim(file[i].text))) header = static_cast<long>(i);
  size_t at;  // where the new lines go
  if (header >= 0) {
    at = static_cast<size_t>(header) + 1;
    for (size_t i = at; i < file.size() && !isHeader(trim(file[i].text)); ++i)
      if (!trim(file[i].text).empty()) at = i + 1;
  } else {
    if (adding.empty()) return existing ? *existing : std::string();
    adding.insert(adding.begin(), Line{"[Rename]", "\r\n"});
    if (headerAdded) *headerAdded = true;
    at = file.size();
  }
  if (adding.empty()) return join(file);
  // A last line without its end keeps its bytes and gets one.
  if (at > 0 && file[at - 1].end.empty()) file[at - 1].end = "\r\n";
  file.insert(file.begin() + static_cast<long>(at), adding.begin(), adding.end());
  return join(file);
}

bool WriteRenameEntries(const platform::Machine& m, std::string_view programFolder,
                        const std::vector<RenameEntry>& entries) {
  std::vector<std::string> lines;
  for (const RenameEntry& e : entries) {
    if (!platform::fileExists(m, e.target)) throw MissingFileError(e.target);
    if (!platform::fileExists(m, e.source)) throw MissingFileError(e.source);
    lines.push_back(RequireShortPath(m, programFolder, e.target) + "=" +
                    RequireShortPath(m, programFolder, e.source));
  }
  if (lines.empty()) return false;
  const std::string f = winInitPath(m);
  bool created = false;
  std::string text;
  if (platform::fileExists(m, f)) {
    std::string old = platform::readFile(m, f);  // every byte, whatever its size
    text = addRenameLines(&old, lines, &created);
    if (text == old) return false;
  } else {
    text = addRenameLines(nullptr, lines, &created);
  }
  platform::writeFileAtomic(m, f, text);
  return created;
}

std::string removeRenameLines(std::string_view text, const std::vector<std::string>& ours, bool ownHeader) {
  std::vector<Line> kept;
  bool inRename = false;
  for (const Line& l : splitLines(text)) {
    std::string t = trim(l.text);
    if (isHeader(t)) inRename = isRenameHeader(t);
    bool mine = false;
    if (inRename && !isHeader(t))
      for (const std::string& o : ours)
        if (platform::equalsNoCase(t, o)) mine = true;
    if (!mine) kept.push_back(l);
  }
  if (ownHeader) {
    // Ours is the last [Rename] header; it goes when nothing is under it.
    for (size_t i = kept.size(); i-- > 0;) {
      if (!isRenameHeader(trim(kept[i].text))) continue;
      bool empty = true;
      for (size_t j = i + 1; j < kept.size() && !isHeader(trim(kept[j].text)); ++j)
        if (!trim(kept[j].text).empty()) empty = false;
      if (empty) kept.erase(kept.begin() + static_cast<long>(i));
      break;
    }
  }
  std::string out = join(kept);
  return out.find_first_not_of(" \t\r\n") == std::string::npos ? std::string() : out;
}

}  // namespace app
