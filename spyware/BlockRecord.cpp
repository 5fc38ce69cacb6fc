#include "spyware/BlockRecord.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/text.h"

namespace spyware {

using namespace platform::reg;
using platform::equalsNoCase;

namespace {

constexpr uint32_t kRead = 0x20019;  // KEY_READ
constexpr const char* kCrLf = "\r\n";

bool sameEntry(const BlockingEntry& a, const BlockingEntry& b) {
  return equalsNoCase(a.key, b.key) && equalsNoCase(a.value, b.value);
}

// key is ancestor itself or lies below it.
bool within(std::string_view ancestor, std::string_view key) {
  return key.size() >= ancestor.size() && equalsNoCase(key.substr(0, ancestor.size()), ancestor) &&
         (key.size() == ancestor.size() || key[ancestor.size()] == '\\');
}

std::string parentOf(std::string_view key) {
  const size_t slash = key.rfind('\\');
  return std::string(slash == std::string_view::npos ? std::string_view{} : key.substr(0, slash));
}

// A key of the registry, open while the object lives.
class OpenKey {
 public:
  OpenKey(Registry& reg, std::string_view full) : reg_(reg) {
    const size_t slash = full.find('\\');
    const std::string_view root = full.substr(0, slash);
    const std::string_view sub = slash == std::string_view::npos ? std::string_view{} : full.substr(slash + 1);
    HKEY top = 0;
    if (equalsNoCase(root, "HKEY_LOCAL_MACHINE")) top = HKEY_LOCAL_MACHINE;
    if (equalsNoCase(root, "HKEY_CURRENT_USER")) top = HKEY_CURRENT_USER;
    if (top != 0 && reg_.RegOpenKeyEx(top, sub, kRead, &h_) != ERROR_SUCCESS) h_ = 0;
  }
  ~OpenKey() {
    if (h_ != 0) reg_.RegCloseKey(h_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  explicit operator bool() const { return h_ != 0; }

  PriorValue value(std::string_view name) {
    PriorValue v;
    uint32_t type = 0, size = 0;
    if (reg_.RegQueryValueEx(h_, name, &type, nullptr, &size) != ERROR_SUCCESS) return v;
    std::string data(size, '\0');
    if (reg_.RegQueryValueEx(h_, name, &type, data.data(), &size) != ERROR_SUCCESS) return v;
    data.resize(size);
    return {true, type, std::move(data)};
  }

  std::vector<std::string> valueNames() {
    std::vector<std::string> names;
    std::string name, data;
    uint32_t type = 0;
    for (uint32_t i = 0; reg_.RegEnumValue(h_, i, &name, &type, &data) == ERROR_SUCCESS; ++i) names.push_back(name);
    return names;
  }

  std::vector<std::string> subkeyNames() {
    std::vector<std::string> names;
    std::string name;
    for (uint32_t i = 0; reg_.RegEnumKeyEx(h_, i, &name, 256) == ERROR_SUCCESS; ++i) names.push_back(name);
    return names;
  }

 private:
  Registry& reg_;
  HKEY h_ = 0;
};

std::string hexBytes(std::string_view data, char separator) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0 && separator != '\0') out += separator;
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(data[i]));
    out += two;
  }
  return out;
}

std::optional<std::string> fromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned byte = 0;
    auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
    if (ec != std::errc() || end != hex.data() + i + 2) return std::nullopt;
    out += static_cast<char>(byte);
  }
  return out;
}

// The value line that sets name to exactly these bytes of this type.
std::string valueLine(std::string_view name, uint32_t type, std::string_view data) {
  std::string line = "\"" + std::string(name) + "\"=";
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", n);
    return line + "dword:" + digits;
  }
  if (type == REG_BINARY) return line + "hex:" + hexBytes(data, ',');
  char head[24];
  std::snprintf(head, sizeof head, "hex(%x):", type);
  return line + head + hexBytes(data, ',');
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    out.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return out;
    start = tab + 1;
  }
}

std::optional<RecordedEntry> readEntry(std::string_view line) {
  const auto f = fields(line);
  if (f.size() != 4) return std::nullopt;
  RecordedEntry r{{std::string(f[0]), std::string(f[1])}, {}, std::string(f[3])};
  const auto names = blockingValueNames(r.entry.key);
  if (std::find(names.begin(), names.end(), r.entry.value) == names.end()) return std::nullopt;
  if (!r.created.empty() && (!within(r.created, r.entry.key) || r.created.find('\\') == std::string::npos)) {
    return std::nullopt;
  }
  if (f[2] != "-") {
    const size_t colon = f[2].find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto [end, ec] = std::from_chars(f[2].data(), f[2].data() + colon, r.before.type);
    auto data = fromHex(f[2].substr(colon + 1));
    if (ec != std::errc() || end != f[2].data() + colon || !data) return std::nullopt;
    r.before.present = true;
    r.before.data = std::move(*data);
  }
  return r;
}

}  // namespace

BlockRecord BlockRecord::parse(std::string_view text) {
  BlockRecord record;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (auto entry = readEntry(line)) record.add(std::move(*entry));
  }
  return record;
}

std::string BlockRecord::text() const {
  std::string out = std::string("; Registry entries as they were before the spyware block") + kCrLf +
                    "; key, value, the value before (- when there was none, else type:hex), " +
                    "the first key the block created" + kCrLf;
  for (const auto& r : entries_) {
    out += r.entry.key + "\t" + r.entry.value + "\t" +
           (r.before.present ? std::to_string(r.before.type) + ":" + hexBytes(r.before.data, '\0') : "-") +
           "\t" + r.created + kCrLf;
  }
  return out;
}

