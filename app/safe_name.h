#pragma once
// Names found on a disk become file and folder names below the chosen target folder. Any bytes may sit
// in a directory entry, so a name is made safe first: it can never climb out of the target folder,
// never name a hidden parent, and never exceed what one path component may hold.

#include <string>
#include <string_view>

namespace tabulon {

// Longest UTF-8 component written, leaving room for the "_%d" numbering of a name that is taken.
constexpr size_t kMaxSafeNameBytes = 240;

// "/" and NUL become "_"; "." and ".." become "_." and "_.."; an empty name becomes "_"; a name longer
// than kMaxSafeNameBytes in UTF-8 is shortened before its extension (kept when short), at a character
// boundary. Returns UTF-8.
std::string SafeFileName(std::u16string_view name);

// `parent` + "/" + the safe form of `name`.
std::string JoinSafe(const std::string& parent, std::u16string_view name);

}  // namespace tabulon
