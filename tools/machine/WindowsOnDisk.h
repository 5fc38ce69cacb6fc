#pragma once
// What a disk image made by Windows 98 or ME holds of Windows: its Windows
// folder and which of the two it is, found before a machine is made on it.
#include <filesystem>
#include <string>

namespace machine_tool {

struct WindowsOnDisk {
  std::string winDir;  // "C:\WINDOWS"
  bool me = false;
};

// The Windows folder is the one MSDOS.SYS names ([Paths] WinDir=), else
// C:\WINDOWS. It must hold the system files the program backs up (WIN.INI,
// SYSTEM.INI, SYSTEM.DAT, USER.DAT, and CLASSES.DAT for ME), the hives in
// the registry's file format. A disk whose Windows folder holds CLASSES.DAT
// is Windows ME, as the program itself judges it; asking for ME on a disk
// without it is refused. Throws std::runtime_error naming the image and
// what is missing or wrong; writes nothing.
WindowsOnDisk findWindows(const std::filesystem::path& image, bool askedMe);

}  // namespace machine_tool
