// spyware_bench: the definition update of the real program (the script
// driver on a fresh machine, its real time limits) against servers on
// 127.0.0.1 that misbehave.
//   spyware_bench [BIN_DIR [WORK_DIR]]
// BIN_DIR holds brakvel9x-machine and brakvel9x-script (default: beside
// this program); WORK_DIR takes the machine (default $TMPDIR or /tmp).
// Prints, for each server, the program's time from the click to its
// message, its peak memory, what the server sent and the message.
// SPYWARE_BENCH_KEEP=1 leaves the work folder in place.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "LocalHttpServer.h"

namespace fs = std::filesystem;

namespace {

struct Run {
  double seconds = 0;
  long maxRssKiB = 0;
  int status = -1;
  std::string transcript;
};

// Runs argv with extra environment; its transcript, wall time, peak memory.
Run run(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& out) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
    if (!std::freopen(out.c_str(), "w", stdout)) _exit(127);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
  }
  int st = 0;
  struct rusage ru {};
  ::wait4(pid, &st, 0, &ru);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.maxRssKiB = ru.ru_maxrss;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream in(out, std::ios::binary);
  r.transcript.assign(std::istreambuf_iterator<char>(in), {});
  return r;
}

std::string line(const std::string& transcript, const std::string& prefix) {
  const size_t at = transcript.rfind(prefix);
  if (at == std::string::npos) return "(none)";
  return transcript.substr(at, transcript.find('\n', at) - at);
}

std::string encoded(const std::string& plain) {
  std::string out = plain;
  for (char& c : out) c = static_cast<char>(255 - static_cast<unsigned char>(c));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path bin = argc > 1 ? fs::absolute(argv[1]) : fs::read_symlink("/proc/self/exe").parent_path();
  const char* tmp = std::getenv("TMPDIR");
  const fs::path base = argc > 2 ? fs::path(argv[2]) : fs::path(tmp && *tmp ? tmp : "/tmp");
  std::string tmpl = (base / "spyware-bench-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) {
    std::perror("spyware_bench: mkdtemp");
    return 1;
  }
  const fs::path work = tmpl;
  const fs::path machine = work / "m";
  Run init = run({(bin / "brakvel9x-machine").string(), "init", machine.string()}, {}, work / "init.txt");
  if (init.status != 0) {
    std::fprintf(stderr, "spyware_bench: brakvel9x-machine init failed:\n%s\n", init.transcript.c_str());
    return 1;
  }
  const fs::path actions = work / "actions.txt";
  std::ofstream(actions) << "click TipOfDay.SmartNetButton2\nclick frmIntro.SmartNetButton1\n"
                            "click tlbCmdSpy\nclick cmdInternetUpdate\nclose\n";

  const std::string clsid =
      "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility\\"
      "{5DCE4506-356D-41C7-8096-0BAAAA64B48D}";
  const std::vector<LocalHttpServer::Response> good = {
      {200, encoded("REGEDIT4\r\n\r\n[" + clsid + "]\r\n\"Compatibility Flags\"=dword:00000400\r\n")},
      {200, encoded("Gator\r\n")},
      {200, encoded("REGEDIT4\r\n\r\n[" + clsid + "]\r\n\"Compatibility Flags\"=-\r\n")},
  };
  const std::vector<std::string> paths = {"/spydef/antispy.enc", "/spydef/spylist.enc", "/spydef/undospy.enc"};
  struct Case {
    const char* what;
    LocalHttpServer::Response antispy;
  };
  const Case cases[] = {
      {"good definitions", good[0]},
      {"a body of 200 MiB", {200, "", false, 200ull << 20}},
      {"a server that drips 2 bytes a second", {200, good[0].body + std::string(2000, '\xDF'), false, 0, 500}},
      {"a server that sends nothing", {200, "", false, 0, 0, true}},
  };
  std::string ini;
  {
    std::ifstream in(machine / "machine.ini", std::ios::binary);
    ini.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::printf("%-40s %9s %10s %12s  %s\n", "update server", "seconds", "peak MiB", "sent bytes", "message");
  for (const Case& c : cases) {
    LocalHttpServer server;
    server.set(paths[0], c.antispy);
    server.set(paths[1], good[1]);
    server.set(paths[2], good[2]);
    std::ofstream(machine / "machine.ini", std::ios::binary | std::ios::trunc)
        << ini.substr(0, ini.find("[Internet]")) << "[Internet]\nConnection=lan\nWorkMode=online\nUpdateServer="
        << server.baseUrl() << "\n";
    const Run r = run({(bin / "brakvel9x-script").string(), actions.string()},
                      {"BRAKVEL9X_MACHINE=" + machine.string()}, work / "transcript.txt");
    std::printf("%-40s %9.1f %10.1f %12llu  %s\n", c.what, r.seconds, static_cast<double>(r.maxRssKiB) / 1024.0,
                static_cast<unsigned long long>(server.bodyBytesSent()),
                line(r.transcript, "message: ").c_str());
    if (r.status != 0) std::printf("  (the script driver ended with status %d)\n", r.status);
  }
  std::printf("seconds: from the start of the program to its end (the update is one click; the\n"
              "program's limit for the whole update is 60 s). peak MiB: the program's peak resident memory.\n");
  if (!std::getenv("SPYWARE_BENCH_KEEP")) {
    std::error_code ec;
    fs::remove_all(work, ec);
  }
  return 0;
}
