// The commands COMMAND.COM carries itself: REM, ECHO, CLS, PAUSE, PROMPT,
// PATH, SET, CD, LH and COPY; the control-flow ones are taken to
// control_flow.cpp, the DOS tools to dos_tools.cpp.
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/command/command_line.h"
#include "tools/command/dos_messages.h"
#include "tools/command/interpreter.h"

namespace command {

using platform::equalsNoCase;
using platform::upperAnsi;

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
    call(args, batch);
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
    chdir(args);
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
  return dosTool(name, args);
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

void Interpreter::chdir(std::string_view rest) {
  if (rest.empty()) {
    out_ << cwd_ << "\n";
    return;
  }
  std::string target = abs(trim(rest));
  if (paths_.isFolder(target))
    cwd_ = target;
  else
    out_ << "Invalid directory\n";
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
  // Two spellings (long, short, other case) of one existing file have one
  // long path.
  auto sameFile = [&](const std::string& a, const std::string& b) {
    std::string la = m_.longPath(a);
    return !la.empty() && equalsNoCase(la, m_.longPath(b));
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

}  // namespace command
