// The DOS programs the rescue and reinstall floppies call (ATTRIB, DELTREE,
// MSCDEX, DOSKEY, SMARTDRV), emulated: called by any path, with or without
// their usual extension.
#include <algorithm>

#include "platform/dos_pattern.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/command/command_line.h"
#include "tools/command/interpreter.h"

namespace command {

using platform::equalsNoCase;
using platform::upperAnsi;

bool Interpreter::dosTool(const std::string& name, std::string_view args) {
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
    auto found = paths_.match(full, !platform::hasDosWildcards(given));
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
  if (platform::driveExists(m_, letter)) {
    out_ << "Drive " << letter << ": is already in use\n";
    return;
  }
  cdDrive_ = letter;
  out_ << "Drive " << letter << ": = Driver MSCD001 unit 0\n";
}

}  // namespace command
