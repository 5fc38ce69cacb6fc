// pux: the cabinet extractor.
//   pux CABINET /Y /L FOLDER MEMBER...   the named members
//   pux CABINET /Y /E /L FOLDER          every member
//   pux /D CABINET                       list the members
// /Y replaces existing files; without it an existing file is kept and the
// run fails. Nothing is written unless every member came out whole, and
// then all of them replace what is there at once. A read-only file is never
// replaced, and a cabinet with a member name Windows cannot hold is refused
// whole. Exit status 0: done; 1: failed; 2: usage; 3: the disk is full;
// 4: the disk is write-protected.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cab/error.h"
#include "cab/reader.h"
#include "cab/stream.h"
#include "platform/error.h"
#include "platform/fileset.h"
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

// Exit statuses besides 0 (done), 1 (failed) and 2 (usage).
constexpr int kDiskFullStatus = 3;
constexpr int kWriteProtectedStatus = 4;

// Why a member cannot be written as it is named, or empty text.
std::string nameProblem(const std::string& name) {
  if (!staysInside(name)) return "leaves the target folder";
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    std::string why = platform::fileNameProblem(name.substr(start, end - start));
    if (!why.empty()) return "cannot stand on Windows: " + why;
    start = end + 1;
  }
  return {};
}

// The member name as Windows compares names: letter case and the kind of
// separator do not count.
std::string windowsKey(std::string name) {
  for (auto& c : name)
    if (c == '/') c = '\\';
  return platform::upperAnsi(name);
}

// A write the platform refused, as a message and an exit status.
int writeFailed(const Files& files, const Options& o, const platform::Error& e) {
  std::string where = e.detail().empty() ? o.folder : e.detail();
  char drive = files.onMachine() && o.folder.size() >= 2 && o.folder[1] == ':' ? o.folder[0] : 0;
  bool floppy = drive && files.machine()->isFloppy(drive);
  std::string disk = floppy ? std::string("the disk in ") + static_cast<char>(std::toupper(drive)) + ":" : "the disk";
  switch (e.number()) {
    case platform::kDiskFull:
      fail(where + ": " + disk + " is full; nothing extracted");
      return kDiskFullStatus;
    case platform::kDiskNotReady:
      return fail(where + ": there is no disk in drive " + std::string(1, static_cast<char>(std::toupper(drive))) +
                  ":; nothing extracted");
    case platform::kPermissionDenied:
      if (floppy && platform::isWriteProtected(*files.machine(), drive)) {
        fail(where + ": " + disk + " is write-protected; nothing extracted");
        return kWriteProtectedStatus;
      }
      break;
    case platform::kPathFileAccess:
      if (files.isFile(where) && (files.info(where).attributes & platform::kReadOnly))
        return fail(where + " is read-only and is not replaced; nothing extracted");
      if (files.isFolder(where)) return fail(where + " is a folder; nothing extracted");
      break;
    default:
      break;
  }
  return fail(std::string(e.what()) + "; nothing extracted");
}

// A member written through the set's writer: the way onto a disk image,
// whose files have no host descriptor.
class SetOutStream : public cab::OutStream {
 public:
  SetOutStream(platform::FileSet& set, size_t i) : set_(set), i_(i) {}
  void write(const void* buf, size_t n) override {
    set_.write(i_, std::string_view(static_cast<const char*>(buf), n));
    written_ += n;
  }
  void patch(uint64_t, const void*, size_t) override {
    throw cab::CabError(set_.path(i_) + ": an extracted file is written only once");
  }
  uint64_t written() const override { return written_; }

 private:
  platform::FileSet& set_;
  size_t i_;
  uint64_t written_ = 0;
};

int extract(const Files& files, cab::Reader& r, const Options& o) {
  if (!files.isFolder(o.folder)) return fail("the folder " + o.folder + " does not exist");

  std::vector<size_t> wanted;
  if (o.all) {
    for (size_t i = 0; i < r.members().size(); ++i) wanted.push_back(i);
  } else {
    for (auto& name : o.members) {
      auto i = r.find(name);
      if (!i) return fail(o.cabinet + " holds no member " + name);
      if (std::find(wanted.begin(), wanted.end(), *i) == wanted.end()) wanted.push_back(*i);
    }
  }
  // The whole cabinet is refused before anything is written when one name
  // cannot be written as it stands.
  std::map<std::string, std::string> seen;  // Windows key -> member name
  for (size_t i : wanted) {
    const std::string name = memberName(r.members()[i]);
    if (std::string why = nameProblem(name); !why.empty())
      return fail(o.cabinet + ": the member name " + name + " " + why + "; nothing extracted");
    auto [it, fresh] = seen.emplace(windowsKey(name), name);
    if (!fresh)
      return fail(o.cabinet + ": the members " + it->second + " and " + name +
                  " differ only in letter case, and Windows keeps them as one file; nothing extracted");
  }

  std::vector<size_t> members;
  std::vector<platform::FileSet::File> planned;
  bool kept = false;
  for (size_t i : wanted) {
    std::string name = withSeparators(files, memberName(r.members()[i]));
    std::string path = files.join(o.folder, name);
    if (!o.replace && (files.isFile(path) || files.isFolder(path))) {
      std::fprintf(stderr, "pux: %s exists already; not replaced (/Y replaces)\n", Files::show(path).c_str());
      kept = true;
      continue;
    }
    members.push_back(i);
    planned.push_back({memberName(r.members()[i]), r.members()[i].size});
  }
  if (members.empty()) return kept ? 1 : 0;

  std::unique_ptr<platform::FileSet> set;
  try {
    set = files.onMachine() ? std::make_unique<platform::FileSet>(*files.machine(), o.folder, std::move(planned))
                            : std::make_unique<platform::FileSet>(files.toHost(o.folder), std::move(planned));
  } catch (const platform::Error& e) {
    return writeFailed(files, o, e);
  }
  try {
    // Each member is written out and synced while the next one is
    // decompressed; at most two files are open at once.
    std::unique_ptr<cab::FileOutStream> behind;
    const bool onImage = files.onMachine() && o.folder.size() >= 2 && o.folder[1] == ':' &&
                         files.machine()->driveImage(o.folder[0]);
    for (size_t k = 0; onImage && k < members.size(); ++k) {
      SetOutStream out(*set, k);
      r.extract(members[k], out);
    }
    for (size_t k = 0; !onImage && k < members.size(); ++k) {
      auto out = std::make_unique<cab::FileOutStream>(set->create(k), set->path(k));
      r.extract(members[k], *out);
      out->startFlush();
      if (behind) behind->flush();
      behind = std::move(out);
    }
    if (behind) behind->flush();
    behind.reset();
    for (size_t k = 0; k < members.size(); ++k) {
      const cab::Member& m = r.members()[members[k]];
      set->setInfo(k, platform::DateTime{m.year, m.month, m.day, m.hour, m.minute, m.second}, m.attributes);
    }
    // Every member came out whole: now they replace what is there, at once.
    set->commit();
  } catch (const platform::Error& e) {
    return writeFailed(files, o, e);
  }
  for (size_t k = 0; k < members.size(); ++k) std::printf("pux: %s\n", Files::show(set->path(k)).c_str());
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
