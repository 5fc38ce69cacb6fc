#include "app/modListviewFill.h"

#include "platform/files.h"
#include "platform/registry/registry.h"

namespace app {

namespace {

bool endsWith(std::string_view name, std::string_view ending) {
  return name.size() >= ending.size() && name.substr(name.size() - ending.size()) == ending;
}

// Calls add(name, fullPath) for each file of folder ending in ending.
template <class Add>
void eachFile(const platform::Machine& m, std::string_view folder, std::string_view ending, Add add) {
  const std::string dir = AddBackslash(folder);
  platform::DirEnum entries;
  for (std::string name = entries.first(m, dir, platform::kReadOnly | platform::kHidden | platform::kSystem);
       !name.empty(); name = entries.next()) {
    if (endsWith(name, ending)) add(name, dir + name);
  }
}

}  // namespace

std::string AddBackslash(std::string_view path) {
  std::string s(path);
  if (s.empty() || s.back() != '\\') s += '\\';
  return s;
}

void FillArchiveList(Control& list, const platform::Machine& m, std::string_view folder, int icon) {
  list.clearRows();
  eachFile(m, folder, "kvt", [&](const std::string& name, const std::string& path) {
    list.addRow(ListRow{path, name, platform::formatDateTime(m, platform::lastModified(m, path)), icon});
  });
}

void FillWindowsBackupList(Control& list, const platform::Machine& m, std::string_view folder,
                           std::string_view prefix, int icon) {
  list.clearRows();
  eachFile(m, folder, "cab", [&](const std::string&, const std::string& path) {
    // The row is named by the position it takes.
    std::string text = std::string(prefix) + std::to_string(list.rows().size() + 1);
    list.addRow(ListRow{path, std::move(text),
                        platform::formatDateTime(m, platform::lastModified(m, path)), icon});
  });
}

}  // namespace app
