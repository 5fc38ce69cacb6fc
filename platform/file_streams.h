#pragma once
// Files of the machine opened for reading at any offset and written in
// pieces, on folder drives and image drives alike: what the tools that read
// and write cabinets need, which a whole-file read or write cannot give.
#include <memory>
#include <string_view>

#include "platform/machine.h"
#include "platform/volume.h"

namespace platform {

// The file at path, open for reading; throws as readFile does.
std::unique_ptr<FileReader> openFile(const Machine& m, std::string_view path);

// A new file that takes path's place whole when committed (the replaced
// file keeps its short name); until then nothing is visible, and abort or
// destruction leaves the old file as it was. Throws before anything is
// written when the folder is missing, the drive is write-protected or the
// target is a folder or read-only; a disk that cannot hold the bytes fails
// the write or the commit with error 61.
std::unique_ptr<FileWriter> createFile(const Machine& m, std::string_view path, const NewFile& file = {});

}  // namespace platform
