#include "tools/command/interpreter.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/text.h"

extern char** environ;

namespace command {

using platform::equalsNoCase;
using platform::upperAnsi;

namespace {

constexpr const char* kBadCommand = "Bad command or file name";

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

// Reads one word (quotes group) from the front of s and removes it.
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

std::string stemOf(const std::string& token) {
  std::string base = upperAnsi(platform::winBaseName(token));
  auto dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

std::string extOf(const std::string& token) {
  std::string base = upperAnsi(platform::winBaseName(token));
  auto dot = base.rfind('.');
  return dot == std::string::npos ? std::string() : base.substr(dot);
}

bool hasDrive(std::string_view s) {
  return s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]));
}

// The DOS wording of a platform failure.
std::string dosMessage(const platform::Error& e) {
  std::string what;
  switch (e.number()) {
    case platform::kPermissionDenied:
    case platform::kPathFileAccess: what = "Access denied"; break;
    case platform::kFileNotFound: what = "File not found"; break;
    case platform::kPathNotFound: what = "Path not found"; break;
    case platform::kDiskFull: what = "Insufficient disk space"; break;
    case platform::kDiskNotReady: what = "Not ready error reading drive"; break;
    default: what = e.description(); break;
  }
  if (!e.detail().empty()) what += " - " + e.detail();
  return what;
}

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

Interpreter::Interpreter(const platform::Machine& m, std::ostream& out, Options options)
    : m_(m), out_(out), opt_(std::move(options)), paths_(m, opt_.mode) {
  if (opt_.mode == Mode::Windows) {
    for (auto& [name, value] : m_.environment()) env_.emplace_back(upperAnsi(name), value);
    cwd_ = opt_.cwd.empty() ? var("WINDIR").value_or("C:\\WINDOWS") : opt_.cwd;
  } else {
    env_.emplace_back("COMSPEC", "A:\\COMMAND.COM");
    cwd_ = opt_.cwd.empty() ? "A:\\" : opt_.cwd;
  }
  cwd_ = DosPaths::absolute(cwd_, cwd_);
}

std::optional<std::string> Interpreter::var(std::string_view name) const {
  for (auto& [n, v] : env_)
    if (equalsNoCase(n, name)) return v;
  return std::nullopt;
}

void Interpreter::setVar(std::string_view name, std::string_view value) {
  std::string key = upperAnsi(name);
  env_.erase(std::remove_if(env_.begin(), env_.end(),
                            [&](auto& p) { return equalsNoCase(p.first, key); }),
             env_.end());
  if (!value.empty()) env_.emplace_back(key, std::string(value));
  if (std::find(changedVars_.begin(), changedVars_.end(), key) == changedVars_.end())
    changedVars_.push_back(key);
}

std::string Interpreter::prompt() const {
  std::string p = var("PROMPT").value_or("$P$G");
  std::string out;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '$' || i + 1 == p.size()) {
      out += p[i];
      continue;
    }
    switch (platform::upperAnsi(p[++i])) {
      case 'P': out += cwd_; break;
      case 'G': out += '>'; break;
      case 'L': out += '<'; break;
      case 'B': out += '|'; break;
      case 'Q': out += '='; break;
      case 'N': out += cwd_.substr(0, 1); break;
      case '$': out += '$'; break;
      case '_': out += '\n'; break;
      case 'E': out += '\x1b'; break;
      default: break;
    }
  }
  return out;
}

void Interpreter::badCommand() { out_ << kBadCommand << "\n"; }

// ---------------------------------------------------------------------------

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

void Interpreter::execute(std::string_view rawLine, Batch* batch) {
  std::string_view line = trimLeft(rawLine);
  bool quiet = false;
  while (!line.empty() && line.front() == '@') {
    quiet = true;
    line = trimLeft(line.substr(1));
  }
  line = trim(line);
  if (line.empty() || line.front() == ':') return;
  if (echo_ && !quiet && batch) out_ << "\n" << prompt() << line << "\n";
  dispatch(line, batch);
}

