#pragma once
// A FAT12/16/32 file system on a device: lookups, reading, writing and every
// change of a directory, made so that a kill at any moment leaves the old
// state or the new one (lost clusters at worst). No locking here: the caller
// holds the image for the whole of a session (see fat_volume.h).
//
// How a change is made: new data goes to free clusters; the FAT (first
// copy, then the others) is written; then the directory slots change, in one
// write when they all lie in one 4 KB page of the image (a write that the
// kernel does whole or not at all), otherwise recorded in the intent log
// first and replayed after a kill; freed chains are written last.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fat/device.h"
#include "platform/fat/dir.h"
#include "platform/fat/layout.h"
#include "platform/fat/table.h"
#include "platform/volume.h"

namespace platform::fat {

// Directory writes that must happen together, kept where a later session
// finds them when this one is killed.
class IntentLog {
 public:
  struct Write {
    uint64_t at;
    Slot bytes;
  };
  virtual ~IntentLog() = default;
  // Before the first write of a session to the image.
  virtual void begin() = 0;
  virtual void record(const std::vector<Write>& writes) = 0;
  virtual void clear() = 0;
};

// Clusters written for a file that is not in any folder yet.
struct NewChain {
  std::vector<uint32_t> clusters;
  uint64_t size = 0;
};

class FileSystem {
 public:
  // root names paths in messages ("A:"); log may be null (no replay).
  FileSystem(Device& d, std::string root, IntentLog* log);
  ~FileSystem();

  // --- sessions ---------------------------------------------------------------
  // Reads and checks the boot sector; forgets every cached block.
  void load();
  // Writes what the session left in the cache (FAT, FSInfo).
  void finish();
  bool wroteThisSession() const { return wrote_; }
  void resetWrote() { wrote_ = false; }
  // After a killed session: log replayed (writes given), clusters no folder
  // holds freed, every FAT copy made equal to the first, FSInfo recounted.
  void repair(const std::vector<IntentLog::Write>& replay);
  const Geometry& geometry() const { return g_; }
  void setReadOnly(bool on) { readOnly_ = on; }
  bool writeProtected() const { return readOnly_ || !d_.writable(); }

  // --- what the volume interface offers ----------------------------------
  std::vector<FileEntry> walk(const std::vector<std::string>& parts);
  std::vector<FileEntry> list(const std::vector<std::string>& parts, const std::string& shown);
  Space space();

  struct OpenFile {
    FileEntry entry;
    uint32_t firstCluster = 0;
    std::vector<uint32_t> clusters;
  };
  OpenFile openFile(const std::vector<std::string>& parts, const std::string& shown);
  // Reads from the clusters of an open file.
  void readClusters(const std::vector<uint32_t>& clusters, uint64_t offset, uint8_t* buf, size_t n);
  // A reader's chain stays allocated until it is unpinned.
  void pin(uint32_t first);
  void unpin(uint32_t first);

  // Checks that a file may be created or replaced at parts (throws as the
  // commit would).
  void checkCreate(const std::vector<std::string>& parts, const std::string& shown);
  // Appends bytes to a new chain; only the last piece of a file may be shorter
  // than a cluster. Throws Error(kDiskFull) (the chain is released then).
  void append(NewChain& c, const uint8_t* bytes, size_t n, const std::string& shown);
  void release(NewChain& c);

  struct Change {
    std::vector<std::string> parts;
    std::string shown;
    NewChain chain;
    uint8_t attributes = kArchive;
    std::optional<DateTime> modified;
  };
  // All changes go into one folder, all or none.
  void commit(std::vector<Change*>& changes);

  void writeInPlace(const std::vector<std::string>& parts, const std::string& shown, std::string_view bytes,
                    bool append);
  void makeFolder(const std::vector<std::string>& parts, const std::string& shown);
  void removeFolder(const std::vector<std::string>& parts, const std::string& shown);
  void remove(const std::vector<std::string>& parts, const std::string& shown);
  void rename(const std::vector<std::string>& from, const std::string& shownFrom,
              const std::vector<std::string>& to, const std::string& shownTo, bool replace);
  void setAttributes(const std::vector<std::string>& parts, const std::string& shown, uint8_t attributes);
  void setTimes(const std::vector<std::string>& parts, const std::string& shown, const FileTimes& times);

 private:
  struct Dir;
  struct Plan;
  struct Found {
    uint32_t dir = 0;  // the folder that holds it
    int index = -1;    // its record there, -1 when missing
  };
  class MarkingDevice;

  void beginWrites();
  uint32_t rootId() const;
  Dir& loadDir(uint32_t id, const std::string& what);
  uint32_t childId(const Record& r, const std::string& shown);
  uint32_t folderOf(const std::vector<std::string>& parts, size_t count, const std::string& shown);
  Found locate(const std::vector<std::string>& parts, const std::string& shown);
  Found existing(const std::vector<std::string>& parts, const std::string& shown);
  void checkWritable(const std::string& shown) const;
  std::vector<uint32_t> fileChain(const Record& r, const std::string& shown);
  uint64_t slotOffset(const Dir& d, size_t index) const;
  bool onePage(const Dir& d, size_t from, size_t count) const;
  // The short name a new entry of d gets; skip is a record that is going away.
  std::string shortNameFor(const Dir& d, const std::string& name, const std::vector<std::string>& more, int skip,
                           const std::string& shown);
  // Puts a new entry (long-name slots, then the short slot) into the plan.
  void newEntry(Plan& p, uint32_t dir, const std::string& name, const std::string& shortName, Slot shortSlot,
                const std::string& shown);
  size_t placeFor(Plan& p, uint32_t dir, size_t n, const std::string& shown);
  void deleteSlots(Plan& p, uint32_t dir, const Record& r);
  void apply(Plan& p);
  void freeChain(uint32_t first, std::vector<uint32_t> clusters);
  Slot dotSlot(const char* name, uint32_t cluster, const DateTime& t) const;
  void commitLocked(std::vector<Change*>& changes);

  Device& outer_;
  std::unique_ptr<MarkingDevice> marking_;
  Device& d_;
  std::string root_;
  IntentLog* log_;
  Geometry g_;
  std::unique_ptr<Table> table_;
  std::map<uint32_t, std::unique_ptr<Dir>> dirs_;
  std::map<uint32_t, int> pins_;
  std::map<uint32_t, std::vector<uint32_t>> deferred_;
  bool wrote_ = false;
  bool readOnly_ = false;
};

}  // namespace platform::fat
