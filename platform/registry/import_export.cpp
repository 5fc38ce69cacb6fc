#include "platform/registry/import_export.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/error.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/script_text.h"

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
        Key* n = k->findChild(want[i]);
        if (!n) {
          if (std::string why = keyNameFault(want[i]); !why.empty()) return why;
          n = &k->addChild(want[i]);
        }
        k = n;
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
    if (std::string why = valueFault(*cur_, name, data); !why.empty()) return why;
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

bool exportText(const Machine& m, std::string_view key, const std::function<void(std::string_view)>& put) {
  HiveStore store(m);
  const bool classesDat = store.hasClassesDat();
  const Key& system = store.read(kSystemHive).top();
  const Key* classes = classesDat ? &store.read(kClassesHive).top() : nullptr;

  // Under HKEY_LOCAL_MACHINE, SOFTWARE\Classes of a machine with
  // Classes.dat is that file's hive. hklmDepth: how far below
  // HKEY_LOCAL_MACHINE the exported key lies.
  auto withClasses = [&](size_t hklmDepth) -> ChildrenOf {
    return [&, hklmDepth](const Key& k, size_t depth, Subkeys& out) {
      bool software = hklmDepth + depth == 1 && sameName(k.name(), "SOFTWARE");
      bool placed = false;
      for (size_t i = 0; i < k.childCount(); ++i) {
        const Key& c = k.child(i);
        if (software && !placed && sameName(c.name(), "Classes")) {
          out.emplace_back(c.name(), classes);
          placed = true;
        } else {
          out.emplace_back(c.name(), &c);
        }
      }
      if (software && !placed) out.emplace_back("Classes", classes);
    };
  };

  TextBuffer out;
  out.spillTo(256 << 10, put);
  out.append(kRegedit4Header);
  out.append("\r\n\r\n");
  if (key.empty()) {
    const Key& users = store.read(kUserHive).top();
    writeTree(out, "HKEY_LOCAL_MACHINE", system, false, classes ? withClasses(0) : ChildrenOf());
    writeTree(out, "HKEY_USERS", users, false);
    out.flushSpill();
    return true;
  }
  auto parts = splitPath(key);
  std::optional<Root> root = parts.empty() ? std::nullopt : rootByName(parts[0]);
  if (!root) throw std::invalid_argument("unknown root key in \"" + std::string(key) + "\"");
  std::vector<std::string_view> rest(parts.begin() + 1, parts.end());
  Place p = HiveStore::place(*root, rest, classesDat);
  // The path as the user named it, each key's name as stored; what the
  // root's mapping adds in front (HKEY_CURRENT_USER's .DEFAULT) or takes
  // away (SOFTWARE\Classes kept in Classes.dat) shows as given.
  const size_t added = p.path.size() > rest.size() ? p.path.size() - rest.size() : 0;
  const size_t dropped = rest.size() > p.path.size() ? rest.size() - p.path.size() : 0;
  std::string path(rootName(*root));
  for (size_t i = 0; i < dropped; ++i) {
    path += '\\';
    path += rest[i];
  }
  const Key* k = &store.read(p.hive).top();
  for (size_t i = 0; i < p.path.size(); ++i) {
    k = k->findChild(p.path[i]);
    if (!k) return false;
    if (i >= added) {
      path += '\\';
      path += k->name();
    }
  }
  const bool inSystem = *root == Root::LocalMachine && p.hive == kSystemHive;
  writeTree(out, std::move(path), *k, true, inSystem && classes ? withClasses(rest.size()) : ChildrenOf());
  out.flushSpill();
  return true;
}

}  // namespace platform::hive
