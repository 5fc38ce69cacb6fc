#include "platform/fat/filesystem.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/shortname.h"
#include "platform/text.h"

namespace platform::fat {

namespace {
constexpr uint64_t kPage = 4096;
constexpr size_t kMaxSlots = 65536;  // a folder holds at most this many entries
}  // namespace

// The first write of a session goes to the intent log's begin() first.
class FileSystem::MarkingDevice : public Device {
 public:
  MarkingDevice(Device& inner, FileSystem& fs) : inner_(inner), fs_(fs) {}
  uint64_t size() const override { return inner_.size(); }
  void read(uint64_t at, void* buf, size_t n) override { inner_.read(at, buf, n); }
  void write(uint64_t at, const void* buf, size_t n) override {
    fs_.beginWrites();
    inner_.write(at, buf, n);
  }
  void sync() override { inner_.sync(); }
  bool writable() const override { return inner_.writable(); }
  const std::string& label() const override { return inner_.label(); }

 private:
  Device& inner_;
  FileSystem& fs_;
};

struct FileSystem::Dir {
  uint32_t id = 0;  // first cluster; 0 for the fixed root of FAT12/16
  std::string path;
  std::vector<uint32_t> clusters;
  std::vector<uint8_t> bytes;
  std::vector<Record> records;
  size_t end = 0;
  size_t slots() const { return bytes.size() / 32; }
  void reparse() { records = parseSlots(bytes.data(), slots(), &end); }
  int find(std::string_view component) const {
    for (size_t i = 0; i < records.size(); ++i) {
      if (volume::matches(component, records[i].entry)) return static_cast<int>(i);
    }
    return -1;
  }
};

// Changes to directories worked out on copies before anything is written,
// so that a refusal halfway leaves nothing behind.
struct FileSystem::Plan {
  // Written in this order when a change spans pages, so that a stop after
  // any one of them leaves a directory fsck.fat finds whole: an entry is
  // taken apart from its long name on, and put together from its short
  // slot on (the short slot alone is an 8.3 file; long-name parts without
  // their short slot would be orphans).
  enum Kind { kDropLongName, kDropShort, kParentLink, kRewrite, kEndMarker, kNewShort, kNewLongName };
  struct Write {
    uint32_t dir;
    size_t index;
    Slot bytes;
    Kind kind;
  };
  struct Extension {
    uint32_t dir;
    uint32_t lastBefore;
    std::vector<uint32_t> added;
  };
  FileSystem& fs;
  std::map<uint32_t, Dir> copies;
  std::vector<Write> writes;
  std::vector<Extension> extensions;
  std::vector<uint32_t> allocated;  // other clusters taken for the change
  bool done = false;

