// The interpreter's state and environment, and a line taken to its
// command. Batch files and control flow, the internal commands, the
// emulated DOS tools and the starting of programs have files of their own.
#include "tools/command/interpreter.h"

#include <algorithm>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/command/command_line.h"
#include "tools/command/dos_messages.h"

namespace command {

using platform::equalsNoCase;
using platform::upperAnsi;

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
      if (!platform::driveExists(m_, name[0])) {
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

}  // namespace command
