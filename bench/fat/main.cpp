// fat_bench: the FAT library against the host and mtools.
//   fat_bench [WORK_DIR [ROUNDS]]
// 1. A 50 MB file written into and read out of a FAT32 image (4 KB
//    clusters, as Windows 98 formats FAT32), against cp between host files.
//    Writing a new file and replacing one are timed apart: a replacement
//    flushes the image before the old file is let go, as a host replacement
//    flushes its temporary; cp + sync is its peer.
// 2. The rescue floppy's files (the members of util/ad.kvt beside this
//    build, and an Autoexec.bat of the program's size) written into a fresh
//    1.44 MB image by a process of ours, against mcopy of the same files;
//    and as the program writes the disk: pux extracting ad.kvt into A: of a
//    machine whose A: is the image, against mcopy of the members.
// Rounds alternate ours and the peer; medians are printed with the ratios
// and goals. WORK_DIR defaults to $TMPDIR or /tmp.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cab/reader.h"
#include "cab/stream.h"
#include "platform/fat/fat_volume.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int run(const std::vector<std::string>& argv) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void check(int status, const std::string& what) {
  if (status != 0) {
    std::fprintf(stderr, "fat_bench: %s failed (status %d)\n", what.c_str(), status);
    std::exit(1);
  }
}

double seconds(const std::function<void()>& f) {
  auto t0 = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& b) { std::ofstream(p, std::ios::binary | std::ios::trunc) << b; }

// Copies a host file into the image through the library, in pieces of 1 MB.
void copyIn(platform::Volume& v, const fs::path& host, const std::string& path) {
  std::ifstream in(host, std::ios::binary);
  auto w = v.create(path);
  std::vector<char> buf(static_cast<size_t>(std::min<uintmax_t>(fs::file_size(host), 1 << 20)) + 1);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    w->write(std::string_view(buf.data(), static_cast<size_t>(in.gcount())));
  }
  w->commit();
}

void copyOut(platform::Volume& v, const std::string& path, const fs::path& host) {
  auto r = v.open(path);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  std::vector<char> buf(1 << 20);
  for (uint64_t at = 0; at < r->size();) {
    size_t n = r->readAt(at, buf.data(), buf.size());
    out.write(buf.data(), static_cast<std::streamsize>(n));
    at += n;
  }
}

// The rescue disk's files: ad.kvt's members, or files of their sizes.
std::vector<std::pair<std::string, std::string>> rescueFiles(const fs::path& self) {
  std::vector<std::pair<std::string, std::string>> files;
  fs::path kvt = self.parent_path().parent_path() / "share" / "brakvel9x" / "program" / "util" / "ad.kvt";
  std::error_code ec;
  if (fs::exists(kvt, ec)) {
    cab::Reader r(std::make_unique<cab::FileInStream>(kvt, kvt.string()), kvt.string());
    for (size_t i = 0; i < r.members().size(); ++i) {
      cab::MemoryOutStream out;
      r.extract(i, out);
      files.emplace_back(r.members()[i].name, out.bytes());
    }
    std::printf("rescue files from %s\n", kvt.string().c_str());
  } else {
    files = {{"DOSRESET.COM", std::string(29, 'd')}, {"README.TXT", std::string(1797, 'r')}};
    std::printf("rescue files: %s not built, files of the same sizes\n", kvt.string().c_str());
  }
  std::string autoexec;
  for (int i = 0; i < 72; ++i) autoexec += "ATTRIB C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\SYSTEM.DAT -R -A -H -S\r\n";
  files.emplace_back("AUTOEXEC.BAT", autoexec.substr(0, 2300));
  return files;
}

