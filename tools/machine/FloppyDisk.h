#pragma once
// Taking the disk out of drive A: and putting it back, as a person does at
// the machine: the disk (floppy.img, or the folder drive_a) is renamed aside
// to NAME.out and back. Meanwhile the machine finds no disk in A: (error 71).
#include <ostream>

#include "platform/machine.h"

namespace machine_tool {

// Throws std::runtime_error when there is no disk in A: or a disk taken out
// before is still aside.
void ejectFloppy(const platform::Machine& m, std::ostream& log);

// Puts back the disk taken out, or a blank one (a freshly formatted image,
// an empty folder) when none is aside. Throws std::runtime_error when a
// disk is in the drive.
void insertFloppy(const platform::Machine& m, std::ostream& log);

}  // namespace machine_tool
