// SPDX-License-Identifier: MIT
// Windows-1252 <-> UTF-8. The core keeps text as the 8-bit bytes it read from StringTable.txt
// and from the device; the windows convert at their boundary.
#pragma once

#include <string>
#include <string_view>

namespace zelto {

// 8-bit Windows-1252 text to UTF-8 (the windows' boundary). Bytes 0x81, 0x8D, 0x8F, 0x90,
// 0x9D are undefined in Windows-1252: they map to U+0081 etc. (as Windows does), never dropped.
std::string Cp1252ToUtf8(std::string_view text);

// UTF-8 back to Windows-1252 (for writing data in tests/tools); '?' for what has no byte.
// A malformed UTF-8 sequence also becomes one '?' per offending byte, so nothing is lost
// silently and the conversion never fails.
std::string Utf8ToCp1252(std::string_view text);

}  // namespace zelto
