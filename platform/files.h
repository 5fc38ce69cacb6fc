#pragma once
// File operations of the emulated machine, on Windows paths. Every failure
// throws platform::Error with the number the classic runtime would give and
// the Windows path as detail. Floppy drives enforce "no disk", write
// protection and capacity; a read-only file refuses writes and deletion
// (also for root, who would otherwise pass the host's permission check).
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"

namespace platform {

// DOS attribute bits.
enum Attr : uint8_t {
  kNormal = 0x00,
  kReadOnly = 0x01,
  kHidden = 0x02,
  kSystem = 0x04,
  kDirectory = 0x10,
  kArchive = 0x20,
};

// Local date and time as Windows shows it.
struct DateTime {
  int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  static DateTime fromTime(std::time_t t);  // local time
  static DateTime now();
  std::time_t toTime() const;
};

// Why one name (a single component of a path) cannot stand on Windows, as a
// clause ("it holds the character *"), or empty text when it can: the
// characters \ / : * ? " < > | and control characters, a device name (CON,
// PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with or without an extension),
// a last character that is a dot or a blank, more than 255 characters.
std::string fileNameProblem(std::string_view name);
// The device a name opens instead of a file ("CON" for "con.txt"; what comes
// before the first dot counts), or empty text.
std::string deviceNameOf(std::string_view name);

bool fileExists(const Machine& m, std::string_view path);    // a file, not a folder
bool folderExists(const Machine& m, std::string_view path);
bool pathExists(const Machine& m, std::string_view path);

std::string readFile(const Machine& m, std::string_view path);   // raw bytes
// The same in pieces of `piece` bytes (the last one shorter), handed to take
// in order, so a file of any size needs one piece of memory.
void readFileInPieces(const Machine& m, std::string_view path, size_t piece,
                      const std::function<void(std::string_view)>& take);
// Creates or truncates and writes (the classic "Open For Output/Binary").
void writeFile(const Machine& m, std::string_view path, std::string_view bytes);
// Writes to a temporary file in the same folder, flushes, renames over path.
// The replaced file keeps its short name; attributes are those given.
void writeFileAtomic(const Machine& m, std::string_view path, std::string_view bytes,
                     uint8_t attributes = kArchive);
// The same for bytes made while they are written: produce hands its pieces
// to put, so a text of megabytes never needs memory of its size. A
// read-only target is refused, except for the registry's hives, which
// Windows rewrites whatever that flag says (Replace).
using PutBytes = std::function<void(std::string_view)>;
enum class ReadOnlyTarget { Refuse, Replace };
void writeFileAtomicStreamed(const Machine& m, std::string_view path, uint8_t attributes,
                             const std::function<void(const PutBytes& put)>& produce,
                             ReadOnlyTarget readOnly = ReadOnlyTarget::Refuse);
void appendFile(const Machine& m, std::string_view path, std::string_view bytes);
// Copies, replacing the target (FileCopy); the copy gets the source's
// attributes and modification time. Atomic on the target.
void copyFile(const Machine& m, std::string_view from, std::string_view to);
void deleteFile(const Machine& m, std::string_view path);          // Kill
void renameFile(const Machine& m, std::string_view from, std::string_view to);
void makeFolder(const Machine& m, std::string_view path);          // MkDir (parents too)
void removeTree(const Machine& m, std::string_view path);          // DELTREE
DateTime lastModified(const Machine& m, std::string_view path);    // FileDateTime
void setLastModified(const Machine& m, std::string_view path, const DateTime& t);
uint64_t fileSize(const Machine& m, std::string_view path);

uint8_t getAttributes(const Machine& m, std::string_view path);   // GetAttr
void setAttributes(const Machine& m, std::string_view path, uint8_t attrs);  // SetAttr

// Lines of an ANSI text file without their line ends (CR LF, CR or LF);
// a last line without a line end counts, an empty file has no lines.
std::vector<std::string> readLines(const Machine& m, std::string_view path);

// The classic Dir: entries of a folder matching a pattern under an attribute
// mask. The pattern is a path whose last component may hold * and ? (fitting
// an entry's long or 8.3 name as platform/dos_pattern.h has it); a path
// ending in "\" lists every entry of that folder; a plain path matches that
// one entry. Plain, archive and read-only files always match; hidden and
// system files only when the mask has those bits; folders only with
// kDirectory. Names are returned as stored (long form), in case-insensitive
// name order, the same every time. A folder that does not exist yields no
// entries.
class DirEnum {
 public:
  // Returns the first name, or empty text when none matches.
  std::string first(const Machine& m, std::string_view pattern, uint8_t mask = kNormal);
  // The next name of the last first(), or empty text at the end.
  std::string next();

 private:
  std::vector<std::string> names_;
  size_t pos_ = 0;
};

// Removes the temporaries in a folder that runs now gone left behind (every
// write that makes a temporary there does this first).
void removeStaleTemporaries(const Machine& m, std::string_view folder);

// The machine has the drive (any case), whether or not a disk is in it.
bool driveExists(const Machine& m, char drive);

// The floppy in the drive is write-protected.
bool isWriteProtected(const Machine& m, char drive);

// Free bytes on a drive (the floppy's capacity minus what it holds; the
// host file system's free space for other drives).
uint64_t freeSpace(const Machine& m, char drive);

}  // namespace platform