void Interpreter::dispatch(std::string_view line, Batch* batch) {
  line = trim(line);
  if (line.empty()) return;
  // The command name ends at a blank or at = , ; (PROMPT=$P$G, PATH=A:\).
  std::string token;
  std::string_view rest;
  if (line.front() == '"') {
    auto close = line.find('"', 1);
    token = std::string(line.substr(1, close == std::string_view::npos ? std::string_view::npos
                                                                        : close - 1));
    rest = close == std::string_view::npos ? std::string_view() : line.substr(close + 1);
  } else {
    size_t end = 0;
    while (end < line.size() && !isDelimiter(line[end]) && line[end] != '/') ++end;
    token = std::string(line.substr(0, end));
    rest = line.substr(end);
  }
  std::string name = upperAnsi(token);

  try {
    // ECHO. and ECHO: print what follows the point as it stands.
    if (name.rfind("ECHO", 0) == 0 && name.size() > 4 &&
        (name[4] == '.' || name[4] == ':' || name[4] == '[' || name[4] == '+')) {
      std::string tail = std::string(line.substr(5));
      out_ << tail << "\n";
      return;
    }
    if (hasDrive(name) && name.size() == 2) {  // "A:" changes the current drive
      char d = name[0];
      if (!m_.hasDrive(d)) {
        out_ << "Invalid drive specification\n";
        return;
      }
      cwd_ = name + "\\";
      return;
    }
    if (builtin(name, rest, batch)) return;
    program(line, token, rest, batch);
  } catch (const platform::Error& e) {
    out_ << dosMessage(e) << "\n";
  } catch (const std::exception& e) {
    out_ << e.what() << "\n";
  }
}

bool Interpreter::builtin(const std::string& name, std::string_view rest, Batch* batch) {
  std::string_view args = skipDelimiters(rest);
  if (name == "REM") return true;
  if (name == "ECHO") {
    echo(rest);
    return true;
  }
  if (name == "CLS") {
    if (opt_.terminal) out_ << "\x1b[H\x1b[2J";
    return true;
  }
  if (name == "GOTO") {
    gotoLabel(args, batch);
    return true;
  }
  if (name == "IF") {
    ifCommand(args, batch);
    return true;
  }
  if (name == "CALL") {
    // A called batch file returns here when it ends.
    std::string_view r = args;
    std::string target = takeWord(r);
    std::optional<std::string> bat;
    if (paths_.mode() == Mode::Dos) {
      if (auto f = findDos(target); f && extOf(*f) == ".BAT") bat = f;
    } else {
      try {
        platform::WindowTable windows;
        platform::Launcher launcher(m_, windows);
        auto res = launcher.resolve(args);
        if (res.batch) bat = res.winPath;
      } catch (const platform::Error&) {
      }
    }
    if (bat)
      runBatch(*bat, splitArgs(r));
    else
      dispatch(args, batch);
    return true;
  }
  if (name == "EXIT") {
    if (batch) batch->done = true;
    return true;
  }
  if (name == "PAUSE") {
    pause();
    return true;
  }
  if (name == "PROMPT") {
    setVar("PROMPT", args);
    return true;
  }
  if (name == "PATH") {
    path(args);
    return true;
  }
  if (name == "SET") {
    set(args);
    return true;
  }
  if (name == "CD" || name == "CHDIR") {
    if (args.empty()) {
      out_ << cwd_ << "\n";
    } else {
      std::string target = abs(trim(args));
      if (paths_.isFolder(target))
        cwd_ = target;
      else
        out_ << "Invalid directory\n";
    }
    return true;
  }
  if (name == "LH" || name == "LOADHIGH") {
    dispatch(args, batch);
    return true;
  }
  if (name == "COPY") {
    copy(args);
    return true;
  }
  // The DOS tools the floppies call; emulated under any path and with their
  // usual extensions.
  std::string stem = stemOf(name);
  std::string ext = extOf(name);
  if (!ext.empty() && ext != ".EXE" && ext != ".COM") return false;
  if (stem == "ATTRIB") {
    attrib(args);
  } else if (stem == "DELTREE") {
    deltree(args);
  } else if (stem == "MSCDEX") {
    mscdex(args);
  } else if (stem == "DOSKEY") {
    if (!doskey_) out_ << "DOSKey installed.\n";
    doskey_ = true;
  } else if (stem == "SMARTDRV") {
    if (!smartdrv_)
      out_ << "Microsoft SMARTDrive Disk Cache version 5.0 installed (no effect on this machine).\n";
    smartdrv_ = true;
  } else {
    return false;
  }
  return true;
}

