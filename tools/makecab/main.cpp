// Makecab: makes one cabinet as a directive file says.
//   Makecab /f DIRECTIVE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cab/error.h"
#include "cab/stream.h"
#include "cab/writer.h"
#include "platform/error.h"
#include "platform/fileset.h"
#include "tools/cabfiles/cabfiles.h"
#include "tools/cabfiles/streams.h"
#include "tools/makecab/directive.h"

namespace {

using cabfiles::Files;

int fail(const std::string& message) {
  std::fprintf(stderr, "Makecab: %s\n", Files::show(message).c_str());
  return 1;
}

int usage() {
  std::fprintf(stderr, "usage: Makecab /f DIRECTIVE\n");
  return 2;
}

std::string lineRef(const std::string& directive, int line) {
  return line ? directive + ":" + std::to_string(line) + ": " : directive + ": ";
}

int makeCabinet(const Files& files, const std::string& directivePath) {
  if (!files.isFile(directivePath)) return fail(directivePath + ": the directive file does not exist");
  std::string text;
  {
    std::unique_ptr<cab::InStream> in = files.open(directivePath);
    text.resize(in->size());
    if (in->read(text.data(), text.size()) != text.size()) return fail(directivePath + ": cannot be read");
  }
  makecab::Directive d = makecab::parseDirective(text, directivePath);

  // Relative paths are taken from the directive's own folder.
  std::string base = files.dirName(directivePath);
  auto resolve = [&](const std::string& p) { return files.isAbsolute(p) ? p : files.join(base, p); };

  std::string folder = d.diskDirectory.empty() ? base : resolve(d.diskDirectory);
  if (!files.isFolder(folder))
    return fail(lineRef(directivePath, d.diskDirectoryLine) + "the folder " + folder + " does not exist");
  std::string target = files.join(folder, d.cabinetName);

  std::vector<cab::Source> sources;
  for (auto& f : d.files) {
    std::string path = resolve(f.source);
    std::string where = lineRef(directivePath, f.line);
    cab::Source s;
    try {
      if (!files.isFile(path)) return fail(where + "cannot read " + path + ": the file does not exist");
      s.data = files.open(path);
      cabfiles::FileInfo info = files.info(path);
      s.year = info.time.year;
      s.month = info.time.month;
      s.day = info.time.day;
      s.hour = info.time.hour;
      s.minute = info.time.minute;
      s.second = info.time.second;
      s.attributes = info.attributes;
    } catch (const std::exception& e) {
      return fail(where + e.what());
    }
    s.name = f.member;
    s.label = path;
    sources.push_back(std::move(s));
  }

  // The cabinet never takes the place of the directive, of a source of this
  // run or of a read-only file.
  std::string where = lineRef(directivePath, d.cabinetNameLine);
  if (files.sameFile(target, directivePath))
    return fail(where + "the cabinet " + target + " would replace the directive itself; nothing written");
  for (const cab::Source& src : sources)
    if (files.sameFile(target, src.label))
      return fail(where + "the cabinet " + target + " would replace " + src.label +
                  ", a source of this cabinet; nothing written");

  cab::WriteOptions o;
  o.compression = d.compression;
  o.reserve = d.reserve;
  o.maxSize = d.maxDiskSize;
  o.label = target;
  // For benchmarks: the output is the same on any number of threads.
  if (const char* t = std::getenv("BRAKVEL9X_CAB_THREADS")) o.threads = static_cast<unsigned>(std::atoi(t));
  cab::WriteResult r;
  try {
    std::vector<platform::FileSet::File> one = {{d.cabinetName, 0}};
    std::unique_ptr<platform::FileSet> set = files.newFiles(folder, std::move(one));
    if (files.onImage(folder)) {
      // Made whole on the host first: the headers are patched last, and an
      // image's file is written front to back.
      cabfiles::SpoolOutStream spool(target);
      r = cab::write(sources, spool, o);
      spool.copyTo([&](std::string_view piece) { set->write(0, piece); });
    } else {
      cab::FileOutStream out(set->create(0), target);
      r = cab::write(sources, out, o);
      out.flush();
    }
    set->setInfo(0, platform::DateTime::now(), platform::kArchive);
    set->commit();
  } catch (const platform::Error& e) {
    if (e.number() == platform::kPathFileAccess && files.isFile(target) &&
        (files.info(target).attributes & platform::kReadOnly))
      return fail(where + "the cabinet " + target + " exists and is read-only; it is not replaced");
    return fail(where + e.what());
  }

  double ratio = r.inBytes ? 100.0 * static_cast<double>(r.outBytes) / static_cast<double>(r.inBytes) : 100.0;
  std::printf("Makecab: %s: %zu files, %llu bytes in, %llu bytes out (%.1f%%), %s, reserve %u\n",
              Files::show(target).c_str(), sources.size(), static_cast<unsigned long long>(r.inBytes),
              static_cast<unsigned long long>(r.outBytes), ratio,
              d.compression == cab::Compression::MSZIP ? "MSZIP" : "stored", d.reserve);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Files files = Files::fromEnvironment();
    std::string directive;
    for (int i = 1; i < argc; ++i) {
      std::string a = argv[i];
      if ((a == "/f" || a == "/F" || a == "-f" || a == "-F") && i + 1 < argc) {
        if (!directive.empty()) return usage();
        directive = files.argument(argv[++i]);
      } else {
        return usage();
      }
    }
    if (directive.empty()) return usage();
    return makeCabinet(files, directive);
  } catch (const makecab::DirectiveError& e) {
    return fail(e.what());
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}
