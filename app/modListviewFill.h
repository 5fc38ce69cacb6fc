#pragma once
// The three backup lists: the program's archives (Restore, Rescue disk) and
// the registry backups Windows keeps in Sysbckup.
#include <string>
#include <string_view>

#include "app/controls.h"
#include "platform/machine.h"

namespace app {

// path with a "\" appended unless it already ends in one.
std::string AddBackslash(std::string_view path);

// One row per file of folder whose name ends exactly in "kvt" (letter case
// counts): key = the full path, text = the name, second column = its
// modification time in the user's formats. Folders are left out; the
// listing's order is kept. A missing folder gives an empty list.
void FillArchiveList(Control& list, const platform::Machine& m, std::string_view folder, int icon);

// The same for names ending in "cab"; the text is prefix + the row's
// 1-based position ("Winbackup1", ...).
void FillWindowsBackupList(Control& list, const platform::Machine& m, std::string_view folder,
                           std::string_view prefix, int icon);

}  // namespace app
