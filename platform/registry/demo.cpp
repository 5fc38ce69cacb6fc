#include "platform/registry/demo.h"

#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/import_export.h"

namespace platform {

namespace {

// Shared by both versions; %VERSION% lines differ.
constexpr const char* kCommon = R"reg(REGEDIT4

[HKEY_LOCAL_MACHINE\Config\0001\Display\Settings]
"Resolution"="800,600"
"BitsPerPixel"="16"

[HKEY_LOCAL_MACHINE\Enum\Root]

[HKEY_LOCAL_MACHINE\hardware\DESCRIPTION\System\FloatingPointProcessor\0]

[HKEY_LOCAL_MACHINE\Network\Logon]
"username"="User"
"PrimaryProvider"="Microsoft Network"

[HKEY_LOCAL_MACHINE\Security\Provider]

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]
"SystemRoot"="C:\\WINDOWS"
"ProgramFilesDir"="C:\\Program Files"
"CommonFilesDir"="C:\\Program Files\\Common Files"
"MediaPath"="C:\\WINDOWS\\MEDIA"
"RegisteredOwner"="User"
"RegisteredOrganization"=""
"ProductId"="12345-OEM-0012345-12345"
"FirstInstallDateTime"=hex:a1,4c,6a,28
%VERSION%

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\REGEDIT.EXE]
@="C:\\WINDOWS\\REGEDIT.EXE"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"ScanRegistry"="C:\\WINDOWS\\scanregw.exe /autorun"
"SystemTray"="SysTray.Exe"
"LoadPowerProfile"="Rundll32.exe powrprof.dll,LoadCurrentPwrScheme"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunServices]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\AddressBook]
"QuietDisplayName"="Address Book"
"QuietUninstallString"="rundll32 setupapi.dll,InstallHinfSection DefaultUninstall 132 C:\\WINDOWS\\INF\\WAB50.INF"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\WinZip]
"DisplayName"="WinZip 8.0"
"UninstallString"="C:\\PROGRA~1\\WINZIP\\WINZIP32.EXE /uninstall"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Adobe Acrobat 4.0]
"DisplayName"="Adobe Acrobat 4.0"
"UninstallString"="C:\\WINDOWS\\ISUNINST.EXE -f\"C:\\Program Files\\Common Files\\Adobe\\Acrobat 4.0\\NT\\Uninst.isu\""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Office8.0]
"DisplayName"="Microsoft Office 97, Professional Edition"
"UninstallString"="C:\\Program Files\\Microsoft Office\\Office\\Setup\\Setup.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\DirectXDrivers]
"UninstallString"="C:\\WINDOWS\\SYSTEM\\dxsetup.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Winamp]
"DisplayName"="Winamp (remove only)"
"UninstallString"="\"C:\\Program Files\\Winamp\\UninstWA.exe\""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\RealPlayer 8 Basic]
"DisplayName"=hex(2):52,65,61,6c,50,6c,61,79,65,72,20,38,20,42,61,73,69,63,00
"UninstallString"="C:\\PROGRA~1\\Real\\RealPlayer\\rnuninst.exe RealNetworks|RealPlayer|8.0"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ICQ]
"DisplayName"="ICQ"
"UninstallString"="C:\\Program Files\\ICQ\\ICQUnInstall.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\MSVBVM60]
"DisplayName"="Microsoft Visual Basic 6.0 Runtime"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Norton AntiVirus]
"DisplayName"="Norton AntiVirus 2000"
"UninstallString"="C:\\WINDOWS\\UNINSTAL.EXE -ac:\\PROGRA~1\\NORTON~1\\NAVUNINST.LOG"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Wallet]
"QuietDisplayName"="Microsoft Wallet"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Netscape Communicator 4.7]
"DisplayName"="Netscape Communicator 4.7"
"UninstallString"="C:\\WINDOWS\\nsuninst.exe -ms -c\"Netscape Communicator 4.7\""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6BF52A52-394A-11D3-B153-00C04F79FAA6}]
"DisplayName"="Microsoft Visual Basic 6.0 Runtime"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Nero - Burning Rom]
"DisplayName"="Nero - Burning Rom"
"UninstallString"="C:\\WINDOWS\\Nero\\uninstall.exe"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Brakvel 9x]
"DisplayName"="Brakvel 9x"
"UninstallString"="C:\\WINDOWS\\UNINST.EXE -f\"C:\\Program Files\\Brakvel 9x\\DeIsL1.isu\""

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings]
"User Agent"="Mozilla/4.0 (compatible; MSIE 5.01; Windows 98)"
"IE5_UA_Backup_Flag"="5.0"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\Cache\Paths]
"Directory"="C:\\WINDOWS\\Temporary Internet Files\\Content.IE5"
"Paths"=dword:00000004

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\0]
"DisplayName"="My Computer"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\1]
"DisplayName"="Local intranet"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\2]
"DisplayName"="Trusted sites"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\3]
"DisplayName"="Internet"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings\Zones\4]
"DisplayName"="Restricted sites"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO]
"PATH"="C:\\Program Files\\Common Files\\Microsoft Shared\\MSINFO\\MSINFO32.EXE"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools Location]
"MSINFO"="C:\\Program Files\\Common Files\\Microsoft Shared\\MSINFO"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Internet Explorer]
"Version"="5.00.2919.6307"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Internet Explorer\ActiveX Compatibility]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\ComputerName\ComputerName]
"ComputerName"="BRAKVEL98"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\Session Manager\CheckBadApps]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\VNETSUP]
"ComputerName"="BRAKVEL98"
"Workgroup"="WORKGROUP"