void Interpreter::echo(std::string_view rest) {
  if (trim(rest).empty()) {
    out_ << "ECHO is " << (echo_ ? "on" : "off") << "\n";
    return;
  }
  std::string_view text = trimLeft(rest.substr(1));
  if (equalsNoCase(trim(text), "ON")) {
    echo_ = true;
  } else if (equalsNoCase(trim(text), "OFF")) {
    echo_ = false;
  } else {
    out_ << text << "\n";
  }
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

void Interpreter::copy(std::string_view rest) {
  std::vector<std::string> args;
  for (auto& a : splitArgs(rest))
    if (a.front() != '/') args.push_back(a);
  if (args.empty()) {
    out_ << "Required parameter missing\n";
    return;
  }
  std::string src = abs(args[0]);
  auto sources = paths_.match(src, false);
  if (sources.empty()) {
    out_ << "File not found - " << args[0] << "\n";
    out_ << "        0 file(s) copied\n";
    return;
  }
  std::string dst = args.size() > 1 ? abs(args[1]) : cwd_;
  bool toFolder = paths_.isFolder(dst) || (args.size() > 1 && args[1].back() == '\\');
  if (toFolder && !paths_.isFolder(dst)) {
    out_ << "Invalid directory\n        0 file(s) copied\n";
    return;
  }
  auto targetOf = [&](const Match& s) {
    return toFolder ? platform::winJoin(dst, platform::winBaseName(paths_.shown(s.path))) : dst;
  };
  auto sameFile = [&](const std::string& a, const std::string& b) {
    // An image drive has no host paths: the same file has the same long path.
    if (m_.driveImage(a[0]) || m_.driveImage(b[0])) {
      std::string la = m_.longPath(a);
      return !la.empty() && platform::equalsNoCase(la, m_.longPath(b));
    }
    std::error_code ec;
    return std::filesystem::equivalent(m_.toHost(a), m_.toHost(b), ec);
  };
  int copied = 0;
  if (!toFolder && sources.size() > 1) {
    // COPY A*.TXT ALL.TXT joins the files, as DOS does.
    if (!paths_.exists(dst) && !paths_.creatable(dst)) {
      out_ << "Path not found - " << args[1] << "\n        0 file(s) copied\n";
      return;
    }
    std::string bytes;
    for (auto& s : sources) {
      out_ << paths_.shown(s.path) << "\n";
      bytes += platform::readFile(m_, s.path);
    }
    platform::writeFileAtomic(m_, dst, bytes, platform::kArchive);
    out_ << "        1 file(s) copied\n";
    return;
  }
  for (auto& s : sources) {
    std::string target = targetOf(s);
    if (paths_.exists(target)) {
      if (sameFile(s.path, target)) {
        out_ << "File cannot be copied onto itself\n";
        continue;
      }
    } else if (!paths_.creatable(target)) {
      out_ << "Path not found - " << target << "\n";
      continue;
    }
    if (sources.size() > 1) out_ << paths_.shown(s.path) << "\n";
    try {
      platform::copyFile(m_, s.path, target);
      // A DOS copy carries only the archive bit.
      platform::setAttributes(m_, target, platform::kArchive);
      ++copied;
    } catch (const platform::Error& e) {
      out_ << dosMessage(e) << "\n";
    }
  }
  out_ << "        " << copied << " file(s) copied\n";
}

void Interpreter::attrib(std::string_view rest) {
  uint8_t setBits = 0, clearBits = 0;
  std::vector<std::string> names;
  for (auto& a : splitArgs(rest)) {
    if ((a[0] == '+' || a[0] == '-') && a.size() >= 2) {
      // "+R" or glued "+R+H"
      bool ok = true;
      for (size_t i = 0; i + 1 < a.size(); i += 2) {
        uint8_t bit = 0;
        switch (platform::upperAnsi(a[i + 1])) {
          case 'R': bit = platform::kReadOnly; break;
          case 'A': bit = platform::kArchive; break;
          case 'H': bit = platform::kHidden; break;
          case 'S': bit = platform::kSystem; break;
          default: ok = false; break;
        }
        if (!ok || (a[i] != '+' && a[i] != '-')) {
          ok = false;
          break;
        }
        (a[i] == '+' ? setBits : clearBits) |= bit;
      }
      if (!ok || a.size() % 2) {
        out_ << "Invalid switch - " << a << "\n";
        return;
      }
    } else if (a[0] == '/') {
      out_ << "Invalid switch - " << a << "\n";
      return;
    } else {
      names.push_back(a);
    }
  }
  if (names.empty()) names.push_back("*.*");
  const bool change = setBits || clearBits;
  const bool touchesHs = (setBits | clearBits) & (platform::kHidden | platform::kSystem);
  for (auto& given : names) {
    std::string full = abs(given);
    auto found = paths_.match(full, !DosPaths::hasWildcards(given));
    if (found.empty()) {
      out_ << "File not found - " << given << "\n";
      continue;
    }
    for (auto& f : found) {
      uint8_t a = platform::getAttributes(m_, f.path);
      std::string shown = paths_.shown(f.path);
      if (!change) {
        std::string line = "  ";
        line += (a & platform::kArchive) ? 'A' : ' ';
        line += "  ";
        line += (a & platform::kSystem) ? 'S' : ' ';
        line += (a & platform::kHidden) ? 'H' : ' ';
        line += (a & platform::kReadOnly) ? 'R' : ' ';
        out_ << line << "     " << shown << "\n";
        continue;
      }
      // DOS leaves hidden and system files alone unless H or S is named.
      if (!touchesHs && (a & platform::kSystem)) {
        out_ << "Not resetting system file - " << shown << "\n";
        continue;
      }
      if (!touchesHs && (a & platform::kHidden)) {
        out_ << "Not resetting hidden file - " << shown << "\n";
        continue;
      }
      uint8_t n = static_cast<uint8_t>(((a | setBits) & ~clearBits) & ~platform::kDirectory);
      platform::setAttributes(m_, f.path, n);
    }
  }
}

void Interpreter::deltree(std::string_view rest) {
  bool yes = false;
  std::vector<std::string> names;
  for (auto& a : splitArgs(rest)) {
    if (equalsNoCase(a, "/Y"))
      yes = true;
    else if (a[0] == '/') {
      out_ << "Invalid switch - " << a << "\n";
      return;
    } else {
      names.push_back(a);
    }
  }
  if (names.empty()) {
    out_ << "Required parameter missing\n";
    return;
  }
  for (auto& given : names) {
    for (auto& f : paths_.match(abs(given), true)) {
      std::string shown = upperAnsi(f.path);
      if (paths_.mode() == Mode::Windows) shown = f.path;
      if (!yes) {
        if (f.folder)
          out_ << "Delete directory \"" << shown << "\" and all its subdirectories? [yn] ";
        else
          out_ << "Delete file \"" << shown << "\"? [yn] ";
        out_.flush();
        std::string answer;
        if (opt_.input) std::getline(*opt_.input, answer);
        out_ << answer << "\n";
        if (answer.empty() || platform::upperAnsi(answer[0]) != 'Y') continue;
      }
      out_ << "Deleting " << shown << "...\n";
      if (f.folder) {
        platform::removeTree(m_, f.path);
      } else {
        platform::setAttributes(m_, f.path, platform::kNormal);
        platform::deleteFile(m_, f.path);
      }
    }
  }
}

void Interpreter::mscdex(std::string_view rest) {
  out_ << "MSCDEX Version 2.25\n"
          "Copyright (C) Microsoft Corp. 1986-1995. All rights reserved.\n";
  std::string driver;
  char letter = 0;
  for (auto& a : splitArgs(rest)) {
    std::string u = upperAnsi(a);
    if (u.rfind("/D:", 0) == 0) driver = u.substr(3);
    if (u.rfind("/L:", 0) == 0 && u.size() > 3) letter = u[3];
  }
  if (cdDrive_) {
    out_ << "CD-ROM Extensions already installed\n";
    return;
  }
  // The machine's one CD-ROM driver is registered as MSCD001 and holds the
  // Windows setup CD.
  if (driver != "MSCD001") {
    if (!driver.empty()) out_ << "Device driver not found: '" << driver << "'.\n";
    out_ << "No valid CDROM device drivers selected\n";
    return;
  }
  if (!letter) {
    auto drives = m_.drives();
    letter = drives.empty() ? 'D' : static_cast<char>(*std::max_element(drives.begin(), drives.end()) + 1);
  }
  if (m_.hasDrive(letter)) {
    out_ << "Drive " << letter << ": is already in use\n";
    return;
  }
  cdDrive_ = letter;
  out_ << "Drive " << letter << ": = Driver MSCD001 unit 0\n";
}

void Interpreter::pause() {
  out_ << "Press any key to continue . . .";
  out_.flush();
  if (opt_.terminal && opt_.input) {
    std::string dummy;
    std::getline(*opt_.input, dummy);
  }
  out_ << "\n";
}

void Interpreter::path(std::string_view rest) {
  std::string_view v = trim(rest);
  if (v.empty()) {
    if (auto p = var("PATH"); p && !p->empty())
      out_ << "PATH=" << *p << "\n";
    else
      out_ << "No Path\n";
    return;
  }
  setVar("PATH", v == ";" ? std::string() : upperAnsi(v));
}

void Interpreter::set(std::string_view rest) {
  std::string_view v = trim(rest);
  if (v.empty()) {
    for (auto& [n, val] : env_) out_ << n << "=" << val << "\n";
    return;
  }
  auto eq = v.find('=');
  if (eq == std::string_view::npos) {
    out_ << "Syntax error\n";
    return;
  }
  setVar(trim(v.substr(0, eq)), v.substr(eq + 1));
}

void Interpreter::setup(std::string_view program) {
  out_ << "Windows Setup starts now from " << upperAnsi(program)
       << " (this machine stops here).\n";
  stop_ = Stop::Setup;
}

// ---------------------------------------------------------------------------

void Interpreter::program(std::string_view line, const std::string& token, std::string_view rest,
                          Batch* batch) {
  std::string drive = hasDrive(token) ? upperAnsi(token.substr(0, 1)) : cwd_.substr(0, 1);
  if (cdDrive_ && drive[0] == cdDrive_) {
    std::string ext = extOf(token);
    if (stemOf(token) == "SETUP" && (ext.empty() || ext == ".EXE")) {
      setup(hasDrive(token) ? token : drive + ":\\" + token);
    } else {
      badCommand();
    }
    return;
  }
  if (hasDrive(token) && !m_.hasDrive(token[0])) {
    out_ << "Invalid drive specification\n";
    return;
  }
  if (paths_.mode() == Mode::Dos)
    programDos(token, rest, batch);
  else
    programWindows(line, batch);
}

std::optional<std::string> Interpreter::findDos(const std::string& token) const {
  std::vector<std::string> places;
  if (token.find_first_of("\\:") != std::string::npos) {
    places.push_back(abs(token));
  } else {
    places.push_back(abs(token));
    std::string p = var("PATH").value_or("");
    size_t start = 0;
    while (start <= p.size()) {
      size_t end = p.find(';', start);
      if (end == std::string::npos) end = p.size();
      std::string dir(trim(std::string_view(p).substr(start, end - start)));
      if (!dir.empty()) places.push_back(DosPaths::absolute(platform::winJoin(dir, token), cwd_));
      start = end + 1;
    }
  }
  const bool hasExt = !extOf(token).empty();
  for (auto& place : places) {
    if (hasExt) {
      if (paths_.isFile(place)) return place;
      continue;
    }
    for (const char* e : {".COM", ".EXE", ".BAT"})
      if (paths_.isFile(place + e)) return place + e;
  }
  return std::nullopt;
}

void Interpreter::programDos(const std::string& token, std::string_view rest, Batch* batch) {
  auto found = findDos(token);
  if (!found) {
    badCommand();
    return;
  }
  std::string ext = extOf(*found);
  if (ext == ".BAT") {
    // Without CALL, DOS hands control to the other batch file for good.
    Batch next;
    next.path = *found;
    next.lines = splitBatchText(platform::readFile(m_, *found));
    next.params.push_back(token);
    for (auto& a : splitArgs(rest)) next.params.push_back(a);
    if (batch) {
      *batch = std::move(next);
    } else {
      runBatchFrom(std::move(next));
    }
    return;
  }
  if (stemOf(*found) == "DOSRESET") {
    out_ << "DOSRESET.COM: the computer restarts.\n";
    stop_ = Stop::Restart;
    return;
  }
  out_ << "This program cannot be run in DOS mode.\n";
}

void Interpreter::programWindows(std::string_view line, Batch* batch) {
  platform::WindowTable windows;
  platform::Launcher launcher(m_, windows);
  platform::Launcher::Resolved r;
  try {
    r = launcher.resolve(line);
  } catch (const platform::Error&) {
    badCommand();
    return;
  }
  if (r.batch) {
    Batch next;
    next.path = r.winPath;
    next.lines = splitBatchText(platform::readFile(m_, r.winPath));
    next.params.push_back(r.baseName);
    for (auto& a : r.args) next.params.push_back(a);
    if (batch)
      *batch = std::move(next);
    else
      runBatchFrom(std::move(next));
    return;
  }
  if (stemOf(r.winPath) == "DOSRESET") {
    out_ << "DOSRESET.COM: the computer restarts.\n";
    stop_ = Stop::Restart;
    return;
  }
  if (::access(r.host.c_str(), X_OK) != 0) {
    out_ << "This program cannot be run on this machine - " << r.winPath << "\n";
    errorLevel_ = 1;
    return;
  }
  errorLevel_ = spawn(r.host.string(), r.args, r.argTail, r.winPath);
}

int Interpreter::spawn(const std::string& host, const std::vector<std::string>& args,
                       const std::string& tail, const std::string& winPath) {
  out_.flush();
  // The host environment with the machine's variables on top, as the
  // launcher starts programs; what SET changed travels as BRAKVEL9X_ENV_*.
  std::vector<std::string> envStore;
  auto overridden = [&](std::string_view entry) {
    std::string_view key = entry.substr(0, entry.find('='));
    if (key == "BRAKVEL9X_MACHINE" || key == "BRAKVEL9X_CMDLINE" || key == "BRAKVEL9X_PROGRAM")
      return true;
    for (auto& v : changedVars_)
      if (key == "BRAKVEL9X_ENV_" + v) return true;
    return false;
  };
  for (char** e = environ; e && *e; ++e)
    if (!overridden(*e)) envStore.emplace_back(*e);
  envStore.push_back("BRAKVEL9X_MACHINE=" + std::filesystem::absolute(m_.root()).string());
  envStore.push_back("BRAKVEL9X_CMDLINE=" + platform::ansiToUtf8(tail));
  envStore.push_back("BRAKVEL9X_PROGRAM=" + platform::ansiToUtf8(winPath));
  for (auto& v : changedVars_)
    envStore.push_back("BRAKVEL9X_ENV_" + v + "=" + platform::ansiToUtf8(var(v).value_or("")));
  std::vector<char*> envp;
  for (auto& s : envStore) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> argStore{host};
  for (auto& a : args) argStore.push_back(platform::ansiToUtf8(a));
  std::vector<char*> argv;
  for (auto& s : argStore) argv.push_back(s.data());
  argv.push_back(nullptr);

  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) {
    out_ << "Cannot start " << host << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, host.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  ::close(pipefd[1]);
  if (rc != 0) {
    ::close(pipefd[0]);
    out_ << "Cannot start " << host << ": " << std::strerror(rc) << "\n";
    return 1;
  }
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(pipefd[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out_.write(buf, n);
    out_.flush();
  }
  ::close(pipefd[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

}  // namespace command
