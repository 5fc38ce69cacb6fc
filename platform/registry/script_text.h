#pragma once
// The registry editor's text form: REGEDIT4 (and version 5) scripts, parsed
// line by line and written from a key tree. Hive files of machines made
// before the hives were CREG files hold this text too, and are still read.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry/key_tree.h"

namespace platform::hive {

// A buffer in big blocks, for a script's text on its way to the disk.
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

// True when the bytes begin, after blank lines, with a script header: a
// hive file of the older text form.
bool looksLikeScript(std::string_view bytes);

// One value line with its line end.
void writeValue(TextBuffer& out, const Value& v);
// "[path]", its values, a blank line.
void writeKey(TextBuffer& out, std::string_view path, const Key& key);
// The key and all its subkeys, depth first in enumeration order, path
// being the key's own. With withSelf false the key's own line is written
// only when it has values. `children`, when given, lists the subkeys to
// write in place of a key's own (at depth levels below `key`): so the
// export puts the Classes.dat hive where HKEY_LOCAL_MACHINE\SOFTWARE\Classes
// would be.
using Subkeys = std::vector<std::pair<std::string_view, const Key*>>;
using ChildrenOf = std::function<void(const Key& key, size_t depth, Subkeys& out)>;
void writeTree(TextBuffer& out, std::string path, const Key& key, bool withSelf = true,
               const ChildrenOf& children = {});

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
