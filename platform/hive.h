#pragma once
// The registry as a tree of keys and values, and its text form: the
// registry editor's REGEDIT4 scripts, which are also the hive files' format.
// Pure in-memory code; the hive files, their locks and the Win32-shaped calls
// live in registry.cpp.
//
// A hive's keys and values live in one arena that is dropped as a whole: a
// hive is loaded far more often than it is edited, and a loaded hive is
// thrown away whenever another process has changed its file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::hive {

// Names compare without letter case (Windows-1252).
bool sameName(std::string_view a, std::string_view b);

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

// A buffer in big blocks, for a hive's text on its way to the disk.
class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  void reserve(size_t n);
  void append(std::string_view s);
  // Room for n more bytes at the end; advance() then counts what was written.
  char* tail(size_t n) {
    if (size_ + n > limit_) makeRoom(n);
    return data_ + size_;
  }
  void advance(size_t n) { size_ += n; }
  size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  // From now on the buffer holds about `chunk` bytes: when it is full, what
  // it holds goes to spill and it starts again empty. A text of megabytes
  // then needs no memory of its size.
  void spillTo(size_t chunk, std::function<void(std::string_view)> spill);
  void flushSpill();  // hands over what is left

 private:
  void makeRoom(size_t n);
  char* data_ = nullptr;
  size_t size_ = 0, cap_ = 0;
  size_t limit_ = 0;  // cap_, or the chunk size when spilling
  size_t chunk_ = 0;
  std::function<void(std::string_view)> spill_;
};

struct Value {
  std::string_view name;  // empty: the key's default value
  uint32_t type = 0;
  std::string_view data;  // raw bytes, a REG_SZ with its terminating NUL
};

class Key {
 public:
  Key(std::string_view name, std::pmr::memory_resource* mr);
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  std::string_view name() const { return name_; }

  // Subkeys in creation order.
  size_t childCount() const { return children_.size(); }
  Key& child(size_t i) const { return *children_[i]; }
  Key* findChild(std::string_view name) const;
  // The existing subkey of that name, or a new one appended.
  Key& addChild(std::string_view name);
  bool removeChild(std::string_view name);

  // Values in creation order; setting an existing value keeps its place.
  size_t valueCount() const { return values_.size(); }
  const Value& value(size_t i) const { return values_[i]; }
  const Value* findValue(std::string_view name) const;
  void setValue(std::string_view name, uint32_t type, std::string_view data);
  bool removeValue(std::string_view name);

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

  std::string_view name_;
  std::pmr::vector<Key*> children_;
  std::pmr::vector<Value> values_;
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

 private:
  std::unique_ptr<Arena> arena_;
  Key* top_;
};

// ---------------------------------------------------------------------------
// Registry text.

enum class Dialect { Regedit4, Version5 };
inline constexpr std::string_view kRegedit4Header = "REGEDIT4";
inline constexpr std::string_view kVersion5Header = "Windows Registry Editor Version 5.00";

struct TextError {
  size_t line = 0;
  std::string what;
};

// Receives the meaning of each line of a script, in order. A non-empty
// result is an error at that line and stops the parse. The views are valid
// only during the call.
class TextSink {
 public:
  virtual ~TextSink() = default;
  // [path] or [-path]; path is the text between the brackets.
  virtual std::string key(size_t line, std::string_view path, bool remove) = 0;
  // "name"=...; an empty name is the default value (@).
  virtual std::string value(size_t line, std::string_view name, uint32_t type,
                            std::string_view data) = 0;
  // "name"=-
  virtual std::string removeValue(size_t line, std::string_view name) = 0;
};

// Parses a whole script: header, [KEY] and [-KEY] lines, "name"="text",
// @="text", "name"=-, dword:, hex:, hex(N): with continuation lines,
// comments and blank lines. Value lines before any key are errors. In a
// Version 5.00 script, hex(1), hex(2) and hex(7) data are UTF-16 and are
// brought to ANSI. Returns the first error, if any.
std::optional<TextError> parseText(std::string_view text, TextSink& sink,
                                   Dialect* dialect = nullptr);

// One value line with its line end.
void writeValue(TextBuffer& out, const Value& v);
// "[path]", its values, a blank line.
void writeKey(TextBuffer& out, std::string_view path, const Key& key);
// The key and all its subkeys, depth first in enumeration order. With
// withSelf false the key's own line is written only when it has values.
void writeTree(TextBuffer& out, std::string& path, const Key& key, bool withSelf = true);

// A hive's text: REGEDIT4 header, then every key in enumeration order.
void hiveText(TextBuffer& out, const Key& top);
std::string hiveText(const Key& top);

// Builds the hive of top key rootName from its text. Errors name the line.
struct HiveLoad {
  std::optional<Hive> hive;
  std::optional<TextError> error;
};
HiveLoad loadHive(std::string_view text, std::string_view rootName);

}  // namespace platform::hive
