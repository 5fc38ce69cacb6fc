#pragma once
// The file functions of files.h carried out on a drive's Volume, whatever
// the drive is (a FAT image or a host folder). Shared by files.cpp,
// fileset.cpp and file_streams.cpp; not an interface for the program.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/volume.h"

namespace platform::imagefs {

// A path on an image drive: its volume and the path below the drive's root.
struct Place {
  Volume* volume = nullptr;
  char drive = 0;
  std::string rel;   // components joined by "\"; "" is the root
  size_t parts = 0;  // number of components
  std::string shown; // the path as the caller gave it
  std::string volumeRoot;  // what the volume's messages start with ("C:")
  const std::string& root() const { return volumeRoot; }
};

// The place of a path on the machine. Throws Error(kPathNotFound) for a
// drive the machine does not have, Error(kBadFileNameSyntax) for a path
// without a drive, and as the volume does when the image cannot be used
// (no disk, no FAT).
Place place(const Machine& m, std::string_view winPath);

// An error of the volume that names a place's path names it as the caller
// gave it.
[[noreturn]] void rethrowNamed(const Error& e, const Place& p, const Place* other = nullptr);
template <class F>
decltype(auto) named(const Place& p, F&& f, const Place* other = nullptr) {
  try {
    return f();
  } catch (const Error& e) {
    rethrowNamed(e, p, other);
  }
}

// The entry the path names; throws 53 (the file) or 76 (a folder on the
// way) when it does not exist.
FileEntry existing(const Place& p);
std::optional<FileEntry> find(const Place& p);  // nullopt also when unreadable; throws for no disk

std::string readFile(const Place& p);
void readFileInPieces(const Place& p, size_t piece, const std::function<void(std::string_view)>& take);
void replace(const Place& p, uint8_t attributes, bool replaceReadOnly,
             const std::function<void(const PutBytes& put)>& produce);
void deleteFile(const Place& p);  // a pattern in the last component deletes every match
void renameFile(const Place& from, const Place& to);
void makeFolder(const Place& p);
void removeTree(const Place& p);
std::vector<std::string> dir(const Place& p, uint8_t mask);  // for DirEnum, sorted

}  // namespace platform::imagefs
