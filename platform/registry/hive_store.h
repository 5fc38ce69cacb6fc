#pragma once
// The machine's hive files: where each lives, which hive a registry path
// belongs to, loading with a cache, locking between processes, atomic
// replacement. Shared by the registry functions and the registry editor.
// A hive file is a CREG file; one still in the REGEDIT4 text of machines
// made before is read as well, and written back as CREG at its next change.
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/key_tree.h"
#include "platform/machine.h"

namespace platform::hive {

enum HiveId : int { kSystemHive = 0, kUserHive = 1, kClassesHive = 2 };
inline constexpr int kHiveCount = 3;
// File names in the Windows directory and the top key each file holds.
inline constexpr std::array<std::string_view, kHiveCount> kHiveFileName = {"System.dat", "User.dat",
                                                                          "Classes.dat"};
inline constexpr std::array<std::string_view, kHiveCount> kHiveTop = {
    "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CLASSES_ROOT"};

// The four roots a path may start with.
enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users };
std::optional<Root> rootByName(std::string_view name);  // "HKEY_CURRENT_USER", any case
std::string_view rootName(Root r);

// A damaged or unreadable hive file: "C:\WINDOWS\System.dat: offset 64
// (0x40): what" (a text hive: "C:\WINDOWS\System.dat:12: what").
class HiveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The hive a hive file's bytes hold, CREG or text; label names the file
// in the error. Throws HiveError.
Hive parseHiveFile(std::string bytes, HiveId id, const std::string& label);

// Components of a key path ("a\b\\c\" -> a, b, c).
std::vector<std::string_view> splitPath(std::string_view path);
void splitPath(std::string_view path, std::vector<std::string_view>& out);

// A key path resolved to its hive: the components below the hive's top key.
struct Place {
  HiveId hive;
  std::vector<std::string_view> path;  // views into the caller's components or constants
};

class HiveStore {
 public:
  explicit HiveStore(const Machine& m);
  ~HiveStore();
  HiveStore(const HiveStore&) = delete;
  HiveStore& operator=(const HiveStore&) = delete;

  const Machine& machine() const { return m_; }
  // The Windows path of a hive file ("C:\WINDOWS\System.dat").
  std::string winPath(HiveId id) const;
  // The machine keeps HKEY_CLASSES_ROOT in Classes.dat (looked at each time).
  bool hasClassesDat();
  // Where root\path lives, given whether Classes.dat exists.
  static Place place(Root root, const std::vector<std::string_view>& path, bool classesDat);
  static void place(Root root, const std::vector<std::string_view>& path, bool classesDat, Place& out);

  // The hive for reading: the cached one while its file is unchanged,
  // otherwise loaded under a shared lock. A missing file is an empty hive.
  // Throws HiveError.
  Hive& read(HiveId id);

  // Holds the write locks of every hive; while it lives, edit() gives the
  // current hive for changing and commit() replaces each changed file.
  class Writer {
   public:
    explicit Writer(HiveStore& s);
    ~Writer();  // unlocks; uncommitted changes are dropped from the cache
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    Hive& edit(HiveId id);  // throws HiveError
    // Writes a hive that is still text as CREG, unchanged otherwise;
    // false when it is not text (or missing).
    bool convert(HiveId id);
    void commit();  // throws platform::Error when a file cannot be written

   private:
    HiveStore& s_;
    std::array<bool, kHiveCount> changed_{};
    bool committed_ = false;
  };

 private:
  struct Stamp {
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtimeNs = 0, ctimeNs = 0;
    bool exists = false;
    bool operator==(const Stamp&) const = default;
  };
  struct Slot {
    std::optional<Hive> hive;
    Stamp stamp;
    bool valid = false;
    bool text = false;  // read from a text hive
    std::string host;  // host path, resolved once it exists
    int lockFd = -1;
    // A hive on a drive that is a disk image: the stamp is the image
    // file's, which any write to the drive changes, and whether the hive
    // exists (last looked at for `looked`). The bytes' hash tells a hive
    // rewritten from one that only shares its drive with a changed file.
    std::optional<Stamp> looked;
    std::optional<uint64_t> bytesHash;  // of the file the cached hive was parsed from
  };
  Stamp stampOf(HiveId id);
  Stamp imageStampOf(HiveId id, const fs::path& image);
  void load(HiveId id, const Stamp& st);
  void lock(HiveId id, int op);
  void unlock(HiveId id);

  const Machine& m_;
  std::string winDir_;
  std::array<Slot, kHiveCount> slots_;
};

}  // namespace platform::hive
