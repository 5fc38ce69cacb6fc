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

std::string winInitPath(const platform::Machine& m) {
  return m.env("WinDir").value_or("") + "\\WinInit.ini";
}

std::string appendRenameLine(const std::string* existing, std::string_view line) {
  if (!existing) return std::string("[Rename]\r\n") + std::string(line) + "\r\n";
  std::string text = *existing;
  bool endsWithCrLf = text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
  if (!endsWithCrLf) text += "\r\n";
  text += line;
  text += "\r\n";
  return text;
}

bool WriteRenameEntries(const platform::Machine& m, const std::vector<RenameEntry>& entries) {
  std::vector<std::string> lines;
  for (const RenameEntry& e : entries) {
    std::string t = platform::fileExists(m, e.target) ? ShortPath(m, e.target) : std::string();
    if (t.empty()) throw MissingFileError(e.target);
    std::string s = platform::fileExists(m, e.source) ? ShortPath(m, e.source) : std::string();
    if (s.empty()) throw MissingFileError(e.source);
    lines.push_back(t + "=" + s);
  }
  if (lines.empty()) return false;
  const std::string f = winInitPath(m);
  bool created = !platform::fileExists(m, f);
  std::string text;
  if (!created) text = platform::readFile(m, f);  // every byte, whatever its size
  for (size_t i = 0; i < lines.size(); ++i)
    text = appendRenameLine(created && i == 0 ? nullptr : &text, lines[i]);
  platform::writeFileAtomic(m, f, text);
  return created;
}

bool WriteRenameEntry(const platform::Machine& m, std::string_view target, std::string_view source) {
  return WriteRenameEntries(m, {RenameEntry{std::string(target), std::string(source)}});
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

}  // namespace

std::string removeRenameLines(std::string_view text, const std::vector<std::string>& ours,
                              bool ownHeader) {
  std::vector<Line> lines = splitLines(text);
  std::vector<Line> kept;
  for (const Line& l : lines) {
    bool mine = false;
    for (const std::string& o : ours)
      if (platform::equalsNoCase(trim(l.text), o)) mine = true;
    if (!mine) kept.push_back(l);
  }
  if (ownHeader && !kept.empty() && platform::equalsNoCase(trim(kept.front().text), "[Rename]")) {
    bool emptySection = true;
    for (size_t i = 1; i < kept.size(); ++i) {
      std::string t = trim(kept[i].text);
      if (!t.empty() && t.front() == '[') break;
      if (!t.empty()) emptySection = false;
    }
    if (emptySection) kept.erase(kept.begin());
  }
  std::string out;
  bool blank = true;
  for (const Line& l : kept) {
    out += l.text + l.end;
    if (!trim(l.text).empty()) blank = false;
  }
  return blank ? std::string() : out;
}

}  // namespace app