int putFiles(int argc, char** argv) {
  // fat_bench --put IMAGE FILE...: what the extractor does for a disk: every
  // member written, then all of them committed as a set.
  auto v = platform::fat::FatVolume::openImage(argv[2], {"A:"});
  std::vector<std::unique_ptr<platform::FileWriter>> writers;
  std::vector<platform::FileWriter*> set;
  for (int i = 3; i < argc; ++i) {
    writers.push_back(v->create(fs::path(argv[i]).filename().string()));
    writers.back()->write(slurp(argv[i]));
    set.push_back(writers.back().get());
  }
  v->commitSet(set);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--put") return putFiles(argc, argv);
  fs::path self = fs::canonical("/proc/self/exe");
  const char* tmp = std::getenv("TMPDIR");
  fs::path work = (argc > 1 ? fs::path(argv[1]) : fs::path(tmp && *tmp ? tmp : "/tmp")) / "fat_bench";
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  fs::remove_all(work);
  fs::create_directories(work);

  // --- 50 MB on FAT32 ------------------------------------------------------------
  fs::path img = work / "disk32.img", src = work / "src.bin", dst = work / "dst.bin", out = work / "out.bin";
  check(run({"mkfs.fat", "-F", "32", "-s", "8", "-C", img.string(), "307200"}), "mkfs.fat");
  {
    std::string data(50u << 20, '\0');
    std::mt19937 rng(7);
    for (size_t i = 0; i < data.size(); i += 4) {
      uint32_t x = rng();
      std::memcpy(data.data() + i, &x, 4);
    }
    spit(src, data);
  }
  std::vector<double> newFat, replaceFat, readFat, cpNew, cpReplace, cpRead;
  for (int i = 0; i < rounds; ++i) {
    auto v = platform::fat::FatVolume::openImage(img, {"C:"});
    if (v->find("BIG.BIN")) v->remove("BIG.BIN");
    newFat.push_back(seconds([&] { copyIn(*v, src, "BIG.BIN"); }));
    fs::remove(dst);
    cpNew.push_back(seconds([&] { check(run({"cp", src.string(), dst.string()}), "cp"); }));
    replaceFat.push_back(seconds([&] { copyIn(*v, src, "BIG.BIN"); }));
    cpReplace.push_back(seconds([&] {
      check(run({"cp", src.string(), dst.string()}), "cp");
      check(run({"sync", dst.string()}), "sync");
    }));
    readFat.push_back(seconds([&] { copyOut(*v, "BIG.BIN", out); }));
    cpRead.push_back(seconds([&] { check(run({"cp", dst.string(), out.string()}), "cp"); }));
    v.reset();
    if (slurp(out).size() != fs::file_size(src)) check(1, "reading back");
  }
  auto line = [](const char* what, const std::vector<double>& t) {
    std::printf("  %-28s median %7.3f s  (%6.1f MB/s)\n", what, median(t), 50.0 / median(t));
  };
  std::printf("50 MB file, FAT32 image with 4 KB clusters, %d alternating rounds\n", rounds);
  line("write new, library", newFat);
  line("cp to a new host file", cpNew);
  line("replace, library", replaceFat);
  line("cp + sync over a host file", cpReplace);
  line("read, library", readFat);
  line("cp host to host", cpRead);
  std::printf("  ratios (goal <= 3): new %.2f, replace %.2f, read %.2f\n\n", median(newFat) / median(cpNew),
              median(replaceFat) / median(cpReplace), median(readFat) / median(cpRead));

  // --- the rescue floppy ---------------------------------------------------------
  std::vector<std::pair<std::string, std::string>> files = rescueFiles(self);
  std::vector<std::string> hostFiles;
  for (auto& [name, bytes] : files) {
    spit(work / name, bytes);
    hostFiles.push_back((work / name).string());
    std::printf("  %-14s %6zu bytes\n", name.c_str(), bytes.size());
  }
  fs::path blank = work / "blank.img", floppy = work / "floppy.img";
  platform::fat::createFloppyImage(blank);
  std::vector<double> ours, mcopy, inProcess;
  int floppyRounds = rounds * 3;
  for (int i = 0; i < floppyRounds; ++i) {
    fs::copy_file(blank, floppy, fs::copy_options::overwrite_existing);
    std::vector<std::string> argv{self.string(), "--put", floppy.string()};
    argv.insert(argv.end(), hostFiles.begin(), hostFiles.end());
    ours.push_back(seconds([&] { check(run(argv), "fat_bench --put"); }));
    fs::copy_file(blank, floppy, fs::copy_options::overwrite_existing);
    std::vector<std::string> m{"mcopy", "-i", floppy.string()};
    m.insert(m.end(), hostFiles.begin(), hostFiles.end());
    m.push_back("::");
    mcopy.push_back(seconds([&] { check(run(m), "mcopy"); }));
    fs::copy_file(blank, floppy, fs::copy_options::overwrite_existing);
    inProcess.push_back(seconds([&] {
      auto v = platform::fat::FatVolume::openImage(floppy, {"A:"});
      for (auto& [name, bytes] : files) v->writeInPlace(name, bytes, false);
    }));
  }
  std::printf("rescue floppy files into a fresh 1.44 MB image, %d alternating rounds\n", floppyRounds);
  std::printf("  %-28s median %7.2f ms\n", "a process of ours", median(ours) * 1000);
  std::printf("  %-28s median %7.2f ms\n", "mcopy", median(mcopy) * 1000);
  std::printf("  %-28s median %7.2f ms\n", "in this process", median(inProcess) * 1000);
  std::printf("  ratio process/mcopy %.2f (goal <= 1.5)\n", median(ours) / median(mcopy));

  // The extractor itself, as the rescue disk is written: ad.kvt on C:, A:
  // the floppy image of the machine.
  fs::path kvt = self.parent_path().parent_path() / "share" / "brakvel9x" / "program" / "util" / "ad.kvt";
  fs::path pux = self.parent_path() / "pux";
  std::error_code ec;
  if (fs::exists(kvt, ec) && fs::exists(pux, ec)) {
    fs::path machine = work / "machine";
    fs::create_directories(machine / "c");
    fs::copy_file(kvt, machine / "c" / "AD.KVT", fs::copy_options::overwrite_existing);
    spit(machine / "machine.ini", "[Machine]\nVersion=98\n[Drives]\nC=c\nA=floppy.img\n");
    ::setenv("BRAKVEL9X_MACHINE", machine.string().c_str(), 1);
    std::vector<std::string> members;
    for (auto& [name, bytes] : files)
      if (name != "AUTOEXEC.BAT") members.push_back((work / name).string());
    std::vector<double> puxTimes, mcopyMembers;
    for (int i = 0; i < floppyRounds; ++i) {
      fs::copy_file(blank, machine / "floppy.img", fs::copy_options::overwrite_existing);
      puxTimes.push_back(seconds([&] { check(run({pux.string(), "C:\\AD.KVT", "/Y", "/E", "/L", "A:\\"}), "pux"); }));
      fs::copy_file(blank, floppy, fs::copy_options::overwrite_existing);
      std::vector<std::string> m{"mcopy", "-i", floppy.string()};
      m.insert(m.end(), members.begin(), members.end());
      m.push_back("::");
      mcopyMembers.push_back(seconds([&] { check(run(m), "mcopy"); }));
    }
    std::printf("ad.kvt extracted onto the floppy image of a machine, %d alternating rounds\n", floppyRounds);
    std::printf("  %-28s median %7.2f ms\n", "pux C:\\AD.KVT /Y /E /L A:\\", median(puxTimes) * 1000);
    std::printf("  %-28s median %7.2f ms\n", "mcopy of the members", median(mcopyMembers) * 1000);
    std::printf("  ratio pux/mcopy %.2f (goal <= 1.5)\n", median(puxTimes) / median(mcopyMembers));
  }
  if (!std::getenv("FAT_BENCH_KEEP")) fs::remove_all(work);
  return 0;
}
