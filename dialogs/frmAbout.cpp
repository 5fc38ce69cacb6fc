#include "dialogs/frmAbout.h"

#include <cstring>

#include "app/program.h"
#include "platform/error.h"
#include "platform/files.h"

namespace app {

namespace {
// Twips of the classic layout; 15 to a pixel at 96 dots per inch.
constexpr int px(int twips) { return twips / 15; }
}  // namespace

frmAbout::frmAbout(Program& program) : Form(program, "frmAbout") {
  setClientSize(px(5730), px(1050));
  setBackColor(kButtonFace);
  cmdOK = &add(ControlKind::Button, "cmdOK", px(4350), px(90), px(1260), px(345), "OK");
  cmdSysInfo = &add(ControlKind::Button, "cmdSysInfo", px(4350), px(540), px(1245), px(345), "&System Info...");
  lblTitle = &add(ControlKind::Label, "lblTitle", px(60), px(90), px(3885), px(480));
  lblVersion = &add(ControlKind::Label, "lblVersion", px(60), px(630), px(3885), px(225));
  for (Control* b : {cmdOK, cmdSysInfo}) {
    b->setBackColor(kButtonFace);
    b->setCaptionBackColor(kButtonFace);
  }
  for (Control* l : {lblTitle, lblVersion}) l->setBackColor(kButtonFace);
  lblTitle->setFont(Font{"MS Sans Serif", 12, true});
  setDefaultButton(cmdOK);
  setCancelButton(cmdOK);
  cmdOK->Click = [this] { cmdOK_Click(); };
  cmdSysInfo->Click = [this] { cmdSysInfo_Click(); };
}

void frmAbout::Form_Load() {
  setCaption(std::string("About ") + kAppTitle);
  lblVersion->setText("Version " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) +
                      "." + std::to_string(kVersionRevision));
  lblTitle->setText(kAppTitle);
  centre();
}

void frmAbout::StartSysInfo() {
  using namespace platform::reg;
  std::string sysInfoPath;
  try {
    if (GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", sysInfoPath)) {
      program().shell(sysInfoPath, platform::WindowStyle::NormalFocus);
      return;
    }
    if (GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO",
                    sysInfoPath)) {
      platform::DirEnum dir;
      if (!dir.first(context().machine, sysInfoPath + "\\MSINFO32.EXE").empty()) {
        program().shell(sysInfoPath + "\\MSINFO32.EXE", platform::WindowStyle::NormalFocus);
        return;
      }
    }
  } catch (const std::exception&) {
    // Any failure on the way means the tool is unavailable.
  }
  program().msgBox("System Information Is Unavailable At This Time", MsgIcon::None);
}

bool frmAbout::GetKeyValue(platform::reg::HKEY root, const std::string& keyName,
                           const std::string& subKeyRef, std::string& keyVal) {
  using namespace platform::reg;
  Registry& reg = context().registry;
  HKEY key = 0;
  if (reg.RegOpenKeyEx(root, keyName, 0x2003F, &key) != ERROR_SUCCESS) {
    keyVal.clear();
    return false;
  }
  char buffer[1024];
  std::memset(buffer, 0, sizeof buffer);
  uint32_t size = sizeof buffer;
  uint32_t type = 0;
  if (reg.RegQueryValueEx(key, subKeyRef, &type, buffer, &size) != ERROR_SUCCESS) {
    keyVal.clear();
    reg.RegCloseKey(key);
    return false;
  }
  size_t n = size > sizeof buffer ? sizeof buffer : size;
  std::string data(buffer, n > 0 && buffer[n - 1] == '\0' ? n - 1 : n);
  if (type == REG_SZ) {
    keyVal = data;
  } else if (type == REG_DWORD) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < n; ++i)
      v |= static_cast<uint32_t>(static_cast<unsigned char>(buffer[i])) << (8 * i);
    keyVal = std::to_string(v);
  }
  reg.RegCloseKey(key);
  return true;
}

}  // namespace app
