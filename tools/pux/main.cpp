// pux: the cabinet extractor.
//   pux CABINET /Y /L FOLDER MEMBER...   the named members
//   pux CABINET /Y /E /L FOLDER          every member
//   pux /D CABINET                       list the members
// /Y replaces existing files; without it an existing file is kept and the
// run fails. Nothing is written unless every member came out whole.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cab/atomic_file.h"
#include "cab/error.h"
#include "cab/reader.h"
#include "cab/stream.h"
#include "platform/text.h"
#include "tools/cabfiles/cabfiles.h"

namespace {

using cabfiles::Files;

int fail(const std::string& message) {
  std::fprintf(stderr, "pux: %s\n", Files::show(message).c_str());
  return 1;
}

int usage(const std::string& why) {
  std::fprintf(stderr,
               "pux: %s\n"
               "usage: pux CABINET [/Y] /L FOLDER MEMBER...\n"
               "       pux CABINET [/Y] /E /L FOLDER\n"
               "       pux /D CABINET\n",
               Files::show(why).c_str());
  return 2;
}

struct Options {
  std::string cabinet;
  std::vector<std::string> members;
  std::string folder;
  bool replace = false, all = false, list = false;
};

// The stored name as program text.
std::string memberName(const cab::Member& m) {
  return m.utf8Name ? platform::utf8ToAnsi(m.name) : m.name;
}

// A stored name may have folder parts ("sub\file"), but none that leaves
// the target folder.
bool staysInside(const std::string& name) {
  if (name.empty() || name.front() == '\\' || name.front() == '/' || name.find(':') != std::string::npos)
    return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string withSeparators(const Files& files, std::string name) {
  for (auto& c : name)
    if (c == '\\' || c == '/') c = files.onMachine() ? '\\' : '/';
  return name;
}

std::string two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

int list(const cab::Reader& r) {
  std::printf(" Cabinet %s\n\n", Files::show(r.label()).c_str());
  uint64_t total = 0;
  for (auto& m : r.members()) {
    std::string attrs = std::string(m.attributes & 0x20 ? "A" : "-") + (m.attributes & 0x04 ? "S" : "-") +
                        (m.attributes & 0x02 ? "H" : "-") + (m.attributes & 0x01 ? "R" : "-");
    std::printf("%s-%s-%d  %s:%s:%s  %s  %12u  %s\n", two(m.month).c_str(), two(m.day).c_str(), m.year,
                two(m.hour).c_str(), two(m.minute).c_str(), two(m.second).c_str(), attrs.c_str(), m.size,
                Files::show(memberName(m)).c_str());
    total += m.size;
  }
  std::printf("%16zu Files %12llu bytes\n", r.members().size(), static_cast<unsigned long long>(total));
  return 0;
}

int extract(const Files& files, cab::Reader& r, const Options& o) {
  if (!files.isFolder(o.folder)) return fail("the folder " + o.folder + " does not exist");

  std::vector<size_t> wanted;
  if (o.all) {
    for (size_t i = 0; i < r.members().size(); ++i) wanted.push_back(i);
  } else {
    for (auto& name : o.members) {
      auto i = r.find(name);
      if (!i) return fail(o.cabinet + " holds no member " + name);
      wanted.push_back(*i);
    }
  }
  for (size_t i : wanted)
    if (!staysInside(memberName(r.members()[i])))
      return fail(o.cabinet + ": the member name " + memberName(r.members()[i]) +
                  " leaves the target folder; nothing extracted");

  struct Pending {
    size_t index;
    std::string path;
    std::filesystem::path host;
    std::unique_ptr<cab::AtomicFile> file;
  };
  std::vector<Pending> pending;
  std::filesystem::path folderHost = files.toHost(o.folder);
  bool kept = false;
  for (size_t i : wanted) {
    std::string path = files.join(o.folder, withSeparators(files, memberName(r.members()[i])));
    std::filesystem::path host = files.toHost(path);
    std::error_code ec;
    if (std::filesystem::exists(host, ec) && !o.replace) {
      std::fprintf(stderr, "pux: %s exists already; not replaced (/Y replaces)\n", Files::show(path).c_str());
      kept = true;
      continue;
    }
    auto file = std::make_unique<cab::AtomicFile>(host, path, folderHost);
    r.extract(i, file->stream());
    // The member is written out and synced while the next one is
    // decompressed; at most two files are open at once.
    file->startClose();
    if (!pending.empty()) pending.back().file->close();
    pending.push_back({i, path, host, std::move(file)});
  }
  if (!pending.empty()) pending.back().file->close();
  // Every member came out whole: now they may replace what is there.
  for (auto& p : pending) {
    files.makeFolders(files.dirName(p.path));
    files.keepShortName(p.file->tempPath(), p.host);
    p.file->commit();
    const cab::Member& m = r.members()[p.index];
    cabfiles::FileInfo info;
    info.time = platform::DateTime{m.year, m.month, m.day, m.hour, m.minute, m.second};
    info.attributes = m.attributes;
    files.apply(p.path, info);
    std::printf("pux: %s\n", Files::show(p.path).c_str());
  }
  return kept ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Files files = Files::fromEnvironment();
    Options o;
    bool haveFolder = false;
    for (int i = 1; i < argc; ++i) {
      std::string a = files.argument(argv[i]);
      std::string up = platform::upperAnsi(a);
      if (up == "/Y") {
        o.replace = true;
      } else if (up == "/E") {
        o.all = true;
      } else if (up == "/D") {
        o.list = true;
      } else if (up == "/L") {
        if (i + 1 >= argc) return usage("/L needs a folder");
        o.folder = files.argument(argv[++i]);
        haveFolder = true;
      } else if (a.size() > 1 && a[0] == '/' && a.size() == 2) {
        return usage("unknown switch " + a);
      } else if (o.cabinet.empty()) {
        o.cabinet = a;
      } else {
        o.members.push_back(a);
      }
    }
    if (o.cabinet.empty()) return usage("no cabinet named");
    if (o.list && (o.all || !o.members.empty())) return usage("/D lists; it takes no members and no /E");
    if (!o.list && o.all && !o.members.empty()) return usage("/E extracts every member; name none");
    if (!o.list && !o.all && o.members.empty()) return usage("name the members to extract, or give /E");
    if (!o.list && !haveFolder) {
      if (files.onMachine()) return usage("/L FOLDER is needed");
      o.folder = ".";
    }
    if (!files.isFile(o.cabinet)) return fail(o.cabinet + ": the cabinet does not exist");
    cab::Reader r(std::make_unique<cab::FileInStream>(files.toHost(o.cabinet), o.cabinet), o.cabinet);
    return o.list ? list(r) : extract(files, r, o);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}
