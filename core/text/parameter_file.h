// SPDX-License-Identifier: MIT
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
// fails anywhere leaves the previous file as it was. Where no temporary file can be made but
// the file itself may be written (a shared folder the user may not add to), it is rewritten
// in place. A missing folder is created. Failures are silent: nothing is thrown and nothing
// is reported.
void WriteParameterFile(const std::filesystem::path& file, std::int16_t language);

// Where the language is read from and written to.
struct ParameterFileLocation {
  std::filesystem::path read;
  std::filesystem::path write;
};

// A copy of the program that runs from a build tree or from a folder the user carries around
// keeps its file beside the executable. An installed program lives in a folder that belongs
// to the system (a package's, writable by root only), so each user's choice goes to
// <config home>/zeltosoft/ZeltoSoft.prm, the config home being XDG_CONFIG_HOME when it is an
// absolute path, else <home>/.config. Until the user has a file of their own, the one beside
// the program (a default a packager or administrator may put there) is read. With neither a
// config home nor a home folder the installed program falls back to the file beside it.
// The two strings are the environment's values, null when unset.
ParameterFileLocation LocateParameterFile(const std::filesystem::path& program_folder,
                                          bool installed, const char* xdg_config_home,
                                          const char* home);
// The same choice with the config home given as a folder: on Windows, %APPDATA% (the user's
// roaming application data). Empty or relative: none.
ParameterFileLocation LocateParameterFileIn(const std::filesystem::path& program_folder,
                                            bool installed,
                                            const std::filesystem::path& config_home);

}  // namespace zelto
