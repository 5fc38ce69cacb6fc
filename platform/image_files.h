#pragma once
// The file functions of files.h on a drive that is a disk image, carried out
// on the drive's Volume. Shared by files.cpp and fileset.cpp; not an
// interface for the program.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
};

// The place of a path on an image drive, nullopt for a folder drive. Throws
// as the volume does when the image cannot be used (no disk, no FAT).
std::optional<Place> place(const Machine& m, std::string_view winPath);

// The entry the path names; throws 53 (the file) or 76 (a folder on the
// way) when it does not exist.
FileEntry existing(const Place& p);
std::optional<FileEntry> find(const Place& p);  // nullopt also when unreadable

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
