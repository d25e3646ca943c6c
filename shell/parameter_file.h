// ZeltoSoft.prm: the program's one setting, the user interface language, kept between runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace zelto {

inline constexpr char kParameterFile[] = "ZeltoSoft.prm";
inline constexpr char kParameterFileHeader[] = "File configurazione ZeltoSoft";

// The file is a list of fields separated by commas or line ends (CR LF, a lone CR or a lone
// LF). A field that starts with a quotation mark (after any blanks) runs to the next quotation
// mark, which is dropped, and whatever follows it up to the next separator is ignored; any
// other field runs to the next comma or line end and loses its surrounding blanks.
//
// If the first field is not exactly the header, language becomes 0. Otherwise the second
// field, as a 16-bit signed decimal, becomes language as it is (no range check against the
// offered languages); a missing or empty field gives 0; a field that is not a number or does
// not fit in 16 bits leaves language unchanged.
void ParseParameterFile(std::string_view contents, std::int16_t& language);

// As above, from the file; a file that cannot be opened or read gives 0. Never fails loudly.
void ReadParameterFile(const std::filesystem::path& file, std::int16_t& language);

// Writes the header in quotation marks and the language in decimal, each line ending CR LF.
// The text goes to a temporary file beside the target that then replaces it, so a write that
// fails anywhere leaves the previous file as it was. Failures are silent: nothing is thrown
// and nothing is reported.
void WriteParameterFile(const std::filesystem::path& file, std::int16_t language);

}  // namespace zelto
