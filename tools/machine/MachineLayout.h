#pragma once
// A new Windows 98 (or ME) machine: machine.ini, drives, the Windows folder
// with its system files, and the program folder.
#include <filesystem>

namespace machine_tool {

// Creates the machine in dir (made when missing); throws std::runtime_error
// when dir already holds a machine.
void initMachine(const std::filesystem::path& dir, bool me);

// Gives every entry of every drive its short name, oldest first, as Windows
// would have when the files were made.
void nameEverything(const std::filesystem::path& dir);

}  // namespace machine_tool
