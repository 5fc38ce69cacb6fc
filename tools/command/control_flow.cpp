// Batch files: reading them, %-expansion, and the commands that steer them
// (GOTO, IF, CALL, and handing over to another batch file).
#include <algorithm>
#include <cstdlib>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/text.h"
#include "tools/command/command_line.h"
#include "tools/command/dos_messages.h"
#include "tools/command/interpreter.h"

namespace command {

using platform::equalsNoCase;

namespace {

// The label a line defines, or empty. DOS compares the first 8 characters.
std::string labelKey(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (isDelimiter(c) || c == '+' || c == ':') break;
    key += platform::upperAnsi(c);
  }
  if (key.size() > 8) key.resize(8);
  return key;
}

std::vector<std::string> splitBatchText(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  bool any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\x1a') break;  // Ctrl-Z ends a DOS text file
    any = true;
    if (c == '\r' || c == '\n') {
      lines.push_back(cur);
      cur.clear();
      any = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (any) lines.push_back(cur);
  return lines;
}

}  // namespace

Outcome Interpreter::runBatch(std::string_view path, const std::vector<std::string>& params) {
  std::string full = abs(path);
  if (!paths_.isFile(full)) {
    badCommand();
    return {Stop::Finished, errorLevel_};
  }
  Batch b;
  b.path = full;
  try {
    b.lines = splitBatchText(platform::readFile(m_, full));
  } catch (const platform::Error& e) {
    out_ << dosMessage(e) << "\n";
    return {Stop::Finished, errorLevel_};
  }
  b.params.push_back(std::string(path));
  for (auto& p : params) b.params.push_back(p);
  return runBatchFrom(std::move(b));
}

Outcome Interpreter::runBatchFrom(Batch batch) {
  while (!batch.done && batch.next < batch.lines.size() && stop_ == Stop::Finished) {
    const std::string& raw = batch.lines[batch.next++];
    execute(expand(raw, &batch), &batch);
  }
  out_.flush();
  return {stop_, errorLevel_};
}

Outcome Interpreter::runLine(std::string_view line) {
  execute(expand(line, nullptr), nullptr);
  out_.flush();
  return {stop_, errorLevel_};
}

void Interpreter::chainTo(const std::string& path, std::vector<std::string> params, Batch* batch) {
  Batch next;
  next.path = path;
  next.lines = splitBatchText(platform::readFile(m_, path));
  next.params = std::move(params);
  if (batch)
    *batch = std::move(next);
  else
    runBatchFrom(std::move(next));
}

std::string Interpreter::expand(std::string_view line, const Batch* batch) const {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < line.size() && line[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    if (batch && i + 1 < line.size() && line[i + 1] >= '0' && line[i + 1] <= '9') {
      size_t n = static_cast<size_t>(line[i + 1] - '0');
      if (n < batch->params.size()) out += batch->params[n];
      ++i;
      continue;
    }
    auto close = line.find('%', i + 1);
    if (close == std::string_view::npos) {
      if (!batch) out += c;  // a lone % stays on a command line, a batch drops it
      continue;
    }
    std::string_view name = line.substr(i + 1, close - i - 1);
    if (auto v = var(name)) out += *v;
    i = close;
  }
  return out;
}

void Interpreter::gotoLabel(std::string_view rest, Batch* batch) {
  if (!batch) return;
  std::string_view r = trimLeft(rest);
  while (!r.empty() && r.front() == ':') r.remove_prefix(1);
  std::string want = labelKey(r);
  for (size_t i = 0; i < batch->lines.size(); ++i) {
    std::string_view l = trimLeft(batch->lines[i]);
    if (l.empty() || l.front() != ':') continue;
    if (labelKey(l.substr(1)) == want && !want.empty()) {
      batch->next = i + 1;
      return;
    }
  }
  out_ << "Label not found\n";
  batch->done = true;
}

void Interpreter::ifCommand(std::string_view rest, Batch* batch) {
  std::string_view r = trimLeft(rest);
  bool negate = false;
  {
    std::string_view after = r;
    if (equalsNoCase(takeWord(after), "NOT")) {
      negate = true;
      r = trimLeft(after);
    }
  }
  std::string_view afterWord = r;
  std::string word = takeWord(afterWord);
  bool cond = false;
  if (equalsNoCase(word, "EXIST")) {
    r = afterWord;
    std::string target = takeWord(r);
    std::string full = abs(target);
    if (equalsNoCase(platform::winBaseName(full), "NUL")) {
      // "IF EXIST DIR\NUL": the classic test for a folder
      std::string folder = platform::winDirName(full);
      if (folder.size() == 2) folder += "\\";
      cond = paths_.isFolder(folder);
    } else {
      cond = !paths_.match(full, false).empty();
    }
  } else if (equalsNoCase(word, "ERRORLEVEL")) {
    r = afterWord;
    std::string n = takeWord(r);
    cond = errorLevel_ >= std::atoi(n.c_str());
  } else {
    // string1==string2
    auto eq = r.find("==");
    if (eq == std::string_view::npos) {
      out_ << "Syntax error\n";
      return;
    }
    std::string_view left = trim(r.substr(0, eq));
    std::string_view after = trimLeft(r.substr(eq + 2));
    std::string right = takeWord(after);
    std::string l(left);
    l.erase(std::remove(l.begin(), l.end(), '"'), l.end());
    cond = l == right;
    r = after;
  }
  if (cond != negate) dispatch(r, batch);
}

void Interpreter::call(std::string_view rest, Batch* batch) {
  // A called batch file returns here when it ends.
  std::string_view r = rest;
  std::string target = takeWord(r);
  std::optional<std::string> bat;
  if (paths_.mode() == Mode::Dos) {
    if (auto f = findDos(target); f && extOf(*f) == ".BAT") bat = f;
  } else {
    try {
      platform::WindowTable windows;
      platform::Launcher launcher(m_, windows);
      auto res = launcher.resolve(rest);
      if (res.batch) bat = res.winPath;
    } catch (const platform::Error&) {
    }
  }
  if (bat)
    runBatch(*bat, splitArgs(r));
  else
    dispatch(rest, batch);
}

}  // namespace command
