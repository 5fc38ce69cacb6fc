#include "HelpFile.h"

#include <cctype>
#include <set>

namespace winhelp {

const Page* HelpFile::topic(int context) const {
  for (const auto& t : topics) {
    if (t.context == context) return &t;
  }
  return nullptr;
}

namespace {

std::string_view rstrip(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string_view lstrip(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// "12. text" -> number "12", rest "text".
bool stepLine(std::string_view line, std::string* number, std::string_view* rest) {
  size_t i = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
  if (i == 0 || i > 3 || i + 1 >= line.size() || line[i] != '.' || line[i + 1] != ' ') return false;
  *number = std::string(line.substr(0, i));
  *rest = lstrip(line.substr(i + 2));
  return true;
}

bool parseNumber(std::string_view s, int* out) {
  if (s.empty() || s.size() > 5) return false;
  int v = 0;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return v >= 1 && v <= 32767;
}

}  // namespace

std::vector<Span> spans(std::string_view text) {
  std::vector<Span> out;
  std::string plain;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '{') {
      const size_t bar = text.find('|', i);
      const size_t close = text.find('}', i);
      int n = 0;
      if (bar != std::string_view::npos && close != std::string_view::npos && bar < close &&
          parseNumber(text.substr(i + 1, bar - i - 1), &n)) {
        if (!plain.empty()) out.push_back({std::move(plain), 0});
        plain.clear();
        out.push_back({std::string(text.substr(bar + 1, close - bar - 1)), n});
        i = close + 1;
        continue;
      }
    }
    plain.push_back(text[i++]);
  }
  if (!plain.empty()) out.push_back({std::move(plain), 0});
  return out;
}

HelpFile parseHelp(std::string_view text, const std::string& name) {
  HelpFile help;
  Page* page = nullptr;
  Block* block = nullptr;
  std::set<int> seen;
  bool haveContents = false;
  struct Jump {
    int line;
    int topic;
  };
  std::vector<Jump> jumps;
  auto fail = [&](int line, const std::string& what) -> void {
    throw HelpError(name + ":" + std::to_string(line) + ": " + what);
  };

  int lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view raw = rstrip(text.substr(pos, end - pos));
    const bool last = end >= text.size();
    pos = end + 1;
    if (last && raw.empty()) break;
    ++lineNo;

    if (lineNo == 1) {
      if (raw.substr(0, 6) != "#HELP ") fail(1, "a help file starts with \"#HELP title\"");
      help.title = std::string(lstrip(raw.substr(6)));
      continue;
    }
    if (!raw.empty() && raw.front() == ';') continue;
    if (!raw.empty() && raw.front() == '#') {
      if (raw == "#CONTENTS") {
        if (haveContents) fail(lineNo, "a second #CONTENTS");
        haveContents = true;
        page = &help.contents;
        page->title = "Contents";
      } else if (raw.substr(0, 7) == "#TOPIC ") {
        const std::string_view rest = lstrip(raw.substr(7));
        const size_t blank = rest.find(' ');
        int n = 0;
        if (!parseNumber(rest.substr(0, blank), &n)) {
          fail(lineNo, "#TOPIC needs a context number from 1 to 32767");
        }
        if (!seen.insert(n).second) fail(lineNo, "topic " + std::to_string(n) + " is there twice");
        help.topics.push_back({n, blank == std::string_view::npos ? "" : std::string(lstrip(rest.substr(blank))), {}});
        if (help.topics.back().title.empty()) fail(lineNo, "topic " + std::to_string(n) + " has no title");
        page = &help.topics.back();
      } else {
        fail(lineNo, "unknown directive " + std::string(raw.substr(0, raw.find(' '))));
      }
      block = nullptr;
      continue;
    }
    if (page == nullptr) {
      if (raw.empty()) continue;
      fail(lineNo, "text before #CONTENTS or #TOPIC");
    }
    if (raw.empty()) {
      block = nullptr;
      continue;
    }
    for (const Span& s : spans(raw)) {
      if (s.jump != 0) jumps.push_back({lineNo, s.jump});
    }
    std::string number;
    std::string_view rest;
    if (raw.substr(0, 2) == "  ") {
      page->blocks.push_back({Block::Kind::Verbatim, "", std::string(raw.substr(2))});
      block = nullptr;
    } else if (raw.substr(0, 2) == "- ") {
      page->blocks.push_back({Block::Kind::Bullet, "", std::string(lstrip(raw.substr(2)))});
      block = &page->blocks.back();
    } else if (stepLine(raw, &number, &rest)) {
      page->blocks.push_back({Block::Kind::Step, number, std::string(rest)});
      block = &page->blocks.back();
    } else if (block != nullptr) {
      block->text += ' ';
      block->text += lstrip(raw);
    } else {
      page->blocks.push_back({Block::Kind::Paragraph, "", std::string(lstrip(raw))});
      block = &page->blocks.back();
    }
  }
  if (lineNo == 0) fail(1, "a help file starts with \"#HELP title\"");
  if (!haveContents) fail(lineNo, "no #CONTENTS page");
  for (const Jump& j : jumps) {
    if (help.topic(j.topic) == nullptr) {
      fail(j.line, "jump to topic " + std::to_string(j.topic) + ", which does not exist");
    }
  }
  return help;
}

std::string renderText(const HelpFile& help, const Page& page) {
  std::string out = page.title + "\n\n";
  auto plain = [](const std::string& text) {
    std::string s;
    for (const Span& span : spans(text)) s += span.text;
    return s;
  };
  for (const Block& b : page.blocks) {
    switch (b.kind) {
      case Block::Kind::Paragraph:
        if (out.size() < 2 || out.compare(out.size() - 2, 2, "\n\n") != 0) out += "\n";
        out += plain(b.text) + "\n\n";
        break;
      case Block::Kind::Bullet: out += "- " + plain(b.text) + "\n"; break;
      case Block::Kind::Step: out += b.number + ". " + plain(b.text) + "\n"; break;
      case Block::Kind::Verbatim: out += "  " + b.text + "\n"; break;
    }
  }
  if (&page == &help.contents) {
    out += "Topics:\n";
    for (const Page& t : help.topics) out += "  " + std::to_string(t.context) + "  " + t.title + "\n";
  }
  while (out.size() >= 2 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n') out.pop_back();
  return out;
}

}  // namespace winhelp
