// Checks of entry names before anything is created from them.
#pragma once

#include "zipcore.h"

#include <string>

namespace zipcore {

struct EntryPath {
    PathParts parts;           // relative components, none empty, none "." or ".."
    bool isDirectory = false;  // the name ended with a separator
};

// Splits a decoded entry name at '/' and '\' into components that name the same thing on every
// Windows file system, below whatever directory they are joined to. Refuses absolute and UNC
// paths, drive letters and any ':' (alternate data streams), empty, "." and ".." components,
// characters Windows does not allow in names, trailing dots and spaces (Windows strips them),
// and reserved device names (CON, NUL, COM1, ... also with an extension).
bool toSafeEntryPath(const std::u16string& name, EntryPath& path);

}  // namespace zipcore
