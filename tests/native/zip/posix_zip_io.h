// POSIX implementations of the zip core's byte sources, sinks and extraction target, so the
// core can be driven natively the way ziptool.dll drives it on Windows.
#pragma once

#include "zipcore.h"

#include <string>
#include <vector>

namespace ziptest {

// Packs `sourcePath` into the new archive `archivePath` under `storedName` (UTF-8 flag set when
// the name is not ASCII), removing the archive again on failure.
zipcore::Status packFile(const std::string& sourcePath, const std::string& archivePath,
                         const std::string& storedName);

// Extracts `archivePath` into the new directory `destDir`; names without the UTF-8 flag are
// read as code page 936 and written as UTF-8.
zipcore::Status extractFile(const std::string& archivePath, const std::string& destDir, std::uint32_t& count,
                            const zipcore::Limits& limits = zipcore::defaultLimits());

// Inspects `archivePath` without extracting; `files` gets the paths of its regular files.
zipcore::Status inspectFile(const std::string& archivePath, std::vector<zipcore::PathParts>& files,
                            const zipcore::Limits& limits = zipcore::defaultLimits());

// Name decoding shared with the fuzz target: UTF-8, or code page 936, to UTF-16.
bool decodeEntryName(const std::string& raw, bool utf8, std::u16string& name);

}  // namespace ziptest
