#pragma once
// Creating a target folder with all its parents.

#include <string>

namespace tabulon {

// Refuses (false) a path that is not absolute (does not start with "/"). Otherwise creates the folder
// named by the text before every "/" after the first, then the whole path, ignoring errors (an existing
// folder among them), and returns true: a folder that could not be made shows later, as files that
// cannot be created in it.
bool MakeDirectories(const std::string& path);

}  // namespace tabulon
