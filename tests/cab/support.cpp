#include "support.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

#include "cab/reader.h"
#include "cab/stream.h"

namespace cabtest {

std::string registryText(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  static const char* words[] = {"Software", "Microsoft", "Windows", "CurrentVersion", "Explorer",
                                "Shell Folders", "Control Panel", "Desktop", "Uninstall", "Classes",
                                "CLSID", "InprocServer32", "System", "CurrentControlSet", "Services",
                                "VxD", "Enum", "Network", "Fonts", "International"};
  std::string out = "REGEDIT4\r\n\r\n";
  while (out.size() < n) {
    out += "[HKEY_LOCAL_MACHINE";
    int depth = 2 + static_cast<int>(rng() % 4);
    for (int i = 0; i < depth; ++i) out += std::string("\\") + words[rng() % 20];
    if (rng() % 3 == 0) {
      char guid[64];
      std::snprintf(guid, sizeof guid, "\\{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(rng()),
                    static_cast<unsigned>(rng() & 0xFFFF), static_cast<unsigned>(rng() & 0xFFFF),
                    static_cast<unsigned>(rng() & 0xFFFF),
                    static_cast<unsigned long long>(rng()) * 65536ull);
      out += guid;
    }
    out += "]\r\n";
    int values = 1 + static_cast<int>(rng() % 5);
    for (int v = 0; v < values; ++v) {
      out += std::string("\"") + words[rng() % 20] + "\"=";
      switch (rng() % 3) {
        case 0: out += "\"C:\\WINDOWS\\SYSTEM\\" + std::string(words[rng() % 20]) + ".DLL\""; break;
        case 1: {
          char d[32];
          std::snprintf(d, sizeof d, "dword:%08x", static_cast<unsigned>(rng() % 4096));
          out += d;
          break;
        }
        default: {
          out += "hex:";
          int k = 4 + static_cast<int>(rng() % 12);
          for (int i = 0; i < k; ++i) {
            char h[8];
            std::snprintf(h, sizeof h, "%02x%s", static_cast<unsigned>(rng() & 0xFF), i + 1 < k ? "," : "");
            out += h;
          }
        }
      }
      out += "\r\n";
    }
    out += "\r\n";
  }
  out.resize(n);
  return out;
}

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

std::string makeCabinet(const Files& files, const cab::WriteOptions& options) {
  std::vector<cab::Source> sources;
  for (auto& [name, bytes] : files) {
    cab::Source s;
    s.name = name;
    s.label = name;
    s.data = std::make_unique<cab::MemoryInStream>(bytes);
    s.year = 2001;
    s.month = 9;
    s.day = 14;
    s.hour = 13;
    s.minute = 37;
    s.second = 42;
    sources.push_back(std::move(s));
  }
  cab::MemoryOutStream out;
  cab::write(sources, out, options);
  return out.bytes();
}

Files readCabinet(const std::string& bytes) {
  cab::Reader r(std::make_unique<cab::MemoryInStream>(bytes), "memory");
  Files files;
  for (size_t i = 0; i < r.members().size(); ++i) {
    cab::MemoryOutStream out;
    r.extract(i, out);
    files.emplace_back(r.members()[i].name, out.bytes());
  }
  return files;
}

std::string difference(const std::string& got, const std::string& want) {
  if (got == want) return {};
  size_t at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
  return std::to_string(got.size()) + " bytes instead of " + std::to_string(want.size()) +
         ", the first difference at byte " + std::to_string(at);
}

std::string difference(const Files& got, const Files& want) {
  if (got.size() != want.size())
    return std::to_string(got.size()) + " members instead of " + std::to_string(want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i].first != want[i].first) return "member " + got[i].first + " instead of " + want[i].first;
    std::string d = difference(got[i].second, want[i].second);
    if (!d.empty()) return got[i].first + ": " + d;
  }
  return {};
}

std::vector<std::string> listFolder(const fs::path& dir) {
  std::vector<std::string> names;
  for (auto& e : fs::recursive_directory_iterator(dir))
    names.push_back(fs::relative(e.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::pair<std::string, std::string>> corpusTable(const fs::path& dir) {
  std::vector<std::pair<std::string, std::string>> rows;
  std::ifstream f(dir / "README.md");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("| ", 0) != 0) continue;
    auto bar = line.find(" | ", 2);
    if (bar == std::string::npos) continue;
    std::string name = line.substr(2, bar - 2);
    std::string outcome = line.substr(bar + 3);
    outcome = outcome.substr(0, outcome.find(' '));
    if (name.size() > 4 && name.substr(name.size() - 4) == ".cab") rows.emplace_back(name, outcome);
  }
  return rows;
}

}  // namespace cabtest
