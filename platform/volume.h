#pragma once
// A drive's file system: the one interface behind which a host folder, a FAT
// disk image and the in-memory form for tests keep their files.
//
// Paths are program text (ANSI) relative to the volume's root, components
// separated by "\" or "/"; "" or "\" is the root. "." and ".." are applied
// lexically and never leave the root. A component matches an entry without
// regard to letter case, in its long or its 8.3 form; trailing dots and
// blanks are ignored, as Windows ignores them. New names must be valid
// Windows names: no control characters, none of < > : " | ? * / \, at most
// 255 characters, not a device name (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, with or without an extension).
//
// Errors are platform::Error with the numbers the classic runtime gives:
// 53 file not found, 76 path not found (a folder on the way is missing),
// 75 path/file access (a folder where a file is meant or the reverse, a
// read-only file written or deleted, a folder that is not empty, a folder
// that exists already), 58 file already exists (rename onto another entry),
// 61 disk full, 70 permission denied (write-protected drive, or the drive
// held by another program for too long), 71 disk not ready (no disk: the
// image is gone), 64 bad file name, 52 a name longer than 255 characters,
// 57 device I/O error (a damaged image or a host read/write failure; the
// detail names the image and what is wrong). The detail of the other errors
// is the path as the user knows it: the volume's root ("A:") + "\" + path.
//
// Writing. A file is replaced only whole: create() gives a writer whose
// bytes go to new space; commit() puts the new file in place of the old one
// in one step (attributes, dates and the old file's short name and creation
// time included), abort() or destruction leaves the old file as it was.
// commitSet() does the same for several writers of one folder at once: all
// of them replace their files, or none does. writeInPlace() is the classic
// "Open For Output" and "Open For Append": the file, created when missing,
// ends up holding the old bytes (appending) and the new ones.
//
// Several processes. Implementations serialize processes that use the same
// storage, and nothing read in an earlier call is trusted unless it is proven
// current. An open reader or writer keeps its view: a file replaced or
// deleted meanwhile by the same process stays readable through a reader
// opened before.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"

namespace platform {

inline constexpr int kDeviceError = 57;        // "Device I/O error"
inline constexpr int kFileAlreadyExists = 58;  // "File already exists"

// One entry of a folder.
struct FileEntry {
  std::string name;        // long name as stored
  std::string shortName;   // 8.3 form, upper case
  uint8_t attributes = 0;  // Attr bits; kDirectory for a folder
  uint64_t size = 0;       // 0 for a folder
  DateTime modified;       // FAT keeps it to 2 seconds
  DateTime created;
  DateTime accessed;       // the date counts; FAT keeps no time of day
  // Which bytes the entry holds: a file that replaces it gets another id
  // (FAT: the first cluster; 0 for an empty file, which has none).
  uint64_t id = 0;
  bool isFolder() const { return (attributes & kDirectory) != 0; }
};

// The entry of a volume's root: no names, a folder.
inline FileEntry folderEntry() {
  FileEntry e;
  e.attributes = kDirectory;
  return e;
}

// Times to set; absent ones stay as they are.
struct FileTimes {
  std::optional<DateTime> modified, created, accessed;
};

// What a created file gets when it is committed.
struct NewFile {
  uint8_t attributes = kArchive;     // read-only, hidden, system, archive
  std::optional<DateTime> modified;  // default: the time of the commit
  // A read-only file is replaced all the same, in the commit's one step, on
  // a volume whose replacesReadOnly() says so; the others refuse it as any
  // read-only target, and their callers take the flag off first.
  bool replaceReadOnly = false;
};

struct Space {
  uint64_t freeBytes = 0;
  uint64_t totalBytes = 0;
  uint32_t clusterBytes = 0;  // the unit space is given out in
};

// An open file. A reader keeps the file it was opened on, also when the file
// is replaced or deleted meanwhile.
class FileReader {
 public:
  virtual ~FileReader() = default;
  virtual uint64_t size() const = 0;
  // Reads up to n bytes at offset; fewer only at the end of the file.
  virtual size_t readAt(uint64_t offset, void* buf, size_t n) = 0;
};

// A file being written; invisible under its name until committed.
class FileWriter {
 public:
  virtual ~FileWriter() = default;  // aborts unless committed
  virtual void write(std::string_view bytes) = 0;
  virtual uint64_t written() const = 0;
  virtual void commit() = 0;
  virtual void abort() = 0;
  // What the file gets at commit, when it is known only after its bytes.
  virtual void describe(const NewFile& file) = 0;
};

class Volume {
 public:
  virtual ~Volume() = default;

