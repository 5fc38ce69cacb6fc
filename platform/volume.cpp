#include "platform/volume.h"

#include <cstring>

#include "platform/text.h"

namespace platform {

std::optional<FileEntry> Volume::find(std::string_view path) {
  std::vector<FileEntry> found = walk(path);
  size_t want = volume::split(path, std::string(path)).size();
  if (found.size() != want) return std::nullopt;
  if (found.empty()) {
    FileEntry root;
    root.attributes = kDirectory;
    return root;
  }
  return found.back();
}

std::string Volume::readAll(std::string_view path) {
  std::unique_ptr<FileReader> r = open(path);
  std::string out(r->size(), '\0');
  size_t done = 0;
  while (done < out.size()) {
    size_t n = r->readAt(done, out.data() + done, out.size() - done);
    if (n == 0) break;
    done += n;
  }
  out.resize(done);
  return out;
}

void Volume::commitSetAndRemove(const std::vector<FileWriter*>& files, const std::vector<std::string>& removed) {
  if (!files.empty()) commitSet(files);
  for (const std::string& path : removed) {
    std::optional<FileEntry> e = find(path);
    if (!e) continue;
    if (e->attributes & kReadOnly) setAttributes(path, e->attributes & static_cast<uint8_t>(~kReadOnly));
    remove(path);
  }
}

void Volume::removeTree(std::string_view path) {
  std::optional<FileEntry> e = find(path);
  if (!e) throw Error(kPathNotFound, std::string(path));
  if (!e->isFolder()) {
    if (e->attributes & kReadOnly) setAttributes(path, e->attributes & static_cast<uint8_t>(~kReadOnly));
    remove(path);
    return;
  }
  std::string prefix(path);
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  for (const FileEntry& c : list(path)) removeTree(prefix + c.name);
  if (!volume::split(path, std::string(path)).empty()) removeFolder(path);
}

namespace volume {

std::vector<std::string> split(std::string_view path, const std::string& shown) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find_first_of("\\/", i);
    if (j == std::string_view::npos) j = path.size();
    std::string_view part = path.substr(i, j - i);
    if (part.find('\0') != std::string_view::npos) throw Error(kBadFileNameSyntax, shown);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    i = j + 1;
  }
  return parts;
}

std::string_view withoutTrailing(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

namespace {

bool isDeviceName(std::string_view name) {
  std::string stem = upperAnsi(withoutTrailing(name.substr(0, name.find('.'))));
  for (const char* d : {"CON", "PRN", "AUX", "NUL", "CLOCK$"}) {
    if (stem == d) return true;
  }
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
         stem[3] <= '9';
}

}  // namespace

std::string checkNewName(std::string_view name, const std::string& shown) {
  std::string_view plain = withoutTrailing(name);
  if (plain.empty()) throw Error(kBadFileNameSyntax, shown);
  for (char ch : plain) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || std::strchr("<>:\"|?*/\\", ch)) throw Error(kBadFileNameSyntax, shown);
  }
  if (plain.size() > 255) throw Error(kBadFileName, shown);
  if (isDeviceName(plain)) throw Error(kBadFileNameSyntax, shown);
  return std::string(plain);
}

bool matches(std::string_view component, const FileEntry& e) {
  std::string_view c = withoutTrailing(component);
  if (c.empty()) return false;
  return equalsNoCase(c, e.name) || equalsNoCase(c, e.shortName);
}

std::string shown(const std::string& root, std::string_view path) {
  std::string out = root;
  std::vector<std::string> parts = split(path, root + std::string(path));
  if (parts.empty()) return out + "\\";
  for (const std::string& p : parts) out += "\\" + p;
  return out;
}

}  // namespace volume

}  // namespace platform
