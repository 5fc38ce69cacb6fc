#pragma once
// The host side of the machine's files: host stat, DOS attributes kept beside
// a file, floppy checks, temporaries. Shared by files.cpp and fileset.cpp;
// not an interface for the program.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"
#include "platform/temporaries.h"
#include "platform/winpath.h"

namespace platform::hostfs {

namespace fs = std::filesystem;

inline constexpr int kFileExists = 58;
inline constexpr int kRenameAcrossDrives = 74;

std::string str(std::string_view s);

// The error the classic runtime gives for a failed host call.
[[noreturn]] void failErrno(int err, std::string_view winPath);

struct HostStat {
  bool exists = false;
  bool dir = false;
  bool link = false;
  struct stat st {};
};
HostStat statOf(const fs::path& p);

bool isWildcard(std::string_view name);
// Names Windows refuses to create.
void checkNewName(const std::string& hostName, std::string_view winPath);
// The path must name something that exists.
winpath::Walk existing(const Machine& m, std::string_view path);
// The path's folder must exist; the last component may be new.
winpath::Walk inExistingFolder(const Machine& m, std::string_view path);

// --- floppy drives
bool writeProtected(const Machine& m, char drive);
void checkWritable(const Machine& m, char drive, std::string_view path);
uint64_t capacity(const Machine& m);
// What the files under folder take; temporaries are left out.
uint64_t usedBytes(const fs::path& folder);
// Refuses a write that would not fit on the floppy before anything is written.
void checkSpace(const Machine& m, const winpath::Walk& w, uint64_t adding, uint64_t freeing,
                std::string_view path);

// --- attributes
bool readOnlyMode(const HostStat& h);
void refuseReadOnly(const HostStat& h, std::string_view path);
uint8_t attrsOf(const fs::path& p, const HostStat& h);
void applyAttrs(const fs::path& p, const HostStat& h, uint8_t attrs);
// Sets an extended attribute of the user where the host keeps them; a
// read-only file, which takes none from its owner, is opened up for the moment.
void setUserXattr(const fs::path& p, const char* name, std::string_view value);
// A written file gets the archive bit, keeping its others.
void markArchive(const fs::path& p);

// --- reading
// A file of the machine opened for reading, its status in st; throws as
// readFile does (a folder is error 75).
int openForReading(const Machine& m, std::string_view path, struct stat& st);

// --- writing
// Throws on failure; the descriptor stays its owner's to close.
void writeAll(int fd, std::string_view bytes, std::string_view path);
void syncFolder(const fs::path& dir);
// The bytes of in copied to out, which gets the source's mode (writable)
// and times; made durable. Throws naming from or to.
void copyContents(int in, int out, const struct stat& source, std::string_view from, std::string_view to);
// Puts a finished temporary file in place of target, which keeps its short
// name when it existed.
void replaceWith(const fs::path& tmp, const fs::path& target, std::string_view path);
// Before a temporary takes target's place: it carries target's short name.
void keepShortName(const fs::path& tmp, const fs::path& target);

struct TempFile {
  fs::path path;
  int fd = -1;
  bool keep = false;
  std::optional<temporaries::OnSignal> onSignal;
  ~TempFile();
};
// A new temporary in dir, after removing the stale ones there.
void openTemp(TempFile& t, const fs::path& dir, mode_t mode, std::string_view path);
void finishTemp(TempFile& t, std::string_view path);

// --- listing
bool maskAdmits(uint8_t attrs, uint8_t mask);
// Entries whose long or 8.3 name fits the pattern (platform/dos_pattern.h).
std::vector<std::string> listMatching(const fs::path& folder, std::string_view pattern, uint8_t mask);
void sortNames(std::vector<std::string>& names);
void makeTreeWritable(const fs::path& p);

}  // namespace platform::hostfs
