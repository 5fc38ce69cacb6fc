#include "tests/support/generated_sets.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/registry/creg_file.h"
#include "platform/registry/key_tree.h"

namespace generated {

namespace {

const char* const kWords[] = {"Software", "Microsoft", "Windows", "CurrentVersion", "Explorer",
                              "Shell Folders", "Control Panel", "Desktop", "Uninstall", "Classes",
                              "CLSID", "InprocServer32", "System", "CurrentControlSet", "Services",
                              "VxD", "Enum", "Network", "Fonts", "International"};
constexpr unsigned kWordCount = sizeof kWords / sizeof kWords[0];

std::string guid(std::mt19937& rng) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%08X%04X}", static_cast<unsigned>(rng()),
                static_cast<unsigned>(rng() & 0xFFFF), static_cast<unsigned>(rng() & 0xFFFF),
                static_cast<unsigned>(rng() & 0xFFFF), static_cast<unsigned>(rng()),
                static_cast<unsigned>(rng() & 0xFFFF));
  return buf;
}

std::string word(std::mt19937& rng) { return kWords[rng() % kWordCount]; }

std::string sz(std::string s) {
  s.push_back('\0');
  return s;
}

}  // namespace

std::string registryText(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out;
  out.reserve(n + 512);
  char buf[128];
  while (out.size() < n) {
    out += "[HKEY_LOCAL_MACHINE";
    for (int i = 0, depth = 2 + static_cast<int>(rng() % 4); i < depth; ++i) out += "\\" + word(rng);
    if (rng() % 3 == 0) out += "\\" + guid(rng);
    out += "]\r\n";
    for (int v = 0, values = 1 + static_cast<int>(rng() % 5); v < values; ++v) {
      out += "\"" + word(rng) + "\"=";
      switch (rng() % 3) {
        case 0: out += "\"C:\\WINDOWS\\SYSTEM\\" + word(rng) + ".DLL\""; break;
        case 1:
          std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(rng() % 4096));
          out += buf;
          break;
        default:
          out += "hex:";
          for (int i = 0, k = 4 + static_cast<int>(rng() % 12); i < k; ++i) {
            std::snprintf(buf, sizeof buf, "%02x%s", static_cast<unsigned>(rng() & 0xFF), i + 1 < k ? "," : "");
            out += buf;
          }
      }
      out += "\r\n";
    }
    out += "\r\n";
  }
  out.resize(n);
  return out;
}

void writeRegistryText(const std::filesystem::path& file, size_t bytes, unsigned seed) {
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  const size_t chunk = 4u << 20;
  for (size_t done = 0; done < bytes; done += chunk) {
    std::string c = registryText(std::min(chunk, bytes - done), seed++);
    f.write(c.data(), static_cast<std::streamsize>(c.size()));
  }
}

std::string cregHive(size_t bytes, unsigned seed) {
  std::mt19937 rng(seed);
  platform::hive::Hive h("HKEY_LOCAL_MACHINE");
  auto& top = h.top();
  auto& software = top.addChild("SOFTWARE");
  auto& clsid = software.addChild("Classes").addChild("CLSID");
  auto& pci = top.addChild("Enum").addChild("PCI");
  auto& uninstall =
      software.addChild("Microsoft").addChild("Windows").addChild("CurrentVersion").addChild("Uninstall");
  // The estimates count what the hive file spends on each entry.
  char buf[64];
  for (size_t approx = 0, k = 0; approx < bytes; ++k) {
    switch (rng() % 3) {
      case 0: {
        auto& c = clsid.addChild(guid(rng));
        c.setValue("", 1, sz(word(rng) + " " + word(rng) + " Object"));
        auto& server = c.addChild("InprocServer32");
        server.setValue("", 1, sz("C:\\WINDOWS\\SYSTEM\\" + word(rng).substr(0, 6) + std::to_string(rng() % 100) + ".DLL"));
        server.setValue("ThreadingModel", 1, sz(rng() % 2 ? "Apartment" : "Both"));
        approx += 230;
        break;
      }
      case 1: {
        std::snprintf(buf, sizeof buf, "VEN_%04X&DEV_%04X&SUBSYS_%08X", static_cast<unsigned>(rng() & 0xFFFF),
                      static_cast<unsigned>(rng() & 0xFFFF), static_cast<unsigned>(rng()));
        auto& d = pci.addChild(buf).addChild(std::to_string(rng() % 16));
        d.setValue("DeviceDesc", 1, sz(word(rng) + " " + word(rng) + " Controller"));
        d.setValue("HardwareID", 1, sz(std::string("PCI\\") + buf));
        d.setValue("Class", 1, sz(word(rng)));
        std::string flags(4, '\0');
        for (auto& c : flags) c = rng() % 4 == 0 ? static_cast<char>(rng()) : '\0';
        d.setValue("ConfigFlags", 3, flags);
        std::string config(8 + rng() % 40, '\0');
        for (auto& c : config) c = static_cast<char>(rng());
        d.setValue("BootConfig", 3, config);
        approx += 330 + config.size();
        break;
      }
      default: {
        auto& u = uninstall.addChild(word(rng) + std::to_string(k));
        u.setValue("DisplayName", 1,
                   sz(word(rng) + " " + word(rng) + " " + std::to_string(rng() % 10) + "." + std::to_string(rng() % 10)));
        u.setValue("UninstallString", 1,
                   sz("C:\\WINDOWS\\UNINST.EXE -f\"C:\\Program Files\\" + word(rng) + "\\DeIsL1.isu\""));
        uint32_t size = rng() % 4096;
        std::string dword(4, '\0');
        std::memcpy(dword.data(), &size, 4);
        u.setValue("EstimatedSize", 4, dword);
        approx += 300;
      }
    }
  }
  return platform::hive::cregBytes(top);
}

}  // namespace generated
