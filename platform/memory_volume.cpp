#include "platform/memory_volume.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/shortname.h"
#include "platform/text.h"

namespace platform {

struct MemoryVolume::Node {
  FileEntry entry;
  std::shared_ptr<const std::string> data = std::make_shared<const std::string>();
  std::vector<std::unique_ptr<Node>> children;  // in the order they were made
  Node* parent = nullptr;

  Node* child(std::string_view component) {
    for (auto& c : children) {
      if (volume::matches(component, c->entry)) return c.get();
    }
    return nullptr;
  }
};

namespace {

class Reader : public FileReader {
 public:
  explicit Reader(std::shared_ptr<const std::string> data) : data_(std::move(data)) {}
  uint64_t size() const override { return data_->size(); }
  size_t readAt(uint64_t offset, void* buf, size_t n) override {
    if (offset >= data_->size()) return 0;
    n = std::min<uint64_t>(n, data_->size() - offset);
    std::memcpy(buf, data_->data() + offset, n);
    return n;
  }

 private:
  std::shared_ptr<const std::string> data_;
};

}  // namespace

class MemoryVolume::Writer : public FileWriter {
 public:
  Writer(MemoryVolume& v, std::string path, NewFile file) : v_(v), path_(std::move(path)), file_(file) {}
  ~Writer() override { abort(); }
  void write(std::string_view bytes) override {
    if (done_) throw Error(kInvalidCall, volume::shown(v_.options_.root, path_));
    bytes_.append(bytes);
  }
  uint64_t written() const override { return bytes_.size(); }
  void commit() override { v_.commitSet({this}); }
  void describe(const NewFile& file) override { file_ = file; }
  void abort() override {
    done_ = true;
    bytes_.clear();
  }

 private:
  friend class MemoryVolume;
  MemoryVolume& v_;
  std::string path_;
  NewFile file_;
  std::string bytes_;
  bool done_ = false;
};

MemoryVolume::MemoryVolume(MemoryVolumeOptions options) : options_(std::move(options)) {
  root_ = std::make_unique<Node>();
  root_->entry.attributes = kDirectory;
}

MemoryVolume::~MemoryVolume() = default;

void MemoryVolume::setWriteProtected(bool on) {
  std::lock_guard lock(mutex_);
  options_.writeProtected = on;
}

std::string MemoryVolume::label() const { return "memory volume " + options_.root; }

bool MemoryVolume::writeProtected() {
  std::lock_guard lock(mutex_);
  return options_.writeProtected;
}

void MemoryVolume::checkWritable(const std::string& shown) const {
  if (options_.writeProtected) throw Error(kPermissionDenied, shown);
}

uint64_t MemoryVolume::rounded(uint64_t bytes) const {
  uint64_t c = options_.clusterBytes ? options_.clusterBytes : 1;
  return (bytes + c - 1) / c * c;
}

uint64_t MemoryVolume::used(const Node& n) const {
  uint64_t total = 0;
  for (auto& c : n.children) {
    total += c->entry.isFolder() ? rounded(1) + used(*c) : rounded(c->data->size());
  }
  return total;
}

MemoryVolume::Node* MemoryVolume::existing(std::string_view path, const std::string& shown) {
  auto parts = volume::split(path, shown);
  Node* cur = root_.get();
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!cur->entry.isFolder()) throw Error(kPathNotFound, shown);
    Node* next = cur->child(parts[i]);
    if (!next) throw Error(i + 1 == parts.size() ? kFileNotFound : kPathNotFound, shown);
    cur = next;
  }
  return cur;
}

MemoryVolume::Place MemoryVolume::placeFor(std::string_view path, const std::string& shown) {
  auto parts = volume::split(path, shown);
  if (parts.empty()) throw Error(kPathFileAccess, shown);
  Place p;
  p.folder = root_.get();
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    Node* next = p.folder->child(parts[i]);
    if (!next || !next->entry.isFolder()) throw Error(kPathNotFound, shown);
    p.folder = next;
  }
  p.name = parts.back();
  p.node = p.folder->child(p.name);
  return p;
}

std::unique_ptr<MemoryVolume::Node> MemoryVolume::makeNode(Node* folder, const std::string& name,
                                                           uint8_t attributes) {
  auto n = std::make_unique<Node>();
  n->parent = folder;
  n->entry.name = name;
  n->entry.shortName = shortname::make(name, [&](const std::string& s) {
    for (auto& c : folder->children) {
      if (equalsNoCase(c->entry.shortName, s) || equalsNoCase(c->entry.name, s)) return true;
    }
    return false;
  });
  n->entry.attributes = attributes;
  DateTime now = DateTime::now();
  n->entry.modified = n->entry.created = n->entry.accessed = now;
  return n;
}