const RecordedEntry* BlockRecord::find(const BlockingEntry& e) const {
  for (const auto& r : entries_) {
    if (sameEntry(r.entry, e)) return &r;
  }
  return nullptr;
}

void BlockRecord::add(RecordedEntry r) {
  if (!find(r.entry)) entries_.push_back(std::move(r));
}

void BlockRecord::remove(const BlockingEntry& e) {
  std::erase_if(entries_, [&](const RecordedEntry& r) { return sameEntry(r.entry, e); });
}

bool recordBefore(Registry& reg, const std::vector<BlockingEntry>& sets, BlockRecord& record) {
  bool added = false;
  for (const auto& e : sets) {
    if (record.find(e)) continue;
    RecordedEntry r{e, {}, {}};
    if (OpenKey key(reg, e.key); key) {
      r.before = key.value(e.value);
    } else {
      // The first key on the path that is missing now.
      for (size_t slash = e.key.find('\\'); ; slash = e.key.find('\\', slash + 1)) {
        const std::string path = e.key.substr(0, e.key.find('\\', slash + 1));
        if (!OpenKey(reg, path)) {
          r.created = path;
          break;
        }
        if (path.size() == e.key.size()) break;
      }
    }
    record.add(std::move(r));
    added = true;
  }
  return added;
}

UnblockPlan planUnblock(Registry& reg, const std::vector<BlockingEntry>& takeAway, const BlockRecord& record) {
  struct KeyPlan {
    std::string key;
    std::vector<std::string> lines;
    std::vector<std::string> removedValues;
    bool recorded = false;   // the record knows this key
    std::string created;     // the topmost key above it that the block made
  };
  std::vector<KeyPlan> keys;
  UnblockPlan plan;
  auto handled = [&](const BlockingEntry& e) {
    return std::any_of(plan.handled.begin(), plan.handled.end(),
                       [&](const BlockingEntry& h) { return sameEntry(h, e); });
  };

  for (const auto& e : takeAway) {
    auto it = std::find_if(keys.begin(), keys.end(), [&](const KeyPlan& k) { return equalsNoCase(k.key, e.key); });
    KeyPlan& k = it != keys.end() ? *it : keys.emplace_back(KeyPlan{e.key, {}, {}, false, {}});
    if (handled(e)) continue;
    const RecordedEntry* rec = record.find(e);
    if (rec) {
      k.recorded = true;
      if (!rec->created.empty() && (k.created.empty() || rec->created.size() < k.created.size())) {
        k.created = rec->created;
      }
    }
    OpenKey key(reg, e.key);
    const PriorValue now = key ? key.value(e.value) : PriorValue{};
    if (!now.present || now.type != REG_DWORD || now.data != blockingData(e.value)) {
      // Not blocked (any more): whatever is there now is the user's.
      if (rec) plan.handled.push_back(e);
      continue;
    }
    plan.handled.push_back(e);
    if (rec && rec->before.present) {
      if (rec->before.type != now.type || rec->before.data != now.data) {
        k.lines.push_back(valueLine(e.value, rec->before.type, rec->before.data));
      }
    } else {
      k.lines.push_back("\"" + e.value + "\"=-");
      k.removedValues.push_back(e.value);
    }
  }

  std::vector<std::string> removed;
  auto isRemoved = [&](std::string_view key) {
    return std::any_of(removed.begin(), removed.end(), [&](const std::string& r) { return equalsNoCase(r, key); });
  };
  // Nothing left in it but what is being taken away.
  auto leftEmpty = [&](const std::string& path, const std::vector<std::string>& goingValues) {
    OpenKey key(reg, path);
    if (!key) return false;
    for (const auto& v : key.valueNames()) {
      if (std::none_of(goingValues.begin(), goingValues.end(), [&](const std::string& g) { return equalsNoCase(g, v); })) {
        return false;
      }
    }
    for (const auto& s : key.subkeyNames()) {
      if (!isRemoved(path + "\\" + s)) return false;
    }
    return true;
  };
  for (const auto& k : keys) {
    // A key the block made goes when it is left empty; without a record, a
    // key goes only when this unblock empties it.
    const bool mayGo = !k.created.empty() || (!k.recorded && !k.removedValues.empty());
    if (mayGo && leftEmpty(k.key, k.removedValues)) removed.push_back(k.key);
  }
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& k : keys) {
      if (k.created.empty() || !isRemoved(k.key)) continue;
      for (std::string up = parentOf(k.key); within(k.created, up) && !isRemoved(up); up = parentOf(up)) {
        if (!leftEmpty(up, {})) break;
        removed.push_back(up);
        grew = true;
      }
    }
  }

  auto underRemoved = [&](std::string_view key, bool strictly) {
    return std::any_of(removed.begin(), removed.end(), [&](const std::string& r) {
      return within(r, key) && !(strictly && r.size() == key.size());
    });
  };
  plan.script = std::string("REGEDIT4") + kCrLf + kCrLf;
  for (const auto& k : keys) {
    if (k.lines.empty() || underRemoved(k.key, false)) continue;
    plan.script += "[" + k.key + "]" + kCrLf;
    for (const auto& l : k.lines) plan.script += l + kCrLf;
    plan.script += kCrLf;
  }
  for (const auto& r : removed) {
    if (!underRemoved(r, true)) plan.script += "[-" + r + "]" + kCrLf + kCrLf;
  }
  return plan;
}

}  // namespace spyware
