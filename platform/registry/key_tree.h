#pragma once
// The registry as a tree of keys and values, in memory. The files it is
// read from and written to (CREG hives, REGEDIT4 scripts) have their own
// files beside this one.
//
// A hive's keys and values live in one arena that is dropped as a whole: a
// hive is loaded far more often than it is edited, and a loaded hive is
// thrown away whenever another process has changed its file. Keys and values
// read from a hive file point into that file's bytes, which the hive keeps.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::hive {

// Names compare without letter case (Windows-1252).
bool sameName(std::string_view a, std::string_view b);

inline constexpr size_t kHugePage = size_t{2} << 20;
inline size_t roundToHuge(size_t n) { return (n + kHugePage - 1) & ~(kHugePage - 1); }

// Where a hive's keys and values live: memory handed out in order and
// given back only as a whole. The first block is sized for the hive as
// loaded; more come as big blocks of huge pages straight from the system, so
// that a hive of megabytes does not spend its time in page faults.
class Arena : public std::pmr::memory_resource {
 public:
  explicit Arena(size_t first);
  ~Arena() override;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

 private:
  void* do_allocate(size_t bytes, size_t align) override {
    uintptr_t p = (cur_ + align - 1) & ~(uintptr_t{align} - 1);
    if (p + bytes > end_) {
      grow(bytes + align);
      p = (cur_ + align - 1) & ~(uintptr_t{align} - 1);
    }
    cur_ = p + bytes;
    return reinterpret_cast<void*>(p);
  }
  void do_deallocate(void*, size_t, size_t) override {}
  bool do_is_equal(const memory_resource& o) const noexcept override { return this == &o; }
  void grow(size_t atLeast);

  struct Block {
    void* p;
    size_t size;
    bool mapped;
  };
  std::vector<Block> blocks_;
  uintptr_t cur_ = 0, end_ = 0;
  size_t next_ = 0;  // size of the next big block
};

struct Value {
  std::string_view name;  // empty: the key's default value
  uint32_t type = 0;
  std::string_view data;  // raw bytes, a REG_SZ with its terminating NUL when it has one
};

class Key {
 public:
  Key(std::string_view name, std::pmr::memory_resource* mr);
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  std::string_view name() const { return name_; }

  // Subkeys in enumeration order.
  size_t childCount() const { return children_.size(); }
  Key& child(size_t i) const { return *children_[i]; }
  Key* findChild(std::string_view name) const;
  // The existing subkey of that name, or a new one appended.
  Key& addChild(std::string_view name);
  // A new subkey appended without looking for one of the same name; the
  // name must live as long as the hive (a loader's view into the file).
  Key& appendChild(std::string_view name);
  void reserveChildren(size_t n) { children_.reserve(n); }
  bool removeChild(std::string_view name);
  void removeChildAt(size_t i);

  // Values in enumeration order; setting an existing value keeps its place.
  size_t valueCount() const { return values_.size(); }
  const Value& value(size_t i) const { return values_[i]; }
  const Value* findValue(std::string_view name) const;
  void setValue(std::string_view name, uint32_t type, std::string_view data);
  // As appendChild: no search, no copy.
  void appendValue(std::string_view name, uint32_t type, std::string_view data);
  void reserveValues(size_t n) { values_.reserve(n); }
  bool removeValue(std::string_view name);
  // The names and data of all values together, in bytes.
  size_t valueBytes() const { return valueBytes_; }

 private:
  struct FoldHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const;
  };
  struct FoldEq {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return sameName(a, b); }
  };
  struct Index {
    explicit Index(std::pmr::memory_resource* mr) : children(mr), values(mr) {}
    std::pmr::unordered_map<std::string_view, Key*, FoldHash, FoldEq> children;
    std::pmr::unordered_map<std::string_view, size_t, FoldHash, FoldEq> values;
  };
  // Small keys are searched directly; big ones get an index on first need.
  static constexpr size_t kIndexFrom = 12;
  std::pmr::memory_resource* mr() const { return children_.get_allocator().resource(); }
  std::string_view copy(std::string_view s) const;
  Index& index() const;
  void dropIndex();

  std::string_view name_;
  std::pmr::vector<Key*> children_;
  std::pmr::vector<Value> values_;
  size_t valueBytes_ = 0;
  mutable Index* index_ = nullptr;
};

// One top key (HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CLASSES_ROOT) with
// everything under it, in its own arena.
class Hive {
 public:
  explicit Hive(std::string_view topName, size_t sizeHint = 0);
  Hive(Hive&&) = default;
  Hive& operator=(Hive&&) = default;
  Key& top() const { return *top_; }
  // Keeps the bytes of the file the hive is read from, for the loader's
  // views into them.
  std::string_view keep(std::string bytes);

 private:
  std::unique_ptr<Arena> arena_;
  std::vector<std::unique_ptr<std::string>> kept_;
  Key* top_;
};

}  // namespace platform::hive