std::vector<FileEntry> MemoryVolume::walk(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::vector<FileEntry> out;
  Node* cur = root_.get();
  for (const std::string& part : volume::split(path, volume::shown(options_.root, path))) {
    if (!cur->entry.isFolder()) break;
    cur = cur->child(part);
    if (!cur) break;
    out.push_back(cur->entry);
    out.back().id = reinterpret_cast<uintptr_t>(cur->data.get());
  }
  return out;
}

std::vector<FileEntry> MemoryVolume::list(std::string_view folder) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, folder);
  Node* n = existing(folder, shown);
  if (!n->entry.isFolder()) throw Error(kPathNotFound, shown);
  std::vector<FileEntry> out;
  for (auto& c : n->children) {
    out.push_back(c->entry);
    out.back().id = reinterpret_cast<uintptr_t>(c->data.get());
  }
  return out;
}

std::unique_ptr<FileReader> MemoryVolume::open(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, path);
  Node* n = existing(path, shown);
  if (n->entry.isFolder()) throw Error(kPathFileAccess, shown);
  return std::make_unique<Reader>(n->data);
}

std::unique_ptr<FileWriter> MemoryVolume::create(std::string_view path, const NewFile& file) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, path);
  Place p = placeFor(path, shown);
  checkWritable(shown);
  if (!p.node) volume::checkNewName(p.name, shown);
  if (p.node && (p.node->entry.isFolder() || (p.node->entry.attributes & kReadOnly)))
    throw Error(kPathFileAccess, shown);
  return std::make_unique<Writer>(*this, std::string(path), file);
}

void MemoryVolume::commitSet(const std::vector<FileWriter*>& files) {
  std::lock_guard lock(mutex_);
  std::vector<Writer*> writers;
  for (FileWriter* f : files) {
    auto* w = dynamic_cast<Writer*>(f);
    if (!w || &w->v_ != this || w->done_) throw Error(kInvalidCall, options_.root);
    writers.push_back(w);
  }
  commitLocked(writers);
}

void MemoryVolume::commitLocked(const std::vector<Writer*>& writers) {
  // Every check first: nothing changes unless all of them can go in.
  Node* folder = nullptr;
  std::vector<Place> places;
  int64_t growth = 0;
  std::set<Node*> replaced;
  std::vector<std::string> newNames;
  for (Writer* w : writers) {
    std::string shown = volume::shown(options_.root, w->path_);
    checkWritable(shown);
    Place p = placeFor(w->path_, shown);
    if (folder && p.folder != folder) throw Error(kInvalidCall, shown);
    folder = p.folder;
    if (p.node) {
      if (p.node->entry.isFolder() || (p.node->entry.attributes & kReadOnly)) throw Error(kPathFileAccess, shown);
      if (!replaced.insert(p.node).second) throw Error(kInvalidCall, shown);
      growth -= static_cast<int64_t>(rounded(p.node->data->size()));
    } else {
      std::string name = volume::checkNewName(p.name, shown);
      for (auto& n : newNames) {
        if (equalsNoCase(n, name)) throw Error(kInvalidCall, shown);
      }
      newNames.push_back(name);
      p.name = name;
    }
    growth += static_cast<int64_t>(rounded(w->bytes_.size()));
    places.push_back(p);
  }
  if (growth > 0 && used(*root_) + static_cast<uint64_t>(growth) > options_.capacity) {
    throw Error(kDiskFull, volume::shown(options_.root, writers.front()->path_));
  }
  DateTime now = DateTime::now();
  for (size_t i = 0; i < writers.size(); ++i) {
    Writer* w = writers[i];
    Place& p = places[i];
    Node* n = p.node;
    if (!n) {
      p.folder->children.push_back(makeNode(p.folder, p.name, 0));
      n = p.folder->children.back().get();
    }
    n->data = std::make_shared<const std::string>(std::move(w->bytes_));
    n->entry.size = n->data->size();
    n->entry.attributes = w->file_.attributes & (kReadOnly | kHidden | kSystem | kArchive);
    n->entry.modified = w->file_.modified.value_or(now);
    n->entry.accessed = now;
    w->done_ = true;
  }
}

void MemoryVolume::writeInPlace(std::string_view path, std::string_view bytes, bool append) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, path);
  Place p = placeFor(path, shown);
  std::string all;
  uint8_t attributes = kArchive;
  if (p.node) {
    if (p.node->entry.isFolder() || (p.node->entry.attributes & kReadOnly)) throw Error(kPathFileAccess, shown);
    if (append) all = *p.node->data;
    attributes = static_cast<uint8_t>(p.node->entry.attributes | kArchive);
  }
  checkWritable(shown);
  all.append(bytes);
  Writer w(*this, std::string(path), NewFile{attributes, std::nullopt});
  w.bytes_ = std::move(all);
  commitLocked({&w});
}

