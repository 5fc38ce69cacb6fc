#include "platform/regscript.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/error.h"
#include "platform/hive_store.h"

namespace platform::hive {

namespace {

// The key lines' roots, checked before anything is applied.
std::string checkKey(std::string_view path, bool remove, std::vector<std::string_view>& parts,
                     Root& root) {
  splitPath(path, parts);
  if (parts.empty()) return "empty key name";
  auto r = rootByName(parts[0]);
  if (!r)
    return "unknown root key \"" + std::string(parts[0]) +
           "\" (known: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS)";
  if (remove && parts.size() == 1) return "a root key cannot be deleted";
  root = *r;
  parts.erase(parts.begin());
  return {};
}

// Each line applied to the hives it names, in memory: the hives are
// written only when the whole script has been read without fault.
class Applier : public TextSink {
 public:
  Applier(HiveStore::Writer& w, bool classesDat) : w_(w), classesDat_(classesDat) {}

  std::string key(size_t, std::string_view path, bool remove) override {
    Root root = Root::LocalMachine;
    std::string err = checkKey(path, remove, parts_, root);
    if (!err.empty()) return err;
    HiveStore::place(root, parts_, classesDat_, place_);
    const auto& want = place_.path;
    Key* k = &top(place_.hive);
    cur_ = nullptr;
    if (!remove) {
      // Scripts name neighbouring keys one after the other: start from
      // what the previous key line already found. The views point into the
      // script, which stays put.
      size_t same = 0;
      if (chainHive_ == place_.hive)
        while (same < want.size() && same < chainPath_.size() && want[same] == chainPath_[same]) ++same;
      chainPath_.resize(same);
      chain_.resize(same);
      if (same) k = chain_.back();
      for (size_t i = same; i < want.size(); ++i) {
        k = &k->addChild(want[i]);
        chainPath_.push_back(want[i]);
        chain_.push_back(k);
      }
      chainHive_ = place_.hive;
      cur_ = k;
      return {};
    }
    chainPath_.clear();
    chain_.clear();
    if (want.empty()) {  // Software\Classes kept in Classes.dat: empty that hive
      while (k->childCount()) k->removeChild(k->child(0).name());
      while (k->valueCount()) k->removeValue(k->value(0).name);
    } else {
      for (size_t i = 0; k && i + 1 < want.size(); ++i) k = k->findChild(want[i]);
      if (k) k->removeChild(want.back());
    }
    return {};
  }

  std::string value(size_t, std::string_view name, uint32_t type, std::string_view data) override {
    cur_->setValue(name, type, data);
    return {};
  }

  std::string removeValue(size_t, std::string_view name) override {
    cur_->removeValue(name);
    return {};
  }

 private:
  Key& top(HiveId id) {
    if (!hives_[id]) hives_[id] = &w_.edit(id);
    return hives_[id]->top();
  }

  HiveStore::Writer& w_;
  bool classesDat_;
  std::array<Hive*, kHiveCount> hives_{};
  std::vector<std::string_view> parts_;
  Place place_{kSystemHive, {}};
  Key* cur_ = nullptr;
  HiveId chainHive_ = kSystemHive;
  std::vector<std::string_view> chainPath_;
  std::vector<Key*> chain_;
};

}  // namespace

ImportResult importScript(const Machine& m, std::string_view text, std::string_view fileLabel) {
  ImportResult r;
  try {
    HiveStore store(m);
    HiveStore::Writer w(store);
    Applier apply(w, store.hasClassesDat());
    if (auto err = parseText(text, apply)) {
      // The writer drops the changes made so far; no file was touched.
      r.error = std::string(fileLabel) + ":" + std::to_string(err->line) + ": " + err->what;
      return r;
    }
    w.commit();
    r.ok = true;
  } catch (const HiveError& e) {
    r.error = e.what();
  } catch (const Error& e) {
    r.error = e.what();
  }
  return r;
}

namespace {

struct Exporter {
  HiveStore& store;
  bool classesDat;
  TextBuffer out;

  // Under HKEY_LOCAL_MACHINE, Software\Classes of a machine with Classes.dat
  // is that file's hive.
  void tree(std::string& path, const Key& k, bool withSelf, int depthInHklm) {
    if (withSelf || k.valueCount() > 0) writeKey(out, path, k);
    bool classesHere = false;
    for (size_t i = 0; i < k.childCount(); ++i) {
      const Key& c = k.child(i);
      size_t len = path.size();
      path += '\\';
      path += c.name();
      if (depthInHklm == 1 && classesDat && sameName(c.name(), "Classes")) {
        classesHere = true;
        tree(path, store.read(kClassesHive).top(), true, -1);
      } else {
        tree(path, c, true, depthInHklm >= 0 ? depthInHklm + 1 : -1);
      }
      path.resize(len);
    }
    if (depthInHklm == 1 && classesDat && !classesHere) {
      size_t len = path.size();
      path += "\\Classes";
      tree(path, store.read(kClassesHive).top(), true, -1);
      path.resize(len);
    }
  }
};

}  // namespace

std::optional<std::string> exportText(const Machine& m, std::string_view key) {
  HiveStore store(m);
  Exporter ex{store, store.hasClassesDat(), {}};
  ex.out.append(kRegedit4Header);
  ex.out.append("\r\n\r\n");
  if (key.empty()) {
    std::string path = "HKEY_LOCAL_MACHINE";
    ex.tree(path, store.read(kSystemHive).top(), false, 0);
    path = "HKEY_USERS";
    ex.tree(path, store.read(kUserHive).top(), false, -1);
    return std::string(ex.out.view());
  }
  auto parts = splitPath(key);
  std::optional<Root> root = parts.empty() ? std::nullopt : rootByName(parts[0]);
  if (!root) throw std::invalid_argument("unknown root key in \"" + std::string(key) + "\"");
  std::vector<std::string_view> rest(parts.begin() + 1, parts.end());
  Place p = HiveStore::place(*root, rest, ex.classesDat);
  const Key* k = &store.read(p.hive).top();
  std::string path(rootName(*root));
  for (size_t i = 0; i < p.path.size(); ++i) {
    k = k->findChild(p.path[i]);
    if (!k) return std::nullopt;
  }
  // The path as stored, without what the root's mapping adds in front.
  size_t added = p.path.size() >= rest.size() ? p.path.size() - rest.size() : 0;
  size_t dropped = rest.size() > p.path.size() ? rest.size() - p.path.size() : 0;
  for (size_t i = 0; i < dropped; ++i) {
    path += '\\';
    path += rest[i];
  }
  const Key* walkKey = &store.read(p.hive).top();
  for (size_t i = 0; i < p.path.size(); ++i) {
    walkKey = walkKey->findChild(p.path[i]);
    if (i >= added) {
      path += '\\';
      path += walkKey->name();
    }
  }
  int depth = -1;
  if (*root == Root::LocalMachine && p.hive == kSystemHive) depth = static_cast<int>(rest.size());
  ex.tree(path, *k, true, depth);
  return std::string(ex.out.view());
}

}  // namespace platform::hive