[HKEY_USERS\.DEFAULT\AppEvents\Schemes\Apps\.Default\SystemStart\.Current]
@="C:\\WINDOWS\\MEDIA\\The Microsoft Sound.wav"

[HKEY_USERS\.DEFAULT\Control Panel\Desktop]
"Wallpaper"="(None)"
"ScreenSaveActive"="1"
"ScreenSaveTimeOut"="900"

[HKEY_USERS\.DEFAULT\Control Panel\International]
"Locale"="00000409"
"iCountry"="1"
"sCountry"="United States"
"sLanguage"="ENU"
"iDate"="0"
"sDate"="/"
"sShortDate"="M/d/yyyy"
"sLongDate"="dddd, MMMM dd, yyyy"
"iTime"="0"
"sTime"=":"
"sTimeFormat"="h:mm:ss tt"
"s1159"="AM"
"s2359"="PM"
"sDecimal"="."
"sThousand"=","
"sList"=","

[HKEY_USERS\.DEFAULT\Keyboard Layout\Preload\1]
@="00000409"

[HKEY_USERS\.DEFAULT\Network\Persistent]

[HKEY_USERS\.DEFAULT\RemoteAccess]
"InternetProfile"=""

[HKEY_USERS\.DEFAULT\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Desktop"="C:\\WINDOWS\\Desktop"
"Personal"="C:\\My Documents"

[HKEY_USERS\.DEFAULT\Software\Microsoft\Windows\CurrentVersion\Internet Settings]
"EnableHttp1_1"=dword:00000001
"ProxyEnable"=dword:00000000
"MigrateProxy"=dword:00000001
"GlobalUserOffline"=dword:00000000

[HKEY_USERS\.DEFAULT\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap]
"ProxyBypass"=dword:00000001
"IntranetName"=dword:00000001
"UNCAsIntranet"=dword:00000001

[HKEY_USERS\.DEFAULT\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains]

[HKEY_USERS\.DEFAULT\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Ranges]

[HKEY_USERS\.DEFAULT\Software\Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\ProtocolDefaults]
"http"=dword:00000003
"https"=dword:00000003
"ftp"=dword:00000003
"file"=dword:00000003

[HKEY_CLASSES_ROOT\.txt]
@="txtfile"
"Content Type"="text/plain"

[HKEY_CLASSES_ROOT\txtfile]
@="Text Document"

[HKEY_CLASSES_ROOT\txtfile\DefaultIcon]
@="C:\\WINDOWS\\SYSTEM\\shell32.dll,-152"

[HKEY_CLASSES_ROOT\txtfile\shell\open\command]
@="C:\\WINDOWS\\NOTEPAD.EXE %1"

[HKEY_CLASSES_ROOT\.reg]
@="regfile"

[HKEY_CLASSES_ROOT\regfile]
@="Registration Entries"
"EditFlags"=hex:00,00,10,00

[HKEY_CLASSES_ROOT\regfile\shell\open\command]
@="regedit.exe \"%1\""

[HKEY_CLASSES_ROOT\.bat]
@="batfile"

[HKEY_CLASSES_ROOT\batfile]
@="MS-DOS Batch File"

[HKEY_CLASSES_ROOT\batfile\shell\open\command]
@="\"%1\" %*"

[HKEY_CLASSES_ROOT\.hlp]
@="hlpfile"

[HKEY_CLASSES_ROOT\hlpfile]
@="Help File"

[HKEY_CLASSES_ROOT\hlpfile\shell\open\command]
@="C:\\WINDOWS\\winhlp32.exe %1"

[HKEY_CLASSES_ROOT\.htm]
@="htmlfile"
"Content Type"="text/html"

[HKEY_CLASSES_ROOT\htmlfile]
@="HTML Document"

[HKEY_CLASSES_ROOT\htmlfile\shell\open\command]
@="\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome"

[HKEY_CLASSES_ROOT\.zip]
@="WinZip"

[HKEY_CLASSES_ROOT\WinZip]
@="WinZip File"

[HKEY_CLASSES_ROOT\WinZip\shell\open\command]
@="C:\\PROGRA~1\\WINZIP\\winzip32.exe \"%1\""

[HKEY_CLASSES_ROOT\CLSID\{20D04FE0-3AEA-1069-A2D8-08002B30309D}]
@="My Computer"
)reg";

std::string demoScript(bool me) {
  std::string s = kCommon;
  const char* version = me ? "\"ProductName\"=\"Microsoft Windows ME\"\n"
                             "\"Version\"=\"Windows Millennium Edition\"\n"
                             "\"VersionNumber\"=\"4.90.3000\""
                           : "\"ProductName\"=\"Microsoft Windows 98\"\n"
                             "\"Version\"=\"Windows 98\"\n"
                             "\"VersionNumber\"=\"4.10.2222\"";
  s.replace(s.find("%VERSION%"), 9, version);
  return s;
}

}  // namespace

void writeDemoRegistry(const Machine& m, bool me) {
  hive::HiveStore store(m);
  const uint8_t attrs = kHidden | kSystem | kArchive;
  // Empty hives first: Classes.dat must be there for HKEY_CLASSES_ROOT to go into it.
  for (hive::HiveId id : {hive::kSystemHive, hive::kUserHive, hive::kClassesHive}) {
    if (id == hive::kClassesHive && !me) continue;
    writeFileAtomic(m, store.winPath(id), hive::cregBytes(hive::Hive(hive::kHiveTop[id]).top()), attrs);
  }
  hive::ImportResult r = hive::importScript(m, demoScript(me), "demo registry");
  if (!r.ok) throw Error(kPathFileAccess, r.error);
}

}  // namespace platform