void MemoryVolume::makeFolder(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, path);
  Place p = placeFor(path, shown);
  if (p.node) throw Error(kPathFileAccess, shown);
  checkWritable(shown);
  std::string name = volume::checkNewName(p.name, shown);
  if (used(*root_) + rounded(1) > options_.capacity) throw Error(kDiskFull, shown);
  p.folder->children.push_back(makeNode(p.folder, name, kDirectory));
}

void MemoryVolume::removeFolder(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, path);
  Node* n = existing(path, shown);
  if (n == root_.get() || !n->entry.isFolder() || !n->children.empty()) throw Error(kPathFileAccess, shown);
  checkWritable(shown);
  auto& siblings = n->parent->children;
  siblings.erase(std::find_if(siblings.begin(), siblings.end(), [&](auto& c) { return c.get() == n; }));
}

void MemoryVolume::remove(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, path);
  Node* n = existing(path, shown);
  if (n->entry.isFolder() || (n->entry.attributes & kReadOnly)) throw Error(kPathFileAccess, shown);
  checkWritable(shown);
  auto& siblings = n->parent->children;
  siblings.erase(std::find_if(siblings.begin(), siblings.end(), [&](auto& c) { return c.get() == n; }));
}

void MemoryVolume::rename(std::string_view from, std::string_view to, bool replace) {
  std::lock_guard lock(mutex_);
  std::string shownFrom = volume::shown(options_.root, from);
  std::string shownTo = volume::shown(options_.root, to);
  Node* src = existing(from, shownFrom);
  if (src == root_.get()) throw Error(kPathFileAccess, shownFrom);
  Place p = placeFor(to, shownTo);
  for (Node* up = p.folder; up; up = up->parent) {
    if (up == src) throw Error(kPathFileAccess, shownTo);  // into itself
  }
  checkWritable(shownFrom);
  std::string name = volume::checkNewName(p.name, shownTo);
  if (p.node && p.node != src) {
    if (!replace || p.node->entry.isFolder() || src->entry.isFolder()) throw Error(kFileAlreadyExists, shownTo);
    if (p.node->entry.attributes & kReadOnly) throw Error(kPathFileAccess, shownTo);
  }
  if (p.node == src && src->entry.name == name) return;
  auto& from_siblings = src->parent->children;
  auto it = std::find_if(from_siblings.begin(), from_siblings.end(), [&](auto& c) { return c.get() == src; });
  std::unique_ptr<Node> moving = std::move(*it);
  from_siblings.erase(it);
  if (p.node && p.node != src) {
    // The replaced file's place, short name and creation time go to the newcomer.
    moving->entry.name = name;
    moving->entry.shortName = p.node->entry.shortName;
    moving->entry.created = p.node->entry.created;
    moving->parent = p.folder;
    for (auto& c : p.folder->children) {
      if (c.get() == p.node) c = std::move(moving);
    }
    return;
  }
  std::unique_ptr<Node> fresh = makeNode(p.folder, name, 0);
  moving->entry.name = fresh->entry.name;
  moving->entry.shortName = fresh->entry.shortName;
  moving->parent = p.folder;
  p.folder->children.push_back(std::move(moving));
}

void MemoryVolume::setAttributes(std::string_view path, uint8_t attributes) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, path);
  Node* n = existing(path, shown);
  if (n == root_.get()) throw Error(kPathFileAccess, shown);
  checkWritable(shown);
  n->entry.attributes = static_cast<uint8_t>((attributes & (kReadOnly | kHidden | kSystem | kArchive)) |
                                             (n->entry.attributes & kDirectory));
}

void MemoryVolume::setTimes(std::string_view path, const FileTimes& times) {
  std::lock_guard lock(mutex_);
  std::string shown = volume::shown(options_.root, path);
  Node* n = existing(path, shown);
  if (n == root_.get()) throw Error(kPathFileAccess, shown);
  checkWritable(shown);
  if (times.modified) n->entry.modified = *times.modified;
  if (times.created) n->entry.created = *times.created;
  if (times.accessed) n->entry.accessed = *times.accessed;
}

Space MemoryVolume::space() {
  std::lock_guard lock(mutex_);
  uint64_t u = used(*root_);
  return {u >= options_.capacity ? 0 : options_.capacity - u, options_.capacity, options_.clusterBytes};
}

}  // namespace platform