  explicit Plan(FileSystem& f) : fs(f) {}
  ~Plan() {
    if (!done) rollback();
  }
  Dir& dir(uint32_t id) {
    auto it = copies.find(id);
    if (it == copies.end()) it = copies.emplace(id, fs.loadDir(id, "")).first;
    return it->second;
  }
  void put(uint32_t id, size_t index, const Slot& s, Kind kind) {
    Dir& d = dir(id);
    std::copy(s.begin(), s.end(), d.bytes.begin() + static_cast<std::ptrdiff_t>(index * 32));
    d.reparse();
    writes.push_back({id, index, s, kind});
  }
  Slot slot(uint32_t id, size_t index) {
    Dir& d = dir(id);
    Slot s;
    std::copy_n(d.bytes.begin() + static_cast<std::ptrdiff_t>(index * 32), 32, s.begin());
    return s;
  }
  void rollback() {
    for (auto it = extensions.rbegin(); it != extensions.rend(); ++it) {
      fs.table_->set(it->lastBefore, fs.table_->endMark());
      fs.table_->release(it->added);
    }
    fs.table_->release(allocated);
    extensions.clear();
    allocated.clear();
  }
};

FileSystem::FileSystem(Device& d, std::string root, IntentLog* log)
    : outer_(d), marking_(std::make_unique<MarkingDevice>(d, *this)), d_(*marking_), root_(std::move(root)), log_(log) {}

FileSystem::~FileSystem() = default;

// --- sessions ---------------------------------------------------------------------

void FileSystem::load() {
  dirs_.clear();
  table_.reset();
  g_ = readGeometry(d_);
  table_ = std::make_unique<Table>(d_, g_);
}

void FileSystem::beginWrites() {
  if (wrote_) return;
  if (writeProtected()) throw Error(kPermissionDenied, outer_.label());
  if (log_) log_->begin();
  wrote_ = true;
  // Lost clusters make fsck.fat call a known count wrong: from the first
  // change on, the count is unknown until the session ends.
  if (table_) table_->markCountUnknown();
}

void FileSystem::finish() {
  if (!table_) return;
  table_->flush();
  table_->finishFsInfo();
}

uint32_t FileSystem::rootId() const { return g_.type == FatType::Fat32 ? g_.rootCluster : 0; }

void FileSystem::checkWritable(const std::string& shown) const {
  if (writeProtected()) throw Error(kPermissionDenied, shown);
}

FileSystem::Dir& FileSystem::loadDir(uint32_t id, const std::string& what) {
  auto it = dirs_.find(id);
  if (it != dirs_.end()) return *it->second;
  auto d = std::make_unique<Dir>();
  d->id = id;
  d->path = what.empty() ? "a folder" : what;
  if (id == 0) {
    d->bytes.resize(uint64_t{g_.rootEntries} * 32);
    d_.read(g_.rootOffset(), d->bytes.data(), d->bytes.size());
  } else {
    d->clusters = table_->chain(id, "the folder " + d->path);
    uint64_t cs = g_.clusterBytes();
    if (d->clusters.size() * cs > kMaxSlots * 32) damaged(d_, "the folder " + d->path + " is larger than a folder can be");
    d->bytes.resize(d->clusters.size() * cs);
    for (size_t i = 0; i < d->clusters.size();) {
      size_t run = 1;
      while (i + run < d->clusters.size() && d->clusters[i + run] == d->clusters[i] + run) ++run;
      d_.read(g_.clusterOffset(d->clusters[i]), d->bytes.data() + i * cs, run * cs);
      i += run;
    }
  }
  d->reparse();
  return *dirs_.emplace(id, std::move(d)).first->second;
}

uint32_t FileSystem::childId(const Record& r, const std::string& shown) {
  if (r.firstCluster == 0 || !g_.validCluster(r.firstCluster)) {
    damaged(d_, "the folder " + shown + " points to cluster " + std::to_string(r.firstCluster) +
                    ", outside the disk");
  }
  loadDir(r.firstCluster, shown);
  return r.firstCluster;
}

uint32_t FileSystem::folderOf(const std::vector<std::string>& parts, size_t count, const std::string& shown) {
  uint32_t id = rootId();
  std::string path = root_;
  loadDir(id, root_ + "\\");
  for (size_t i = 0; i < count; ++i) {
    Dir& d = loadDir(id, path);
    int k = d.find(parts[i]);
    if (k < 0 || !d.records[static_cast<size_t>(k)].entry.isFolder()) throw Error(kPathNotFound, shown);
    path += "\\" + d.records[static_cast<size_t>(k)].entry.name;
    Record r = d.records[static_cast<size_t>(k)];
    id = childId(r, path);
  }
  return id;
}

FileSystem::Found FileSystem::locate(const std::vector<std::string>& parts, const std::string& shown) {
  if (parts.empty()) throw Error(kPathFileAccess, shown);
  Found f;
  f.dir = folderOf(parts, parts.size() - 1, shown);
  f.index = loadDir(f.dir, "").find(parts.back());
  return f;
}

FileSystem::Found FileSystem::existing(const std::vector<std::string>& parts, const std::string& shown) {
  Found f = locate(parts, shown);
  if (f.index < 0) throw Error(kFileNotFound, shown);
  return f;
}

std::vector<uint32_t> FileSystem::fileChain(const Record& r, const std::string& shown) {
  if (r.firstCluster == 0) {
    if (r.entry.size > 0) damaged(d_, "the file " + shown + " has bytes but no clusters");
    return {};
  }
  std::vector<uint32_t> c = table_->chain(r.firstCluster, "the file " + shown);
  if (c.size() * g_.clusterBytes() < r.entry.size) damaged(d_, "the file " + shown + " is longer than its cluster chain");
  return c;
}

uint64_t FileSystem::slotOffset(const Dir& d, size_t index) const {
  if (d.id == 0) return g_.rootOffset() + uint64_t{index} * 32;
  uint64_t at = uint64_t{index} * 32, cs = g_.clusterBytes();
  return g_.clusterOffset(d.clusters[at / cs]) + at % cs;
}

bool FileSystem::onePage(const Dir& d, size_t from, size_t count) const {
  uint64_t a = slotOffset(d, from), b = slotOffset(d, from + count - 1);
  return b - a == uint64_t{count - 1} * 32 && a / kPage == (b + 31) / kPage;
}

// --- reading ----------------------------------------------------------------------

std::vector<FileEntry> FileSystem::walk(const std::vector<std::string>& parts) {
  std::vector<FileEntry> out;
  uint32_t id = rootId();
  std::string path = root_;
  for (const std::string& part : parts) {
    Dir& d = loadDir(id, path.empty() ? root_ : path);
    int k = d.find(part);
    if (k < 0) break;
    Record r = d.records[static_cast<size_t>(k)];
    out.push_back(r.entry);
    out.back().id = r.firstCluster;
    path += "\\" + r.entry.name;
    if (!r.entry.isFolder()) break;
    id = childId(r, path);
  }
  return out;
}

std::vector<FileEntry> FileSystem::list(const std::vector<std::string>& parts, const std::string& shown) {
  Dir& d = loadDir(folderOf(parts, parts.size(), shown), shown);
  std::vector<FileEntry> out;
  for (const Record& r : d.records) {
    out.push_back(r.entry);
    out.back().id = r.firstCluster;
  }
  return out;
}

Space FileSystem::space() {
  uint64_t cs = g_.clusterBytes();
  return {uint64_t{table_->freeClusters()} * cs, uint64_t{g_.clusterCount} * cs, static_cast<uint32_t>(cs)};
}

FileSystem::OpenFile FileSystem::openFile(const std::vector<std::string>& parts, const std::string& shown) {
  Found f = existing(parts, shown);
  Record r = loadDir(f.dir, "").records[static_cast<size_t>(f.index)];
  if (r.entry.isFolder()) throw Error(kPathFileAccess, shown);
  return {r.entry, r.firstCluster, fileChain(r, shown)};
}

void FileSystem::readClusters(const std::vector<uint32_t>& clusters, uint64_t offset, uint8_t* buf, size_t n) {
  uint64_t cs = g_.clusterBytes();
  while (n > 0) {
    size_t i = static_cast<size_t>(offset / cs);
    uint64_t within = offset % cs;
    size_t run = 1;
    while (i + run < clusters.size() && clusters[i + run] == clusters[i] + run && run * cs < within + n) ++run;
    size_t take = static_cast<size_t>(std::min<uint64_t>(n, run * cs - within));
    d_.read(g_.clusterOffset(clusters[i]) + within, buf, take);
    buf += take;
    offset += take;
    n -= take;
  }
}

void FileSystem::pin(uint32_t first) {
  if (first) ++pins_[first];
}

void FileSystem::unpin(uint32_t first) {
  auto it = pins_.find(first);
  if (it == pins_.end() || --it->second > 0) return;
  pins_.erase(it);
  auto d = deferred_.find(first);
  if (d != deferred_.end()) {
    table_->release(d->second);
    deferred_.erase(d);
  }
}

void FileSystem::freeChain(uint32_t first, std::vector<uint32_t> clusters) {
  if (first == 0) return;
  if (pins_.count(first)) {
    deferred_[first] = std::move(clusters);  // a reader still reads it
  } else {
    table_->release(clusters);
  }
}

// --- new data -----------------------------------------------------------------

void FileSystem::checkCreate(const std::vector<std::string>& parts, const std::string& shown) {
  Found f = locate(parts, shown);
  checkWritable(shown);
  if (f.index < 0) {
    volume::checkNewName(parts.back(), shown);
    return;
  }
  Record r = loadDir(f.dir, "").records[static_cast<size_t>(f.index)];
  if (r.entry.isFolder() || (r.entry.attributes & kReadOnly)) throw Error(kPathFileAccess, shown);
  fileChain(r, shown);  // a damaged file is found before anything is written
}

void FileSystem::append(NewChain& c, const uint8_t* bytes, size_t n, const std::string& shown) {
  if (n == 0) return;
  uint64_t cs = g_.clusterBytes();
  if (c.size + n > 0xFFFFFFFFu) {
    release(c);
    throw Error(kDiskFull, shown);  // FAT holds files of less than 4 GB
  }
  size_t need = static_cast<size_t>((n + cs - 1) / cs);
  size_t before = c.clusters.size();
  for (size_t k = 0; k < need; ++k) {
    uint32_t near = c.clusters.empty() ? 0 : c.clusters.back() + 1;
    uint32_t got = table_->allocate(near);
    if (got == 0) {
      release(c);
      throw Error(kDiskFull, shown);
    }
    if (!c.clusters.empty()) table_->set(c.clusters.back(), got);
    c.clusters.push_back(got);
  }
  // Contiguous clusters go out in one write; the last one is padded with zeros.
  size_t done = 0;
  for (size_t i = before; i < c.clusters.size();) {
    size_t run = 1;
    while (i + run < c.clusters.size() && c.clusters[i + run] == c.clusters[i] + run) ++run;
    size_t take = static_cast<size_t>(std::min<uint64_t>(n - done, run * cs));
    uint64_t at = g_.clusterOffset(c.clusters[i]);
    if (take == run * cs) {
      d_.write(at, bytes + done, take);
    } else {
      size_t whole = static_cast<size_t>(take / cs * cs);
      if (whole) d_.write(at, bytes + done, whole);
      std::vector<uint8_t> last(cs, 0);
      std::memcpy(last.data(), bytes + done + whole, take - whole);
      d_.write(at + whole, last.data(), last.size());
    }
    done += take;
    i += run;
  }
  c.size += n;
}

void FileSystem::release(NewChain& c) {
  if (table_) table_->release(c.clusters);
  c.clusters.clear();
  c.size = 0;
}

// --- directory changes -----------------------------------------------------------

Slot FileSystem::dotSlot(const char* name, uint32_t cluster, const DateTime& t) const {
  ShortFields f;
  f.name.fill(' ');
  std::memcpy(f.name.data(), name, std::strlen(name));
  f.attributes = kDirectory;
  f.firstCluster = cluster;
  f.modified = f.created = f.accessed = t;
  return makeShortSlot(f);
}

std::string FileSystem::shortNameFor(const Dir& d, const std::string& name, const std::vector<std::string>& more,
                                     int skip, const std::string& shown) {
  std::string s = shortname::make(
      name,
      [&](const std::string& candidate) {
        for (size_t i = 0; i < d.records.size(); ++i) {
          if (static_cast<int>(i) == skip) continue;
          const FileEntry& e = d.records[i].entry;
          if (equalsNoCase(e.shortName, candidate) || equalsNoCase(e.name, candidate)) return true;
        }
        for (const std::string& m : more) {
          if (equalsNoCase(m, candidate)) return true;
        }
        return false;
      },
      oemHolds);
  if (s.empty()) throw Error(kDiskFull, shown);
  return s;
}

size_t FileSystem::placeFor(Plan& p, uint32_t id, size_t n, const std::string& shown) {
  for (int attempt = 0;; ++attempt) {
    Dir& d = p.dir(id);
    size_t cap = d.slots();
    auto usable = [&](size_t k) { return k >= d.end || d.bytes[k * 32] == kDeleted; };
    // A run of free slots that starts no later than the end marker; one that
    // lies in one page is best, since it is written in one piece.
    size_t best = SIZE_MAX, any = SIZE_MAX;
    for (size_t t = 0; t + n <= cap; ++t) {
      size_t k = t;
      while (k < t + n && usable(k)) ++k;
      if (k < t + n) {
        t = k;  // the loop steps past the slot in use
        continue;
      }
      if (onePage(d, t, n)) {
        best = t;
        break;
      }
      // Otherwise at least its long-name slots together, the short one may follow in the next page.
      if (any == SIZE_MAX && (n == 1 || onePage(d, t, n - 1))) any = t;
    }
    bool canGrow = id != 0 && attempt == 0 && cap + n <= kMaxSlots;
    size_t at = best != SIZE_MAX ? best : canGrow ? SIZE_MAX : any;
    if (at != SIZE_MAX) {
      // Free slots between the end marker and the entry become deleted ones,
      // so that the end marker does not hide it.
      for (size_t k = d.end; k < at; ++k) {
        Slot gap{};
        gap[0] = kDeleted;
        p.put(id, k, gap, Plan::kEndMarker);
      }
      if (at + n > d.end && at + n < cap && d.bytes[(at + n) * 32] != 0) {
        p.put(id, at + n, Slot{}, Plan::kEndMarker);  // the end marker after the new entry
      }
      return at;
    }
    if (!canGrow) throw Error(kDiskFull, shown);  // the folder can hold no more
    uint64_t cs = g_.clusterBytes();
    size_t clusters = static_cast<size_t>((n * 32 + cs - 1) / cs);
    Plan::Extension ext{id, d.clusters.back(), {}};
    for (size_t k = 0; k < clusters; ++k) {
      uint32_t near = ext.added.empty() ? d.clusters.back() + 1 : ext.added.back() + 1;
      uint32_t got = table_->allocate(near);
      if (got == 0) {
        table_->set(ext.lastBefore, table_->endMark());
        table_->release(ext.added);
        throw Error(kDiskFull, shown);
      }
      table_->set(ext.added.empty() ? d.clusters.back() : ext.added.back(), got);
      ext.added.push_back(got);
    }
    std::vector<uint8_t> zeros(cs, 0);
    for (uint32_t c : ext.added) {
      d_.write(g_.clusterOffset(c), zeros.data(), zeros.size());  // no folder holds it yet
      d.clusters.push_back(c);
      d.bytes.insert(d.bytes.end(), zeros.begin(), zeros.end());
    }
    p.extensions.push_back(std::move(ext));
    d.reparse();
  }
}

void FileSystem::newEntry(Plan& p, uint32_t dir, const std::string& name, const std::string& shortName, Slot shortSlot,
                          const std::string& shown) {
  std::array<uint8_t, 11> packed = packShortName(shortName);
  std::copy(packed.begin(), packed.end(), shortSlot.begin());
  shortSlot[12] = 0;
  std::vector<Slot> slots = longNameSlots(name, shortName, checksum(shortSlot.data()));
  slots.push_back(shortSlot);
  size_t at = placeFor(p, dir, slots.size(), shown);
  for (size_t k = 0; k < slots.size(); ++k) {
    p.put(dir, at + k, slots[k], k + 1 == slots.size() ? Plan::kNewShort : Plan::kNewLongName);
  }
}

void FileSystem::deleteSlots(Plan& p, uint32_t dir, const Record& r) {
  for (size_t k = r.first; k <= r.shortSlot(); ++k) {
    Slot s = p.slot(dir, k);
    s[0] = kDeleted;
    p.put(dir, k, s, k == r.shortSlot() ? Plan::kDropShort : Plan::kDropLongName);
  }
}

void FileSystem::apply(Plan& p) {
  p.done = true;
  table_->flush();  // new data and folder clusters are linked before anything points to them
  struct Out {
    uint64_t at;
    Slot bytes;
    Plan::Kind kind;
  };
  std::vector<Out> outs;
  for (auto& w : p.writes) outs.push_back({slotOffset(p.dir(w.dir), w.index), w.bytes, w.kind});
  for (auto& [id, copy] : p.copies) {
    auto it = dirs_.find(id);
    if (it != dirs_.end()) *it->second = copy;
  }
  if (outs.empty()) return;
  // Slots of one page go out in one write, which the kernel makes whole or not at all.
  auto writeRun = [&](size_t from, size_t to) {
    uint64_t lo = outs[from].at, hi = outs[from].at + 32;
    for (size_t i = from; i < to; ++i) {
      lo = std::min(lo, outs[i].at);
      hi = std::max(hi, outs[i].at + 32);
    }
    std::vector<uint8_t> span(hi - lo);
    d_.read(lo, span.data(), span.size());
    for (size_t i = from; i < to; ++i) {
      std::copy(outs[i].bytes.begin(), outs[i].bytes.end(), span.begin() + static_cast<std::ptrdiff_t>(outs[i].at - lo));
    }
    d_.write(lo, span.data(), span.size());
  };
  bool onePage = true;
  for (auto& o : outs) onePage = onePage && o.at / kPage == outs.front().at / kPage;
  if (onePage) {
    writeRun(0, outs.size());
    return;
  }
  std::stable_sort(outs.begin(), outs.end(), [](const Out& a, const Out& b) { return a.kind < b.kind; });
  std::vector<IntentLog::Write> logged;
  for (auto& o : outs) logged.push_back({o.at, o.bytes});
  if (log_) {
    beginWrites();
    log_->record(logged);
  }
  for (size_t i = 0; i < outs.size();) {
    size_t j = i + 1;
    while (j < outs.size() && outs[j].at / kPage == outs[i].at / kPage) ++j;
    writeRun(i, j);
    i = j;
  }
  if (log_) log_->clear();
}

void FileSystem::commit(std::vector<Change*>& changes) { commitLocked(changes); }

void FileSystem::commitLocked(std::vector<Change*>& changes) {
  if (changes.empty()) return;
  uint32_t dir = 0;
  bool first = true;
  for (Change* c : changes) {
    checkWritable(c->shown);
    uint32_t here = folderOf(c->parts, c->parts.size() - 1, c->shown);
    if (!first && here != dir) throw Error(kInvalidCall, c->shown);
    dir = here;
    first = false;
  }
  Plan p(*this);
  std::vector<std::string> newShorts;
  std::set<int> replaced;
  struct Old {
    uint32_t first;
    std::vector<uint32_t> clusters;
  };
  std::vector<Old> olds;
  DateTime now = DateTime::now();
  for (Change* c : changes) {
    Dir& d = p.dir(dir);
    int k = d.find(c->parts.back());
    uint8_t attrs = c->attributes & (kReadOnly | kHidden | kSystem | kArchive);
    uint32_t cluster = c->chain.clusters.empty() ? 0 : c->chain.clusters.front();
    if (k >= 0) {
      Record r = d.records[static_cast<size_t>(k)];
      if (r.entry.isFolder() || (r.entry.attributes & kReadOnly)) throw Error(kPathFileAccess, c->shown);
      if (!replaced.insert(static_cast<int>(r.shortSlot())).second) throw Error(kInvalidCall, c->shown);
      olds.push_back({r.firstCluster, fileChain(r, c->shown)});
      // The entry keeps its names and creation time; the rest is the new file's.
      Slot s = p.slot(dir, r.shortSlot());
      s[11] = attrs;
      setCluster(s, cluster);
      uint32_t size = static_cast<uint32_t>(c->chain.size);
      for (int i = 0; i < 4; ++i) s[28 + i] = static_cast<uint8_t>(size >> (8 * i));
      setTimesOf(s, FileTimes{c->modified.value_or(now), std::nullopt, now});
      p.put(dir, r.shortSlot(), s, Plan::kRewrite);
    } else {
      std::string name = volume::checkNewName(c->parts.back(), c->shown);
      for (Change* other : changes) {
        if (other != c && equalsNoCase(volume::withoutTrailing(other->parts.back()), name)) {
          throw Error(kInvalidCall, c->shown);
        }
      }
      std::string shortName = shortNameFor(d, name, newShorts, -1, c->shown);
      newShorts.push_back(shortName);
      ShortFields f;
      f.attributes = attrs;
      f.firstCluster = cluster;
      f.size = static_cast<uint32_t>(c->chain.size);
      f.modified = c->modified.value_or(now);
      f.created = f.accessed = now;
      newEntry(p, dir, name, shortName, makeShortSlot(f), c->shown);
    }
  }
  if (!olds.empty()) {
    table_->flush();
    d_.sync();  // the new data is on the disk before the old file is let go
  }
  apply(p);
  for (Change* c : changes) c->chain = NewChain{};
  for (Old& o : olds) freeChain(o.first, std::move(o.clusters));
}

void FileSystem::writeInPlace(const std::vector<std::string>& parts, const std::string& shown,
                              std::string_view bytes, bool append) {
  Found f = locate(parts, shown);
  checkWritable(shown);
  Change c;
  c.parts = parts;
  c.shown = shown;
  std::string all;
  if (f.index >= 0) {
    Record r = loadDir(f.dir, "").records[static_cast<size_t>(f.index)];
    if (r.entry.isFolder() || (r.entry.attributes & kReadOnly)) throw Error(kPathFileAccess, shown);
    c.attributes = static_cast<uint8_t>(r.entry.attributes | kArchive);
    std::vector<uint32_t> chain = fileChain(r, shown);
    if (append) {
      all.resize(r.entry.size);
      readClusters(chain, 0, reinterpret_cast<uint8_t*>(all.data()), all.size());
    }
  } else {
    volume::checkNewName(parts.back(), shown);
  }
  all.append(bytes);
  this->append(c.chain, reinterpret_cast<const uint8_t*>(all.data()), all.size(), shown);
  std::vector<Change*> one{&c};
  try {
    commitLocked(one);
  } catch (...) {
    release(c.chain);
    throw;
  }
}

void FileSystem::makeFolder(const std::vector<std::string>& parts, const std::string& shown) {
  Found f = locate(parts, shown);
  if (f.index >= 0) throw Error(kPathFileAccess, shown);
  checkWritable(shown);
  std::string name = volume::checkNewName(parts.back(), shown);
  Plan p(*this);
  uint32_t c = table_->allocate(0);
  if (c == 0) throw Error(kDiskFull, shown);
  p.allocated.push_back(c);
  DateTime now = DateTime::now();
  std::vector<uint8_t> cluster(g_.clusterBytes(), 0);
  Slot dot = dotSlot(".", c, now), dotdot = dotSlot("..", f.dir == rootId() ? 0 : f.dir, now);
  std::copy(dot.begin(), dot.end(), cluster.begin());
  std::copy(dotdot.begin(), dotdot.end(), cluster.begin() + 32);
  d_.write(g_.clusterOffset(c), cluster.data(), cluster.size());
  ShortFields e;
  e.attributes = kDirectory;
  e.firstCluster = c;
  e.modified = e.created = e.accessed = now;
  std::string shortName = shortNameFor(p.dir(f.dir), name, {}, -1, shown);
  newEntry(p, f.dir, name, shortName, makeShortSlot(e), shown);
  apply(p);
}

void FileSystem::removeFolder(const std::vector<std::string>& parts, const std::string& shown) {
  Found f = existing(parts, shown);
  Record r = loadDir(f.dir, "").records[static_cast<size_t>(f.index)];
  if (!r.entry.isFolder()) throw Error(kPathFileAccess, shown);
  uint32_t id = childId(r, shown);
  if (!loadDir(id, shown).records.empty()) throw Error(kPathFileAccess, shown);
  checkWritable(shown);
  std::vector<uint32_t> clusters = loadDir(id, shown).clusters;
  Plan p(*this);
  deleteSlots(p, f.dir, r);
  apply(p);
  dirs_.erase(id);
  freeChain(id, std::move(clusters));
}

void FileSystem::remove(const std::vector<std::string>& parts, const std::string& shown) {
  Found f = existing(parts, shown);
  Record r = loadDir(f.dir, "").records[static_cast<size_t>(f.index)];
  if (r.entry.isFolder() || (r.entry.attributes & kReadOnly)) throw Error(kPathFileAccess, shown);
  checkWritable(shown);
  std::vector<uint32_t> chain = fileChain(r, shown);
  Plan p(*this);
  deleteSlots(p, f.dir, r);
  apply(p);
  freeChain(r.firstCluster, std::move(chain));
}

void FileSystem::rename(const std::vector<std::string>& from, const std::string& shownFrom,
                        const std::vector<std::string>& to, const std::string& shownTo, bool replace) {
  Found src = existing(from, shownFrom);
  Record sr = loadDir(src.dir, "").records[static_cast<size_t>(src.index)];
  Found dst = locate(to, shownTo);
  std::string name = volume::checkNewName(to.back(), shownTo);
  if (sr.entry.isFolder()) {
    // Not into itself: no folder on the way to the target may be the one moved.
    uint32_t id = rootId();
    for (size_t i = 0; i + 1 < to.size(); ++i) {
      Dir& d = loadDir(id, "");
      int k = d.find(to[i]);
      if (k < 0) throw Error(kPathNotFound, shownTo);
      id = d.records[static_cast<size_t>(k)].firstCluster;
      if (id == sr.firstCluster) throw Error(kPathFileAccess, shownTo);
    }
  }
  checkWritable(shownFrom);
  bool same = dst.dir == src.dir && dst.index == src.index;
  Plan p(*this);
  if (dst.index >= 0 && !same) {
    Record dr = loadDir(dst.dir, "").records[static_cast<size_t>(dst.index)];
    if (!replace || dr.entry.isFolder() || sr.entry.isFolder()) throw Error(kFileAlreadyExists, shownTo);
    if (dr.entry.attributes & kReadOnly) throw Error(kPathFileAccess, shownTo);
    std::vector<uint32_t> old = fileChain(dr, shownTo);
    fileChain(sr, shownFrom);
    // The target's entry takes the source's file; names and creation time stay.
    Slot s = p.slot(dst.dir, dr.shortSlot());
    Slot from_ = p.slot(src.dir, sr.shortSlot());
    s[11] = from_[11];
    for (int i : {18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}) s[i] = from_[i];
    p.put(dst.dir, dr.shortSlot(), s, Plan::kRewrite);
    deleteSlots(p, src.dir, sr);
    table_->flush();
    d_.sync();
    apply(p);
    freeChain(dr.firstCluster, std::move(old));
    return;
  }
  if (same && sr.entry.name == name) return;
  Slot s = p.slot(src.dir, sr.shortSlot());
  deleteSlots(p, src.dir, sr);
  Dir& target = p.dir(dst.dir);
  std::string shortName = shortNameFor(target, name, {}, -1, shownTo);
  newEntry(p, dst.dir, name, shortName, s, shownTo);
  if (sr.entry.isFolder() && dst.dir != src.dir) {
    uint32_t id = childId(sr, shownFrom);
    Slot dotdot = p.slot(id, 1);
    if (dotdot[0] != '.' || dotdot[1] != '.') damaged(d_, "the folder " + shownFrom + " has no \"..\" entry");
    setCluster(dotdot, dst.dir == rootId() ? 0 : dst.dir);
    p.put(id, 1, dotdot, Plan::kParentLink);
  }
  apply(p);
}

void FileSystem::setAttributes(const std::vector<std::string>& parts, const std::string& shown, uint8_t attributes) {
  Found f = existing(parts, shown);
  checkWritable(shown);
  Record r = loadDir(f.dir, "").records[static_cast<size_t>(f.index)];
  Plan p(*this);
  Slot s = p.slot(f.dir, r.shortSlot());
  s[11] = static_cast<uint8_t>((attributes & (kReadOnly | kHidden | kSystem | kArchive)) | (s[11] & kDirectory));
  p.put(f.dir, r.shortSlot(), s, Plan::kRewrite);
  apply(p);
}

void FileSystem::setTimes(const std::vector<std::string>& parts, const std::string& shown, const FileTimes& times) {
  Found f = existing(parts, shown);
  checkWritable(shown);
  Record r = loadDir(f.dir, "").records[static_cast<size_t>(f.index)];
  Plan p(*this);
  Slot s = p.slot(f.dir, r.shortSlot());
  setTimesOf(s, times);
  p.put(f.dir, r.shortSlot(), s, Plan::kRewrite);
  apply(p);
}

// --- repair after a kill ----------------------------------------------------------

void FileSystem::repair(const std::vector<IntentLog::Write>& replay) {
  for (const auto& w : replay) d_.write(w.at, w.bytes.data(), w.bytes.size());
  dirs_.clear();
  table_->drop();
  std::vector<bool> seen(uint64_t{g_.maxCluster()} + 1, false);
  auto mark = [&](const std::vector<uint32_t>& clusters, const std::string& what) {
    for (uint32_t c : clusters) {
      if (seen[c]) damaged(d_, what + " shares cluster " + std::to_string(c) + " with another file");
      seen[c] = true;
    }
  };
  struct Todo {
    uint32_t id;
    std::string path;
  };
  std::vector<Todo> todo{{rootId(), root_ + "\\"}};
  while (!todo.empty()) {
    Todo t = todo.back();
    todo.pop_back();
    Dir& d = loadDir(t.id, t.path);
    mark(d.clusters, "the folder " + t.path);
    std::vector<Record> records = d.records;
    std::string base = t.path.back() == '\\' ? t.path : t.path + "\\";
    for (const Record& r : records) {
      std::string path = base + r.entry.name;
      if (r.entry.isFolder()) {
        todo.push_back({childId(r, path), path});
      } else {
        mark(fileChain(r, path), "the file " + path);
      }
    }
    if (dirs_.size() > 4096) dirs_.clear();  // the walk needs no folder twice
  }
  table_->releaseUnreachable(seen);
  table_->flush();
  table_->syncCopies();
  table_->recount();
  table_->finishFsInfo();
  dirs_.clear();
}

}  // namespace platform::fat