  // What the volume is, for messages: the image file or the folder.
  virtual std::string label() const = 0;

  // The entries of the path's components from the root down, as far as they
  // exist: as many as the path has components when all of them exist.
  virtual std::vector<FileEntry> walk(std::string_view path) = 0;
  // The same for checks that need no 8.3 names or creation times: a volume
  // that would first have to make a short name may leave it (and the
  // creation time) out.
  virtual std::vector<FileEntry> peek(std::string_view path) { return walk(path); }
  // The entry of path, or nullopt when it does not exist (the root is an
  // entry with empty names and kDirectory).
  std::optional<FileEntry> find(std::string_view path);
  // The entries of a folder in the order the folder keeps them, without "."
  // and "..".
  virtual std::vector<FileEntry> list(std::string_view folder) = 0;

  virtual std::unique_ptr<FileReader> open(std::string_view path) = 0;
  std::string readAll(std::string_view path);

  virtual std::unique_ptr<FileWriter> create(std::string_view path, const NewFile& file = {}) = 0;
  // Commits writers of this volume that all go into one folder, as a set.
  virtual void commitSet(const std::vector<FileWriter*>& files) = 0;
  // The same, and the named files (paths of this volume) removed, as one
  // set where the volume can; this one commits first and removes after.
  virtual void commitSetAndRemove(const std::vector<FileWriter*>& files, const std::vector<std::string>& removed);
  // Whether a set may also hold writers of the folder's subfolders.
  virtual bool setsSpanSubfolders() const { return false; }
  // Whether create() honours NewFile::replaceReadOnly.
  virtual bool replacesReadOnly() const { return false; }
  virtual void writeInPlace(std::string_view path, std::string_view bytes, bool append) = 0;

  virtual void makeFolder(std::string_view path) = 0;    // its folder must exist
  virtual void removeFolder(std::string_view path) = 0;  // an empty folder
  virtual void remove(std::string_view path) = 0;        // a file
  // A file or a folder with everything it holds, read-only files too; the
  // root stays, emptied.
  virtual void removeTree(std::string_view path);
  // Renames or moves a file or folder within the volume. An existing target
  // is error 58, unless replace is set and both are files: then the target
  // is replaced in one step, as a committed writer replaces it.
  virtual void rename(std::string_view from, std::string_view to, bool replace = false) = 0;
  virtual void setAttributes(std::string_view path, uint8_t attributes) = 0;
  virtual void setTimes(std::string_view path, const FileTimes& times) = 0;

  virtual Space space() = 0;
  virtual bool writeProtected() = 0;
};

namespace volume {

// The path taken apart as described above; throws Error(kBadFileNameSyntax,
// shown) when a component holds a NUL.
std::vector<std::string> split(std::string_view path, const std::string& shown);
// Text without its trailing dots and blanks.
std::string_view withoutTrailing(std::string_view name);
// Throws Error(kBadFileNameSyntax / kBadFileName, shown) for a name that
// cannot be created; returns the name as it is stored (trailing dots and
// blanks dropped).
std::string checkNewName(std::string_view name, const std::string& shown);
// Whether a component given by the user names an entry.
bool matches(std::string_view component, const FileEntry& e);
// root + "\" + the components: the path as the user knows it.
std::string shown(const std::string& root, std::string_view path);

}  // namespace volume

}  // namespace platform
