#pragma once
// The module lives with the restore code; ShortPath is used everywhere.
#include "restore/modReplaceFiles.h"
