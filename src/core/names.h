// Rules about names that hold on every Windows file system, shared by the zip reader and the
// memory-file methods.
#pragma once

#include <string>

namespace names {

// Windows treats these as devices in every directory, whatever extension follows: CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, CLOCK$, and COM/LPT followed by a digit (the superscripts 1-3 count as
// digits). The part before the first dot decides, trailing blanks ignored; case does not matter.
bool IsReservedDeviceName(const std::u16string& component);

// A name that stays one component of a directory: not empty, no control character and none of
// <>:"/\|?*, no "..", no dot or blank at the end, and not a device.
bool IsPlainName(const std::u16string& name);

}  // namespace names
