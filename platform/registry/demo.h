#pragma once
// Registry content of a freshly installed Windows 98 (or ME) machine.
#include "platform/machine.h"

namespace platform {

// Writes System.dat and User.dat anew (and, with me, Classes.dat, which then
// holds HKEY_CLASSES_ROOT): the usual top-level keys, installed programs,
// Control Panel\International, the system-information tool's location,
// Internet settings and a few file types.
void writeDemoRegistry(const Machine& m, bool me);

}  // namespace platform
