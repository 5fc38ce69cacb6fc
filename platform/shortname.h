#pragma once
// 8.3 short names as VFAT makes them, and their storage beside the file so
// that a name never changes while its file exists. Used by machine.cpp and
// files.cpp; not an interface for the program.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::shortname {

namespace fs = std::filesystem;

// Extended attribute holding "<SHORT>\n<long host name it was made for>".
inline constexpr const char* kXattr = "user.brakvel.short";

// Holds flock() on a folder while its short names are assigned, so that
// processes working on the same machine agree.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& dir);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

// The short form (upper case, ANSI) of the existing entry hostName of dir.
std::string of(const fs::path& dir, const std::string& hostName);

// The host name of the entry of dir whose short form is shortAnsi, if any.
std::optional<std::string> find(const fs::path& dir, std::string_view shortAnsi);

// The host name of the entry of dir that a component a user gave names: the
// name itself, the same without letter case or trailing dots and blanks, or
// an 8.3 name given to it. Temporaries are never named.
std::optional<std::string> entryNamed(const fs::path& dir, const std::string& ansi);

// The short name stored with file when it is still valid for its name.
std::optional<std::string> stored(const fs::path& file);

// Makes file carry shortName as made for the long name longHostName (used
// when a file replaces another and must keep the old one's short name).
void store(const fs::path& file, const std::string& shortName, const std::string& longHostName);

// "PROGRA" and "TXT" of "Program Files.txt": the basis before the ~N tail.
struct Basis {
  std::string base;  // at most 6 characters
  std::string ext;   // at most 3 characters
};
Basis basis(std::string_view longAnsi);
// The basis with the tail ~n, the base cut so that the whole fits 8 characters.
std::string tailed(const Basis& b, unsigned n);

// The short name VFAT gives longAnsi in a folder where taken() says which
// short names are in use: the name itself (upper case) when it is a valid
// 8.3 name, else the basis with the first free tail ~1, ~2, ... When
// `holds` is given, a character it refuses (one the drive's code page
// lacks) becomes '_' and forces a tail. Empty text when every tail is taken.
std::string make(std::string_view longAnsi, const std::function<bool(const std::string&)>& taken,
                 const std::function<bool(char)>& holds = {});

}  // namespace platform::shortname
