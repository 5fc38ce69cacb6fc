#pragma once
// modReplaceFiles: short paths, and the [Rename] lines of WinInit.ini that
// Windows carries out at its next start.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"

namespace app {

// GetShortPathName into a buffer of 165 characters: the 8.3 form of an
// existing path, or empty text when the path does not exist or its short
// form does not fit the buffer.
std::string ShortPath(const platform::Machine& m, std::string_view path);

// One replacement: the file target is replaced by source at the next start.
// Both are full Windows paths of existing files, in any form.
struct RenameEntry {
  std::string target;
  std::string source;
};

// A file of an entry is missing (it has no short form); nothing was staged.
class MissingFileError : public std::runtime_error {
 public:
  explicit MissingFileError(std::string path);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// An existing path whose short form does not fit the 164 characters DOS and
// the tools take; the message names the program folder when it is the one
// too deep.
class ShortPathError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The short form of an existing path for a command line or a generated
// file. Throws ShortPathError when it is too long and MissingFileError when
// the path does not exist.
std::string RequireShortPath(const platform::Machine& m, std::string_view programFolder, std::string_view path);

// Windows directory + "\WinInit.ini".
std::string winInitPath(const platform::Machine& m);

// The text of WinInit.ini with the lines added to its [Rename] section: at
// the end of the file's last [Rename] section when it has one, otherwise
// under a new "[Rename]" header at the end (existing == nullptr: there is no
// file yet). Every other byte stays where it was; a line already in a
// [Rename] section is not added again. *headerAdded tells whether the
// header is ours.
std::string addRenameLines(const std::string* existing, const std::vector<std::string>& lines,
                           bool* headerAdded = nullptr);

// The lines of the [Rename] sections of a WinInit.ini text, without blanks
// around them.
std::vector<std::string> renameSectionLines(std::string_view text);

// Adds the lines of all entries, in order, to WinInit.ini in one atomic
// replacement. Every file is checked first: a missing one throws
// MissingFileError, one whose short form is too long ShortPathError, and
// nothing is written. platform::Error reaches the caller when the file
// cannot be read or written. Returns true when the "[Rename]" header it
// wrote is ours.
bool WriteRenameEntries(const platform::Machine& m, std::string_view programFolder,
                        const std::vector<RenameEntry>& entries);

// Takes this program's lines out of a WinInit.ini text: every line of a
// [Rename] section equal (without regard to case) to one of ours. A
// "[Rename]" header goes too when ownHeader is set and nothing is left
// under it. Text that is then empty or blank comes back empty.
std::string removeRenameLines(std::string_view text, const std::vector<std::string>& ours,
                              bool ownHeader);

}  // namespace app
