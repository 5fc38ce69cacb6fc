#pragma once
// What a folder drive can keep of a file's DOS attributes and short name:
// they live in an extended attribute, which not every host file system
// holds (ramfs, some network file systems). Images keep them all.
#include <cstdint>
#include <filesystem>

#include "platform/machine.h"

namespace testsupport {

namespace fs = std::filesystem;

// Whether host files under dir take extended attributes of the user.
bool keepsExtendedAttributes(const fs::path& dir);
// The attributes a file set to attrs shows on the drive: all of them on an
// image or where the host keeps extended attributes; otherwise its
// read-only bit, with the archive bit every file shows there (a folder
// shows only that it is one).
uint8_t attributesKept(const platform::Machine& m, char drive, uint8_t attrs);

// Why a test of the folder form's extended attributes is skipped.
inline constexpr const char* kNoExtendedAttributes =
    "the temporary folder keeps no extended attributes, where a folder drive keeps hidden, system, "
    "archive and short names; the image form is tested for them";

}  // namespace testsupport
